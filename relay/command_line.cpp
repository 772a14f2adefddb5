#include "relay/command_line.h"

#include <limits>

namespace quenlark {

std::optional<std::uint64_t> ParseParentHandle(const char* token) {
    if (token == nullptr || *token < '0' || *token > '9') {
        return std::nullopt;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char* c = token; *c >= '0' && *c <= '9'; ++c) {
        const auto digit = static_cast<std::uint64_t>(*c - '0');
        if (value > (kMax - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace quenlark
