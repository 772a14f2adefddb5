// Driver libraries through the dynamic loader: dlopen, dlsym, dlclose.
#include "sim/host/driver_library.h"

#include <dlfcn.h>

namespace quenlark::sim {

DriverLibrary::~DriverLibrary() {
    Close();
}

bool DriverLibrary::Open(const std::string& path, std::string* error) {
    Close();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        if (error != nullptr) {
            *error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
        }
        return false;
    }
    dlerror();
    void* symbol = dlsym(handle, "HmdDriverFactory");
    if (symbol == nullptr) {
        if (error != nullptr) {
            *error = path + " exports no HmdDriverFactory";
        }
        dlclose(handle);
        return false;
    }
    handle_ = handle;
    factory_ = reinterpret_cast<DriverFactory>(symbol);
    path_ = path;
    return true;
}

bool DriverLibrary::Close() {
    if (handle_ == nullptr) {
        return true;
    }
    dlclose(handle_);
    handle_ = nullptr;
    factory_ = nullptr;
    // RTLD_NOLOAD finds the library only while it is still mapped; that reference is
    // given back at once.
    void* still = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    path_.clear();
    if (still != nullptr) {
        dlclose(still);
        return false;
    }
    return true;
}

void DriverLibrary::Abandon() {
    handle_ = nullptr;
    factory_ = nullptr;
    path_.clear();
}

}  // namespace quenlark::sim
