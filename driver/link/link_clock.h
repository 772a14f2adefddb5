#pragma once
// What paces the link thread: a monotonic clock, a sleep, and a signal to end at once
// (the library being unloaded). Tests drive the link with a clock of their own.

#include <chrono>

namespace quenlark {

class LinkClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~LinkClock() = default;
    virtual TimePoint now() = 0;
    // Sleeps until about `wake`; may return early. False when the link is to end at once.
    virtual bool sleepUntil(TimePoint wake) = 0;
    // True once the link is to end at once: nothing more is to be logged or attempted.
    virtual bool abandoned() = 0;
};

}  // namespace quenlark
