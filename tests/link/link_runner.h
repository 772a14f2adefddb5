#pragma once
// Runs the link's tick loop on a thread of its own against a fake central, with a clock
// that lets the test release one tick at a time, and captures the log.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/link/link_clock.h"
#include "driver/link/log_callback.h"
#include "tests/link/fake_central.h"

namespace quenlark::test {

// Every line written through CapturedLog::write, in order. A LogCallback has no state of
// its own, so the capture is process-wide.
struct CapturedLog {
    static void write(const char* line);
    static std::vector<std::string> lines();
    static void clear();
    // Waits until `line` has been written; false after the time-out.
    static bool waitFor(const std::string& line,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
};

// A clock whose sleeps end only when the test releases a tick.
class SteppedClock final : public LinkClock {
  public:
    TimePoint now() override;
    bool sleepUntil(TimePoint wake) override;
    bool abandoned() override;

    // Lets exactly one tick run: waits until the link sleeps, releases it, and waits until
    // the tick's action is done (the link sleeps again or has ended).
    void tick();
    // Waits until the link sleeps (or has ended).
    void waitUntilSleeping();
    void abandon();
    void markFinished();
    bool finished();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    TimePoint now_{};
    bool sleeping_ = false;
    long sleeps_ = 0;
    int released_ = 0;
    bool abandoned_ = false;
    bool finished_ = false;
};

class LinkRunner {
  public:
    // With `running` false the thread starts as after a deactivation.
    explicit LinkRunner(FakeCentral& central, LogCallback log = &CapturedLog::write,
                        bool running = true);
    ~LinkRunner();
    LinkRunner(const LinkRunner&) = delete;
    LinkRunner& operator=(const LinkRunner&) = delete;

    void tick(int count = 1);
    // Waits, bounded, until the link thread has returned; true when it has.
    bool waitFinished(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::atomic<bool> running{true};
    SteppedClock clock;

  private:
    std::thread thread_;
};

}  // namespace quenlark::test
