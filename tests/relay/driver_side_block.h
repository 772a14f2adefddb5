#pragma once
// The shared pose block as the driver holds it, for tests of the relay: created under the
// fixed name "/Zevoro_SharedMemory" and initialised as the driver does, then with a
// pattern in the bytes the relay must never write (1 to 3 and 84 to 1023).

#include <cstdint>
#include <optional>

#include "common/shared_pose_block.h"
#include "sim/runtime/scene_data.h"

namespace quenlark::test {

class DriverSideBlock {
  public:
    DriverSideBlock();   // throws std::runtime_error when the block cannot be made
    ~DriverSideBlock();  // unmaps, closes and removes the name
    DriverSideBlock(const DriverSideBlock&) = delete;
    DriverSideBlock& operator=(const DriverSideBlock&) = delete;

    SharedPoseBlock& Block() { return *view_; }

    // A copy of the record taken under the lock, as the driver's ReadPose takes it; empty
    // when the lock stays held.
    std::optional<sim::ScenePose> Record();

    // Whether bytes 1 to 3 and 84 to 1023 still hold the pattern.
    bool OutsideRecordUntouched() const;

    static constexpr unsigned char kPattern = 0xA5;

  private:
    std::intptr_t handle_;
    SharedPoseBlock* view_ = nullptr;
};

}  // namespace quenlark::test
