#include "sim/demo/scene_motion.h"

#include <cmath>
#include <numbers>

namespace quenlark::demo {
namespace {

constexpr double kOmega = 2.0 * std::numbers::pi / kFigureEightPeriod;

// An angle and its rate of change.
struct Angle {
    double value;
    double rate;
};

// A pose from its position, velocity and the yaw (about y), pitch (about x) and roll
// (about z) angles applied in that order, R = Ry(yaw) Rx(pitch) Rz(roll). The angular
// velocity in tracking space is the sum of each angle's rate about its axis as the
// earlier rotations have turned it.
TrackedPose MakePose(const double (&position)[3], const double (&velocity)[3], Angle yaw,
                     Angle pitch, Angle roll) {
    const double cy = std::cos(yaw.value), sy = std::sin(yaw.value);
    const double cp = std::cos(pitch.value), sp = std::sin(pitch.value);
    const double cr = std::cos(roll.value), sr = std::sin(roll.value);

    const double ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
    const double rx[3][3] = {{1, 0, 0}, {0, cp, -sp}, {0, sp, cp}};
    const double rz[3][3] = {{cr, -sr, 0}, {sr, cr, 0}, {0, 0, 1}};
    double ryx[3][3] = {};
    double r[3][3] = {};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) {
                ryx[i][j] += ry[i][k] * rx[k][j];
            }
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) {
                r[i][j] += ryx[i][k] * rz[k][j];
            }
        }
    }

    TrackedPose pose;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            pose.matrix[i][j] = r[i][j];
        }
        pose.matrix[i][3] = position[i];
        pose.velocity[i] = velocity[i];
        // y axis; Ry's x axis (column 0 of Ry); Ry Rx's z axis (column 2 of Ry Rx).
        const double yAxis = i == 1 ? 1.0 : 0.0;
        pose.angularVelocity[i] = yaw.rate * yAxis + pitch.rate * ry[i][0] + roll.rate * ryx[i][2];
    }
    return pose;
}

}  // namespace

TrackedPose RightHandPose(double seconds) {
    const double p = kOmega * seconds;
    // x = A sin(p), z = -D sin(2p): the two lobes left and right of the centre, crossing at
    // the centre twice a lap; y = H cos(p) lifts one lobe and lowers the other.
    const double position[3] = {
        kFigureEightCentre[0] + kFigureEightHalfWidth * std::sin(p),
        kFigureEightCentre[1] + kFigureEightHalfHeight * std::cos(p),
        kFigureEightCentre[2] - kFigureEightHalfDepth * std::sin(2.0 * p),
    };
    const double velocity[3] = {
        kFigureEightHalfWidth * kOmega * std::cos(p),
        -kFigureEightHalfHeight * kOmega * std::sin(p),
        -kFigureEightHalfDepth * 2.0 * kOmega * std::cos(2.0 * p),
    };
    // The hand turns into each lobe, tips up and down twice a lap and rolls gently.
    const Angle yaw{0.35 * std::sin(p), 0.35 * kOmega * std::cos(p)};
    const Angle pitch{0.20 * std::sin(2.0 * p), 0.40 * kOmega * std::cos(2.0 * p)};
    const Angle roll{0.25 * std::cos(p), -0.25 * kOmega * std::sin(p)};
    return MakePose(position, velocity, yaw, pitch, roll);
}

TrackedPose LeftHandPose(double seconds) {
    // Held low and to the left, swaying on a small circle at half the lap's rate.
    const double p = 0.5 * kOmega * seconds;
    const double radius = 0.03;
    const double position[3] = {-0.22 + radius * std::cos(p), 1.00, -0.30 + radius * std::sin(p)};
    const double velocity[3] = {-radius * 0.5 * kOmega * std::sin(p), 0.0,
                                radius * 0.5 * kOmega * std::cos(p)};
    const Angle yaw{0.10 * std::sin(p), 0.10 * 0.5 * kOmega * std::cos(p)};
    const Angle pitch{-0.30, 0.0};
    const Angle roll{0.0, 0.0};
    return MakePose(position, velocity, yaw, pitch, roll);
}

TrackedPose HeadsetPose(double seconds) {
    // Standing, looking slightly down and following the right hand's lobes with the head.
    const double p = kOmega * seconds;
    const double position[3] = {0.0, 1.65 + 0.01 * std::sin(2.0 * p), 0.0};
    const double velocity[3] = {0.0, 0.02 * kOmega * std::cos(2.0 * p), 0.0};
    const Angle yaw{-0.15 * std::sin(p), -0.15 * kOmega * std::cos(p)};
    const Angle pitch{-0.25, 0.0};
    const Angle roll{0.0, 0.0};
    return MakePose(position, velocity, yaw, pitch, roll);
}

}  // namespace quenlark::demo
