#include "relay/parent_watch.h"

#include <system_error>
#include <thread>

#include "relay/console.h"
#include "relay/parent_process.h"

namespace quenlark {

std::atomic<bool> parentExited{false};

void WatchParent(std::uint64_t parentHandle) {
    WaitForParentExit(parentHandle);
    WriteLine("Parent process exited, shutting down...");
    parentExited.store(true, std::memory_order_relaxed);
}

bool StartParentWatch(std::uint64_t parentHandle) {
    try {
        std::thread(WatchParent, parentHandle).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace quenlark
