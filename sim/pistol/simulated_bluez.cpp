#include "sim/pistol/simulated_bluez.h"

#include <algorithm>
#include <cstdio>

namespace quenlark::sim {
namespace {

constexpr char kAdapterPath[] = "/org/bluez/hci0";
constexpr char kAdapter[] = "org.bluez.Adapter1";
constexpr char kDevice[] = "org.bluez.Device1";
constexpr char kService[] = "org.bluez.GattService1";
constexpr char kCharacteristic[] = "org.bluez.GattCharacteristic1";
constexpr char kControlPath[] = "/org/quenlark/pistol";
constexpr char kControl[] = "org.quenlark.PistolControl";

// A device advertises this often while discovery runs.
constexpr std::chrono::milliseconds kAdvertisingInterval{200};
// Service discovery after a connection takes this long.
constexpr std::chrono::milliseconds kResolveDelay{50};

std::string devicePath(const std::string& address) {
    std::string path = std::string(kAdapterPath) + "/dev_" + address;
    std::replace(path.begin(), path.end(), ':', '_');
    return path;
}

std::string handlePath(const std::string& parent, const char* kind, unsigned handle) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04x", handle);
    return parent + "/" + kind + buffer;
}

}  // namespace

SimulatedBluez::SimulatedBluez(sdbus::IConnection& connection, Scene scene)
    : connection_(connection) {
    root_ = sdbus::createObject(connection_, "/");
    root_->addObjectManager();
    exportControl();
    loadScene(std::move(scene));
}

SimulatedBluez::~SimulatedBluez() = default;

void SimulatedBluez::after(std::chrono::milliseconds delay, std::function<void()> action) {
    const unsigned generation = generation_;
    timers_.emplace(Clock::now() + delay, [this, generation, action = std::move(action)] {
        if (generation == generation_) {
            action();
        }
    });
}

void SimulatedBluez::runDueTimers() {
    const auto now = Clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        auto action = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        action();
    }
}

std::optional<SimulatedBluez::Clock::time_point> SimulatedBluez::nextTimer() const {
    if (timers_.empty()) {
        return std::nullopt;
    }
    return timers_.begin()->first;
}

void SimulatedBluez::loadScene(Scene scene) {
    for (auto& device : devices_) {
        removeDevice(*device);
    }
    devices_.clear();
    if (discovering_ && adapter_) {
        setDiscovering(false);
    }
    discovering_ = false;
    ++generation_;
    timers_.clear();

    scene_ = std::move(scene);
    for (const SimDevice& spec : scene_.devices) {
        auto device = std::make_unique<DeviceModel>();
        device->spec = spec;
        device->path = devicePath(spec.address);
        devices_.push_back(std::move(device));
    }
    if (scene_.adapterPresent && !adapter_) {
        exportAdapter();
    } else if (!scene_.adapterPresent && adapter_) {
        removeAdapter();
    } else if (adapter_) {
        adapter_->emitPropertiesChangedSignal(kAdapter, {"Powered"});
    }
}

