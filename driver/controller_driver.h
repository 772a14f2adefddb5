#pragma once
#include <openvr_driver.h>

#include <cstdint>

namespace quenlark {

// The one tracked device: a controller whose serial number and controller type are both
// kControllerSerial. It rides on the right-hand controller's pose, which the relay puts
// into the shared pose block, and its buttons are pressed by the Bluetooth trigger link.
class ControllerDriver final : public vr::ITrackedDeviceServerDriver {
public:
    // Called by the runtime once the device is registered: starts the trigger link, the
    // shared pose block and the pose relay, then declares properties and input components.
    vr::EVRInitError Activate(uint32_t unObjectId) override;

    // Called by the runtime when it stops using the device: tells the link to stop (without
    // waiting), closes the shared pose block and ends the pose relay.
    void Deactivate() override;

    void EnterStandby() override;

    // The device offers no optional component; the runtime asks by name and version.
    void* GetComponent(const char* pchComponentNameAndVersion) override;

    void DebugRequest(const char* pchRequest, char* pchResponseBuffer, uint32_t unResponseBufferSize) override;

    // The pose the last frame update composed and reported.
    vr::DriverPose_t GetPose() override;

    // The frame update, called by the provider once per frame on the runtime's thread:
    // hand-selection priority, then buttons, then the pose. No allocation, log or syscall.
    void RunFrame();

    // Members, all zero at construction. Public so that the frame logic can be checked
    // from tests without a runtime.
    vr::TrackedDeviceIndex_t objectId = 0;
    vr::VRInputComponentHandle_t fireClick = 0;
    vr::VRInputComponentHandle_t fireValue = 0;
    vr::VRInputComponentHandle_t ejectMagClick = 0;
    vr::VRInputComponentHandle_t loadMagClick = 0;
    bool firePressed = false;
    int32_t fireFrames = 0;
    bool ejectMagPressed = false;
    int32_t ejectMagFrames = 0;
    bool loadMagPressed = false;
    int32_t loadMagFrames = 0;
    vr::DriverPose_t lastPose{};
};

inline constexpr const char* kControllerSerial = "aaa_quenlark_k7_controller";
inline constexpr const char* kInputProfilePath = "{quenlark_k7}/input/quenlark_k7_controller_profile.json";
inline constexpr int32_t kInitialHandSelectionPriority = 999999;

}  // namespace quenlark
