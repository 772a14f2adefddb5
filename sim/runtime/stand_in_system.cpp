#include "sim/runtime/stand_in_system.h"

#include <algorithm>
#include <cstring>

#include "common/pose_record_layout.h"

namespace quenlark::sim {
namespace {

vr::HmdMatrix34_t Identity34() {
    vr::HmdMatrix34_t m{};
    m.m[0][0] = m.m[1][1] = m.m[2][2] = 1.0f;
    return m;
}

void SetError(vr::ETrackedPropertyError* error) {
    if (error != nullptr) {
        *error = vr::TrackedProp_UnknownProperty;
    }
}

}  // namespace

void StandInSystem::Attach(SceneBlock* block) {
    block_ = block;
    scene_ = block != nullptr ? LoadScene(*block) : SceneData{};
}

const SceneDevice* StandInSystem::Find(vr::TrackedDeviceIndex_t index) const {
    const std::uint32_t count = std::min(scene_.deviceCount, kMaxSceneDevices);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (scene_.devices[i].index == index) {
            return &scene_.devices[i];
        }
    }
    return nullptr;
}

void StandInSystem::GetDeviceToAbsoluteTrackingPose(
    vr::ETrackingUniverseOrigin eOrigin, float fPredictedSecondsToPhotonsFromNow,
    vr::TrackedDevicePose_t* pTrackedDevicePoseArray, uint32_t unTrackedDevicePoseArrayCount) {
    if (block_ != nullptr) {
        Word(block_->lastPoseOrigin).store(eOrigin, std::memory_order_relaxed);
        Word(block_->lastPrediction)
            .store(fPredictedSecondsToPhotonsFromNow, std::memory_order_relaxed);
        Word(block_->lastPoseArrayCount)
            .store(unTrackedDevicePoseArrayCount, std::memory_order_relaxed);
        // Counted before the scene is read: a writer that stored a scene and then read the
        // count is certain that every later-counted query sees that scene.
        Word(block_->poseQueries).fetch_add(1, std::memory_order_seq_cst);
        scene_ = LoadScene(*block_);
    }
    if (pTrackedDevicePoseArray == nullptr) {
        return;
    }
    std::memset(pTrackedDevicePoseArray, 0,
                sizeof(vr::TrackedDevicePose_t) * unTrackedDevicePoseArrayCount);
    const std::uint32_t count = std::min(scene_.deviceCount, kMaxSceneDevices);
    for (std::uint32_t i = 0; i < count; ++i) {
        const SceneDevice& device = scene_.devices[i];
        if (device.index < unTrackedDevicePoseArrayCount) {
            pTrackedDevicePoseArray[device.index] =
                FromScenePose<vr::TrackedDevicePose_t>(device.pose);
        }
    }
}

uint32_t StandInSystem::GetSortedTrackedDeviceIndicesOfClass(
    vr::ETrackedDeviceClass eTrackedDeviceClass,
    vr::TrackedDeviceIndex_t* punTrackedDeviceIndexArray, uint32_t unTrackedDeviceIndexArrayCount,
    vr::TrackedDeviceIndex_t unRelativeToTrackedDeviceIndex) {
    if (block_ != nullptr) {
        Word(block_->lastIndexClass).store(eTrackedDeviceClass, std::memory_order_relaxed);
        Word(block_->lastIndexArrayCount)
            .store(unTrackedDeviceIndexArrayCount, std::memory_order_relaxed);
        Word(block_->lastRelativeTo)
            .store(unRelativeToTrackedDeviceIndex, std::memory_order_relaxed);
    }
    // The scene's order stands for the runtime's order relative to the given device.
    uint32_t found = 0;
    const std::uint32_t count = std::min(scene_.deviceCount, kMaxSceneDevices);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (scene_.devices[i].deviceClass != eTrackedDeviceClass) {
            continue;
        }
        if (punTrackedDeviceIndexArray != nullptr && found < unTrackedDeviceIndexArrayCount) {
            punTrackedDeviceIndexArray[found] = scene_.devices[i].index;
        }
        ++found;
    }
    // Like the runtime: the number of devices, which is the size needed when the array
    // was too small.
    return found;
}

