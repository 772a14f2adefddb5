#pragma once
// The trigger link's log: every line of the link goes out through linkLog, one call per
// complete line, with no prefix, time stamp or terminator added.

#include <atomic>
#include <string>

#include "driver/link/log_callback.h"

namespace quenlark {

// The callback the running link thread was started with; null drops every line. Written
// by the link thread at its start, read by the thread and by every handler before each
// line. Concurrent: relaxed loads and stores of a plain pointer.
extern std::atomic<LogCallback> linkLog;

// Writes one line through linkLog, if there is one. Concurrent: callable from any thread;
// the callback behind linkLog must accept concurrent calls.
void writeLinkLine(const std::string& line);

}  // namespace quenlark
