#include "driver/driver_log.h"

#include <openvr_driver.h>

#include <atomic>

namespace quenlark {
namespace {

std::atomic<vr::IVRDriverLog*> driverLogTarget{nullptr};

}  // namespace

void SetDriverLogTarget(vr::IVRDriverLog* log) { driverLogTarget.store(log, std::memory_order_release); }

void WriteDriverLog(const char* line) {
    if (line == nullptr) {
        return;
    }
    if (vr::IVRDriverLog* log = driverLogTarget.load(std::memory_order_acquire)) {
        log->Log(line);
    }
}

}  // namespace quenlark
