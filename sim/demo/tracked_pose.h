#pragma once
// Plain pose records of the simulated session, free of any OpenVR header so that they can
// meet the stand-in runtime (client side) and the stand-in host (driver side) alike.

namespace quenlark::demo {

// A tracked device's pose as the runtime serves it: a row-major 3x4 matrix (rotation in
// columns 0 to 2, position in column 3, metres) and its velocities in tracking space
// (metres per second, radians per second). Double precision; narrowed where it is served.
struct TrackedPose {
    double matrix[3][4] = {};
    double velocity[3] = {};
    double angularVelocity[3] = {};
};

// The device's pose as the driver reports it: position in metres and rotation as a
// quaternion (w, x, y, z), which the driver does not normalise.
struct DevicePose {
    double position[3] = {};
    double rotation[4] = {};
};

}  // namespace quenlark::demo
