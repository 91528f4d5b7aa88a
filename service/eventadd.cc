#include "service/eventadd.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "db/db.h"
#include "service/udp.h"
#include "utils/utils.h"

namespace {

// The database's cause of the failed table operation just run, or its
// result when there is none.
void note_failure(char (&cause)[256], int result) {
  if (db_last_error()[0] != '\0') {
    utils_format_cut(cause, sizeof cause, "%s", db_last_error());
  } else {
    utils_format_cut(cause, sizeof cause, "result %d", result);
  }
}

inline constexpr char kRequestFormat[] = "&eventid=%d&sqlid=%s&%s%s%s";
inline constexpr char kCloudPrefix[] = "Korvane Alarm ";
// A cloud client that stopped reading must not hang the caller for ever.
inline constexpr int kFifoFullGiveUpSeconds = 10;
// A write of at most PIPE_BUF bytes reaches a pipe whole or not at all, even
// beside other writers; a longer one may be split by a full pipe and
// interleaved with another program's record. Records are kept within it.
inline constexpr size_t kCloudRecordMax = PIPE_BUF;

// The socket and request buffer every submission starts with. Logs and
// leaves ok() false when the text is null, no socket opens or no memory.
class Submission {
 public:
  Submission(const char *text, size_t extra) : socket_(udp_open(0)) {
    if (text == nullptr || socket_.get() <= 0) {
      syslog(LOG_ERR, "params is null or open udp fail.\n");
      return;
    }
    size_ = static_cast<int>(std::strlen(text) + extra);
    request_.reset(static_cast<char *>(utils_malloc(size_)));
    if (request_ == nullptr) syslog(LOG_ERR, "malloc allcontext fail.\n");
  }
  bool ok() const { return request_ != nullptr; }
  char *request() const { return request_.get(); }

  void format(int id, const char *sqlid, const char *text) {
    utils_format_cut(request_.get(), size_, kRequestFormat, id, sqlid, text, "", "");
  }

  int send() const {
    return udp_send_request(socket_.get(), request_.get(), std::strlen(request_.get()),
                            kServiceAddress, service_port());
  }

