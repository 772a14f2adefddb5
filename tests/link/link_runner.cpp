#include "tests/link/link_runner.h"

#include <algorithm>

#include "driver/link/trigger_link_loop.h"

namespace quenlark::test {
namespace {

std::mutex logMutex;
std::condition_variable logChanged;
std::vector<std::string> logLines;

constexpr auto kBound = std::chrono::seconds(10);

}  // namespace

void CapturedLog::write(const char* line) {
    {
        std::lock_guard lock(logMutex);
        logLines.emplace_back(line);
    }
    logChanged.notify_all();
}

std::vector<std::string> CapturedLog::lines() {
    std::lock_guard lock(logMutex);
    return logLines;
}

void CapturedLog::clear() {
    std::lock_guard lock(logMutex);
    logLines.clear();
}

bool CapturedLog::waitFor(const std::string& line, std::chrono::milliseconds timeout) {
    std::unique_lock lock(logMutex);
    return logChanged.wait_for(lock, timeout, [&] {
        return std::find(logLines.begin(), logLines.end(), line) != logLines.end();
    });
}

LinkClock::TimePoint SteppedClock::now() {
    std::lock_guard lock(mutex_);
    return now_;
}

bool SteppedClock::sleepUntil(TimePoint wake) {
    std::unique_lock lock(mutex_);
    sleeping_ = true;
    ++sleeps_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_ > 0 || abandoned_; });
    sleeping_ = false;
    if (abandoned_) {
        return false;
    }
    --released_;
    now_ = std::max(now_, wake);
    return true;
}

bool SteppedClock::abandoned() {
    std::lock_guard lock(mutex_);
    return abandoned_;
}

void SteppedClock::tick() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kBound, [&] { return sleeping_ || finished_; });
    if (finished_ || !sleeping_) {
        return;
    }
    const long before = sleeps_;
    ++released_;
    changed_.notify_all();
    changed_.wait_for(lock, kBound, [&] { return (sleeping_ && sleeps_ > before) || finished_; });
}

void SteppedClock::waitUntilSleeping() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kBound, [&] { return sleeping_ || finished_; });
}

void SteppedClock::abandon() {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    changed_.notify_all();
}

void SteppedClock::markFinished() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

bool SteppedClock::finished() {
    std::lock_guard lock(mutex_);
    return finished_;
}

LinkRunner::LinkRunner(FakeCentral& central, LogCallback log, bool startRunning)
    : running(startRunning) {
    thread_ = std::thread([this, &central, log] {
        runTriggerLink(log, LinkEnvironment{central, clock, running});
        clock.markFinished();
    });
}

LinkRunner::~LinkRunner() {
    running.store(false);
    clock.abandon();
    thread_.join();
}

void LinkRunner::tick(int count) {
    for (int i = 0; i < count; ++i) {
        clock.tick();
    }
}

bool LinkRunner::waitFinished(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!clock.finished()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace quenlark::test
