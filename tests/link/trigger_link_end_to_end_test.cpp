// The whole driver end to end: the stand-in host loads the installed library, whose link
// finds, connects to and listens to the simulated pistol on a private bus, and the
// pistol's notifications become button presses in the host's frames.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/host/driver_host.h"
#include "sim/pistol/pistol_harness.h"
#include "tests/support/installed_tree.h"

namespace quenlark::test {
namespace {

using namespace std::chrono_literals;
using Kind = sim::HostCall::Kind;

constexpr auto kWait = 20s;
const std::string kAddress = "187723572702975";  // AA:BB:CC:DD:EE:FF
const std::string kTarget = "{0000FFF1-0000-1000-8000-00805F9B34FB}";

// One update of an input component.
struct Update {
    std::string path;
    double value;
    bool operator==(const Update&) const = default;
};

void PrintTo(const Update& update, std::ostream* out) {
    *out << update.path << "=" << update.value;
}

class LinkEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bus.useAsSystemBus();
        pistol = std::make_unique<sim::SimulatedPistol>(bus, scene());
        start();
    }

    void TearDown() override { stop(); }

    virtual std::string scene() const { return "pistol"; }

    void start() {
        std::string error;
        ASSERT_TRUE(host.Load(InstalledDriverFolder(), &error)) << error;
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(1), vr::VRInitError_None);
        started = true;
    }

    void stop() {
        if (started) {
            host.Deactivate();
            host.Cleanup();
            host.Unload();
            started = false;
        }
    }

    // On a time-out the driver's lines so far are part of the failure message.
    ::testing::AssertionResult waitForLine(const std::string& line, std::size_t count = 1) {
        if (host.WaitForLogLineCount(line, count, kWait)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "no \"" << line << "\" (x" << count << ") in the driver log:\n  "
               << ::testing::PrintToString(host.LogLines());
    }

    std::size_t countOf(const std::string& line) const {
        const std::vector<std::string> lines = host.LogLines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }

    // Runs frames and returns the component updates they sent, named by path.
    std::vector<Update> framesUpdates(int frames) {
        const std::size_t before = host.Calls().size();
        host.RunFrames(frames);
        const std::vector<sim::HostCall> calls = host.Calls();
        std::vector<Update> updates;
        for (std::size_t i = before; i < calls.size(); ++i) {
            const sim::HostCall& call = calls[i];
            if (call.kind == Kind::UpdateBooleanComponent) {
                updates.push_back({pathOf(call.component), call.boolValue ? 1.0 : 0.0});
            } else if (call.kind == Kind::UpdateScalarComponent) {
                updates.push_back({pathOf(call.component), call.scalarValue});
            }
        }
        return updates;
    }

    std::string pathOf(std::uint64_t component) const {
        for (const sim::HostCall& call : host.Calls()) {
            if ((call.kind == Kind::CreateBooleanComponent ||
                 call.kind == Kind::CreateScalarComponent) &&
                call.component == component) {
                return call.text;
            }
        }
        return "?";
    }

    // A notification, then a press of 21 frames on `click` (and `value` when given).
    void expectPress(const std::vector<std::uint8_t>& payload, const std::string& line,
                     const std::string& click, const std::string& value = "") {
        const std::size_t seen = countOf(line);
        ASSERT_TRUE(pistol->notify(payload));
        ASSERT_TRUE(waitForLine(line, seen + 1));
        std::vector<Update> pressed{{click, 1.0}};
        std::vector<Update> released{{click, 0.0}};
        if (!value.empty()) {
            pressed.push_back({value, 1.0});
            released.push_back({value, 0.0});
        }
        EXPECT_EQ(framesUpdates(1), pressed);
        EXPECT_TRUE(framesUpdates(20).empty());
        EXPECT_EQ(framesUpdates(1), released);
    }

    void expectTriggerPress() {
        expectPress({0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}, "Received data: 91 0 0 0 0 93 END",
                    "/input/fire/click", "/input/fire/value");
    }

    sim::PrivateBus bus;
    std::unique_ptr<sim::SimulatedPistol> pistol;
    sim::DriverHost host;
    bool started = false;
};

