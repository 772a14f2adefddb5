#pragma once
// The session program's command line.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlark::demo {

struct DemoOptions {
    std::optional<double> durationSeconds;  // none: until Ctrl-C
    double shotIntervalSeconds = 1.0;
    bool pistol = true;
    std::string recordPath;  // --record FILE.csv; empty: no record
    std::string plotPath;    // --plot FILE.svg; empty: no plot
    // --driver-folder DIR: the installed driver folder to load; empty: the program's default
    std::string driverFolder;
    bool help = false;
};

struct ParsedOptions {
    DemoOptions options;
    std::string error;  // empty when the command line is good
    bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. Each option takes its value as the next
// argument or after '=' (--duration=15). --help stops the parse: the rest is not looked at.
ParsedOptions ParseDemoOptions(const std::vector<std::string_view>& arguments);
ParsedOptions ParseDemoOptions(int argc, const char* const* argv);

// The --help text; the default driver folder is named when one is given.
std::string DemoUsage(std::string_view program, std::string_view defaultDriverFolder = {});

}  // namespace quenlark::demo
