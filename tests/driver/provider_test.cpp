// The driver's entry point and provider, as the runtime meets them: the factory's answers,
// Init against complete and incomplete contexts, the interface versions, Cleanup, and the
// log callback the trigger link writes through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_log.h"
#include "tests/driver/driver_fixtures.h"

namespace quenlark {
namespace {

using sim::HostCall;
using test::CoreDriver;
using test::InstalledDriver;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr int kUntouched = 0x5eed;

struct FactoryCase {
    const char* label;
    const char* name;
    bool served;
};

void PrintTo(const FactoryCase& c, std::ostream* os) {
    *os << (c.name ? c.name : "(null)");
}

class Factory : public InstalledDriver, public ::testing::WithParamInterface<FactoryCase> {};

TEST_P(Factory, ServesOnlyTheProviderByItsExactName) {
    const FactoryCase& c = GetParam();
    int returnCode = kUntouched;
    void* answer = host.Factory(c.name, &returnCode);
    if (c.served) {
        EXPECT_NE(answer, nullptr);
        EXPECT_EQ(returnCode, kUntouched) << "the return code must be left alone on success";
        EXPECT_EQ(host.Factory(c.name, &returnCode), answer)
            << "one provider, the same address every time";
    } else {
        EXPECT_EQ(answer, nullptr);
        EXPECT_EQ(returnCode, vr::VRInitError_Init_InterfaceNotFound);
        EXPECT_EQ(host.Factory(c.name, nullptr), nullptr) << "a null return code is not written";
    }
    EXPECT_THAT(host.Calls(), IsEmpty()) << "the factory calls nothing in the runtime";
}

INSTANTIATE_TEST_SUITE_P(
    Names, Factory,
    ::testing::Values(FactoryCase{"Provider", "IServerTrackedDeviceProvider_004", true},
                      FactoryCase{"Watchdog", "IVRWatchdogProvider_001", false},
                      FactoryCase{"LowerCase", "iservertrackeddeviceprovider_004", false},
                      FactoryCase{"UpperCase", "ISERVERTRACKEDDEVICEPROVIDER_004", false},
                      FactoryCase{"OlderVersion", "IServerTrackedDeviceProvider_003", false},
                      FactoryCase{"NewerVersion", "IServerTrackedDeviceProvider_005", false},
                      FactoryCase{"TrailingSpace", "IServerTrackedDeviceProvider_004 ", false},
                      FactoryCase{"Prefix", "IServerTrackedDeviceProvider_00", false},
                      FactoryCase{"Device", "ITrackedDeviceServerDriver_005", false},
                      FactoryCase{"Empty", "", false}, FactoryCase{"Null", nullptr, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(InstalledDriver, ProviderReportsItsInterfaceVersionsAndNeverBlocksStandby) {
    auto* provider = static_cast<vr::IServerTrackedDeviceProvider*>(
        host.Factory(vr::IServerTrackedDeviceProvider_Version, nullptr));
    ASSERT_NE(provider, nullptr);

    std::vector<std::string> versions;
    const char* const* list = provider->GetInterfaceVersions();
    for (int i = 0; list[i] != nullptr && i < 32; ++i) {
        versions.emplace_back(list[i]);
    }
    EXPECT_THAT(versions, ElementsAre("IVRSettings_003", "ITrackedDeviceServerDriver_005",
                                      "IVRDisplayComponent_002", "IVRDriverDirectModeComponent_007",
                                      "IVRCameraComponent_003", "IServerTrackedDeviceProvider_004",
                                      "IVRWatchdogProvider_001", "IVRVirtualDisplay_002",
                                      "IVRDriverManager_001", "IVRResources_001",
                                      "IVRCompositorPluginProvider_001"));
    EXPECT_EQ(list[11], nullptr);

    EXPECT_FALSE(provider->ShouldBlockStandbyMode());
    provider->EnterStandby();
    provider->LeaveStandby();
    EXPECT_FALSE(provider->ShouldBlockStandbyMode());
    EXPECT_THAT(host.Calls(), IsEmpty());
}

TEST_F(InstalledDriver, InitWithCompleteContextLogsOnceAndRegistersOneController) {
    EXPECT_EQ(host.Init(), vr::VRInitError_None);
    EXPECT_THAT(host.LogLines(), ElementsAre("Initializing controller"));
    const auto added = host.Calls(HostCall::Kind::TrackedDeviceAdded);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].text, "aaa_quenlark_k7_controller");
    EXPECT_EQ(added[0].deviceClass, vr::TrackedDeviceClass_Controller);
    EXPECT_NE(host.Device(), nullptr);

    std::vector<std::string> fetched;
    for (const HostCall& call : host.Calls(HostCall::Kind::InterfaceFetch)) {
        fetched.push_back(call.text);
    }
    EXPECT_THAT(fetched,
                ElementsAre("IVRServerDriverHost_006", "IVRSettings_003", "IVRProperties_001",
                            "IVRDriverLog_001", "IVRDriverManager_001", "IVRResources_001"));
    // The fetches come first, then the log line, then the registration.
    const auto calls = host.Calls();
    ASSERT_GE(calls.size(), 8u);
    EXPECT_EQ(calls[6].kind, HostCall::Kind::Log);
    EXPECT_EQ(calls[7].kind, HostCall::Kind::TrackedDeviceAdded);
}

// Init's fetch order: each interface withheld in turn. Every missing one but the property
// interface stops Init right there, before anything is logged or created.
struct MissingCase {
    const char* withheld;
    int fetches;  // fetches Init makes, the failing one included
    vr::EVRInitError result;
};

void PrintTo(const MissingCase& c, std::ostream* os) {
    *os << c.withheld << " withheld";
}

class InitWithout : public InstalledDriver, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(InitWithout, StopsAtTheMissingInterface) {
    const MissingCase& c = GetParam();
    std::vector<std::string> expected = {"IVRServerDriverHost_006", "IVRSettings_003",
                                         "IVRProperties_001",       "IVRDriverLog_001",
                                         "IVRDriverManager_001",    "IVRResources_001"};
    expected.resize(static_cast<std::size_t>(c.fetches));

    host.WithholdInterface(c.withheld);
    EXPECT_EQ(host.Init(), c.result);

    std::vector<std::string> fetched;
    for (const HostCall& call : host.Calls(HostCall::Kind::InterfaceFetch)) {
        fetched.push_back(call.text);
        EXPECT_EQ(call.found, call.text != c.withheld) << call.text;
    }
    EXPECT_THAT(fetched, ElementsAreArray(expected));

    if (c.result == vr::VRInitError_None) {
        EXPECT_THAT(host.LogLines(), ElementsAre("Initializing controller"));
        EXPECT_EQ(host.Calls(HostCall::Kind::TrackedDeviceAdded).size(), 1u);
        return;
    }
    EXPECT_THAT(host.LogLines(), IsEmpty());
    EXPECT_THAT(host.Calls(HostCall::Kind::TrackedDeviceAdded), IsEmpty());
    EXPECT_EQ(host.Device(), nullptr);

    // No device: later frames and the clean-up reach nothing in the runtime.
    host.ClearCalls();
    host.RunFrames(3);
    host.Cleanup();
    host.Cleanup();
    EXPECT_THAT(host.Calls(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, InitWithout,
    ::testing::Values(
        MissingCase{"IVRServerDriverHost_006", 1, vr::VRInitError_Init_InterfaceNotFound},
        MissingCase{"IVRSettings_003", 2, vr::VRInitError_Init_InterfaceNotFound},
        MissingCase{"IVRProperties_001", 6, vr::VRInitError_None},
        MissingCase{"IVRDriverLog_001", 4, vr::VRInitError_Init_InterfaceNotFound},
        MissingCase{"IVRDriverManager_001", 5, vr::VRInitError_Init_InterfaceNotFound},
        MissingCase{"IVRResources_001", 6, vr::VRInitError_Init_InterfaceNotFound}),
    [](const auto& info) {
        std::string name = info.param.withheld;
        return name.substr(0, name.find('_'));
    });

TEST_F(InstalledDriver, CleanupWithoutInitOrTwiceDoesNothing) {
    auto* provider = static_cast<vr::IServerTrackedDeviceProvider*>(
        host.Factory(vr::IServerTrackedDeviceProvider_Version, nullptr));
    ASSERT_NE(provider, nullptr);
    provider->Cleanup();
    provider->RunFrame();
    EXPECT_THAT(host.Calls(), IsEmpty());

    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.Cleanup();
    host.ClearCalls();
    host.Cleanup();
    host.RunFrames(2);
    EXPECT_THAT(host.Calls(), IsEmpty())
        << "after Cleanup there is no device for RunFrame to update";
}

TEST_F(InstalledDriver, InitAfterCleanupRegistersAFreshController) {
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.Cleanup();
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    EXPECT_EQ(host.Calls(HostCall::Kind::TrackedDeviceAdded).size(), 2u);
    EXPECT_THAT(host.LogLines(), ElementsAre("Initializing controller", "Initializing controller"));
}

// The log callback that the trigger link writes through, on the static core.
TEST_F(CoreDriver, WriteDriverLogHandsTheTextOnUnchanged) {
    vr::CleanupDriverContext();
    WriteDriverLog("before any context");  // no context yet: nothing to write to, no crash
    WriteDriverLog(nullptr);

    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.ClearCalls();
    WriteDriverLog("Device connection lost.");
    WriteDriverLog("  spaces, no line end  ");
    WriteDriverLog("");
    EXPECT_THAT(host.LogLines(),
                ElementsAre("Device connection lost.", "  spaces, no line end  ", ""));
    EXPECT_THAT(host.Calls(HostCall::Kind::InterfaceFetch), IsEmpty())
        << "the log interface is already cached";

    // After Cleanup the runtime may drop its interfaces: a late line is not written.
    host.Cleanup();
    WriteDriverLog("after Cleanup");
    EXPECT_EQ(host.LogLines().size(), 3u);
}

// The link thread logs while the runtime's thread runs frames.
TEST_F(CoreDriver, WriteDriverLogFromAnotherThreadWhileFramesRun) {
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    constexpr int kLines = 200;
    std::atomic<bool> done{false};
    std::thread link([&] {
        for (int i = 0; i < kLines; ++i) {
            WriteDriverLog("Device connection lost.");
        }
        done = true;
    });
    while (!done) {
        host.RunFrame();
    }
    link.join();
    EXPECT_TRUE(
        host.WaitForLogLineCount("Device connection lost.", kLines, std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace quenlark
