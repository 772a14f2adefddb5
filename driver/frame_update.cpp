// The frame update: once per runtime frame, on the runtime's thread.
#include <atomic>

#include "driver/controller_driver.h"
#include "driver/pending_button_events.h"
#include "driver/pose_composition.h"
#include "driver/shared_pose_block_driver.h"

namespace quenlark {
namespace {

// A press ends when its counter, after the increment, exceeds this: 21 frames in all.
constexpr int32_t kPressThreshold = 20;
// The hand-selection priority flips when its counter, after the increment, exceeds this.
constexpr int32_t kToggleThreshold = 2000;

// Priority toggle state: process-wide, runs on across deactivation and reactivation.
int32_t handPriorityFrames = 0;
bool handPriorityHigh = false;

// One button's press state machine. The flag is read once; a set flag starts a press when
// none runs and is dropped while one runs (up to and including the frame of its release).
// Returns +1 when the press starts in this frame, -1 when it ends, 0 otherwise.
int StepPress(std::atomic<bool>& flag, bool& pressed, int32_t& frames) {
    const bool pending = flag.load(std::memory_order_seq_cst);
    if (!pressed) {
        if (!pending) {
            return 0;
        }
        flag.exchange(false, std::memory_order_seq_cst);
        pressed = true;
        return +1;
    }
    if (pending) {
        flag.exchange(false, std::memory_order_seq_cst);
    }
    if (++frames > kPressThreshold) {
        pressed = false;
        frames = 0;
        return -1;
    }
    return 0;
}

// The pose report passes the size of the pose the runtime expects.
static_assert(sizeof(vr::DriverPose_t) == 280);

}  // namespace

void ControllerDriver::RunFrame() {
    // Hand-selection priority: the container is looked up in every call. The toggle counts
    // every call even while the runtime withholds the property interface, so that the
    // flips keep their 2001-call rhythm; only the look-up and the write are skipped.
    vr::CVRPropertyHelpers* properties = vr::VRPropertiesRaw() != nullptr ? vr::VRProperties() : nullptr;
    const vr::PropertyContainerHandle_t container =
        properties != nullptr ? properties->TrackedDeviceToPropertyContainer(objectId) : vr::k_ulInvalidPropertyContainer;
    if (++handPriorityFrames > kToggleThreshold) {
        handPriorityFrames = 0;
        handPriorityHigh = !handPriorityHigh;
        if (properties != nullptr) {
            properties->SetInt32Property(container, vr::Prop_ControllerHandSelectionPriority_Int32,
                                         handPriorityHigh ? 1 : -1);
        }
    }

    // Buttons: trigger, then eject, then load. The state machines run even when the
    // runtime offers no input interface; only the updates are skipped.
    vr::IVRDriverInput* input = vr::VRDriverInput();
    if (const int step = StepPress(PendingButtonEvents::fire, firePressed, fireFrames); step != 0 && input) {
        input->UpdateBooleanComponent(fireClick, step > 0, 0.0);
        input->UpdateScalarComponent(fireValue, step > 0 ? 1.0f : 0.0f, 0.0);
    }
    if (const int step = StepPress(PendingButtonEvents::ejectMag, ejectMagPressed, ejectMagFrames); step != 0 && input) {
        input->UpdateBooleanComponent(ejectMagClick, step > 0, 0.0);
    }
    if (const int step = StepPress(PendingButtonEvents::loadMag, loadMagPressed, loadMagFrames); step != 0 && input) {
        input->UpdateBooleanComponent(loadMagClick, step > 0, 0.0);
    }

    // Pose: only while the block is present and its lock could be had in time.
    if (const auto relayed = ReadPose()) {
        lastPose = ComposeDevicePose(*relayed);
        vr::VRServerDriverHost()->TrackedDevicePoseUpdated(objectId, lastPose, sizeof(vr::DriverPose_t));
    }
}

}  // namespace quenlark
