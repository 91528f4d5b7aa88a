// The sending side of the event protocol: how a program of the appliance
// raises an event. Link the `eventsend` library and include this header.
//
// Whether the event service is wanted comes from the enable switch file
// (/etc/quagga/events_alarm.conf holding the line "alarm") and from whether
// the service runs; see events_alarm_enabled.
#ifndef ALERTMILL_SERVICE_EVENTADD_H_
#define ALERTMILL_SERVICE_EVENTADD_H_

// Raises event id with text (further request parameters, "a=1&b=2", or ""):
// records the pending row (enable value 1 only) and the event-log line (when
// the definition asks for one), sends the request datagram to the service
// (enable value not 0) and writes the record to the cloud FIFO (always).
// The bytes sent, 0 when the service is not wanted, -1 for a null text, no
// socket or no memory, or when the send failed.
int eventadd(int id, const char *text);

// As eventadd with the caller's time stamp ("YYYY-MM-DD HH:MM:SS"), always
// recording the pending row and sending, never logging or writing the FIFO.
int eventadd_time(int id, const char *text, const char *happentime);

// What one submission did, for a caller that reports it to a person (the
// eventadd command): the routines above say little in their results.
struct EventaddOutcome {
  // The enable value, -1 when not consulted (the timed variant), and
  // whether the enable switch file could be read.
  int enable;
  bool switch_read;
  // The running check that could not be made, and why ("" when it answered):
  // the enable value is then 1.
  char probe_failure[256];
  // The definition look-up: found, or why it failed inside the database
  // ("" with found false: no such event).
  bool definition_found;
  char definition_error[256];
  // The pending row: whether one was due and written, and SQLite's message
  // when the database refused it.
  bool row_due;
  bool row_written;
  char row_error[256];
  // The datagram: whether it was due, the send's result and its errno.
  bool send_due;
  int sent;
  int send_errno;
};

// eventadd and eventadd_time with the same results, filling *outcome too
// (the timed variant then looks the definition up as well, after sending).
int eventadd_report(int id, const char *text, EventaddOutcome *outcome);
int eventadd_time_report(int id, const char *text, const char *happentime,
                         EventaddOutcome *outcome);

// Writes "Korvane Alarm " + request + one NUL byte to the cloud client's FIFO,
// without blocking on an open, in one write of at most PIPE_BUF bytes, so
// the record arrives whole or not at all: a longer request is cut (between
// whole characters) to fit; a record still not written after 10 s of a full
// pipe, or refused, is not written at all. Either is reported on stderr.
// 0 (also when there is no FIFO or no reader); -1 when the FIFO cannot be
// opened otherwise, or no memory.
int cloud_notify(const char *request);

// 0 when the switch file cannot be read; otherwise 1 for an "alarm" line plus
// 1 when the service runs: 0, 1 or 2. 1 when whether it runs cannot be told
// (the process probe failed): the event is then recorded and sent.
int events_alarm_enabled(void);

// 1 when a process whose line in the process list names alertmill runs.
int service_running(void);

// Polls service_running every 5 s for at most 300 s. When it runs, stores 2
// in *state and returns 2; otherwise returns *state unchanged.
int wait_service_running(int *state);

#endif  // ALERTMILL_SERVICE_EVENTADD_H_
