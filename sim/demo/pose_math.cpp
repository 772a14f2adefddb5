#include "sim/demo/pose_math.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace quenlark::demo {

void QuaternionOfMatrix(const double (&m)[3][4], double (&q)[4]) {
    // Shepperd's method: divide by the largest of the four candidate components, so that no
    // division is by a small number.
    const double trace = m[0][0] + m[1][1] + m[2][2];
    double w, x, y, z;
    if (trace >= m[0][0] && trace >= m[1][1] && trace >= m[2][2]) {
        const double s = 2.0 * std::sqrt(std::max(0.0, 1.0 + trace));
        w = 0.25 * s;
        x = (m[2][1] - m[1][2]) / s;
        y = (m[0][2] - m[2][0]) / s;
        z = (m[1][0] - m[0][1]) / s;
    } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
        const double s = 2.0 * std::sqrt(std::max(0.0, 1.0 + m[0][0] - m[1][1] - m[2][2]));
        w = (m[2][1] - m[1][2]) / s;
        x = 0.25 * s;
        y = (m[0][1] + m[1][0]) / s;
        z = (m[0][2] + m[2][0]) / s;
    } else if (m[1][1] >= m[2][2]) {
        const double s = 2.0 * std::sqrt(std::max(0.0, 1.0 - m[0][0] + m[1][1] - m[2][2]));
        w = (m[0][2] - m[2][0]) / s;
        x = (m[0][1] + m[1][0]) / s;
        y = 0.25 * s;
        z = (m[1][2] + m[2][1]) / s;
    } else {
        const double s = 2.0 * std::sqrt(std::max(0.0, 1.0 - m[0][0] - m[1][1] + m[2][2]));
        w = (m[1][0] - m[0][1]) / s;
        x = (m[0][2] + m[2][0]) / s;
        y = (m[1][2] + m[2][1]) / s;
        z = 0.25 * s;
    }
    const double sign = w < 0.0 ? -1.0 : 1.0;
    const double length = std::sqrt(w * w + x * x + y * y + z * z);
    const double scale = length > 0.0 ? sign / length : 0.0;
    q[0] = w * scale;
    q[1] = x * scale;
    q[2] = y * scale;
    q[3] = z * scale;
}

DevicePose PositionAndRotation(const TrackedPose& pose) {
    DevicePose out;
    for (int i = 0; i < 3; ++i) {
        out.position[i] = pose.matrix[i][3];
    }
    QuaternionOfMatrix(pose.matrix, out.rotation);
    return out;
}

void YawPitchRollDegrees(const double (&quaternion)[4], double (&angles)[3]) {
    const double length = std::sqrt(quaternion[0] * quaternion[0] + quaternion[1] * quaternion[1] +
                                    quaternion[2] * quaternion[2] + quaternion[3] * quaternion[3]);
    if (!(length > 0.0) || !std::isfinite(length)) {
        angles[0] = angles[1] = angles[2] = 0.0;
        return;
    }
    const double w = quaternion[0] / length, x = quaternion[1] / length;
    const double y = quaternion[2] / length, z = quaternion[3] / length;
    // Elements of R = Ry(yaw) Rx(pitch) Rz(roll) that isolate each angle:
    // r12 = -sin(pitch), r02 / r22 = tan(yaw), r10 / r11 = tan(roll).
    const double r12 = 2.0 * (y * z - w * x);
    const double r02 = 2.0 * (x * z + w * y);
    const double r22 = 1.0 - 2.0 * (x * x + y * y);
    const double r10 = 2.0 * (x * y + w * z);
    const double r11 = 1.0 - 2.0 * (x * x + z * z);
    const double toDegrees = 180.0 / std::numbers::pi;
    angles[0] = std::atan2(r02, r22) * toDegrees;
    angles[1] = std::asin(std::clamp(-r12, -1.0, 1.0)) * toDegrees;
    angles[2] = std::atan2(r10, r11) * toDegrees;
}

double PoseDifference(const DevicePose& a, const DevicePose& b) {
    double largest = 0.0;
    auto consider = [&largest](double u, double v) {
        const double d = std::fabs(u - v);
        if (std::isnan(d)) {
            largest = std::numeric_limits<double>::infinity();
        } else {
            largest = std::max(largest, d);
        }
    };
    for (int i = 0; i < 3; ++i) {
        consider(a.position[i], b.position[i]);
    }
    for (int i = 0; i < 4; ++i) {
        consider(a.rotation[i], b.rotation[i]);
    }
    return largest;
}

}  // namespace quenlark::demo
