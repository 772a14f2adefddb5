#pragma once
// The interface versions this driver was built against, as GetInterfaceVersions reports
// them to the runtime. This is the driver's own list, not the SDK's k_InterfaceVersions:
// the installed SDK declares "IVRDriverDirectModeComponent_008", but the driver implements
// no direct-mode component and states the versions it was designed and tested against.

namespace quenlark {

inline constexpr const char* kInterfaceVersions[] = {
    "IVRSettings_003",
    "ITrackedDeviceServerDriver_005",
    "IVRDisplayComponent_002",
    "IVRDriverDirectModeComponent_007",
    "IVRCameraComponent_003",
    "IServerTrackedDeviceProvider_004",
    "IVRWatchdogProvider_001",
    "IVRVirtualDisplay_002",
    "IVRDriverManager_001",
    "IVRResources_001",
    "IVRCompositorPluginProvider_001",
    nullptr,
};

}  // namespace quenlark
