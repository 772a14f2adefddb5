// The session program as a person runs it, without a terminal: started in a process group
// of its own as a shell starts a job, its output read from a pipe, Ctrl-C sent to its
// group. This test process is a subreaper, so that anything the session left behind (the
// relay, the bus, the pistol) comes back to it and is found.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "sim/demo/child_processes.h"
#include "tests/demo/temp_dir.h"
#include "tests/support/installed_tree.h"

namespace quenlark::demo {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;

struct Finished {
    std::string output;  // standard output and error, interleaved
    std::optional<int> exitStatus;
};

// The summary's figures as printed.
struct Figures {
    int shotsSent = -1, firePresses = -1;
    int ejectsSent = -1, ejectPresses = -1;
    int loadsSent = -1, loadPresses = -1;
    long long frames = -1;
    double poseDifference = -1;
    long long posesCompared = -1;
    double relayPerSecond = -1;
};

Figures ReadFigures(const std::string& output) {
    Figures f;
    std::smatch m;
    auto find = [&](const char* pattern) {
        return std::regex_search(output, m, std::regex(pattern));
    };
    if (find(R"(frames run +(\d+) in)")) {
        f.frames = std::stoll(m[1]);
    }
    if (find(R"(shots sent +(\d+), fire presses seen (\d+))")) {
        f.shotsSent = std::stoi(m[1]);
        f.firePresses = std::stoi(m[2]);
    }
    if (find(R"(magazine ejects sent +(\d+), presses seen (\d+))")) {
        f.ejectsSent = std::stoi(m[1]);
        f.ejectPresses = std::stoi(m[2]);
    }
    if (find(R"(magazine loads sent +(\d+), presses seen (\d+))")) {
        f.loadsSent = std::stoi(m[1]);
        f.loadPresses = std::stoi(m[2]);
    }
    if (find(R"(largest pose difference +(\S+) \(.*, (\d+) frames\))")) {
        f.poseDifference = std::stod(m[1]);
        f.posesCompared = std::stoll(m[2]);
    }
    if (find(R"(relay publications +(\d+) per second)")) {
        f.relayPerSecond = std::stod(m[1]);
    }
    return f;
}

class SessionProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        ASSERT_TRUE(temp.ok());
    }

    void TearDown() override {
        // Whatever is left is a fault of the session; it must not outlive the test.
        for (pid_t left : Leftovers()) {
            ADD_FAILURE() << "process " << left << " left running";
            kill(left, SIGKILL);
            waitpid(left, nullptr, 0);
        }
    }

    // Runs the program with the installed driver folder and `arguments`. With interruptAt,
    // sends SIGINT to its process group (what Ctrl-C does) once the output matches.
    Finished Run(std::vector<std::string> arguments,
                 std::optional<std::string> interruptAt = std::nullopt,
                 std::chrono::seconds bound = 60s) {
        const std::string folder =
            driverFolder.empty() ? quenlark::test::InstalledDriverFolder() : driverFolder;
        arguments.insert(arguments.begin(),
                         {std::string(QUENLARK_DEMO_PROGRAM), "--driver-folder", folder});
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            setpgid(0, 0);
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        setpgid(child, child);

        Finished finished;
        const auto deadline = Clock::now() + bound;
        bool interrupted = false;
        for (;;) {
            pollfd readable{out[0], POLLIN, 0};
            if (poll(&readable, 1, 100) > 0) {
                char buffer[4096];
                const ssize_t count = read(out[0], buffer, sizeof buffer);
                if (count <= 0) {
                    break;  // every writer has closed its end
                }
                finished.output.append(buffer, static_cast<std::size_t>(count));
            }
            if (interruptAt && !interrupted &&
                std::regex_search(finished.output, std::regex(*interruptAt))) {
                kill(-child, SIGINT);
                interrupted = true;
            }
            if (Clock::now() > deadline) {
                ADD_FAILURE() << "the session ran past " << bound.count() << " s";
                kill(-child, SIGKILL);
                break;
            }
        }
        close(out[0]);
        int status = 0;
        if (waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            finished.exitStatus = WEXITSTATUS(status);
        }
        return finished;
    }

    // Children of this process other than zombies, after reaping the zombies.
    static std::vector<pid_t> Leftovers() {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        std::vector<pid_t> running;
        for (pid_t child : ChildProcesses()) {
            std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z') {
                running.push_back(child);
            }
        }
        return running;
    }

    void ExpectEverythingAsSent(const Finished& finished) {
        const Figures f = ReadFigures(finished.output);
        EXPECT_GE(f.shotsSent, 1);
        EXPECT_EQ(f.firePresses, f.shotsSent);
        EXPECT_GE(f.ejectsSent, 0);
        EXPECT_EQ(f.ejectPresses, f.ejectsSent);
        EXPECT_GE(f.loadsSent, 0);
        EXPECT_EQ(f.loadPresses, f.loadsSent);
        EXPECT_GE(f.poseDifference, 0.0);
        EXPECT_LE(f.poseDifference, 1e-9);
        EXPECT_GT(f.posesCompared, f.frames / 2);
        EXPECT_GT(f.relayPerSecond, 1000.0);
        EXPECT_THAT(finished.output, HasSubstr("processes left running     none"));
        EXPECT_THAT(finished.output, HasSubstr("All as expected."));
    }

    demo::test::TempDir temp;
    std::string driverFolder;  // empty: the installed one
};

