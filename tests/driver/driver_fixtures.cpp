#include "tests/driver/driver_fixtures.h"

#include <sys/mman.h>

#include <algorithm>

#include "common/shared_pose_block.h"
#include "driver/device_provider.h"
#include "driver/pending_button_events.h"
#include "tests/support/installed_tree.h"

namespace quenlark::test {

void RemoveSharedPoseBlockName() {
    shm_unlink(kSharedPoseBlockName);
}

std::vector<sim::HostCall> CallsOf(const sim::DriverHost& host,
                                   std::initializer_list<sim::HostCall::Kind> kinds) {
    std::vector<sim::HostCall> selected;
    for (sim::HostCall& call : host.Calls()) {
        if (std::find(kinds.begin(), kinds.end(), call.kind) != kinds.end()) {
            selected.push_back(std::move(call));
        }
    }
    return selected;
}

void InstalledDriver::SetUp() {
    std::string error;
    ASSERT_TRUE(host.Load(InstalledDriverFolder(), &error)) << error;
}

void InstalledDriver::TearDown() {
    if (activated) {
        host.Deactivate();
    }
    host.Cleanup();
    EXPECT_TRUE(host.Unload()) << "the driver library stayed loaded after dlclose";
}

void InstalledDriver::InitAndActivate(uint32_t objectId) {
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_NE(host.Device(), nullptr);
    ASSERT_EQ(host.Activate(objectId), vr::VRInitError_None);
    activated = true;
}

void CoreDriver::SetUp() {
    PendingButtonEvents::fire.store(false);
    PendingButtonEvents::ejectMag.store(false);
    PendingButtonEvents::loadMag.store(false);
    threadsAtSetUp = sim::LiveThreads();
    host.UseFactory(&ServeDriverInterface);
}

void CoreDriver::TearDown() {
    if (activated) {
        host.Deactivate();
    }
    host.Cleanup();
    EXPECT_TRUE(sim::WaitForNewThreadsToEnd(threadsAtSetUp, std::chrono::seconds(5)));
    vr::CleanupDriverContext();
}

void CoreDriver::InitAndActivate(uint32_t objectId) {
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_NE(host.Device(), nullptr);
    ASSERT_EQ(host.Activate(objectId), vr::VRInitError_None);
    activated = true;
}

}  // namespace quenlark::test
