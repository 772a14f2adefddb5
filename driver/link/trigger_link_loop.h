#pragma once
// The link thread's body, with its platform, clock and running flag passed in, so that
// tests can run it against a fake central and a fake clock.

#include <atomic>

#include "driver/link/ble_central.h"
#include "driver/link/link_clock.h"
#include "driver/link/log_callback.h"

namespace quenlark {

struct LinkEnvironment {
    ble::BleCentral& central;
    LinkClock& clock;
    // Tested at the top of every tick; the thread ends when it is found false.
    const std::atomic<bool>& running;
};

// Stores `log` in linkLog, writes "Quenlark Running", opens the central, sets up the
// watcher and its handlers, then ticks every 500 ms until `running` is false. Platform
// errors on this thread never leave it: the tick logs one line per outage, resets the
// link and scans again on a later tick.
void runTriggerLink(LogCallback log, const LinkEnvironment& environment);

}  // namespace quenlark
