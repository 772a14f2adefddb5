#include "sim/demo/pistol_script.h"

#include <algorithm>
#include <cmath>

namespace quenlark::demo {
namespace {

// Appends start + k * period for every k >= 0 with the time in (from, to].
void Periodic(double start, double period, double from, double to, PistolAction action,
              std::vector<ScheduledAction>& out) {
    if (!(period > 0) || to <= from) {
        return;
    }
    double k = std::max(0.0, std::floor((from - start) / period));
    for (double t = start + k * period; t <= to; t = start + (++k) * period) {
        if (t > from) {
            out.push_back({t, action});
        }
    }
}

}  // namespace

PistolScript::PistolScript(double shotInterval, double endTime)
    : shotInterval_(std::max(shotInterval, kMinimumShotInterval)), endTime_(endTime) {}

std::vector<ScheduledAction> PistolScript::Due(double from, double to) const {
    if (endTime_ >= 0) {
        to = std::min(to, endTime_ - kQuietTail);
    }
    std::vector<ScheduledAction> due;
    Periodic(shotInterval_, shotInterval_, from, to, PistolAction::Fire, due);
    Periodic(kFirstEject, kMagazineCycle, from, to, PistolAction::EjectMag, due);
    Periodic(kFirstEject + kLoadAfterEject, kMagazineCycle, from, to, PistolAction::LoadMag, due);
    std::stable_sort(
        due.begin(), due.end(),
        [](const ScheduledAction& a, const ScheduledAction& b) { return a.time < b.time; });
    return due;
}

}  // namespace quenlark::demo