// `expected` appears in `lines` in this order, other lines between allowed.
::testing::AssertionResult inOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& expected) {
    auto at = lines.begin();
    for (const std::string& line : expected) {
        at = std::find(at, lines.end(), line);
        if (at == lines.end()) {
            return ::testing::AssertionFailure() << "missing or out of order: \"" << line << "\"";
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(LinkEndToEndTest, DiscoversConnectsAndTurnsNotificationsIntoPresses) {
    ASSERT_TRUE(waitForLine("Device successfully connected."));
    EXPECT_TRUE(
        inOrder(host.LogLines(),
                {"Quenlark Running", "Starting the advertisement watcher.",
                 "Found device: Pistol (Address: " + kAddress + ")", "Target device found.",
                 "Connecting to device: " + kAddress,
                 "Found GATT service: {0000FFF0-0000-1000-8000-00805F9B34FB}",
                 "  Characteristic: " + kTarget, "Subscribing to characteristic: " + kTarget,
                 "Successfully subscribed to notifications for characteristic: " + kTarget,
                 "  Characteristic: {0000FFF2-0000-1000-8000-00805F9B34FB}",
                 "Device successfully connected."}));
    EXPECT_EQ(countOf("Connected to device: Pistol"), 1u);
    EXPECT_EQ(countOf("Watcher stopped."), 1u);
    EXPECT_EQ(countOf("Found device: Speaker (Address: 18838586676582)") > 0, true);

    expectTriggerPress();
    expectPress({0x5C, 0x00, 0x5C, 0x5D}, "Received data: 92 0 92 93 END",
                "/input/eject_mag/click");
    expectPress({0x5C, 0x01, 0x5D, 0x5D}, "Received data: 92 1 93 93 END", "/input/load_mag/click");
}

TEST_F(LinkEndToEndTest, DroppedConnectionIsFollowedByANewScanAndAReconnection) {
    ASSERT_TRUE(waitForLine("Device successfully connected."));
    const std::size_t scans = countOf("Starting the advertisement watcher.");
    ASSERT_TRUE(pistol->dropConnection());

    ASSERT_TRUE(waitForLine("Device successfully connected.", 2));
    const std::vector<std::string> lines = host.LogLines();
    const auto lost = std::find(lines.begin(), lines.end(), "Disconnected from device: Pistol");
    ASSERT_NE(lost, lines.end());
    EXPECT_TRUE(inOrder({lost, lines.end()},
                        {"Disconnected from device: Pistol", "Device connection lost.",
                         "Starting the advertisement watcher.", "Target device found.",
                         "Connecting to device: " + kAddress, "Device successfully connected."}));
    EXPECT_EQ(countOf("Starting the advertisement watcher."), scans + 1);
    expectTriggerPress();
}

TEST_F(LinkEndToEndTest, KilledServiceIsOneOutageAndTheLinkReconnects) {
    ASSERT_TRUE(waitForLine("Device successfully connected."));
    pistol->kill();
    ASSERT_TRUE(waitForLine("Bluetooth is unavailable."));
    // Frames go on while Bluetooth is away, and the outage is logged once over many ticks.
    for (int i = 0; i < 20; ++i) {
        host.RunFrames(9);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(countOf("Bluetooth is unavailable."), 1u);

    pistol->start();
    ASSERT_TRUE(waitForLine("Device successfully connected.", 2));
    EXPECT_EQ(countOf("Bluetooth is unavailable."), 1u);
    expectTriggerPress();
}

TEST_F(LinkEndToEndTest, LostBusIsOneOutageAndTheLinkReconnects) {
    ASSERT_TRUE(waitForLine("Device successfully connected."));
    pistol->kill();
    bus.kill();
    ASSERT_TRUE(waitForLine("Bluetooth is unavailable."));
    host.RunFrames(50);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(countOf("Bluetooth is unavailable."), 1u);

    bus.start();
    pistol->start();
    ASSERT_TRUE(waitForLine("Device successfully connected.", 2));
    expectTriggerPress();
}

// A pistol whose services never resolve keeps the link thread inside a TargetFound tick.
class LinkUnloadTest : public LinkEndToEndTest {
  protected:
    std::string scene() const override { return "never-resolves"; }
};

TEST_F(LinkUnloadTest, UnloadingWhileTheLinkWaitsInsideATickDoesNotCrash) {
    ASSERT_TRUE(waitForLine("Connecting to device: " + kAddress));
    ASSERT_TRUE(pistol->waitUntil([](const sim::PistolStats& stats) { return stats.connected; }));
    host.Deactivate();
    host.Cleanup();
    // The stand-in host would wait for the driver's threads, and leave the library mapped
    // while they run. A server that does not wait is played here by dlclose itself: the
    // library's own unload must bring its link thread out before its code goes.
    const std::string path = host.LibraryPath();
    EXPECT_FALSE(host.Unload(0ms)) << "the link thread was expected to be inside its tick";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    dlclose(handle);  // the reference just taken
    const auto began = std::chrono::steady_clock::now();
    dlclose(handle);  // the host's reference: the library unloads now
    EXPECT_LT(std::chrono::steady_clock::now() - began, 12s);
    EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the library is still mapped";
    started = false;
    std::this_thread::sleep_for(500ms);
}

// No system bus at all: the driver loads, activates and runs frames, and says once that
// Bluetooth is unavailable.
TEST(LinkWithoutBus, HostRunsNormallyAndTheOutageIsLoggedOnce) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quenlark-no-bus", 1);
    sim::DriverHost host;
    std::string error;
    ASSERT_TRUE(host.Load(InstalledDriverFolder(), &error)) << error;
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(1), vr::VRInitError_None);
    ASSERT_TRUE(host.WaitForLogLine("Bluetooth is unavailable.", kWait));
    for (int i = 0; i < 20; ++i) {
        host.RunFrames(9);
        std::this_thread::sleep_for(100ms);
    }
    const std::vector<std::string> lines = host.LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Quenlark Running"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Bluetooth is unavailable."), 1);
    EXPECT_LE(std::count(lines.begin(), lines.end(), "Starting the advertisement watcher."), 1);
    EXPECT_GE(host.Calls(Kind::PropertyContainer).size(), 180u);
    host.Deactivate();
    host.Cleanup();
    EXPECT_TRUE(host.Unload());
}

}  // namespace
}  // namespace quenlark::test
