// Start-up steps of the daemon and its main loop.
#ifndef ALERTMILL_SERVICE_MAIN_LOOP_H_
#define ALERTMILL_SERVICE_MAIN_LOOP_H_

// Returns once the appliance's system service answers the readiness probe
// with a line naming ssh or http. Polls every 3 s without limit; waits 10 s
// more when an answer came that did not name them at first.
void wait_system_ready(void);

// Raises the service's own start event from the start markers: 4020 after a
// marked reboot (the /etc marker is removed), 4019 at the first start since
// an unmarked boot (the /tmp marker is created), nothing on a restart.
void raise_start_event(void);

// Sleeps until a request is queued or one kept for a retry is due, takes
// it and processes it; a request is taken no sooner than 100 ms after the
// previous one was done, new ones and due retries taking turns. A request
// whose definition could not be read is kept and tried again on the retry
// schedule (utils/retry.h), and given up on record at its limits. Never
// returns.
[[noreturn]] void event_main_loop(void);

#endif  // ALERTMILL_SERVICE_MAIN_LOOP_H_
