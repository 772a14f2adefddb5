#pragma once
// What the stand-in VR runtime serves: the tracked devices of a scene with their full pose
// records, and how the runtime answers a client's connection. Plain types without OpenVR
// headers, so that tests written against the client header (openvr.h) and the stand-in
// host (openvr_driver.h) can both set a scene. Codes and enums carry the values the
// OpenVR SDK gives them.

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quenlark::sim {

// How the runtime answers for "IVRSystem_022" after a successful Init.
enum class SystemInterface : std::uint32_t {
    Offered = 0,
    Withheld = 1,        // not offered at all, as by a runtime of another version
    ClaimedButNull = 2,  // said to be valid, but fetching it yields null (a faulty runtime)
};

// Byte for byte a vr::TrackedDevicePose_t.
struct ScenePose {
    float deviceToAbsoluteTracking[3][4] = {};  // row-major 3 x 4; column 3 is the position
    float velocity[3] = {};
    float angularVelocity[3] = {};
    std::int32_t trackingResult = 200;  // TrackingResult_Running_OK
    bool poseIsValid = true;
    bool deviceIsConnected = true;
    std::uint8_t padding[2] = {};
};
static_assert(sizeof(ScenePose) == 80 && std::is_trivially_copyable_v<ScenePose>);

// Conversions from and to vr::TrackedDevicePose_t (or any 80-byte record of that layout).
template <class Pose>
ScenePose ToScenePose(const Pose& pose) {
    static_assert(sizeof(Pose) == sizeof(ScenePose) && std::is_trivially_copyable_v<Pose>);
    ScenePose scenePose;
    // Through void*: the member initialisers make ScenePose's default constructor
    // non-trivial, which GCC's -Wclass-memaccess takes for a type unsafe to copy bytes into;
    // it is trivially copyable (asserted above).
    std::memcpy(static_cast<void*>(&scenePose), &pose, sizeof scenePose);
    return scenePose;
}

template <class Pose>
Pose FromScenePose(const ScenePose& scenePose) {
    static_assert(sizeof(Pose) == sizeof(ScenePose) && std::is_trivially_copyable_v<Pose>);
    Pose pose;
    std::memcpy(&pose, &scenePose, sizeof pose);
    return pose;
}

// ETrackedDeviceClass and ETrackedControllerRole values.
inline constexpr std::int32_t kDeviceClassHmd = 1;
inline constexpr std::int32_t kDeviceClassController = 2;
inline constexpr std::int32_t kDeviceClassGenericTracker = 3;
inline constexpr std::int32_t kRoleInvalid = 0;
inline constexpr std::int32_t kRoleLeftHand = 1;
inline constexpr std::int32_t kRoleRightHand = 2;

struct SceneDevice {
    // The device index the runtime reports. Indices of 64 and above are passed through to
    // the index queries unchecked (they get no entry in the pose array), so that a client
    // can be fed what a faulty runtime would hand it.
    std::uint32_t index = 0;
    std::int32_t deviceClass = kDeviceClassController;
    std::int32_t role = kRoleInvalid;
    ScenePose pose;
};

inline constexpr std::uint32_t kMaxSceneDevices = 64;

// The whole scene. Devices are reported in this order by the sorted-index query.
struct SceneData {
    std::int32_t refuseWith = 0;        // EVRInitError that Init answers; 0 = accept
    std::uint32_t systemInterface = 0;  // a SystemInterface value
    std::uint32_t initDelayMs = 0;      // Init waits this long before it answers
    std::uint32_t deviceCount = 0;
    SceneDevice devices[kMaxSceneDevices];
};
static_assert(std::is_trivially_copyable_v<SceneData> && sizeof(SceneData) % 4 == 0);

}  // namespace quenlark::sim
