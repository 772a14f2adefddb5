#include "sim/demo/scene_motion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace quenlark::demo {
namespace {

using PoseAt = std::function<TrackedPose(double)>;

struct Device {
    const char* name;
    PoseAt pose;
};

const Device kDevices[] = {
    {"right hand", RightHandPose},
    {"left hand", LeftHandPose},
    {"headset", HeadsetPose},
};

// Times across more than one lap, not on any round fraction of it.
std::vector<double> SampleTimes() {
    std::vector<double> times;
    for (double t = 0.0; t < 2.2 * kFigureEightPeriod; t += 0.37) {
        times.push_back(t);
    }
    return times;
}

TEST(SceneMotion, RotationsAreProperOrthonormal) {
    for (const Device& device : kDevices) {
        for (double t : SampleTimes()) {
            const TrackedPose pose = device.pose(t);
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    double dot = 0;
                    for (int k = 0; k < 3; ++k) {
                        dot += pose.matrix[i][k] * pose.matrix[j][k];
                    }
                    EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-12) << device.name << " t=" << t;
                }
            }
            const auto& m = pose.matrix;
            const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
            EXPECT_NEAR(det, 1.0, 1e-12) << device.name << " t=" << t;
        }
    }
}

// The velocities are the derivatives of the poses: what a runtime serving these poses
// would also report. Checked against central differences.
TEST(SceneMotion, VelocitiesAreTheDerivativesOfThePose) {
    const double h = 1e-5;
    for (const Device& device : kDevices) {
        for (double t : SampleTimes()) {
            const TrackedPose before = device.pose(t - h), now = device.pose(t),
                              after = device.pose(t + h);
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(now.velocity[i], (after.matrix[i][3] - before.matrix[i][3]) / (2 * h),
                            1e-6)
                    << device.name << " t=" << t << " axis " << i;
            }
            // dR/dt R^T is the skew matrix of the angular velocity in tracking space.
            double w[3][3] = {};
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    for (int k = 0; k < 3; ++k) {
                        w[i][j] +=
                            (after.matrix[i][k] - before.matrix[i][k]) / (2 * h) * now.matrix[j][k];
                    }
                }
            }
            const double omega[3] = {(w[2][1] - w[1][2]) / 2, (w[0][2] - w[2][0]) / 2,
                                     (w[1][0] - w[0][1]) / 2};
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(now.angularVelocity[i], omega[i], 1e-6)
                    << device.name << " t=" << t << " axis " << i;
            }
        }
    }
}

TEST(SceneMotion, RightHandTracesAClosedFigureEightAtHandHeight) {
    const double period = kFigureEightPeriod;
    double lowest = 1e9, highest = -1e9, leftmost = 1e9, rightmost = -1e9;
    for (double t = 0; t < period; t += 1.0 / 90.0) {
        const TrackedPose pose = RightHandPose(t);
        lowest = std::min(lowest, pose.matrix[1][3]);
        highest = std::max(highest, pose.matrix[1][3]);
        leftmost = std::min(leftmost, pose.matrix[0][3]);
        rightmost = std::max(rightmost, pose.matrix[0][3]);
    }
    EXPECT_GT(lowest, 1.0);
    EXPECT_LT(highest, 1.2);
    EXPECT_NEAR(rightmost - leftmost, 2 * kFigureEightHalfWidth, 1e-3);

    // One lap later the pose is the same.
    for (double t : {0.0, 1.3, 5.9}) {
        const TrackedPose a = RightHandPose(t), b = RightHandPose(t + period);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 4; ++j) {
                EXPECT_NEAR(a.matrix[i][j], b.matrix[i][j], 1e-9);
            }
        }
    }

    // An eight crosses itself: the path passes its centre twice a lap, going in clearly
    // different directions, and nowhere else comes back to the centre.
    const TrackedPose first = RightHandPose(0), second = RightHandPose(period / 2);
    for (int i : {0, 2}) {
        EXPECT_NEAR(first.matrix[i][3], kFigureEightCentre[i], 1e-12);
        EXPECT_NEAR(second.matrix[i][3], kFigureEightCentre[i], 1e-12);
    }
    const double* v1 = first.velocity;
    const double* v2 = second.velocity;
    const double cosine =
        (v1[0] * v2[0] + v1[2] * v2[2]) / (std::hypot(v1[0], v1[2]) * std::hypot(v2[0], v2[2]));
    EXPECT_LT(std::fabs(cosine), std::cos(30.0 * std::numbers::pi / 180.0));
    int centrePasses = 0;
    bool near = false;
    for (double t = period / 4; t < 1.25 * period; t += 0.001) {
        const TrackedPose p = RightHandPose(t);
        const bool nowNear = std::hypot(p.matrix[0][3] - kFigureEightCentre[0],
                                        p.matrix[2][3] - kFigureEightCentre[2]) < 0.01;
        centrePasses += nowNear && !near;
        near = nowNear;
    }
    EXPECT_EQ(centrePasses, 2);
}

TEST(SceneMotion, HandsAndHeadsetSitWhereAPersonHoldsThem) {
    for (double t : SampleTimes()) {
        const TrackedPose head = HeadsetPose(t), left = LeftHandPose(t), right = RightHandPose(t);
        EXPECT_GT(head.matrix[1][3], right.matrix[1][3] + 0.3) << t;
        EXPECT_GT(head.matrix[1][3], left.matrix[1][3] + 0.3) << t;
        EXPECT_LT(left.matrix[0][3], 0.0) << t;
        EXPECT_GT(right.matrix[0][3], 0.0) << t;
        EXPECT_LT(right.matrix[2][3], -0.1) << t;  // in front of the headset (-z is forward)
    }
}

// The orientation moves smoothly: between two frames at 90 Hz the hand turns by a few
// degrees at most, never jumps.
TEST(SceneMotion, RightHandTurnsSmoothly) {
    double largest = 0;
    for (double t = 0; t < kFigureEightPeriod; t += 1.0 / 90.0) {
        const TrackedPose a = RightHandPose(t), b = RightHandPose(t + 1.0 / 90.0);
        double trace = 0;
        for (int i = 0; i < 3; ++i) {
            for (int k = 0; k < 3; ++k) {
                trace += a.matrix[k][i] * b.matrix[k][i];
            }
        }
        largest = std::max(largest, std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)));
    }
    EXPECT_GT(largest, 0.0);
    EXPECT_LT(largest * 180 / std::numbers::pi, 3.0);
}

}  // namespace
}  // namespace quenlark::demo
