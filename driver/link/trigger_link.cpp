// Placeholder until the Bluetooth link lands: the thread ends at once.
#include "driver/link/trigger_link.h"

namespace quenlark {

constinit std::atomic<bool> linkRunning{true};

void triggerLinkMain(LogCallback) {}

}  // namespace quenlark