 private:
  UniqueFd socket_;
  UniqueBlock request_;
  int size_ = 0;
};

// The pending row of a submission; its new id (empty when nothing was
// inserted) becomes the request's sqlid.
void insert_pending(int id, const char *text, const char *happentime, char *sqlid, int sqlid_width,
                    EventaddOutcome *outcome) {
  EventLogCacheRow row{};
  utils_format_cut(row.context, sizeof row.context, "%s", text);
  utils_format_cut(row.eventid, sizeof row.eventid, "%d", id);
  utils_format_cut(row.happentime, sizeof row.happentime, "%s", happentime);
  int result = eventlogcache_add(&row, sqlid, sqlid_width);
  outcome->row_due = true;
  outcome->row_written = sqlid[0] != '\0';
  if (!outcome->row_written) note_failure(outcome->row_error, result);
}

// Loads the definition of event id (null when there is none) and notes why
// not.
EventListRow *load_definition(int id, EventaddOutcome *outcome) {
  char eventid[16];
  utils_format_cut(eventid, sizeof eventid, "%d", id);
  EventListRow *definition = nullptr;
  int result = eventlist_get(&definition, eventid);
  outcome->definition_found = definition != nullptr;
  // No row at all is the one failure without a database cause.
  if (definition == nullptr && (result != -2 || db_last_error()[0] != '\0')) {
    note_failure(outcome->definition_error, result);
  }
  return definition;
}

void note_send(int result, EventaddOutcome *outcome) {
  outcome->send_errno = errno;
  outcome->send_due = true;
  outcome->sent = result;
}

void append_event_log(const EventListRow &definition, const char *text, const char *now) {
  std::puts("@@@@@ ready to write eventlog @@@@@");
  EventLogRow line{};
  utils_format_cut(line.datetime, sizeof line.datetime, "%s", now);
  utils_format_cut(line.type, sizeof line.type, "%s", definition.type);
  utils_format_cut(line.eventid, sizeof line.eventid, "%s", definition.eventid);
  utils_format_cut(line.loginfo, sizeof line.loginfo, "%s", text);
  eventlog_add(&line);
}

// A reader that goes away between our open and write raises SIGPIPE, which
// would kill the daemon (and any program linking us). Hold it back on this
// thread for the write and swallow the one it caused.
class SigpipeHeldBack {
 public:
  SigpipeHeldBack() {
    sigemptyset(&pipe_set_);
    sigaddset(&pipe_set_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_set_, &old_mask_);
  }
  ~SigpipeHeldBack() {
    if (broke_ && !was_pending_) {
      timespec none{};
      while (sigtimedwait(&pipe_set_, nullptr, &none) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
  }
  SigpipeHeldBack(const SigpipeHeldBack &) = delete;
  SigpipeHeldBack &operator=(const SigpipeHeldBack &) = delete;
  void note_broken() { broke_ = true; }

 private:
  sigset_t pipe_set_;
  sigset_t old_mask_;
  bool was_pending_ = false;
  bool broke_ = false;
};

// Writes the record whole, waiting for room until the give-up time; 0, or
// the errno of the failure (EAGAIN: still no room).
int write_record(int fifo, const char *record, size_t length) {
  SigpipeHeldBack held;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const time_t give_up = now.tv_sec + kFifoFullGiveUpSeconds;
  for (;;) {
    ssize_t written = write(fifo, record, length);
    if (written == static_cast<ssize_t>(length)) return 0;
    // A shorter write cannot happen at this size; were it to, the record is
    // broken all the same.
    if (written >= 0) return EIO;
    if (errno == EPIPE) held.note_broken();
    if (errno != EAGAIN && errno != EINTR) return errno;
    // A full pipe: sleep until the reader has made room, not on the CPU.
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > give_up) return EAGAIN;
    pollfd room{fifo, POLLOUT, 0};
    poll(&room, 1, static_cast<int>(give_up - now.tv_sec + 1) * 1000);
  }
}

}  // namespace

int cloud_notify(const char *request) {
  std::string path = utils_path(paths::kCloudFifo);
  if (!utils_file_exists(path.c_str())) {
    std::fputs("no cloudclient running\n", stderr);
    return 0;
  }
  int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd <= 0) {
    int error = errno;
    if (fd == 0) close(fd);
    if (error == ENXIO) {
      std::fprintf(stderr, "open %s error: no reading process\n", path.c_str());
      return 0;
    }
    std::fprintf(stderr, "open %s : %s\n", path.c_str(), std::strerror(error));
    return -1;
  }
  UniqueFd fifo(fd);
  if (utils_str_is_empty(request)) return 0;

  const size_t request_length = std::strlen(request);
  const size_t kept =
      utils_utf8_cut(request, request_length, kCloudRecordMax - sizeof kCloudPrefix);
  if (kept < request_length) {
    std::fprintf(stderr, "cloud record cut to %zu of %zu request bytes\n", kept, request_length);
  }
  size_t length = kept + sizeof kCloudPrefix;
  UniqueBlock record(static_cast<char *>(utils_malloc(static_cast<int>(length))));
  if (record == nullptr) return -1;
  // The buffer has no room for the newline: the NUL takes its place and is
  // part of the record.
  utils_format_cut(record.get(), length, "%s%.*s\n", kCloudPrefix, static_cast<int>(kept), request);
  if (int error = write_record(fifo.get(), record.get(), length)) {
    std::fprintf(stderr, "cloud record of %zu bytes not written: %s\n", length,
                 error == EAGAIN ? "the cloud client has not read for 10 s" : std::strerror(error));
  }
  return 0;
}

int service_running(void) { return utils_process_listed("alertmill") == 1 ? 1 : 0; }

