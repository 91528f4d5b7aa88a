// The forms of eventadd that raise no event:
//   eventadd --help              every form of the command, one example each
//   eventadd --pending [--wide]  the pending events, one line each
#ifndef ALERTMILL_SERVICE_BIN_EVENTADD_OPTIONS_H_
#define ALERTMILL_SERVICE_BIN_EVENTADD_OPTIONS_H_

// When argv is one of the forms above, runs it, stores the exit status in
// *status and returns true. Otherwise returns false, having done nothing, and
// the caller goes on with the forms that raise events.
bool eventadd_option(int argc, char **argv, int *status);

#endif  // ALERTMILL_SERVICE_BIN_EVENTADD_OPTIONS_H_
