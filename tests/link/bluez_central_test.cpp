// The BlueZ backend against the simulated pistol on a private dbus-daemon of this test
// process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/link/ble_central.h"
#include "driver/link/bluez/bluez_central.h"
#include "driver/link/connection_sequence.h"
#include "sim/pistol/pistol_harness.h"

namespace quenlark::test {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;

constexpr std::uint64_t kPistolAddress = 0xAABBCCDDEEFF;

const ble::bluez::BluezTimeouts kShortTimeouts{std::chrono::milliseconds(2000),
                                               std::chrono::milliseconds(1500),
                                               std::chrono::milliseconds(2000)};

const ble::Uuid kServiceUuid = {0x00, 0x00, 0xFF, 0xF0, 0x00, 0x00, 0x10, 0x00,
                                0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
const ble::Uuid kBatteryServiceUuid = {0x00, 0x00, 0x18, 0x0F, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

// What the backend's handlers reported, from its event thread.
class Recorder {
  public:
    void attach(ble::AdvertisementWatcher& watcher) {
        watcher.addReceivedHandler([this](const ble::Advertisement& advertisement) {
            std::lock_guard lock(mutex_);
            advertisements_.push_back(advertisement);
            heardDuringStart_ = heardDuringStart_ || inStart_;
            changed_.notify_all();
        });
        watcher.addStoppedHandler([this] {
            std::lock_guard lock(mutex_);
            ++stopped_;
            changed_.notify_all();
        });
    }
    void attach(ble::BleDevice& device) {
        device.addConnectionStatusHandler(
            [this](ble::ConnectionStatus status, const std::string& name) {
                std::lock_guard lock(mutex_);
                statuses_.emplace_back(status, name);
                changed_.notify_all();
            });
    }
    void attach(ble::GattCharacteristic& characteristic) {
        characteristic.addValueChangedHandler([this](std::span<const std::uint8_t> value) {
            std::lock_guard lock(mutex_);
            values_.emplace_back(value.begin(), value.end());
            changed_.notify_all();
        });
    }
    void setInStart(bool inStart) {
        std::lock_guard lock(mutex_);
        inStart_ = inStart;
    }

    bool heard(const ble::Advertisement& advertisement) {
        return waitFor([&] {
            return std::find(advertisements_.begin(), advertisements_.end(), advertisement) !=
                   advertisements_.end();
        });
    }
    bool heardDuringStart() {
        std::lock_guard lock(mutex_);
        return heardDuringStart_;
    }
    bool stoppedTimes(int times) {
        return waitFor([&] { return stopped_ == times; });
    }
    bool status(ble::ConnectionStatus status) {
        return waitFor([&] {
            return std::find(statuses_.begin(), statuses_.end(),
                             std::make_pair(status, std::string("Pistol"))) != statuses_.end();
        });
    }
    std::size_t statusCount() {
        std::lock_guard lock(mutex_);
        return statuses_.size();
    }
    bool value(const std::vector<std::uint8_t>& bytes) {
        return waitFor(
            [&] { return std::find(values_.begin(), values_.end(), bytes) != values_.end(); });
    }

  private:
    template <typename Predicate>
    bool waitFor(Predicate predicate) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, predicate);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ble::Advertisement> advertisements_;
    bool inStart_ = false;
    bool heardDuringStart_ = false;
    int stopped_ = 0;
    std::vector<std::pair<ble::ConnectionStatus, std::string>> statuses_;
    std::vector<std::vector<std::uint8_t>> values_;
};

class BluezCentralTest : public ::testing::Test {
  protected:
    void SetUp() override { bus.useAsSystemBus(); }

    std::unique_ptr<ble::BleCentral> makeCentral(
        ble::bluez::BluezTimeouts timeouts = kShortTimeouts) {
        return ble::bluez::CreateBluezCentral(timeouts);
    }

    // Starts a watch and returns the pistol's device once it has been heard.
    std::shared_ptr<ble::BleDevice> findPistol(ble::BleCentral& central) {
        watcher = central.createWatcher();
        recorder.attach(*watcher);
        watcher->start();
        EXPECT_TRUE(recorder.heard({"Pistol", kPistolAddress}));
        watcher->stop();
        auto device = central.deviceFromAddress(kPistolAddress);
        EXPECT_NE(device, nullptr);
        if (device) {
            recorder.attach(*device);
        }
        return device;
    }

    // The target characteristics of a successful service query, each with a recorder.
    std::vector<std::shared_ptr<ble::GattCharacteristic>> targets(
        const ble::ServicesResult& services) {
        std::vector<std::shared_ptr<ble::GattCharacteristic>> found;
        for (const auto& service : services.services) {
            for (const auto& characteristic : service->characteristics().characteristics) {
                if (characteristic->uuid() == kTargetCharacteristicUuid) {
                    recorder.attach(*characteristic);
                    found.push_back(characteristic);
                }
            }
        }
        return found;
    }

    sim::PrivateBus bus;
    Recorder recorder;
    std::shared_ptr<ble::AdvertisementWatcher> watcher;
};

TEST_F(BluezCentralTest, WithoutABusEveryOperationFailsWithBleError) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quenlark-no-bus", 1);
    auto central = makeCentral();
    EXPECT_THROW(central->open(), ble::BleError);
    auto watcher = central->createWatcher();
    EXPECT_THROW(watcher->start(), ble::BleError);
    EXPECT_THROW(central->deviceFromAddress(kPistolAddress), ble::BleError);
}

TEST_F(BluezCentralTest, OpenFailsWithoutTheServiceAnAdapterOrPower) {
    auto central = makeCentral();
    EXPECT_THROW(central->open(), ble::BleError) << "no service on the bus";
    for (const char* scene : {"no-adapter", "powered-off"}) {
        sim::SimulatedPistol pistol(bus, scene);
        EXPECT_THROW(central->open(), ble::BleError) << scene;
    }
    sim::SimulatedPistol pistol(bus);
    EXPECT_NO_THROW(central->open());
}

TEST_F(BluezCentralTest, WatcherReportsAdvertisementsAndItsEnd) {
    sim::SimulatedPistol pistol(bus);
    auto central = makeCentral();
    auto watcher = central->createWatcher();
    recorder.attach(*watcher);
    recorder.setInStart(true);
    watcher->start();
    recorder.setInStart(false);

    EXPECT_TRUE(recorder.heard({"Pistol", kPistolAddress}));
    EXPECT_TRUE(recorder.heard({"Speaker", 0x112233445566}));
    EXPECT_TRUE(recorder.heard({"", 0x665544332211}));
    // The service answers StartDiscovery after its first advertisements.
    EXPECT_TRUE(recorder.heardDuringStart());
    const sim::PistolStats stats = pistol.stats();
    EXPECT_EQ(stats.setDiscoveryFilter, 1);
    EXPECT_EQ(stats.filterTransport, "le");
    EXPECT_TRUE(stats.filterDuplicateData);
    EXPECT_EQ(stats.startDiscovery, 1);

    watcher->stop();
    EXPECT_TRUE(recorder.stoppedTimes(1));
    EXPECT_FALSE(pistol.stats().discovering);
    EXPECT_NE(central->deviceFromAddress(kPistolAddress), nullptr);
    EXPECT_EQ(central->deviceFromAddress(0x010203040506), nullptr);
}

TEST_F(BluezCentralTest, NearMissNamesArriveAsTheyAre) {
    sim::SimulatedPistol pistol(bus, "near-misses");
    auto central = makeCentral();
    auto watcher = central->createWatcher();
    recorder.attach(*watcher);
    watcher->start();
    EXPECT_TRUE(recorder.heard({"pistol", 1}));
    EXPECT_TRUE(recorder.heard({"Pistol ", 2}));
    EXPECT_TRUE(recorder.heard({"Pistol2", 3}));
    EXPECT_TRUE(recorder.heard({"", 4}));
}

class BluezConnectionTest : public BluezCentralTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(BluezConnectionTest, ConnectsListsServicesAndDeliversNotifications) {
    sim::SimulatedPistol pistol(bus, GetParam());
    auto central = makeCentral();
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);

