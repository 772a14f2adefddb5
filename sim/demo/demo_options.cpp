#include "sim/demo/demo_options.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "sim/demo/pistol_script.h"

namespace quenlark::demo {
namespace {

// The whole text as a finite number, or nothing: "15s", " 15", "nan" and "1e999" are not
// numbers of seconds.
std::optional<double> Number(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

}  // namespace

ParsedOptions ParseDemoOptions(const std::vector<std::string_view>& arguments) {
    ParsedOptions parsed;
    DemoOptions& o = parsed.options;
    auto fail = [&parsed](std::string message) {
        parsed.error = std::move(message);
        return parsed;
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        std::string_view name = argument;
        std::optional<std::string_view> inlineValue;
        if (const auto equals = argument.find('=');
            argument.starts_with("--") && equals != std::string_view::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        // The option's value: after '=' or the next argument. A next argument that is an
        // option itself means the value was left out.
        auto value = [&](std::string_view what) -> std::optional<std::string_view> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("--")) {
                return arguments[++i];
            }
            parsed.error = std::string(name) + " needs " + std::string(what);
            return std::nullopt;
        };
        auto noValue = [&]() {
            if (inlineValue) {
                parsed.error = std::string(name) + " takes no value";
                return false;
            }
            return true;
        };

        if (name == "--help" || name == "-h") {
            o.help = true;
            return parsed;
        } else if (name == "--duration") {
            const auto text = value("a number of seconds");
            if (!text) {
                return parsed;
            }
            const auto seconds = Number(*text);
            if (!seconds || *seconds <= 0) {
                return fail("--duration " + Quoted(*text) +
                            ": give the session's length as a number of seconds above 0");
            }
            o.durationSeconds = *seconds;
        } else if (name == "--shot-interval") {
            const auto text = value("a number of seconds");
            if (!text) {
                return parsed;
            }
            const auto seconds = Number(*text);
            if (!seconds) {
                return fail("--shot-interval " + Quoted(*text) +
                            ": give the time between shots as a number of seconds");
            }
            if (*seconds < kMinimumShotInterval) {
                char message[200];
                std::snprintf(message, sizeof message,
                              "--shot-interval %s: shots must be at least %.3f seconds apart (%d "
                              "frames at %.0f "
                              "frames per second), or the driver folds them into one press",
                              std::string(*text).c_str(), kMinimumShotInterval,
                              kFramesBetweenPresses, kSessionFrameRate);
                return fail(message);
            }
            o.shotIntervalSeconds = *seconds;
        } else if (name == "--no-pistol") {
            if (!noValue()) {
                return parsed;
            }
            o.pistol = false;
        } else if (name == "--record" || name == "--plot") {
            const auto text = value(name == "--record" ? "a file name, such as session.csv"
                                                       : "a file name, such as session.svg");
            if (!text) {
                return parsed;
            }
            if (text->empty()) {
                return fail(std::string(name) + " needs a file name, not an empty one");
            }
            (name == "--record" ? o.recordPath : o.plotPath) = std::string(*text);
        } else if (name == "--driver-folder") {
            const auto text = value("the installed driver folder, such as PREFIX/quenlark_k7");
            if (!text) {
                return parsed;
            }
            if (text->empty()) {
                return fail("--driver-folder needs a folder, not an empty name");
            }
            o.driverFolder = std::string(*text);
        } else if (argument.starts_with("-")) {
            return fail("unknown option " + Quoted(argument));
        } else {
            return fail("unexpected argument " + Quoted(argument) +
                        " (every value follows its option)");
        }
    }
    if (!o.recordPath.empty() && o.recordPath == o.plotPath) {
        return fail("--record and --plot name the same file, " + Quoted(o.recordPath) +
                    "; give each its own");
    }
    return parsed;
}

ParsedOptions ParseDemoOptions(int argc, const char* const* argv) {
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return ParseDemoOptions(arguments);
}

std::string DemoUsage(std::string_view program, std::string_view defaultDriverFolder) {
    std::string text = "Usage: " + std::string(program) + " [options]\n";
    text +=
        "\n"
        "Runs a simulated VR session with the Quenlark K7 driver: a stand-in VR server loads the\n"
        "installed driver folder, a headset and two controllers move in the stand-in runtime\n"
        "(the right-hand one along a figure-eight), the driver's relay publishes the right\n"
        "hand's pose through the OpenVR client library, and a simulated pistol on a private\n"
        "D-Bus pulls the trigger and changes magazines. Ctrl-C ends it.\n"
        "\n"
        "Options:\n"
        "  --duration SECONDS       stop after this long (default: run until Ctrl-C)\n"
        "  --shot-interval SECONDS  time between trigger pulls (default: 1)\n"
        "  --no-pistol              run without the simulated pistol\n"
        "  --record FILE.csv        write one row per frame: time, controller pose, device pose,\n"
        "                           input states\n"
        "  --plot FILE.svg          draw the controller's and the device's paths and the inputs'\n"
        "                           timeline into an SVG picture\n"
        "  --driver-folder DIR      the installed driver folder to load\n";
    if (!defaultDriverFolder.empty()) {
        text += "                           (default: " + std::string(defaultDriverFolder) + ")\n";
    }
    text += "  --help                   show this text\n";
    return text;
}

}  // namespace quenlark::demo
