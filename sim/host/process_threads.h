#pragma once
// The threads of this process, so that the host can tell when the threads a driver library
// started have ended: unmapping a library while one of its threads still runs its code
// (even only the epilogue of a detached thread) crashes the process.

#include <chrono>
#include <set>

namespace quenlark::sim {

using ThreadIds = std::set<long>;

// The ids of the threads alive now.
ThreadIds LiveThreads();

// Waits until every thread alive now that is not in `before` has ended; false when some
// are still running at the time-out.
bool WaitForNewThreadsToEnd(const ThreadIds& before, std::chrono::milliseconds timeout);

}  // namespace quenlark::sim
