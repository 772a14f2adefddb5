#include "driver/pose_composition.h"

#include <cmath>

namespace quenlark {
namespace {

// The mount rotation, the right factor of the product. Neither it nor the product is
// normalised: 0.966² + 0.259² is slightly above 1, and the runtime normalises.
constexpr double kMountW = 0.966;
constexpr double kMountX = -0.259;
constexpr double kMountY = 0.0;
constexpr double kMountZ = 0.0;
constexpr float kMountOffset = 0.25f;

double HalfRoot(float sum) { return std::sqrt(std::fmax(0.0, static_cast<double>(sum))) * 0.5; }

}  // namespace

vr::DriverPose_t ComposeDevicePose(const vr::TrackedDevicePose_t& relayed) {
    const auto& m = relayed.mDeviceToAbsoluteTracking.m;

    // Quaternion of the rotation matrix by sign transfer. The sums and differences are
    // formed in single precision, in exactly this order; a NaN sum clamps to zero.
    const float sw = ((m[0][0] + 1.0f) + m[1][1]) + m[2][2];
    const float sx = ((m[0][0] + 1.0f) - m[1][1]) - m[2][2];
    const float sy = ((1.0f - m[0][0]) + m[1][1]) - m[2][2];
    const float sz = ((1.0f - m[0][0]) - m[1][1]) + m[2][2];
    const double w = HalfRoot(sw);
    const double x = std::copysign(HalfRoot(sx), static_cast<double>(m[2][1] - m[1][2]));
    const double y = std::copysign(HalfRoot(sy), static_cast<double>(m[0][2] - m[2][0]));
    const double z = std::copysign(HalfRoot(sz), static_cast<double>(m[1][0] - m[0][1]));

    vr::DriverPose_t pose{};
    pose.poseTimeOffset = 0.0;
    pose.qWorldFromDriverRotation = {1.0, 0.0, 0.0, 0.0};
    pose.qDriverFromHeadRotation = {1.0, 0.0, 0.0, 0.0};

    // q · mount, the full Hamilton product; the zero components take part like any other.
    pose.qRotation.w = w * kMountW - x * kMountX - y * kMountY - z * kMountZ;
    pose.qRotation.x = w * kMountX + x * kMountW + y * kMountZ - z * kMountY;
    pose.qRotation.y = w * kMountY - x * kMountZ + y * kMountW + z * kMountX;
    pose.qRotation.z = w * kMountZ + x * kMountY - y * kMountX + z * kMountW;

    // The offset follows the matrix's third column: the controller's own Z axis.
    for (int i = 0; i < 3; ++i) {
        pose.vecPosition[i] = static_cast<double>(m[i][3]) + static_cast<double>(m[i][2] * kMountOffset);
        pose.vecVelocity[i] = static_cast<double>(relayed.vVelocity.v[i]);
        pose.vecAngularVelocity[i] = static_cast<double>(relayed.vAngularVelocity.v[i]);
    }

    pose.result = relayed.eTrackingResult;
    pose.poseIsValid = relayed.bPoseIsValid;
    pose.willDriftInYaw = false;
    pose.shouldApplyHeadModel = false;
    pose.deviceIsConnected = relayed.bDeviceIsConnected;
    return pose;
}

}  // namespace quenlark
