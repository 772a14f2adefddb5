#pragma once

namespace quenlark {

// Hands one line, unchanged, to the runtime's driver log. Has the shape of LogCallback, so
// the trigger link writes through it. Safe on any thread once Init has fetched the log
// interface; does nothing before Init has handed over a driver context.
void WriteDriverLog(const char* line);

}  // namespace quenlark
