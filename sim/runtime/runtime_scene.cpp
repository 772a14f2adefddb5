#include "sim/runtime/runtime_scene.h"

#include <unistd.h>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "common/section.h"
#include "sim/runtime/scene_block.h"

namespace quenlark::sim {

struct RuntimeScene::State {
    std::string name;
    std::string folder;  // holds config/ and log/
    section::Handle handle = section::kNoSection;
    SceneBlock* block = nullptr;

    mutable std::mutex mutex;  // guards scene, the block's one writer
    SceneData scene{};
    std::uint64_t queriesAtChange = 0;
};

namespace {

std::string UniqueSceneName() {
    static std::atomic<unsigned> counter{0};
    return "/quenlark-scene-" + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
}

}  // namespace

RuntimeScene::RuntimeScene() : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.name = UniqueSceneName();
    section::RemoveName(s.name.c_str());  // a leftover of a crashed run with a reused pid
    s.handle = section::Create(s.name.c_str(), sizeof(SceneBlock));
    s.block = static_cast<SceneBlock*>(section::Map(s.handle, sizeof(SceneBlock)));
    if (s.block == nullptr) {
        section::Close(s.handle);
        section::RemoveName(s.name.c_str());
        throw std::runtime_error("cannot create the scene block " + s.name);
    }
    StoreScene(*s.block, s.scene);
    Word(s.block->magic).store(kSceneMagic, std::memory_order_release);

    std::string pattern =
        (std::filesystem::temp_directory_path() / "quenlark-runtime-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        section::Unmap(s.block, sizeof(SceneBlock));
        section::Close(s.handle);
        section::RemoveName(s.name.c_str());
        throw std::runtime_error("cannot create a runtime folder");
    }
    s.folder = pattern;
    std::filesystem::create_directories(s.folder + "/config");
    std::filesystem::create_directories(s.folder + "/log");
}

RuntimeScene::~RuntimeScene() {
    State& s = *state_;
    section::Unmap(s.block, sizeof(SceneBlock));
    section::Close(s.handle);
    section::RemoveName(s.name.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(s.folder, ignored);
}

std::string RuntimeScene::RuntimeRoot() {
    return QUENLARK_SIM_RUNTIME_ROOT;
}

std::vector<std::pair<std::string, std::string>> RuntimeScene::Environment() const {
    return {
        {"VR_OVERRIDE", RuntimeRoot()},
        {"VR_CONFIG_PATH", state_->folder + "/config"},
        {"VR_LOG_PATH", state_->folder + "/log"},
        {kSceneEnvironmentVariable, state_->name},
    };
}

void RuntimeScene::ApplyToEnvironment() const {
    for (const auto& [name, value] : Environment()) {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

namespace {

template <class Change>
void ChangeScene(RuntimeScene::State& s, Change&& change) {
    std::lock_guard lock(s.mutex);
    change(s.scene);
    StoreScene(*s.block, s.scene);
    s.queriesAtChange = Word(s.block->poseQueries).load(std::memory_order_seq_cst);
}

}  // namespace

void RuntimeScene::SetDevices(const std::vector<SceneDevice>& devices) {
    if (devices.size() > kMaxSceneDevices) {
        throw std::invalid_argument("a scene holds at most 64 devices");
    }
    ChangeScene(*state_, [&](SceneData& scene) {
        scene.deviceCount = static_cast<std::uint32_t>(devices.size());
        for (std::size_t i = 0; i < kMaxSceneDevices; ++i) {
            scene.devices[i] = i < devices.size() ? devices[i] : SceneDevice{};
        }
    });
}

void RuntimeScene::RefuseConnections(std::int32_t vrInitError) {
    ChangeScene(*state_, [&](SceneData& scene) { scene.refuseWith = vrInitError; });
}

void RuntimeScene::SetSystemInterface(SystemInterface answer) {
    ChangeScene(*state_, [&](SceneData& scene) {
        scene.systemInterface = static_cast<std::uint32_t>(answer);
    });
}

void RuntimeScene::SetInitDelay(std::chrono::milliseconds delay) {
    ChangeScene(*state_, [&](SceneData& scene) {
        scene.initDelayMs = static_cast<std::uint32_t>(delay.count());
    });
}

SceneData RuntimeScene::Scene() const {
    std::lock_guard lock(state_->mutex);
    return state_->scene;
}

std::uint64_t RuntimeScene::InitCalls() const {
    return Word(state_->block->initCalls).load(std::memory_order_seq_cst);
}

std::uint64_t RuntimeScene::CleanupCalls() const {
    return Word(state_->block->cleanupCalls).load(std::memory_order_seq_cst);
}

std::uint64_t RuntimeScene::PoseQueries() const {
    return Word(state_->block->poseQueries).load(std::memory_order_seq_cst);
}

RuntimeScene::QueryArguments RuntimeScene::LastQueryArguments() const {
    SceneBlock& b = *state_->block;
    return {Word(b.lastPoseOrigin).load(std::memory_order_relaxed),
            Word(b.lastPrediction).load(std::memory_order_relaxed),
            Word(b.lastPoseArrayCount).load(std::memory_order_relaxed),
            Word(b.lastIndexClass).load(std::memory_order_relaxed),
            Word(b.lastIndexArrayCount).load(std::memory_order_relaxed),
            Word(b.lastRelativeTo).load(std::memory_order_relaxed)};
}

bool RuntimeScene::WaitForPoseQueries(std::uint64_t count,
                                      std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (PoseQueries() < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool RuntimeScene::WaitForPassWithCurrentScene(std::chrono::milliseconds timeout) const {
    std::uint64_t mark;
    {
        std::lock_guard lock(state_->mutex);
        mark = state_->queriesAtChange;
    }
    return WaitForPoseQueries(mark + 2, timeout);
}

SceneDevice SceneController(std::uint32_t index, std::int32_t role, const ScenePose& pose) {
    SceneDevice device;
    device.index = index;
    device.deviceClass = kDeviceClassController;
    device.role = role;
    device.pose = pose;
    return device;
}

ScenePose ScenePoseAt(float x, float y, float z) {
    ScenePose pose;
    pose.deviceToAbsoluteTracking[0][0] = 1.0f;
    pose.deviceToAbsoluteTracking[1][1] = 1.0f;
    pose.deviceToAbsoluteTracking[2][2] = 1.0f;
    pose.deviceToAbsoluteTracking[0][3] = x;
    pose.deviceToAbsoluteTracking[1][3] = y;
    pose.deviceToAbsoluteTracking[2][3] = z;
    return pose;
}

}  // namespace quenlark::sim
