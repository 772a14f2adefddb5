#include "sim/host/runtime_interfaces.h"

#include <cstring>
#include <string_view>

namespace quenlark::sim {
namespace {

// Copies text into a caller's buffer, cut to fit and always terminated; returns the size
// the whole text needs, terminator included, as the runtime's string getters do.
uint32_t CopyOut(std::string_view text, char* buffer, uint32_t size) {
    if (buffer != nullptr && size > 0) {
        const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<uint32_t>(text.size() + 1);
}

template <class Error>
void SetError(Error* error, Error value) {
    if (error != nullptr) {
        *error = value;
    }
}

}  // namespace

// --- IVRServerDriverHost_006 -------------------------------------------------------------

bool HostServerDriverHost::TrackedDeviceAdded(const char* pchDeviceSerialNumber,
                                              vr::ETrackedDeviceClass eDeviceClass,
                                              vr::ITrackedDeviceServerDriver* pDriver) {
    recorder_.Record(HostCall::Kind::TrackedDeviceAdded, [&](HostCall& call) {
        call.text = pchDeviceSerialNumber != nullptr ? pchDeviceSerialNumber : "";
        call.deviceClass = eDeviceClass;
    });
    vr::ITrackedDeviceServerDriver* none = nullptr;
    device_.compare_exchange_strong(none, pDriver, std::memory_order_relaxed);
    return pDriver != nullptr;
}

void HostServerDriverHost::TrackedDevicePoseUpdated(uint32_t unWhichDevice,
                                                    const vr::DriverPose_t& newPose,
                                                    uint32_t unPoseStructSize) {
    recorder_.RecordPose(unWhichDevice, newPose, unPoseStructSize);
}

void HostServerDriverHost::VsyncEvent(double) {
    recorder_.RecordOther("VsyncEvent");
}

void HostServerDriverHost::VendorSpecificEvent(uint32_t, vr::EVREventType,
                                               const vr::VREvent_Data_t&, double) {
    recorder_.RecordOther("VendorSpecificEvent");
}

bool HostServerDriverHost::IsExiting() {
    recorder_.RecordOther("IsExiting");
    return false;
}

bool HostServerDriverHost::PollNextEvent(vr::VREvent_t*, uint32_t) {
    recorder_.RecordOther("PollNextEvent");
    return false;
}

void HostServerDriverHost::GetRawTrackedDevicePoses(
    float, vr::TrackedDevicePose_t* pTrackedDevicePoseArray,
    uint32_t unTrackedDevicePoseArrayCount) {
    recorder_.RecordOther("GetRawTrackedDevicePoses");
    if (pTrackedDevicePoseArray != nullptr) {
        std::memset(static_cast<void*>(pTrackedDevicePoseArray), 0,
                    sizeof(vr::TrackedDevicePose_t) * unTrackedDevicePoseArrayCount);
    }
}

void HostServerDriverHost::RequestRestart(const char*, const char*, const char*, const char*) {
    recorder_.RecordOther("RequestRestart");
}

uint32_t HostServerDriverHost::GetFrameTimings(vr::Compositor_FrameTiming*, uint32_t) {
    recorder_.RecordOther("GetFrameTimings");
    return 0;
}

void HostServerDriverHost::SetDisplayEyeToHead(uint32_t, const vr::HmdMatrix34_t&,
                                               const vr::HmdMatrix34_t&) {
    recorder_.RecordOther("SetDisplayEyeToHead");
}

void HostServerDriverHost::SetDisplayProjectionRaw(uint32_t, const vr::HmdRect2_t&,
                                                   const vr::HmdRect2_t&) {
    recorder_.RecordOther("SetDisplayProjectionRaw");
}

void HostServerDriverHost::SetRecommendedRenderTargetSize(uint32_t, uint32_t, uint32_t) {
    recorder_.RecordOther("SetRecommendedRenderTargetSize");
}

// --- IVRSettings_003: an empty settings store --------------------------------------------

const char* HostSettings::GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) {
    recorder_.RecordOther("GetSettingsErrorNameFromEnum");
    switch (eError) {
        case vr::VRSettingsError_None:
            return "VRSettingsError_None";
        case vr::VRSettingsError_UnsetSettingHasNoDefault:
            return "VRSettingsError_UnsetSettingHasNoDefault";
        default:
            return "VRSettingsError_Unknown";
    }
}

void HostSettings::SetBool(const char*, const char*, bool, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("SetBool");
    SetError(peError, vr::VRSettingsError_None);
}

void HostSettings::SetInt32(const char*, const char*, int32_t, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("SetInt32");
    SetError(peError, vr::VRSettingsError_None);
}

void HostSettings::SetFloat(const char*, const char*, float, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("SetFloat");
    SetError(peError, vr::VRSettingsError_None);
}

void HostSettings::SetString(const char*, const char*, const char*, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("SetString");
    SetError(peError, vr::VRSettingsError_None);
}

bool HostSettings::GetBool(const char*, const char*, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("GetBool");
    SetError(peError, vr::VRSettingsError_UnsetSettingHasNoDefault);
    return false;
}

int32_t HostSettings::GetInt32(const char*, const char*, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("GetInt32");
    SetError(peError, vr::VRSettingsError_UnsetSettingHasNoDefault);
    return 0;
}

float HostSettings::GetFloat(const char*, const char*, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("GetFloat");
    SetError(peError, vr::VRSettingsError_UnsetSettingHasNoDefault);
    return 0.0f;
}

void HostSettings::GetString(const char*, const char*, char* pchValue, uint32_t unValueLen,
                             vr::EVRSettingsError* peError) {
    recorder_.RecordOther("GetString");
    CopyOut("", pchValue, unValueLen);
    SetError(peError, vr::VRSettingsError_UnsetSettingHasNoDefault);
}

void HostSettings::RemoveSection(const char*, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("RemoveSection");
    SetError(peError, vr::VRSettingsError_None);
}

void HostSettings::RemoveKeyInSection(const char*, const char*, vr::EVRSettingsError* peError) {
    recorder_.RecordOther("RemoveKeyInSection");
    SetError(peError, vr::VRSettingsError_None);
}

// --- IVRProperties_001 -------------------------------------------------------------------

vr::ETrackedPropertyError HostProperties::ReadPropertyBatch(vr::PropertyContainerHandle_t,
                                                            vr::PropertyRead_t* pBatch,
                                                            uint32_t unBatchEntryCount) {
    recorder_.RecordOther("ReadPropertyBatch");
    for (uint32_t i = 0; pBatch != nullptr && i < unBatchEntryCount; ++i) {
        pBatch[i].unTag = vr::k_unInvalidPropertyTag;
        pBatch[i].unRequiredBufferSize = 0;
        pBatch[i].eError = vr::TrackedProp_UnknownProperty;
    }
    return vr::TrackedProp_Success;
}

vr::ETrackedPropertyError HostProperties::WritePropertyBatch(
    vr::PropertyContainerHandle_t ulContainerHandle, vr::PropertyWrite_t* pBatch,
    uint32_t unBatchEntryCount) {
    if (pBatch == nullptr) {
        return vr::TrackedProp_InvalidOperation;
    }
    // One recorded write per entry, as the runtime applies them one by one.
    for (uint32_t i = 0; i < unBatchEntryCount; ++i) {
        vr::PropertyWrite_t& write = pBatch[i];
        recorder_.Record(HostCall::Kind::PropertyWrite, [&](HostCall& call) {
            call.handle = ulContainerHandle;
            call.property = write.prop;
            call.writeType = write.writeType;
            call.typeTag = write.unTag;
            if (write.pvBuffer != nullptr && write.unBufferSize > 0) {
                const auto* bytes = static_cast<const uint8_t*>(write.pvBuffer);
                call.bytes.assign(bytes, bytes + write.unBufferSize);
            }
        });
        write.eError = ulContainerHandle == vr::k_ulInvalidPropertyContainer
                           ? vr::TrackedProp_InvalidContainer
                           : vr::TrackedProp_Success;
    }
    return vr::TrackedProp_Success;
}

const char* HostProperties::GetPropErrorNameFromEnum(vr::ETrackedPropertyError error) {
    recorder_.RecordOther("GetPropErrorNameFromEnum");
    return error == vr::TrackedProp_Success ? "TrackedProp_Success" : "TrackedProp_Error";
}

vr::PropertyContainerHandle_t HostProperties::TrackedDeviceToPropertyContainer(
    vr::TrackedDeviceIndex_t nDevice) {
    const vr::PropertyContainerHandle_t container = DriverHost::PropertyContainerFor(nDevice);
    recorder_.Record(HostCall::Kind::PropertyContainer, [&](HostCall& call) {
        call.device = nDevice;
        call.handle = container;
    });
    return container;
}

// --- IVRDriverLog_001 --------------------------------------------------------------------

void HostDriverLog::Log(const char* pchLogMessage) {
    recorder_.RecordLog(pchLogMessage);
}

// --- IVRDriverManager_001: the one driver loaded -----------------------------------------

uint32_t HostDriverManager::GetDriverCount() const {
    recorder_.RecordOther("GetDriverCount");
    return 1;
}

uint32_t HostDriverManager::GetDriverName(vr::DriverId_t nDriver, char* pchValue,
                                          uint32_t unBufferSize) {
    recorder_.RecordOther("GetDriverName");
    if (nDriver != 0) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    return CopyOut(name_, pchValue, unBufferSize);
}

vr::DriverHandle_t HostDriverManager::GetDriverHandle(const char* pchDriverName) {
    recorder_.RecordOther("GetDriverHandle");
    std::lock_guard lock(mutex_);
    return pchDriverName != nullptr && name_ == pchDriverName ? kHostDriverHandle
                                                              : vr::k_ulInvalidDriverHandle;
}

bool HostDriverManager::IsEnabled(vr::DriverId_t nDriver) const {
    recorder_.RecordOther("IsEnabled");
    return nDriver == 0;
}

void HostDriverManager::SetDriverName(const std::string& name) {
    std::lock_guard lock(mutex_);
    name_ = name;
}

// --- IVRResources_001: no resources ------------------------------------------------------

uint32_t HostResources::LoadSharedResource(const char*, char*, uint32_t) {
    recorder_.RecordOther("LoadSharedResource");
    return 0;
}

uint32_t HostResources::GetResourceFullPath(const char*, const char*, char* pchPathBuffer,
                                            uint32_t unBufferLen) {
    recorder_.RecordOther("GetResourceFullPath");
    CopyOut("", pchPathBuffer, unBufferLen);
    return 0;
}

// --- IVRDriverInput_003 ------------------------------------------------------------------

vr::VRInputComponentHandle_t HostDriverInput::NextHandle() {
    // Distinct, nonzero and not to be mistaken for a container handle.
    return 0x100 + lastHandle_.fetch_add(1, std::memory_order_relaxed) + 1;
}

vr::EVRInputError HostDriverInput::CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer,
                                                          const char* pchName,
                                                          vr::VRInputComponentHandle_t* pHandle) {
    const vr::VRInputComponentHandle_t component = NextHandle();
    recorder_.Record(HostCall::Kind::CreateBooleanComponent, [&](HostCall& call) {
        call.handle = ulContainer;
        call.text = pchName != nullptr ? pchName : "";
        call.component = component;
    });
    if (pHandle != nullptr) {
        *pHandle = component;
    }
    return vr::VRInputError_None;
}

