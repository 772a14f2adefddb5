// Placeholder until the pose relay lands: the launcher starts nothing.
#include "driver/relay_launcher.h"

namespace quenlark {

std::string GetDriverFolder() { return {}; }
void StartPoseRelay(const char*) {}
void StopPoseRelay() {}

}  // namespace quenlark
