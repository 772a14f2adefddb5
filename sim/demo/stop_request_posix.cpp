#include <signal.h>

#include <atomic>

#include "sim/demo/stop_request.h"

namespace quenlark::demo {
namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnStopSignal(int) {
    stopRequested.store(true, std::memory_order_relaxed);
}

}  // namespace

void InstallStopRequestHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    // Output to a closed pipe fails as a write error instead of ending the session before
    // it has stopped its children.
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopRequested.load(std::memory_order_relaxed);
}

void RequestStop() {
    stopRequested.store(true, std::memory_order_relaxed);
}

}  // namespace quenlark::demo
