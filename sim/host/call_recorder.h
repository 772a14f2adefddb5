#pragma once
// The host's record of the driver's calls: the ordered call list, a count per kind, the log
// lines and the last reported pose.
//
// Concurrent: every member function may run on any thread (the driver's link thread logs
// while the runtime's thread drives frames). The call list, the log lines and the last pose
// are guarded by one mutex; the counts and the recording switch are atomics.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/host/driver_host.h"

namespace quenlark::sim {

class CallRecorder {
  public:
    CallRecorder() = default;
    // Takes the locks once, so that what a driver thread that has ended did under them is
    // ordered before the destruction (also for ThreadSanitizer).
    ~CallRecorder() {
        std::lock_guard observerLock(observerMutex_);
        std::lock_guard lock(mutex_);
    }
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    // Counts a call of this kind and, while recording is on, builds it with fill(HostCall&)
    // and appends it. With recording off nothing is built, so nothing is allocated.
    template <class Fill>
    void Record(HostCall::Kind kind, Fill&& fill) {
        Increment(kind);
        if (!recording_.load(std::memory_order_relaxed)) {
            return;
        }
        HostCall call;
        call.kind = kind;
        fill(call);
        Append(std::move(call));
    }

    // A method of no special interest: Kind::Other with the method's name.
    void RecordOther(const char* method);

    // A driver log line: recorded as a call while recording is on, kept among the log
    // lines always, then handed to the observer on the calling thread.
    void RecordLog(const char* line);

    // A pose report: kept as the last pose always, recorded as a call while recording.
    void RecordPose(uint32_t device, const vr::DriverPose_t& pose, uint32_t poseSize);

    void SetRecording(bool on) { recording_.store(on, std::memory_order_relaxed); }
    uint64_t Count(HostCall::Kind kind) const;

    std::vector<HostCall> Calls() const;
    std::vector<HostCall> Calls(HostCall::Kind kind) const;
    std::vector<std::string> LogLines() const;
    std::optional<vr::DriverPose_t> LastPose() const;
    void Clear();

    bool WaitForLogLine(const std::string& line, std::size_t count,
                        std::chrono::milliseconds timeout) const;
    void SetLogObserver(std::function<void(const std::string&)> observer);

  private:
    void Increment(HostCall::Kind kind);
    void Append(HostCall&& call);

    std::atomic<bool> recording_{true};
    std::array<std::atomic<uint64_t>, HostCall::kKindCount> counts_{};

    mutable std::mutex mutex_;                // guards calls_, logLines_ and lastPose_
    mutable std::condition_variable logged_;  // signalled under mutex_ for each log line
    std::vector<HostCall> calls_;
    std::vector<std::string> logLines_;
    std::optional<vr::DriverPose_t> lastPose_;

    std::mutex observerMutex_;  // guards observer_ and serialises its calls
    std::function<void(const std::string&)> observer_;
};

}  // namespace quenlark::sim
