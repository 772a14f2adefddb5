// Threads of this process from /proc/self/task. A thread's entry vanishes only once the
// thread has fully exited, after the last instruction of its user code.
#include "sim/host/process_threads.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <thread>

namespace quenlark::sim {

ThreadIds LiveThreads() {
    // ThreadSanitizer starts a helper thread of its own at the first thread creation of
    // the process; one thread started and joined here first makes it part of the snapshot
    // rather than a thread of the driver that never ends.
    static const bool helperStarted = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)helperStarted;
    ThreadIds ids;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) {
        return ids;
    }
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0') {
            ids.insert(id);
        }
    }
    closedir(dir);
    return ids;
}

ThreadIds ThreadBaseline() {
    try {
        std::thread([] {}).join();
    } catch (const std::exception&) {
        // No thread could be started; the snapshot is taken all the same.
    }
    return LiveThreads();
}

bool WaitForNewThreadsToEnd(const ThreadIds& before, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const ThreadIds now = LiveThreads();
        const bool onlyOld = std::includes(before.begin(), before.end(), now.begin(), now.end());
        if (onlyOld) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace quenlark::sim
