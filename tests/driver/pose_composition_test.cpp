// Pose composition: the relayed controller record turned into the device's pose.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "driver/pose_composition.h"

namespace quenlark {
namespace {

constexpr double kTight = 1e-12;
constexpr double kMountW = 0.966;
constexpr double kMountX = -0.259;

struct Quaternion {
    double w, x, y, z;
};

vr::TrackedDevicePose_t Record(const float rotation[3][3], float tx = 0, float ty = 0,
                               float tz = 0) {
    vr::TrackedDevicePose_t record{};
    const float t[3] = {tx, ty, tz};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            record.mDeviceToAbsoluteTracking.m[r][c] = rotation[r][c];
        }
        record.mDeviceToAbsoluteTracking.m[r][3] = t[r];
    }
    return record;
}

void ExpectRotation(const vr::DriverPose_t& pose, Quaternion expected, double tolerance) {
    EXPECT_NEAR(pose.qRotation.w, expected.w, tolerance);
    EXPECT_NEAR(pose.qRotation.x, expected.x, tolerance);
    EXPECT_NEAR(pose.qRotation.y, expected.y, tolerance);
    EXPECT_NEAR(pose.qRotation.z, expected.z, tolerance);
}

// The edge cases of the conversion, each with the rotation it must give.
struct EdgeCase {
    const char* label;
    float m[3][3];
    Quaternion expected;
};

void PrintTo(const EdgeCase& c, std::ostream* os) {
    *os << c.label;
}

class Composition : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(Composition, GivesTheExpectedRotation) {
    const EdgeCase& c = GetParam();
    const vr::DriverPose_t pose = ComposeDevicePose(Record(c.m));
    ExpectRotation(pose, c.expected, kTight);
    EXPECT_FALSE(std::isnan(pose.qRotation.w) || std::isnan(pose.qRotation.x) ||
                 std::isnan(pose.qRotation.y) || std::isnan(pose.qRotation.z));
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Edges, Composition,
    ::testing::Values(
        EdgeCase{"Identity", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {kMountW, kMountX, 0, 0}},
        // The record right after the block's creation: every sum 1, every difference +0.
        EdgeCase{"ZeroMatrix",
                 {},
                 {0.5 * (0.966 + 0.259), 0.5 * (0.966 - 0.259), 0.5 * (0.966 - 0.259),
                  0.5 * (0.966 + 0.259)}},
        EdgeCase{"HalfTurnAboutY", {{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}, {0, 0, 0.966, 0.259}},
        EdgeCase{"HalfTurnAboutX", {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}}, {0.259, 0.966, 0, 0}},
        EdgeCase{"HalfTurnAboutZ", {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}}, {0, 0, -0.259, 0.966}},
        // A difference of -0 gives the component a negative sign: m21 - m12 = -0 - (+0).
        EdgeCase{"HalfTurnAboutXWithNegativeZeroDifference",
                 {{1, 0, 0}, {0, -1, 0}, {0, -0.0f, -1}},
                 {-0.259, -0.966, 0, 0}},
        // A NaN on the diagonal makes every sum NaN; each clamps to 0.
        EdgeCase{"NaNAt00", {{kNaN, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0, 0}},
        EdgeCase{"NaNAt11", {{1, 0, 0}, {0, kNaN, 0}, {0, 0, 1}}, {0, 0, 0, 0}},
        EdgeCase{"NaNAt22", {{1, 0, 0}, {0, 1, 0}, {0, 0, kNaN}}, {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(CompositionFields, IdentityMovesThePositionAlongZAndCopiesTheRest) {
    const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    vr::TrackedDevicePose_t record = Record(identity, 0.5f, -1.5f, 2.0f);
    record.vVelocity = {{0.1f, -0.2f, 0.3f}};
    record.vAngularVelocity = {{-4.0f, 5.5f, 1e-3f}};
    record.eTrackingResult = vr::TrackingResult_Running_OutOfRange;
    record.bPoseIsValid = true;
    record.bDeviceIsConnected = true;

    const vr::DriverPose_t pose = ComposeDevicePose(record);
    EXPECT_EQ(pose.vecPosition[0], 0.5);
    EXPECT_EQ(pose.vecPosition[1], -1.5);
    EXPECT_EQ(pose.vecPosition[2], 2.25);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pose.vecVelocity[i], static_cast<double>(record.vVelocity.v[i]))
            << "widened, not rounded";
        EXPECT_EQ(pose.vecAngularVelocity[i], static_cast<double>(record.vAngularVelocity.v[i]));
        EXPECT_EQ(pose.vecAcceleration[i], 0.0);
        EXPECT_EQ(pose.vecAngularAcceleration[i], 0.0);
        EXPECT_EQ(pose.vecWorldFromDriverTranslation[i], 0.0);
        EXPECT_EQ(pose.vecDriverFromHeadTranslation[i], 0.0);
    }
    EXPECT_EQ(pose.poseTimeOffset, 0.0);
    EXPECT_EQ(pose.qWorldFromDriverRotation.w, 1.0);
    EXPECT_EQ(pose.qWorldFromDriverRotation.x, 0.0);
    EXPECT_EQ(pose.qWorldFromDriverRotation.y, 0.0);
    EXPECT_EQ(pose.qWorldFromDriverRotation.z, 0.0);
    EXPECT_EQ(pose.qDriverFromHeadRotation.w, 1.0);
    EXPECT_EQ(pose.qDriverFromHeadRotation.x, 0.0);
    EXPECT_EQ(pose.qDriverFromHeadRotation.y, 0.0);
    EXPECT_EQ(pose.qDriverFromHeadRotation.z, 0.0);
    EXPECT_EQ(pose.result, vr::TrackingResult_Running_OutOfRange);
    EXPECT_TRUE(pose.poseIsValid);
    EXPECT_TRUE(pose.deviceIsConnected);
    EXPECT_FALSE(pose.willDriftInYaw);
    EXPECT_FALSE(pose.shouldApplyHeadModel);
}

TEST(CompositionFields, AnInvalidRecordIsComposedTheSameWayAndOnlyItsFlagsCopied) {
    const float m[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}};
    vr::TrackedDevicePose_t valid = Record(m, 1, 2, 3);
    valid.eTrackingResult = vr::TrackingResult_Running_OK;
    valid.bPoseIsValid = true;
    valid.bDeviceIsConnected = true;
    vr::TrackedDevicePose_t invalid = valid;
    invalid.eTrackingResult = vr::TrackingResult_Uninitialized;
    invalid.bPoseIsValid = false;
    invalid.bDeviceIsConnected = false;

    const vr::DriverPose_t a = ComposeDevicePose(valid);
    const vr::DriverPose_t b = ComposeDevicePose(invalid);
    EXPECT_EQ(a.qRotation.w, b.qRotation.w);
    EXPECT_EQ(a.qRotation.z, b.qRotation.z);
    EXPECT_EQ(a.vecPosition[2], b.vecPosition[2]);
    EXPECT_FALSE(b.poseIsValid);
    EXPECT_FALSE(b.deviceIsConnected);
    EXPECT_EQ(b.result, vr::TrackingResult_Uninitialized);
}

// The four sums are formed in single precision: 1 + 1e-8 is 1 in float, so sw comes to 0
// and sx to exactly 2; in double sw would be 1e-8 and w about 5e-5.
TEST(CompositionFields, SumsAreFormedInSinglePrecision) {
    const float m[3][3] = {{1e-8f, 0, 0}, {0, -1, 0}, {0, 0, 0}};
    const double h = std::sqrt(2.0) * 0.5;  // x and z; w and y are 0
    ExpectRotation(ComposeDevicePose(Record(m)), {0.259 * h, 0.966 * h, -0.259 * h, 0.966 * h},
                   kTight);
}

// A general rotation, checked against a computation that does not share the conversion:
// the quaternion is known from the axis and angle the matrix was built from, and the
// product with the mount rotation is taken in matrix form.
struct AxisAngle {
    double ax, ay, az, angle;
};

class GeneralRotation : public ::testing::TestWithParam<AxisAngle> {};

TEST_P(GeneralRotation, MatchesTheAxisAngleQuaternionTimesTheMount) {
    const AxisAngle& p = GetParam();
    const double n = std::sqrt(p.ax * p.ax + p.ay * p.ay + p.az * p.az);
    const double ux = p.ax / n, uy = p.ay / n, uz = p.az / n;
    const double c = std::cos(p.angle), s = std::sin(p.angle), t = 1 - c;
    const double r[3][3] = {{t * ux * ux + c, t * ux * uy - s * uz, t * ux * uz + s * uy},
                            {t * ux * uy + s * uz, t * uy * uy + c, t * uy * uz - s * ux},
                            {t * ux * uz - s * uy, t * uy * uz + s * ux, t * uz * uz + c}};
    float m[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[i][j] = static_cast<float>(r[i][j]);
        }
    }
    const vr::DriverPose_t pose = ComposeDevicePose(Record(m, 0.25f, -0.5f, 1.0f));

