// quenlark-demo [options]: the simulated VR session around an installed driver folder.
// scripts/demo builds, installs into a temporary prefix and runs it; --help lists the
// options.
#include <cstdio>
#include <string>

#include "sim/demo/demo_options.h"
#include "sim/demo/demo_session.h"
#include "sim/demo/own_process_group.h"
#include "sim/demo/stop_request.h"

int main(int argc, char** argv) {
    using namespace quenlark::demo;
    const ParsedOptions parsed = ParseDemoOptions(argc, argv);
    if (!parsed.ok()) {
        std::fprintf(stderr, "quenlark-demo: %s\n(quenlark-demo --help lists the options)\n",
                     parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(DemoUsage("quenlark-demo", QUENLARK_DEMO_DRIVER_FOLDER).c_str(), stdout);
        return 0;
    }
    const std::string driverFolder = parsed.options.driverFolder.empty()
                                         ? std::string(QUENLARK_DEMO_DRIVER_FOLDER)
                                         : parsed.options.driverFolder;
    InstallStopRequestHandlers();
    return RunInOwnProcessGroup([&] { return RunDemoSession(parsed.options, driverFolder); });
}
