// The listing form of eventadd: the pending events, one line each.
#ifndef ALERTMILL_SERVICE_BIN_EVENTADD_OPTIONS_H_
#define ALERTMILL_SERVICE_BIN_EVENTADD_OPTIONS_H_

#include <string>

// When argv is "eventadd --pending [--wide]", lists the pending events,
// stores the exit status in *status and returns true; otherwise false,
// having done nothing.
bool eventadd_pending_form(int argc, char **argv, int *status);

// What --help says about the listing's lines.
std::string eventadd_pending_fields(void);

#endif  // ALERTMILL_SERVICE_BIN_EVENTADD_OPTIONS_H_
