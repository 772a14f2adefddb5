#include "driver/driver_log.h"

#include <openvr_driver.h>

namespace quenlark {

void WriteDriverLog(const char* line) {
    // Before Init there is no context, and the SDK's accessor would dereference it.
    if (line == nullptr || vr::VRDriverContext() == nullptr) {
        return;
    }
    if (vr::IVRDriverLog* log = vr::VRDriverLog()) {
        log->Log(line);
    }
}

}  // namespace quenlark
