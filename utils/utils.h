// The support library: everything the other subsystems use from utils.
// tzif.h and tzrule.h serve time.cc alone and stay out.
#ifndef ALERTMILL_UTILS_UTILS_H_
#define ALERTMILL_UTILS_UTILS_H_

#include "utils/alloc.h"
#include "utils/base64.h"
#include "utils/calendar.h"
#include "utils/command.h"
#include "utils/files.h"
#include "utils/handles.h"
#include "utils/log.h"
#include "utils/misc.h"
#include "utils/paths.h"
#include "utils/queue.h"
#include "utils/random.h"
#include "utils/retry.h"
#include "utils/strings.h"
#include "utils/template.h"
#include "utils/textscan.h"
#include "utils/thread.h"
#include "utils/time.h"

#endif  // ALERTMILL_UTILS_UTILS_H_
