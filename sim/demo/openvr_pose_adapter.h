#pragma once
// Copies between the plain pose records and the OpenVR structs. Templates, so that this
// header needs neither openvr.h nor openvr_driver.h: the caller's struct brings its own.

#include "sim/demo/tracked_pose.h"

namespace quenlark::demo {

// Fills a vr::TrackedDevicePose_t (from either SDK header) with a running, valid and
// connected pose, narrowing to single precision as the runtime does.
template <class OpenVRTrackedPose>
void FillOpenVRPose(const TrackedPose& pose, OpenVRTrackedPose& out) {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            out.mDeviceToAbsoluteTracking.m[r][c] = static_cast<float>(pose.matrix[r][c]);
        }
        out.vVelocity.v[r] = static_cast<float>(pose.velocity[r]);
        out.vAngularVelocity.v[r] = static_cast<float>(pose.angularVelocity[r]);
    }
    out.eTrackingResult = static_cast<decltype(out.eTrackingResult)>(200);  // Running_OK
    out.bPoseIsValid = true;
    out.bDeviceIsConnected = true;
}

// The tracked pose a runtime would hold after serving a pose in single precision: the
// values that the relay actually publishes.
template <class OpenVRTrackedPose>
TrackedPose FromOpenVRPose(const OpenVRTrackedPose& in) {
    TrackedPose pose;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            pose.matrix[r][c] = in.mDeviceToAbsoluteTracking.m[r][c];
        }
        pose.velocity[r] = in.vVelocity.v[r];
        pose.angularVelocity[r] = in.vAngularVelocity.v[r];
    }
    return pose;
}

// Position and rotation of a vr::DriverPose_t.
template <class OpenVRDriverPose>
DevicePose DevicePoseOf(const OpenVRDriverPose& in) {
    DevicePose pose;
    for (int i = 0; i < 3; ++i) {
        pose.position[i] = in.vecPosition[i];
    }
    pose.rotation[0] = in.qRotation.w;
    pose.rotation[1] = in.qRotation.x;
    pose.rotation[2] = in.qRotation.y;
    pose.rotation[3] = in.qRotation.z;
    return pose;
}

}  // namespace quenlark::demo
