#include "relay/relay_loop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "relay/console.h"
#include "relay/parent_watch.h"
#include "relay/shared_pose_block_relay.h"

namespace quenlark {
namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(3000);
// The pause is slept in slices so that a parent's end cuts it short.
constexpr auto kPauseSlice = std::chrono::milliseconds(20);
constexpr std::uint32_t kMaxDevices = vr::k_unMaxTrackedDeviceCount;

bool ParentHasExited() {
    return parentExited.load(std::memory_order_relaxed);
}

// Sleeps until the pause is over; false when the parent exited meanwhile.
bool PauseBeforeRetry() {
    const auto until = std::chrono::steady_clock::now() + kRetryPause;
    while (!ParentHasExited()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kPauseSlice, until - now));
    }
    return false;
}

// Working data of a pass, reused from pass to pass.
vr::TrackedDevicePose_t poses[kMaxDevices];
vr::TrackedDeviceIndex_t controllers[kMaxDevices];

}  // namespace

vr::TrackedDevicePose_t DefaultPoseRecord() {
    vr::TrackedDevicePose_t record;
    std::memset(&record, 0, sizeof record);
    record.eTrackingResult = vr::TrackingResult_Running_OK;
    record.bPoseIsValid = true;
    record.bDeviceIsConnected = true;
    return record;
}

vr::IVRSystem* ConnectToRuntime() {
    for (;;) {
        vr::EVRInitError error = vr::VRInitError_None;
        vr::IVRSystem* system = vr::VR_Init(&error, vr::VRApplication_Background, nullptr);
        if (error == vr::VRInitError_None && system == nullptr) {
            // The runtime accepted but served no IVRSystem_022: no interface to relay from.
            error = vr::VRInitError_Init_InterfaceNotFound;
        }
        if (error == vr::VRInitError_None) {
            return system;
        }
        const std::string line = std::string("Failed to initialize OpenVR, error code: ") +
                                 vr::VR_GetVRInitErrorAsEnglishDescription(error);
        WriteLine(line.c_str());
        vr::VR_Shutdown();
        if (ParentHasExited() || !PauseBeforeRetry()) {
            return nullptr;
        }
    }
}

void RunRelayLoop(vr::IVRSystem& system) {
    const vr::TrackedDevicePose_t defaultRecord = DefaultPoseRecord();
    vr::TrackedDevicePose_t record;
    while (!ParentHasExited()) {
        system.GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, poses,
                                               kMaxDevices);
        // The count is the number of controllers, which would exceed the array if a runtime
        // ever had more; only what was written is read.
        const std::uint32_t count = std::min(system.GetSortedTrackedDeviceIndicesOfClass(
                                                 vr::TrackedDeviceClass_Controller, controllers,
                                                 kMaxDevices, vr::k_unTrackedDeviceIndex_Hmd),
                                             kMaxDevices);

        std::memcpy(&record, &defaultRecord, sizeof record);
        for (std::uint32_t i = 0; i < count; ++i) {
            const vr::TrackedDeviceIndex_t index = controllers[i];
            if (index >= kMaxDevices) {
                continue;  // names no entry of the pose array
            }
            const vr::ETrackedControllerRole role =
                system.GetControllerRoleForTrackedDeviceIndex(index);
            ReportControllerPosition(index, poses[index]);
            if (role == vr::TrackedControllerRole_RightHand) {
                // All 80 bytes as the runtime returned them, its status fields included.
                std::memcpy(&record, &poses[index], sizeof record);
            }
        }
        if (!PublishPose(record)) {
            return;
        }
    }
}

}  // namespace quenlark
