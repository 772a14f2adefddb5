#pragma once
// The stand-in VR runtime as tests (and the stand-in host) drive it: a private scene block
// that a client process reaches through the environment this object describes. A client
// started with Environment() (or from a process that called ApplyToEnvironment()) and
// linked against the real libopenvr_api connects to the stand-in's vrclient.so, and its
// IVRSystem_022 reports the devices set here.
//
// Each scene has a unique shared-memory name and its own configuration and log folders, so
// scenes of tests that run in parallel never meet. Concurrent: the setters may be called
// from any thread of the owning process; the scene block has one writer, this object.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/runtime/scene_data.h"

namespace quenlark::sim {

class RuntimeScene {
  public:
    // Creates the block with an empty scene that accepts connections. Throws
    // std::runtime_error when the block or the folders cannot be made.
    RuntimeScene();
    ~RuntimeScene();
    RuntimeScene(const RuntimeScene&) = delete;
    RuntimeScene& operator=(const RuntimeScene&) = delete;

    // The runtime folder: <root>/bin/linux64/vrclient.so.
    static std::string RuntimeRoot();

    // VR_OVERRIDE, VR_CONFIG_PATH, VR_LOG_PATH and the scene block's name, as NAME=value
    // pairs for a client's environment.
    std::vector<std::pair<std::string, std::string>> Environment() const;
    // Sets them in this process's environment, so that processes it starts inherit them.
    // Call before other threads run (setenv is not thread-safe).
    void ApplyToEnvironment() const;

    // Replaces the devices, in the order the runtime reports them.
    void SetDevices(const std::vector<SceneDevice>& devices);
    // Init answers this EVRInitError from now on; 0 accepts.
    void RefuseConnections(std::int32_t vrInitError);
    void AcceptConnections() { RefuseConnections(0); }
    // How "IVRSystem_022" is answered for after a successful Init.
    void SetSystemInterface(SystemInterface answer);
    // Init waits this long before it answers.
    void SetInitDelay(std::chrono::milliseconds delay);
    SceneData Scene() const;

    // What the client side counted.
    std::uint64_t InitCalls() const;
    std::uint64_t CleanupCalls() const;
    std::uint64_t PoseQueries() const;

    struct QueryArguments {
        std::int32_t poseOrigin;
        float prediction;
        std::uint32_t poseArrayCount;
        std::int32_t indexClass;
        std::uint32_t indexArrayCount;
        std::uint32_t relativeTo;
    };
    QueryArguments LastQueryArguments() const;

    // Waits until at least `count` pose queries were served; false on time-out.
    bool WaitForPoseQueries(std::uint64_t count, std::chrono::milliseconds timeout) const;

    // Waits until a client pass that saw the current scene has completed: two pose
    // queries after the latest change, so the pass that began with the first has ended
    // (and, for the relay, published) before the second. False on time-out.
    bool WaitForPassWithCurrentScene(std::chrono::milliseconds timeout) const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A controller in a scene, at `index` with `role`, its pose as given.
SceneDevice SceneController(std::uint32_t index, std::int32_t role, const ScenePose& pose);

// A tracked pose at position (x, y, z) with the identity rotation, valid and running.
ScenePose ScenePoseAt(float x, float y, float z);

}  // namespace quenlark::sim
