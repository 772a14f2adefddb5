// A rogue Bluetooth service: addresses and UUIDs of any text, and object lists whose
// properties have any type (Name as a number, Value as a string, UUIDs of the wrong length,
// unknown object paths). Whatever arrives, reading it never fails, and what is read agrees
// with the text it came from.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/link/bluez/bluez_names.h"
#include "driver/link/bluez/bluez_properties.h"
#include "driver/link/bluez/bluez_values.h"

namespace {

using namespace quenlark::ble::bluez;
using quenlark::ble::Uuid;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string addressForm(std::uint64_t address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X",
                  static_cast<unsigned>((address >> 40) & 0xFF),
                  static_cast<unsigned>((address >> 32) & 0xFF),
                  static_cast<unsigned>((address >> 24) & 0xFF),
                  static_cast<unsigned>((address >> 16) & 0xFF),
                  static_cast<unsigned>((address >> 8) & 0xFF),
                  static_cast<unsigned>(address & 0xFF));
    return text;
}

std::string uuidForm(const Uuid& uuid) {
    std::string text;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02X", uuid[i]);
        text += byte;
    }
    return text;
}

// A text parsed back: it reads only when it is the canonical form, in either case.
void checkText(const std::string& text) {
    if (const auto address = parseAddress(text)) {
        check(*address <= 0xFFFFFFFFFFFFull);
        check(upper(text) == addressForm(*address));
    }
    if (const auto uuid = parseUuid(text)) {
        check(upper(text) == uuidForm(*uuid));
    }
}

const char* const kPaths[] = {"/org/bluez/hci0",
                              "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF",
                              "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF/service0010",
                              "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF/service0010/char0011",
                              "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF0",
                              "/",
                              "/org/bluez"};
const char* const kInterfaces[] = {kAdapterInterface, kDeviceInterface, kGattServiceInterface,
                                   kGattCharacteristicInterface, "org.example.Unknown1"};
const char* const kNames[] = {"Address", "Name",  "Connected", "ServicesResolved", "RSSI",
                              "UUID",    "Value", "Powered",   "Discovering",      "ServiceData"};
const char* const kTexts[] = {"AA:BB:CC:DD:EE:FF",
                              "aa:bb:cc:dd:ee:f",
                              "AA-BB-CC-DD-EE-FF",
                              "0000fff0-0000-1000-8000-00805f9b34fb",
                              "0000fff1-0000-1000-8000-00805f9b34f",
                              "0000fff1000010008000"};

std::string someText(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) {
        std::string text = in.PickValueInArray(kTexts);
        if (!text.empty() && in.ConsumeBool()) {
            text[in.ConsumeIntegralInRange<std::size_t>(0, text.size() - 1)] =
                in.ConsumeIntegral<char>();
        }
        return text;
    }
    return in.ConsumeRandomLengthString(48);
}

// A value of a type chosen by the input. D-Bus refuses some values (strings that are not
// UTF-8, malformed object paths); those throw here as they would on the bus, and are dropped.
std::optional<sdbus::Variant> someValue(FuzzedDataProvider& in) {
    try {
        switch (in.ConsumeIntegralInRange(0, 7)) {
            case 0:
                return sdbus::Variant(someText(in));
            case 1:
                return sdbus::Variant(in.ConsumeBool());
            case 2:
                return sdbus::Variant(in.ConsumeIntegral<std::int16_t>());
            case 3:
                return sdbus::Variant(in.ConsumeIntegral<std::uint32_t>());
            case 4:
                return sdbus::Variant(
                    in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 24)));
            case 5:
                return sdbus::Variant(sdbus::ObjectPath(in.PickValueInArray(kPaths)));
            case 6:
                return sdbus::Variant(std::vector<std::string>{someText(in), someText(in)});
            default:
                return sdbus::Variant(in.ConsumeFloatingPoint<double>());
        }
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
}

std::string somePath(FuzzedDataProvider& in) {
    std::string path = in.PickValueInArray(kPaths);
    if (in.ConsumeBool()) {
        path += in.ConsumeRandomLengthString(16);
    }
    return path;
}

Properties someProperties(FuzzedDataProvider& in) {
    Properties properties;
    const int count = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        const std::string name =
            in.ConsumeBool() ? in.PickValueInArray(kNames) : in.ConsumeRandomLengthString(12);
        if (auto value = someValue(in)) {
            properties.insert_or_assign(name, std::move(*value));
        }
    }
    return properties;
}

void checkDevice(const Properties& properties) {
    const DeviceUpdate update = readDeviceUpdate(properties);
    const auto address = property<std::string>(properties, "Address");
    check(update.address == (address ? parseAddress(*address) : std::nullopt));
    check(update.name == property<std::string>(properties, "Name"));
    check(update.connected == property<bool>(properties, "Connected"));
    const AdapterUpdate adapter = readAdapterUpdate(properties);
    check(adapter.powered == property<bool>(properties, "Powered"));
    check(property<std::vector<std::uint8_t>>(properties, "Value").has_value() ==
          (properties.count("Value") != 0 &&
           properties.at("Value").containsValueOfType<std::vector<std::uint8_t>>()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkText(std::string(reinterpret_cast<const char*>(data), size));

    FuzzedDataProvider in(data, size);
    ManagedObjects objects;
    const int count = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        InterfaceProperties interfaces;
        const int interfaceCount = in.ConsumeIntegralInRange(1, 3);
        for (int j = 0; j < interfaceCount; ++j) {
            Properties properties = someProperties(in);
            checkDevice(properties);
            interfaces.insert_or_assign(in.PickValueInArray(kInterfaces), std::move(properties));
        }
        objects.insert_or_assign(sdbus::ObjectPath(somePath(in)), std::move(interfaces));
    }
    const std::string device = somePath(in);
    for (const GattServiceInfo& service : gattServicesBelow(objects, device)) {
        check(startsWithPath(service.service.path, device));
        const auto& serviceProperties =
            objects.at(sdbus::ObjectPath(service.service.path)).at(kGattServiceInterface);
        check(parseUuid(*property<std::string>(serviceProperties, "UUID")) == service.service.uuid);
        for (const GattObjectInfo& characteristic : service.characteristics) {
            check(startsWithPath(characteristic.path, service.service.path));
        }
    }
    return 0;
}
