#include "db/pending_report.h"

#include "db/accessor.h"
#include "db/switch_columns.h"

namespace {

constexpr DbLayout kPendingOwn{
    "select c.id,c.eventid,c.context,c.notifyflag,c.happentime,d.id,d.eventname,d.subject from "
    "eventlogcache c",
    {db_text<&PendingReportRow::id>("c.id"), db_text<&PendingReportRow::eventid>("c.eventid"),
     db_text<&PendingReportRow::context>("c.context"),
     db_text<&PendingReportRow::notifyflag>("c.notifyflag"),
     db_text<&PendingReportRow::happentime>("c.happentime"),
     db_text<&PendingReportRow::definition_id>("d.id"),
     db_text<&PendingReportRow::eventname>("d.eventname"),
     db_text<&PendingReportRow::subject>("d.subject")}};

// The definition is picked the way eventlist_get picks it, the first row its
// event id returns, so duplicates in eventlist cannot repeat a pending row.
DbBuiltLayout<PendingReportRow> pending_report_layout() {
  DbBuiltLayout<PendingReportRow> layout;
  layout.add(kPendingOwn, 0, 8);
  db_add_switches(&layout, 0, kChannelSlots, "d.");
  layout.from(
      "eventlogcache c left join eventlist d on d.id=(select id from eventlist where "
      "eventid=c.eventid limit 1) order by c.id;");
  return layout;
}

}  // namespace

int eventlogcache_get_report(PendingReportRow **rows, int *count) {
  if (rows != nullptr) *rows = nullptr;
  if (rows == nullptr || count == nullptr) return -1;
  *count = 0;
  DbSession session(nullptr, DbAccess::kReadOnly);
  const auto layout = pending_report_layout();
  return db_read_records(&session, "select count(*) from eventlogcache;", 0, layout, rows, count,
                         kDbNumberedReadResults);
}
