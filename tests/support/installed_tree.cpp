#include "tests/support/installed_tree.h"

#include <cstdlib>

namespace quenlark::test {

std::string InstallPrefix() {
    const char* prefix = std::getenv("QUENLARK_PREFIX");
    return (prefix != nullptr && *prefix != '\0') ? prefix : QUENLARK_STAGE;
}

std::string InstalledDriverFolder() { return InstallPrefix() + "/quenlark_k7"; }

}  // namespace quenlark::test
