#include "sim/host/driver_host.h"

#include <fstream>
#include <sstream>

#include "sim/host/call_recorder.h"
#include "sim/host/driver_library.h"
#include "sim/host/driver_manifest.h"
#include "sim/host/process_threads.h"
#include "sim/host/runtime_interfaces.h"

namespace quenlark::sim {

const char* KindName(HostCall::Kind kind) {
    switch (kind) {
        case HostCall::Kind::InterfaceFetch:
            return "InterfaceFetch";
        case HostCall::Kind::Log:
            return "Log";
        case HostCall::Kind::TrackedDeviceAdded:
            return "TrackedDeviceAdded";
        case HostCall::Kind::PropertyContainer:
            return "PropertyContainer";
        case HostCall::Kind::PropertyWrite:
            return "PropertyWrite";
        case HostCall::Kind::CreateBooleanComponent:
            return "CreateBooleanComponent";
        case HostCall::Kind::CreateScalarComponent:
            return "CreateScalarComponent";
        case HostCall::Kind::UpdateBooleanComponent:
            return "UpdateBooleanComponent";
        case HostCall::Kind::UpdateScalarComponent:
            return "UpdateScalarComponent";
        case HostCall::Kind::PoseUpdated:
            return "PoseUpdated";
        case HostCall::Kind::Other:
            return "Other";
    }
    return "?";
}

struct DriverHost::State {
    CallRecorder recorder;
    HostDriverContext context{recorder};
    DriverLibrary library;
    DriverFactory factory = nullptr;
    std::string driverName;
    std::string libraryPath;
    ThreadIds threadsAtLoad;
    vr::IServerTrackedDeviceProvider* provider = nullptr;
};

DriverHost::DriverHost() : state_(std::make_unique<State>()) {}

DriverHost::~DriverHost() {
    Unload();
}

bool DriverHost::Load(const std::string& driverFolder, std::string* error) {
    Unload();
    const std::string manifestPath = driverFolder + "/driver.vrdrivermanifest";
    std::ifstream manifest(manifestPath, std::ios::binary);
    if (!manifest) {
        if (error != nullptr) {
            *error = "cannot read " + manifestPath;
        }
        return false;
    }
    std::ostringstream text;
    text << manifest.rdbuf();
    std::string why;
    const std::optional<std::string> name = ReadManifestName(text.str(), &why);
    if (!name) {
        if (error != nullptr) {
            *error = manifestPath + ": " + why;
        }
        return false;
    }
    const std::string path = DriverLibraryPath(driverFolder, *name);
    state_->threadsAtLoad = LiveThreads();
    if (!state_->library.Open(path, error)) {
        return false;
    }
    state_->factory = state_->library.Factory();
    state_->driverName = *name;
    state_->libraryPath = path;
    state_->context.driverManager.SetDriverName(*name);
    return true;
}

void DriverHost::UseFactory(void* (*factory)(const char* interfaceName, int* returnCode)) {
    Unload();
    state_->factory = factory;
}

bool DriverHost::Unload(std::chrono::milliseconds threadTimeout) {
    state_->provider = nullptr;
    state_->context.serverDriverHost.Forget();
    state_->factory = nullptr;
    state_->driverName.clear();
    state_->libraryPath.clear();
    if (!state_->library.IsOpen()) {
        return true;
    }
    if (!WaitForNewThreadsToEnd(state_->threadsAtLoad, threadTimeout)) {
        state_->library.Abandon();
        return false;
    }
    return state_->library.Close();
}

const std::string& DriverHost::DriverName() const {
    return state_->driverName;
}
const std::string& DriverHost::LibraryPath() const {
    return state_->libraryPath;
}

void* DriverHost::Factory(const char* interfaceName, int* returnCode) {
    return state_->factory != nullptr ? state_->factory(interfaceName, returnCode) : nullptr;
}

void DriverHost::WithholdInterface(const std::string& version) {
    state_->context.Withhold(version);
}

vr::EVRInitError DriverHost::Init() {
    int returnCode = vr::VRInitError_None;
    auto* provider = static_cast<vr::IServerTrackedDeviceProvider*>(
        Factory(vr::IServerTrackedDeviceProvider_Version, &returnCode));
    if (provider == nullptr) {
        return vr::VRInitError_Init_InterfaceNotFound;
    }
    state_->provider = provider;
    return provider->Init(&state_->context);
}

vr::IServerTrackedDeviceProvider* DriverHost::Provider() const {
    return state_->provider;
}

vr::IVRDriverContext* DriverHost::Context() {
    return &state_->context;
}

vr::ITrackedDeviceServerDriver* DriverHost::Device() const {
    return state_->context.serverDriverHost.Device();
}

vr::EVRInitError DriverHost::Activate(uint32_t objectId) {
    vr::ITrackedDeviceServerDriver* device = Device();
    return device != nullptr ? device->Activate(objectId) : vr::VRInitError_Driver_Failed;
}

void DriverHost::RunFrame() {
    if (state_->provider != nullptr) {
        state_->provider->RunFrame();
    }
}

void DriverHost::RunFrames(int count) {
    for (int i = 0; i < count; ++i) {
        RunFrame();
    }
}

void DriverHost::Deactivate() {
    if (vr::ITrackedDeviceServerDriver* device = Device()) {
        device->Deactivate();
    }
}

void DriverHost::Cleanup() {
    if (state_->provider != nullptr) {
        state_->provider->Cleanup();
    }
    // The provider destroys its device in Cleanup.
    state_->context.serverDriverHost.Forget();
}

std::vector<HostCall> DriverHost::Calls() const {
    return state_->recorder.Calls();
}
std::vector<HostCall> DriverHost::Calls(HostCall::Kind kind) const {
    return state_->recorder.Calls(kind);
}
std::vector<std::string> DriverHost::LogLines() const {
    return state_->recorder.LogLines();
}
std::optional<vr::DriverPose_t> DriverHost::LastReportedPose() const {
    return state_->recorder.LastPose();
}
void DriverHost::ClearCalls() {
    state_->recorder.Clear();
}
void DriverHost::SetRecording(bool on) {
    state_->recorder.SetRecording(on);
}
uint64_t DriverHost::CallCount(HostCall::Kind kind) const {
    return state_->recorder.Count(kind);
}

bool DriverHost::WaitForLogLine(const std::string& line, std::chrono::milliseconds timeout) const {
    return state_->recorder.WaitForLogLine(line, 1, timeout);
}

bool DriverHost::WaitForLogLineCount(const std::string& line, std::size_t count,
                                     std::chrono::milliseconds timeout) const {
    return state_->recorder.WaitForLogLine(line, count, timeout);
}

void DriverHost::SetLogObserver(std::function<void(const std::string&)> observer) {
    state_->recorder.SetLogObserver(std::move(observer));
}

vr::PropertyContainerHandle_t DriverHost::PropertyContainerFor(vr::TrackedDeviceIndex_t index) {
    if (index == vr::k_unTrackedDeviceIndexInvalid) {
        return vr::k_ulInvalidPropertyContainer;
    }
    return 0x100000000ull + index;
}

}  // namespace quenlark::sim
