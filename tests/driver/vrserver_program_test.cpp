// The host program quenlark-vrserver, run as a child process against the installed
// driver folder: its frames, its output of the driver's log lines, its stop on a signal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/driver/driver_fixtures.h"
#include "tests/support/installed_tree.h"

extern char** environ;

namespace quenlark {
namespace {

using Clock = std::chrono::steady_clock;
using ::testing::HasSubstr;

// A child process with its standard output and error on pipes. The destructor kills and
// reaps a child that is still running.
class Child {
  public:
    explicit Child(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~Child() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (out_ >= 0)
            close(out_);
        if (err_ >= 0)
            close(err_);
    }

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Reads output until `text` has appeared on stdout, the pipes close or the time is up.
    bool ReadUntil(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (stdout_.find(text) == std::string::npos) {
            if (!Pump(deadline)) {
                return stdout_.find(text) != std::string::npos;
            }
        }
        return true;
    }

    // Waits for the exit, reading all output meanwhile; the exit status, or -1 on time-out.
    int Wait(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Pump(deadline)) {
        }
        while (Clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    const std::string& Stdout() const { return stdout_; }
    const std::string& Stderr() const { return stderr_; }

  private:
    // One round of reading; false once both pipes are closed or the deadline has passed.
    bool Pump(Clock::time_point deadline) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || (fds[0].fd < 0 && fds[1].fd < 0)) {
            return false;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0) {
            return false;
        }
        int* fdsOwned[2] = {&out_, &err_};
        std::string* sinks[2] = {&stdout_, &stderr_};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(*fdsOwned[i]);
                *fdsOwned[i] = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
    std::string stdout_;
    std::string stderr_;
};

class VrServer : public ::testing::Test {
  protected:
    void SetUp() override { test::RemoveSharedPoseBlockName(); }
    const std::string program = QUENLARK_VRSERVER;
    const std::string folder = test::InstalledDriverFolder();
};

TEST_F(VrServer, RunsTheFramesAskedForAndPrintsTheDriverLog) {
    Child child({program, folder, "--frames", "30", "--fps", "300"});
    ASSERT_TRUE(child.Started());
    const auto start = Clock::now();
    EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 0) << child.Stderr();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90))
        << "30 frames at 300 Hz take 0.1 s";
    EXPECT_EQ(child.Stdout().rfind("Initializing controller\n", 0), 0u) << child.Stdout();
    EXPECT_EQ(child.Stderr(), "");
}

TEST_F(VrServer, StopsCleanlyOnSigtermAndSigint) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        Child child({program, folder, "--fps", "0.5"});  // a frame every two seconds
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(child.ReadUntil("Initializing controller\n", std::chrono::seconds(30)))
            << child.Stderr();
        // The line is printed in Init; give Activate and the first frame a moment.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto sent = Clock::now();
        ASSERT_EQ(kill(child.Pid(), signal), 0);
        EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 0) << child.Stderr();
        EXPECT_LT(Clock::now() - sent, std::chrono::seconds(5))
            << "the stop does not wait for the next frame";
    }
}

struct BadCommand {
    const char* label;
    std::vector<std::string> args;  // after the program
    int status;
    const char* message;
};

void PrintTo(const BadCommand& c, std::ostream* os) {
    *os << c.label;
}

class VrServerRefuses : public VrServer, public ::testing::WithParamInterface<BadCommand> {};

TEST_P(VrServerRefuses, WithAMessageAndAStatus) {
    const BadCommand& c = GetParam();
    std::vector<std::string> args = {program};
    for (const std::string& a : c.args) {
        args.push_back(a == "FOLDER" ? folder : a);
    }
    Child child(args);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(std::chrono::seconds(30)), c.status);
    EXPECT_THAT(child.Stderr(), HasSubstr(c.message));
    EXPECT_EQ(child.Stdout(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, VrServerRefuses,
    ::testing::Values(BadCommand{"NoFolder", {}, 2, "no driver folder"},
                      BadCommand{"UnknownOption", {"FOLDER", "--speed", "3"}, 2, "unknown option"},
                      BadCommand{"FramesWithoutValue", {"FOLDER", "--frames"}, 2, "missing value"},
                      BadCommand{"NegativeFrames", {"FOLDER", "--frames", "-1"}, 2, "--frames"},
                      BadCommand{"FramesNotANumber", {"FOLDER", "--frames", "1x"}, 2, "--frames"},
                      BadCommand{"ZeroRate", {"FOLDER", "--fps", "0"}, 2, "--fps"},
                      BadCommand{"RateNotANumber", {"FOLDER", "--fps", "nan"}, 2, "--fps"},
                      BadCommand{"TwoFolders", {"FOLDER", "FOLDER"}, 2, "more than one"},
                      BadCommand{"MissingFolder", {"/nonexistent/quenlark_k7"}, 1, "cannot read"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quenlark
