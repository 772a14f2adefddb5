#pragma once
// Starts the pose relay program from the driver's own folder and ends it again. Both run
// on the runtime's thread, in Activate and Deactivate; outcomes go to the driver log.

#include <string>

namespace quenlark {

// The relay program's file name in the driver folder.
inline constexpr const char* kPoseRelayFileName = "orbelin";

// The folder that holds the driver library, without a trailing separator; empty on failure.
std::string GetDriverFolder();

void StartPoseRelay(const char* fileName);
void StopPoseRelay();

}  // namespace quenlark
