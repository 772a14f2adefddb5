#pragma once
// Runs the session in a child process that leads a process group of its own.
//
// Ctrl-C in a terminal signals the whole foreground process group. The session's own
// children (the relay the driver starts, the private bus, the pistol) are in its group and
// would die of it at once, before the session could end them in order: the driver would
// find its relay already gone. So the session runs in a child out of that group; this
// process stays in it, takes the signal and passes it on as one SIGTERM. The child ends
// with this process, whatever becomes of it.

#include <functional>

namespace quenlark::demo {

// In the child: runs `session` and returns its result. In this process: waits for the
// child and returns its exit status (128 + the signal when a signal ended it). When no
// child can be made, runs `session` here. Call before any other thread starts, with the
// stop request handlers installed.
int RunInOwnProcessGroup(const std::function<int()>& session);

}  // namespace quenlark::demo
