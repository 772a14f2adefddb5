#include <sys/ioctl.h>
#include <unistd.h>

#include "sim/demo/terminal.h"

namespace quenlark::demo {

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream, int fallback) {
    struct winsize size {};
    if (stream != nullptr && ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return fallback;
}

}  // namespace quenlark::demo
