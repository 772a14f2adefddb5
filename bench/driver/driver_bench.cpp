// The driver's frame path: the frame update with the shared pose block present (an idle
// frame, a frame in which three presses start, a frame without the block), the pose
// composition alone and the uncontended read of the block. The stand-in host records
// nothing while these run, so the figures are the driver's.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include "common/section.h"
#include "common/shared_pose_block.h"
#include "driver/controller_driver.h"
#include "driver/device_provider.h"
#include "driver/pending_button_events.h"
#include "driver/pose_composition.h"
#include "driver/shared_pose_block_driver.h"
#include "sim/host/driver_host.h"

namespace quenlark {
namespace {

vr::TrackedDevicePose_t SampleRecord() {
    vr::TrackedDevicePose_t record{};
    const float m[3][4] = {
        {0.36f, 0.48f, -0.8f, 0.1f}, {-0.8f, 0.6f, 0.0f, 1.2f}, {0.48f, 0.64f, 0.6f, -0.3f}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            record.mDeviceToAbsoluteTracking.m[r][c] = m[r][c];
        }
    }
    record.vVelocity = {{0.1f, 0.2f, 0.3f}};
    record.eTrackingResult = vr::TrackingResult_Running_OK;
    record.bPoseIsValid = true;
    record.bDeviceIsConnected = true;
    return record;
}

// The static core hosted and activated, with a record published into its block.
class ActiveDevice {
  public:
    explicit ActiveDevice(bool keepBlock = true) {
        shm_unlink(kSharedPoseBlockName);
        host.UseFactory(&ServeDriverInterface);
        ok = host.Init() == vr::VRInitError_None && host.Activate(3) == vr::VRInitError_None;
        host.SetRecording(false);
        device = static_cast<ControllerDriver*>(host.Device());
        if (ok && keepBlock) {
            Publish(SampleRecord());
        } else if (ok) {
            CloseSharedPoseBlock();
        }
    }
    ~ActiveDevice() {
        host.Deactivate();
        host.Cleanup();
        vr::CleanupDriverContext();
    }

    static void Publish(const vr::TrackedDevicePose_t& record) {
        const section::Handle handle = section::Open(kSharedPoseBlockName, kSharedPoseBlockSize);
        auto* block = static_cast<SharedPoseBlock*>(section::Map(handle, kSharedPoseBlockSize));
        if (block != nullptr) {
            AcquirePoseLockUnless(*block, [] { return false; });
            StoreRelayedPose(*block, record);
            ReleasePoseLock(*block, std::memory_order_release);
        }
        section::Unmap(block, kSharedPoseBlockSize);
        section::Close(handle);
    }

    sim::DriverHost host;
    ControllerDriver* device = nullptr;
    bool ok = false;
};

void BM_RunFrame_Idle(benchmark::State& state) {
    ActiveDevice active;
    if (!active.ok) {
        state.SkipWithError("could not activate the device");
        return;
    }
    for (auto _ : state) {
        active.host.RunFrame();
    }
    if (active.host.CallCount(sim::HostCall::Kind::PoseUpdated) == 0) {
        state.SkipWithError("the frames reported no pose");
    }
}
BENCHMARK(BM_RunFrame_Idle);

// Every iteration starts all three presses: the flags are set and the press states put
// back to idle (a few plain stores, counted in the figure).
void BM_RunFrame_PressStart(benchmark::State& state) {
    ActiveDevice active;
    if (!active.ok) {
        state.SkipWithError("could not activate the device");
        return;
    }
    ControllerDriver& d = *active.device;
    for (auto _ : state) {
        d.firePressed = d.ejectMagPressed = d.loadMagPressed = false;
        PendingButtonEvents::fire.store(true, std::memory_order_relaxed);
        PendingButtonEvents::ejectMag.store(true, std::memory_order_relaxed);
        PendingButtonEvents::loadMag.store(true, std::memory_order_relaxed);
        active.host.RunFrame();
    }
}
BENCHMARK(BM_RunFrame_PressStart);

// The same frame without the block: the difference to the idle frame is the pose path.
void BM_RunFrame_NoBlock(benchmark::State& state) {
    ActiveDevice active(false);
    if (!active.ok) {
        state.SkipWithError("could not activate the device");
        return;
    }
    for (auto _ : state) {
        active.host.RunFrame();
    }
}
BENCHMARK(BM_RunFrame_NoBlock);

// The stand-in host's own share of a frame's pose path: taking the pose the driver reports.
// A frame's pose path less this is the driver's part.
void BM_HostPoseUpdated(benchmark::State& state) {
    ActiveDevice active;
    if (!active.ok) {
        state.SkipWithError("could not activate the device");
        return;
    }
    const vr::DriverPose_t pose = ComposeDevicePose(SampleRecord());
    vr::IVRServerDriverHost* host = vr::VRServerDriverHost();
    for (auto _ : state) {
        host->TrackedDevicePoseUpdated(0, pose, sizeof pose);
    }
}
BENCHMARK(BM_HostPoseUpdated);

void BM_ComposeDevicePose(benchmark::State& state) {
    vr::TrackedDevicePose_t record = SampleRecord();
    for (auto _ : state) {
        benchmark::DoNotOptimize(record);
        vr::DriverPose_t pose = ComposeDevicePose(record);
        benchmark::DoNotOptimize(pose);
    }
}
BENCHMARK(BM_ComposeDevicePose);

void BM_ReadPose_Uncontended(benchmark::State& state) {
    shm_unlink(kSharedPoseBlockName);
    CreateSharedPoseBlock();
    if (!SharedPoseBlockPresent()) {
        state.SkipWithError("could not create the shared pose block");
        return;
    }
    ActiveDevice::Publish(SampleRecord());
    for (auto _ : state) {
        auto pose = ReadPose();
        benchmark::DoNotOptimize(pose);
    }
    CloseSharedPoseBlock();
}
BENCHMARK(BM_ReadPose_Uncontended);

}  // namespace
}  // namespace quenlark

BENCHMARK_MAIN();