    // q from the axis and angle, with w >= 0 as the conversion yields it.
    double q[4] = {std::cos(p.angle / 2), std::sin(p.angle / 2) * ux, std::sin(p.angle / 2) * uy,
                   std::sin(p.angle / 2) * uz};
    if (q[0] < 0) {
        for (double& v : q) v = -v;
    }
    // q · r as the left-multiplication matrix of q applied to r = (0.966, -0.259, 0, 0).
    const double left[4][4] = {{q[0], -q[1], -q[2], -q[3]},
                               {q[1], q[0], -q[3], q[2]},
                               {q[2], q[3], q[0], -q[1]},
                               {q[3], -q[2], q[1], q[0]}};
    const double mount[4] = {kMountW, kMountX, 0, 0};
    double expected[4] = {};
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 4; ++k) {
            expected[i] += left[i][k] * mount[k];
        }
    }
    // The matrix went through single precision, so agreement is to float rounding.
    ExpectRotation(pose, {expected[0], expected[1], expected[2], expected[3]}, 1e-6);

    // The offset follows the controller's own Z axis, the matrix's third column.
    EXPECT_NEAR(pose.vecPosition[0], 0.25 + 0.25 * r[0][2], 1e-6);
    EXPECT_NEAR(pose.vecPosition[1], -0.5 + 0.25 * r[1][2], 1e-6);
    EXPECT_NEAR(pose.vecPosition[2], 1.0 + 0.25 * r[2][2], 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Rotations, GeneralRotation,
                         ::testing::Values(AxisAngle{1, 2, 3, 0.7}, AxisAngle{-0.3, 0.8, -0.5, 2.5},
                                           AxisAngle{0.1, -1, 0.2, -1.9}));

}  // namespace
}  // namespace quenlark
