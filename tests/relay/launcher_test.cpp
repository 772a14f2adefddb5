// The relay launcher in the installed driver, hosted by the stand-in VR server: Activate
// starts orbelin from the driver's folder, the device then follows the scene's right-hand
// controller through the real libopenvr_api and the real relay, and Deactivate ends the
// relay without leaving a process, a zombie or a descriptor behind.
#include <openvr_driver.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/section.h"
#include "common/shared_pose_block.h"
#include "driver/pose_composition.h"
#include "sim/host/driver_host.h"
#include "sim/runtime/runtime_scene.h"
#include "tests/relay/proc_scan.h"
#include "tests/support/installed_tree.h"

namespace quenlark {
namespace {

using namespace std::chrono_literals;
using sim::DriverHost;
using ::testing::Contains;
using ::testing::IsEmpty;

constexpr const char* kStarted = "Orbelin process started.";
constexpr const char* kStartFailed = "CreateProcess failed.";
constexpr const char* kTerminated = "Orbelin process terminated.";
constexpr const char* kNotTerminated =
    "Failed to terminate Orbelin process, the process may not exist.";

std::string InstalledRelay() {
    return std::filesystem::weakly_canonical(test::InstalledDriverFolder() + "/bin/linux64/orbelin")
        .string();
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

// A pose with a real rotation (about a tilted axis), a translation and velocities.
sim::ScenePose Turned(float angle, float x, float y, float z) {
    const float ax = 0.48f, ay = 0.6f, az = 0.64f;  // unit axis
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    sim::ScenePose pose;
    float(&m)[3][4] = pose.deviceToAbsoluteTracking;
    m[0][0] = t * ax * ax + c, m[0][1] = t * ax * ay - s * az, m[0][2] = t * ax * az + s * ay;
    m[1][0] = t * ax * ay + s * az, m[1][1] = t * ay * ay + c, m[1][2] = t * ay * az - s * ax;
    m[2][0] = t * ax * az - s * ay, m[2][1] = t * ay * az + s * ax, m[2][2] = t * az * az + c;
    m[0][3] = x, m[1][3] = y, m[2][3] = z;
    pose.velocity[0] = 0.5f * angle, pose.velocity[1] = -0.25f, pose.velocity[2] = x;
    pose.angularVelocity[0] = y, pose.angularVelocity[1] = angle, pose.angularVelocity[2] = -z;
    return pose;
}

testing::AssertionResult Near(const vr::DriverPose_t& actual, const vr::DriverPose_t& expected) {
    constexpr double kTolerance = 1e-9;
    const double pairs[][2] = {
        {actual.qRotation.w, expected.qRotation.w},
        {actual.qRotation.x, expected.qRotation.x},
        {actual.qRotation.y, expected.qRotation.y},
        {actual.qRotation.z, expected.qRotation.z},
        {actual.vecPosition[0], expected.vecPosition[0]},
        {actual.vecPosition[1], expected.vecPosition[1]},
        {actual.vecPosition[2], expected.vecPosition[2]},
        {actual.vecVelocity[0], expected.vecVelocity[0]},
        {actual.vecVelocity[1], expected.vecVelocity[1]},
        {actual.vecVelocity[2], expected.vecVelocity[2]},
        {actual.vecAngularVelocity[0], expected.vecAngularVelocity[0]},
        {actual.vecAngularVelocity[1], expected.vecAngularVelocity[1]},
        {actual.vecAngularVelocity[2], expected.vecAngularVelocity[2]},
    };
    for (std::size_t i = 0; i < std::size(pairs); ++i) {
        if (!(std::fabs(pairs[i][0] - pairs[i][1]) <= kTolerance)) {
            return testing::AssertionFailure()
                   << "value " << i << ": " << pairs[i][0] << " instead of " << pairs[i][1];
        }
    }
    if (actual.result != expected.result || actual.poseIsValid != expected.poseIsValid ||
        actual.deviceIsConnected != expected.deviceIsConnected) {
        return testing::AssertionFailure() << "status differs";
    }
    return testing::AssertionSuccess();
}

class Launcher : public ::testing::Test {
  protected:
    void SetUp() override {
        scene.ApplyToEnvironment();
        relay = InstalledRelay();
    }

    void TearDown() override {
        // Whatever a failed test left: no relay may outlive it.
        for (pid_t left : test::ChildrenRunning(getpid(), relay)) {
            ADD_FAILURE() << "relay " << left << " left running";
            kill(left, SIGKILL);
            waitpid(left, nullptr, 0);
        }
        section::RemoveName(kSharedPoseBlockName);
    }

    void LoadAndInit(const std::string& folder) {
        std::string error;
        ASSERT_TRUE(host.Load(folder, &error)) << error;
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
    }

    std::vector<pid_t> Relays() const { return test::ChildrenRunning(getpid(), relay); }

    // Runs frames until the reported pose is the composition of `controller`.
    testing::AssertionResult Follows(const sim::ScenePose& controller) {
        const vr::DriverPose_t expected =
            ComposeDevicePose(sim::FromScenePose<vr::TrackedDevicePose_t>(controller));
        testing::AssertionResult last = testing::AssertionFailure() << "no pose reported";
        for (int frame = 0; frame < 200; ++frame) {
            host.RunFrame();
            if (const auto reported = host.LastReportedPose()) {
                last = Near(*reported, expected);
                if (last) {
                    return last;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
        return last;
    }

    sim::RuntimeScene scene;
    DriverHost host;
    std::string relay;
};

TEST_F(Launcher, TheDeviceFollowsTheRightHandControllerThroughTheRelay) {
    const sim::ScenePose left = sim::ScenePoseAt(-0.3f, 1.1f, 0.2f);
    scene.SetDevices(
        {sim::SceneController(1, sim::kRoleLeftHand, left),
         sim::SceneController(2, sim::kRoleRightHand, Turned(0.1f, 0.3f, 1.2f, -0.4f))});
    LoadAndInit(test::InstalledDriverFolder());
    ASSERT_EQ(host.Activate(1), vr::VRInitError_None);
    EXPECT_EQ(Count(host.LogLines(), kStarted), 1u);

    // Started from the driver's folder with the parent handle's digits as the whole
    // command line, in the host's working directory; the digits name a pidfd of the host.
    const auto relays = Relays();
    ASSERT_EQ(relays.size(), 1u);
    const pid_t relayPid = relays.front();
    const auto arguments = test::ArgumentsOf(relayPid);
    ASSERT_EQ(arguments.size(), 1u);
    const std::string& digits = arguments.front();
    ASSERT_FALSE(digits.empty());
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << digits;
    EXPECT_NE(digits.front(), '0') << digits;
    EXPECT_EQ(test::WorkingDirectoryOf(relayPid), std::filesystem::current_path().string());
    const std::string fd = "/proc/" + std::to_string(relayPid) + "/fd";
    EXPECT_EQ(std::filesystem::read_symlink(fd + "/" + digits).string(), "anon_inode:[pidfd]");
    for (int stream : {0, 1, 2}) {
        EXPECT_EQ(std::filesystem::read_symlink(fd + "/" + std::to_string(stream)).string(),
                  "/dev/null");
    }

    // The controller moves; each time the device's pose follows it.
    const sim::ScenePose path[] = {
        Turned(0.1f, 0.3f, 1.2f, -0.4f),     Turned(0.7f, 0.35f, 1.25f, -0.45f),
        Turned(-1.3f, -2.0f, 0.5f, 3.0f),    Turned(3.0f, 0.0f, 0.0f, 0.0f),
        Turned(2.2f, 10.5f, -4.25f, 0.125f),
    };
    for (const sim::ScenePose& controller : path) {
        scene.SetDevices({sim::SceneController(1, sim::kRoleLeftHand, left),
                          sim::SceneController(2, sim::kRoleRightHand, controller)});
        ASSERT_TRUE(scene.WaitForPassWithCurrentScene(10s));
        EXPECT_TRUE(Follows(controller));
    }

    host.Deactivate();
    EXPECT_EQ(Count(host.LogLines(), kTerminated), 1u);
    EXPECT_EQ(test::StateOf(relayPid), std::nullopt) << "the relay is still there, or a zombie";
    host.Cleanup();
}

TEST_F(Launcher, RepeatedActivationsLeaveNoProcessAndNoDescriptorBehind) {
    LoadAndInit(test::InstalledDriverFolder());
    const std::size_t descriptors = OpenDescriptors();
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        host.Activate(1);
        const auto relays = Relays();
        ASSERT_EQ(relays.size(), 1u);
        ASSERT_TRUE(scene.WaitForPoseQueries(1, 10s));
        host.Deactivate();
        EXPECT_EQ(test::StateOf(relays.front()), std::nullopt);
        EXPECT_EQ(Count(host.LogLines(), kStarted), static_cast<std::size_t>(round));
        EXPECT_EQ(Count(host.LogLines(), kTerminated), static_cast<std::size_t>(round));
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
    host.Cleanup();
}

TEST_F(Launcher, AMissingProgramIsReportedAndStopFindsNothingToEnd) {
    // The installed folder without orbelin.
    const auto folder =
        std::filesystem::temp_directory_path() / ("quenlark-no-relay-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::copy(test::InstalledDriverFolder(), folder,
                          std::filesystem::copy_options::recursive);
    std::filesystem::remove(folder / "bin/linux64/orbelin");

    LoadAndInit(folder.string());
    EXPECT_EQ(host.Activate(1), vr::VRInitError_None);
    EXPECT_EQ(Count(host.LogLines(), kStartFailed), 1u);
    EXPECT_EQ(Count(host.LogLines(), kStarted), 0u);
    EXPECT_THAT(test::ChildrenOf(getpid()), IsEmpty());
    host.Deactivate();
    EXPECT_EQ(Count(host.LogLines(), kNotTerminated), 1u);
    host.Cleanup();
    EXPECT_TRUE(host.Unload());
    std::filesystem::remove_all(folder);
}

TEST_F(Launcher, DeactivateWithoutActivateFindsNoProcess) {
    LoadAndInit(test::InstalledDriverFolder());
    host.Deactivate();
    EXPECT_EQ(Count(host.LogLines(), kNotTerminated), 1u);
    EXPECT_EQ(Count(host.LogLines(), kTerminated), 0u);
    host.Cleanup();
}

// A relay that could not open the block has ended by itself before Deactivate: there is
// nothing to terminate, but its exit is still collected, so no zombie stays in the host.
TEST_F(Launcher, ARelayThatEndedByItselfIsReapedAtDeactivate) {
    // A section of the wrong size under the block's name: the driver refuses it, and so
    // does the relay.
    section::RemoveName(kSharedPoseBlockName);
    const section::Handle planted = section::Create(kSharedPoseBlockName, 4096);
    ASSERT_NE(planted, section::kNoSection);

    LoadAndInit(test::InstalledDriverFolder());
    host.Activate(1);
    EXPECT_THAT(host.LogLines(), Contains("Failed to map view of file."));
    const auto relays = Relays();
    ASSERT_EQ(relays.size(), 1u);
    // Ended altogether (a leader shows 'Z' while its other threads still exit), not reaped.
    const int relayPidfd = pidfd_open(relays.front(), 0);
    ASSERT_GE(relayPidfd, 0);
    pollfd ended{relayPidfd, POLLIN, 0};
    ASSERT_EQ(poll(&ended, 1, 10000), 1);
    close(relayPidfd);
    ASSERT_EQ(test::StateOf(relays.front()), 'Z');

    host.Deactivate();
    EXPECT_EQ(Count(host.LogLines(), kNotTerminated), 1u);
    EXPECT_EQ(test::StateOf(relays.front()), std::nullopt);
    host.Cleanup();
    section::Close(planted);
}

}  // namespace
}  // namespace quenlark
