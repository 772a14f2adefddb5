#include "driver/link/bluez/bluez_core.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "driver/link/bluez/bluez_names.h"
#include "driver/link/bluez/bluez_properties.h"

namespace quenlark::ble::bluez {
namespace {

// Past its own time-out a call's reply comes from the event loop as an error; this bound
// is for an event loop that cannot deliver it.
constexpr std::chrono::milliseconds kReplyGrace{1000};

template <typename T>
std::vector<std::shared_ptr<T>> liveStates(std::vector<std::weak_ptr<T>>& states) {
    std::vector<std::shared_ptr<T>> live;
    states.erase(std::remove_if(states.begin(), states.end(),
                                [&](const std::weak_ptr<T>& weak) {
                                    if (auto state = weak.lock()) {
                                        live.push_back(std::move(state));
                                        return false;
                                    }
                                    return true;
                                }),
                 states.end());
    return live;
}

void runEvents(std::vector<std::function<void()>>& events) {
    for (auto& event : events) {
        try {
            event();
        } catch (...) {
            // A handler's error ends that call only.
        }
    }
}

}  // namespace

struct BluezCore::Session {
    std::unique_ptr<sdbus::IConnection> connection;
    std::mutex proxiesMutex;  // guards proxies; the proxies live until the session ends
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies;
    std::vector<sdbus::Slot> slots;
    std::thread eventThread;
};

BluezCore::BluezCore(BluezTimeouts timeouts) : timeouts_(timeouts) {}

BluezCore::~BluezCore() {
    shutdown();
}

void BluezCore::abandon() {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    changed_.notify_all();
}

void BluezCore::shutdown() {
    abandon();
    teardownSession();
}

void BluezCore::throwIfUnusable() {
    std::lock_guard lock(mutex_);
    if (abandoned_) {
        throw BleError("the Bluetooth central is closed");
    }
    if (lost_) {
        throw BleError("the connection to the system bus was lost");
    }
}

// ---- Session -----------------------------------------------------------------------------

void BluezCore::ensureSession() {
    bool lost = false;
    {
        std::lock_guard lock(mutex_);
        if (abandoned_) {
            throw BleError("the Bluetooth central is closed");
        }
        lost = lost_;
    }
    if (session_ && lost) {
        teardownSession();
    }
    if (!session_) {
        createSession();
    }
    bool valid = false;
    {
        std::lock_guard lock(mutex_);
        valid = cacheValid_;
    }
    if (!valid) {
        refreshObjects();
    }
}

void BluezCore::createSession() {
    auto session = std::make_unique<Session>();
    try {
        session->connection = sdbus::createSystemBusConnection();
        session->connection->setMethodCallTimeout(
            std::chrono::duration_cast<std::chrono::microseconds>(timeouts_.call));
        // Subscribe first, then read the objects, so that no change falls in between.
        const std::string bluez = std::string("sender='") + kService + "',";
        session->slots.push_back(session->connection->addMatch(
            "type='signal'," + bluez + "interface='" + kPropertiesInterface +
                "',member='PropertiesChanged'",
            [this](sdbus::Message& message) { onPropertiesChanged(message); }));
        session->slots.push_back(session->connection->addMatch(
            "type='signal'," + bluez + "interface='" + kObjectManagerInterface +
                "',member='InterfacesAdded'",
            [this](sdbus::Message& message) { onInterfacesAdded(message); }));
        session->slots.push_back(session->connection->addMatch(
            "type='signal'," + bluez + "interface='" + kObjectManagerInterface +
                "',member='InterfacesRemoved'",
            [this](sdbus::Message& message) { onInterfacesRemoved(message); }));
        session->slots.push_back(session->connection->addMatch(
            std::string(
                "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                "member='NameOwnerChanged',arg0='") +
                kService + "'",
            [this](sdbus::Message& message) { onNameOwnerChanged(message); }));
    } catch (const std::exception& error) {
        throw BleError(std::string("cannot use the system bus: ") + error.what());
    }
    {
        std::lock_guard lock(mutex_);
        lost_ = false;
        cacheValid_ = false;
    }
    // sdbus-c++'s own loop thread would let the exception of a lost bus escape and end the
    // process; this one catches it.
    sdbus::IConnection* connection = session->connection.get();
    session->eventThread = std::thread([this, connection] { runEventLoop(connection); });
    session_ = std::move(session);
}

void BluezCore::teardownSession() {
    if (!session_) {
        return;
    }
    try {
        session_->connection->leaveEventLoop();
    } catch (...) {
    }
    if (session_->eventThread.joinable()) {
        if (session_->eventThread.get_id() == std::this_thread::get_id()) {
            session_->eventThread.detach();
        } else {
            session_->eventThread.join();
        }
    }
    // No callback runs any more: drop proxies, slots and the connection, in this order.
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies;
    {
        std::lock_guard lock(session_->proxiesMutex);
        proxies.swap(session_->proxies);
    }
    proxies.clear();
    session_->slots.clear();
    session_->connection.reset();
    session_.reset();

    std::lock_guard lock(mutex_);
    lost_ = false;
    cacheValid_ = false;
    adapterPath_.clear();
    adapters_.clear();
    devices_.clear();
}

void BluezCore::runEventLoop(sdbus::IConnection* connection) {
    try {
        connection->enterEventLoop();
        return;  // left on request
    } catch (...) {
        // The bus is gone (or the loop failed): fall through.
    }
    try {
        onSessionLost();
    } catch (...) {
    }
}

sdbus::IProxy& BluezCore::proxyFor(const std::string& path) {
    {
        std::lock_guard lock(session_->proxiesMutex);
        if (const auto it = session_->proxies.find(path); it != session_->proxies.end()) {
            return *it->second;
        }
    }
    // Made without the lock held: the event thread calls this from inside sdbus-c++'s own
    // lock, and no lock of ours may be held while sdbus-c++ takes its lock.
    std::unique_ptr<sdbus::IProxy> proxy =
        sdbus::createProxy(*session_->connection, kService, path);
    std::unique_ptr<sdbus::IProxy> spare;
    sdbus::IProxy* result = nullptr;
    {
        std::lock_guard lock(session_->proxiesMutex);
        std::unique_ptr<sdbus::IProxy>& slot = session_->proxies[path];
        if (!slot) {
            slot = std::move(proxy);
        } else {
            spare = std::move(proxy);  // another thread was first; ours goes outside the lock
        }
        result = slot.get();
    }
    return *result;
}

BluezCore::CallOutcome BluezCore::call(const std::string& path, const char* interface,
                                       const char* method, std::chrono::milliseconds timeout,
                                       const std::function<void(sdbus::MethodCall&)>& arguments,
                                       std::function<void(sdbus::MethodReply&)> onReply) {
    if (!session_) {
        throw BleError("not connected to the system bus");
    }
    struct Pending {
        bool done = false;
        CallOutcome outcome;
    };
    auto pending = std::make_shared<Pending>();
    try {
        sdbus::IProxy& proxy = proxyFor(path);
        sdbus::MethodCall message = proxy.createMethodCall(interface, method);
        if (arguments) {
            arguments(message);
        }
        // The reply is taken on the event thread; this thread waits for it with a bound of
        // its own, so that neither a lost bus nor an unload leaves it waiting.
        proxy.callMethod(
            message,
            [this, pending, onReply = std::move(onReply)](sdbus::MethodReply& reply,
                                                          const sdbus::Error* error) {
                if (error == nullptr && onReply) {
                    try {
                        onReply(reply);
                    } catch (...) {
                    }
                }
                try {
                    std::lock_guard lock(mutex_);
                    pending->done = true;
                    if (error == nullptr) {
                        pending->outcome.kind = CallOutcome::Kind::Replied;
                        pending->outcome.reply = reply;
                    } else {
                        pending->outcome.kind = CallOutcome::Kind::Failed;
                        pending->outcome.errorName = error->getName();
                    }
                    changed_.notify_all();
                } catch (...) {
                }
            },
            std::chrono::duration_cast<std::chrono::microseconds>(timeout));
    } catch (const std::exception& error) {
        throw BleError(std::string(method) + " could not be sent: " + error.what());
    }

    const auto deadline = std::chrono::steady_clock::now() + timeout + kReplyGrace;
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return pending->done || lost_ || abandoned_; });
    if (pending->done) {
        CallOutcome outcome = std::move(pending->outcome);
        if (outcome.kind == CallOutcome::Kind::Failed && outcome.errorName == kErrorNoReply) {
            outcome.kind = CallOutcome::Kind::TimedOut;
        }
        return outcome;
    }
    if (abandoned_) {
        throw BleError("the Bluetooth central is closed");
    }
    if (lost_) {
        throw BleError("the connection to the system bus was lost");
    }
    return CallOutcome{};  // timed out
}