    const ble::ServicesResult services = device->gattServices();
    ASSERT_EQ(services.status, ble::GattStatus::Success);
    ASSERT_EQ(services.services.size(), 1u);
    EXPECT_EQ(services.services[0]->uuid(), kServiceUuid);
    EXPECT_EQ(services.services[0]->characteristics().characteristics.size(), 2u);
    EXPECT_TRUE(recorder.status(ble::ConnectionStatus::Connected));

    auto found = targets(services);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->writeNotifyConfiguration(), ble::GattStatus::Success);
    EXPECT_TRUE(pistol.stats().notifying);
    EXPECT_TRUE(pistol.notify({0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
    EXPECT_TRUE(recorder.value({0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
    EXPECT_TRUE(pistol.notify({}));
    EXPECT_TRUE(recorder.value({}));
}

// ServicesResolved turning true after Connect's reply, and before it.
INSTANTIATE_TEST_SUITE_P(ResolveOrder, BluezConnectionTest,
                         ::testing::Values("pistol", "resolved-before-reply"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "pistol" ? "AfterReply"
                                                                        : "BeforeReply";
                         });

TEST_F(BluezCentralTest, FindsTheTargetInEveryServiceInPathOrder) {
    sim::SimulatedPistol pistol(bus, "two-services");
    auto central = makeCentral();
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);
    const ble::ServicesResult services = device->gattServices();
    ASSERT_EQ(services.status, ble::GattStatus::Success);
    ASSERT_EQ(services.services.size(), 2u);
    EXPECT_EQ(services.services[0]->uuid(), kServiceUuid);
    EXPECT_EQ(services.services[1]->uuid(), kBatteryServiceUuid);
    auto found = targets(services);
    ASSERT_EQ(found.size(), 2u);
    for (auto& characteristic : found) {
        EXPECT_EQ(characteristic->writeNotifyConfiguration(), ble::GattStatus::Success);
    }
    EXPECT_TRUE(pistol.notify({0x5C, 0x00, 0x5C, 0x5D}));
    EXPECT_TRUE(recorder.value({0x5C, 0x00, 0x5C, 0x5D}));
}

TEST_F(BluezCentralTest, DeviceWithoutServicesListsNone) {
    sim::SimulatedPistol pistol(bus, "no-services");
    auto central = makeCentral();
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);
    const ble::ServicesResult services = device->gattServices();
    EXPECT_EQ(services.status, ble::GattStatus::Success);
    EXPECT_TRUE(services.services.empty());
}

TEST_F(BluezCentralTest, FailedOrUnresolvedConnectionIsAServiceQueryFailure) {
    for (const char* scene : {"connect-fails", "never-resolves"}) {
        sim::SimulatedPistol pistol(bus, scene);
        auto central = makeCentral();
        auto device = findPistol(*central);
        ASSERT_NE(device, nullptr);
        const auto began = std::chrono::steady_clock::now();
        EXPECT_NE(device->gattServices().status, ble::GattStatus::Success) << scene;
        EXPECT_LT(std::chrono::steady_clock::now() - began, 10s) << scene;
    }
}

TEST_F(BluezCentralTest, RejectedStartNotifyIsAStatus) {
    sim::SimulatedPistol pistol(bus, "notify-fails");
    auto central = makeCentral();
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);
    auto found = targets(device->gattServices());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->writeNotifyConfiguration(), ble::GattStatus::AccessDenied);
}

TEST_F(BluezCentralTest, DroppedConnectionIsReportedAndCloseEndsReports) {
    sim::SimulatedPistol pistol(bus);
    auto central = makeCentral();
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->gattServices().status, ble::GattStatus::Success);
    ASSERT_TRUE(pistol.dropConnection());
    EXPECT_TRUE(recorder.status(ble::ConnectionStatus::Disconnected));
    device->close();
    EXPECT_EQ(pistol.stats().disconnect, 0) << "nothing to disconnect";

    // A new device object connects again; closing it disconnects, without a report.
    auto again = central->deviceFromAddress(kPistolAddress);
    ASSERT_NE(again, nullptr);
    recorder.attach(*again);
    ASSERT_EQ(again->gattServices().status, ble::GattStatus::Success);
    ASSERT_TRUE(pistol.waitUntil([](const sim::PistolStats& stats) { return stats.connected; }));
    std::this_thread::sleep_for(200ms);
    const std::size_t reports = recorder.statusCount();
    again->close();
    EXPECT_TRUE(pistol.waitUntil([](const sim::PistolStats& stats) { return !stats.connected; }));
    EXPECT_EQ(pistol.stats().disconnect, 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.statusCount(), reports);
}

