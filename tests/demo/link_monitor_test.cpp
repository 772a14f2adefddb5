#include "sim/demo/link_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace quenlark::demo {
namespace {

using ::testing::ElementsAre;

// The link's lines in the order a session goes through them, with the state each leaves.
TEST(LinkMonitor, ReadsTheLinkStateOffItsLines) {
    struct Step {
        const char* line;
        const char* state;
        bool ready = false;  // the pistol's presses would reach the driver
    };
    const Step steps[] = {
        {"Initializing controller", "not started"},
        {"Quenlark Running", "link started"},
        {"Starting the advertisement watcher.", "scanning for the pistol"},
        {"Found device: Speaker (Address: 123)", "scanning for the pistol"},
        {"Found device: Pistol (Address: 77)", "scanning for the pistol"},
        {"Target device found.", "pistol found"},
        {"Connecting to device: 77", "connecting"},
        {"Failed to connect to device: 77", "connection failed, scanning again"},
        {"Target device found.", "pistol found"},
        {"Connected to device: Pistol", "connected to Pistol, subscribing"},
        {"Found GATT service: {0000FFF0-0000-1000-8000-00805F9B34FB}",
         "connected to Pistol, subscribing"},
        {"Device successfully connected.", "connected to Pistol", true},
        {"Received data: 91 0 0 0 0 93 END", "connected to Pistol", true},
        {"Orbelin process terminated.", "connected to Pistol", true},
        {"Disconnected from device: Pistol", "disconnected"},
        {"Device connection lost.", "connection lost, scanning again"},
        {"Target characteristic not found.", "connection failed, scanning again"},
        {"Bluetooth is unavailable.", "Bluetooth unavailable"},
        {"Failed to start the Bluetooth link thread.", "link thread not started"},
    };
    LinkMonitor monitor;
    for (const Step& step : steps) {
        monitor.AddLine(step.line);
        const auto snapshot = monitor.Take();
        EXPECT_EQ(snapshot.linkState, step.state) << "after \"" << step.line << "\"";
        EXPECT_EQ(snapshot.linkReady, step.ready) << "after \"" << step.line << "\"";
    }
    const auto snapshot = monitor.Take();
    EXPECT_EQ(snapshot.linesSeen, std::size(steps));
    EXPECT_EQ(snapshot.notificationsSeen, 1u);
}

// The pistol's presses are sent only while the link is ready: every way the link can lose
// the pistol ends that, whatever state it came from.
TEST(LinkMonitor, EveryLossOfThePistolEndsReadiness) {
    for (const char* loss : {"Disconnected from device: Pistol", "Device connection lost.",
                             "Failed to connect to device: 77", "Failed to get GATT services.",
                             "Target characteristic not found.", "Bluetooth is unavailable.",
                             "Starting the advertisement watcher.", "Quenlark Running"}) {
        LinkMonitor monitor;
        monitor.AddLine("Connected to device: Pistol");
        monitor.AddLine("Device successfully connected.");
        ASSERT_TRUE(monitor.Take().linkReady);
        monitor.AddLine(loss);
        EXPECT_FALSE(monitor.Take().linkReady) << "after \"" << loss << "\"";
    }
}

TEST(LinkMonitor, KeepsTheLastLinesOldestFirst) {
    LinkMonitor monitor(3);
    for (const char* line : {"a", "b", "c", "d", "e"}) {
        monitor.AddLine(line);
    }
    EXPECT_THAT(monitor.Take().lastLines, ElementsAre("c", "d", "e"));
    LinkMonitor none(0);
    none.AddLine("a");
    EXPECT_TRUE(none.Take().lastLines.empty());
    EXPECT_EQ(none.Take().linesSeen, 1u);
}

// Lines arrive from the link thread and the frame thread while the view reads.
TEST(LinkMonitor, TakesLinesFromSeveralThreads) {
    LinkMonitor monitor(4);
    std::thread a([&] {
        for (int i = 0; i < 2000; ++i) {
            monitor.AddLine("Received data: 91 0 0 0 0 93 END");
        }
    });
    std::thread b([&] {
        for (int i = 0; i < 2000; ++i) {
            monitor.AddLine("Found device: Pistol (Address: 77)");
        }
    });
    for (int i = 0; i < 200; ++i) {
        const auto snapshot = monitor.Take();
        EXPECT_LE(snapshot.lastLines.size(), 4u);
    }
    a.join();
    b.join();
    EXPECT_EQ(monitor.Take().linesSeen, 4000u);
    EXPECT_EQ(monitor.Take().notificationsSeen, 2000u);
}

}  // namespace
}  // namespace quenlark::demo
