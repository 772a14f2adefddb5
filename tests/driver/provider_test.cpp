// The driver's entry point and provider, as the runtime meets them: the factory's answers,
// Init against complete and incomplete contexts, the interface versions, Cleanup.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/host/driver_host.h"
#include "tests/support/installed_tree.h"

namespace quenlark {
namespace {

using sim::DriverHost;
using sim::HostCall;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Loads the installed driver afresh for every test, so that its process-wide state (the
// provider's device, the SDK's interface cache) starts from library load.
class InstalledDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(host.Load(test::InstalledDriverFolder(), &error)) << error;
    }
    void TearDown() override { EXPECT_TRUE(host.Unload()) << "the driver library stayed loaded"; }

    std::vector<std::string> Fetches() const {
        std::vector<std::string> versions;
        for (const HostCall& call : host.Calls(HostCall::Kind::InterfaceFetch)) {
            versions.push_back(call.text + (call.found ? "" : " (withheld)"));
        }
        return versions;
    }

    DriverHost host;
};

TEST_F(InstalledDriver, InitWithCompleteContextRegistersOneController) {
    EXPECT_EQ(host.Init(), vr::VRInitError_None);
    EXPECT_THAT(host.LogLines(), ElementsAre("Initializing controller"));
    const auto added = host.Calls(HostCall::Kind::TrackedDeviceAdded);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].text, "aaa_quenlark_k7_controller");
    EXPECT_EQ(added[0].deviceClass, vr::TrackedDeviceClass_Controller);
    EXPECT_NE(host.Device(), nullptr);
    EXPECT_THAT(Fetches(),
                ElementsAre("IVRServerDriverHost_006", "IVRSettings_003", "IVRProperties_001",
                            "IVRDriverLog_001", "IVRDriverManager_001", "IVRResources_001"));
    host.Cleanup();
}

}  // namespace
}  // namespace quenlark
