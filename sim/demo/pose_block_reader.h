#pragma once
// The session's own view of the driver's shared pose block, to see which record the relay
// had published around each frame. Reads take the block's lock as the driver does, with a
// bounded number of attempts, so that the session never waits on the relay.

#include <optional>

#include "common/section.h"
#include "common/shared_pose_block.h"
#include "sim/demo/relayed_records.h"

namespace quenlark::demo {

class PoseBlockReader {
  public:
    PoseBlockReader() = default;
    ~PoseBlockReader();
    PoseBlockReader(const PoseBlockReader&) = delete;
    PoseBlockReader& operator=(const PoseBlockReader&) = delete;

    // Opens and maps the block the driver created; false when there is none. The view
    // stays valid after the driver removes the name.
    bool Open();
    void Close();

    // The record under the lock; none when the block is not open or the lock was held
    // throughout the attempts.
    std::optional<PoseRecordBytes> Read() const;

    static constexpr int kLockAttempts = 1000;

  private:
    section::Handle handle_ = section::kNoSection;
    SharedPoseBlock* view_ = nullptr;
};

}  // namespace quenlark::demo
