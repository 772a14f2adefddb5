#pragma once
// What most relay tests start from: the driver's side of the shared pose block, a
// stand-in runtime that accepts connections, and a stand-in parent whose pidfd the relay
// inherits under kParentFd, with kParentFd's digits as its command line.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "sim/runtime/runtime_scene.h"
#include "tests/relay/driver_side_block.h"
#include "tests/relay/relay_process.h"

namespace quenlark::test {

inline constexpr const char* kBanner = "Quenlark Orbelin running ...";
inline constexpr const char* kOpened = "Shared memory opened successfully.";
inline constexpr const char* kNotOpened = "Failed to open file mapping object.";
inline constexpr const char* kInitialized = "OpenVR initialized";
inline constexpr const char* kParentExited = "Parent process exited, shutting down...";
inline constexpr const char* kUsage =
    "orbelin is started by the driver with a parent process handle as its command line.";
inline constexpr const char* kInitFailedPrefix = "Failed to initialize OpenVR, error code: ";

class RelayFixture : public ::testing::Test {
  protected:
    static constexpr int kParentFd = 100;

    void SetUp() override { block.emplace(); }

    // The relay with the scene's environment and the stand-in parent under kParentFd.
    std::unique_ptr<RelayProcess> StartRelay(
        std::optional<std::string> commandLine = std::to_string(kParentFd)) {
        RelayOptions options;
        options.commandLine = std::move(commandLine);
        options.parentFd = parent.Pidfd();
        options.parentFdInChild = kParentFd;
        options.environment = scene.Environment();
        return std::make_unique<RelayProcess>(options);
    }

    // A relay that has connected and is relaying.
    std::unique_ptr<RelayProcess> StartRelaying() {
        auto relay = StartRelay();
        EXPECT_TRUE(relay->WaitForLine(kInitialized))
            << ::testing::PrintToString(relay->StatusTexts());
        return relay;
    }

    sim::RuntimeScene scene;
    StandInParent parent;
    std::optional<DriverSideBlock> block;
};

}  // namespace quenlark::test