void BluezCore::refreshObjects() {
    const CallOutcome outcome =
        call(kRootPath, kObjectManagerInterface, "GetManagedObjects", timeouts_.call, {},
             [this](sdbus::MethodReply& reply) { applySnapshot(reply); });
    if (outcome.kind != CallOutcome::Kind::Replied) {
        throw BleError("the Bluetooth service does not answer: " + outcome.errorName);
    }
}

// On the event thread, in order with the signals: the snapshot replaces the cache.
void BluezCore::applySnapshot(sdbus::MethodReply& reply) {
    ManagedObjects objects;
    reply >> objects;
    std::map<std::string, AdapterRecord> adapters;
    std::map<std::string, DeviceRecord> devices;
    for (const auto& [path, interfaces] : objects) {
        if (const auto it = interfaces.find(kAdapterInterface); it != interfaces.end()) {
            const AdapterUpdate update = readAdapterUpdate(it->second);
            adapters[path] =
                AdapterRecord{update.powered.value_or(false), update.discovering.value_or(false)};
        }
        if (const auto it = interfaces.find(kDeviceInterface); it != interfaces.end()) {
            const DeviceUpdate update = readDeviceUpdate(it->second);
            devices[path] = DeviceRecord{update.address, update.name.value_or(""),
                                         update.connected.value_or(false),
                                         update.servicesResolved.value_or(false)};
        }
    }
    std::lock_guard lock(mutex_);
    adapters_ = std::move(adapters);
    devices_ = std::move(devices);
    chooseAdapterLocked();
    cacheValid_ = true;
    changed_.notify_all();
}

