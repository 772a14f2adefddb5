// Any token: the parent handle is the leading decimal number when it fits in 64 bits, and
// nothing when the token does not start with a digit or the number overflows.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "relay/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The argument vector holds C strings: the token ends at the first NUL.
    const std::string token(reinterpret_cast<const char*>(data), size);
    const char* begin = token.c_str();
    const std::optional<std::uint64_t> handle = quenlark::ParseParentHandle(begin);

    std::size_t digits = 0;
    while (begin[digits] >= '0' && begin[digits] <= '9') {
        ++digits;
    }
    std::uint64_t expected = 0;
    const auto [end, error] = std::from_chars(begin, begin + digits, expected);
    const bool valid = digits > 0 && error == std::errc{} && end == begin + digits;
    if (handle.has_value() != valid || (valid && *handle != expected)) {
        std::abort();
    }
    if (quenlark::ParseParentHandle(nullptr).has_value()) {
        std::abort();
    }
    return 0;
}
