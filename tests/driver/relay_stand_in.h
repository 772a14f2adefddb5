#pragma once
// The relay's side of the shared pose block, for tests: opens the section the driver
// created, as orbelin does, and publishes records, or holds the lock as a relay killed in
// its critical section would.

#include <openvr_driver.h>

#include "common/section.h"
#include "common/shared_pose_block.h"

namespace quenlark::test {

class RelayStandIn {
  public:
    RelayStandIn();  // opens and maps the block; Open() tells whether that worked
    ~RelayStandIn();
    RelayStandIn(const RelayStandIn&) = delete;
    RelayStandIn& operator=(const RelayStandIn&) = delete;

    bool Open() const { return block_ != nullptr; }
    SharedPoseBlock& Block() { return *block_; }

    // Stores the record under the lock, as PublishPose does.
    void Publish(const vr::TrackedDevicePose_t& pose);

    // Takes the lock and keeps it until Release.
    void HoldLock();
    void Release();

  private:
    section::Handle section_ = section::kNoSection;
    SharedPoseBlock* block_ = nullptr;
};

// A record with the given rotation rows (3 x 3) and translation; velocities and status set.
vr::TrackedDevicePose_t MakeRecord(const float rotation[3][3], float tx, float ty, float tz);

}  // namespace quenlark::test
