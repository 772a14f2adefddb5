#pragma once
// Checks that vr::TrackedDevicePose_t, as declared by whichever OpenVR header the including
// file has already included (openvr.h or openvr_driver.h), has the layout of the shared
// pose block's record. Include it after the OpenVR header.

#include <cstddef>

static_assert(sizeof(vr::TrackedDevicePose_t) == 80);
static_assert(offsetof(vr::TrackedDevicePose_t, mDeviceToAbsoluteTracking) == 0);
static_assert(sizeof(vr::HmdMatrix34_t) == 48);
static_assert(offsetof(vr::TrackedDevicePose_t, vVelocity) == 48);
static_assert(offsetof(vr::TrackedDevicePose_t, vAngularVelocity) == 60);
static_assert(offsetof(vr::TrackedDevicePose_t, eTrackingResult) == 72);
static_assert(sizeof(vr::ETrackingResult) == 4);
static_assert(offsetof(vr::TrackedDevicePose_t, bPoseIsValid) == 76);
static_assert(offsetof(vr::TrackedDevicePose_t, bDeviceIsConnected) == 77);
