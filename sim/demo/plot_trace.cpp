#include "sim/demo/plot_trace.h"

#include <algorithm>

namespace quenlark::demo {

PlotTrace::PlotTrace(std::size_t maxPoints) : maxPoints_(std::max<std::size_t>(maxPoints, 2)) {
    points_.reserve(maxPoints_);
}

void PlotTrace::Button::Note(bool now, double time) {
    if (now && !pressed) {
        presses.push_back({time, time, true});
    } else if (!now && pressed) {
        presses.back().end = time;
        presses.back().open = false;
    }
    pressed = now;
}

void PlotTrace::Add(const FrameSample& sample) {
    if (frames_ == 0) {
        start_ = sample.time;
    }
    end_ = sample.time;

    if (frames_ % stride_ == 0) {
        if (points_.size() == maxPoints_) {
            // Keep every other point and halve the rate from now on: the path stays evenly
            // sampled over the whole session.
            std::size_t kept = 0;
            for (std::size_t i = 0; i < points_.size(); i += 2) {
                points_[kept++] = points_[i];
            }
            points_.resize(kept);
            stride_ *= 2;
        }
        if (frames_ % stride_ == 0) {
            PathPoint point;
            point.time = sample.time;
            for (int i = 0; i < 3; ++i) {
                point.controller[i] = sample.controller.matrix[i][3];
                point.device[i] = sample.device.position[i];
            }
            point.deviceReported = sample.deviceReported;
            points_.push_back(point);
        }
    }
    ++frames_;

    fire_.Note(sample.inputs.fireClick, sample.time);
    ejectMag_.Note(sample.inputs.ejectMagClick, sample.time);
    loadMag_.Note(sample.inputs.loadMagClick, sample.time);
    if (fireValue_.empty() || fireValue_.back().value != sample.inputs.fireValue) {
        fireValue_.push_back({sample.time, sample.inputs.fireValue});
    }
}

std::vector<Press> PlotTrace::Closed(const Button& button) const {
    std::vector<Press> presses = button.presses;
    if (!presses.empty() && presses.back().open) {
        presses.back().end = end_;
    }
    return presses;
}

}  // namespace quenlark::demo
