#pragma once
// Starts the pose relay program from the driver's own folder and ends it again. Both run
// on the runtime's thread, in Activate and Deactivate; outcomes go to the driver log.

#include <string>
#include <string_view>

namespace quenlark {

// The relay program's file name in the driver folder.
inline constexpr const char* kPoseRelayFileName = "orbelin";

// The folder that holds the driver library, without a trailing separator; empty on failure
// (after "Failed to get DLL path." in the driver log).
std::string GetDriverFolder();

// Starts <driver folder>/<fileName> with a handle on this process as its whole command
// line: the handle's value in decimal. Logs "Orbelin process started." or why not.
void StartPoseRelay(const char* fileName);

// Ends the started relay and releases its handle; logs the outcome.
void StopPoseRelay();

// The folder part of a module's path: everything before its last '/' or '\'; the whole
// path when it has neither.
std::string FolderOfModulePath(std::string_view modulePath);

}  // namespace quenlark
