#include "sim/demo/rate_meter.h"

namespace quenlark::demo {

RateMeter::RateMeter(double windowSeconds) : window_(windowSeconds > 0 ? windowSeconds : 1.0) {}

void RateMeter::Sample(double seconds, std::uint64_t total) {
    if (!points_.empty() && (total < points_.back().total || seconds < points_.back().seconds)) {
        points_.clear();
    }
    points_.push_back({seconds, total});
    // Keep one point at or before the window's start, so the window is always covered.
    while (points_.size() > 2 && points_[1].seconds <= seconds - window_) {
        points_.pop_front();
    }
}

double RateMeter::PerSecond() const {
    if (points_.size() < 2) {
        return 0.0;
    }
    const Point& first = points_.front();
    const Point& last = points_.back();
    const double span = last.seconds - first.seconds;
    return span > 0 ? static_cast<double>(last.total - first.total) / span : 0.0;
}

}  // namespace quenlark::demo
