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
    double time = 0.0;            // seconds since the session's first frame
    TrackedPose controller;       // the right-hand controller's pose the runtime served
    bool deviceReported = false;  // whether the driver has reported a device pose yet
    DevicePose device;            // the device pose the driver reported last
    InputStates inputs;
};

}  // namespace quenlark::demo
