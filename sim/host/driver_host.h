#pragma once
// The stand-in VR server host. It loads a driver folder the way SteamVR does (the manifest,
// then bin/linux64/driver_<name>.so and its HmdDriverFactory), hands the provider a driver
// context of its own, implements the runtime's driver-side interfaces and records every
// call the driver makes into them, in order. Tests, benchmarks and the demo drive the
// provider and the device through it: Init, Activate, RunFrame, Deactivate, Cleanup.
//
// Concurrent: the recorded calls are guarded by a mutex, since the driver's link thread
// logs from its own thread while the test drives frames. The lifecycle calls (Load, Init,
// Activate, RunFrame, Deactivate, Cleanup, Unload) are made from one thread, as the
// runtime does.

#include <openvr_driver.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenlark::sim {

// One call from the driver into the host.
struct HostCall {
    enum class Kind {
        InterfaceFetch,          // text: version asked for; found: whether it was served
        Log,                     // text: the line, unchanged
        TrackedDeviceAdded,      // text: serial; deviceClass
        PropertyContainer,       // device: the index asked for; handle: the container returned
        PropertyWrite,           // handle: container; property, writeType, typeTag, bytes
        CreateBooleanComponent,  // handle: container; text: path; component: handle returned
        CreateScalarComponent,   // as above, plus scalarType and scalarUnits
        UpdateBooleanComponent,  // component; boolValue; timeOffset
        UpdateScalarComponent,   // component; scalarValue; timeOffset
        PoseUpdated,             // device; pose; poseSize
        Other,                   // text: name of any other interface method called
    };
    static constexpr std::size_t kKindCount = static_cast<std::size_t>(Kind::Other) + 1;

    Kind kind = Kind::Other;
    std::string text;
    bool found = false;
    uint32_t device = 0;
    int32_t deviceClass = 0;
    uint64_t handle = 0;
    uint64_t component = 0;
    int32_t property = 0;
    int32_t writeType = 0;
    uint32_t typeTag = 0;
    std::vector<uint8_t> bytes;
    int32_t scalarType = 0;
    int32_t scalarUnits = 0;
    bool boolValue = false;
    float scalarValue = 0.0f;
    double timeOffset = 0.0;
    vr::DriverPose_t pose{};
    uint32_t poseSize = 0;
};

// Readable name of a kind, for test messages.
const char* KindName(HostCall::Kind kind);

class DriverHost {
  public:
    DriverHost();
    ~DriverHost();  // unloads the library if one is loaded (no Deactivate or Cleanup)
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // Loads a driver folder: reads <folder>/driver.vrdrivermanifest for the driver's name,
    // dlopens <folder>/bin/linux64/driver_<name>.so (RTLD_NOW | RTLD_LOCAL) and resolves
    // HmdDriverFactory. On failure returns false and, when error is given, says why.
    bool Load(const std::string& driverFolder, std::string* error = nullptr);

    // Instead of loading a library, hosts a factory linked into this very binary (the
    // static driver core), so that tests can also reach the driver's internals.
    void UseFactory(void* (*factory)(const char* interfaceName, int* returnCode));

    // dlclose of the loaded library; the provider and device pointers become invalid.
    // First waits, up to threadTimeout, for the threads that appeared since Load to end
    // (the driver's detached threads run library code to their last instruction); when some
    // still run, the library is left mapped rather than pulled from under them, and false
    // is returned. Also false when the library is still mapped after dlclose (it would carry
    // its process-wide state into the next Load). With UseFactory, or with nothing loaded,
    // it forgets the factory and returns true.
    bool Unload(std::chrono::milliseconds threadTimeout = std::chrono::seconds(5));

    // The driver's name from the manifest and the path of the library loaded; empty with
    // UseFactory.
    const std::string& DriverName() const;
    const std::string& LibraryPath() const;

    // Calls the driver's HmdDriverFactory as the runtime does. Null when nothing is loaded.
    void* Factory(const char* interfaceName, int* returnCode);

    // From now on GetGenericInterface answers null for this version.
    void WithholdInterface(const std::string& version);

    // Asks the factory for "IServerTrackedDeviceProvider_004" and calls its Init with the
    // host's context. VRInitError_Init_InterfaceNotFound when the factory serves nothing.
    vr::EVRInitError Init();
    vr::IServerTrackedDeviceProvider* Provider() const;

    // The host's driver context, as Init hands it to the provider.
    vr::IVRDriverContext* Context();

    // The device handed to TrackedDeviceAdded, or null.
    vr::ITrackedDeviceServerDriver* Device() const;

    // The device's Activate, the provider's RunFrame, the device's Deactivate, the
    // provider's Cleanup. Each does nothing when there is no provider or device to call
    // (Activate then returns VRInitError_Driver_Failed). After Cleanup the device is gone.
    vr::EVRInitError Activate(uint32_t objectId = 1);
    void RunFrame();
    void RunFrames(int count);
    void Deactivate();
    void Cleanup();

    // Everything recorded so far, in call order.
    std::vector<HostCall> Calls() const;
    std::vector<HostCall> Calls(HostCall::Kind kind) const;
    std::vector<std::string> LogLines() const;
    std::optional<vr::DriverPose_t> LastReportedPose() const;
    void ClearCalls();  // empties the call list, the log lines, the counts and the last pose

    // Recording on (the default): every call is appended to Calls(). Off: calls are only
    // counted, and the host allocates nothing on the calls a frame makes (container
    // look-ups, property writes, component updates, pose reports, interface fetches), so
    // that benchmarks and allocation tests see the driver alone. Log lines are kept either
    // way; the last reported pose too.
    void SetRecording(bool on);

    // Calls of this kind since the last ClearCalls, recorded or not.
    uint64_t CallCount(HostCall::Kind kind) const;

    // Waits until the driver has logged exactly this line (counting lines logged before
    // the call too); false on time-out.
    bool WaitForLogLine(const std::string& line, std::chrono::milliseconds timeout) const;

    // Waits until this line has been logged at least `count` times in all.
    bool WaitForLogLineCount(const std::string& line, std::size_t count,
                             std::chrono::milliseconds timeout) const;

    // Called for every log line as it arrives, on the thread that logged it.
    void SetLogObserver(std::function<void(const std::string&)> observer);

    // The container TrackedDeviceToPropertyContainer answers for a device index: distinct
    // and nonzero per index; k_ulInvalidPropertyContainer for k_unTrackedDeviceIndexInvalid.
    static vr::PropertyContainerHandle_t PropertyContainerFor(vr::TrackedDeviceIndex_t index);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace quenlark::sim
