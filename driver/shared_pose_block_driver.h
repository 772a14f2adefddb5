#pragma once
// The driver's side of the shared pose block: it creates, reads and closes the section.
// All three run on runtime threads: create and close in Activate and Deactivate, the read
// in the frame update.

#include <openvr_driver.h>

#include <optional>

namespace quenlark {

// Creates (or takes over) the section, maps it and zeroes its first 84 bytes. Failures go
// to the driver log; the block is then absent.
void CreateSharedPoseBlock();

// Unmaps and closes the section and removes its name; the block is absent afterwards.
void CloseSharedPoseBlock();

bool SharedPoseBlockPresent();

// A private copy of the relayed record, taken under the block's lock. Empty when the block
// is absent or the lock could not be had within a bounded number of attempts (a relay
// killed while holding it): a frame never waits for a dead relay.
std::optional<vr::TrackedDevicePose_t> ReadPose();

// Attempts ReadPose makes before it gives up for this frame: a few tens of microseconds.
inline constexpr int kReadPoseAttempts = 4096;

}  // namespace quenlark
