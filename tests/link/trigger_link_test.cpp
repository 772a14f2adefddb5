// The link's tick loop, discovery and connection against an in-process fake central.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "driver/link/connection_sequence.h"
#include "driver/pending_button_events.h"
#include "tests/link/fake_central.h"
#include "tests/link/link_runner.h"

namespace quenlark::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr std::uint64_t kPistolAddress = 0xAABBCCDDEEFF;  // 187723572702975
constexpr char kPistolAddressText[] = "187723572702975";

constexpr ble::Uuid kServiceUuid = {0x00, 0x00, 0xFF, 0xF0, 0x00, 0x00, 0x10, 0x00,
                                    0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
constexpr ble::Uuid kBatteryServiceUuid = {0x00, 0x00, 0x18, 0x0F, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
constexpr ble::Uuid kOtherCharacteristicUuid = {0x00, 0x00, 0xFF, 0xF2, 0x00, 0x00, 0x10, 0x00,
                                                0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

constexpr char kServiceText[] = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
constexpr char kBatteryServiceText[] = "{0000180F-0000-1000-8000-00805F9B34FB}";
constexpr char kTargetText[] = "{0000FFF1-0000-1000-8000-00805F9B34FB}";
constexpr char kOtherText[] = "{0000FFF2-0000-1000-8000-00805F9B34FB}";

const std::vector<std::uint8_t> kTrigger = {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};

std::shared_ptr<FakeCharacteristic> target(ble::GattStatus status = ble::GattStatus::Success) {
    return std::make_shared<FakeCharacteristic>(kTargetCharacteristicUuid, status);
}

std::shared_ptr<FakeCharacteristic> other() {
    return std::make_shared<FakeCharacteristic>(kOtherCharacteristicUuid);
}

std::shared_ptr<FakeService> service(
    ble::Uuid uuid, std::vector<std::shared_ptr<FakeCharacteristic>> characteristics,
    ble::GattStatus status = ble::GattStatus::Success) {
    ble::CharacteristicsResult result{status, {}};
    for (auto& characteristic : characteristics) {
        result.characteristics.push_back(characteristic);
    }
    return std::make_shared<FakeService>(uuid, result);
}

std::shared_ptr<FakeDevice> device(std::vector<std::shared_ptr<FakeService>> services,
                                   ble::GattStatus status = ble::GattStatus::Success) {
    ble::ServicesResult result{status, {}};
    for (auto& each : services) {
        result.services.push_back(each);
    }
    return std::make_shared<FakeDevice>("Pistol", result);
}

void resetButtonEvents() {
    PendingButtonEvents::fire.store(false);
    PendingButtonEvents::ejectMag.store(false);
    PendingButtonEvents::loadMag.store(false);
}

class TriggerLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CapturedLog::clear();
        resetButtonEvents();
    }

    // Lines written after the first `skip` ones.
    static std::vector<std::string> linesAfter(std::size_t skip) {
        const std::vector<std::string> lines = CapturedLog::lines();
        return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(skip, lines.size())),
                lines.end()};
    }

    // Runs the first tick (StartScan) and lets the pistol be heard.
    static void discoverPistol(LinkRunner& link, FakeCentral& central,
                               std::uint64_t address = kPistolAddress) {
        link.tick();
        central.watcher->advertise("Pistol", address);
    }

    FakeCentral central;
};

