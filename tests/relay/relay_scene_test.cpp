// What orbelin publishes and writes for the scenes a runtime can show it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/relay/relay_fixture.h"

namespace quenlark::test {
namespace {

using sim::kRoleLeftHand;
using sim::kRoleRightHand;
using sim::SceneController;
using sim::SceneDevice;
using sim::ScenePose;
using sim::ScenePoseAt;

// The record a pass publishes without a right-hand controller, written out byte by byte.
ScenePose DefaultRecord() {
    unsigned char bytes[80] = {};
    const std::int32_t runningOk = 200;
    std::memcpy(bytes + 72, &runningOk, 4);
    bytes[76] = 1;  // valid
    bytes[77] = 1;  // connected
    ScenePose pose;
    std::memcpy(&pose, bytes, sizeof pose);
    return pose;
}

// A pose in which every field, the padding included, holds a value of its own.
ScenePose Distinct(float seed) {
    ScenePose pose;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            pose.deviceToAbsoluteTracking[r][c] = seed + static_cast<float>(r * 4 + c) * 0.125f;
        }
    }
    for (int i = 0; i < 3; ++i) {
        pose.velocity[i] = -seed - static_cast<float>(i);
        pose.angularVelocity[i] = seed * 2.0f + static_cast<float>(i);
    }
    pose.trackingResult = 200;
    pose.padding[0] = 0x5A;
    pose.padding[1] = 0x5B;
    return pose;
}

ScenePose LostTracking(float seed) {
    ScenePose pose = Distinct(seed);
    pose.trackingResult = 201;  // TrackingResult_Running_OutOfRange
    pose.poseIsValid = false;
    return pose;
}

SceneDevice Device(std::uint32_t index, std::int32_t deviceClass, std::int32_t role,
                   const ScenePose& pose) {
    SceneDevice device = SceneController(index, role, pose);
    device.deviceClass = deviceClass;
    return device;
}

std::string Bytes(const ScenePose& pose) {
    return std::string(reinterpret_cast<const char*>(&pose), sizeof pose);
}

std::string LineFor(std::uint32_t index, const ScenePose& pose) {
    char line[256];
    std::snprintf(line, sizeof line, "Controller %u position: (%f, %f, %f)", index,
                  static_cast<double>(pose.deviceToAbsoluteTracking[0][3]),
                  static_cast<double>(pose.deviceToAbsoluteTracking[1][3]),
                  static_cast<double>(pose.deviceToAbsoluteTracking[2][3]));
    return line;
}

struct SceneCase {
    const char* name;
    std::vector<SceneDevice> devices;
    ScenePose published;
    std::vector<std::uint32_t> lineIndices;  // the controller lines of one pass, in order
};

class RelayScenes : public RelayFixture {
  protected:
    // Controller lines of passes that saw the current scene: the lines of earlier passes are
    // all taken in first, then a few passes' worth are collected.
    std::vector<std::string> LinesOfLatestPasses(RelayProcess& relay, std::size_t perPass) {
        EXPECT_TRUE(relay.WaitUntilDrained());
        const std::uint64_t from = relay.ControllerLineCount();
        EXPECT_TRUE(relay.WaitForControllerLines(from + 8 * perPass));
        std::vector<std::string> recent = relay.RecentControllerLines();
        recent.erase(recent.begin(), recent.end() - static_cast<std::ptrdiff_t>(6 * perPass));
        return recent;
    }
};