void SimulatedBluez::exportAdapter() {
    adapter_ = sdbus::createObject(connection_, kAdapterPath);
    adapter_->registerMethod("SetDiscoveryFilter")
        .onInterface(kAdapter)
        .implementedAs([this](const std::map<std::string, sdbus::Variant>& filter) {
            ++setDiscoveryFilterCalls_;
            if (const auto it = filter.find("Transport"); it != filter.end()) {
                filterTransport_ = it->second.get<std::string>();
            }
            if (const auto it = filter.find("DuplicateData"); it != filter.end()) {
                filterDuplicateData_ = it->second.get<bool>();
            }
        });
    adapter_->registerMethod("StartDiscovery").onInterface(kAdapter).implementedAs([this] {
        ++startDiscoveryCalls_;
        if (!scene_.adapterPowered) {
            throw sdbus::Error("org.bluez.Error.NotReady", "Resource Not Ready");
        }
        if (discovering_) {
            throw sdbus::Error("org.bluez.Error.InProgress", "Operation already in progress");
        }
        setDiscovering(true);
        // The first advertisements go out before the reply, as BlueZ may deliver them.
        advertiseRound();
    });
    adapter_->registerMethod("StopDiscovery").onInterface(kAdapter).implementedAs([this] {
        ++stopDiscoveryCalls_;
        if (!discovering_) {
            throw sdbus::Error("org.bluez.Error.Failed", "No discovery started");
        }
        setDiscovering(false);
    });
    adapter_->registerMethod("RemoveDevice")
        .onInterface(kAdapter)
        .implementedAs([](const sdbus::ObjectPath&) {});
    adapter_->registerProperty("Address").onInterface(kAdapter).withGetter(
        [] { return std::string("00:1A:7D:DA:71:13"); });
    adapter_->registerProperty("Name").onInterface(kAdapter).withGetter(
        [] { return std::string("hci0"); });
    adapter_->registerProperty("Powered").onInterface(kAdapter).withGetter(
        [this] { return scene_.adapterPowered; });
    adapter_->registerProperty("Discovering").onInterface(kAdapter).withGetter([this] {
        return discovering_;
    });
    adapter_->finishRegistration();
    adapter_->emitInterfacesAddedSignal();
}

void SimulatedBluez::removeAdapter() {
    adapter_->emitInterfacesRemovedSignal();
    adapter_.reset();
}

void SimulatedBluez::setDiscovering(bool discovering) {
    discovering_ = discovering;
    ++discoverySession_;
    adapter_->emitPropertiesChangedSignal(kAdapter, {"Discovering"});
}

void SimulatedBluez::advertiseRound() {
    if (!discovering_) {
        return;
    }
    for (auto& device : devices_) {
        if (!device->inRange || device->connected) {
            continue;
        }
        if (!device->object) {
            exportDevice(*device);
        } else {
            device->rssi = device->rssi == -60 ? -61 : -60;
            device->object->emitPropertiesChangedSignal(kDevice, {"RSSI"});
        }
    }
    const unsigned session = discoverySession_;
    after(kAdvertisingInterval, [this, session] {
        if (session == discoverySession_) {
            advertiseRound();
        }
    });
}

void SimulatedBluez::exportDevice(DeviceModel& device) {
    DeviceModel* model = &device;
    auto object = sdbus::createObject(connection_, device.path);
    object->registerMethod("Connect").onInterface(kDevice).implementedAs([this, model] {
        ++connectCalls_;
        if (scene_.connectFails) {
            throw sdbus::Error("org.bluez.Error.Failed", "le-connection-abort-by-local");
        }
        connect(*model);
    });
    object->registerMethod("Disconnect").onInterface(kDevice).implementedAs([this, model] {
        ++disconnectCalls_;
        if (model->connected) {
            disconnect(*model);
        }
    });
    object->registerProperty("Address").onInterface(kDevice).withGetter(
        [model] { return model->spec.address; });
    if (device.spec.name) {
        object->registerProperty("Name").onInterface(kDevice).withGetter(
            [model] { return *model->spec.name; });
    }
    object->registerProperty("Alias").onInterface(kDevice).withGetter(
        [model] { return model->spec.name.value_or(model->spec.address); });
    object->registerProperty("RSSI").onInterface(kDevice).withGetter(
        [model] { return model->rssi; });
    object->registerProperty("Connected").onInterface(kDevice).withGetter([model] {
        return model->connected;
    });
    object->registerProperty("ServicesResolved").onInterface(kDevice).withGetter([model] {
        return model->servicesResolved;
    });
    object->registerProperty("Paired").onInterface(kDevice).withGetter([] { return false; });
    object->registerProperty("Adapter").onInterface(kDevice).withGetter(
        [] { return sdbus::ObjectPath(kAdapterPath); });
    object->finishRegistration();
    device.object = std::move(object);
    device.object->emitInterfacesAddedSignal();
}