vr::TrackedDeviceIndex_t StandInSystem::GetTrackedDeviceIndexForControllerRole(
    vr::ETrackedControllerRole unDeviceType) {
    const std::uint32_t count = std::min(scene_.deviceCount, kMaxSceneDevices);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (scene_.devices[i].role == unDeviceType) {
            return scene_.devices[i].index;
        }
    }
    return vr::k_unTrackedDeviceIndexInvalid;
}

vr::ETrackedControllerRole StandInSystem::GetControllerRoleForTrackedDeviceIndex(
    vr::TrackedDeviceIndex_t unDeviceIndex) {
    const SceneDevice* device = Find(unDeviceIndex);
    return device != nullptr ? static_cast<vr::ETrackedControllerRole>(device->role)
                             : vr::TrackedControllerRole_Invalid;
}

vr::ETrackedDeviceClass StandInSystem::GetTrackedDeviceClass(
    vr::TrackedDeviceIndex_t unDeviceIndex) {
    const SceneDevice* device = Find(unDeviceIndex);
    return device != nullptr ? static_cast<vr::ETrackedDeviceClass>(device->deviceClass)
                             : vr::TrackedDeviceClass_Invalid;
}

bool StandInSystem::IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t unDeviceIndex) {
    const SceneDevice* device = Find(unDeviceIndex);
    return device != nullptr && device->pose.deviceIsConnected;
}

// Everything below is outside what a pose client asks for: neutral answers.

void StandInSystem::GetRecommendedRenderTargetSize(uint32_t* pnWidth, uint32_t* pnHeight) {
    if (pnWidth != nullptr) {
        *pnWidth = 0;
    }
    if (pnHeight != nullptr) {
        *pnHeight = 0;
    }
}

vr::HmdMatrix44_t StandInSystem::GetProjectionMatrix(vr::EVREye, float, float) {
    return {};
}

void StandInSystem::GetProjectionRaw(vr::EVREye, float* pfLeft, float* pfRight, float* pfTop,
                                     float* pfBottom) {
    for (float* value : {pfLeft, pfRight, pfTop, pfBottom}) {
        if (value != nullptr) {
            *value = 0.0f;
        }
    }
}

bool StandInSystem::ComputeDistortion(vr::EVREye, float, float, vr::DistortionCoordinates_t*) {
    return false;
}
vr::HmdMatrix34_t StandInSystem::GetEyeToHeadTransform(vr::EVREye) {
    return Identity34();
}
bool StandInSystem::GetTimeSinceLastVsync(float*, uint64_t*) {
    return false;
}
int32_t StandInSystem::GetD3D9AdapterIndex() {
    return -1;
}

void StandInSystem::GetDXGIOutputInfo(int32_t* pnAdapterIndex) {
    if (pnAdapterIndex != nullptr) {
        *pnAdapterIndex = -1;
    }
}

void StandInSystem::GetOutputDevice(uint64_t* pnDevice, vr::ETextureType, VkInstance_T*) {
    if (pnDevice != nullptr) {
        *pnDevice = 0;
    }
}

bool StandInSystem::IsDisplayOnDesktop() {
    return false;
}
bool StandInSystem::SetDisplayVisibility(bool) {
    return false;
}
vr::HmdMatrix34_t StandInSystem::GetSeatedZeroPoseToStandingAbsoluteTrackingPose() {
    return Identity34();
}
vr::HmdMatrix34_t StandInSystem::GetRawZeroPoseToStandingAbsoluteTrackingPose() {
    return Identity34();
}

vr::EDeviceActivityLevel StandInSystem::GetTrackedDeviceActivityLevel(vr::TrackedDeviceIndex_t) {
    return vr::k_EDeviceActivityLevel_Unknown;
}

void StandInSystem::ApplyTransform(vr::TrackedDevicePose_t* pOutputPose,
                                   const vr::TrackedDevicePose_t* pTrackedDevicePose,
                                   const vr::HmdMatrix34_t*) {
    if (pOutputPose != nullptr && pTrackedDevicePose != nullptr) {
        *pOutputPose = *pTrackedDevicePose;
    }
}

