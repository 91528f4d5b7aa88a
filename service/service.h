// The event service: everything the daemon is made of.
#ifndef ALERTMILL_SERVICE_SERVICE_H_
#define ALERTMILL_SERVICE_SERVICE_H_

#include "service/event_queue.h"
#include "service/eventadd.h"
#include "service/main_loop.h"
#include "service/process.h"
#include "service/receiver.h"
#include "service/replay.h"
#include "service/udp.h"

#endif  // ALERTMILL_SERVICE_SERVICE_H_