void BluezCore::chooseAdapterLocked() {
    if (adapters_.count(kPreferredAdapterPath) != 0) {
        adapterPath_ = kPreferredAdapterPath;
    } else if (!adapters_.empty()) {
        adapterPath_ = adapters_.begin()->first;
    } else {
        adapterPath_.clear();
    }
}

bool BluezCore::underAdapterLocked(const std::string& path) const {
    return !adapterPath_.empty() && startsWithPath(path, adapterPath_);
}

// ---- Operations --------------------------------------------------------------------------

void BluezCore::open() {
    ensureSession();
    std::lock_guard lock(mutex_);
    if (adapterPath_.empty()) {
        throw BleError("no Bluetooth adapter");
    }
    if (!adapters_[adapterPath_].powered) {
        throw BleError("the Bluetooth adapter is powered off");
    }
}

std::shared_ptr<WatcherState> BluezCore::addWatcher() {
    auto watcher = std::make_shared<WatcherState>();
    std::lock_guard lock(mutex_);
    liveStates(watchers_);
    watchers_.push_back(watcher);
    return watcher;
}

void BluezCore::addReceivedHandler(WatcherState& watcher,
                                   AdvertisementWatcher::ReceivedHandler handler) {
    std::lock_guard lock(mutex_);
    watcher.received.push_back(std::move(handler));
}

void BluezCore::addStoppedHandler(WatcherState& watcher,
                                  AdvertisementWatcher::StoppedHandler handler) {
    std::lock_guard lock(mutex_);
    watcher.stopped.push_back(std::move(handler));
}

void BluezCore::startDiscovery(WatcherState& watcher) {
    open();
    std::string adapter;
    {
        // Delivering before StartDiscovery is sent: BlueZ may report devices before its reply.
        std::lock_guard lock(mutex_);
        adapter = adapterPath_;
        watcher.started = true;
        watcher.delivering = true;
    }
    try {
        const CallOutcome filter =
            call(adapter, kAdapterInterface, "SetDiscoveryFilter", timeouts_.call,
                 [](sdbus::MethodCall& message) {
                     const Properties filter{{"Transport", sdbus::Variant(std::string("le"))},
                                             {"DuplicateData", sdbus::Variant(true)}};
                     message << filter;
                 });
        if (filter.kind != CallOutcome::Kind::Replied) {
            throw BleError("SetDiscoveryFilter failed: " + filter.errorName);
        }
        const CallOutcome start =
            call(adapter, kAdapterInterface, "StartDiscovery", timeouts_.call);
        if (start.kind != CallOutcome::Kind::Replied && start.errorName != kErrorInProgress) {
            throw BleError("StartDiscovery failed: " + start.errorName);
        }
    } catch (...) {
        std::lock_guard lock(mutex_);
        watcher.started = false;
        watcher.delivering = false;
        throw;
    }
}

