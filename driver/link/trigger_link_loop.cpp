#include "driver/link/trigger_link_loop.h"

#include <chrono>
#include <exception>
#include <memory>

#include "driver/link/connection_sequence.h"
#include "driver/link/link_context.h"
#include "driver/link/link_log.h"
#include "driver/link/peripheral_discovery.h"

namespace quenlark {
namespace {

constexpr std::chrono::milliseconds kTickPeriod{500};

// The line written once when Bluetooth stops being usable from the link thread.
constexpr char kUnavailableLine[] = "Bluetooth is unavailable.";

// An outage runs from a platform error on the link thread until the watcher starts again.
// While it runs, each StartScan tick first opens the central again, silently, and the
// line "Starting the advertisement watcher." is written once at most, so that a host
// without Bluetooth does not get two lines a second.
struct Outage {
    bool active = false;
    bool startLineWritten = false;
};

// Sleeps one tick: to a wake-up time 500 ms ahead, again for the remainder when woken
// early. False when the link is to end at once.
bool sleepOneTick(LinkClock& clock) {
    const LinkClock::TimePoint wake = clock.now() + kTickPeriod;
    while (clock.now() < wake) {
        if (!clock.sleepUntil(wake)) {
            return false;
        }
    }
    return !clock.abandoned();
}

void tickAction(const std::shared_ptr<LinkContext>& context, const LinkEnvironment& environment,
                Outage& outage) {
    switch (context->state.load(std::memory_order_acquire)) {
        case LinkState::StartScan: {
            bool writeLine = true;
            if (outage.active) {
                environment.central.open();
                writeLine = !outage.startLineWritten;
                outage.startLineWritten = true;
            }
            startScanning(*context, writeLine);
            outage.active = false;
            break;
        }
        case LinkState::TargetFound:
            connectSequence(context, environment.central);
            break;
        case LinkState::ConnectionLost:
            writeLinkLine("Device connection lost.");
            resetLink(*context);
            break;
        case LinkState::Scanning:
        case LinkState::Connected:
        default:
            break;
    }
}

// A platform error on the link thread: one line per outage, then back to scanning.
void onPlatformError(LinkContext* context, const LinkEnvironment& environment, Outage& outage) {
    if (environment.clock.abandoned()) {
        return;
    }
    if (!outage.active) {
        outage.active = true;
        outage.startLineWritten = false;
        writeLinkLine(kUnavailableLine);
    }
    if (context == nullptr) {
        return;
    }
    try {
        resetLink(*context);
    } catch (...) {
        // The device is released even when its close throws; this second reset makes no
        // platform call and completes the reset.
        try {
            resetLink(*context);
        } catch (...) {
        }
    }
}

// Runs `step`; a platform error (or any other) that it raises ends here.
template <typename Step>
void guarded(LinkContext* context, const LinkEnvironment& environment, Outage& outage,
             Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
        onPlatformError(context, environment, outage);
    } catch (...) {
        onPlatformError(context, environment, outage);
    }
}

}  // namespace

void runTriggerLink(LogCallback log, const LinkEnvironment& environment) {
    linkLog.store(log, std::memory_order_relaxed);
    writeLinkLine("Quenlark Running");

    Outage outage;
    // Stands for joining the platform's apartment; without Bluetooth the link still runs
    // and tries again on its StartScan ticks.
    guarded(nullptr, environment, outage, [&] { environment.central.open(); });

    auto context = std::make_shared<LinkContext>();
    context->watcher = environment.central.createWatcher();
    attachDiscoveryHandlers(context);

    while (environment.running.load(std::memory_order_relaxed)) {
        if (!sleepOneTick(environment.clock)) {
            break;
        }
        guarded(context.get(), environment, outage,
                [&] { tickAction(context, environment, outage); });
    }

    // The end writes no line, stops no watcher and closes no device. Handlers that still
    // run lock the context only weakly, so they find it gone.
    context->targetCharacteristic.reset();
    context->device.reset();
    context.reset();
}

}  // namespace quenlark
