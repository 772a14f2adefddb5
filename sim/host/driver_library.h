#pragma once
// A driver library loaded into this process. The POSIX backend (driver_library_posix.cpp)
// uses dlopen with RTLD_NOW | RTLD_LOCAL, as the runtime loads drivers.

#include <string>

namespace quenlark::sim {

using DriverFactory = void* (*)(const char* interfaceName, int* returnCode);

class DriverLibrary {
  public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the library and resolves HmdDriverFactory; false with error set on failure.
    bool Open(const std::string& path, std::string* error);

    // Unloads it. True when the library is no longer mapped into the process afterwards.
    bool Close();

    // Lets go of the library without unloading it: it stays mapped for good.
    void Abandon();

    bool IsOpen() const { return handle_ != nullptr; }
    DriverFactory Factory() const { return factory_; }

  private:
    void* handle_ = nullptr;
    DriverFactory factory_ = nullptr;
    std::string path_;
};

}  // namespace quenlark::sim
