#include "notify/backlog.h"

#include <syslog.h>

#include <cstdio>
#include <string>

#include "db/db.h"
#include "notify/registry.h"
#include "utils/utils.h"

namespace {

// "sms snmp": the words of the channels of flags.
std::string channel_words(int flags) {
  std::string words;
  for (int flag = 1; flag <= flags && flag > 0; flag <<= 1) {
    if ((flags & flag) == 0) continue;
    if (!words.empty()) words += ' ';
    words += catalogue_word(flag);
  }
  return words;
}

}  // namespace

bool ChannelBacklog::claim(const char *sqlid) {
  if (sqlid == nullptr || sqlid[0] == '\0') return true;
  std::lock_guard<std::mutex> hold(mutex_);
  return rows_.insert(sqlid).second;
}

void ChannelBacklog::release(const char *sqlid) {
  if (sqlid == nullptr || sqlid[0] == '\0') return;
  std::lock_guard<std::mutex> hold(mutex_);
  rows_.erase(sqlid);
}

void notify_give_up(const char *sqlid, const char *eventid, int channels, int attempts) {
  const char *row = sqlid[0] != '\0' ? sqlid : "none";
  std::string words = channel_words(channels);
  // On record before it is said: whoever reads the line finds the entry.
  EventLogRow entry{};
  utils_time_now_format(kEventTimeFormat, entry.datetime, sizeof entry.datetime);
  utils_format_cut(entry.type, sizeof entry.type, "system");
  utils_format_cut(entry.eventid, sizeof entry.eventid, "%s", eventid);
  utils_format_cut(entry.loginfo, sizeof entry.loginfo,
                   "event %s not delivered by %s: given up after %d attempts (pending row %s)",
                   eventid, words.c_str(), attempts, row);
  eventlog_add(&entry);
  syslog(LOG_ERR, "delivery given up: row %s, event %s, channels not done: %s, attempts %d", row,
         eventid, words.c_str(), attempts);
  std::printf("delivery given up: row %s, event %s, channels not done: %s, attempts %d\n", row,
              eventid, words.c_str(), attempts);
}

void notify_bound_pending_rows(void) {
  int count = 0;
  if (eventlogcache_count(&count) != 0 || count <= kRetryLimits.bound) return;
  EventLogCacheRow *rows = nullptr;
  int found = 0;
  eventlogcache_get_oldest(&rows, &found, count - kRetryLimits.bound);
  for (int i = 0; i < found; ++i) {
    notify_give_up(rows[i].id, rows[i].eventid,
                   notify_enabled_mask & ~pending_flags(rows[i].notifyflag), 0);
    eventlogcache_delete(rows[i].id);
  }
  utils_free(&rows);
}
