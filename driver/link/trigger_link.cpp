// The link thread's entry: the platform's central, the steady clock and linkRunning.
#include "driver/link/trigger_link.h"

#include <memory>

#include "driver/link/ble_central.h"
#include "driver/link/link_threads.h"
#include "driver/link/trigger_link_loop.h"

namespace quenlark {

constinit std::atomic<bool> linkRunning{true};

void triggerLinkMain(LogCallback log) {
    // Nothing may leave a thread function: an escaping exception would end the host.
    try {
        const LinkThreadScope scope;
        if (!scope.entered()) {
            return;
        }
        const std::unique_ptr<ble::BleCentral> central = ble::CreatePlatformCentral();
        {
            const AbandonOnUnload abandonOnUnload(*central);
            SteadyLinkClock clock;
            runTriggerLink(log, LinkEnvironment{*central, clock, linkRunning});
        }
        // The central's destructor ends its event thread before this thread leaves.
    } catch (...) {
    }
}

}  // namespace quenlark
