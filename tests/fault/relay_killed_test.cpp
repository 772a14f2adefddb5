// The relay killed with SIGKILL at random moments while it publishes: frames never wait
// longer than the reader's lock bound allows, and the device keeps the last pose it had,
// even when the relay dies holding the lock.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "common/shared_pose_block.h"
#include "sim/runtime/runtime_scene.h"
#include "tests/driver/driver_fixtures.h"
#include "tests/driver/relay_stand_in.h"
#include "tests/relay/relay_process.h"

namespace quenlark {
namespace {

using namespace std::chrono_literals;

// The build's QUENLARK_FAULT_RELAY_KILLS (200 unless configured otherwise).
constexpr int kKills = QUENLARK_FAULT_RELAY_KILLS;

// 4096 lock attempts take microseconds; a frame that waited for the lock itself would take
// as long as the lock is held, which after a kill is for ever.
constexpr auto kFrameBound = 100ms;

// Frames on a thread of their own until stopped; the longest one is kept.
class FrameRunner {
  public:
    explicit FrameRunner(sim::DriverHost& host)
        : thread_([this, &host] {
              while (!stop_.load(std::memory_order_relaxed)) {
                  const auto begin = std::chrono::steady_clock::now();
                  host.RunFrame();
                  const auto took = std::chrono::steady_clock::now() - begin;
                  longest_ = std::max(longest_, took);
                  ++frames_;
              }
          }) {}

    // Stops the thread; the longest frame and the number of frames.
    std::pair<std::chrono::steady_clock::duration, long> Stop() {
        stop_.store(true, std::memory_order_relaxed);
        thread_.join();
        return {longest_, frames_};
    }

  private:
    std::atomic<bool> stop_{false};
    std::chrono::steady_clock::duration longest_{};
    long frames_ = 0;
    std::thread thread_;
};

class RelayKilled : public test::InstalledDriver {
  protected:
    void SetUp() override {
        test::RemoveSharedPoseBlockName();
        InstalledDriver::SetUp();
    }
    void TearDown() override {
        InstalledDriver::TearDown();
        test::RemoveSharedPoseBlockName();
    }

    // orbelin on the driver's block, against this test's scene, until it publishes.
    std::unique_ptr<test::RelayProcess> StartRelay() {
        test::RelayOptions options;
        options.commandLine = std::to_string(kParentFd);
        options.parentFd = parent.Pidfd();
        options.parentFdInChild = kParentFd;
        options.environment = scene.Environment();
        auto relay = std::make_unique<test::RelayProcess>(options);
        EXPECT_TRUE(relay->WaitForControllerLines(1)) << relay->Stderr();
        return relay;
    }

    static constexpr int kParentFd = 100;
    sim::RuntimeScene scene;
    test::StandInParent parent;
};

TEST_F(RelayKilled, FramesStayWithinTheLockBoundAndTheDeviceKeepsItsLastPose) {
    scene.SetDevices(
        {sim::SceneController(3, sim::kRoleRightHand, sim::ScenePoseAt(0.5f, 1.25f, -0.75f))});
    InitAndActivate(7);
    // Hundreds of thousands of frames: a growing call record would make its own stalls.
    host.SetRecording(false);
    test::RelayStandIn driverBlock;  // the block as mapped by a relay: to see the lock byte
    ASSERT_TRUE(driverBlock.Open());

    // The pose every publication of this scene gives the device.
    std::optional<vr::DriverPose_t> expected;
    {
        auto relay = StartRelay();
        ASSERT_TRUE(scene.WaitForPassWithCurrentScene(15s));
        host.RunFrame();
        expected = host.Device()->GetPose();
        ASSERT_TRUE(expected->poseIsValid);
    }

    std::mt19937 random(6);
    std::uniform_int_distribution<int> delayUs(0, 20000);
    int killedHoldingTheLock = 0;
    for (int round = 0; round < kKills; ++round) {
        SCOPED_TRACE("kill " + std::to_string(round));
        auto relay = StartRelay();
        FrameRunner frames(host);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ASSERT_EQ(kill(relay->Pid(), SIGKILL), 0);
        ASSERT_EQ(relay->WaitForExit(), -SIGKILL);
        std::this_thread::sleep_for(2ms);  // frames after the kill
        const auto [longest, count] = frames.Stop();
        EXPECT_LT(longest, kFrameBound) << "over " << count << " frames";

        host.RunFrame();
        const vr::DriverPose_t pose = host.Device()->GetPose();
        EXPECT_TRUE(pose.poseIsValid);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(pose.vecPosition[i], expected->vecPosition[i]);
        }
        EXPECT_EQ(pose.qRotation.w, expected->qRotation.w);
        EXPECT_EQ(pose.qRotation.x, expected->qRotation.x);

        // A relay that died holding the lock leaves it held for good; the next relay of
        // this test gets a free lock, as a fresh block would give it.
        if (LockRef(driverBlock.Block().lock).load() != 0) {
            ++killedHoldingTheLock;
            driverBlock.Release();
        }
        if (HasFatalFailure()) {
            return;
        }
    }
    RecordProperty("killed_holding_the_lock", killedHoldingTheLock);
}

}  // namespace
}  // namespace quenlark
