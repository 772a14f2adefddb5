#pragma once
#include <openvr_driver.h>

namespace quenlark {

// Turns the relayed right-hand controller pose into this device's pose: the controller's
// rotation turned by the fixed mount rotation (about -30 degrees about the controller's own
// X axis), its position moved 0.25 along the controller's own Z axis, velocities widened
// and the status copied. Pure; runs on the frame path, so it allocates nothing.
vr::DriverPose_t ComposeDevicePose(const vr::TrackedDevicePose_t& relayed);

}  // namespace quenlark
