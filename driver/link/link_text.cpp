#include "driver/link/link_text.h"

namespace quenlark {

std::string addressText(std::uint64_t address) {
    return std::to_string(address);
}

std::string uuidText(const ble::Uuid& uuid) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(38);
    text.push_back('{');
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        // Hyphens after the 4th, 6th, 8th and 10th byte: 8-4-4-4-12 digits.
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kDigits[uuid[i] >> 4]);
        text.push_back(kDigits[uuid[i] & 0x0F]);
    }
    text.push_back('}');
    return text;
}

}  // namespace quenlark