void BluezCore::stopDiscovery(WatcherState& watcher) {
    std::string adapter;
    {
        std::lock_guard lock(mutex_);
        watcher.delivering = false;
        if (abandoned_ || lost_ || adapterPath_.empty()) {
            throw BleError("the Bluetooth service is not available");
        }
        adapter = adapterPath_;
    }
    if (!session_) {
        throw BleError("not connected to the system bus");
    }
    try {
        sdbus::IProxy& proxy = proxyFor(adapter);
        sdbus::MethodCall message = proxy.createMethodCall(kAdapterInterface, "StopDiscovery");
        message.dontExpectReply();
        proxy.callMethod(message,
                         std::chrono::duration_cast<std::chrono::microseconds>(timeouts_.call));
    } catch (const std::exception& error) {
        throw BleError(std::string("StopDiscovery could not be sent: ") + error.what());
    }
}

std::shared_ptr<DeviceState> BluezCore::findDevice(std::uint64_t address) {
    open();
    std::lock_guard lock(mutex_);
    for (const auto& [path, record] : devices_) {
        if (record.address == address && underAdapterLocked(path)) {
            auto device = std::make_shared<DeviceState>();
            device->path = path;
            liveStates(deviceStates_);
            deviceStates_.push_back(device);
            return device;
        }
    }
    return nullptr;
}

void BluezCore::addStatusHandler(DeviceState& device, BleDevice::ConnectionStatusHandler handler) {
    std::lock_guard lock(mutex_);
    if (!device.closed) {
        device.statusHandlers.push_back(std::move(handler));
    }
}

void BluezCore::addValueHandler(DeviceState& device, const std::string& characteristicPath,
                                GattCharacteristic::ValueChangedHandler handler) {
    std::lock_guard lock(mutex_);
    if (!device.closed) {
        device.valueHandlers.emplace_back(characteristicPath, std::move(handler));
    }
}

std::optional<std::vector<GattServiceInfo>> BluezCore::gattObjects(DeviceState& device) {
    ensureSession();
    const auto deadline = std::chrono::steady_clock::now() + timeouts_.connect;
    bool connected = false;
    {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(device.path);
        if (it == devices_.end()) {
            return std::nullopt;
        }
        connected = it->second.connected;
    }
    if (!connected) {
        const CallOutcome outcome =
            call(device.path, kDeviceInterface, "Connect", timeouts_.connect);
        if (outcome.kind != CallOutcome::Kind::Replied &&
            outcome.errorName != kErrorAlreadyConnected) {
            return std::nullopt;
        }
    }
    {
        // ServicesResolved may have turned true before Connect returned, or turn true later.
        std::unique_lock lock(mutex_);
        const auto resolvedOrGone = [&] {
            const auto it = devices_.find(device.path);
            return it == devices_.end() || it->second.servicesResolved || lost_ || abandoned_;
        };
        changed_.wait_until(lock, deadline, resolvedOrGone);
        if (abandoned_ || lost_) {
            throw BleError("the Bluetooth service was lost during the connection");
        }
        const auto it = devices_.find(device.path);
        if (it == devices_.end() || !it->second.servicesResolved) {
            return std::nullopt;
        }
    }

    CallOutcome outcome =
        call(kRootPath, kObjectManagerInterface, "GetManagedObjects", timeouts_.call);
    if (outcome.kind != CallOutcome::Kind::Replied) {
        throw BleError("the Bluetooth service does not answer: " + outcome.errorName);
    }
    ManagedObjects objects;
    try {
        outcome.reply >> objects;
    } catch (const std::exception& error) {
        throw BleError(std::string("malformed object list: ") + error.what());
    }
    // Paths are not fixed: services are the GattService1 objects below the device, and
    // characteristics the GattCharacteristic1 objects below each service, in path order.
    return gattServicesBelow(objects, device.path);
}

