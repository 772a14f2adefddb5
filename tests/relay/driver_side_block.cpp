#include "tests/relay/driver_side_block.h"

#include <cstring>
#include <stdexcept>

#include "common/section.h"

namespace quenlark::test {

DriverSideBlock::DriverSideBlock() {
    section::RemoveName(kSharedPoseBlockName);  // a leftover of an earlier run
    handle_ = section::Create(kSharedPoseBlockName, kSharedPoseBlockSize);
    view_ = static_cast<SharedPoseBlock*>(section::Map(handle_, kSharedPoseBlockSize));
    if (view_ == nullptr) {
        section::Close(handle_);
        throw std::runtime_error("cannot create the shared pose block");
    }
    InitialiseSharedPoseBlock(*view_);
    std::memset(view_->reserved, kPattern, sizeof view_->reserved);
    std::memset(view_->unused, kPattern, sizeof view_->unused);
}

DriverSideBlock::~DriverSideBlock() {
    section::Unmap(view_, kSharedPoseBlockSize);
    section::Close(handle_);
    section::RemoveName(kSharedPoseBlockName);
}

std::optional<sim::ScenePose> DriverSideBlock::Record() {
    if (!AcquirePoseLockBounded(*view_, 1 << 20)) {
        return std::nullopt;
    }
    const auto pose = LoadRelayedPose<sim::ScenePose>(*view_);
    ReleasePoseLock(*view_, std::memory_order_seq_cst);
    return pose;
}

bool DriverSideBlock::OutsideRecordUntouched() const {
    for (unsigned char byte : view_->reserved) {
        if (byte != kPattern) {
            return false;
        }
    }
    for (unsigned char byte : view_->unused) {
        if (byte != kPattern) {
            return false;
        }
    }
    return true;
}

}  // namespace quenlark::test
