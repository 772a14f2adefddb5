// The BlueZ backend through many connections to the simulated pistol, each ended in turn by
// the pistol (a dropped connection) and by the link (close): no crash, no descriptor and no
// memory kept per connection. Under AddressSanitizer, LeakSanitizer checks the memory at
// exit; otherwise the resident size is compared.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/link/ble_central.h"
#include "driver/link/bluez/bluez_central.h"
#include "driver/link/connection_sequence.h"
#include "sim/pistol/pistol_harness.h"

namespace quenlark {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kPistolAddress = 0xAABBCCDDEEFF;
constexpr int kCycles = QUENLARK_FAULT_PISTOL_CYCLES;
constexpr int kWarmUp = kCycles / 10;
const std::vector<std::uint8_t> kTrigger = {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLeakSanitizer = true;
#else
constexpr bool kLeakSanitizer = false;
#endif

// Counts what the backend's handlers reported.
class Counter {
  public:
    void Add() {
        std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    bool WaitFor(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return count_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

TEST(PistolCycles, ConnectionsComeAndGoWithoutCrashOrGrowth) {
    sim::PrivateBus bus;
    bus.useAsSystemBus();
    sim::SimulatedPistol pistol(bus);
    auto central = ble::bluez::CreateBluezCentral({2000ms, 1500ms, 2000ms});
    ASSERT_NE(central, nullptr);
    {
        Counter heard;
        auto watcher = central->createWatcher();
        watcher->addReceivedHandler([&](const ble::Advertisement& advertisement) {
            if (advertisement.address == kPistolAddress) {
                heard.Add();
            }
        });
        watcher->start();
        ASSERT_TRUE(heard.WaitFor(1));
        watcher->stop();
    }

    std::size_t descriptors = 0;
    long resident = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        if (cycle == kWarmUp) {
            descriptors = OpenDescriptors();
            resident = ResidentKilobytes();
        }
        auto device = central->deviceFromAddress(kPistolAddress);
        ASSERT_NE(device, nullptr);
        Counter disconnected;
        device->addConnectionStatusHandler([&](ble::ConnectionStatus status, const std::string&) {
            if (status == ble::ConnectionStatus::Disconnected) {
                disconnected.Add();
            }
        });
        const ble::ServicesResult services = device->gattServices();
        ASSERT_EQ(services.status, ble::GattStatus::Success);
        Counter values;
        for (const auto& service : services.services) {
            for (const auto& characteristic : service->characteristics().characteristics) {
                if (characteristic->uuid() == kTargetCharacteristicUuid) {
                    characteristic->addValueChangedHandler(
                        [&](std::span<const std::uint8_t>) { values.Add(); });
                    ASSERT_EQ(characteristic->writeNotifyConfiguration(), ble::GattStatus::Success);
                }
            }
        }
        if (cycle % 100 == 0) {
            ASSERT_TRUE(pistol.notify(kTrigger));
            ASSERT_TRUE(values.WaitFor(1)) << "no notification on this connection";
        }
        if (cycle % 2 == 0) {
            ASSERT_TRUE(pistol.dropConnection());
            ASSERT_TRUE(disconnected.WaitFor(1));
            device->close();
        } else {
            device->close();
            ASSERT_TRUE(pistol.waitUntil([](const sim::PistolStats& s) { return !s.connected; }));
        }
    }

    EXPECT_EQ(OpenDescriptors(), descriptors) << "descriptors after " << kCycles << " cycles";
    if (!kLeakSanitizer) {
        // Allocator caches may grow a little; a leak per connection grows with the count.
        EXPECT_LT(ResidentKilobytes() - resident, 4096) << "kB more after the cycles";
    }
}

}  // namespace
}  // namespace quenlark
