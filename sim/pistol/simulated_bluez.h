#pragma once
// A stand-in for BlueZ's D-Bus service with a simulated pistol in range: the adapter
// (org.bluez.Adapter1 at /org/bluez/hci0), Device1 objects that appear through the object
// manager's InterfacesAdded while discovery runs and whose RSSI then changes with every
// advertisement, and on connection the GattService1 and GattCharacteristic1 objects.
//
// A control object lets tests act as the pistol: org.quenlark.PistolControl at
// /org/quenlark/pistol, with Notify(ay) -> b, DropConnection() -> b, Vanish(),
// SetScene(s) and Stats() -> a{sv}.
//
// Single-threaded: everything runs on the thread that processes the connection and calls
// runDueTimers.

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/pistol/scenes.h"

namespace quenlark::sim {

class SimulatedBluez {
  public:
    using Clock = std::chrono::steady_clock;

    SimulatedBluez(sdbus::IConnection& connection, Scene scene);
    ~SimulatedBluez();
    SimulatedBluez(const SimulatedBluez&) = delete;
    SimulatedBluez& operator=(const SimulatedBluez&) = delete;

    void runDueTimers();
    std::optional<Clock::time_point> nextTimer() const;

  private:
    struct CharacteristicModel {
        std::string path;
        std::string uuid;
        std::vector<std::uint8_t> value;
        bool notifying = false;
        std::unique_ptr<sdbus::IObject> object;
    };
    struct ServiceModel {
        std::string path;
        std::string uuid;
        std::unique_ptr<sdbus::IObject> object;
        std::vector<std::unique_ptr<CharacteristicModel>> characteristics;
    };
    struct DeviceModel {
        SimDevice spec;
        std::string path;
        bool inRange = true;
        bool connected = false;
        bool servicesResolved = false;
        std::int16_t rssi = -60;
        std::unique_ptr<sdbus::IObject> object;
        std::vector<std::unique_ptr<ServiceModel>> services;
    };

    void exportAdapter();
    void removeAdapter();
    void exportControl();
    void setDiscovering(bool discovering);
    void advertiseRound();
    void exportDevice(DeviceModel& device);
    void removeDevice(DeviceModel& device);
    void connect(DeviceModel& device);
    void disconnect(DeviceModel& device);
    void exportGatt(DeviceModel& device);
    void removeGatt(DeviceModel& device);
    void loadScene(Scene scene);
    DeviceModel* pistol();
    void after(std::chrono::milliseconds delay, std::function<void()> action);

    // Control
    bool notify(const std::vector<std::uint8_t>& bytes);
    bool dropConnection();
    void vanish();
    std::map<std::string, sdbus::Variant> stats() const;

    sdbus::IConnection& connection_;
    Scene scene_;
    std::unique_ptr<sdbus::IObject> root_;
    std::unique_ptr<sdbus::IObject> adapter_;
    std::unique_ptr<sdbus::IObject> control_;
    std::vector<std::unique_ptr<DeviceModel>> devices_;
    bool discovering_ = false;
    // Timers of an older scene or discovery session do nothing.
    unsigned generation_ = 0;
    // Advertising rounds of an earlier discovery session do nothing.
    unsigned discoverySession_ = 0;
    std::multimap<Clock::time_point, std::function<void()>> timers_;

    // What clients asked for, for tests.
    int setDiscoveryFilterCalls_ = 0;
    std::string filterTransport_;
    bool filterDuplicateData_ = false;
    int startDiscoveryCalls_ = 0;
    int stopDiscoveryCalls_ = 0;
    int connectCalls_ = 0;
    int disconnectCalls_ = 0;
    int startNotifyCalls_ = 0;
};

}  // namespace quenlark::sim
