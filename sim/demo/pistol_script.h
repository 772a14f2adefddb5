#pragma once
// When the simulated pistol acts: a trigger pull every shot interval, and now and then a
// magazine ejected and, a moment later, a new one loaded. Times are seconds from the
// script's start (the session starts it once the link is connected).

#include <vector>

namespace quenlark::demo {

// The frame rate the session runs at, and the frames a driver press lasts (21) plus the
// frame that must pass before the next press of the same input can start.
inline constexpr double kSessionFrameRate = 90.0;
inline constexpr int kFramesBetweenPresses = 22;
// The shortest shot interval whose shots the driver can tell apart.
inline constexpr double kMinimumShotInterval = kFramesBetweenPresses / kSessionFrameRate;

enum class PistolAction { Fire, EjectMag, LoadMag };

struct ScheduledAction {
    double time;
    PistolAction action;
};

class PistolScript {
  public:
    // Magazines: ejected at 4.5 s and every 9 s after, loaded 1.5 s after each eject.
    static constexpr double kFirstEject = 4.5;
    static constexpr double kMagazineCycle = 9.0;
    static constexpr double kLoadAfterEject = 1.5;
    // Nothing is scheduled this close to the end, so that every press can be seen before
    // the session stops.
    static constexpr double kQuietTail = 0.5;

    explicit PistolScript(double shotInterval, double endTime = -1.0);

    // The actions due in (from, to], in time order (fire before a magazine action at the
    // same time). With an end time (>= 0), none later than endTime - kQuietTail.
    std::vector<ScheduledAction> Due(double from, double to) const;

  private:
    double shotInterval_;
    double endTime_;
};

}  // namespace quenlark::demo
