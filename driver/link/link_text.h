#pragma once
// Text forms of the values the trigger link writes into its log lines.

#include <cstdint>
#include <string>

#include "driver/link/ble_central.h"

namespace quenlark {

// A Bluetooth address as an unsigned decimal number: digits only, 0 is "0".
std::string addressText(std::uint64_t address);

// A UUID in registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case, 38 characters.
std::string uuidText(const ble::Uuid& uuid);

}  // namespace quenlark
