#include "driver/relay_launcher.h"

#include <exception>

#include "driver/driver_log.h"
#include "driver/process_services.h"

namespace quenlark {
namespace {

// The started relay; {0, kNoHandle} when none runs under the driver's control. Touched only
// by Activate and Deactivate on the runtime's thread.
process::StartedProcess relayProcess;

}  // namespace

std::string FolderOfModulePath(std::string_view modulePath) {
    const auto separator = modulePath.find_last_of("/\\");
    if (separator == std::string_view::npos) {
        return std::string(modulePath);
    }
    return std::string(modulePath.substr(0, separator));
}

std::string GetDriverFolder() {
    const std::string path = process::ModulePathOf(reinterpret_cast<const void*>(&GetDriverFolder));
    if (path.empty()) {
        WriteDriverLog("Failed to get DLL path.");
        return {};
    }
    return FolderOfModulePath(path);
}

void StartPoseRelay(const char* fileName) {
    const process::Handle parent = process::OpenSelfHandle();
    if (parent == process::kNoHandle) {
        WriteDriverLog("Failed to duplicate handle. Error.");
        return;
    }
    relayProcess = {};
    bool started = false;
    try {
        // Folder and file are joined with one '/', also when the folder is empty.
        const std::string path = GetDriverFolder() + "/" + (fileName != nullptr ? fileName : "");
        started = process::StartWithHandle(path, std::to_string(parent), parent, relayProcess);
    } catch (const std::exception&) {
        // Out of memory for two short strings: the relay is not started.
    }
    WriteDriverLog(started ? "Orbelin process started." : "CreateProcess failed.");
    // The relay holds its own copy of the handle; the driver never uses this one again, and
    // leaving it open would leak one descriptor per activation.
    process::CloseHandle(parent);
}

void StopPoseRelay() {
    if (process::Terminate(relayProcess)) {
        WriteDriverLog("Orbelin process terminated.");
    } else {
        WriteDriverLog("Failed to terminate Orbelin process, the process may not exist.");
    }
    process::CloseHandle(relayProcess.handle);
    relayProcess = {};
}

}  // namespace quenlark
