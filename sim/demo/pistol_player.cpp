#include "sim/demo/pistol_player.h"

#include <algorithm>
#include <utility>

namespace quenlark::demo {

std::vector<std::uint8_t> NotificationPayload(PistolAction action) {
    switch (action) {
        case PistolAction::Fire:
            return {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};
        case PistolAction::EjectMag:
            return {0x5C, 0x00, 0x5C, 0x5D};
        case PistolAction::LoadMag:
            return {0x5C, 0x01, 0x5D, 0x5D};
    }
    return {};
}

PistolPlayer::PistolPlayer(Send send, Ready ready, double shotInterval, std::optional<double> end,
                           Clock::time_point sessionStart)
    : send_(std::move(send)),
      ready_(std::move(ready)),
      shotInterval_(shotInterval),
      end_(end),
      sessionStart_(sessionStart) {}

PistolPlayer::~PistolPlayer() {
    Stop();
}

void PistolPlayer::Start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
    }
}

void PistolPlayer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

PistolPlayer::Counts PistolPlayer::Sent() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

double PistolPlayer::SessionSeconds(Clock::time_point at) const {
    return std::chrono::duration<double>(at - sessionStart_).count();
}

bool PistolPlayer::SleepUntil(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_until(lock, until, [this] { return stop_; });
}

void PistolPlayer::Run() {
    // Wait for the link, then follow the script from that moment on.
    Clock::time_point tick = Clock::now();
    while (!ready_()) {
        tick += kTick;
        if (!SleepUntil(tick)) {
            return;
        }
    }
    const Clock::time_point scriptStart = Clock::now();
    const double startSeconds = SessionSeconds(scriptStart);
    {
        std::lock_guard lock(mutex_);
        counts_.scriptStart = startSeconds;
    }
    // An end that came before the link: a script that schedules nothing.
    const PistolScript script(shotInterval_, end_ ? std::max(0.0, *end_ - startSeconds) : -1.0);

    double done = 0.0;  // script seconds up to which every action was handled
    tick = scriptStart;
    while (SleepUntil(tick += kTick)) {
        const Clock::time_point now = Clock::now();
        if (now - tick > 20 * kTick) {
            tick = now;  // fell far behind (a loaded machine): no burst of catching up
        }
        const double upTo = std::chrono::duration<double>(now - scriptStart).count();
        for (const ScheduledAction& due : script.Due(done, upTo)) {
            bool sent = false;
            if (ready_()) {
                try {
                    sent = send_(due.action);
                } catch (...) {
                    // A pistol that cannot be reached sent nothing.
                }
            }
            std::lock_guard lock(mutex_);
            if (!sent) {
                ++counts_.notSent;
                continue;
            }
            (due.action == PistolAction::Fire       ? counts_.shots
             : due.action == PistolAction::EjectMag ? counts_.ejects
                                                    : counts_.loads) += 1;
            counts_.lastSent = SessionSeconds(Clock::now());
        }
        done = upTo;
    }
}

}  // namespace quenlark::demo