TEST_F(TriggerLinkTest, DiscoveryAndConnectionWriteTheirLinesInOrder) {
    auto fff1 = target();
    central.addDevice(kPistolAddress, device({service(kServiceUuid, {fff1, other()})}));
    LinkRunner link(central);
    link.clock.waitUntilSleeping();
    EXPECT_THAT(CapturedLog::lines(), ElementsAre("Quenlark Running"));

    link.tick();
    central.watcher->advertise("Speaker", 17);
    central.watcher->advertise("", 18);  // no local name: no line at all
    central.watcher->advertise("Pistol", kPistolAddress);
    EXPECT_EQ(central.watcher->stops(), 1);
    central.watcher->reportStopped();
    link.tick();

    EXPECT_THAT(
        CapturedLog::lines(),
        ElementsAre(
            "Quenlark Running", "Starting the advertisement watcher.",
            "Found device: Speaker (Address: 17)",
            std::string("Found device: Pistol (Address: ") + kPistolAddressText + ")",
            "Target device found.", "Watcher stopped.",
            std::string("Connecting to device: ") + kPistolAddressText,
            "Connected to device: Pistol", std::string("Found GATT service: ") + kServiceText,
            std::string("  Characteristic: ") + kTargetText,
            std::string("Subscribing to characteristic: ") + kTargetText,
            std::string("Successfully subscribed to notifications for characteristic: ") +
                kTargetText,
            std::string("  Characteristic: ") + kOtherText, "Device successfully connected."));

    fff1->notify(kTrigger);
    EXPECT_TRUE(PendingButtonEvents::fire.load());
    EXPECT_EQ(CapturedLog::lines().back(), "Received data: 91 0 0 0 0 93 END");

    // Connected: further ticks do nothing.
    const std::size_t count = CapturedLog::lines().size();
    link.tick(3);
    EXPECT_EQ(CapturedLog::lines().size(), count);
    EXPECT_EQ(central.watcher->starts(), 1);
}

TEST_F(TriggerLinkTest, NullLogCallbackWritesNothingAndStillConnects) {
    auto fff1 = target();
    central.addDevice(kPistolAddress, device({service(kServiceUuid, {fff1})}));
    LinkRunner link(central, nullptr);
    discoverPistol(link, central);
    link.tick();

    EXPECT_EQ(fff1->notifyWrites(), 1);
    fff1->notify(kTrigger);
    EXPECT_TRUE(PendingButtonEvents::fire.load());
    EXPECT_THAT(CapturedLog::lines(), IsEmpty());
}

TEST_F(TriggerLinkTest, TwoMatchesBeforeATickMakeOneConnectionAttemptToTheLastAddress) {
    central.addDevice(22, device({service(kServiceUuid, {target()})}));
    LinkRunner link(central);
    link.tick();
    central.watcher->advertise("Pistol", 11);
    central.watcher->advertise("Pistol", 22);
    link.tick(2);

    const std::vector<std::string> lines = CapturedLog::lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Target device found."), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Connecting to device: 22"), 1);
    EXPECT_THAT(central.requestedAddresses(), ElementsAre(22u));
    EXPECT_EQ(lines.back(), "Device successfully connected.");
}

TEST_F(TriggerLinkTest, NearMissNamesAreListedButDoNotMatch) {
    LinkRunner link(central);
    link.tick();
    for (const char* name : {"pistol", "Pistol ", "Pistol2", "Pisto", "PISTOL", "Pistolé"}) {
        central.watcher->advertise(name, 5);
    }
    link.tick(2);

    EXPECT_THAT(
        linesAfter(2),
        ElementsAre("Found device: pistol (Address: 5)", "Found device: Pistol  (Address: 5)",
                    "Found device: Pistol2 (Address: 5)", "Found device: Pisto (Address: 5)",
                    "Found device: PISTOL (Address: 5)", "Found device: Pistolé (Address: 5)"));
    EXPECT_EQ(central.watcher->stops(), 0);
    EXPECT_THAT(central.requestedAddresses(), IsEmpty());
}

TEST_F(TriggerLinkTest, TargetReportedFromInsideStartIsKept) {
    // The platform can deliver the device before Start returns; the tick must not
    // overwrite that TargetFound with Scanning.
    central.addDevice(kPistolAddress, device({service(kServiceUuid, {target()})}));
    central.watcher->duringStart = [this] { central.watcher->advertise("Pistol", kPistolAddress); };
    LinkRunner link(central);
    link.tick(2);

    EXPECT_THAT(central.requestedAddresses(), ElementsAre(kPistolAddress));
    EXPECT_EQ(CapturedLog::lines().back(), "Device successfully connected.");
}

// One connection attempt per row: what the device offers, the lines from the first
// service line on, and whether the attempt ends connected.
struct ConnectionCase {
    const char* name;
    std::function<std::shared_ptr<FakeDevice>()> makeDevice;
    std::vector<std::string> lines;
    bool connected;
};

class ConnectionOutcomeTest : public TriggerLinkTest,
                              public ::testing::WithParamInterface<ConnectionCase> {};

