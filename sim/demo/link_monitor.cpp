#include "sim/demo/link_monitor.h"

#include <string_view>

namespace quenlark::demo {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

LinkMonitor::LinkMonitor(std::size_t keptLines) : keptLines_(keptLines) {}

void LinkMonitor::AddLine(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++linesSeen_;
    if (keptLines_ > 0) {
        if (lines_.size() == keptLines_) {
            lines_.pop_front();
        }
        lines_.push_back(line);
    }

    const std::string_view text = line;
    if (text == "Quenlark Running") {
        state_ = "link started";
        ready_ = false;
    } else if (text == "Starting the advertisement watcher.") {
        state_ = "scanning for the pistol";
        ready_ = false;
    } else if (text == "Target device found.") {
        state_ = "pistol found";
    } else if (StartsWith(text, "Connecting to device: ")) {
        state_ = "connecting";
    } else if (StartsWith(text, "Connected to device: ")) {
        deviceName_ = line.substr(std::string_view("Connected to device: ").size());
        state_ = "connected to " + deviceName_ + ", subscribing";
    } else if (text == "Device successfully connected.") {
        state_ = deviceName_.empty() ? "connected" : "connected to " + deviceName_;
        ready_ = true;
    } else if (StartsWith(text, "Received data: ")) {
        ++notifications_;
    } else if (StartsWith(text, "Failed to connect to device: ") ||
               text == "Failed to get GATT services." ||
               text == "Target characteristic not found." ||
               text == "Target device address is invalid.") {
        state_ = "connection failed, scanning again";
        ready_ = false;
    } else if (StartsWith(text, "Disconnected from device: ")) {
        state_ = "disconnected";
        ready_ = false;
    } else if (text == "Device connection lost.") {
        state_ = "connection lost, scanning again";
        ready_ = false;
    } else if (text == "Watcher stopped.") {
        state_ = "scanner stopped";
    } else if (text == "Bluetooth is unavailable.") {
        state_ = "Bluetooth unavailable";
        ready_ = false;
    } else if (text == "Failed to start the Bluetooth link thread.") {
        state_ = "link thread not started";
        ready_ = false;
    }
}

LinkMonitor::Snapshot LinkMonitor::Take() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    Snapshot snapshot;
    snapshot.linkState = state_;
    snapshot.linkReady = ready_;
    snapshot.lastLines.assign(lines_.begin(), lines_.end());
    snapshot.linesSeen = linesSeen_;
    snapshot.notificationsSeen = notifications_;
    return snapshot;
}

}  // namespace quenlark::demo
