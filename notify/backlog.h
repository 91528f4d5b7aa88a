// What a channel holds of events it has not finished with: the rows whose
// record it holds (the in-flight guard) and the records waiting for their
// next try; and the give-up of what is not to be tried any more.
#ifndef ALERTMILL_NOTIFY_BACKLOG_H_
#define ALERTMILL_NOTIFY_BACKLOG_H_

#include <mutex>
#include <set>
#include <string>

#include "utils/utils.h"

struct NotifyNode;

class ChannelBacklog {
 public:
  // Notes that the channel holds the record of row sqlid from its submit
  // until the worker has finished with it (delivered, skipped or given up).
  // False, noting nothing, when it holds that row already; a record without
  // row is always taken.
  bool claim(const char *sqlid);
  void release(const char *sqlid);

  // A record that failed, waiting for its next try; had_row when its pending
  // row existed at a try, so a row that has gone since was given up or
  // finished elsewhere. Worker only.
  struct Waiting {
    NotifyNode *node;  // owned
    bool had_row;
  };
  RetrySchedule<Waiting> retries;

 private:
  // A leaf lock, held for one look-up or change of rows_.
  std::mutex mutex_;
  std::set<std::string> rows_;
};

// Gives up an event on channels (notify flags) after attempts failed tries:
// LOG_ERR and standard output name the row (sqlid, "none" when empty), the
// event, the channels and the attempts, and an eventlog entry of type
// "system" tells the operator. The caller marks the row itself (a channel
// worker under the registry mutex, as for any delivery).
void notify_give_up(const char *sqlid, const char *eventid, int channels, int attempts);

// While eventlogcache holds more than the bound of rows, gives up the oldest
// (lowest ids) on the channels they lack and deletes them. The caller holds
// the registry mutex.
void notify_bound_pending_rows(void);

#endif  // ALERTMILL_NOTIFY_BACKLOG_H_
