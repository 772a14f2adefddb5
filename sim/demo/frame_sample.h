#pragma once
// What the session notes down for every frame it runs.

#include "sim/demo/tracked_pose.h"

namespace quenlark::demo {

// The device's four input components as the driver last set them.
struct InputStates {
    bool fireClick = false;
    float fireValue = 0.0f;
    bool ejectMagClick = false;
    bool loadMagClick = false;
};

struct FrameSample {
    double time = 0.0;       // seconds since the session's first frame
    TrackedPose controller;  // the right-hand controller's pose the runtime served
    // Whether the driver has reported a valid device pose yet. Until the relay's first
    // publication the driver reports the block's zeroed record, flagged as not valid, which
    // a runtime does not show: that is not the device's position.
    bool deviceReported = false;
    DevicePose device;  // the valid device pose the driver reported last
    InputStates inputs;
};

}  // namespace quenlark::demo
