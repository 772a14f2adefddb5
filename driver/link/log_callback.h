#pragma once
// The trigger link writes every line through a LogCallback: one NUL-terminated line of
// 8-bit text (UTF-8 where names from the peripheral occur), valid only during the call.
// A null callback silences the link.

namespace quenlark {

using LogCallback = void (*)(const char* line);

}  // namespace quenlark
