#pragma once
// Reading a driver folder's driver.vrdrivermanifest the way the runtime does: the driver's
// name decides the library's file name, bin/linux64/driver_<name>.so.

#include <optional>
#include <string>

namespace quenlark::sim {

// The manifest's top-level "name" string. Empty with error set when the text is not a JSON
// object, has no such string, or the name could not be a file name (empty, a path
// separator, "." or "..").
std::optional<std::string> ReadManifestName(const std::string& manifestText, std::string* error);

// <folder>/bin/linux64/driver_<name>.so
std::string DriverLibraryPath(const std::string& driverFolder, const std::string& name);

}  // namespace quenlark::sim
