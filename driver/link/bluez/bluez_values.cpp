#include "driver/link/bluez/bluez_values.h"

namespace quenlark::ble::bluez {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Two hex digits at `at` as one byte, or -1.
int hexByte(std::string_view text, std::size_t at) {
    const int high = hexValue(text[at]);
    const int low = hexValue(text[at + 1]);
    return (high < 0 || low < 0) ? -1 : high * 16 + low;
}

}  // namespace

std::optional<std::uint64_t> parseAddress(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::uint64_t address = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != ':') {
            return std::nullopt;
        }
        const int byte = hexByte(text, at);
        if (byte < 0) {
            return std::nullopt;
        }
        address = (address << 8) | static_cast<std::uint64_t>(byte);
    }
    return address;
}

std::optional<Uuid> parseUuid(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid uuid{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        // Hyphens stand after the 4th, 6th, 8th and 10th byte.
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            if (text[at] != '-') {
                return std::nullopt;
            }
            ++at;
        }
        const int byte = hexByte(text, at);
        if (byte < 0) {
            return std::nullopt;
        }
        uuid[i] = static_cast<std::uint8_t>(byte);
        at += 2;
    }
    return uuid;
}

}  // namespace quenlark::ble::bluez