TEST_P(ConnectionOutcomeTest, EndsConnectedOrScansAgain) {
    const ConnectionCase& row = GetParam();
    auto pistol = row.makeDevice();
    central.addDevice(kPistolAddress, pistol);
    LinkRunner link(central);
    discoverPistol(link, central);
    const std::size_t before = CapturedLog::lines().size() + 2;  // "Connecting to", "Connected to"
    link.tick();

    EXPECT_THAT(linesAfter(before), ElementsAreArray(row.lines));
    link.tick();
    if (row.connected) {
        EXPECT_EQ(pistol->closes(), 0);
        EXPECT_EQ(central.watcher->starts(), 1);
    } else {
        // resetLink closed the device, and the next tick scans again.
        EXPECT_EQ(pistol->closes(), 1);
        EXPECT_EQ(central.watcher->starts(), 2);
        EXPECT_EQ(CapturedLog::lines().back(), "Starting the advertisement watcher.");
    }
}

const std::string kFound = std::string("Found GATT service: ") + kServiceText;
const std::string kFoundBattery = std::string("Found GATT service: ") + kBatteryServiceText;
const std::string kTargetLine = std::string("  Characteristic: ") + kTargetText;
const std::string kOtherLine = std::string("  Characteristic: ") + kOtherText;
const std::string kSubscribing = std::string("Subscribing to characteristic: ") + kTargetText;
const std::string kSubscribed =
    std::string("Successfully subscribed to notifications for characteristic: ") + kTargetText;
