#pragma once
// The little the terminal view needs to know about its output stream.

#include <cstdio>

namespace quenlark::demo {

// True when the stream is an interactive terminal.
bool IsTerminal(std::FILE* stream);

// The terminal's width in columns; fallback when it cannot be told.
int TerminalColumns(std::FILE* stream, int fallback = 100);

}  // namespace quenlark::demo
