#include "tests/driver/relay_stand_in.h"

#include "common/pose_record_layout.h"

namespace quenlark::test {

RelayStandIn::RelayStandIn() {
    section_ = section::Open(kSharedPoseBlockName, kSharedPoseBlockSize);
    block_ = static_cast<SharedPoseBlock*>(section::Map(section_, kSharedPoseBlockSize));
}

RelayStandIn::~RelayStandIn() {
    section::Unmap(block_, kSharedPoseBlockSize);
    section::Close(section_);
}

void RelayStandIn::Publish(const vr::TrackedDevicePose_t& pose) {
    AcquirePoseLockUnless(*block_, [] { return false; });
    StoreRelayedPose(*block_, pose);
    ReleasePoseLock(*block_, std::memory_order_release);
}

void RelayStandIn::HoldLock() {
    AcquirePoseLockUnless(*block_, [] { return false; });
}

void RelayStandIn::Release() {
    ReleasePoseLock(*block_, std::memory_order_release);
}

vr::TrackedDevicePose_t MakeRecord(const float rotation[3][3], float tx, float ty, float tz) {
    vr::TrackedDevicePose_t pose{};
    const float translation[3] = {tx, ty, tz};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            pose.mDeviceToAbsoluteTracking.m[r][c] = rotation[r][c];
        }
        pose.mDeviceToAbsoluteTracking.m[r][3] = translation[r];
    }
    pose.vVelocity = {{0.5f, -1.25f, 2.0f}};
    pose.vAngularVelocity = {{-0.75f, 0.125f, 3.5f}};
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = true;
    pose.bDeviceIsConnected = true;
    return pose;
}

}  // namespace quenlark::test
