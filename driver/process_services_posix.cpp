// Processes on POSIX: a pidfd is the handle on a process (it polls readable once the
// process has ended), posix_spawn starts children, dladdr finds the module of an address.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
// glibc 2.36 declares the pidfd calls without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}

#include <cerrno>
#include <climits>

#include "driver/process_services.h"

extern char** environ;

namespace quenlark::process {
namespace {

// How long Terminate waits for a killed process to be gone before it stops waiting.
constexpr int kReapTimeoutMs = 5000;

// The file actions that give the child /dev/null as its standard streams and, of this
// process's descriptors, only `keep`, under the same number. The descriptor stays
// close-on-exec in this process the whole time: the dup2 onto itself clears the flag in
// the child alone (glibc does so for equal numbers, as POSIX asks), so no program that
// another host thread starts meanwhile can inherit it. Below `keep` every number is
// closed one by one (unused numbers are skipped silently), above it all at once.
bool PrepareFileActions(posix_spawn_file_actions_t& actions, int keep) {
    if (posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) != 0 ||
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) != 0) {
        return false;
    }
    for (int fd = 3; fd < keep; ++fd) {
        if (posix_spawn_file_actions_addclose(&actions, fd) != 0) {
            return false;
        }
    }
    return posix_spawn_file_actions_adddup2(&actions, keep, keep) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&actions, keep + 1) == 0;
}

// A fresh process: no blocked signals and default dispositions, whatever the host's
// threads have set up for themselves.
bool PrepareAttributes(posix_spawnattr_t& attributes) {
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    return posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
           posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) ==
               0;
}

bool Reap(pid_t pid, int pidfd) {
    pollfd ended{pidfd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&ended, 1, kReapTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    int status = 0;
    pid_t reaped;
    do {
        reaped = waitpid(pid, &status, ready > 0 ? 0 : WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    return reaped == pid;
}

}  // namespace

Handle OpenSelfHandle() {
    int pidfd = pidfd_open(getpid(), 0);  // close-on-exec, always
    if (pidfd >= 0 && pidfd < 3) {
        // A host that closed a standard stream got the number of that stream back; in the
        // child those numbers belong to /dev/null.
        const int moved = fcntl(pidfd, F_DUPFD_CLOEXEC, 3);
        close(pidfd);
        pidfd = moved;
    }
    return pidfd >= 0 ? pidfd : kNoHandle;
}

void CloseHandle(Handle handle) {
    if (handle >= 0 && handle <= INT_MAX) {
        close(static_cast<int>(handle));
    }
}

bool StartWithHandle(const std::string& path, const std::string& commandLine, Handle inherited,
                     StartedProcess& started) {
    if (inherited < 3 || inherited > INT_MAX) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    bool ok =
        PrepareFileActions(actions, static_cast<int>(inherited)) && PrepareAttributes(attributes);
    pid_t pid = 0;
    if (ok) {
        std::string argument = commandLine;
        char* argv[] = {argument.data(), nullptr};
        ok = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ) == 0;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (!ok) {
        return false;
    }
    // The child is not reaped before Terminate, so its pid cannot name another process yet.
    const int pidfd = pidfd_open(pid, 0);
    if (pidfd < 0) {
        // Without a handle the child could not be ended later: end it now.
        kill(pid, SIGKILL);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return false;
    }
    started.id = pid;
    started.handle = pidfd;
    return true;
}

bool Terminate(const StartedProcess& process) {
    if (process.handle < 0 || process.handle > INT_MAX || process.id <= 0) {
        return false;
    }
    const int pidfd = static_cast<int>(process.handle);
    const auto pid = static_cast<pid_t>(process.id);
    pollfd ended{pidfd, POLLIN, 0};
    if (poll(&ended, 1, 0) > 0) {
        // It ended by itself: nothing to terminate, but its exit status is still collected.
        Reap(pid, pidfd);
        return false;
    }
    if (pidfd_send_signal(pidfd, SIGKILL, nullptr, 0) != 0) {
        return false;
    }
    Reap(pid, pidfd);
    return true;
}

std::string ModulePathOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        return {};
    }
    return info.dli_fname;
}

}  // namespace quenlark::process
