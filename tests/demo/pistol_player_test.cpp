#include "sim/demo/pistol_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace quenlark::demo {
namespace {

using namespace std::chrono_literals;
using Clock = PistolPlayer::Clock;

// A pistol that notes what it was asked to send, and a link the test opens and closes.
struct Bench {
    std::atomic<bool> ready{false};
    std::atomic<bool> pistolAnswers{true};
    std::mutex mutex;
    std::vector<PistolAction> sent;  // guarded by mutex

    PistolPlayer::Send Send() {
        return [this](PistolAction action) {
            if (!pistolAnswers) {
                return false;
            }
            std::lock_guard lock(mutex);
            sent.push_back(action);
            return true;
        };
    }
    PistolPlayer::Ready Ready() {
        return [this] { return ready.load(); };
    }
    std::size_t Sent() {
        std::lock_guard lock(mutex);
        return sent.size();
    }
    bool WaitForSent(std::size_t count) {
        const auto deadline = Clock::now() + 10s;
        while (Sent() < count) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
};

// Nothing goes out before the link is ready; the script's clock starts when it is, and
// only what the pistol sent is counted.
TEST(PistolPlayer, FollowsTheScriptFromTheLinkOnAndCountsWhatWentOut) {
    Bench bench;
    const Clock::time_point start = Clock::now();
    PistolPlayer player(bench.Send(), bench.Ready(), 0.25, std::nullopt, start);
    player.Start();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(bench.Sent(), 0u);
    EXPECT_FALSE(player.Sent().scriptStart.has_value());

    bench.ready = true;
    ASSERT_TRUE(bench.WaitForSent(2));
    const PistolPlayer::Counts counts = player.Sent();
    ASSERT_TRUE(counts.scriptStart.has_value());
    EXPECT_GE(*counts.scriptStart, 0.4);
    ASSERT_TRUE(counts.lastSent.has_value());
    EXPECT_GE(*counts.lastSent - *counts.scriptStart, 0.5 - 0.01);  // the second shot at 0.5 s
    EXPECT_GE(counts.shots, 2);

    // A pistol that does not answer, then a link that is lost: shots fall due unsent.
    bench.pistolAnswers = false;
    const int shotsBefore = player.Sent().shots;
    std::this_thread::sleep_for(600ms);
    bench.ready = false;
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(player.Sent().shots, shotsBefore);
    EXPECT_GE(player.Sent().notSent, 3);

    // After Stop nothing more goes out.
    bench.pistolAnswers = true;
    bench.ready = true;
    player.Stop();
    const std::size_t atStop = bench.Sent();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(bench.Sent(), atStop);
    EXPECT_EQ(player.Sent().shots, static_cast<int>(atStop));
}

// With an end, nothing is scheduled in the quiet tail before it.
TEST(PistolPlayer, KeepsTheTailBeforeTheEndQuiet) {
    Bench bench;
    bench.ready = true;
    const Clock::time_point start = Clock::now();
    PistolPlayer player(bench.Send(), bench.Ready(), 0.25, 1.1, start);
    player.Start();
    std::this_thread::sleep_for(1500ms);
    player.Stop();
    // Shots at 0.25 and 0.5 s; 0.75 s lies in the last half second.
    EXPECT_EQ(player.Sent().shots, 2);
}

}  // namespace
}  // namespace quenlark::demo
