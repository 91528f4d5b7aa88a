// The support library: everything the other subsystems use from utils.
#ifndef ALERTMILL_UTILS_UTILS_H_
#define ALERTMILL_UTILS_UTILS_H_

#include "utils/alloc.h"
#include "utils/command.h"
#include "utils/log.h"
#include "utils/misc.h"
#include "utils/paths.h"
#include "utils/queue.h"
#include "utils/strings.h"
#include "utils/template.h"
#include "utils/thread.h"
#include "utils/time.h"

#endif  // ALERTMILL_UTILS_UTILS_H_
