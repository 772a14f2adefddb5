#pragma once
// The parent watch: a detached thread that waits for the relay's parent process to end,
// says so and raises parentExited, on which the relay loop stops.

#include <atomic>
#include <cstdint>

namespace quenlark {

// Raised once by the watch; read by the main thread (connection retry, relay loop and the
// lock acquire). Never cleared.
extern std::atomic<bool> parentExited;

// The watch thread's body: waits, writes "Parent process exited, shutting down...", then
// raises parentExited (the line comes first).
void WatchParent(std::uint64_t parentHandle);

// Starts WatchParent on a thread of its own and detaches it. False when no thread could be
// started.
bool StartParentWatch(std::uint64_t parentHandle);

}  // namespace quenlark
