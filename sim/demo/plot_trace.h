#pragma once
// What the --plot picture needs from a session of any length, in bounded memory: the two
// paths thinned evenly to at most a fixed number of points, and every press and release
// of the four inputs, which are few.

#include <cstddef>
#include <vector>

#include "sim/demo/frame_sample.h"

namespace quenlark::demo {

struct PathPoint {
    double time = 0.0;
    double controller[3] = {};
    bool deviceReported = false;
    double device[3] = {};
};

// One press of a button: from the frame it read pressed to the frame it read released.
// A press still held at the end has end = the last frame's time and open = true.
struct Press {
    double start = 0.0;
    double end = 0.0;
    bool open = false;
};

// The trigger's value after each change, from the first frame on.
struct ValueStep {
    double time = 0.0;
    float value = 0.0f;
};

class PlotTrace {
  public:
    explicit PlotTrace(std::size_t maxPoints = 4000);

    void Add(const FrameSample& sample);

    // The kept path points, in time order; every stride-th frame once the cap was reached.
    const std::vector<PathPoint>& Points() const { return points_; }
    std::vector<Press> FirePresses() const { return Closed(fire_); }
    std::vector<Press> EjectMagPresses() const { return Closed(ejectMag_); }
    std::vector<Press> LoadMagPresses() const { return Closed(loadMag_); }
    const std::vector<ValueStep>& FireValueSteps() const { return fireValue_; }

    std::size_t Frames() const { return frames_; }
    double StartTime() const { return start_; }
    double EndTime() const { return end_; }

  private:
    struct Button {
        bool pressed = false;
        std::vector<Press> presses;
        void Note(bool now, double time);
    };
    std::vector<Press> Closed(const Button& button) const;

    std::size_t maxPoints_;
    std::size_t stride_ = 1;
    std::size_t frames_ = 0;
    double start_ = 0.0;
    double end_ = 0.0;
    std::vector<PathPoint> points_;
    Button fire_, ejectMag_, loadMag_;
    std::vector<ValueStep> fireValue_;
};

}  // namespace quenlark::demo
