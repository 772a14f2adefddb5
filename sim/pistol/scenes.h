#pragma once
// What the simulated BlueZ service offers: one adapter and the devices in range, with their
// GATT services, and how the pistol behaves.

#include <optional>
#include <string>
#include <vector>

namespace quenlark::sim {

struct SimCharacteristic {
    std::string uuid;  // BlueZ's lower-case form
};

struct SimService {
    std::string uuid;
    std::vector<SimCharacteristic> characteristics;
};

struct SimDevice {
    std::optional<std::string> name;  // none: the device advertises no local name
    std::string address;              // "AA:BB:CC:DD:EE:FF"
    std::vector<SimService> services;
};

struct Scene {
    bool adapterPresent = true;
    bool adapterPowered = true;
    std::vector<SimDevice> devices;
    bool connectFails = false;          // Connect answers org.bluez.Error.Failed
    bool servicesNeverResolve = false;  // Connect succeeds, ServicesResolved stays false
    bool resolveBeforeReply = false;    // ServicesResolved turns true before Connect's reply
    bool notifyFails = false;           // StartNotify answers org.bluez.Error.NotPermitted
};

inline constexpr char kPistolAddress[] = "AA:BB:CC:DD:EE:FF";
inline constexpr char kTargetCharacteristicUuid[] = "0000fff1-0000-1000-8000-00805f9b34fb";

// The scene of this name, or none. Names: pistol (the default), two-services, no-services,
// no-target, notify-fails, near-misses, connect-fails, never-resolves,
// resolved-before-reply, powered-off, no-adapter.
std::optional<Scene> sceneNamed(const std::string& name);

}  // namespace quenlark::sim
