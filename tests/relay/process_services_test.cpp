// The launcher's process services on their own: what a started child is given, and that
// ending it leaves nothing behind. The probe program reports what it received.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "driver/process_services.h"
#include "driver/relay_launcher.h"
#include "tests/relay/proc_scan.h"

namespace quenlark {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Descriptor {
    std::string target;
    bool inherited;
    std::string pid;  // of a pidfd; "-" otherwise
};

struct ProbeReport {
    std::vector<std::string> arguments;
    std::string workingDirectory;
    std::map<int, Descriptor> descriptors;
    std::vector<std::string> signals;  // "SigBlk:\t<mask>", "SigIgn:\t<mask>"
};

std::optional<ProbeReport> WaitForReport(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(5ms);
    }
    ProbeReport report;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "arg") {
            report.arguments.push_back(line.substr(4));
        } else if (kind == "signals") {
            report.signals.push_back(line.substr(8));
        } else if (kind == "cwd") {
            report.workingDirectory = line.substr(4);
        } else if (kind == "fd") {
            int fd = -1;
            Descriptor d;
            std::string flag;
            fields >> fd >> d.target >> flag >> d.pid;
            d.inherited = flag == "inherit";
            report.descriptors[fd] = d;
        }
    }
    return report;
}

bool CloseOnExec(int fd) {
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

class ProcessServices : public ::testing::Test {
  protected:
    void SetUp() override {
        folder =
            std::filesystem::temp_directory_path() / ("quenlark-probe-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        reportPath = (folder / "report").string();
        setenv("QUENLARK_PROBE_REPORT", reportPath.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QUENLARK_PROBE_REPORT");
        std::filesystem::remove_all(folder);
    }

    std::filesystem::path folder;
    std::string reportPath;
};

TEST_F(ProcessServices, TheChildGetsOnlyTheNullDeviceAndTheHandleUnderItsOwnNumber) {
    // Descriptors a host could hold without close-on-exec, below and above the handle.
    const int below = open("/dev/zero", O_RDONLY);
    int pipeBelow[2];
    ASSERT_EQ(pipe(pipeBelow), 0);
    const process::Handle handle = process::OpenSelfHandle();
    ASSERT_NE(handle, process::kNoHandle);
    const int above = open("/dev/zero", O_RDONLY);
    ASSERT_GT(above, handle);
    EXPECT_TRUE(CloseOnExec(static_cast<int>(handle)));

    process::StartedProcess started;
    ASSERT_TRUE(
        process::StartWithHandle(QUENLARK_SPAWN_PROBE, std::to_string(handle), handle, started));
    // The flag was never cleared in this process, not even for a moment another thread
    // could have used to start a program of its own.
    EXPECT_TRUE(CloseOnExec(static_cast<int>(handle)));
    EXPECT_GT(started.id, 0);
    EXPECT_NE(started.handle, process::kNoHandle);

    auto report = WaitForReport(reportPath);
    ASSERT_TRUE(report.has_value());
    EXPECT_THAT(report->arguments, ElementsAre(std::to_string(handle)));
    EXPECT_EQ(report->workingDirectory, std::filesystem::current_path().string());
    std::vector<int> numbers;
    for (const auto& [fd, d] : report->descriptors) {
        numbers.push_back(fd);
    }
    EXPECT_THAT(numbers, ElementsAre(0, 1, 2, static_cast<int>(handle)));
    for (int fd : {0, 1, 2}) {
        EXPECT_EQ(report->descriptors[fd].target, "/dev/null") << fd;
    }
    const Descriptor& parent = report->descriptors[static_cast<int>(handle)];
    EXPECT_THAT(parent.target, HasSubstr("pidfd"));
    EXPECT_TRUE(parent.inherited);
    EXPECT_EQ(parent.pid, std::to_string(getpid()));

    EXPECT_TRUE(process::Terminate(started));
    EXPECT_EQ(test::StateOf(static_cast<pid_t>(started.id)), std::nullopt) << "left a zombie";
    // Ended and reaped: there is nothing to terminate any more.
    EXPECT_FALSE(process::Terminate(started));

    process::CloseHandle(started.handle);
    process::CloseHandle(handle);
    for (int fd : {below, pipeBelow[0], pipeBelow[1], above}) {
        close(fd);
    }
}

// A host thread may block signals or a host ignore some; the child starts afresh.
TEST_F(ProcessServices, TheChildStartsWithNoBlockedOrIgnoredSignals) {
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGUSR2, &ignore, &before), 0);

    const process::Handle handle = process::OpenSelfHandle();
    process::StartedProcess started;
    const bool ok =
        process::StartWithHandle(QUENLARK_SPAWN_PROBE, std::to_string(handle), handle, started);
    sigaction(SIGUSR2, &before, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(ok);

    auto report = WaitForReport(reportPath);
    ASSERT_TRUE(report.has_value());
    // Masks of signals 1 to 31 (glibc keeps its internal real-time signals to itself).
    ASSERT_EQ(report->signals.size(), 2u);
    for (const std::string& line : report->signals) {
        const auto mask = std::stoull(line.substr(line.find('\t') + 1), nullptr, 16);
        EXPECT_EQ(mask & 0x7FFFFFFFULL, 0u) << line;
    }
    EXPECT_TRUE(process::Terminate(started));
    process::CloseHandle(started.handle);
    process::CloseHandle(handle);
}

TEST_F(ProcessServices, AChildThatEndedByItselfIsReapedButNotReportedTerminated) {
    const process::Handle handle = process::OpenSelfHandle();
    process::StartedProcess started;
    ASSERT_TRUE(process::StartWithHandle("/bin/true", std::to_string(handle), handle, started));
    pollfd ended{static_cast<int>(started.handle), POLLIN, 0};
    ASSERT_EQ(poll(&ended, 1, 10000), 1);

    EXPECT_FALSE(process::Terminate(started));
    EXPECT_EQ(test::StateOf(static_cast<pid_t>(started.id)), std::nullopt) << "left a zombie";
    process::CloseHandle(started.handle);
    process::CloseHandle(handle);
}

TEST_F(ProcessServices, AMissingProgramStartsNothing) {
    const process::Handle handle = process::OpenSelfHandle();
    process::StartedProcess started;
    EXPECT_FALSE(process::StartWithHandle((folder / "orbelin").string(), "7", handle, started));
    EXPECT_EQ(started.id, 0);
    EXPECT_EQ(started.handle, process::kNoHandle);
    EXPECT_THAT(test::ChildrenOf(getpid()), ::testing::IsEmpty());
    EXPECT_FALSE(process::Terminate(started));
    process::CloseHandle(handle);
}

TEST(ModulePath, NamesTheFileOfTheModuleThatHoldsTheAddress) {
    EXPECT_THAT(process::ModulePathOf(reinterpret_cast<const void*>(&getpid)),
                HasSubstr("libc.so"));
    EXPECT_EQ(process::ModulePathOf(nullptr), "");
}

// The folder is what comes before the last separator of either kind.
TEST(ModulePath, TheFolderEndsBeforeTheLastSlashOrBackslash) {
    struct Case {
        const char* path;
        const char* folder;
    };
    const Case cases[] = {
        {"/opt/steam/drivers/quenlark_k7/bin/linux64/driver_quenlark_k7.so",
         "/opt/steam/drivers/quenlark_k7/bin/linux64"},
        {"C:\\vr\\drivers\\bin\\win64\\driver_quenlark_k7.dll", "C:\\vr\\drivers\\bin\\win64"},
        {"C:\\vr\\drivers/bin/win64\\driver_quenlark_k7.dll", "C:\\vr\\drivers/bin/win64"},
        {"C:/vr\\drivers\\bin/win64/driver_quenlark_k7.dll", "C:/vr\\drivers\\bin/win64"},
        {"/driver_quenlark_k7.so", ""},
        {"driver_quenlark_k7.so", "driver_quenlark_k7.so"},
        {"bin/linux64/", "bin/linux64"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FolderOfModulePath(c.path), c.folder) << c.path;
    }
}

}  // namespace
}  // namespace quenlark
