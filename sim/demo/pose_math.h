#pragma once
// Small pose calculations for display and checking: quaternions from rotation matrices,
// readable angles, and how far two device poses lie apart.

#include "sim/demo/tracked_pose.h"

namespace quenlark::demo {

// The unit quaternion (w, x, y, z) of the rotation in columns 0 to 2 of the matrix, with
// w >= 0. Exact to rounding for every rotation, including half turns.
void QuaternionOfMatrix(const double (&matrix)[3][4], double (&quaternion)[4]);

// The controller's pose in the device pose's form: position and unit quaternion.
DevicePose PositionAndRotation(const TrackedPose& pose);

// Yaw (about y), pitch (about x) and roll (about z) in degrees, for R = Ry Rx Rz, of a
// quaternion of any length (it is normalised first). A zero quaternion gives zeros.
void YawPitchRollDegrees(const double (&quaternion)[4], double (&angles)[3]);

// The largest absolute difference over the seven numbers of two device poses (position
// and quaternion components). A NaN in either pose gives infinity: a pose that is not a
// number never counts as matching.
double PoseDifference(const DevicePose& a, const DevicePose& b);

}  // namespace quenlark::demo
