#pragma once
// The simulated scene's motion as functions of time: a headset at head height, a left-hand
// controller held still with a slight sway, and the right-hand controller (the one the
// pistol rides on) tracing a smooth figure-eight at hand height while it turns smoothly.
// Velocities are the exact derivatives, so the poses are what a real tracker would report.

#include "sim/demo/tracked_pose.h"

namespace quenlark::demo {

// One lap of the figure-eight, in seconds.
inline constexpr double kFigureEightPeriod = 8.0;
// The figure-eight's centre in tracking space (metres; y up, -z forward): to the right of
// and in front of the user, at hand height.
inline constexpr double kFigureEightCentre[3] = {0.22, 1.10, -0.40};
// Half widths of the figure-eight: sideways (x), forward (z) and up and down (y).
inline constexpr double kFigureEightHalfWidth = 0.20;
inline constexpr double kFigureEightHalfDepth = 0.15;
inline constexpr double kFigureEightHalfHeight = 0.04;

TrackedPose RightHandPose(double seconds);
TrackedPose LeftHandPose(double seconds);
TrackedPose HeadsetPose(double seconds);

}  // namespace quenlark::demo
