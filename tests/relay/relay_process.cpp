#include "tests/relay/relay_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "tests/support/installed_tree.h"

extern char** environ;

namespace quenlark::test {
namespace {

constexpr std::size_t kRecentControllerLines = 4096;
constexpr std::size_t kDistinctLinesKept = 65536;

void Check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    }
}

// Reaps `pid`, waiting at most `timeout` for it to end; its status, or empty.
std::optional<int> Reap(pid_t pid, int pidfd, std::chrono::milliseconds timeout) {
    pollfd ended{pidfd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready =
            poll(&ended, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready > 0) {
            break;
        }
        if (ready == 0) {
            return std::nullopt;
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// File actions that give the child exactly stdin, stdout, stderr and, when asked, one
// more descriptor under a chosen number; nothing else of this process leaks into it.
void KeepOnly(posix_spawn_file_actions_t* actions, int fdInChild) {
    if (fdInChild < 3) {
        posix_spawn_file_actions_addclosefrom_np(actions, 3);
        return;
    }
    for (int fd = 3; fd < fdInChild; ++fd) {
        posix_spawn_file_actions_addclose(actions, fd);
    }
    posix_spawn_file_actions_addclosefrom_np(actions, fdInChild + 1);
}

std::vector<std::string> MergedEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : extra) {
        merged[name] = value;
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) {
        result.push_back(name + "=" + value);
    }
    return result;
}

}  // namespace

std::string InstalledOrbelin() {
    return InstalledDriverFolder() + "/bin/linux64/orbelin";
}

StandInParent::StandInParent() {
    // cat on a pipe whose only writer is this process: should this process die without its
    // destructors (a crash, a sanitizer's abort), cat reads the end of input and ends too,
    // and so does every relay that watches it.
    int input[2];
    Check(pipe2(input, O_CLOEXEC) == 0, "pipe2");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    char program[] = "/bin/cat";
    char* argv[] = {program, nullptr};
    const int rc = posix_spawn(&pid_, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    input_ = input[1];
    errno = rc;
    Check(rc == 0, "posix_spawn cat");
    pidfd_ = pidfd_open(pid_, 0);
    Check(pidfd_ >= 0, "pidfd_open");
}

StandInParent::~StandInParent() {
    End();
    if (pidfd_ >= 0) {
        close(pidfd_);
    }
    close(input_);
}

void StandInParent::End() {
    if (pid_ <= 0) {
        return;
    }
    pidfd_send_signal(pidfd_, SIGKILL, nullptr, 0);
    Reap(pid_, pidfd_, 10s);
    pid_ = -1;
}

struct RelayProcess::State {
    pid_t pid = -1;
    int pidfd = -1;
    int out = -1;
    int err = -1;
    std::optional<int> exitStatus;
    std::thread reader;
    std::atomic<bool> busy{false};  // the reader holds bytes it has not taken in yet

    mutable std::mutex mutex;  // guards everything below
    mutable std::condition_variable changed;
    std::vector<Line> statusLines;
    std::deque<std::string> recentControllerLines;
    std::uint64_t controllerLines = 0;
    std::set<std::string> seen;
    std::string errText;
    bool ended = false;  // both pipes closed

    void Take(std::string line) {
        std::lock_guard lock(mutex);
        if (seen.size() < kDistinctLinesKept) {
            seen.insert(line);
        }
        if (line.rfind("Controller ", 0) == 0) {
            ++controllerLines;
            recentControllerLines.push_back(std::move(line));
            if (recentControllerLines.size() > kRecentControllerLines) {
                recentControllerLines.pop_front();
            }
        } else {
            statusLines.push_back({std::move(line), std::chrono::steady_clock::now()});
        }
        changed.notify_all();
    }

    void Read() {
        std::string pending;
        char buffer[65536];
        pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            busy.store(false, std::memory_order_seq_cst);
            const int ready = poll(fds, 2, -1);
            busy.store(true, std::memory_order_seq_cst);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            for (pollfd& p : fds) {
                if (p.fd < 0 || p.revents == 0) {
                    continue;
                }
                const ssize_t n = read(p.fd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    p.fd = -1;
                    --open;
                    continue;
                }
                if (p.fd == err) {
                    std::lock_guard lock(mutex);
                    errText.append(buffer, static_cast<std::size_t>(n));
                    continue;
                }
                pending.append(buffer, static_cast<std::size_t>(n));
                std::size_t start = 0;
                for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
                     start = end + 1) {
                    Take(pending.substr(start, end - start));
                }
                pending.erase(0, start);
            }
        }
        if (!pending.empty()) {
            Take(pending);
        }
        std::lock_guard lock(mutex);
        ended = true;
        changed.notify_all();
    }
};

