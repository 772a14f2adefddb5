#pragma once
// The interface through which the OpenVR client library (libopenvr_api) drives a runtime's
// client side. The library dlopens <runtime>/bin/linux64/vrclient.so, calls its exported
// VRClientCoreFactory with "IVRClientCore_003" and uses the returned object through this
// vtable. The SDK's public headers do not declare it, so it is declared here from the
// calls the library makes, in their vtable order.

#include <openvr.h>

namespace quenlark::sim {

inline constexpr const char* kClientCoreVersion = "IVRClientCore_003";

class IVRClientCore {
  public:
    // Connects the application. On failure the library unloads the module without Cleanup.
    virtual vr::EVRInitError Init(vr::EVRApplicationType applicationType,
                                  const char* startupInfo) = 0;
    // Disconnects; called by VR_Shutdown after a successful Init.
    virtual void Cleanup() = 0;
    // VRInitError_None when the interface version is served.
    virtual vr::EVRInitError IsInterfaceVersionValid(const char* interfaceVersion) = 0;
    virtual void* GetGenericInterface(const char* interfaceVersion, vr::EVRInitError* error) = 0;
    virtual bool BIsHmdPresent() = 0;
    virtual const char* GetEnglishStringForHmdError(vr::EVRInitError error) = 0;
    virtual const char* GetIDForVRInitError(vr::EVRInitError error) = 0;

  protected:
    ~IVRClientCore() = default;
};

}  // namespace quenlark::sim
