// The driver's side of the shared pose block on the static core: creation, the copy out
// under the lock, closing, and what is left alone in the section's bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "common/shared_pose_block.h"
#include "driver/shared_pose_block_driver.h"
#include "tests/driver/driver_fixtures.h"
#include "tests/driver/relay_stand_in.h"

namespace quenlark {
namespace {

using test::RelayStandIn;

constexpr float kIdentity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

class DriverBlock : public ::testing::Test {
  protected:
    void SetUp() override { test::RemoveSharedPoseBlockName(); }
    void TearDown() override {
        CloseSharedPoseBlock();
        test::RemoveSharedPoseBlockName();
    }
};

bool AllBytes(const unsigned char* bytes, std::size_t n, unsigned char value) {
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] != value) {
            return false;
        }
    }
    return true;
}

TEST_F(DriverBlock, ReadRightAfterCreationYieldsTheZeroRecord) {
    EXPECT_FALSE(SharedPoseBlockPresent());
    EXPECT_FALSE(ReadPose().has_value()) << "absent before creation";
    CreateSharedPoseBlock();
    ASSERT_TRUE(SharedPoseBlockPresent());
    const auto pose = ReadPose();
    ASSERT_TRUE(pose.has_value());
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(pose->mDeviceToAbsoluteTracking.m[r][c], 0.0f);
        }
    }
    EXPECT_EQ(pose->vVelocity.v[0], 0.0f);
    EXPECT_EQ(pose->vAngularVelocity.v[2], 0.0f);
    EXPECT_EQ(pose->eTrackingResult, 0);
    EXPECT_FALSE(pose->bPoseIsValid);
    EXPECT_FALSE(pose->bDeviceIsConnected);
}

TEST_F(DriverBlock, RecordIsHandedOnUnchangedWhateverItsStatus) {
    CreateSharedPoseBlock();
    RelayStandIn relay;
    ASSERT_TRUE(relay.Open());
    vr::TrackedDevicePose_t record = test::MakeRecord(kIdentity, 1.5f, -2.0f, 0.125f);
    record.eTrackingResult = vr::TrackingResult_Calibrating_OutOfRange;
    record.bPoseIsValid = false;
    relay.Publish(record);

    const auto pose = ReadPose();
    ASSERT_TRUE(pose.has_value());
    EXPECT_EQ(std::memcmp(&pose->mDeviceToAbsoluteTracking, &record.mDeviceToAbsoluteTracking, 48),
              0);
    EXPECT_EQ(std::memcmp(&pose->vVelocity, &record.vVelocity, 12), 0);
    EXPECT_EQ(std::memcmp(&pose->vAngularVelocity, &record.vAngularVelocity, 12), 0);
    EXPECT_EQ(pose->eTrackingResult, vr::TrackingResult_Calibrating_OutOfRange);
    EXPECT_FALSE(pose->bPoseIsValid);
    EXPECT_TRUE(pose->bDeviceIsConnected);
    EXPECT_EQ(LockRef(relay.Block().lock).load(), 0) << "the read releases the lock";
}

// Creation takes over a section of this user with the right size (a relay of an earlier
// activation may still hold one) and resets bytes 0 to 83, the lock included; reading and
// publishing never touch the reserved bytes or bytes 84 to 1023.
TEST_F(DriverBlock, CreationResetsTheFirst84BytesAndNothingTouchesTheRest) {
    const int fd = shm_open(kSharedPoseBlockName, O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, kSharedPoseBlockSize), 0);
    unsigned char filler[kSharedPoseBlockSize];
    std::memset(filler, 0x5A, sizeof filler);
    filler[0] = 1;  // a lock left held
    ASSERT_EQ(pwrite(fd, filler, sizeof filler, 0), static_cast<ssize_t>(sizeof filler));
    close(fd);

    CreateSharedPoseBlock();
    ASSERT_TRUE(SharedPoseBlockPresent());
    RelayStandIn relay;
    ASSERT_TRUE(relay.Open());
    const auto* bytes = reinterpret_cast<const unsigned char*>(&relay.Block());
    EXPECT_TRUE(AllBytes(bytes, 84, 0)) << "lock, reserved bytes and record are zeroed";
    EXPECT_TRUE(AllBytes(bytes + 84, 940, 0x5A)) << "the unused bytes are left as they are";

    relay.Publish(test::MakeRecord(kIdentity, 1, 2, 3));
    ASSERT_TRUE(ReadPose().has_value());
    ASSERT_TRUE(ReadPose().has_value());
    EXPECT_TRUE(AllBytes(bytes + 1, 3, 0));
    EXPECT_TRUE(AllBytes(bytes + 84, 940, 0x5A));
}

TEST_F(DriverBlock, CloseMakesTheBlockAbsentAndRemovesItsName) {
    CreateSharedPoseBlock();
    {
        RelayStandIn relay;
        relay.Publish(test::MakeRecord(kIdentity, 1, 2, 3));
    }
    CloseSharedPoseBlock();
    EXPECT_FALSE(SharedPoseBlockPresent());
    EXPECT_FALSE(ReadPose().has_value());
    EXPECT_LT(shm_open(kSharedPoseBlockName, O_RDONLY, 0), 0);
    CloseSharedPoseBlock();  // a second close finds nothing to release

    // The next creation starts from fresh, zeroed memory.
    CreateSharedPoseBlock();
    const auto pose = ReadPose();
    ASSERT_TRUE(pose.has_value());
    EXPECT_EQ(pose->mDeviceToAbsoluteTracking.m[0][3], 0.0f);
}

TEST_F(DriverBlock, ARelayKeepsItsViewAfterTheDriverClosesAndANewBlockIsSeparate) {
    CreateSharedPoseBlock();
    RelayStandIn oldRelay;
    ASSERT_TRUE(oldRelay.Open());
    CloseSharedPoseBlock();
    oldRelay.Publish(test::MakeRecord(kIdentity, 7, 7, 7));  // the old view is still valid

    CreateSharedPoseBlock();
    const auto pose = ReadPose();
    ASSERT_TRUE(pose.has_value());
    EXPECT_EQ(pose->mDeviceToAbsoluteTracking.m[0][3], 0.0f)
        << "the old relay's writes do not reach it";
}

TEST_F(DriverBlock, ActivatedAgainWithoutCloseResetsTheBlockInPlace) {
    CreateSharedPoseBlock();
    RelayStandIn relay;
    relay.Publish(test::MakeRecord(kIdentity, 1, 2, 3));
    relay.HoldLock();
    CreateSharedPoseBlock();
    EXPECT_EQ(LockRef(relay.Block().lock).load(), 0);
    const auto pose = ReadPose();
    ASSERT_TRUE(pose.has_value());
    EXPECT_EQ(pose->mDeviceToAbsoluteTracking.m[0][3], 0.0f);
}

TEST_F(DriverBlock, ReadGivesUpQuicklyWhileTheLockIsHeldAndRecoversAfterwards) {
    CreateSharedPoseBlock();
    RelayStandIn relay;
    relay.Publish(test::MakeRecord(kIdentity, 1, 2, 3));
    relay.HoldLock();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(ReadPose().has_value());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "100 bounded attempts";
    EXPECT_EQ(LockRef(relay.Block().lock).load(), 1)
        << "a failed read leaves the holder's lock alone";
    relay.Release();
    const auto pose = ReadPose();
    ASSERT_TRUE(pose.has_value());
    EXPECT_EQ(pose->mDeviceToAbsoluteTracking.m[2][3], 3.0f);
}

}  // namespace
}  // namespace quenlark
