#include "relay/console.h"

#include <cstdio>

namespace quenlark {

// One printf per line: stdio locks the stream for the call, so a line of the parent watch
// never lands in the middle of a line of the main thread.
void WriteLine(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

void ReportControllerPosition(vr::TrackedDeviceIndex_t index, const vr::TrackedDevicePose_t& pose) {
    const auto& m = pose.mDeviceToAbsoluteTracking.m;
    std::printf("Controller %u position: (%f, %f, %f)\n", index, static_cast<double>(m[0][3]),
                static_cast<double>(m[1][3]), static_cast<double>(m[2][3]));
    std::fflush(stdout);
}

}  // namespace quenlark
