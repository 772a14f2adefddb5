#include "driver/controller_driver.h"

#include <cstring>
#include <exception>
#include <thread>

#include "driver/driver_log.h"
#include "driver/link/trigger_link.h"
#include "driver/relay_launcher.h"
#include "driver/shared_pose_block_driver.h"

namespace quenlark {
namespace {

// Starts the trigger link on a thread of its own and lets it run detached; nobody joins
// it. A thread that cannot be created (no thread resources, or no memory for its state)
// must not take the runtime down: log and go on.
void StartTriggerLink() {
    try {
        std::thread(triggerLinkMain, &WriteDriverLog).detach();
    } catch (const std::exception&) {
        WriteDriverLog("Failed to start the Bluetooth link thread.");
    }
}

}  // namespace

vr::EVRInitError ControllerDriver::Activate(uint32_t unObjectId) {
    StartTriggerLink();
    CreateSharedPoseBlock();
    StartPoseRelay(kPoseRelayFileName);
    objectId = unObjectId;

    // A runtime that withholds the property or input interface gets no declarations; the
    // SDK's helpers would call through a null pointer.
    if (vr::VRPropertiesRaw() != nullptr) {
        vr::CVRPropertyHelpers* properties = vr::VRProperties();
        const vr::PropertyContainerHandle_t container = properties->TrackedDeviceToPropertyContainer(objectId);
        properties->SetStringProperty(container, vr::Prop_InputProfilePath_String, kInputProfilePath);
        properties->SetStringProperty(container, vr::Prop_ControllerType_String, kControllerSerial);
        properties->SetInt32Property(container, vr::Prop_ControllerRoleHint_Int32, vr::TrackedControllerRole_Stylus);
        properties->SetInt32Property(container, vr::Prop_ControllerHandSelectionPriority_Int32,
                                     kInitialHandSelectionPriority);

        if (vr::IVRDriverInput* input = vr::VRDriverInput()) {
            input->CreateScalarComponent(container, "/input/fire/value", &fireValue, vr::VRScalarType_Absolute,
                                         vr::VRScalarUnits_NormalizedTwoSided);
            input->CreateBooleanComponent(container, "/input/fire/click", &fireClick);
            input->CreateBooleanComponent(container, "/input/eject_mag/click", &ejectMagClick);
            input->CreateBooleanComponent(container, "/input/load_mag/click", &loadMagClick);
        }
    }
    return vr::VRInitError_None;
}

void ControllerDriver::Deactivate() {
    objectId = vr::k_unTrackedDeviceIndexInvalid;
    linkRunning.store(false, std::memory_order_relaxed);
    CloseSharedPoseBlock();
    StopPoseRelay();
}

void ControllerDriver::EnterStandby() {}

void* ControllerDriver::GetComponent(const char* pchComponentNameAndVersion) {
    if (pchComponentNameAndVersion != nullptr && std::strcmp(pchComponentNameAndVersion, vr::IVRDriverInput_Version) == 0) {
        return this;
    }
    return nullptr;
}

void ControllerDriver::DebugRequest(const char*, char* pchResponseBuffer, uint32_t unResponseBufferSize) {
    if (unResponseBufferSize >= 1 && pchResponseBuffer != nullptr) {
        pchResponseBuffer[0] = '\0';
    }
}

vr::DriverPose_t ControllerDriver::GetPose() { return lastPose; }

}  // namespace quenlark
