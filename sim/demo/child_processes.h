#pragma once
// The processes whose parent is this process, zombies included: what the session would
// leave behind if it did not end and reap its children.

#include <sys/types.h>

#include <vector>

namespace quenlark::demo {

std::vector<pid_t> ChildProcesses();

}  // namespace quenlark::demo