RelayProcess::RelayProcess(const RelayOptions& options) : state_(std::make_unique<State>()) {
    State& s = *state_;
    int outPipe[2];
    int errPipe[2];
    Check(pipe2(outPipe, O_CLOEXEC) == 0, "pipe2");
    Check(pipe2(errPipe, O_CLOEXEC) == 0, "pipe2");

    if (options.parentFdInChild >= 0) {
        // The child may be given a descriptor number beyond the soft limit.
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const auto needed = static_cast<rlim_t>(options.parentFdInChild + 1);
        if (limit.rlim_cur < needed && needed <= limit.rlim_max) {
            limit.rlim_cur = needed;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    if (options.parentFd >= 0 && options.parentFdInChild >= 0) {
        // Same numbers: glibc clears close-on-exec on the descriptor in the child.
        posix_spawn_file_actions_adddup2(&actions, options.parentFd, options.parentFdInChild);
    }
    KeepOnly(&actions, options.parentFdInChild);

    std::string commandLine = options.commandLine.value_or("");
    std::vector<char*> argv;
    if (options.commandLine) {
        argv.push_back(commandLine.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = MergedEnvironment(options.environment);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const int rc =
        posix_spawn(&s.pid, options.program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    s.out = outPipe[0];
    s.err = errPipe[0];
    if (rc != 0) {
        close(s.out);
        close(s.err);
        errno = rc;
        Check(false, "posix_spawn orbelin");
    }
    s.pidfd = pidfd_open(s.pid, 0);
    s.reader = std::thread([&s] { s.Read(); });
}

RelayProcess::~RelayProcess() {
    State& s = *state_;
    if (!s.exitStatus) {
        pidfd_send_signal(s.pidfd, SIGKILL, nullptr, 0);
        Reap(s.pid, s.pidfd, 10s);
    }
    if (s.reader.joinable()) {
        s.reader.join();
    }
    close(s.out);
    close(s.err);
    close(s.pidfd);
}

pid_t RelayProcess::Pid() const {
    return state_->pid;
}

std::vector<RelayProcess::Line> RelayProcess::StatusLines() const {
    std::lock_guard lock(state_->mutex);
    return state_->statusLines;
}

std::vector<std::string> RelayProcess::StatusTexts() const {
    std::vector<std::string> texts;
    for (const Line& line : StatusLines()) {
        texts.push_back(line.text);
    }
    return texts;
}

std::vector<std::string> RelayProcess::RecentControllerLines() const {
    std::lock_guard lock(state_->mutex);
    return {state_->recentControllerLines.begin(), state_->recentControllerLines.end()};
}

std::uint64_t RelayProcess::ControllerLineCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->controllerLines;
}

std::string RelayProcess::Stderr() const {
    std::lock_guard lock(state_->mutex);
    return state_->errText;
}

bool RelayProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->seen.count(text) > 0; });
}

bool RelayProcess::WaitForControllerLines(std::uint64_t count,
                                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->controllerLines >= count; });
}

bool RelayProcess::WaitUntilDrained(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int unread = 0;
        // Unread bytes are checked first: once there are none, whatever was read before is
        // taken in by the time the reader stops being busy.
        if (ioctl(state_->out, FIONREAD, &unread) == 0 && unread == 0 &&
            !state_->busy.load(std::memory_order_seq_cst)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
}

std::optional<int> RelayProcess::WaitForExit(std::chrono::milliseconds timeout) {
    State& s = *state_;
    if (!s.exitStatus) {
        s.exitStatus = Reap(s.pid, s.pidfd, timeout);
        if (!s.exitStatus) {
            return std::nullopt;
        }
    }
    if (s.reader.joinable()) {
        s.reader.join();
    }
    return s.exitStatus;
}

bool RelayProcess::Running() {
    pollfd ended{state_->pidfd, POLLIN, 0};
    return !state_->exitStatus && poll(&ended, 1, 0) == 0;
}

}  // namespace quenlark::test