GattStatus BluezCore::startNotify(const std::string& characteristicPath) {
    throwIfUnusable();
    const CallOutcome outcome =
        call(characteristicPath, kGattCharacteristicInterface, "StartNotify", timeouts_.notify);
    switch (outcome.kind) {
        case CallOutcome::Kind::Replied:
            return GattStatus::Success;
        case CallOutcome::Kind::TimedOut:
            return GattStatus::Unreachable;
        case CallOutcome::Kind::Failed:
        default:
            break;
    }
    if (outcome.errorName == kErrorNotPermitted || outcome.errorName == kErrorNotAuthorized) {
        return GattStatus::AccessDenied;
    }
    return GattStatus::ProtocolError;
}

void BluezCore::closeDevice(DeviceState& device) {
    bool connected = false;
    {
        std::lock_guard lock(mutex_);
        device.closed = true;
        device.statusHandlers.clear();
        device.valueHandlers.clear();
        if (abandoned_) {
            throw BleError("the Bluetooth central is closed");
        }
        const auto it = devices_.find(device.path);
        connected = !lost_ && it != devices_.end() && it->second.connected;
    }
    if (!connected || !session_) {
        return;
    }
    const CallOutcome outcome = call(device.path, kDeviceInterface, "Disconnect", timeouts_.call);
    if (outcome.kind != CallOutcome::Kind::Replied && outcome.errorName != kErrorNotConnected) {
        throw BleError("Disconnect failed: " + outcome.errorName);
    }
}

// ---- Event thread ------------------------------------------------------------------------

void BluezCore::watchEndedLocked(Events& events) {
    for (const auto& watcher : liveStates(watchers_)) {
        if (!watcher->started) {
            continue;
        }
        watcher->started = false;
        watcher->delivering = false;
        for (const auto& handler : watcher->stopped) {
            events.push_back([handler] { handler(); });
        }
    }
}

void BluezCore::deviceStatusLocked(const std::string& path, ConnectionStatus status,
                                   const std::string& name, Events& events) {
    for (const auto& device : liveStates(deviceStates_)) {
        if (device->closed || device->path != path) {
            continue;
        }
        for (const auto& handler : device->statusHandlers) {
            events.push_back([handler, status, name] { handler(status, name); });
        }
    }
}

void BluezCore::advertisementLocked(const std::string& path, const DeviceRecord& record,
                                    Events& events) {
    if (!record.address || !underAdapterLocked(path)) {
        return;
    }
    const Advertisement advertisement{record.name, *record.address};
    for (const auto& watcher : liveStates(watchers_)) {
        if (!watcher->delivering) {
            continue;
        }
        for (const auto& handler : watcher->received) {
            events.push_back([handler, advertisement] { handler(advertisement); });
        }
    }
}

void BluezCore::serviceGoneLocked(Events& events) {
    watchEndedLocked(events);
    for (const auto& [path, record] : devices_) {
        if (record.connected) {
            deviceStatusLocked(path, ConnectionStatus::Disconnected, record.name, events);
        }
    }
    cacheValid_ = false;
    adapterPath_.clear();
    adapters_.clear();
    devices_.clear();
    changed_.notify_all();
}

void BluezCore::onSessionLost() {
    Events events;
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
        serviceGoneLocked(events);
    }
    runEvents(events);
}

void BluezCore::onPropertiesChanged(sdbus::Message& message) {
    Events events;
    try {
        const std::string path = message.getPath();
        std::string interface;
        Properties changed;
        std::vector<std::string> invalidated;
        message >> interface >> changed >> invalidated;

        if (interface == kAdapterInterface) {
            const AdapterUpdate update = readAdapterUpdate(changed);
            std::lock_guard lock(mutex_);
            const auto it = adapters_.find(path);
            if (it == adapters_.end()) {
                return;
            }
            if (update.powered) {
                it->second.powered = *update.powered;
            }
            if (update.discovering) {
                it->second.discovering = *update.discovering;
                if (!*update.discovering && path == adapterPath_) {
                    watchEndedLocked(events);
                }
            }
        } else if (interface == kDeviceInterface) {
            const DeviceUpdate update = readDeviceUpdate(changed);
            const bool nameGone =
                std::find(invalidated.begin(), invalidated.end(), "Name") != invalidated.end();
            std::lock_guard lock(mutex_);
            DeviceRecord& record = devices_[path];
            const bool wasConnected = record.connected;
            if (update.address) {
                record.address = update.address;
            }
            if (update.name) {
                record.name = *update.name;
            } else if (nameGone) {
                record.name.clear();
            }
            if (update.connected) {
                record.connected = *update.connected;
            }
            if (update.servicesResolved) {
                record.servicesResolved = *update.servicesResolved;
            }
            if (record.connected != wasConnected) {
                deviceStatusLocked(
                    path,
                    record.connected ? ConnectionStatus::Connected : ConnectionStatus::Disconnected,
                    record.name, events);
            }
            if (update.heard) {
                advertisementLocked(path, record, events);
            }
            changed_.notify_all();
        } else if (interface == kGattCharacteristicInterface) {
            const auto value = property<std::vector<std::uint8_t>>(changed, "Value");
            if (!value) {
                return;
            }
            auto bytes = std::make_shared<const std::vector<std::uint8_t>>(*value);
            std::lock_guard lock(mutex_);
            for (const auto& device : liveStates(deviceStates_)) {
                if (device->closed) {
                    continue;
                }
                for (const auto& [characteristicPath, handler] : device->valueHandlers) {
                    if (characteristicPath == path) {
                        events.push_back(
                            [handler, bytes] { handler(std::span<const std::uint8_t>(*bytes)); });
                    }
                }
            }
        }
    } catch (...) {
        return;  // a malformed signal is ignored
    }
    runEvents(events);
}

