#pragma once
// The Bluetooth trigger link: one detached thread per activation of the device.

#include <atomic>

#include "driver/link/log_callback.h"

namespace quenlark {

// The link's running flag: true from library load, cleared by Deactivate, never set again.
extern std::atomic<bool> linkRunning;

// The link thread's entry: scans for the peripheral, connects, subscribes and turns its
// notifications into pending button events until linkRunning is cleared.
void triggerLinkMain(LogCallback log);

}  // namespace quenlark
