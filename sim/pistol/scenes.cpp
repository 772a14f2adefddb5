#include "sim/pistol/scenes.h"

namespace quenlark::sim {
namespace {

constexpr char kPistolServiceUuid[] = "0000fff0-0000-1000-8000-00805f9b34fb";
constexpr char kOtherCharacteristicUuid[] = "0000fff2-0000-1000-8000-00805f9b34fb";
constexpr char kBatteryServiceUuid[] = "0000180f-0000-1000-8000-00805f9b34fb";
constexpr char kBatteryLevelUuid[] = "00002a19-0000-1000-8000-00805f9b34fb";

// Other devices in range: one with a name, one without.
void addBystanders(Scene& scene) {
    scene.devices.push_back(SimDevice{"Speaker", "11:22:33:44:55:66", {}});
    scene.devices.push_back(SimDevice{std::nullopt, "66:55:44:33:22:11", {}});
}

Scene pistolWith(std::vector<SimService> services) {
    Scene scene;
    addBystanders(scene);
    scene.devices.push_back(SimDevice{"Pistol", kPistolAddress, std::move(services)});
    return scene;
}

SimService pistolService() {
    return SimService{kPistolServiceUuid,
                      {{kTargetCharacteristicUuid}, {kOtherCharacteristicUuid}}};
}

}  // namespace

std::optional<Scene> sceneNamed(const std::string& name) {
    if (name == "pistol") {
        return pistolWith({pistolService()});
    }
    if (name == "two-services") {
        return pistolWith(
            {SimService{kPistolServiceUuid, {{kTargetCharacteristicUuid}}},
             SimService{kBatteryServiceUuid, {{kBatteryLevelUuid}, {kTargetCharacteristicUuid}}}});
    }
    if (name == "no-services") {
        return pistolWith({});
    }
    if (name == "no-target") {
        return pistolWith({SimService{kBatteryServiceUuid, {{kBatteryLevelUuid}}}});
    }
    if (name == "notify-fails") {
        Scene scene = pistolWith({pistolService()});
        scene.notifyFails = true;
        return scene;
    }
    if (name == "near-misses") {
        Scene scene;
        scene.devices.push_back(SimDevice{"pistol", "00:00:00:00:00:01", {pistolService()}});
        scene.devices.push_back(SimDevice{"Pistol ", "00:00:00:00:00:02", {pistolService()}});
        scene.devices.push_back(SimDevice{"Pistol2", "00:00:00:00:00:03", {pistolService()}});
        scene.devices.push_back(SimDevice{std::nullopt, "00:00:00:00:00:04", {pistolService()}});
        return scene;
    }
    if (name == "connect-fails") {
        Scene scene = pistolWith({pistolService()});
        scene.connectFails = true;
        return scene;
    }
    if (name == "never-resolves") {
        Scene scene = pistolWith({pistolService()});
        scene.servicesNeverResolve = true;
        return scene;
    }
    if (name == "resolved-before-reply") {
        Scene scene = pistolWith({pistolService()});
        scene.resolveBeforeReply = true;
        return scene;
    }
    if (name == "powered-off") {
        Scene scene = pistolWith({pistolService()});
        scene.adapterPowered = false;
        return scene;
    }
    if (name == "no-adapter") {
        Scene scene;
        scene.adapterPresent = false;
        return scene;
    }
    return std::nullopt;
}

}  // namespace quenlark::sim