// One relay sees the scenes one after the other, so every change of scene is also checked:
// nothing of an earlier pass carries over.
TEST_F(RelayScenes, PublishesTheRightHandControllerOrTheDefaultRecord) {
    const ScenePose right = Distinct(1.0f);
    const ScenePose left = Distinct(20.0f);
    const ScenePose other = Distinct(300.0f);
    const SceneCase cases[] = {
        {"no controller", {}, DefaultRecord(), {}},
        {"left and right",
         {SceneController(1, kRoleLeftHand, left), SceneController(2, kRoleRightHand, right)},
         right,
         {1, 2}},
        {"right gone", {SceneController(1, kRoleLeftHand, left)}, DefaultRecord(), {1}},
        {"right first, then left",
         {SceneController(5, kRoleRightHand, right), SceneController(3, kRoleLeftHand, left)},
         right,
         {5, 3}},
        {"two right-hand controllers: the later one",
         {SceneController(3, kRoleRightHand, right), SceneController(4, kRoleRightHand, other)},
         other,
         {3, 4}},
        {"two right-hand controllers, the later with the lower index",
         {SceneController(4, kRoleRightHand, other), SceneController(3, kRoleRightHand, right)},
         right,
         {4, 3}},
        {"lost tracking is published as reported",
         {SceneController(2, kRoleRightHand, LostTracking(7.0f))},
         LostTracking(7.0f),
         {2}},
        {"a controller without a role",
         {SceneController(6, sim::kRoleInvalid, right)},
         DefaultRecord(),
         {6}},
        {"right-hand role on devices that are no controllers",
         {Device(0, sim::kDeviceClassHmd, kRoleRightHand, left),
          Device(7, sim::kDeviceClassGenericTracker, kRoleRightHand, other)},
         DefaultRecord(),
         {}},
        {"an index beyond the pose array is skipped",
         {SceneController(70, kRoleRightHand, other), SceneController(8, kRoleRightHand, right)},
         right,
         {8}},
    };

    auto relay = StartRelaying();
    for (const SceneCase& c : cases) {
        SCOPED_TRACE(c.name);
        scene.SetDevices(c.devices);
        ASSERT_TRUE(scene.WaitForPassWithCurrentScene(10s));
        const auto record = block->Record();
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(Bytes(*record), Bytes(c.published));
        EXPECT_TRUE(block->OutsideRecordUntouched());

        if (c.lineIndices.empty()) {
            ASSERT_TRUE(relay->WaitUntilDrained());
            const std::uint64_t lines = relay->ControllerLineCount();
            ASSERT_TRUE(scene.WaitForPoseQueries(scene.PoseQueries() + 1000, 10s));
            ASSERT_TRUE(relay->WaitUntilDrained());
            EXPECT_EQ(relay->ControllerLineCount(), lines);
            continue;
        }
        std::vector<std::string> pass;
        for (std::uint32_t index : c.lineIndices) {
            for (const SceneDevice& device : c.devices) {
                if (device.index == index) {
                    pass.push_back(LineFor(index, device.pose));
                }
            }
        }
        const auto lines = LinesOfLatestPasses(*relay, pass.size());
        // The latest lines repeat the pass's lines in order, from some point in a pass.
        std::size_t offset = 0;
        while (offset < pass.size() && lines.front() != pass[offset]) {
            ++offset;
        }
        ASSERT_LT(offset, pass.size()) << lines.front();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            ASSERT_EQ(lines[i], pass[(i + offset) % pass.size()]);
        }
    }
    EXPECT_EQ(relay->Stderr(), "");
}

// The controller line: "%f" of each coordinate widened to double, the index in decimal.
TEST_F(RelayScenes, WritesEachControllerLineInItsFixedForm) {
    ScenePose invalidZero;
    invalidZero.poseIsValid = false;
    invalidZero.trackingResult = 1;  // TrackingResult_Uninitialized
    scene.SetDevices({
        SceneController(0, kRoleLeftHand, ScenePoseAt(-1e-7f, 0.5f, -12.25f)),
        SceneController(17, kRoleRightHand, ScenePoseAt(1234.5678f, 1e10f, 0.0000015f)),
        SceneController(9, sim::kRoleInvalid, invalidZero),
        SceneController(63, kRoleLeftHand, ScenePoseAt(-3.0f, -0.0000004f, 100.0f)),
    });
    auto relay = StartRelaying();
    for (const char* line : {
             "Controller 0 position: (-0.000000, 0.500000, -12.250000)",
             "Controller 17 position: (1234.567749, 10000000000.000000, 0.000002)",
             "Controller 9 position: (0.000000, 0.000000, 0.000000)",
             "Controller 63 position: (-3.000000, -0.000000, 100.000000)",
         }) {
        EXPECT_TRUE(relay->WaitForLine(line)) << line;
    }
    // Only controller lines and the three start-up lines: nothing else, nothing on stderr.
    EXPECT_THAT(relay->StatusTexts(), ::testing::ElementsAre(kBanner, kOpened, kInitialized));
    EXPECT_EQ(relay->Stderr(), "");
}

}  // namespace
}  // namespace quenlark::test