void SimulatedBluez::removeDevice(DeviceModel& device) {
    if (device.connected) {
        disconnect(device);
    }
    if (device.object) {
        device.object->emitInterfacesRemovedSignal();
        device.object.reset();
    }
}

void SimulatedBluez::connect(DeviceModel& device) {
    if (device.connected) {
        return;
    }
    device.connected = true;
    device.object->emitPropertiesChangedSignal(kDevice, {"Connected"});
    exportGatt(device);
    if (scene_.servicesNeverResolve) {
        return;
    }
    DeviceModel* model = &device;
    const auto resolve = [this, model] {
        if (model->connected && !model->servicesResolved) {
            model->servicesResolved = true;
            model->object->emitPropertiesChangedSignal(kDevice, {"ServicesResolved"});
        }
    };
    if (scene_.resolveBeforeReply) {
        resolve();
    } else {
        after(kResolveDelay, resolve);
    }
}

void SimulatedBluez::disconnect(DeviceModel& device) {
    device.connected = false;
    device.servicesResolved = false;
    device.object->emitPropertiesChangedSignal(kDevice, {"Connected", "ServicesResolved"});
    removeGatt(device);
}

void SimulatedBluez::exportGatt(DeviceModel& device) {
    unsigned handle = 0x000a;
    for (const SimService& spec : device.spec.services) {
        auto service = std::make_unique<ServiceModel>();
        service->path = handlePath(device.path, "service", handle++);
        service->uuid = spec.uuid;
        ServiceModel* serviceModel = service.get();
        service->object = sdbus::createObject(connection_, service->path);
        service->object->registerProperty("UUID").onInterface(kService).withGetter(
            [serviceModel] { return serviceModel->uuid; });
        const std::string deviceObjectPath = device.path;
        service->object->registerProperty("Device").onInterface(kService).withGetter(
            [deviceObjectPath] { return sdbus::ObjectPath(deviceObjectPath); });
        service->object->registerProperty("Primary").onInterface(kService).withGetter(
            [] { return true; });
        service->object->finishRegistration();
        service->object->emitInterfacesAddedSignal();

        for (const SimCharacteristic& characteristicSpec : spec.characteristics) {
            auto characteristic = std::make_unique<CharacteristicModel>();
            characteristic->path = handlePath(service->path, "char", handle++);
            characteristic->uuid = characteristicSpec.uuid;
            CharacteristicModel* model = characteristic.get();
            auto& object = characteristic->object;
            object = sdbus::createObject(connection_, characteristic->path);
            object->registerMethod("StartNotify")
                .onInterface(kCharacteristic)
                .implementedAs([this, model] {
                    ++startNotifyCalls_;
                    if (scene_.notifyFails) {
                        throw sdbus::Error("org.bluez.Error.NotPermitted", "Notify not permitted");
                    }
                    if (!model->notifying) {
                        model->notifying = true;
                        model->object->emitPropertiesChangedSignal(kCharacteristic, {"Notifying"});
                    }
                });
            object->registerMethod("StopNotify")
                .onInterface(kCharacteristic)
                .implementedAs([model] { model->notifying = false; });
            object->registerMethod("ReadValue")
                .onInterface(kCharacteristic)
                .implementedAs(
                    [model](const std::map<std::string, sdbus::Variant>&) { return model->value; });
            object->registerMethod("WriteValue")
                .onInterface(kCharacteristic)
                .implementedAs([](const std::vector<std::uint8_t>&,
                                  const std::map<std::string, sdbus::Variant>&) {});
            object->registerProperty("UUID").onInterface(kCharacteristic).withGetter([model] {
                return model->uuid;
            });
            const std::string servicePath = service->path;
            object->registerProperty("Service")
                .onInterface(kCharacteristic)
                .withGetter([servicePath] { return sdbus::ObjectPath(servicePath); });
            object->registerProperty("Value").onInterface(kCharacteristic).withGetter([model] {
                return model->value;
            });
            object->registerProperty("Notifying").onInterface(kCharacteristic).withGetter([model] {
                return model->notifying;
            });
            object->registerProperty("Flags").onInterface(kCharacteristic).withGetter([] {
                return std::vector<std::string>{"read", "notify"};
            });
            object->finishRegistration();
            object->emitInterfacesAddedSignal();
            service->characteristics.push_back(std::move(characteristic));
        }
        device.services.push_back(std::move(service));
    }
}

