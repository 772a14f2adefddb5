#pragma once
// The operating system's process and module services that the relay launcher needs, behind
// one small interface (process_services_posix.cpp: pidfds, posix_spawn and dladdr).
// Called on the runtime's thread in Activate and Deactivate.

#include <cstdint>
#include <string>

namespace quenlark::process {

// A handle on a process: a pidfd on POSIX. kNoHandle when there is none.
using Handle = std::int64_t;
inline constexpr Handle kNoHandle = -1;

// A started process: its id and a handle on it. {0, kNoHandle} when there is none.
struct StartedProcess {
    std::int64_t id = 0;
    Handle handle = kNoHandle;
};

// A handle on the calling process, for a child to wait on. Not inherited by processes that
// others start; StartWithHandle hands it to its child under the same value. kNoHandle on
// failure.
Handle OpenSelfHandle();

void CloseHandle(Handle handle);

// Starts the program at `path` with `commandLine` as its whole command line (on POSIX the
// one element of its argument vector), this process's environment and working directory,
// no console (standard input, output and error on the null device) and, of this process's
// handles, only `inherited`, under its own value. Fills `started` and returns true on
// success; on failure `started` is left as it was.
bool StartWithHandle(const std::string& path, const std::string& commandLine, Handle inherited,
                     StartedProcess& started);

// Ends the started process at once and reaps it, so that nothing of it stays behind.
// False when there is no such process to end, or it had already ended by itself (it is
// reaped all the same). Does not close the handle.
bool Terminate(const StartedProcess& process);

// The file of the loaded module (shared library or program) whose code holds `address`;
// empty on failure.
std::string ModulePathOf(const void* address);

}  // namespace quenlark::process
