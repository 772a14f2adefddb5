// The link threads' registry on Linux: a thread is known by its kernel id, and it has ended
// once its entry in /proc/self/task is gone, which happens only after its last instruction.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/link/link_threads.h"
#include "driver/link/trigger_link.h"

namespace quenlark {
namespace {

// How long an unload waits for link threads to end. Their sleeps and the central's waits
// end at once, so this is only a bound.
constexpr auto kUnloadWait = std::chrono::seconds(10);

bool threadAlive(long threadId) {
    struct stat info {};
    return stat(("/proc/self/task/" + std::to_string(threadId)).c_str(), &info) == 0;
}

bool threadsVisible() {
    struct stat info {};
    return stat("/proc/self/task", &info) == 0;
}

class LinkThreadRegistry {
  public:
    LinkThreadRegistry() = default;

    // Runs when the library is unloaded (or the process exits).
    ~LinkThreadRegistry() {
        const auto deadline = std::chrono::steady_clock::now() + kUnloadWait;
        std::vector<long> threads;
        {
            std::unique_lock lock(mutex_);
            unloading_ = true;
            linkRunning.store(false, std::memory_order_relaxed);
            for (ble::BleCentral* central : centrals_) {
                central->abandon();
            }
            wake_.notify_all();
            // First until every thread has left its scope ...
            left_.wait_until(lock, deadline, [this] { return inside_ == 0; });
            threads = threads_;
        }
        // ... then until each has ended, past its last instruction of library code.
        if (!threadsVisible()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return;
        }
        for (const long thread : threads) {
            while (threadAlive(thread) && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    bool enter(long threadId) {
        std::lock_guard lock(mutex_);
        if (unloading_) {
            return false;
        }
        threads_.erase(std::remove_if(threads_.begin(), threads_.end(),
                                      [](long id) { return !threadAlive(id); }),
                       threads_.end());
        threads_.push_back(threadId);
        ++inside_;
        return true;
    }

    void leave() {
        std::lock_guard lock(mutex_);
        --inside_;
        left_.notify_all();
    }

    void addCentral(ble::BleCentral* central) {
        std::lock_guard lock(mutex_);
        centrals_.push_back(central);
        if (unloading_) {
            central->abandon();
        }
    }

    void removeCentral(ble::BleCentral* central) {
        std::lock_guard lock(mutex_);
        centrals_.erase(std::remove(centrals_.begin(), centrals_.end(), central), centrals_.end());
    }

    bool sleepUntil(LinkClock::TimePoint wake) {
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, wake, [this] { return unloading_; });
        return !unloading_;
    }

    bool unloading() {
        std::lock_guard lock(mutex_);
        return unloading_;
    }

  private:
    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::condition_variable left_;
    bool unloading_ = false;
    int inside_ = 0;             // threads inside a LinkThreadScope
    std::vector<long> threads_;  // kernel ids of the link threads that may still run
    std::vector<ble::BleCentral*> centrals_;
};

LinkThreadRegistry registry;

}  // namespace

LinkThreadScope::LinkThreadScope() : threadId_(static_cast<long>(gettid())) {
    entered_ = registry.enter(threadId_);
}

LinkThreadScope::~LinkThreadScope() {
    if (entered_) {
        registry.leave();
    }
}

AbandonOnUnload::AbandonOnUnload(ble::BleCentral& central) : central_(central) {
    registry.addCentral(&central_);
}

AbandonOnUnload::~AbandonOnUnload() {
    registry.removeCentral(&central_);
}

LinkClock::TimePoint SteadyLinkClock::now() {
    return std::chrono::steady_clock::now();
}

bool SteadyLinkClock::sleepUntil(TimePoint wake) {
    return registry.sleepUntil(wake);
}

bool SteadyLinkClock::abandoned() {
    return registry.unloading();
}

}  // namespace quenlark
