#include "db/pending_report.h"

#include "db/accessor.h"

namespace {

constexpr DbField<PendingReportRow> kPendingReportFields[] = {
    db_text<&PendingReportRow::id>(0),          db_text<&PendingReportRow::eventid>(1),
    db_text<&PendingReportRow::context>(2),     db_text<&PendingReportRow::notifyflag>(3),
    db_text<&PendingReportRow::happentime>(4),  db_text<&PendingReportRow::definition_id>(5),
    db_text<&PendingReportRow::eventname>(6),   db_text<&PendingReportRow::subject>(7),
    db_text<&PendingReportRow::emailnotify>(8), db_text<&PendingReportRow::smsnotify>(9),
    db_text<&PendingReportRow::snmpnotify>(10),
};

// The definition is picked the way eventlist_get picks it, the first row its
// event id returns, so duplicates in eventlist cannot repeat a pending row.
constexpr DbRead kPendingReport{
    "select count(*) from eventlogcache;",
    "select c.id,c.eventid,c.context,c.notifyflag,c.happentime,d.id,d.eventname,d.subject,"
    "d.emailnotify,d.smsnotify,d.snmpnotify from eventlogcache c left join eventlist d on "
    "d.id=(select id from eventlist where eventid=c.eventid limit 1) order by c.id;",
    0, kDbNumberedReadResults};

}  // namespace

int eventlogcache_get_report(PendingReportRow **rows, int *count) {
  if (rows != nullptr) *rows = nullptr;
  if (rows == nullptr || count == nullptr) return -1;
  *count = 0;
  DbSession session(nullptr, DbAccess::kReadOnly);
  return db_read_records(&session, kPendingReport, kPendingReportFields, rows, count);
}
