#pragma once
// Follows the driver's log for the terminal view: keeps the last lines and reads the
// Bluetooth link's state off the link's own lines.
//
// Concurrent: AddLine runs on whichever thread the driver logs from (the link thread, the
// host's frame thread); Snapshot on the view's thread. One mutex guards all state.

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quenlark::demo {

class LinkMonitor {
  public:
    explicit LinkMonitor(std::size_t keptLines = 6);

    void AddLine(const std::string& line);

    struct Snapshot {
        std::string linkState;  // plain words, e.g. "connected to Pistol"
        // Connected and subscribed: from "Device successfully connected." until the link
        // reports a failure, a disconnection or a lost connection. The pistol's presses
        // reach the driver only then.
        bool linkReady = false;
        std::vector<std::string> lastLines;  // oldest first
        std::size_t linesSeen = 0;
        std::size_t notificationsSeen = 0;  // "Received data: ..." lines
    };
    Snapshot Take() const;

  private:
    mutable std::mutex mutex_;  // guards everything below
    std::size_t keptLines_;
    std::deque<std::string> lines_;
    std::string state_ = "not started";
    std::string deviceName_;
    bool ready_ = false;
    std::size_t linesSeen_ = 0;
    std::size_t notifications_ = 0;
};

}  // namespace quenlark::demo
