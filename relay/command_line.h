#pragma once
#include <cstdint>
#include <optional>

namespace quenlark {

// The parent handle from the relay's command line. The launcher makes the whole command
// line one token, the handle's value in decimal, and passes it as the first element of the
// argument vector (where a program name usually stands). The decimal number at the start
// of `token` is read up to the first character that is not a digit; the rest is ignored.
// Empty when `token` is null, does not begin with a digit or does not fit in 64 bits.
std::optional<std::uint64_t> ParseParentHandle(const char* token);

}  // namespace quenlark