const std::string kRejected =
    std::string("Failed to subscribe to notifications for characteristic: ") + kTargetText;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ConnectionOutcomeTest,
    ::testing::Values(
        ConnectionCase{"TargetInTwoServices",
                       [] {
                           return device({service(kServiceUuid, {target()}),
                                          service(kBatteryServiceUuid, {other(), target()})});
                       },
                       {kFound, kTargetLine, kSubscribing, kSubscribed, kFoundBattery, kOtherLine,
                        kTargetLine, kSubscribing, kSubscribed, "Device successfully connected."},
                       true},
        ConnectionCase{"OneRejectedOneSubscribed",
                       [] {
                           return device(
                               {service(kServiceUuid, {target(ble::GattStatus::ProtocolError)}),
                                service(kBatteryServiceUuid, {target()})});
                       },
                       {kFound, kTargetLine, kSubscribing, kRejected, kFoundBattery, kTargetLine,
                        kSubscribing, kSubscribed, "Device successfully connected."},
                       true},
        ConnectionCase{
            "OnlyMatchRejectsTheSubscription",
            [] { return device({service(kServiceUuid, {target(ble::GattStatus::AccessDenied)})}); },
            {kFound, kTargetLine, kSubscribing, kRejected, "Target characteristic not found."},
            false},
        ConnectionCase{"ServicesWithoutTheTarget",
                       [] { return device({service(kBatteryServiceUuid, {other()})}); },
                       {kFoundBattery, kOtherLine, "Target characteristic not found."},
                       false},
        ConnectionCase{
            "NoServices", [] { return device({}); }, {"Target characteristic not found."}, false},
        ConnectionCase{"ServiceQueryFails",
                       [] { return device({}, ble::GattStatus::Unreachable); },
                       {"Failed to get GATT services."},
                       false},
        ConnectionCase{
            "CharacteristicQueryOfOneServiceFails",
            [] {
                return device({service(kBatteryServiceUuid, {}, ble::GattStatus::Unreachable),
                               service(kServiceUuid, {target()})});
            },
            {kFoundBattery,
             std::string("Failed to get characteristics for service: ") + kBatteryServiceText,
             kFound, kTargetLine, kSubscribing, kSubscribed, "Device successfully connected."},
            true}),
    [](const ::testing::TestParamInfo<ConnectionCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(TriggerLinkTest, BothMatchingCharacteristicsDeliverNotifications) {
    auto first = target();
    auto second = target();
    central.addDevice(kPistolAddress, device({service(kServiceUuid, {first}),
                                              service(kBatteryServiceUuid, {second})}));
    LinkRunner link(central);
    discoverPistol(link, central);
    link.tick();

    // The first characteristic was replaced as the one held, but keeps its handler.
    first->notify({0x5C, 0x00, 0x5C, 0x5D});
    second->notify({0x5C, 0x01, 0x5D, 0x5D});
    EXPECT_TRUE(PendingButtonEvents::ejectMag.load());
    EXPECT_TRUE(PendingButtonEvents::loadMag.load());
}

TEST_F(TriggerLinkTest, FailedAttemptsBeforeAnyServiceQuery) {
    // An advertised address of 0, then a pistol the platform has no device for.
    LinkRunner link(central);
    discoverPistol(link, central, 0);
    link.tick();
    EXPECT_EQ(CapturedLog::lines().back(), "Target device address is invalid.");
    EXPECT_THAT(central.requestedAddresses(), IsEmpty());

    link.tick();
    central.watcher->advertise("Pistol", 99);
    link.tick();
    EXPECT_THAT(linesAfter(CapturedLog::lines().size() - 2),
                ElementsAre("Connecting to device: 99", "Failed to connect to device: 99"));
    link.tick();
    EXPECT_EQ(central.watcher->starts(), 3);
}

TEST_F(TriggerLinkTest, DisconnectionLeadsToANewScanAndAReconnection) {
    auto pistol = device({service(kServiceUuid, {target()})});
    central.addDevice(kPistolAddress, pistol);
    LinkRunner link(central);
    discoverPistol(link, central);
    link.tick();
    const std::size_t connected = CapturedLog::lines().size();

    pistol->reportStatus(ble::ConnectionStatus::Disconnected);
    link.tick();
    link.tick();
    EXPECT_THAT(linesAfter(connected),
                ElementsAre("Disconnected from device: Pistol", "Device connection lost.",
                            "Starting the advertisement watcher."));
    EXPECT_EQ(pistol->closes(), 1);

    central.watcher->advertise("Pistol", kPistolAddress);
    link.tick();
    EXPECT_EQ(pistol->serviceQueries(), 2);
    EXPECT_EQ(CapturedLog::lines().back(), "Device successfully connected.");
}

// The connection drops while the sequence still runs (here during the service query): the
// sequence ends subscribed, but the disconnection is not lost under its Connected.
TEST_F(TriggerLinkTest, DisconnectionDuringTheSequenceIsNotOverwritten) {
    auto pistol = device({service(kServiceUuid, {target()})});
    pistol->duringServiceQuery = [&] { pistol->reportStatus(ble::ConnectionStatus::Disconnected); };
    central.addDevice(kPistolAddress, pistol);
    LinkRunner link(central);
    discoverPistol(link, central);
    link.tick();
    ASSERT_EQ(CapturedLog::lines().back(), "Device successfully connected.");
    const std::size_t connected = CapturedLog::lines().size();

    link.tick();
    link.tick();
    EXPECT_THAT(linesAfter(connected),
                ElementsAre("Device connection lost.", "Starting the advertisement watcher."));
    EXPECT_EQ(pistol->closes(), 1);
}

TEST_F(TriggerLinkTest, WatcherStoppedByThePlatformLeavesTheLinkScanning) {
    LinkRunner link(central);
    link.tick();
    central.watcher->reportStopped();
    link.tick(3);
    EXPECT_EQ(CapturedLog::lines().back(), "Watcher stopped.");
    EXPECT_EQ(central.watcher->starts(), 1);
}

TEST_F(TriggerLinkTest, RunningClearedDuringTheSleepStillRunsThatTick) {
    auto fff1 = target();
    central.addDevice(kPistolAddress, device({service(kServiceUuid, {fff1})}));
    LinkRunner link(central);
    discoverPistol(link, central);
    link.clock.waitUntilSleeping();
    link.running.store(false);
    link.tick();

    EXPECT_TRUE(link.waitFinished());
    EXPECT_EQ(fff1->notifyWrites(), 1);
    EXPECT_EQ(CapturedLog::lines().back(), "Device successfully connected.");
}

TEST_F(TriggerLinkTest, RunningClearedWhileATickWaitsEndsTheThreadAfterTheTick) {
    std::mutex mutex;
    std::condition_variable changed;
    bool inQuery = false;
    bool release = false;
    auto pistol = device({service(kServiceUuid, {target()})});
    pistol->duringServiceQuery = [&] {
        std::unique_lock lock(mutex);
        inQuery = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
    };
    central.addDevice(kPistolAddress, pistol);
    LinkRunner link(central);
    discoverPistol(link, central);

    std::thread ticker([&] { link.tick(); });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return inQuery; }));
    }
    link.running.store(false);
    EXPECT_FALSE(link.clock.finished());
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    ticker.join();

    EXPECT_TRUE(link.waitFinished());
    EXPECT_EQ(CapturedLog::lines().back(), "Device successfully connected.");
}

