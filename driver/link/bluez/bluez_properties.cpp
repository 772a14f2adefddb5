#include "driver/link/bluez/bluez_properties.h"

#include "driver/link/bluez/bluez_names.h"
#include "driver/link/bluez/bluez_values.h"

namespace quenlark::ble::bluez {

DeviceUpdate readDeviceUpdate(const Properties& properties) {
    DeviceUpdate update;
    if (const auto address = property<std::string>(properties, "Address")) {
        update.address = parseAddress(*address);
    }
    update.name = property<std::string>(properties, "Name");
    update.connected = property<bool>(properties, "Connected");
    update.servicesResolved = property<bool>(properties, "ServicesResolved");
    for (const char* key : {"RSSI", "Name", "ManufacturerData", "ServiceData"}) {
        update.heard = update.heard || properties.count(key) != 0;
    }
    return update;
}

AdapterUpdate readAdapterUpdate(const Properties& properties) {
    return {property<bool>(properties, "Powered"), property<bool>(properties, "Discovering")};
}

bool startsWithPath(const std::string& path, const std::string& parent) {
    return path.size() > parent.size() + 1 && path.compare(0, parent.size(), parent) == 0 &&
           path[parent.size()] == '/';
}

std::vector<GattServiceInfo> gattServicesBelow(const ManagedObjects& objects,
                                               const std::string& devicePath) {
    std::vector<GattServiceInfo> services;
    for (const auto& [path, interfaces] : objects) {
        const auto it = interfaces.find(kGattServiceInterface);
        if (it == interfaces.end() || !startsWithPath(path, devicePath)) {
            continue;
        }
        const auto uuid = property<std::string>(it->second, "UUID");
        const auto parsed = uuid ? parseUuid(*uuid) : std::nullopt;
        if (parsed) {
            services.push_back(GattServiceInfo{GattObjectInfo{path, *parsed}, {}});
        }
    }
    for (GattServiceInfo& service : services) {
        for (const auto& [path, interfaces] : objects) {
            const auto it = interfaces.find(kGattCharacteristicInterface);
            if (it == interfaces.end() || !startsWithPath(path, service.service.path)) {
                continue;
            }
            const auto uuid = property<std::string>(it->second, "UUID");
            const auto parsed = uuid ? parseUuid(*uuid) : std::nullopt;
            if (parsed) {
                service.characteristics.push_back(GattObjectInfo{path, *parsed});
            }
        }
    }
    return services;
}

}  // namespace quenlark::ble::bluez
