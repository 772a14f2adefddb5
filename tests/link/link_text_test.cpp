// Text forms of values in log lines, and BlueZ's text forms read back into values.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "driver/link/bluez/bluez_values.h"
#include "driver/link/connection_sequence.h"
#include "driver/link/link_text.h"

namespace quenlark::test {
namespace {

TEST(LinkText, AddressesAreDecimalDigitsOnly) {
    EXPECT_EQ(addressText(0), "0");
    EXPECT_EQ(addressText(0xAABBCCDDEEFF), "187723572702975");
    EXPECT_EQ(addressText(UINT64_MAX), "18446744073709551615");
}

TEST(LinkText, UuidsAreUpperCaseWithBraces) {
    EXPECT_EQ(uuidText(kTargetCharacteristicUuid), "{0000FFF1-0000-1000-8000-00805F9B34FB}");
    EXPECT_EQ(uuidText(ble::Uuid{}), "{00000000-0000-0000-0000-000000000000}");
}

struct AddressCase {
    const char* text;
    std::optional<std::uint64_t> value;
};

class BluezAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(BluezAddressTest, Parses) {
    EXPECT_EQ(ble::bluez::parseAddress(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Addresses, BluezAddressTest,
                         ::testing::Values(AddressCase{"AA:BB:CC:DD:EE:FF", 0xAABBCCDDEEFF},
                                           AddressCase{"aa:bb:cc:dd:ee:ff", 0xAABBCCDDEEFF},
                                           AddressCase{"00:00:00:00:00:01", 1},
                                           AddressCase{"FF:FF:FF:FF:FF:FF", 0xFFFFFFFFFFFF},
                                           AddressCase{"AA:BB:CC:DD:EE", std::nullopt},
                                           AddressCase{"AA:BB:CC:DD:EE:FF:00", std::nullopt},
                                           AddressCase{"AA-BB-CC-DD-EE-FF", std::nullopt},
                                           AddressCase{"AA:BB:CC:DD:EE:FG", std::nullopt},
                                           AddressCase{"", std::nullopt}));

TEST(BluezUuid, ReadsBluezLowerCaseFormIntoTheSameBytes) {
    EXPECT_EQ(ble::bluez::parseUuid("0000fff1-0000-1000-8000-00805f9b34fb"),
              kTargetCharacteristicUuid);
    EXPECT_EQ(ble::bluez::parseUuid("0000FFF1-0000-1000-8000-00805F9B34FB"),
              kTargetCharacteristicUuid);
}

TEST(BluezUuid, RejectsMalformedText) {
    for (const char* text :
         {"", "0000fff1", "0000fff1-0000-1000-8000-00805f9b34f",
          "0000fff1-0000-1000-8000-00805f9b34fbb", "0000fff1:0000-1000-8000-00805f9b34fb",
          "0000fff1-0000-1000-8000-00805f9b34fg", "{0000fff1-0000-1000-8000-00805f9b34}"}) {
        EXPECT_EQ(ble::bluez::parseUuid(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace quenlark::test
