#pragma once
// BlueZ's text forms of addresses and UUIDs, read into the central's values.

#include <cstdint>
#include <optional>
#include <string_view>

#include "driver/link/ble_central.h"

namespace quenlark::ble::bluez {

// "AA:BB:CC:DD:EE:FF" (either case) as 0xAABBCCDDEEFF; none for anything else.
std::optional<std::uint64_t> parseAddress(std::string_view text);

// "0000fff1-0000-1000-8000-00805f9b34fb" (8-4-4-4-12 hex digits, either case); none for
// anything else.
std::optional<Uuid> parseUuid(std::string_view text);

}  // namespace quenlark::ble::bluez
