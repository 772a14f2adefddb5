#include "sim/host/driver_manifest.h"

#include "sim/host/json_value.h"

namespace quenlark::sim {
namespace {

bool UsableAsFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::optional<std::string> Fail(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadManifestName(const std::string& manifestText, std::string* error) {
    std::string why;
    JsonValue manifestValue;
    if (!ParseJson(manifestText, manifestValue, &why)) {
        return Fail(error, "the manifest is not valid JSON: " + why);
    }
    const JsonValue* manifest = &manifestValue;
    if (manifest->AsObject() == nullptr) {
        return Fail(error, "the manifest is not a JSON object");
    }
    const JsonValue* name = manifest->Find("name");
    if (name == nullptr || name->AsString() == nullptr) {
        return Fail(error, "the manifest names no driver (no \"name\" string)");
    }
    if (!UsableAsFileName(*name->AsString())) {
        return Fail(error, "the manifest's driver name cannot be a file name");
    }
    return *name->AsString();
}

std::string DriverLibraryPath(const std::string& driverFolder, const std::string& name) {
    return driverFolder + "/bin/linux64/driver_" + name + ".so";
}

}  // namespace quenlark::sim