vr::EVRInputError HostDriverInput::UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent,
                                                          bool bNewValue, double fTimeOffset) {
    recorder_.Record(HostCall::Kind::UpdateBooleanComponent, [&](HostCall& call) {
        call.component = ulComponent;
        call.boolValue = bNewValue;
        call.timeOffset = fTimeOffset;
    });
    return vr::VRInputError_None;
}

vr::EVRInputError HostDriverInput::CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer,
                                                         const char* pchName,
                                                         vr::VRInputComponentHandle_t* pHandle,
                                                         vr::EVRScalarType eType,
                                                         vr::EVRScalarUnits eUnits) {
    const vr::VRInputComponentHandle_t component = NextHandle();
    recorder_.Record(HostCall::Kind::CreateScalarComponent, [&](HostCall& call) {
        call.handle = ulContainer;
        call.text = pchName != nullptr ? pchName : "";
        call.component = component;
        call.scalarType = eType;
        call.scalarUnits = eUnits;
    });
    if (pHandle != nullptr) {
        *pHandle = component;
    }
    return vr::VRInputError_None;
}

vr::EVRInputError HostDriverInput::UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent,
                                                         float fNewValue, double fTimeOffset) {
    recorder_.Record(HostCall::Kind::UpdateScalarComponent, [&](HostCall& call) {
        call.component = ulComponent;
        call.scalarValue = fNewValue;
        call.timeOffset = fTimeOffset;
    });
    return vr::VRInputError_None;
}

