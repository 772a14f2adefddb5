#pragma once
#include <openvr_driver.h>

namespace quenlark {

class ControllerDriver;

// The driver's face towards the runtime: sets up access to the runtime's interfaces,
// creates and registers the one controller and forwards the per-frame hook to it.
// One instance with static storage duration; it needs no run-time construction.
class DeviceProvider final : public vr::IServerTrackedDeviceProvider {
public:
    constexpr DeviceProvider() = default;

    // Called by the runtime right after the factory handed the provider out.
    vr::EVRInitError Init(vr::IVRDriverContext* pDriverContext) override;

    // Called by the runtime when it unloads drivers; after the device's Deactivate.
    void Cleanup() override;

    const char* const* GetInterfaceVersions() override;

    // Called by the runtime once per frame, on its main thread.
    void RunFrame() override;

    bool ShouldBlockStandbyMode() override;
    void EnterStandby() override;
    void LeaveStandby() override;

    ControllerDriver* controller = nullptr;
};

DeviceProvider& TheDeviceProvider();

// The factory's logic: the provider for "IServerTrackedDeviceProvider_004", otherwise null
// with VRInitError_Init_InterfaceNotFound stored through returnCode (when not null).
void* ServeDriverInterface(const char* interfaceName, int* returnCode);

}  // namespace quenlark
