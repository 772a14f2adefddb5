// quenlark-sim-pistol [--scene NAME]: the stand-in BlueZ service with a simulated pistol.
// Connects to the bus that DBUS_SYSTEM_BUS_ADDRESS names, takes the name org.bluez and
// serves until SIGTERM or SIGINT, or until the bus goes away.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "sim/pistol/scenes.h"
#include "sim/pistol/simulated_bluez.h"

namespace {

int serve(const std::string& sceneName) {
    std::optional<quenlark::sim::Scene> scene = quenlark::sim::sceneNamed(sceneName);
    if (!scene) {
        std::fprintf(stderr, "quenlark-sim-pistol: no scene named %s\n", sceneName.c_str());
        return 2;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    auto connection = sdbus::createSystemBusConnection();
    quenlark::sim::SimulatedBluez bluez(*connection, std::move(*scene));
    // The name last, so that whoever sees it finds every object in place.
    connection->requestName("org.bluez");
    std::printf("quenlark-sim-pistol: serving scene %s\n", sceneName.c_str());
    std::fflush(stdout);

    for (;;) {
        while (connection->processPendingRequest()) {
        }
        bluez.runDueTimers();

        const auto poll = connection->getEventLoopPollData();
        int timeout = poll.getPollTimeout();
        if (const auto next = bluez.nextTimer()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                *next - quenlark::sim::SimulatedBluez::Clock::now());
            const int timerTimeout = static_cast<int>(std::max<long long>(0, left.count() + 1));
            timeout = timeout < 0 ? timerTimeout : std::min(timeout, timerTimeout);
        }
        pollfd fds[] = {{poll.fd, poll.events, 0}, {signalFd, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) {
            return 1;
        }
        if (fds[1].revents & POLLIN) {
            return 0;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string scene = "pistol";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--scene") == 0 && i + 1 < argc) {
            scene = argv[++i];
        } else {
            std::fprintf(stderr, "usage: quenlark-sim-pistol [--scene NAME]\n");
            return 2;
        }
    }
    try {
        return serve(scene);
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "quenlark-sim-pistol: %s\n", error.what());
        return 1;
    }
}
