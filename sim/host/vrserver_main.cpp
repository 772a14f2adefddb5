// quenlark-vrserver DRIVER_FOLDER [--frames N] [--fps F]
//
// Hosts a driver folder as the VR server would: loads it, calls Init and Activate(1), runs
// frames at F Hz (default 90) until N frames have run or SIGINT/SIGTERM arrives, then calls
// Deactivate and Cleanup. Every driver log line goes to standard output as it arrives.
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "sim/host/driver_host.h"

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void RequestStop(int) {
    stopRequested.store(true, std::memory_order_relaxed);
}

struct Options {
    std::string folder;
    std::optional<long long> frames;  // empty: until a signal
    double fps = 90.0;
};

int Usage(const char* why) {
    std::fprintf(
        stderr,
        "quenlark-vrserver: %s\nusage: quenlark-vrserver DRIVER_FOLDER [--frames N] [--fps F]\n",
        why);
    return 2;
}

bool ParseCount(std::string_view text, long long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

bool ParseRate(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value) && value > 0.0 && value <= 100000.0;
}

void PrintLine(const std::string& line) {
    // One write per line, flushed at once, whichever thread logged it.
    flockfile(stdout);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    funlockfile(stdout);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Sleeps until the deadline in short slices, so that a stop request is seen promptly even
// at low frame rates.
void SleepUntil(std::chrono::steady_clock::time_point deadline) {
    constexpr auto kSlice = std::chrono::milliseconds(20);
    while (!stopRequested.load(std::memory_order_relaxed)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(deadline - now, kSlice));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--frames" || arg == "--fps") {
            if (i + 1 >= argc) {
                return Usage("missing value after an option");
            }
            const char* value = argv[++i];
            if (arg == "--frames") {
                long long frames = 0;
                if (!ParseCount(value, frames)) {
                    return Usage("--frames takes a whole number of frames, 0 or more");
                }
                options.frames = frames;
            } else if (!ParseRate(value, options.fps)) {
                return Usage("--fps takes a rate above 0 and at most 100000");
            }
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage("unknown option");
        } else if (options.folder.empty()) {
            options.folder = arg;
        } else {
            return Usage("more than one driver folder");
        }
    }
    if (options.folder.empty()) {
        return Usage("no driver folder given");
    }

    InstallSignalHandlers();

    quenlark::sim::DriverHost host;
    // The host program can run for hours: keep no call list, only the counts.
    host.SetRecording(false);
    host.SetLogObserver(PrintLine);

    std::string error;
    if (!host.Load(options.folder, &error)) {
        std::fprintf(stderr, "quenlark-vrserver: %s\n", error.c_str());
        return 1;
    }
    if (const vr::EVRInitError result = host.Init(); result != vr::VRInitError_None) {
        std::fprintf(stderr, "quenlark-vrserver: the driver's Init failed with %d\n",
                     static_cast<int>(result));
        host.Cleanup();
        return 1;
    }
    if (host.Device() == nullptr) {
        std::fprintf(stderr, "quenlark-vrserver: the driver added no device\n");
        host.Cleanup();
        return 1;
    }
    host.Activate(1);

    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / options.fps));
    auto next = std::chrono::steady_clock::now();
    for (long long frame = 0; !options.frames || frame < *options.frames; ++frame) {
        if (stopRequested.load(std::memory_order_relaxed)) {
            break;
        }
        host.RunFrame();
        next += period;
        SleepUntil(next);
    }

    host.Deactivate();
    host.Cleanup();
    host.SetLogObserver(nullptr);
    std::fflush(stdout);
    return 0;
}
