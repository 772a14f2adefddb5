// The frame update's pose path and priority toggle, through the host against the installed
// driver, with a stand-in relay on the other side of the shared pose block.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "common/shared_pose_block.h"
#include "tests/driver/driver_fixtures.h"
#include "tests/driver/relay_stand_in.h"
#include "tests/support/installed_tree.h"

namespace quenlark {
namespace {

using sim::DriverHost;
using sim::HostCall;
using test::RelayStandIn;
using ::testing::IsEmpty;
using Kind = HostCall::Kind;

constexpr float kIdentity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
constexpr float kZero[3][3] = {};
constexpr uint32_t kObjectId = 7;

class Frames : public test::InstalledDriver {
  protected:
    void SetUp() override {
        test::RemoveSharedPoseBlockName();
        InstalledDriver::SetUp();
    }
};

// The composed pose of an identity rotation with translation (1, 2, 3): the mount rotation
// alone, the position moved 0.25 along Z, the rest copied or constant.
void ExpectIdentityPose(const vr::DriverPose_t& pose) {
    EXPECT_DOUBLE_EQ(pose.qRotation.w, 0.966);
    EXPECT_DOUBLE_EQ(pose.qRotation.x, -0.259);
    EXPECT_EQ(pose.qRotation.y, 0.0);
    EXPECT_EQ(pose.qRotation.z, 0.0);
    EXPECT_EQ(pose.vecPosition[0], 1.0);
    EXPECT_EQ(pose.vecPosition[1], 2.0);
    EXPECT_EQ(pose.vecPosition[2], 3.25);
    EXPECT_EQ(pose.vecVelocity[1], -1.25);
    EXPECT_EQ(pose.vecAngularVelocity[2], 3.5);
    EXPECT_EQ(pose.result, vr::TrackingResult_Running_OK);
    EXPECT_TRUE(pose.poseIsValid);
    EXPECT_TRUE(pose.deviceIsConnected);
}

TEST_F(Frames, ReportTheZeroRecordEveryFrameBeforeTheRelayPublishes) {
    InitAndActivate(kObjectId);
    host.ClearCalls();
    host.RunFrames(3);
    const auto poses = host.Calls(Kind::PoseUpdated);
    ASSERT_EQ(poses.size(), 3u);
    for (const HostCall& call : poses) {
        EXPECT_EQ(call.device, kObjectId);
        EXPECT_EQ(call.poseSize, 280u);
        EXPECT_EQ(call.pose.result, 0);
        EXPECT_FALSE(call.pose.poseIsValid);
        EXPECT_FALSE(call.pose.deviceIsConnected);
        EXPECT_EQ(call.pose.vecPosition[0], 0.0);
        EXPECT_EQ(call.pose.vecPosition[1], 0.0);
        EXPECT_EQ(call.pose.vecPosition[2], 0.0);
        EXPECT_NEAR(call.pose.qRotation.w, 0.5 * (0.966 + 0.259), 1e-12);
        EXPECT_NEAR(call.pose.qRotation.x, 0.5 * (0.966 - 0.259), 1e-12);
    }
}

TEST_F(Frames, ReportThePublishedRecordEveryFrameAndFollowNewOnes) {
    InitAndActivate(kObjectId);
    RelayStandIn relay;
    ASSERT_TRUE(relay.Open());

    relay.Publish(test::MakeRecord(kIdentity, 1, 2, 3));
    host.ClearCalls();
    host.RunFrames(4);
    const auto poses = host.Calls(Kind::PoseUpdated);
    ASSERT_EQ(poses.size(), 4u) << "an unchanged record is reported again in every frame";
    for (const HostCall& call : poses) {
        ExpectIdentityPose(call.pose);
    }
    ExpectIdentityPose(host.Device()->GetPose());

    // The relay's default record while it sees no right-hand controller: zero matrix,
    // valid and connected.
    vr::TrackedDevicePose_t fallback = test::MakeRecord(kZero, 0, 0, 0);
    fallback.vVelocity = {};
    fallback.vAngularVelocity = {};
    relay.Publish(fallback);
    host.RunFrame();
    const vr::DriverPose_t pose = host.LastReportedPose().value();
    EXPECT_TRUE(pose.poseIsValid);
    EXPECT_TRUE(pose.deviceIsConnected);
    EXPECT_EQ(pose.result, vr::TrackingResult_Running_OK);
    EXPECT_EQ(pose.vecPosition[2], 0.0);
    EXPECT_NEAR(pose.qRotation.z, 0.5 * (0.966 + 0.259), 1e-12);
    EXPECT_EQ(host.Device()->GetPose().qRotation.z, pose.qRotation.z);
}

TEST_F(Frames, ReportNoPoseOnceTheBlockIsClosed) {
    InitAndActivate(kObjectId);
    {
        RelayStandIn relay;
        relay.Publish(test::MakeRecord(kIdentity, 1, 2, 3));
    }
    host.RunFrame();
    host.Deactivate();
    activated = false;
    host.ClearCalls();
    host.RunFrames(5);
    EXPECT_THAT(host.Calls(Kind::PoseUpdated), IsEmpty());
    ExpectIdentityPose(host.Device()->GetPose());

    const int fd = shm_open(kSharedPoseBlockName, O_RDONLY, 0);
    EXPECT_LT(fd, 0) << "Deactivate removes the block's name, so the next activation starts fresh";
    if (fd >= 0) {
        close(fd);
    }
}

// A relay killed inside its critical section leaves the lock at 1 for good. The frame must
// go on without a pose rather than spin forever; lastPose keeps the pose it had.
TEST_F(Frames, ALockHeldForeverDoesNotStallAFrame) {
    InitAndActivate(kObjectId);
    RelayStandIn relay;
    ASSERT_TRUE(relay.Open());
    relay.Publish(test::MakeRecord(kIdentity, 1, 2, 3));
    host.RunFrame();

    relay.HoldLock();
    StoreRelayedPose(relay.Block(), test::MakeRecord(kIdentity, 9, 9, 9));
    host.ClearCalls();
    auto frame = std::async(std::launch::async, [&] {
        const auto start = std::chrono::steady_clock::now();
        host.RunFrames(3);
        return std::chrono::steady_clock::now() - start;
    });
    if (frame.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        relay.Release();  // lets a spinning frame finish, so the test can end
        frame.wait();
        FAIL() << "a frame waited for a lock that is never released";
    }
    EXPECT_LT(frame.get(), std::chrono::seconds(2)) << "three frames with the lock held";
    EXPECT_THAT(host.Calls(Kind::PoseUpdated), IsEmpty());
    ExpectIdentityPose(host.Device()->GetPose());
    EXPECT_EQ(host.Calls(Kind::PropertyContainer).size(), 3u) << "the rest of each frame ran";

    relay.Release();
    host.RunFrame();
    ASSERT_EQ(host.Calls(Kind::PoseUpdated).size(), 1u);
    EXPECT_EQ(host.LastReportedPose()->vecPosition[0], 9.0);
}

// A section of that name that the driver did not make for itself is never used: another
// size, or (when the test can make one) another owner. Activation goes on without a block.
struct PlantedCase {
    const char* label;
    off_t size;
    bool otherOwner;
};

void PrintTo(const PlantedCase& c, std::ostream* os) {
    *os << c.label;
}

class Planted : public Frames, public ::testing::WithParamInterface<PlantedCase> {
  protected:
    void TearDown() override {
        Frames::TearDown();
        test::RemoveSharedPoseBlockName();
    }
};

TEST_P(Planted, SectionIsRefusedAndLeftAlone) {
    const PlantedCase& c = GetParam();
    if (c.otherOwner && geteuid() != 0) {
        GTEST_SKIP() << "making a section owned by another user needs root";
    }
    const int fd = shm_open(kSharedPoseBlockName, O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0) << "could not plant the section";
    ASSERT_EQ(ftruncate(fd, c.size), 0);
    if (c.otherOwner) {
        ASSERT_EQ(fchown(fd, 65534, 65534), 0);
    }
    // A marker in the bytes the driver would zero, as far as the section reaches.
    const std::size_t markerSize = std::min<std::size_t>(84, static_cast<std::size_t>(c.size));
    unsigned char marker[84];
    std::memset(marker, 0xA5, sizeof marker);
    ASSERT_EQ(pwrite(fd, marker, markerSize, 0), static_cast<ssize_t>(markerSize));

    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.ClearCalls();
    EXPECT_EQ(host.Activate(kObjectId), vr::VRInitError_None);
    activated = true;

    const std::vector<std::string> lines = host.LogLines();
    EXPECT_THAT(lines, ::testing::IsSupersetOf({"Failed to create file mapping object.",
                                                "Failed to map view of file."}));
    const auto first =
        std::find(lines.begin(), lines.end(), "Failed to create file mapping object.");
    const auto second = std::find(lines.begin(), lines.end(), "Failed to map view of file.");
    EXPECT_LT(first, second);
    EXPECT_EQ(host.Calls(Kind::PropertyWrite).size(), 4u) << "the device still declares itself";
    EXPECT_EQ(host.Calls(Kind::CreateBooleanComponent).size(), 3u);
    EXPECT_EQ(host.Calls(Kind::CreateScalarComponent).size(), 1u);

    host.RunFrames(3);
    EXPECT_THAT(host.Calls(Kind::PoseUpdated), IsEmpty());
    host.Deactivate();
    activated = false;

    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, c.size) << "the planted section is not resized";
    unsigned char now[84];
    ASSERT_EQ(pread(fd, now, markerSize, 0), static_cast<ssize_t>(markerSize));
    EXPECT_EQ(std::memcmp(now, marker, markerSize), 0) << "nor written";
    const int again = shm_open(kSharedPoseBlockName, O_RDONLY, 0);
    EXPECT_GE(again, 0) << "nor removed";
    if (again >= 0) {
        close(again);
    }
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(Sections, Planted,
                         ::testing::Values(PlantedCase{"TooSmall", 84, false},
                                           PlantedCase{"TooLarge", 4096, false},
                                           PlantedCase{"Empty", 0, false},
                                           PlantedCase{"AnotherOwner", 1024, true}),
                         [](const auto& info) { return std::string(info.param.label); });

// The toggle's counters are process-wide and start at zero when the library is loaded;
// the fixture loads it afresh for each test.
TEST_F(Frames, HandPriorityFlipsAtCall2001ToOneAndAt4002ToMinusOne) {
    InitAndActivate(kObjectId);
    host.ClearCalls();
    std::vector<std::pair<int, HostCall>> writes;
    for (int call = 1; call <= 6003; ++call) {
        host.RunFrame();
        for (HostCall& w : host.Calls(Kind::PropertyWrite)) {
            writes.emplace_back(call, std::move(w));
        }
        ASSERT_EQ(host.CallCount(Kind::PropertyContainer), 1u)
            << "one container look-up in call " << call;
        host.ClearCalls();
    }
    ASSERT_EQ(writes.size(), 3u);
    const int32_t expected[] = {1, -1, 1};
    const int calls[] = {2001, 4002, 6003};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const HostCall& w = writes[static_cast<std::size_t>(i)].second;
        EXPECT_EQ(writes[static_cast<std::size_t>(i)].first, calls[i]);
        EXPECT_EQ(w.handle, DriverHost::PropertyContainerFor(kObjectId));
        EXPECT_EQ(w.property, vr::Prop_ControllerHandSelectionPriority_Int32);
        EXPECT_EQ(w.writeType, vr::PropertyWrite_Set);
        EXPECT_EQ(w.typeTag, vr::k_unInt32PropertyTag);
        int32_t value = 0;
        ASSERT_EQ(w.bytes.size(), 4u);
        std::memcpy(&value, w.bytes.data(), 4);
        EXPECT_EQ(value, expected[i]);
    }
}

TEST_F(Frames, HandPriorityCountRunsOnAcrossReactivationAndRestartsWithAFreshLoad) {
    InitAndActivate(kObjectId);
    host.RunFrames(1000);
    host.Deactivate();
    ASSERT_EQ(host.Activate(kObjectId), vr::VRInitError_None);
    host.ClearCalls();
    host.RunFrames(1000);
    EXPECT_THAT(host.Calls(Kind::PropertyWrite), IsEmpty());
    host.RunFrame();
    ASSERT_EQ(host.Calls(Kind::PropertyWrite).size(), 1u) << "the 2001st call overall";

    // Unloading drops the library's state; the next load counts from zero again.
    host.Deactivate();
    activated = false;
    host.Cleanup();
    ASSERT_TRUE(host.Unload());
    ASSERT_TRUE(host.Load(test::InstalledDriverFolder()));
    InitAndActivate(kObjectId);
    host.ClearCalls();
    host.RunFrames(2000);
    EXPECT_THAT(host.Calls(Kind::PropertyWrite), IsEmpty());
    host.RunFrame();
    const auto writes = host.Calls(Kind::PropertyWrite);
    ASSERT_EQ(writes.size(), 1u);
    int32_t value = 0;
    std::memcpy(&value, writes[0].bytes.data(), 4);
    EXPECT_EQ(value, 1) << "a fresh library's first flip writes 1";
}

}  // namespace
}  // namespace quenlark