bool StandInSystem::GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t,
                                                 vr::ETrackedDeviceProperty,
                                                 vr::ETrackedPropertyError* pError) {
    SetError(pError);
    return false;
}

float StandInSystem::GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t,
                                                   vr::ETrackedDeviceProperty,
                                                   vr::ETrackedPropertyError* pError) {
    SetError(pError);
    return 0.0f;
}

int32_t StandInSystem::GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t,
                                                     vr::ETrackedDeviceProperty,
                                                     vr::ETrackedPropertyError* pError) {
    SetError(pError);
    return 0;
}

uint64_t StandInSystem::GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t,
                                                       vr::ETrackedDeviceProperty,
                                                       vr::ETrackedPropertyError* pError) {
    SetError(pError);
    return 0;
}

vr::HmdMatrix34_t StandInSystem::GetMatrix34TrackedDeviceProperty(
    vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty, vr::ETrackedPropertyError* pError) {
    SetError(pError);
    return {};
}

uint32_t StandInSystem::GetArrayTrackedDeviceProperty(vr::TrackedDeviceIndex_t,
                                                      vr::ETrackedDeviceProperty,
                                                      vr::PropertyTypeTag_t, void*, uint32_t,
                                                      vr::ETrackedPropertyError* pError) {
    SetError(pError);
    return 0;
}

uint32_t StandInSystem::GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t,
                                                       vr::ETrackedDeviceProperty, char* pchValue,
                                                       uint32_t unBufferSize,
                                                       vr::ETrackedPropertyError* pError) {
    SetError(pError);
    if (pchValue != nullptr && unBufferSize > 0) {
        pchValue[0] = '\0';
    }
    return 0;
}

const char* StandInSystem::GetPropErrorNameFromEnum(vr::ETrackedPropertyError) {
    return "TrackedProp_UnknownProperty";
}
bool StandInSystem::PollNextEvent(vr::VREvent_t*, uint32_t) {
    return false;
}
bool StandInSystem::PollNextEventWithPose(vr::ETrackingUniverseOrigin, vr::VREvent_t*, uint32_t,
                                          vr::TrackedDevicePose_t*) {
    return false;
}
const char* StandInSystem::GetEventTypeNameFromEnum(vr::EVREventType) {
    return "VREvent_None";
}
vr::HiddenAreaMesh_t StandInSystem::GetHiddenAreaMesh(vr::EVREye, vr::EHiddenAreaMeshType) {
    return {};
}
bool StandInSystem::GetControllerState(vr::TrackedDeviceIndex_t, vr::VRControllerState_t*,
                                       uint32_t) {
    return false;
}
bool StandInSystem::GetControllerStateWithPose(vr::ETrackingUniverseOrigin,
                                               vr::TrackedDeviceIndex_t, vr::VRControllerState_t*,
                                               uint32_t, vr::TrackedDevicePose_t*) {
    return false;
}
void StandInSystem::TriggerHapticPulse(vr::TrackedDeviceIndex_t, uint32_t, unsigned short) {}
const char* StandInSystem::GetButtonIdNameFromEnum(vr::EVRButtonId) {
    return "";
}
const char* StandInSystem::GetControllerAxisTypeNameFromEnum(vr::EVRControllerAxisType) {
    return "";
}
bool StandInSystem::IsInputAvailable() {
    return true;
}
bool StandInSystem::IsSteamVRDrawingControllers() {
    return false;
}
bool StandInSystem::ShouldApplicationPause() {
    return false;
}
bool StandInSystem::ShouldApplicationReduceRenderingWork() {
    return false;
}
vr::EVRFirmwareError StandInSystem::PerformFirmwareUpdate(vr::TrackedDeviceIndex_t) {
    return vr::VRFirmwareError_None;
}
void StandInSystem::AcknowledgeQuit_Exiting() {}

uint32_t StandInSystem::GetAppContainerFilePaths(char* pchBuffer, uint32_t unBufferSize) {
    if (pchBuffer != nullptr && unBufferSize > 0) {
        pchBuffer[0] = '\0';
    }
    return 1;
}

const char* StandInSystem::GetRuntimeVersion() {
    return "stand-in";
}

}  // namespace quenlark::sim
