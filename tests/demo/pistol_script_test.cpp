#include "sim/demo/pistol_script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace quenlark::demo {
namespace {

// Runs the script frame by frame at 90 Hz, as the session asks it.
std::vector<ScheduledAction> RunFrames(const PistolScript& script, double seconds) {
    std::vector<ScheduledAction> all;
    const int frames = static_cast<int>(std::lround(seconds * kSessionFrameRate));
    for (int f = 1; f <= frames; ++f) {
        const auto due = script.Due((f - 1) / kSessionFrameRate, f / kSessionFrameRate);
        all.insert(all.end(), due.begin(), due.end());
    }
    return all;
}

std::map<PistolAction, int> Count(const std::vector<ScheduledAction>& actions) {
    std::map<PistolAction, int> counts;
    for (const auto& a : actions) {
        ++counts[a.action];
    }
    return counts;
}

TEST(PistolScript, FiresEveryIntervalAndChangesMagazinesNowAndThen) {
    const PistolScript script(1.0, 15.0);
    const auto actions = RunFrames(script, 15.0);
    auto counts = Count(actions);
    // Shots at 1, 2, ..., 14 (15 is in the quiet tail); ejects at 4.5 and 13.5; a load at 6.
    EXPECT_EQ(counts[PistolAction::Fire], 14);
    EXPECT_EQ(counts[PistolAction::EjectMag], 2);
    EXPECT_EQ(counts[PistolAction::LoadMag], 1);
    for (std::size_t i = 1; i < actions.size(); ++i) {
        EXPECT_LE(actions[i - 1].time, actions[i].time);
    }
    for (const auto& a : actions) {
        EXPECT_LE(a.time, 15.0 - PistolScript::kQuietTail);
    }
}

// Asking in steps of any size gives each action exactly once: nothing lost at a boundary,
// nothing twice.
TEST(PistolScript, EachActionIsDueExactlyOnce) {
    const PistolScript script(0.5);
    const auto whole = script.Due(0.0, 40.0);
    for (double step : {1.0 / 90, 0.5, 0.7, 4.5}) {
        std::vector<ScheduledAction> stepped;
        for (double from = 0; from < 40.0; from += step) {
            const auto due = script.Due(from, std::min(from + step, 40.0));
            stepped.insert(stepped.end(), due.begin(), due.end());
        }
        ASSERT_EQ(stepped.size(), whole.size()) << "step " << step;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_DOUBLE_EQ(stepped[i].time, whole[i].time);
            EXPECT_EQ(stepped[i].action, whole[i].action);
        }
    }
    EXPECT_TRUE(script.Due(3.0, 3.0).empty());
    EXPECT_TRUE(script.Due(5.0, 4.0).empty());
}

// Presses of one input that the driver can tell apart: the same action never comes back
// within 22 frames.
TEST(PistolScript, SameActionsStayApartForTheDriver) {
    for (double interval : {kMinimumShotInterval, 0.3, 1.0, 2.5}) {
        const auto actions = PistolScript(interval).Due(0.0, 60.0);
        std::map<PistolAction, double> last;
        for (const auto& a : actions) {
            if (last.count(a.action) != 0) {
                EXPECT_GE(a.time - last[a.action], kMinimumShotInterval - 1e-12)
                    << "interval " << interval;
            }
            last[a.action] = a.time;
        }
    }
    // An interval below what the driver can resolve is raised to it, never loops forever.
    EXPECT_EQ(Count(PistolScript(0.0).Due(0.0, 10.0))[PistolAction::Fire],
              static_cast<int>(std::floor(10.0 / kMinimumShotInterval + 1e-9)));
}

}  // namespace
}  // namespace quenlark::demo
