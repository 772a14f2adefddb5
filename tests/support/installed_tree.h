#pragma once
#include <string>

namespace quenlark::test {

// The installation prefix under test: $QUENLARK_PREFIX when set, else the build's stage.
std::string InstallPrefix();

// <prefix>/quenlark_k7, the driver folder as SteamVR would find it.
std::string InstalledDriverFolder();

}  // namespace quenlark::test
