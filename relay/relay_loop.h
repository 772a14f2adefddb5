#pragma once
// Connecting to the VR runtime and the relay loop. Main thread only.

#include <openvr.h>

namespace quenlark {

// Connects as a background application, retrying every 3000 ms without limit; each failed
// attempt writes "Failed to initialize OpenVR, error code: " and the runtime's English
// description and shuts the attempt down. Also stops, with null, once the parent has
// exited: a relay without a host has nothing to wait for.
vr::IVRSystem* ConnectToRuntime();

// Runs passes without pause until the parent has exited: the poses of all devices, one
// console line per controller, the right-hand controller's record (or the default record)
// published into the shared pose block.
void RunRelayLoop(vr::IVRSystem& system);

// The record a pass publishes when it sees no right-hand controller: zero matrix and
// velocities, TrackingResult_Running_OK, valid and connected, padding zero.
vr::TrackedDevicePose_t DefaultPoseRecord();

}  // namespace quenlark
