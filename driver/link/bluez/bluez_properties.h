#pragma once
// Reading BlueZ's D-Bus property maps into the backend's values. Pure: no bus, no lock;
// a property of an unexpected type or form reads as absent.

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "driver/link/ble_central.h"

namespace quenlark::ble::bluez {

using Properties = std::map<std::string, sdbus::Variant>;
using InterfaceProperties = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, InterfaceProperties>;

// A GATT characteristic or service found under a device.
struct GattObjectInfo {
    std::string path;
    Uuid uuid{};
};
struct GattServiceInfo {
    GattObjectInfo service;
    std::vector<GattObjectInfo> characteristics;
};

// A property of the expected type, or none.
template <typename T>
std::optional<T> property(const Properties& properties, const char* name) {
    const auto it = properties.find(name);
    if (it == properties.end()) {
        return std::nullopt;
    }
    try {
        if (it->second.containsValueOfType<T>()) {
            return it->second.get<T>();
        }
    } catch (const sdbus::Error&) {
    }
    return std::nullopt;
}

// Device1 properties as they arrive.
struct DeviceUpdate {
    std::optional<std::uint64_t> address;
    std::optional<std::string> name;
    bool nameInvalidated = false;
    std::optional<bool> connected;
    std::optional<bool> servicesResolved;
    bool heard = false;  // RSSI, Name, ManufacturerData or ServiceData changed
};
DeviceUpdate readDeviceUpdate(const Properties& properties);

struct AdapterUpdate {
    std::optional<bool> powered;
    std::optional<bool> discovering;
};
AdapterUpdate readAdapterUpdate(const Properties& properties);

// True when `path` lies below `parent` ("/a/b" is below "/a", "/ab" is not).
bool startsWithPath(const std::string& path, const std::string& parent);

// The GattService1 objects below `devicePath` and the GattCharacteristic1 objects below
// each service, in path order; objects without a well-formed UUID are left out.
std::vector<GattServiceInfo> gattServicesBelow(const ManagedObjects& objects,
                                               const std::string& devicePath);

}  // namespace quenlark::ble::bluez