vr::EVRInputError HostDriverInput::CreateHapticComponent(vr::PropertyContainerHandle_t, const char*,
                                                         vr::VRInputComponentHandle_t* pHandle) {
    recorder_.RecordOther("CreateHapticComponent");
    if (pHandle != nullptr) {
        *pHandle = NextHandle();
    }
    return vr::VRInputError_None;
}

vr::EVRInputError HostDriverInput::CreateSkeletonComponent(vr::PropertyContainerHandle_t,
                                                           const char*, const char*, const char*,
                                                           vr::EVRSkeletalTrackingLevel,
                                                           const vr::VRBoneTransform_t*, uint32_t,
                                                           vr::VRInputComponentHandle_t* pHandle) {
    recorder_.RecordOther("CreateSkeletonComponent");
    if (pHandle != nullptr) {
        *pHandle = NextHandle();
    }
    return vr::VRInputError_None;
}

vr::EVRInputError HostDriverInput::UpdateSkeletonComponent(vr::VRInputComponentHandle_t,
                                                           vr::EVRSkeletalMotionRange,
                                                           const vr::VRBoneTransform_t*, uint32_t) {
    recorder_.RecordOther("UpdateSkeletonComponent");
    return vr::VRInputError_None;
}

// --- IVRDriverContext --------------------------------------------------------------------

