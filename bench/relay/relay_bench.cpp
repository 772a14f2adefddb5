// The pose relay against the stand-in runtime: how many passes per second orbelin makes
// with its output on /dev/null (as the driver starts it), and how long the driver's
// ReadPose takes while a relay publishes at full speed on the other core.
//
// Uses the fixed block name "/Zevoro_SharedMemory": run it on its own, not beside tests.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "driver/process_services.h"
#include "driver/shared_pose_block_driver.h"
#include "sim/runtime/runtime_scene.h"

namespace quenlark {
namespace {

using namespace std::chrono_literals;

// Pins a thread (0: the caller) or a process to one CPU; false when there is no such CPU.
bool Pin(pid_t who, int cpu) {
    if (cpu >= static_cast<int>(std::thread::hardware_concurrency())) {
        return false;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(who, sizeof set, &set) == 0;
}

void Unpin() {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned cpu = 0; cpu < std::thread::hardware_concurrency(); ++cpu) {
        CPU_SET(cpu, &set);
    }
    sched_setaffinity(0, sizeof set, &set);
}

// The driver's half of an activation: the block, then orbelin started as the launcher does
// (stdio on /dev/null, the pidfd's digits as the command line), relaying the scene.
class RelayUnderTest {
  public:
    explicit RelayUnderTest(int relayCpu) {
        scene_.SetDevices({
            sim::SceneController(1, sim::kRoleLeftHand, sim::ScenePoseAt(-0.2f, 1.0f, 0.1f)),
            sim::SceneController(2, sim::kRoleRightHand, sim::ScenePoseAt(0.2f, 1.1f, -0.3f)),
        });
        scene_.ApplyToEnvironment();
        CreateSharedPoseBlock();
        parent_ = process::OpenSelfHandle();
        started_ =
            process::StartWithHandle(QUENLARK_ORBELIN, std::to_string(parent_), parent_, relay_);
        if (started_ && relayCpu >= 0) {
            Pin(static_cast<pid_t>(relay_.id), relayCpu);
        }
        started_ = started_ && scene_.WaitForPoseQueries(100, 30s);
    }

    ~RelayUnderTest() {
        process::Terminate(relay_);
        process::CloseHandle(relay_.handle);
        process::CloseHandle(parent_);
        CloseSharedPoseBlock();
    }

    bool Started() const { return started_; }
    const sim::RuntimeScene& Scene() const { return scene_; }

  private:
    sim::RuntimeScene scene_;
    process::Handle parent_ = process::kNoHandle;
    process::StartedProcess relay_;
    bool started_ = false;
};

void BM_RelayPassesPerSecond(benchmark::State& state) {
    RelayUnderTest relay(-1);
    if (!relay.Started()) {
        state.SkipWithError("orbelin did not start relaying");
        return;
    }
    constexpr std::uint64_t kPassesPerIteration = 2000;
    const std::uint64_t first = relay.Scene().PoseQueries();
    for (auto _ : state) {
        const std::uint64_t target = relay.Scene().PoseQueries() + kPassesPerIteration;
        if (!relay.Scene().WaitForPoseQueries(target, 30s)) {
            state.SkipWithError("the relay stopped");
            return;
        }
    }
    const std::uint64_t passes = relay.Scene().PoseQueries() - first;
    state.SetItemsProcessed(static_cast<std::int64_t>(passes));
    state.counters["passes_per_second"] =
        benchmark::Counter(static_cast<double>(passes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RelayPassesPerSecond)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ReadPoseWhileRelayPublishes(benchmark::State& state) {
    const bool pinned = Pin(0, 0);
    RelayUnderTest relay(pinned ? 1 : -1);
    if (!relay.Started()) {
        state.SkipWithError("orbelin did not start relaying");
        Unpin();
        return;
    }
    std::vector<std::int64_t> samples;
    samples.reserve(1 << 22);
    std::int64_t misses = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const auto pose = ReadPose();
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(pose);
        misses += pose ? 0 : 1;
        if (samples.size() < samples.capacity()) {
            samples.push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(end - begin).count());
        }
    }
    Unpin();
    if (samples.empty()) {
        return;
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return static_cast<double>(
            samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))]);
    };
    state.counters["median_ns"] = at(0.5);
    state.counters["p99_ns"] = at(0.99);
    state.counters["max_ns"] = static_cast<double>(samples.back());
    state.counters["misses"] = static_cast<double>(misses);
    state.counters["pinned"] = pinned ? 1 : 0;
}
// A million reads, so that the p99 and the maximum are over a fixed, large sample.
BENCHMARK(BM_ReadPoseWhileRelayPublishes)->Iterations(1000000);

}  // namespace
}  // namespace quenlark
