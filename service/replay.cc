#include "service/replay.h"

#include <syslog.h>

#include <cstdio>
#include <cstring>

#include "db/db.h"
#include "service/event_queue.h"
#include "utils/utils.h"

void replay_pending_events(void) {
  EventLogCacheRow *rows = nullptr;
  int count = 0;
  eventlogcache_get_all(&rows, &count);
  if (rows == nullptr || count <= 0) {
    std::puts("no last event");
    utils_free(&rows);
    return;
  }
  for (int i = 0; i < count; ++i) {
    const EventLogCacheRow &row = rows[i];
    char request[512] = {};
    utils_format_cut(request, sizeof request, "&eventid=%s&sqlid=%s&notifyflag=%s&%s", row.eventid,
                     row.id, row.notifyflag, row.context);
    EventMessage *message = event_message_new(request, static_cast<int>(std::strlen(request)));
    syslog(LOG_INFO, "%s", request);
    event_queue_append(message);
  }
  utils_free(&rows);
}