HostDriverContext::HostDriverContext(CallRecorder& recorder)
    : serverDriverHost(recorder),
      settings(recorder),
      properties(recorder),
      driverLog(recorder),
      driverManager(recorder),
      resources(recorder),
      driverInput(recorder),
      recorder_(recorder) {}

void* HostDriverContext::Lookup(const char* version) {
    const std::string_view v = version;
    if (v == vr::IVRServerDriverHost_Version)
        return static_cast<vr::IVRServerDriverHost*>(&serverDriverHost);
    if (v == vr::IVRSettings_Version)
        return static_cast<vr::IVRSettings*>(&settings);
    if (v == vr::IVRProperties_Version)
        return static_cast<vr::IVRProperties*>(&properties);
    if (v == vr::IVRDriverLog_Version)
        return static_cast<vr::IVRDriverLog*>(&driverLog);
    if (v == vr::IVRDriverManager_Version)
        return static_cast<vr::IVRDriverManager*>(&driverManager);
    if (v == vr::IVRResources_Version)
        return static_cast<vr::IVRResources*>(&resources);
    if (v == vr::IVRDriverInput_Version)
        return static_cast<vr::IVRDriverInput*>(&driverInput);
    return nullptr;
}

void* HostDriverContext::GetGenericInterface(const char* pchInterfaceVersion,
                                             vr::EVRInitError* peError) {
    void* found = nullptr;
    if (pchInterfaceVersion != nullptr) {
        std::lock_guard lock(mutex_);
        if (withheld_.find(std::string_view(pchInterfaceVersion)) == withheld_.end()) {
            found = Lookup(pchInterfaceVersion);
        }
    }
    recorder_.Record(HostCall::Kind::InterfaceFetch, [&](HostCall& call) {
        call.text = pchInterfaceVersion != nullptr ? pchInterfaceVersion : "";
        call.found = found != nullptr;
    });
    SetError(peError,
             found != nullptr ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound);
    return found;
}

vr::DriverHandle_t HostDriverContext::GetDriverHandle() {
    recorder_.RecordOther("GetDriverHandle");
    return kHostDriverHandle;
}

void HostDriverContext::Withhold(const std::string& version) {
    std::lock_guard lock(mutex_);
    withheld_.insert(version);
}

}  // namespace quenlark::sim
