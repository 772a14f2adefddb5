#include "sim/demo/pose_block_reader.h"

namespace quenlark::demo {

PoseBlockReader::~PoseBlockReader() {
    Close();
}

bool PoseBlockReader::Open() {
    Close();
    handle_ = section::Open(kSharedPoseBlockName, kSharedPoseBlockSize);
    view_ = static_cast<SharedPoseBlock*>(section::Map(handle_, kSharedPoseBlockSize));
    if (view_ == nullptr) {
        Close();
        return false;
    }
    return true;
}

void PoseBlockReader::Close() {
    if (view_ != nullptr) {
        section::Unmap(view_, kSharedPoseBlockSize);
        view_ = nullptr;
    }
    if (handle_ != section::kNoSection) {
        section::Close(handle_);
        handle_ = section::kNoSection;
    }
}

std::optional<PoseRecordBytes> PoseBlockReader::Read() const {
    if (view_ == nullptr || !AcquirePoseLockBounded(*view_, kLockAttempts)) {
        return std::nullopt;
    }
    const auto record = LoadRelayedPose<PoseRecordBytes>(*view_);
    ReleasePoseLock(*view_, std::memory_order_seq_cst);
    return record;
}

}  // namespace quenlark::demo
