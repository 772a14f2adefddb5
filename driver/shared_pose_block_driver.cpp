#include "driver/shared_pose_block_driver.h"

#include "common/pose_record_layout.h"
#include "common/section.h"
#include "common/shared_pose_block.h"
#include "driver/driver_log.h"

#include <atomic>

namespace quenlark {
namespace {

// Process-wide: the section handle and the mapped view. The block is absent exactly when
// the view is null. The view is an atomic so that a frame on another runtime thread sees
// Deactivate's close; relaxed order is enough, as a plain load and store would be.
section::Handle blockSection = section::kNoSection;
std::atomic<SharedPoseBlock*> blockView{nullptr};

}  // namespace

void CreateSharedPoseBlock() {
    // Activated again without a Deactivate: the view is still mapped; reset it in place.
    if (SharedPoseBlock* existing = blockView.load(std::memory_order_relaxed)) {
        InitialiseSharedPoseBlock(*existing);
        return;
    }
    const section::Handle handle = section::Create(kSharedPoseBlockName, kSharedPoseBlockSize);
    if (handle == section::kNoSection) {
        WriteDriverLog("Failed to create file mapping object.");
    }
    auto* view = static_cast<SharedPoseBlock*>(section::Map(handle, kSharedPoseBlockSize));
    if (view == nullptr) {
        WriteDriverLog("Failed to map view of file.");
        section::Close(handle);
        return;
    }
    InitialiseSharedPoseBlock(*view);
    blockSection = handle;
    blockView.store(view, std::memory_order_relaxed);
}

void CloseSharedPoseBlock() {
    SharedPoseBlock* view = blockView.exchange(nullptr, std::memory_order_relaxed);
    if (view == nullptr) {
        return;
    }
    section::Unmap(view, kSharedPoseBlockSize);
    section::Close(blockSection);
    blockSection = section::kNoSection;
    // A POSIX object outlives its last descriptor; remove the name so that the next
    // activation starts from fresh memory, as a Windows section would.
    section::RemoveName(kSharedPoseBlockName);
}

bool SharedPoseBlockPresent() { return blockView.load(std::memory_order_relaxed) != nullptr; }

std::optional<vr::TrackedDevicePose_t> ReadPose() {
    SharedPoseBlock* view = blockView.load(std::memory_order_relaxed);
    if (view == nullptr || !AcquirePoseLockBounded(*view, kReadPoseAttempts)) {
        return std::nullopt;
    }
    const auto pose = LoadRelayedPose<vr::TrackedDevicePose_t>(*view);
    ReleasePoseLock(*view, std::memory_order_seq_cst);
    return pose;
}

}  // namespace quenlark
