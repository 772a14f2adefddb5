// The stand-in runtime's client side: the module that libopenvr_api loads as
// <runtime>/bin/linux64/vrclient.so. A client "connects" by finding the scene block named
// in QUENLARK_SIM_SCENE; without one, the runtime counts as not running.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/section.h"
#include "sim/runtime/client_core.h"
#include "sim/runtime/scene_block.h"
#include "sim/runtime/stand_in_system.h"

namespace quenlark::sim {
namespace {

class ClientCore final : public IVRClientCore {
  public:
    vr::EVRInitError Init(vr::EVRApplicationType, const char*) override {
        if (block_ != nullptr) {
            return vr::VRInitError_None;
        }
        const char* name = std::getenv(kSceneEnvironmentVariable);
        if (name == nullptr || *name == '\0') {
            return vr::VRInitError_Init_NoServerForBackgroundApp;
        }
        const section::Handle handle = section::Open(name, sizeof(SceneBlock));
        auto* block = static_cast<SceneBlock*>(section::Map(handle, sizeof(SceneBlock)));
        if (block == nullptr || Word(block->magic).load(std::memory_order_acquire) != kSceneMagic) {
            section::Unmap(block, sizeof(SceneBlock));
            section::Close(handle);
            return vr::VRInitError_Init_NoServerForBackgroundApp;
        }
        Word(block->initCalls).fetch_add(1, std::memory_order_seq_cst);
        const std::uint32_t delayMs = LoadScene(*block).initDelayMs;
        if (delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
        // The answer is read after the delay, so that a test can change it meanwhile.
        const auto answer = static_cast<vr::EVRInitError>(LoadScene(*block).refuseWith);
        if (answer != vr::VRInitError_None) {
            // The library unloads this module without calling Cleanup: undo everything here.
            section::Unmap(block, sizeof(SceneBlock));
            section::Close(handle);
            return answer;
        }
        handle_ = handle;
        block_ = block;
        system_.Attach(block);
        return vr::VRInitError_None;
    }

    void Cleanup() override {
        if (block_ == nullptr) {
            return;
        }
        Word(block_->cleanupCalls).fetch_add(1, std::memory_order_seq_cst);
        Release();
    }

    vr::EVRInitError IsInterfaceVersionValid(const char* interfaceVersion) override {
        return Answer(interfaceVersion) == SystemInterface::Withheld
                   ? vr::VRInitError_Init_InterfaceNotFound
                   : vr::VRInitError_None;
    }

    void* GetGenericInterface(const char* interfaceVersion, vr::EVRInitError* error) override {
        const bool served = Answer(interfaceVersion) == SystemInterface::Offered;
        if (error != nullptr) {
            *error = served ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
        }
        return served ? static_cast<vr::IVRSystem*>(&system_) : nullptr;
    }

    bool BIsHmdPresent() override {
        if (block_ == nullptr) {
            return false;
        }
        const SceneData scene = LoadScene(*block_);
        for (std::uint32_t i = 0; i < scene.deviceCount && i < kMaxSceneDevices; ++i) {
            if (scene.devices[i].deviceClass == kDeviceClassHmd) {
                return true;
            }
        }
        return false;
    }

    // Asked while a client is connected; otherwise the library answers from its own table.
    const char* GetEnglishStringForHmdError(vr::EVRInitError error) override {
        std::snprintf(errorText_, sizeof errorText_, "Stand-in runtime error (%d)",
                      static_cast<int>(error));
        return errorText_;
    }
    const char* GetIDForVRInitError(vr::EVRInitError) override { return "VRInitError_StandIn"; }

    // The module may be unloaded while a client is still connected (the process ends).
    ~ClientCore() { Release(); }

  private:
    // Only "IVRSystem_022" is ever served, and only while connected.
    SystemInterface Answer(const char* interfaceVersion) const {
        if (block_ == nullptr || interfaceVersion == nullptr ||
            std::strcmp(interfaceVersion, vr::IVRSystem_Version) != 0) {
            return SystemInterface::Withheld;
        }
        return static_cast<SystemInterface>(LoadScene(*block_).systemInterface);
    }

    void Release() {
        system_.Attach(nullptr);
        section::Unmap(block_, sizeof(SceneBlock));
        section::Close(handle_);
        block_ = nullptr;
        handle_ = section::kNoSection;
    }

    char errorText_[64] = {};
    section::Handle handle_ = section::kNoSection;
    SceneBlock* block_ = nullptr;
    StandInSystem system_;
};

ClientCore clientCore;

}  // namespace
}  // namespace quenlark::sim

extern "C" __attribute__((visibility("default"))) void* VRClientCoreFactory(
    const char* pInterfaceName, int* pReturnCode) {
    const bool known = pInterfaceName != nullptr &&
                       std::strcmp(pInterfaceName, quenlark::sim::kClientCoreVersion) == 0;
    if (pReturnCode != nullptr) {
        *pReturnCode = known ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
    }
    return known ? static_cast<quenlark::sim::IVRClientCore*>(&quenlark::sim::clientCore) : nullptr;
}