void SimulatedBluez::removeGatt(DeviceModel& device) {
    for (auto& service : device.services) {
        for (auto& characteristic : service->characteristics) {
            characteristic->object->emitInterfacesRemovedSignal();
        }
        service->object->emitInterfacesRemovedSignal();
    }
    device.services.clear();
}

SimulatedBluez::DeviceModel* SimulatedBluez::pistol() {
    for (auto& device : devices_) {
        if (device->spec.address == kPistolAddress) {
            return device.get();
        }
    }
    return nullptr;
}

bool SimulatedBluez::notify(const std::vector<std::uint8_t>& bytes) {
    DeviceModel* device = pistol();
    bool sent = false;
    if (device == nullptr || !device->connected) {
        return false;
    }
    for (auto& service : device->services) {
        for (auto& characteristic : service->characteristics) {
            if (characteristic->uuid == kTargetCharacteristicUuid && characteristic->notifying) {
                characteristic->value = bytes;
                characteristic->object->emitPropertiesChangedSignal(kCharacteristic, {"Value"});
                sent = true;
            }
        }
    }
    return sent;
}

bool SimulatedBluez::dropConnection() {
    DeviceModel* device = pistol();
    if (device == nullptr || !device->connected) {
        return false;
    }
    disconnect(*device);
    return true;
}

void SimulatedBluez::vanish() {
    if (DeviceModel* device = pistol()) {
        device->inRange = false;
        removeDevice(*device);
    }
}

std::map<std::string, sdbus::Variant> SimulatedBluez::stats() const {
    bool connected = false;
    bool notifying = false;
    for (const auto& device : devices_) {
        if (device->spec.address != kPistolAddress) {
            continue;
        }
        connected = device->connected;
        for (const auto& service : device->services) {
            for (const auto& characteristic : service->characteristics) {
                notifying = notifying || characteristic->notifying;
            }
        }
    }
    return {
        {"SetDiscoveryFilter", sdbus::Variant(setDiscoveryFilterCalls_)},
        {"FilterTransport", sdbus::Variant(filterTransport_)},
        {"FilterDuplicateData", sdbus::Variant(filterDuplicateData_)},
        {"StartDiscovery", sdbus::Variant(startDiscoveryCalls_)},
        {"StopDiscovery", sdbus::Variant(stopDiscoveryCalls_)},
        {"Connect", sdbus::Variant(connectCalls_)},
        {"Disconnect", sdbus::Variant(disconnectCalls_)},
        {"StartNotify", sdbus::Variant(startNotifyCalls_)},
        {"Discovering", sdbus::Variant(discovering_)},
        {"Connected", sdbus::Variant(connected)},
        {"Notifying", sdbus::Variant(notifying)},
    };
}

void SimulatedBluez::exportControl() {
    control_ = sdbus::createObject(connection_, kControlPath);
    control_->registerMethod("Notify").onInterface(kControl).implementedAs(
        [this](const std::vector<std::uint8_t>& bytes) { return notify(bytes); });
    control_->registerMethod("DropConnection").onInterface(kControl).implementedAs([this] {
        return dropConnection();
    });
    control_->registerMethod("Vanish").onInterface(kControl).implementedAs([this] { vanish(); });
    control_->registerMethod("SetScene")
        .onInterface(kControl)
        .implementedAs([this](const std::string& name) {
            std::optional<Scene> scene = sceneNamed(name);
            if (!scene) {
                throw sdbus::Error("org.quenlark.Error.UnknownScene", "No such scene: " + name);
            }
            loadScene(std::move(*scene));
        });
    control_->registerMethod("Stats").onInterface(kControl).implementedAs(
        [this] { return stats(); });
    control_->finishRegistration();
}

}  // namespace quenlark::sim
