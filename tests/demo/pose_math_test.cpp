#include "sim/demo/pose_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "sim/demo/scene_motion.h"

namespace quenlark::demo {
namespace {

void MatrixOfQuaternion(const double (&q)[4], double (&m)[3][4]) {
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[i][j] = r[i][j];
        }
        m[i][3] = 0;
    }
}

// Rotations by an angle about an axis, including the half turns where the trace of the
// matrix is -1 and a method that divides by w falls apart.
TEST(PoseMath, QuaternionOfMatrixRoundTrips) {
    struct Case {
        double angle;
        double axis[3];
    };
    const Case cases[] = {
        {0.0, {1, 0, 0}},
        {std::numbers::pi / 2, {0, 1, 0}},
        {std::numbers::pi, {1, 0, 0}},
        {std::numbers::pi, {0, 1, 0}},
        {std::numbers::pi, {0, 0, 1}},
        {std::numbers::pi, {1, 1, 0}},
        {2.5, {0.2, -1, 0.4}},
        {-0.7, {1, 2, 3}},
        {3.1, {-0.3, 0.1, 1}},
        {1e-9, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        const double n =
            std::sqrt(c.axis[0] * c.axis[0] + c.axis[1] * c.axis[1] + c.axis[2] * c.axis[2]);
        double q[4] = {std::cos(c.angle / 2), 0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            q[i + 1] = std::sin(c.angle / 2) * c.axis[i] / n;
        }
        if (q[0] < 0) {
            for (double& v : q) {
                v = -v;
            }
        }
        double m[3][4];
        MatrixOfQuaternion(q, m);
        double got[4];
        QuaternionOfMatrix(m, got);
        // q and -q are the same rotation; at w = 0 either sign is right.
        const double sign =
            (got[0] * q[0] + got[1] * q[1] + got[2] * q[2] + got[3] * q[3]) < 0 ? -1 : 1;
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(sign * got[i], q[i], 1e-12) << "angle " << c.angle << " component " << i;
        }
        EXPECT_GE(got[0], 0.0);
    }
}

TEST(PoseMath, YawPitchRollReadsTheSceneAngles) {
    // The headset is built from yaw -0.15 sin(p), pitch -0.25, roll 0.
    const double t = kFigureEightPeriod / 4;  // sin(p) = 1
    const DevicePose head = PositionAndRotation(HeadsetPose(t));
    double angles[3];
    YawPitchRollDegrees(head.rotation, angles);
    EXPECT_NEAR(angles[0], -0.15 * 180 / std::numbers::pi, 1e-9);
    EXPECT_NEAR(angles[1], -0.25 * 180 / std::numbers::pi, 1e-9);
    EXPECT_NEAR(angles[2], 0.0, 1e-9);

    // A quaternion of any length reads the same, and a zero one reads zeros.
    double longer[4];
    for (int i = 0; i < 4; ++i) {
        longer[i] = 1.0004 * head.rotation[i];
    }
    double again[3];
    YawPitchRollDegrees(longer, again);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(again[i], angles[i], 1e-9);
    }
    const double zero[4] = {0, 0, 0, 0};
    YawPitchRollDegrees(zero, again);
    EXPECT_EQ(again[0], 0.0);
    EXPECT_EQ(again[1], 0.0);
    EXPECT_EQ(again[2], 0.0);
}

TEST(PoseMath, PoseDifferenceIsTheLargestComponentAndNaNNeverMatches) {
    DevicePose a;
    a.position[0] = 0.1;
    a.rotation[0] = 0.966;
    DevicePose b = a;
    EXPECT_EQ(PoseDifference(a, b), 0.0);
    b.position[2] = 3e-10;
    b.rotation[3] = -2e-9;
    EXPECT_DOUBLE_EQ(PoseDifference(a, b), 2e-9);

    for (int component = 0; component < 7; ++component) {
        DevicePose c = a;
        double& slot = component < 3 ? c.position[component] : c.rotation[component - 3];
        slot = std::numeric_limits<double>::quiet_NaN();
        EXPECT_EQ(PoseDifference(a, c), std::numeric_limits<double>::infinity()) << component;
        EXPECT_EQ(PoseDifference(c, a), std::numeric_limits<double>::infinity()) << component;
    }
}

}  // namespace
}  // namespace quenlark::demo