namespace {

// The enable switch file alone: -1 when it cannot be read, else 1 when it
// holds the alarm line, 0 when not.
int alarm_line() {
  UniqueFile file(std::fopen(utils_path(paths::kEventsAlarmConf).c_str(), "re"));
  if (file == nullptr) return -1;
  char line[256];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    if (std::strcmp(line, "alarm\n") == 0) return 1;
  }
  return 0;
}

// The enable value from the switch file's answer. A running check that
// could not be made is no answer: the value of a daemon that runs without
// the alarm line (record and send) loses the event either way.
int enable_value(int alarm, char (&probe_failure)[256]) {
  if (alarm < 0) return 0;
  std::string failure;
  int running = utils_process_listed("alertmill", &failure);
  if (running >= 0) return alarm + running;
  utils_format_cut(probe_failure, sizeof probe_failure, "%s", failure.c_str());
  return 1;
}

}  // namespace

int events_alarm_enabled(void) {
  char probe_failure[256] = {};
  return enable_value(alarm_line(), probe_failure);
}

int wait_service_running(int *state) {
  for (int budget = 300; budget > 0; budget -= 5) {
    if (service_running()) {
      if (state != nullptr) *state = 2;
      return 2;
    }
    sleep(5);
  }
  return state != nullptr ? *state : 0;
}

int eventadd(int id, const char *text) { return eventadd_report(id, text, nullptr); }

int eventadd_report(int id, const char *text, EventaddOutcome *outcome) {
  EventaddOutcome unasked;
  if (outcome == nullptr) outcome = &unasked;
  *outcome = EventaddOutcome{};
  std::printf("= eventadd %d %s =\n", id, text != nullptr ? text : "(null)");
  char now[64] = {};
  utils_time_now_format(kEventTimeFormat, now, sizeof now);
  int alarm = alarm_line();
  int enabled = enable_value(alarm, outcome->probe_failure);
  outcome->enable = enabled;
  outcome->switch_read = alarm >= 0;
  std::printf("alertmill enable %d\n", enabled);
  if (enabled == 0) {
    syslog(LOG_DEBUG, "eventadd %d %s, but alertmill is disable, ignore..", id,
           text != nullptr ? text : "(null)");
  }

  Submission submission(text, 50);
  if (!submission.ok()) {
    note_send(-1, outcome);
    return -1;
  }
  char sqlid[16] = {};
  if (enabled == 1) insert_pending(id, text, now, sqlid, sizeof sqlid, outcome);
  submission.format(id, sqlid, text);

  EventListRow *definition = load_definition(id, outcome);
  if (enabled >= 1 && definition != nullptr && utils_str_is_true(definition->enablerecord)) {
    append_event_log(*definition, text, now);
  }
  utils_free(&definition);

  int result = 0;
  if (enabled != 0) {
    result = submission.send();
    note_send(result, outcome);
  }
  if (id == 4013 || id == 4014) {
    char *cut = std::strstr(submission.request(), "&text=");
    if (cut != nullptr) *cut = '\0';
  }
  cloud_notify(submission.request());
  return result;
}

int eventadd_time(int id, const char *text, const char *happentime) {
  return eventadd_time_report(id, text, happentime, nullptr);
}

int eventadd_time_report(int id, const char *text, const char *happentime,
                         EventaddOutcome *outcome) {
  EventaddOutcome unasked;
  EventaddOutcome *noted = outcome != nullptr ? outcome : &unasked;
  *noted = EventaddOutcome{};
  noted->enable = -1;
  Submission submission(text, 49);
  if (!submission.ok()) {
    note_send(-1, noted);
    return -1;
  }
  char sqlid[16] = {};
  insert_pending(id, text, happentime != nullptr ? happentime : "", sqlid, sizeof sqlid, noted);
  submission.format(id, sqlid, text);
  int result = submission.send();
  note_send(result, noted);
  // The routine itself has no use for the definition.
  if (outcome != nullptr) {
    EventListRow *definition = load_definition(id, noted);
    utils_free(&definition);
  }
  return result;
}
