#include "driver/link/link_threads.h"

#include <pthread.h>
#include <semaphore.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <vector>

#include "driver/link/trigger_link.h"

namespace quenlark {
namespace {

// How long an unload waits for link threads to leave. Their sleeps and the central's
// waits end at once, so this is only a bound.
constexpr int kUnloadWaitSeconds = 10;

class LinkThreadRegistry {
  public:
    LinkThreadRegistry() {
        sem_init(&exited_, 0, 0);
        // The key's destructor is sem_post itself: it runs in the C library after the
        // thread has returned from every function of this library.
        using KeyDestructor = void (*)(void*);
        keyReady_ = pthread_key_create(&key_, reinterpret_cast<KeyDestructor>(
                                                  reinterpret_cast<void (*)()>(&sem_post))) == 0;
    }

    // Runs when the library is unloaded (or the process exits).
    ~LinkThreadRegistry() {
        int entered = 0;
        {
            std::lock_guard lock(mutex_);
            unloading_ = true;
            linkRunning.store(false, std::memory_order_relaxed);
            for (ble::BleCentral* central : centrals_) {
                central->abandon();
            }
            entered = entered_;
        }
        wake_.notify_all();

        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += kUnloadWaitSeconds;
        int left = entered;
        while (left > 0) {
            if (sem_timedwait(&exited_, &deadline) == 0) {
                --left;
            } else if (errno != EINTR) {
                break;
            }
        }
        if (left == 0 && keyReady_) {
            pthread_key_delete(key_);
        }
        // The semaphore is not destroyed: a thread that outlived the wait may still post.
    }

    bool enter() {
        std::lock_guard lock(mutex_);
        if (unloading_ || !keyReady_ || pthread_setspecific(key_, &exited_) != 0) {
            return false;
        }
        ++entered_;
        return true;
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
    std::mutex mutex_;  // guards unloading_, entered_ and centrals_
    std::condition_variable wake_;
    bool unloading_ = false;
    int entered_ = 0;
    std::vector<ble::BleCentral*> centrals_;
    sem_t exited_{};
    pthread_key_t key_{};
    bool keyReady_ = false;
};

LinkThreadRegistry registry;

}  // namespace

LinkThreadScope::LinkThreadScope() : entered_(registry.enter()) {}

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
