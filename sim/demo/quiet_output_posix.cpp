#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "sim/demo/quiet_output.h"

namespace quenlark::demo {

QuietOutput::QuietOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere < 0) {
        return;  // the children's notices show; nothing worse
    }
    savedOutput_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    savedError_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (savedOutput_ >= 0) {
        ::dup2(nowhere, STDOUT_FILENO);
    }
    if (savedError_ >= 0) {
        ::dup2(nowhere, STDERR_FILENO);
    }
    ::close(nowhere);
}

QuietOutput::~QuietOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (savedOutput_ >= 0) {
        ::dup2(savedOutput_, STDOUT_FILENO);
        ::close(savedOutput_);
    }
    if (savedError_ >= 0) {
        ::dup2(savedError_, STDERR_FILENO);
        ::close(savedError_);
    }
}

}  // namespace quenlark::demo