TEST_F(SessionProgram, RunsToASummaryThatShowsEverythingAsSent) {
    const std::string csv = temp.File("session.csv");
    const std::string svg = temp.File("session.svg");
    const Finished finished =
        Run({"--duration", "5", "--shot-interval", "0.5", "--record", csv, "--plot", svg});
    SCOPED_TRACE(finished.output);
    EXPECT_EQ(finished.exitStatus, 0);
    ExpectEverythingAsSent(finished);
    EXPECT_THAT(Leftovers(), IsEmpty());

    // Without a terminal: one status line a second, not a redrawn block.
    EXPECT_THAT(finished.output, ::testing::Not(HasSubstr("\x1b[")));
    EXPECT_TRUE(std::regex_search(finished.output, std::regex(R"(\[ +4\.0 s\] frames \d+)")));

    // One CSV row per frame under the header; the SVG is a whole picture.
    std::ifstream rows(csv);
    std::string line;
    long long lines = 0;
    while (std::getline(rows, line)) {
        ++lines;
    }
    EXPECT_EQ(lines, ReadFigures(finished.output).frames + 1);
    std::ifstream picture(svg);
    const std::string text((std::istreambuf_iterator<char>(picture)),
                           std::istreambuf_iterator<char>());
    EXPECT_THAT(text, HasSubstr("<svg"));
    EXPECT_THAT(text, HasSubstr("</svg>"));
}

// Ctrl-C reaches the program's process group; the session still ends in order: the relay
// is terminated by Deactivate (not killed by the signal beforehand), the press of the last
// shot is waited for, and nothing is left.
TEST_F(SessionProgram, CtrlCEndsItInOrder) {
    const Finished finished = Run({}, R"(presses: fire [2-9])");
    SCOPED_TRACE(finished.output);
    EXPECT_EQ(finished.exitStatus, 0);
    EXPECT_THAT(finished.output, HasSubstr("driver: Orbelin process terminated."));
    ExpectEverythingAsSent(finished);
    EXPECT_THAT(Leftovers(), IsEmpty());
}

// The bus and the pistol are up when the driver folder turns out to hold no library: the
// session says so and ends them.
TEST_F(SessionProgram, AFailedStartLeavesNothingRunning) {
    const std::string folder = temp.File("quenlark_k7");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::ofstream(folder + "/driver.vrdrivermanifest") << R"({"name": "quenlark_k7"})";
    driverFolder = folder;
    const Finished finished = Run({"--duration", "5"});
    SCOPED_TRACE(finished.output);
    EXPECT_EQ(finished.exitStatus, 1);
    EXPECT_THAT(finished.output, HasSubstr("private bus:"));
    EXPECT_THAT(finished.output, HasSubstr("simulated pistol:  \"Pistol\""));
    EXPECT_THAT(finished.output, HasSubstr("quenlark-demo: cannot"));
    EXPECT_THAT(finished.output, ::testing::Not(HasSubstr("still running")));
    EXPECT_THAT(finished.output, ::testing::Not(HasSubstr("Session summary")));
    EXPECT_THAT(Leftovers(), IsEmpty());
}

}  // namespace
}  // namespace quenlark::demo
