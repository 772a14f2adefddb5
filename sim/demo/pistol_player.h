#pragma once
// Plays the pistol's part in the session: once the link is ready it follows the pistol's
// script on a thread of its own and sends every action as the pistol's notification. An
// action falls due while the link is not ready (it was lost) is not sent; only what the
// pistol really sent is counted, since only that can turn into a press.
//
// Concurrent: Start and Stop on the session's thread; the callbacks run on the player's
// thread; Sent from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "sim/demo/pistol_script.h"

namespace quenlark::demo {

// The notification the pistol sends for an action: trigger, magazine eject, magazine load.
std::vector<std::uint8_t> NotificationPayload(PistolAction action);

class PistolPlayer {
  public:
    using Clock = std::chrono::steady_clock;
    // Sends the action's notification; true when the pistol sent it.
    using Send = std::function<bool(PistolAction)>;
    // Whether the link is connected and subscribed.
    using Ready = std::function<bool()>;

    // The script starts when the link is first ready; with an end (seconds after
    // sessionStart) it schedules nothing in the last moments before it.
    PistolPlayer(Send send, Ready ready, double shotInterval, std::optional<double> end,
                 Clock::time_point sessionStart);
    ~PistolPlayer();
    PistolPlayer(const PistolPlayer&) = delete;
    PistolPlayer& operator=(const PistolPlayer&) = delete;

    void Start();
    // Ends the thread: no action is sent after Stop returns.
    void Stop();

    struct Counts {
        int shots = 0;
        int ejects = 0;
        int loads = 0;
        int notSent = 0;                    // due while the link was not ready, or refused
        std::optional<double> scriptStart;  // session seconds when the link was first ready
        std::optional<double> lastSent;     // session seconds of the last action sent
    };
    Counts Sent() const;

    // How often the player looks at the link and the script.
    static constexpr auto kTick = std::chrono::milliseconds(5);

  private:
    void Run();
    double SessionSeconds(Clock::time_point at) const;
    // Sleeps until `until` or Stop; false on Stop.
    bool SleepUntil(Clock::time_point until);

    Send send_;
    Ready ready_;
    double shotInterval_;
    std::optional<double> end_;
    Clock::time_point sessionStart_;

    mutable std::mutex mutex_;  // guards counts_ and stop_
    std::condition_variable wake_;
    Counts counts_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace quenlark::demo
