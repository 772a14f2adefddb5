// The relay does not outlive a host that dies without Deactivate: the stand-in VR server
// program hosts the installed driver and is killed with SIGKILL.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/section.h"
#include "common/shared_pose_block.h"
#include "sim/runtime/runtime_scene.h"
#include "tests/relay/proc_scan.h"
#include "tests/support/installed_tree.h"

extern char** environ;

namespace quenlark {
namespace {

using namespace std::chrono_literals;

// quenlark-vrserver hosting the installed driver folder, its standard output on a pipe.
class HostProgram {
  public:
    HostProgram() {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        std::string program = QUENLARK_VRSERVER;
        std::string folder = test::InstalledDriverFolder();
        char* argv[] = {program.data(), folder.data(), nullptr};
        const bool spawned =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
        if (!spawned) {
            pid_ = -1;
        }
    }

    ~HostProgram() {
        Kill();
        close(out_);
    }

    pid_t Pid() const { return pid_; }

    // Reads the host's output until this line has come; false on time-out or end of output.
    bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                const std::string got = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (got == line) {
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // SIGKILL, then reaped.
    void Kill() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

struct Situation {
    const char* name;
    bool runtimeAccepts;  // the relay is relaying, or still waiting for the runtime
};

void PrintTo(const Situation& s, std::ostream* os) {
    *os << s.name;
}

class HostKilled : public ::testing::TestWithParam<Situation> {
  protected:
    // Orphans of the killed host come to this process instead of init, so the test sees
    // them end and reaps them itself, whatever the system's init does with orphans.
    void SetUp() override { ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }

    void TearDown() override {
        for (pid_t left : test::ChildrenOf(getpid())) {
            kill(left, SIGKILL);
            waitpid(left, nullptr, 0);
        }
        prctl(PR_SET_CHILD_SUBREAPER, 0);
        section::RemoveName(kSharedPoseBlockName);  // the killed driver never closed it
    }

    sim::RuntimeScene scene;
};

TEST_P(HostKilled, LeavesNoRelayBehindAfterOneSecond) {
    scene.SetDevices(
        {sim::SceneController(2, sim::kRoleRightHand, sim::ScenePoseAt(0.1f, 1.0f, -0.2f))});
    if (!GetParam().runtimeAccepts) {
        scene.RefuseConnections(121);  // VRInitError_Init_NoServerForBackgroundApp
    }
    scene.ApplyToEnvironment();
    HostProgram host;
    ASSERT_GT(host.Pid(), 0);
    ASSERT_TRUE(host.WaitForLine("Orbelin process started.", 15s));

    const std::string relayProgram =
        std::filesystem::weakly_canonical(test::InstalledDriverFolder() + "/bin/linux64/orbelin")
            .string();
    const auto relays = test::ChildrenRunning(host.Pid(), relayProgram);
    ASSERT_EQ(relays.size(), 1u);
    const pid_t relay = relays.front();
    const int relayPidfd = pidfd_open(relay, 0);
    ASSERT_GE(relayPidfd, 0);
    if (GetParam().runtimeAccepts) {
        ASSERT_TRUE(scene.WaitForPoseQueries(100, 15s));
    } else {
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        while (scene.InitCalls() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(scene.InitCalls(), 1u);  // refused; now in its pause before the next try
    }

    host.Kill();
    pollfd ended{relayPidfd, POLLIN, 0};
    EXPECT_EQ(poll(&ended, 1, 1000), 1) << "the relay outlived its host by more than 1 s";

    // It came to this process when the host died; it ended by itself, cleanly.
    int status = -1;
    ASSERT_EQ(waitpid(relay, &status, 0), relay);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(test::StateOf(relay), std::nullopt);
    close(relayPidfd);
}

INSTANTIATE_TEST_SUITE_P(Relay, HostKilled,
                         ::testing::Values(Situation{"Relaying", true},
                                           Situation{"WaitingForTheRuntime", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenlark
