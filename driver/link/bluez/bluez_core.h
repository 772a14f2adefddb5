#pragma once
// The BlueZ backend's shared core: one connection to the system bus at a time with an event
// thread of its own, a cache of the adapter and Device1 objects, and the handler lists of
// the watcher and device objects handed to the link.
//
// Threads: the link thread calls the public operations. The event thread runs the
// connection's loop and the signal callbacks, which update the cache under mutex_ and then
// call the link's handlers with mutex_ released. Nothing holds mutex_ while it calls into
// sdbus-c++, whose own lock the event thread holds while it runs callbacks.
//
// A lost bus ends the event loop with an exception, caught on the event thread; the next
// operation on the link thread drops the proxies, the match slots and the connection, in
// this order, and connects again.

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/link/ble_central.h"
#include "driver/link/bluez/bluez_properties.h"

namespace quenlark::ble::bluez {

// Every D-Bus call has an explicit time-out.
struct BluezTimeouts {
    std::chrono::milliseconds call{5000};      // adapter, object manager and Disconnect calls
    std::chrono::milliseconds connect{30000};  // Connect and the wait for ServicesResolved
    std::chrono::milliseconds notify{10000};   // StartNotify
};

// The handlers and progress of one watcher. Guarded by the core's mutex.
struct WatcherState {
    std::vector<AdvertisementWatcher::ReceivedHandler> received;
    std::vector<AdvertisementWatcher::StoppedHandler> stopped;
    bool started = false;     // started and its end not yet reported
    bool delivering = false;  // advertisements are passed on (until stop)
};

// The handlers of one device object and of its characteristics. Guarded by the core's mutex.
struct DeviceState {
    std::string path;
    std::vector<BleDevice::ConnectionStatusHandler> statusHandlers;
    std::vector<std::pair<std::string, GattCharacteristic::ValueChangedHandler>> valueHandlers;
    bool closed = false;
};

class BluezCore {
  public:
    explicit BluezCore(BluezTimeouts timeouts);
    ~BluezCore();
    BluezCore(const BluezCore&) = delete;
    BluezCore& operator=(const BluezCore&) = delete;

    // Connects when there is no connection, reads the objects when the cache is stale, and
    // checks that an adapter is there and powered. Throws BleError.
    void open();

    std::shared_ptr<WatcherState> addWatcher();
    void addReceivedHandler(WatcherState& watcher, AdvertisementWatcher::ReceivedHandler handler);
    void addStoppedHandler(WatcherState& watcher, AdvertisementWatcher::StoppedHandler handler);
    // SetDiscoveryFilter({Transport: le, DuplicateData: true}), then StartDiscovery.
    void startDiscovery(WatcherState& watcher);
    // StopDiscovery, sent without waiting for its reply.
    void stopDiscovery(WatcherState& watcher);

    // The Device1 object under the adapter with this address, or null.
    std::shared_ptr<DeviceState> findDevice(std::uint64_t address);
    void addStatusHandler(DeviceState& device, BleDevice::ConnectionStatusHandler handler);
    void addValueHandler(DeviceState& device, const std::string& characteristicPath,
                         GattCharacteristic::ValueChangedHandler handler);
    // Connects when not connected and waits for ServicesResolved, then lists the GATT
    // services and characteristics under the device. None when the connection fails.
    std::optional<std::vector<GattServiceInfo>> gattObjects(DeviceState& device);
    GattStatus startNotify(const std::string& characteristicPath);
    // Stops the device's handlers, then disconnects it if it is connected.
    void closeDevice(DeviceState& device);

    // Every wait ends at once with BleError, from now on. Any thread.
    void abandon();
    // Abandons, then ends the event thread and the connection. Link thread.
    void shutdown();

  private:
    struct Session;
    struct CallOutcome {
        enum class Kind { Replied, Failed, TimedOut } kind = Kind::TimedOut;
        std::string errorName;
        sdbus::MethodReply reply;
    };
    struct DeviceRecord {
        std::optional<std::uint64_t> address;
        std::string name;
        bool connected = false;
        bool servicesResolved = false;
    };
    struct AdapterRecord {
        bool powered = false;
        bool discovering = false;
    };
    using Events = std::vector<std::function<void()>>;

    void ensureSession();
    void createSession();
    void teardownSession();
    void refreshObjects();
    sdbus::IProxy& proxyFor(const std::string& path);
    CallOutcome call(const std::string& path, const char* interface, const char* method,
                     std::chrono::milliseconds timeout,
                     const std::function<void(sdbus::MethodCall&)>& arguments = {},
                     std::function<void(sdbus::MethodReply&)> onReply = {});
    void throwIfUnusable();

    // Event thread.
    void runEventLoop(sdbus::IConnection* connection);
    void onSessionLost();
    void onPropertiesChanged(sdbus::Message& message);
    void onInterfacesAdded(sdbus::Message& message);
    void onInterfacesRemoved(sdbus::Message& message);
    void onNameOwnerChanged(sdbus::Message& message);
    void applySnapshot(sdbus::MethodReply& reply);

    // With mutex_ held: events for the end of every watch and connection, and a cleared cache.
    void serviceGoneLocked(Events& events);
    void watchEndedLocked(Events& events);
    void deviceStatusLocked(const std::string& path, ConnectionStatus status,
                            const std::string& name, Events& events);
    void advertisementLocked(const std::string& path, const DeviceRecord& record, Events& events);
    bool underAdapterLocked(const std::string& path) const;
    void chooseAdapterLocked();

    const BluezTimeouts timeouts_;
    // Written by the link thread only while no event thread runs; read by both.
    std::unique_ptr<Session> session_;

    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    bool abandoned_ = false;
    bool lost_ = false;        // the event loop ended: the connection is gone
    bool cacheValid_ = false;  // the cache reflects the current owner of org.bluez
    std::string adapterPath_;  // the adapter in use, empty when none
    std::map<std::string, AdapterRecord> adapters_;
    std::map<std::string, DeviceRecord> devices_;
    std::vector<std::weak_ptr<WatcherState>> watchers_;
    std::vector<std::weak_ptr<DeviceState>> deviceStates_;
};

}  // namespace quenlark::ble::bluez
