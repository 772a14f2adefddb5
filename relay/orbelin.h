#pragma once

namespace quenlark {

// Exit status of the relay: 0 after the parent has exited; 1 when the shared pose block
// cannot be opened or mapped; 2 when the command line holds no parent handle; 3 when the
// parent watch cannot be started.
inline constexpr int kExitParentGone = 0;
inline constexpr int kExitNoSharedPoseBlock = 1;
inline constexpr int kExitBadCommandLine = 2;
inline constexpr int kExitNoParentWatch = 3;

// The relay program from start to end: parent handle, parent watch, shared pose block,
// connection to the runtime, relay loop. Returns the exit status.
int RunOrbelin(int argc, char** argv);

}  // namespace quenlark
