#pragma once

namespace vr {
class IVRDriverLog;
}

namespace quenlark {

// Hands one line, unchanged, to the runtime's driver log. Has the shape of LogCallback, so
// the trigger link writes through it from its own thread and from Bluetooth platform
// threads. Does nothing while no log is set (before Init, after Cleanup).
void WriteDriverLog(const char* line);

// The log WriteDriverLog writes to: the runtime's driver log once Init has fetched it,
// null again at Cleanup. The link thread outlives Deactivate by up to a tick, and reads
// this one atomic pointer rather than the SDK's interface cache, which Init writes.
void SetDriverLogTarget(vr::IVRDriverLog* log);

}  // namespace quenlark