void BluezCore::onInterfacesAdded(sdbus::Message& message) {
    Events events;
    try {
        sdbus::ObjectPath objectPath;
        InterfaceProperties interfaces;
        message >> objectPath >> interfaces;
        const std::string path = objectPath;
        std::optional<AdapterUpdate> adapter;
        std::optional<DeviceUpdate> device;
        if (const auto it = interfaces.find(kAdapterInterface); it != interfaces.end()) {
            adapter = readAdapterUpdate(it->second);
        }
        if (const auto it = interfaces.find(kDeviceInterface); it != interfaces.end()) {
            device = readDeviceUpdate(it->second);
        }
        std::lock_guard lock(mutex_);
        if (adapter) {
            adapters_[path] = AdapterRecord{adapter->powered.value_or(false),
                                            adapter->discovering.value_or(false)};
            if (adapterPath_.empty() || path == kPreferredAdapterPath) {
                chooseAdapterLocked();
            }
        }
        if (device) {
            DeviceRecord& record = devices_[path];
            record = DeviceRecord{device->address, device->name.value_or(""),
                                  device->connected.value_or(false),
                                  device->servicesResolved.value_or(false)};
            // A device that appears while the watch runs is one advertisement heard.
            advertisementLocked(path, record, events);
        }
        changed_.notify_all();
    } catch (...) {
        return;
    }
    runEvents(events);
}

void BluezCore::onInterfacesRemoved(sdbus::Message& message) {
    Events events;
    try {
        sdbus::ObjectPath objectPath;
        std::vector<std::string> interfaces;
        message >> objectPath >> interfaces;
        const std::string path = objectPath;
        const auto has = [&](const char* name) {
            return std::find(interfaces.begin(), interfaces.end(), name) != interfaces.end();
        };
        std::lock_guard lock(mutex_);
        if (has(kDeviceInterface)) {
            if (const auto it = devices_.find(path); it != devices_.end()) {
                if (it->second.connected) {
                    deviceStatusLocked(path, ConnectionStatus::Disconnected, it->second.name,
                                       events);
                }
                devices_.erase(it);
            }
        }
        if (has(kAdapterInterface)) {
            adapters_.erase(path);
            if (path == adapterPath_) {
                watchEndedLocked(events);
                for (const auto& [devicePath, record] : devices_) {
                    if (record.connected && startsWithPath(devicePath, path)) {
                        deviceStatusLocked(devicePath, ConnectionStatus::Disconnected, record.name,
                                           events);
                    }
                }
                chooseAdapterLocked();
            }
        }
        changed_.notify_all();
    } catch (...) {
        return;
    }
    runEvents(events);
}

void BluezCore::onNameOwnerChanged(sdbus::Message& message) {
    Events events;
    try {
        std::string name;
        std::string oldOwner;
        std::string newOwner;
        message >> name >> oldOwner >> newOwner;
        if (name != kService) {
            return;
        }
        std::lock_guard lock(mutex_);
        if (newOwner.empty()) {
            // The Bluetooth service went away: every watch and connection has ended.
            serviceGoneLocked(events);
        } else {
            // A new owner: what the cache holds is of the old one.
            cacheValid_ = false;
        }
    } catch (...) {
        return;
    }
    runEvents(events);
}

}  // namespace quenlark::ble::bluez
