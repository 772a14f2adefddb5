#include "sim/host/call_recorder.h"

#include <algorithm>

namespace quenlark::sim {

void CallRecorder::Increment(HostCall::Kind kind) {
    counts_[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
}

uint64_t CallRecorder::Count(HostCall::Kind kind) const {
    return counts_[static_cast<std::size_t>(kind)].load(std::memory_order_relaxed);
}

void CallRecorder::Append(HostCall&& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

void CallRecorder::RecordOther(const char* method) {
    Record(HostCall::Kind::Other, [&](HostCall& call) { call.text = method; });
}

void CallRecorder::RecordLog(const char* line) {
    const std::string text = line != nullptr ? line : "";
    Increment(HostCall::Kind::Log);
    {
        std::lock_guard lock(mutex_);
        if (recording_.load(std::memory_order_relaxed)) {
            HostCall call;
            call.kind = HostCall::Kind::Log;
            call.text = text;
            calls_.push_back(std::move(call));
        }
        logLines_.push_back(text);
        logged_.notify_all();
    }

    std::lock_guard lock(observerMutex_);
    if (observer_) {
        observer_(text);
    }
}

void CallRecorder::RecordPose(uint32_t device, const vr::DriverPose_t& pose, uint32_t poseSize) {
    Increment(HostCall::Kind::PoseUpdated);
    const bool recording = recording_.load(std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    lastPose_ = pose;
    if (recording) {
        HostCall call;
        call.kind = HostCall::Kind::PoseUpdated;
        call.device = device;
        call.pose = pose;
        call.poseSize = poseSize;
        calls_.push_back(std::move(call));
    }
}

std::vector<HostCall> CallRecorder::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<HostCall> CallRecorder::Calls(HostCall::Kind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<HostCall> selected;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(selected),
                 [kind](const HostCall& call) { return call.kind == kind; });
    return selected;
}

std::vector<std::string> CallRecorder::LogLines() const {
    std::lock_guard lock(mutex_);
    return logLines_;
}

std::optional<vr::DriverPose_t> CallRecorder::LastPose() const {
    std::lock_guard lock(mutex_);
    return lastPose_;
}

void CallRecorder::Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    logLines_.clear();
    lastPose_.reset();
    for (auto& count : counts_) {
        count.store(0, std::memory_order_relaxed);
    }
}

bool CallRecorder::WaitForLogLine(const std::string& line, std::size_t count,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return logged_.wait_for(lock, timeout, [&] {
        return static_cast<std::size_t>(std::count(logLines_.begin(), logLines_.end(), line)) >=
               count;
    });
}

void CallRecorder::SetLogObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = std::move(observer);
}

}  // namespace quenlark::sim
