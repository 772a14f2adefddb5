#include "driver/link/link_log.h"

namespace quenlark {

constinit std::atomic<LogCallback> linkLog{nullptr};

void writeLinkLine(const std::string& line) {
    if (const LogCallback log = linkLog.load(std::memory_order_relaxed)) {
        log(line.c_str());
    }
}

}  // namespace quenlark
