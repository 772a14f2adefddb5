#pragma once
// Looks at processes through /proc: who are the children of a process, what runs in them,
// and whether they are still there (zombies included).

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace quenlark::test {

std::vector<pid_t> ChildrenOf(pid_t parent);

// The children of `parent` that run this program file.
std::vector<pid_t> ChildrenRunning(pid_t parent, const std::string& program);

// The state letter of /proc/<pid>/stat ('Z' for a zombie); empty when the process is gone.
std::optional<char> StateOf(pid_t pid);

std::string ExecutableOf(pid_t pid);
std::vector<std::string> ArgumentsOf(pid_t pid);
std::string WorkingDirectoryOf(pid_t pid);

}  // namespace quenlark::test