TEST_F(BluezCentralTest, KilledServiceEndsTheConnectionAndComesBack) {
    auto pistol = std::make_unique<sim::SimulatedPistol>(bus);
    auto central = makeCentral();
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->gattServices().status, ble::GattStatus::Success);
    watcher->start();

    pistol->kill();
    EXPECT_TRUE(recorder.status(ble::ConnectionStatus::Disconnected));
    EXPECT_TRUE(recorder.stoppedTimes(2));
    EXPECT_THROW(central->open(), ble::BleError);

    pistol->start();
    EXPECT_NO_THROW(central->open());
    watcher->start();
    EXPECT_TRUE(recorder.heard({"Pistol", kPistolAddress}));
}

TEST_F(BluezCentralTest, LostBusIsReportedAndTheCentralConnectsAgain) {
    auto pistol = std::make_unique<sim::SimulatedPistol>(bus);
    auto central = makeCentral();
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->gattServices().status, ble::GattStatus::Success);

    pistol->kill();
    bus.kill();
    EXPECT_TRUE(recorder.status(ble::ConnectionStatus::Disconnected));
    EXPECT_THROW(central->open(), ble::BleError);
    EXPECT_NO_THROW(device->close()) << "nothing is left to disconnect";

    bus.start();
    pistol->start();
    EXPECT_NO_THROW(central->open());
    auto watcherAgain = central->createWatcher();
    recorder.attach(*watcherAgain);
    watcherAgain->start();
    EXPECT_TRUE(recorder.heard({"Pistol", kPistolAddress}));
}

TEST_F(BluezCentralTest, AbandonEndsAWaitAtOnce) {
    sim::SimulatedPistol pistol(bus, "never-resolves");
    auto central = makeCentral(ble::bluez::BluezTimeouts{});  // a 30 s connection wait
    auto device = findPistol(*central);
    ASSERT_NE(device, nullptr);
    auto query = std::async(std::launch::async, [&] { return device->gattServices(); });
    ASSERT_TRUE(pistol.waitUntil([](const sim::PistolStats& stats) { return stats.connected; }));
    const auto began = std::chrono::steady_clock::now();
    central->abandon();
    EXPECT_THROW(query.get(), ble::BleError);
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
}

}  // namespace
}  // namespace quenlark::test
