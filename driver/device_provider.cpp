#include "driver/device_provider.h"

#include <cstring>
#include <new>

#include "driver/controller_driver.h"
#include "driver/driver_log.h"
#include "driver/interface_versions.h"

namespace quenlark {
namespace {

constinit DeviceProvider deviceProvider;

}  // namespace

DeviceProvider& TheDeviceProvider() { return deviceProvider; }

void* ServeDriverInterface(const char* interfaceName, int* returnCode) {
    if (interfaceName != nullptr && std::strcmp(interfaceName, vr::IServerTrackedDeviceProvider_Version) == 0) {
        return &deviceProvider;
    }
    if (returnCode != nullptr) {
        *returnCode = vr::VRInitError_Init_InterfaceNotFound;
    }
    return nullptr;
}

vr::EVRInitError DeviceProvider::Init(vr::IVRDriverContext* pDriverContext) {
    // Keeps the context, empties the SDK's interface cache and fetches the server host,
    // settings, properties, log, driver manager and resources in that order; any missing
    // one but properties returns 105 at once, before anything is logged.
    VR_INIT_SERVER_DRIVER_CONTEXT(pDriverContext);
    SetDriverLogTarget(vr::VRDriverLog());

    vr::VRDriverLog()->Log("Initializing controller");
    // No exception may leave Init into the runtime, so the device is allocated without one.
    controller = new (std::nothrow) ControllerDriver();
    if (controller == nullptr) {
        vr::VRDriverLog()->Log("Failed to create the controller device.");
        return vr::VRInitError_Init_InterfaceNotFound;
    }
    vr::VRServerDriverHost()->TrackedDeviceAdded(kControllerSerial, vr::TrackedDeviceClass_Controller, controller);
    return vr::VRInitError_None;
}

void DeviceProvider::Cleanup() {
    delete controller;
    controller = nullptr;
    // The runtime may let go of its interfaces after Cleanup; a link thread still on its
    // way out must not write into them.
    SetDriverLogTarget(nullptr);
}

const char* const* DeviceProvider::GetInterfaceVersions() { return kInterfaceVersions; }

void DeviceProvider::RunFrame() {
    if (controller != nullptr) {
        controller->RunFrame();
    }
}

bool DeviceProvider::ShouldBlockStandbyMode() { return false; }
void DeviceProvider::EnterStandby() {}
void DeviceProvider::LeaveStandby() {}

}  // namespace quenlark
