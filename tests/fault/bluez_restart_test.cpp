// The simulated Bluetooth service killed and started again many times under one running
// driver: after each restart the link connects again, and a trigger pull presses fire.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/host/driver_host.h"
#include "sim/pistol/pistol_harness.h"
#include "tests/support/installed_tree.h"

namespace quenlark {
namespace {

using namespace std::chrono_literals;
using Kind = sim::HostCall::Kind;

constexpr int kRestarts = QUENLARK_FAULT_BLUEZ_RESTARTS;
constexpr auto kWait = 20s;
constexpr char kConnected[] = "Device successfully connected.";
constexpr char kTriggerLine[] = "Received data: 91 0 0 0 0 93 END";

class BluezRestarts : public ::testing::Test {
  protected:
    void SetUp() override {
        bus.useAsSystemBus();
        pistol = std::make_unique<sim::SimulatedPistol>(bus);
        std::string error;
        ASSERT_TRUE(host.Load(test::InstalledDriverFolder(), &error)) << error;
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(1), vr::VRInitError_None);
        activated = true;
    }
    void TearDown() override {
        if (activated) {
            host.Deactivate();
            host.Cleanup();
        }
        host.Unload();
    }

    std::size_t CountOf(const std::string& line) const {
        std::size_t count = 0;
        for (const std::string& got : host.LogLines()) {
            count += got == line ? 1 : 0;
        }
        return count;
    }
    // The log so far, for a failure's message.
    std::string Log() const {
        std::string text;
        for (const std::string& line : host.LogLines()) {
            text += "  " + line + "\n";
        }
        return text;
    }

    // The handle of the fire click component the device created.
    std::uint64_t FireClick() const {
        for (const sim::HostCall& call : host.Calls(Kind::CreateBooleanComponent)) {
            if (call.text == "/input/fire/click") {
                return call.component;
            }
        }
        return 0;
    }

    sim::PrivateBus bus;
    std::unique_ptr<sim::SimulatedPistol> pistol;
    sim::DriverHost host;
    bool activated = false;
};

TEST_F(BluezRestarts, TheLinkReconnectsAfterEachRestartAndATriggerPullPressesFire) {
    const std::uint64_t fireClick = FireClick();
    ASSERT_NE(fireClick, 0u);
    ASSERT_TRUE(host.WaitForLogLineCount(kConnected, 1, kWait)) << Log();
    for (int restart = 1; restart <= kRestarts; ++restart) {
        SCOPED_TRACE("restart " + std::to_string(restart));
        const std::size_t lost =
            CountOf("Device connection lost.") + CountOf("Bluetooth is unavailable.");
        pistol->kill();
        // The link sees the service go: the connection lost, or Bluetooth gone outright.
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (CountOf("Device connection lost.") + CountOf("Bluetooth is unavailable.") == lost &&
               std::chrono::steady_clock::now() < deadline) {
            host.RunFrame();
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_GT(CountOf("Device connection lost.") + CountOf("Bluetooth is unavailable."), lost)
            << Log();

        pistol->start();
        ASSERT_TRUE(host.WaitForLogLineCount(kConnected, restart + 1, kWait)) << Log();
        ASSERT_TRUE(pistol->notify({0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
        ASSERT_TRUE(host.WaitForLogLineCount(kTriggerLine, restart, kWait)) << Log();
        const std::size_t before = host.Calls(Kind::UpdateBooleanComponent).size();
        host.RunFrame();
        const std::vector<sim::HostCall> updates = host.Calls(Kind::UpdateBooleanComponent);
        bool pressed = false;
        for (std::size_t i = before; i < updates.size(); ++i) {
            pressed = pressed || (updates[i].component == fireClick && updates[i].boolValue);
        }
        ASSERT_TRUE(pressed) << "the frame after the trigger pull did not press fire";
        host.RunFrames(21);  // the press ends before the next restart
    }
}

}  // namespace
}  // namespace quenlark
