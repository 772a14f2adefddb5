// Puts the session's building blocks through their paces without the stand-in host,
// runtime or pistol: the scene's right hand is composed into the device pose with the
// driver's own composition, and the pistol's script presses the inputs directly for the
// driver's 21 frames. For looking at the terminal view, the CSV and the SVG by eye, and
// as a smoke test of the parts working together.
//
//   demo_parts_preview [--fast] [session options]
//   --fast: run the frames back to back instead of at 90 per second.
#include <openvr_driver.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/pose_composition.h"
#include "sim/demo/csv_recorder.h"
#include "sim/demo/demo_options.h"
#include "sim/demo/link_monitor.h"
#include "sim/demo/openvr_pose_adapter.h"
#include "sim/demo/pistol_script.h"
#include "sim/demo/plot_trace.h"
#include "sim/demo/rate_meter.h"
#include "sim/demo/scene_motion.h"
#include "sim/demo/session_summary.h"
#include "sim/demo/svg_plot.h"
#include "sim/demo/terminal.h"
#include "sim/demo/terminal_view.h"

using namespace quenlark::demo;

int main(int argc, char** argv) {
    bool fast = false;
    std::vector<const char*> rest = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fast") == 0) {
            fast = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    const ParsedOptions parsed = ParseDemoOptions(static_cast<int>(rest.size()), rest.data());
    if (!parsed.ok()) {
        std::fprintf(stderr, "demo_parts_preview: %s\n", parsed.error.c_str());
        return 2;
    }
    const DemoOptions& options = parsed.options;
    if (options.help) {
        std::fputs(DemoUsage("demo_parts_preview").c_str(), stdout);
        return 0;
    }
    const double duration = options.durationSeconds.value_or(10.0);

    std::unique_ptr<CsvRecorder> recorder;
    std::string error;
    if (!options.recordPath.empty() && !(recorder = CsvRecorder::Open(options.recordPath, error))) {
        std::fprintf(stderr, "demo_parts_preview: %s\n", error.c_str());
        return 1;
    }

    LinkMonitor monitor;
    for (const char* line :
         {"Initializing controller", "Quenlark Running", "Starting the advertisement watcher.",
          "Found device: Pistol (Address: 112233445566)", "Target device found.",
          "Connecting to device: 112233445566", "Connected to device: Pistol",
          "Device successfully connected."}) {
        monitor.AddLine(line);
    }
    const PistolScript script(options.shotIntervalSeconds, duration);
    SessionTally tally;
    tally.Summary().pistol = options.pistol;
    PlotTrace trace;
    RateMeter fps;
    TerminalView view(stdout, IsTerminal(stdout), TerminalColumns(stdout));
    int pressFrames[3] = {-1, -1, -1};  // frames left of each press, -1 when released

    const auto start = std::chrono::steady_clock::now();
    const int frames = static_cast<int>(duration * kSessionFrameRate) + 1;
    ViewState state;
    for (int f = 0; f < frames; ++f) {
        const double t = f / kSessionFrameRate;
        if (!fast) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(t));
        }
        if (options.pistol && f > 0) {
            for (const ScheduledAction& a : script.Due((f - 1) / kSessionFrameRate, t)) {
                const int index = static_cast<int>(a.action);
                static const char* payloads[] = {"91 0 0 0 0 93", "92 0 92 93", "92 1 93 93"};
                monitor.AddLine(std::string("Received data: ") + payloads[index] + " END");
                if (pressFrames[index] < 0) {
                    pressFrames[index] = 21;
                }
                a.action == PistolAction::Fire       ? tally.ShotSent()
                : a.action == PistolAction::EjectMag ? tally.EjectSent()
                                                     : tally.LoadSent();
            }
        }

        FrameSample sample;
        sample.time = t;
        sample.controller = RightHandPose(t);
        vr::TrackedDevicePose_t served{};
        FillOpenVRPose(sample.controller, served);
        const vr::DriverPose_t reported = quenlark::ComposeDevicePose(served);
        sample.deviceReported = true;
        sample.device = DevicePoseOf(reported);
        sample.inputs.fireClick = pressFrames[0] > 0;
        sample.inputs.fireValue = pressFrames[0] > 0 ? 1.0f : 0.0f;
        sample.inputs.ejectMagClick = pressFrames[1] > 0;
        sample.inputs.loadMagClick = pressFrames[2] > 0;
        for (int& left : pressFrames) {
            left = left > 0 ? left - 1 : -1;
        }

        tally.AddFrame(sample);
        tally.ComparePose(sample.device, DevicePoseOf(quenlark::ComposeDevicePose(served)));
        trace.Add(sample);
        if (recorder) {
            recorder->Write(sample);
        }
        const double now =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        fps.Sample(now, static_cast<std::uint64_t>(f + 1));

        const auto snapshot = monitor.Take();
        state.elapsed = t;
        state.duration = duration;
        state.linkState = snapshot.linkState;
        state.logLines = snapshot.lastLines;
        state.frame = sample;
        state.frames = f + 1;
        state.firePresses = tally.Summary().firePresses;
        state.ejectPresses = tally.Summary().ejectPresses;
        state.loadPresses = tally.Summary().loadPresses;
        state.framesPerSecond = fps.PerSecond();
        state.relayPublicationsPerSecond = 0;
        state.pistol = options.pistol;
        view.Update(state, fast ? t : now);
    }
    view.Finish(state);

    SessionSummary summary = tally.Summary();
    if (recorder) {
        if (!recorder->Finish(error)) {
            std::fprintf(stderr, "demo_parts_preview: %s\n", error.c_str());
            return 1;
        }
        summary.recordPath = options.recordPath;
    }
    if (!options.plotPath.empty()) {
        char subtitle[128];
        std::snprintf(subtitle, sizeof subtitle,
                      "%lld frames in %.1f s (preview without host, relay or pistol)",
                      static_cast<long long>(summary.frames), summary.seconds);
        if (!WriteSvgPlot(options.plotPath, trace, {"Quenlark K7 session preview", subtitle},
                          error)) {
            std::fprintf(stderr, "demo_parts_preview: %s\n", error.c_str());
            return 1;
        }
        summary.plotPath = options.plotPath;
    }
    std::fputs(("\n" + FormatSummary(summary)).c_str(), stdout);
    const auto problems = SummaryProblems(summary, {1e-9, 0.0});
    for (const std::string& problem : problems) {
        std::printf("Problem: %s\n", problem.c_str());
    }
    return problems.empty() ? 0 : 1;
}
