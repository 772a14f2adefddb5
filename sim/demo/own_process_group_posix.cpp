#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/demo/own_process_group.h"
#include "sim/demo/stop_request.h"
#include "sim/demo/terminal.h"

namespace quenlark::demo {
namespace {

std::atomic<pid_t> sessionChild{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "read in a signal handler");

extern "C" void PassOnStopSignal(int) {
    const int savedErrno = errno;
    if (const pid_t child = sessionChild.load(std::memory_order_relaxed); child > 0) {
        ::kill(child, SIGTERM);
    }
    errno = savedErrno;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

int RunInOwnProcessGroup(const std::function<int()>& session) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Held back across the fork, so that a Ctrl-C in between reaches one of the two
    // processes with its handler in place.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    for (int signal : kStopSignals) {
        sigaddset(&stopSignals, signal);
    }
    sigprocmask(SIG_BLOCK, &stopSignals, &previous);

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        return session();
    }
    if (child == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            RequestStop();  // the parent is already gone
        }
        // Out of the terminal's foreground group, writing to the terminal must not stop
        // the session (as it would under `stty tostop`).
        signal(SIGTTOU, SIG_IGN);
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        return session();
    }

    setpgid(child, child);  // also here, so that it holds before the parent goes on
    sessionChild.store(child, std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = PassOnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);

    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    sessionChild.store(0, std::memory_order_relaxed);
    if (waited != child) {
        std::fprintf(stderr, "quenlark-demo: lost track of the session process\n");
        return 1;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (IsTerminal(stdout)) {
        std::fputs("\x1b[?25h\n", stdout);  // the live view hides the cursor
        std::fflush(stdout);
    }
    std::fprintf(stderr, "quenlark-demo: the session ended by signal %d (%s)\n", signal,
                 strsignal(signal));
    return 128 + signal;
}

}  // namespace quenlark::demo
