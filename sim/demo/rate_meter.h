#pragma once
// A rate from a running total: frames per second from the frame count, relay publications
// per second from the relay's publication count. The rate is taken over the last window
// of samples, so it follows changes within about a window's length.

#include <cstdint>
#include <deque>

namespace quenlark::demo {

class RateMeter {
  public:
    explicit RateMeter(double windowSeconds = 1.0);

    // The running total at a moment (seconds on any steady clock). A total that goes
    // backwards (a counter that restarted) starts the meter afresh.
    void Sample(double seconds, std::uint64_t total);

    // Per second over the window; 0 until two samples lie apart in time.
    double PerSecond() const;

  private:
    struct Point {
        double seconds;
        std::uint64_t total;
    };
    double window_;
    std::deque<Point> points_;
};

}  // namespace quenlark::demo
