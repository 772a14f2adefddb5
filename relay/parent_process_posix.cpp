// The parent handle is a pidfd (pidfd_open on the VR server process) that the relay
// inherited under the number on its command line. A pidfd polls readable once its process
// has ended.
#include <poll.h>
// glibc 2.36 declares the pidfd calls without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <cerrno>
#include <climits>

#include "relay/parent_process.h"

namespace quenlark {

void WaitForParentExit(std::uint64_t parentHandle) {
    if (parentHandle > static_cast<std::uint64_t>(INT_MAX)) {
        return;
    }
    const int pidfd = static_cast<int>(parentHandle);
    // Signal 0 checks without sending anything: EBADF or EINVAL when the number is no
    // pidfd (a poll on some other descriptor could block for good, or end for no reason),
    // ESRCH when the process has already ended. EPERM means it runs, but as another user.
    if (pidfd_send_signal(pidfd, 0, nullptr, 0) != 0 && errno != EPERM) {
        return;
    }
    pollfd watched{pidfd, POLLIN, 0};
    for (;;) {
        const int ready = poll(&watched, 1, -1);
        // Readable (the parent ended), POLLNVAL or POLLERR: in every case the wait is over.
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return;
        }
    }
}

}  // namespace quenlark
