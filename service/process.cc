#include "service/process.h"

#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/db.h"
#include "notify/notify.h"
#include "service/eventadd.h"
#include "utils/utils.h"

namespace {

struct RequestParams {
  char eventid[64] = {};
  char notifyflag[8] = {};
  char sqlid[16] = {};
};

// The request is not to be notified: its pending row goes, so it is not
// replayed for ever.
ProcessOutcome discard(const RequestParams &params, EventListRow **definition) {
  eventlogcache_delete(params.sqlid);
  utils_free(definition);
  return ProcessOutcome::kDropped;
}

// A look-up that failed inside the database says nothing about the event:
// the caller keeps the request and tries it again. The first time, the log
// says why and whether the pending row was found; a row is named only when
// it could be read.
ProcessOutcome keep_for_retry(int result, const RequestParams &params, bool retried,
                              EventListRow **definition) {
  utils_free(definition);
  if (retried) return ProcessOutcome::kUnreadable;
  std::string cause = db_last_error();
  if (cause.empty()) cause = "result " + std::to_string(result);
  EventLogCacheRow *row = nullptr;
  bool found =
      params.sqlid[0] != '\0' && eventlogcache_get(params.sqlid, &row) == 0 && row != nullptr;
  utils_free(&row);
  if (found) {
    syslog(LOG_ERR,
           "eventlist cannot be read: %s; event %s is tried again, its pending row %s kept",
           cause.c_str(), params.eventid, params.sqlid);
  } else {
    syslog(LOG_ERR,
           "eventlist cannot be read: %s; event %s is tried again from memory, no pending row "
           "found",
           cause.c_str(), params.eventid);
  }
  return ProcessOutcome::kUnreadable;
}

// Each channel's word and switch: "email yes,sms no, snmp no". The line as
// the appliance has always printed it: no blank after the first comma.
std::string switch_line(const EventListRow &definition) {
  std::string line;
  for (int slot = 0; slot < catalogue_count(); ++slot) {
    line += slot == 0 ? "" : slot == 1 ? "," : ", ";
    line += catalogue_entry(slot).word + std::string(" ") + definition.switches[slot];
  }
  return line;
}

// Fills data from the definition, whose templates are substituted in place.
void fill_record(const char *request, const RequestParams &params, const char *now, int needflag,
                 EventListRow *definition, NotifyData *data) {
  data->notifyflag = pending_flags(params.notifyflag);
  utils_format_cut(data->sqlid, sizeof data->sqlid, "%s", params.sqlid);

  EventLogCacheRow *pending = nullptr;
  eventlogcache_get(params.sqlid, &pending);
  if (definition->context_en[0] != '\0') {
    utils_fill_template(definition->context_en, request);
    const char *stamp = pending != nullptr ? pending->happentime : now;
    utils_format_cut(data->context, sizeof data->context, "[%s]\r\n%s", stamp,
                     definition->context_en);
  }
  if (definition->subject[0] != '\0') {
    utils_fill_template(definition->subject, request);
    utils_format_cut(data->subject, sizeof data->subject, "%s", definition->subject);
  }
  utils_format_cut(data->eventid, sizeof data->eventid, "%s", params.eventid);
  utils_format_cut(data->prompt, sizeof data->prompt, "%s", definition->prompt);
  data->needflag = needflag;
  utils_free(&pending);
}

}  // namespace

int event_process(const EventMessage *message) {
  return event_process_request(message, false) == ProcessOutcome::kDispatched ? 0 : -1;
}

ProcessOutcome event_process_request(const EventMessage *message, bool retried) {
  NotifyData data{};
  char now[64] = {};
  utils_time_now_format(kEventTimeFormat, now, sizeof now);

  if (message == nullptr || message->text == nullptr ||
      std::strstr(message->text, "&eventid=") == nullptr) {
    syslog(LOG_DEBUG, "the parameters do not include the '&eventid=' header\n");
    return ProcessOutcome::kDropped;
  }
  const char *request = message->text;
  RequestParams params;
  utils_get_param_value(request, "&eventid=", params.eventid, sizeof params.eventid);
  utils_get_param_value(request, "&notifyflag=", params.notifyflag, sizeof params.notifyflag);
  utils_get_param_value(request, "&sqlid=", params.sqlid, sizeof params.sqlid);

  EventListRow *definition = nullptr;
  if (params.eventid[0] == '\0') {
    syslog(LOG_DEBUG, "'eventid' is not in the list of parameters!\n");
    return discard(params, &definition);
  }
  int found = eventlist_get(&definition, params.eventid);
  if (definition == nullptr) {
    if (found != -2 || db_last_error()[0] != '\0') {
      return keep_for_retry(found, params, retried, &definition);
    }
    syslog(LOG_DEBUG, "eventid %s is not in the database !\n", params.eventid);
    return discard(params, &definition);
  }

  const std::string switches = switch_line(*definition);
  std::printf("%s\n", switches.c_str());
  syslog(LOG_DEBUG, "%s", switches.c_str());
  int needflag = catalogue_enabled(definition->switches);
  std::printf("the needflag is %d\n", needflag);
  if (pending_state(true, needflag, 0, notify_enabled_mask) == PendingState::kNoChannel) {
    return discard(params, &definition);
  }

  fill_record(request, params, now, needflag, definition, &data);
  notify_method_dispatch(&data);
  utils_free(&definition);
  return ProcessOutcome::kDispatched;
}