TEST_F(TriggerLinkTest, SecondActivationWritesItsFirstLineAndEndsWithoutScanning) {
    // After a deactivation the running flag stays cleared for the life of the process.
    auto link = std::make_unique<LinkRunner>(central, &CapturedLog::write, false);
    EXPECT_TRUE(link->waitFinished());
    EXPECT_THAT(CapturedLog::lines(), ElementsAre("Quenlark Running"));
    EXPECT_EQ(central.opens(), 1);
    EXPECT_EQ(central.watchersCreated(), 1);
    EXPECT_EQ(central.watcher->handlerCount(), 2u);
    EXPECT_EQ(central.watcher->starts(), 0);
}

TEST_F(TriggerLinkTest, PlatformUnavailableIsLoggedOncePerOutage) {
    // No Bluetooth at the start: the first open and the opens of three StartScan ticks fail.
    central.openFailures.store(4);
    central.watcher->startFailures.store(1);
    central.addDevice(kPistolAddress, device({service(kServiceUuid, {target()})}));
    LinkRunner link(central);
    link.tick(3);
    EXPECT_THAT(CapturedLog::lines(), ElementsAre("Quenlark Running", "Bluetooth is unavailable."));

    // Open succeeds, Start fails once more, then succeeds: still the same outage.
    link.tick(2);
    EXPECT_THAT(CapturedLog::lines(), ElementsAre("Quenlark Running", "Bluetooth is unavailable.",
                                                  "Starting the advertisement watcher."));
    EXPECT_EQ(central.watcher->starts(), 2);

    // Back to normal: a lookup failure starts a new outage, which resets the link.
    central.deviceLookupFailures.store(1);
    central.watcher->advertise("Pistol", kPistolAddress);
    link.tick();
    EXPECT_THAT(
        linesAfter(3),
        ElementsAre(std::string("Found device: Pistol (Address: ") + kPistolAddressText + ")",
                    "Target device found.",
                    std::string("Connecting to device: ") + kPistolAddressText,
                    "Bluetooth is unavailable."));
    link.tick();
    EXPECT_EQ(CapturedLog::lines().back(), "Starting the advertisement watcher.");
    central.watcher->advertise("Pistol", kPistolAddress);
    link.tick();
    EXPECT_EQ(CapturedLog::lines().back(), "Device successfully connected.");
}

TEST_F(TriggerLinkTest, CloseThatFailsStillResetsTheLink) {
    auto pistol = device({});
    pistol->closeThrows.store(true);
    central.addDevice(kPistolAddress, pistol);
    LinkRunner link(central);
    discoverPistol(link, central);
    link.tick();
    EXPECT_THAT(linesAfter(CapturedLog::lines().size() - 2),
                ElementsAre("Target characteristic not found.", "Bluetooth is unavailable."));
    EXPECT_EQ(pistol->closes(), 1);

    link.tick();
    EXPECT_EQ(central.watcher->starts(), 2);
}

TEST_F(TriggerLinkTest, HandlersCalledAfterTheThreadEndedTouchNothing) {
    auto fff1 = target();
    auto pistol = device({service(kServiceUuid, {fff1})});
    central.addDevice(kPistolAddress, pistol);
    {
        LinkRunner link(central);
        discoverPistol(link, central);
        link.tick();
        link.running.store(false);
        link.tick();
        ASSERT_TRUE(link.waitFinished());
    }
    const std::size_t count = CapturedLog::lines().size();
    central.watcher->advertise("Pistol", kPistolAddress);
    pistol->reportStatus(ble::ConnectionStatus::Disconnected);
    EXPECT_EQ(CapturedLog::lines().size(), count);

    // The value-changed handler refers to process-wide data only and still works.
    fff1->notify(kTrigger);
    EXPECT_TRUE(PendingButtonEvents::fire.load());
}

}  // namespace
}  // namespace quenlark::test
