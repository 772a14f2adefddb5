#pragma once
// Waiting for the relay's parent, the VR server process that hosts the driver. The handle
// is the value the launcher put on the command line, inherited under that number; one
// backend per operating system (parent_process_posix.cpp: a pidfd).

#include <cstdint>

namespace quenlark {

// Returns once the process behind `parentHandle` has ended, or at once when the value
// names nothing that can be waited on: both mean that the relay has no parent to serve.
void WaitForParentExit(std::uint64_t parentHandle);

}  // namespace quenlark
