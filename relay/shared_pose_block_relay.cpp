#include "relay/shared_pose_block_relay.h"

#include "common/pose_record_layout.h"
#include "common/section.h"
#include "common/shared_pose_block.h"
#include "relay/parent_watch.h"

namespace quenlark {
namespace {

// Held from start-up to the end of the process.
section::Handle relaySection = section::kNoSection;
SharedPoseBlock* relayView = nullptr;

}  // namespace

OpenResult OpenSharedPoseBlock() {
    const section::Handle handle = section::Open(kSharedPoseBlockName, kSharedPoseBlockSize);
    if (handle == section::kNoSection) {
        return OpenResult::NotOpened;
    }
    auto* view = static_cast<SharedPoseBlock*>(section::Map(handle, kSharedPoseBlockSize));
    if (view == nullptr) {
        section::Close(handle);
        return OpenResult::NotMapped;
    }
    relaySection = handle;
    relayView = view;
    return OpenResult::Opened;
}

bool PublishPose(const vr::TrackedDevicePose_t& record) {
    if (relayView == nullptr) {
        return false;
    }
    const bool acquired = AcquirePoseLockUnless(
        *relayView, [] { return parentExited.load(std::memory_order_relaxed); });
    if (!acquired) {
        return false;
    }
    StoreRelayedPose(*relayView, record);
    ReleasePoseLock(*relayView, std::memory_order_release);
    return true;
}

void CloseSharedPoseBlock() {
    section::Unmap(relayView, kSharedPoseBlockSize);
    section::Close(relaySection);
    relayView = nullptr;
    relaySection = section::kNoSection;
}

}  // namespace quenlark
