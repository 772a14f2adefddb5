#pragma once
// The runtime's driver-side interfaces as the host serves them, and the driver context that
// hands them out. Every method records its call in the CallRecorder; the few the driver
// relies on answer as the runtime would (a container per device, a handle per component),
// the rest answer "nothing there".
//
// Concurrent: any method may be called on any thread; shared state is atomic or guarded.

#include <openvr_driver.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "sim/host/call_recorder.h"

namespace quenlark::sim {

class HostServerDriverHost final : public vr::IVRServerDriverHost {
  public:
    explicit HostServerDriverHost(CallRecorder& recorder) : recorder_(recorder) {}

    bool TrackedDeviceAdded(const char* pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                            vr::ITrackedDeviceServerDriver* pDriver) override;
    void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t& newPose,
                                  uint32_t unPoseStructSize) override;
    void VsyncEvent(double vsyncTimeOffsetSeconds) override;
    void VendorSpecificEvent(uint32_t unWhichDevice, vr::EVREventType eventType,
                             const vr::VREvent_Data_t& eventData, double eventTimeOffset) override;
    bool IsExiting() override;
    bool PollNextEvent(vr::VREvent_t* pEvent, uint32_t uncbVREvent) override;
    void GetRawTrackedDevicePoses(float fPredictedSecondsFromNow,
                                  vr::TrackedDevicePose_t* pTrackedDevicePoseArray,
                                  uint32_t unTrackedDevicePoseArrayCount) override;
    void RequestRestart(const char* pchLocalizedReason, const char* pchExecutableToStart,
                        const char* pchArguments, const char* pchWorkingDirectory) override;
    uint32_t GetFrameTimings(vr::Compositor_FrameTiming* pTiming, uint32_t nFrames) override;
    void SetDisplayEyeToHead(uint32_t unWhichDevice, const vr::HmdMatrix34_t& eyeToHeadLeft,
                             const vr::HmdMatrix34_t& eyeToHeadRight) override;
    void SetDisplayProjectionRaw(uint32_t unWhichDevice, const vr::HmdRect2_t& eyeLeft,
                                 const vr::HmdRect2_t& eyeRight) override;
    void SetRecommendedRenderTargetSize(uint32_t unWhichDevice, uint32_t nWidth,
                                        uint32_t nHeight) override;

    // The first device the driver added, or null; Forget drops it (after Cleanup).
    vr::ITrackedDeviceServerDriver* Device() const {
        return device_.load(std::memory_order_relaxed);
    }
    void Forget() { device_.store(nullptr, std::memory_order_relaxed); }

  private:
    CallRecorder& recorder_;
    std::atomic<vr::ITrackedDeviceServerDriver*> device_{nullptr};
};

class HostSettings final : public vr::IVRSettings {
  public:
    explicit HostSettings(CallRecorder& recorder) : recorder_(recorder) {}

    const char* GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) override;
    void SetBool(const char* pchSection, const char* pchSettingsKey, bool bValue,
                 vr::EVRSettingsError* peError) override;
    void SetInt32(const char* pchSection, const char* pchSettingsKey, int32_t nValue,
                  vr::EVRSettingsError* peError) override;
    void SetFloat(const char* pchSection, const char* pchSettingsKey, float flValue,
                  vr::EVRSettingsError* peError) override;
    void SetString(const char* pchSection, const char* pchSettingsKey, const char* pchValue,
                   vr::EVRSettingsError* peError) override;
    bool GetBool(const char* pchSection, const char* pchSettingsKey,
                 vr::EVRSettingsError* peError) override;
    int32_t GetInt32(const char* pchSection, const char* pchSettingsKey,
                     vr::EVRSettingsError* peError) override;
    float GetFloat(const char* pchSection, const char* pchSettingsKey,
                   vr::EVRSettingsError* peError) override;
    void GetString(const char* pchSection, const char* pchSettingsKey, char* pchValue,
                   uint32_t unValueLen, vr::EVRSettingsError* peError) override;
    void RemoveSection(const char* pchSection, vr::EVRSettingsError* peError) override;
    void RemoveKeyInSection(const char* pchSection, const char* pchSettingsKey,
                            vr::EVRSettingsError* peError) override;

  private:
    CallRecorder& recorder_;
};

class HostProperties final : public vr::IVRProperties {
  public:
    explicit HostProperties(CallRecorder& recorder) : recorder_(recorder) {}

    vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                vr::PropertyRead_t* pBatch,
                                                uint32_t unBatchEntryCount) override;
    vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                 vr::PropertyWrite_t* pBatch,
                                                 uint32_t unBatchEntryCount) override;
    const char* GetPropErrorNameFromEnum(vr::ETrackedPropertyError error) override;
    vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(
        vr::TrackedDeviceIndex_t nDevice) override;

  private:
    CallRecorder& recorder_;
};

class HostDriverLog final : public vr::IVRDriverLog {
  public:
    explicit HostDriverLog(CallRecorder& recorder) : recorder_(recorder) {}
    void Log(const char* pchLogMessage) override;

  private:
    CallRecorder& recorder_;
};

class HostDriverManager final : public vr::IVRDriverManager {
  public:
    explicit HostDriverManager(CallRecorder& recorder) : recorder_(recorder) {}

    uint32_t GetDriverCount() const override;
    uint32_t GetDriverName(vr::DriverId_t nDriver, char* pchValue, uint32_t unBufferSize) override;
    vr::DriverHandle_t GetDriverHandle(const char* pchDriverName) override;
    bool IsEnabled(vr::DriverId_t nDriver) const override;

    // The one driver the host knows: its name from the manifest.
    void SetDriverName(const std::string& name);

  private:
    CallRecorder& recorder_;
    mutable std::mutex mutex_;  // guards name_
    std::string name_;
};

class HostResources final : public vr::IVRResources {
  public:
    explicit HostResources(CallRecorder& recorder) : recorder_(recorder) {}

    uint32_t LoadSharedResource(const char* pchResourceName, char* pchBuffer,
                                uint32_t unBufferLen) override;
    uint32_t GetResourceFullPath(const char* pchResourceName, const char* pchResourceTypeDirectory,
                                 char* pchPathBuffer, uint32_t unBufferLen) override;

  private:
    CallRecorder& recorder_;
};

class HostDriverInput final : public vr::IVRDriverInput {
  public:
    explicit HostDriverInput(CallRecorder& recorder) : recorder_(recorder) {}

    vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer,
                                             const char* pchName,
                                             vr::VRInputComponentHandle_t* pHandle) override;
    vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent,
                                             bool bNewValue, double fTimeOffset) override;
    vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer,
                                            const char* pchName,
                                            vr::VRInputComponentHandle_t* pHandle,
                                            vr::EVRScalarType eType,
                                            vr::EVRScalarUnits eUnits) override;
    vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent,
                                            float fNewValue, double fTimeOffset) override;
    vr::EVRInputError CreateHapticComponent(vr::PropertyContainerHandle_t ulContainer,
                                            const char* pchName,
                                            vr::VRInputComponentHandle_t* pHandle) override;
    vr::EVRInputError CreateSkeletonComponent(vr::PropertyContainerHandle_t ulContainer,
                                              const char* pchName, const char* pchSkeletonPath,
                                              const char* pchBasePosePath,
                                              vr::EVRSkeletalTrackingLevel eSkeletalTrackingLevel,
                                              const vr::VRBoneTransform_t* pGripLimitTransforms,
                                              uint32_t unGripLimitTransformCount,
                                              vr::VRInputComponentHandle_t* pHandle) override;
    vr::EVRInputError UpdateSkeletonComponent(vr::VRInputComponentHandle_t ulComponent,
                                              vr::EVRSkeletalMotionRange eMotionRange,
                                              const vr::VRBoneTransform_t* pTransforms,
                                              uint32_t unTransformCount) override;

  private:
    vr::VRInputComponentHandle_t NextHandle();

    CallRecorder& recorder_;
    std::atomic<vr::VRInputComponentHandle_t> lastHandle_{0};
};

// The context handed to the provider's Init: serves the seven interfaces by version,
// except those withheld.
class HostDriverContext final : public vr::IVRDriverContext {
  public:
    explicit HostDriverContext(CallRecorder& recorder);

    void* GetGenericInterface(const char* pchInterfaceVersion, vr::EVRInitError* peError) override;
    vr::DriverHandle_t GetDriverHandle() override;

    void Withhold(const std::string& version);

    HostServerDriverHost serverDriverHost;
    HostSettings settings;
    HostProperties properties;
    HostDriverLog driverLog;
    HostDriverManager driverManager;
    HostResources resources;
    HostDriverInput driverInput;

  private:
    void* Lookup(const char* version);

    CallRecorder& recorder_;
    std::mutex mutex_;  // guards withheld_
    std::set<std::string, std::less<>> withheld_;
};

// The driver handle GetDriverHandle answers.
inline constexpr vr::DriverHandle_t kHostDriverHandle = 0x200000001ull;

}  // namespace quenlark::sim
