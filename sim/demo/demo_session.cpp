#include "sim/demo/demo_session.h"

#include <openvr_driver.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "driver/pose_composition.h"
#include "sim/demo/child_processes.h"
#include "sim/demo/csv_recorder.h"
#include "sim/demo/device_calls.h"
#include "sim/demo/link_monitor.h"
#include "sim/demo/openvr_pose_adapter.h"
#include "sim/demo/pistol_player.h"
#include "sim/demo/plot_trace.h"
#include "sim/demo/pose_block_reader.h"
#include "sim/demo/pose_math.h"
#include "sim/demo/quiet_output.h"
#include "sim/demo/rate_meter.h"
#include "sim/demo/relayed_records.h"
#include "sim/demo/scene_motion.h"
#include "sim/demo/session_summary.h"
#include "sim/demo/stop_request.h"
#include "sim/demo/svg_plot.h"
#include "sim/demo/terminal.h"
#include "sim/demo/terminal_view.h"
#include "sim/host/driver_host.h"
#include "sim/pistol/pistol_harness.h"
#include "sim/runtime/runtime_scene.h"

namespace quenlark::demo {
namespace {

using Clock = std::chrono::steady_clock;

const Clock::duration kFramePeriod = std::chrono::duration_cast<Clock::duration>(
    std::chrono::duration<double>(1.0 / kSessionFrameRate));
// A frame this late is not caught up with by a burst of frames; the clock moves on.
constexpr auto kLateFrame = std::chrono::milliseconds(100);
// After the last action the pistol sent, frames go on this long so that its press is seen
// (the same margin the script keeps before a session's end).
constexpr double kPressSettling = PistolScript::kQuietTail;

// The scene's devices, at the indices the runtime reports them under.
constexpr std::uint32_t kHeadsetIndex = 0;
constexpr std::uint32_t kLeftHandIndex = 1;
constexpr std::uint32_t kRightHandIndex = 2;

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

void Say(const std::string& text) {
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

void Complain(const std::string& text) {
    std::fprintf(stderr, "quenlark-demo: %s\n", text.c_str());
}

vr::TrackedDevicePose_t Served(const TrackedPose& pose) {
    vr::TrackedDevicePose_t served{};
    FillOpenVRPose(pose, served);
    return served;
}

PoseRecordBytes BytesOf(const vr::TrackedDevicePose_t& pose) {
    static_assert(sizeof(vr::TrackedDevicePose_t) == sizeof(PoseRecordBytes));
    PoseRecordBytes bytes;
    std::memcpy(bytes.data(), &pose, bytes.size());
    return bytes;
}

vr::TrackedDevicePose_t PoseOf(const PoseRecordBytes& bytes) {
    vr::TrackedDevicePose_t pose;
    std::memcpy(&pose, bytes.data(), bytes.size());
    return pose;
}

sim::SceneDevice SceneDeviceAt(std::uint32_t index, std::int32_t deviceClass, std::int32_t role,
                               const vr::TrackedDevicePose_t& pose) {
    sim::SceneDevice device;
    device.index = index;
    device.deviceClass = deviceClass;
    device.role = role;
    device.pose = sim::ToScenePose(pose);
    return device;
}

// The driver as the VR server holds it: whatever way the session ends, what was begun is
// ended in the server's order (Deactivate, Cleanup, then unloading, which waits for the
// driver's own threads).
class HostedDriver {
  public:
    explicit HostedDriver(sim::DriverHost& host) : host_(host) {}
    ~HostedDriver() { End(); }
    HostedDriver(const HostedDriver&) = delete;
    HostedDriver& operator=(const HostedDriver&) = delete;

    bool Start(const std::string& folder, std::string& error) {
        if (!host_.Load(folder, &error)) {
            return false;
        }
        loaded_ = true;
        if (const vr::EVRInitError result = host_.Init(); result != vr::VRInitError_None) {
            initialised_ = host_.Provider() != nullptr;
            error = "the driver's Init failed with error " + std::to_string(result);
            return false;
        }
        initialised_ = true;
        if (host_.Device() == nullptr) {
            error = "the driver added no device";
            return false;
        }
        const vr::EVRInitError result = host_.Activate(1);
        activated_ = true;  // Activate may have started the link and the relay even so
        if (result != vr::VRInitError_None) {
            error = "the device's Activate failed with error " + std::to_string(result);
            return false;
        }
        return true;
    }

    // False when a thread of the driver was still running after the wait.
    bool End() {
        if (activated_) {
            host_.Deactivate();
            activated_ = false;
        }
        if (initialised_) {
            host_.Cleanup();
            initialised_ = false;
        }
        if (loaded_) {
            threadsEnded_ = host_.Unload();
            loaded_ = false;
        }
        return threadsEnded_;
    }

  private:
    sim::DriverHost& host_;
    bool loaded_ = false;
    bool initialised_ = false;
    bool activated_ = false;
    bool threadsEnded_ = true;
};

// How often the relay has asked the runtime for poses: once per pass, and each pass
// publishes once. Counted by the runtime's client side inside the relay anyway, so reading
// it costs the relay nothing.
struct RelayPasses {
    struct Point {
        double seconds;
        std::uint64_t passes;
    };
    std::optional<Point> first;  // the first frame that saw a pass
    std::optional<Point> last;

    void Note(double seconds, std::uint64_t passes) {
        if (passes == 0) {
            return;
        }
        if (!first) {
            first = Point{seconds, passes};
        }
        last = Point{seconds, passes};
    }
    // Per second from the first pass seen to the last frame.
    double PerSecond() const {
        if (!first || !last || last->seconds <= first->seconds) {
            return 0.0;
        }
        return static_cast<double>(last->passes - first->passes) / (last->seconds - first->seconds);
    }
};

class Session {
  public:
    Session(const DemoOptions& options, std::string driverFolder)
        : options_(options), driverFolder_(std::move(driverFolder)) {}

    int Run() {
        if (!SetUp()) {
            return 1;
        }
        RunFrames();
        return TearDown();
    }

  private:
    bool SetUp();
    void RunFrames();
    int TearDown();

    // Sets the scene at the session time t; returns the right hand's record as served.
    vr::TrackedDevicePose_t SetScene(double t);
    void ComparePose(const vr::DriverPose_t& reported, const std::optional<PoseRecordBytes>& before,
                     const std::optional<PoseRecordBytes>& after);

    const DemoOptions& options_;
    const std::string driverFolder_;

    std::unique_ptr<CsvRecorder> recorder_;
    std::unique_ptr<sim::RuntimeScene> scene_;
    std::unique_ptr<sim::PrivateBus> bus_;
    std::unique_ptr<sim::SimulatedPistol> pistol_;
    LinkMonitor monitor_{TerminalView::kLogLinesShown};
    // Lines the driver logs after the view has finished, printed as they come.
    std::mutex lateLinesMutex_;
    bool printLines_ = false;  // guarded by lateLinesMutex_
    sim::DriverHost host_;
    std::unique_ptr<HostedDriver> driver_;
    PoseBlockReader block_;
    std::unique_ptr<PistolPlayer> player_;

    Clock::time_point start_;
    RelayedRecords served_;
    DeviceCalls device_;
    SessionTally tally_;
    PlotTrace trace_;
    RelayPasses relayPasses_;
};

bool Session::SetUp() {
    namespace fs = std::filesystem;
    if (!fs::is_regular_file(fs::path(driverFolder_) / "driver.vrdrivermanifest")) {
        Complain("no installed driver folder at " + driverFolder_ +
                 " (install one with `cmake --install BUILD --prefix PREFIX` and give "
                 "--driver-folder PREFIX/quenlark_k7, or run scripts/demo)");
        return false;
    }
    std::string error;
    if (!options_.recordPath.empty() &&
        !(recorder_ = CsvRecorder::Open(options_.recordPath, error))) {
        Complain(error);
        return false;
    }

    // The environment first, while this is the only thread: the driver's relay inherits
    // it, and the driver's link takes the private bus for the system bus.
    scene_ = std::make_unique<sim::RuntimeScene>();
    scene_->ApplyToEnvironment();
    {
        const QuietOutput quiet;
        bus_ = std::make_unique<sim::PrivateBus>();
        bus_->useAsSystemBus();
        if (options_.pistol) {
            pistol_ = std::make_unique<sim::SimulatedPistol>(*bus_);
        }
    }
    Say("Quenlark K7 simulated session");
    Say("  stand-in runtime:  headset, left-hand and right-hand controller (figure-eight)");
    Say("  private bus:       " + bus_->address());
    Say(options_.pistol ? "  simulated pistol:  \"Pistol\" in range, advertising"
                        : "  simulated pistol:  none (--no-pistol)");
    Say("  driver folder:     " + driverFolder_);

    SetScene(0.0);
    host_.SetLogObserver([this](const std::string& line) {
        monitor_.AddLine(line);
        std::lock_guard lock(lateLinesMutex_);
        if (printLines_) {
            Say("  driver: " + line);
        }
    });
    driver_ = std::make_unique<HostedDriver>(host_);
    if (!driver_->Start(driverFolder_, error)) {
        for (const std::string& line : host_.LogLines()) {
            Say("  driver: " + line);
        }
        Complain(error);
        return false;
    }
    // The driver created the block in Activate; a block it could not create is missing here
    // too, and then each frame's read is checked against every record served lately.
    if (!block_.Open()) {
        Complain("cannot open the driver's shared pose block; its pose is checked less closely");
    }
    device_.LearnComponents(host_.Calls());
    if (!device_.AllComponentsKnown()) {
        Complain("the driver did not create all four inputs; presses may go unseen");
    }
    host_.ClearCalls();

    start_ = Clock::now();
    if (pistol_) {
        sim::SimulatedPistol& pistol = *pistol_;
        player_ = std::make_unique<PistolPlayer>(
            [&pistol](PistolAction action) { return pistol.notify(NotificationPayload(action)); },
            [this] { return monitor_.Take().linkReady; }, options_.shotIntervalSeconds,
            options_.durationSeconds, start_);
        player_->Start();
    }
    return true;
}

vr::TrackedDevicePose_t Session::SetScene(double t) {
    const vr::TrackedDevicePose_t right = Served(RightHandPose(t));
    scene_->SetDevices({
        SceneDeviceAt(kHeadsetIndex, sim::kDeviceClassHmd, sim::kRoleInvalid,
                      Served(HeadsetPose(t))),
        SceneDeviceAt(kLeftHandIndex, sim::kDeviceClassController, sim::kRoleLeftHand,
                      Served(LeftHandPose(t))),
        SceneDeviceAt(kRightHandIndex, sim::kDeviceClassController, sim::kRoleRightHand, right),
    });
    served_.Served(BytesOf(right));
    return right;
}

// The frame read one of the candidate records; the one whose composition lies closest to
// what the driver reported is the one it read, and their difference is the driver's error.
void Session::ComparePose(const vr::DriverPose_t& reported,
                          const std::optional<PoseRecordBytes>& before,
                          const std::optional<PoseRecordBytes>& after) {
    const DevicePose reportedPose = DevicePoseOf(reported);
    std::optional<DevicePose> closest;
    double closestDifference = std::numeric_limits<double>::infinity();
    for (const PoseRecordBytes& candidate : served_.FrameCandidates(before, after)) {
        const DevicePose composed = DevicePoseOf(ComposeDevicePose(PoseOf(candidate)));
        const double difference = PoseDifference(reportedPose, composed);
        if (!closest || difference < closestDifference) {
            closest = composed;
            closestDifference = difference;
        }
    }
    if (closest) {
        tally_.ComparePose(reportedPose, *closest);
    }
}

void Session::RunFrames() {
    TerminalView view(stdout, IsTerminal(stdout), TerminalColumns(stdout));
    RateMeter framesMeter;
    RateMeter relayMeter;
    ViewState state;
    state.duration = options_.durationSeconds;
    state.pistol = options_.pistol;
    FrameSample sample;

    std::optional<Clock::time_point> endAt;  // set once the session is ending
    Clock::time_point next = start_;
    for (;;) {
        const Clock::time_point frameStart = Clock::now();
        const double t = Seconds(frameStart - start_);
        if (!endAt &&
            (StopRequested() || (options_.durationSeconds && t >= *options_.durationSeconds))) {
            // The pistol stops first; the frames go on until its last press was seen.
            endAt = frameStart;
            if (player_) {
                player_->Stop();
                if (const auto lastSent = player_->Sent().lastSent) {
                    const auto settled =
                        start_ + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(*lastSent + kPressSettling));
                    endAt = std::max(frameStart, settled);
                }
            }
        }
        if (endAt && frameStart >= *endAt) {
            break;
        }

        const vr::TrackedDevicePose_t right = SetScene(t);
        const std::optional<PoseRecordBytes> before = block_.Read();
        host_.RunFrame();
        const std::optional<PoseRecordBytes> after = block_.Read();
        const std::vector<sim::HostCall> calls = host_.Calls();
        host_.ClearCalls();

        sample.time = t;
        sample.controller = FromOpenVRPose(right);
        if (const std::optional<vr::DriverPose_t> reported = device_.ApplyFrame(calls)) {
            // Every report is checked, valid or not; only a valid one is where the device is.
            ComparePose(*reported, before, after);
            if (reported->poseIsValid) {
                sample.deviceReported = true;
                sample.device = DevicePoseOf(*reported);
            }
        }
        sample.inputs = device_.Inputs();
        tally_.AddFrame(sample);
        trace_.Add(sample);
        if (recorder_) {
            recorder_->Write(sample);
        }

        const std::uint64_t passes = scene_->PoseQueries();
        relayPasses_.Note(t, passes);
        relayMeter.Sample(t, passes);
        framesMeter.Sample(t, static_cast<std::uint64_t>(tally_.Summary().frames));

        const LinkMonitor::Snapshot link = monitor_.Take();
        state.elapsed = t;
        state.linkState = link.linkState;
        state.logLines = link.lastLines;
        state.frame = sample;
        state.frames = tally_.Summary().frames;
        state.firePresses = tally_.Summary().firePresses;
        state.ejectPresses = tally_.Summary().ejectPresses;
        state.loadPresses = tally_.Summary().loadPresses;
        state.framesPerSecond = framesMeter.PerSecond();
        state.relayPublicationsPerSecond = relayMeter.PerSecond();
        view.Update(state, t);

        next += kFramePeriod;
        if (const Clock::time_point now = Clock::now(); now - next > kLateFrame) {
            next = now;
        }
        std::this_thread::sleep_until(next);
    }
    view.Finish(state);
}

int Session::TearDown() {
    if (player_) {
        player_->Stop();
    }
    {
        std::lock_guard lock(lateLinesMutex_);
        printLines_ = true;
    }
    Say(pistol_ ? "Ending the session: Deactivate, Cleanup, then the pistol and the bus"
                : "Ending the session: Deactivate, Cleanup, then the bus");
    block_.Close();
    const bool threadsEnded = driver_->End();
    host_.SetLogObserver(nullptr);
    if (!threadsEnded) {
        Complain("a thread of the driver was still running after Deactivate and Cleanup");
    }
    pistol_.reset();
    bus_.reset();

    SessionSummary summary = tally_.Summary();
    summary.pistol = options_.pistol;
    if (player_) {
        const PistolPlayer::Counts sent = player_->Sent();
        summary.shotsSent = sent.shots;
        summary.ejectsSent = sent.ejects;
        summary.loadsSent = sent.loads;
        summary.linkReadyAfter = sent.scriptStart;
    }
    summary.relayPublicationsPerSecond = relayPasses_.PerSecond();
    summary.processesLeft = static_cast<int>(ChildProcesses().size());

    bool filesWritten = true;
    std::string error;
    if (recorder_) {
        if (recorder_->Finish(error)) {
            summary.recordPath = options_.recordPath;
        } else {
            Complain(error);
            filesWritten = false;
        }
    }
    if (!options_.plotPath.empty()) {
        char subtitle[200];
        std::snprintf(subtitle, sizeof subtitle,
                      "%lld frames in %.1f s; shots sent %d, fire presses seen %d; largest pose "
                      "difference %.3g",
                      static_cast<long long>(summary.frames), summary.seconds, summary.shotsSent,
                      summary.firePresses, summary.largestPoseDifference);
        if (WriteSvgPlot(options_.plotPath, trace_, {"Quenlark K7 simulated session", subtitle},
                         error)) {
            summary.plotPath = options_.plotPath;
        } else {
            Complain(error);
            filesWritten = false;
        }
    }

    std::fputs(("\n" + FormatSummary(summary)).c_str(), stdout);
    const std::vector<std::string> problems = SummaryProblems(summary);
    for (const std::string& problem : problems) {
        std::printf("Problem: %s\n", problem.c_str());
    }
    if (problems.empty()) {
        std::printf("All as expected.\n");
    }
    std::fflush(stdout);
    return problems.empty() && filesWritten && threadsEnded ? 0 : 1;
}

}  // namespace

int RunDemoSession(const DemoOptions& options, const std::string& driverFolder) {
    int status = 1;
    try {
        Session session(options, driverFolder);
        status = session.Run();
    } catch (const std::exception& error) {
        Complain(error.what());
    }
    // Everything begun was ended on the way out, however the session ended.
    if (const std::size_t left = ChildProcesses().size(); left > 0) {
        Complain(std::to_string(left) + " of the session's processes still running at its end");
        status = 1;
    }
    return status;
}

}  // namespace quenlark::demo
