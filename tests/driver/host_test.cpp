// The stand-in host itself, which every driver test relies on: how it loads driver
// folders and refuses bad ones, what its interfaces answer, and its thread-safe record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "sim/host/driver_host.h"
#include "sim/host/json_value.h"
#include "tests/support/installed_tree.h"

namespace quenlark {
namespace {

namespace fs = std::filesystem;
using sim::DriverHost;
using sim::HostCall;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Kind = HostCall::Kind;

// A driver folder of the test's own, removed afterwards.
class ScratchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quenlark-host-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        fs::create_directories(folder / "bin/linux64");
    }
    void TearDown() override { fs::remove_all(folder); }

    void WriteManifest(const std::string& text) {
        std::ofstream(folder / "driver.vrdrivermanifest") << text;
    }
    void InstallLibrary(const std::string& from, const std::string& name) {
        fs::copy_file(from, folder / "bin/linux64" / ("driver_" + name + ".so"));
    }

    fs::path folder;
    DriverHost host;
};

struct BadFolder {
    const char* label;
    const char* manifest;  // null: no manifest at all
    bool library;          // install the real driver as driver_quenlark_k7.so
    const char* reason;
};

void PrintTo(const BadFolder& c, std::ostream* os) {
    *os << c.label;
}

class LoadRefuses : public ScratchFolder, public ::testing::WithParamInterface<BadFolder> {};

TEST_P(LoadRefuses, SaysWhy) {
    const BadFolder& c = GetParam();
    if (c.manifest != nullptr) {
        WriteManifest(c.manifest);
    }
    if (c.library) {
        InstallLibrary(test::InstalledDriverFolder() + "/bin/linux64/driver_quenlark_k7.so",
                       "quenlark_k7");
    }
    std::string error;
    EXPECT_FALSE(host.Load(folder.string(), &error));
    EXPECT_THAT(error, HasSubstr(c.reason));
    EXPECT_EQ(host.Factory("IServerTrackedDeviceProvider_004", nullptr), nullptr);
    EXPECT_EQ(host.Init(), vr::VRInitError_Init_InterfaceNotFound);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, LoadRefuses,
    ::testing::Values(BadFolder{"NoManifest", nullptr, true, "cannot read"},
                      BadFolder{"NotJson", "{\"name\": \"quenlark_k7\"", true, "not valid JSON"},
                      BadFolder{"NotAnObject", "[\"quenlark_k7\"]", true, "not a JSON object"},
                      BadFolder{"NoName", "{\"alwaysActivate\": true}", true, "names no driver"},
                      BadFolder{"NameNotAString", "{\"name\": 7}", true, "names no driver"},
                      BadFolder{"NameWithSeparator", "{\"name\": \"../quenlark_k7\"}", true,
                                "cannot be a file name"},
                      BadFolder{"EmptyName", "{\"name\": \"\"}", true, "cannot be a file name"},
                      BadFolder{"NoLibrary", "{\"name\": \"quenlark_k7\"}", false, "cannot load"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ScratchFolder, LoadRefusesALibraryWithoutTheFactory) {
    WriteManifest(R"({"name": "other"})");
    InstallLibrary(QUENLARK_NO_FACTORY_LIBRARY, "other");
    std::string error;
    EXPECT_FALSE(host.Load(folder.string(), &error));
    EXPECT_THAT(error, HasSubstr("exports no HmdDriverFactory"));
}

TEST_F(ScratchFolder, LoadFollowsTheManifestNameAndUnloadsCleanly) {
    WriteManifest(
        R"({ "alwaysActivate": true, "name": "renamed", "directory": "", "hmd_presence": [] })");
    InstallLibrary(test::InstalledDriverFolder() + "/bin/linux64/driver_quenlark_k7.so", "renamed");
    std::string error;
    ASSERT_TRUE(host.Load(folder.string(), &error)) << error;
    EXPECT_EQ(host.DriverName(), "renamed");
    EXPECT_EQ(host.LibraryPath(), (folder / "bin/linux64/driver_renamed.so").string());
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.Cleanup();
    EXPECT_TRUE(host.Unload());
}

class Interfaces : public ::testing::Test {
  protected:
    template <class T>
    T* Get(const char* version) {
        vr::EVRInitError error = vr::VRInitError_Unknown;
        void* p = host.Context()->GetGenericInterface(version, &error);
        EXPECT_EQ(error,
                  p != nullptr ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound);
        return static_cast<T*>(p);
    }
    DriverHost host;
};

TEST_F(Interfaces, ServesTheSevenVersionsUnlessWithheld) {
    for (const char* version :
         {"IVRServerDriverHost_006", "IVRSettings_003", "IVRProperties_001", "IVRDriverLog_001",
          "IVRDriverManager_001", "IVRResources_001", "IVRDriverInput_003"}) {
        EXPECT_NE(Get<void>(version), nullptr) << version;
    }
    for (const char* version : {"IVRServerDriverHost_005", "IVRDriverInput_002", "IVRIOBuffer_002",
                                "", "ivrsettings_003"}) {
        EXPECT_EQ(Get<void>(version), nullptr) << version;
    }
    host.WithholdInterface("IVRSettings_003");
    EXPECT_EQ(Get<void>("IVRSettings_003"), nullptr);
    const auto fetches = host.Calls(Kind::InterfaceFetch);
    ASSERT_EQ(fetches.size(), 13u);
    EXPECT_EQ(fetches[0].text, "IVRServerDriverHost_006");
    EXPECT_TRUE(fetches[0].found);
    EXPECT_FALSE(fetches[12].found);
}

TEST_F(Interfaces, ContainersAndComponentsGetDistinctHandles) {
    auto* properties = Get<vr::IVRProperties>("IVRProperties_001");
    auto* input = Get<vr::IVRDriverInput>("IVRDriverInput_003");
    std::set<vr::PropertyContainerHandle_t> containers;
    for (vr::TrackedDeviceIndex_t i : {0u, 1u, 7u, 63u}) {
        const auto handle = properties->TrackedDeviceToPropertyContainer(i);
        EXPECT_NE(handle, vr::k_ulInvalidPropertyContainer);
        EXPECT_EQ(handle, DriverHost::PropertyContainerFor(i));
        containers.insert(handle);
    }
    EXPECT_EQ(containers.size(), 4u);
    EXPECT_EQ(properties->TrackedDeviceToPropertyContainer(vr::k_unTrackedDeviceIndexInvalid),
              vr::k_ulInvalidPropertyContainer);

    std::set<vr::VRInputComponentHandle_t> components;
    for (int i = 0; i < 3; ++i) {
        vr::VRInputComponentHandle_t b = 0, s = 0;
        input->CreateBooleanComponent(*containers.begin(), "/input/a/click", &b);
        input->CreateScalarComponent(*containers.begin(), "/input/a/value", &s,
                                     vr::VRScalarType_Absolute,
                                     vr::VRScalarUnits_NormalizedOneSided);
        components.insert(b);
        components.insert(s);
    }
    EXPECT_EQ(components.size(), 6u);
    EXPECT_EQ(components.count(vr::k_ulInvalidInputComponentHandle), 0u);
}

TEST_F(Interfaces, PropertyWritesAreRecordedEntryByEntryWithTheirBytes) {
    auto* properties = Get<vr::IVRProperties>("IVRProperties_001");
    int32_t value = -2;
    char text[] = "ab";
    vr::PropertyWrite_t batch[2] = {};
    batch[0] = {vr::Prop_ControllerRoleHint_Int32,
                vr::PropertyWrite_Set,
                vr::TrackedProp_Success,
                &value,
                4,
                vr::k_unInt32PropertyTag,
                vr::TrackedProp_Success};
    batch[1] = {
        vr::Prop_ModelNumber_String, vr::PropertyWrite_Erase, vr::TrackedProp_Success, text, 3,
        vr::k_unStringPropertyTag,   vr::TrackedProp_Success};
    properties->WritePropertyBatch(42, batch, 2);
    const auto writes = host.Calls(Kind::PropertyWrite);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].handle, 42u);
    EXPECT_EQ(writes[0].property, vr::Prop_ControllerRoleHint_Int32);
    EXPECT_EQ(writes[0].bytes, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(writes[1].writeType, vr::PropertyWrite_Erase);
    EXPECT_EQ(writes[1].typeTag, vr::k_unStringPropertyTag);
    EXPECT_EQ(writes[1].bytes, (std::vector<uint8_t>{'a', 'b', 0}));
}

TEST_F(Interfaces, OtherMethodsAreRecordedByName) {
    Get<vr::IVRServerDriverHost>("IVRServerDriverHost_006")->IsExiting();
    Get<vr::IVRSettings>("IVRSettings_003")->GetInt32("section", "key");
    host.ClearCalls();
    Get<vr::IVRDriverManager>("IVRDriverManager_001")->GetDriverCount();
    host.Context()->GetDriverHandle();
    const auto others = host.Calls(Kind::Other);
    ASSERT_EQ(others.size(), 2u);
    EXPECT_EQ(others[0].text, "GetDriverCount");
    EXPECT_EQ(others[1].text, "GetDriverHandle");
}

TEST_F(Interfaces, WithRecordingOffCallsAreOnlyCountedButLogsAndPosesAreKept) {
    auto* serverHost = Get<vr::IVRServerDriverHost>("IVRServerDriverHost_006");
    auto* log = Get<vr::IVRDriverLog>("IVRDriverLog_001");
    host.ClearCalls();
    host.SetRecording(false);
    vr::DriverPose_t pose{};
    pose.vecPosition[0] = 4.0;
    serverHost->TrackedDevicePoseUpdated(1, pose, sizeof pose);
    serverHost->TrackedDevicePoseUpdated(1, pose, sizeof pose);
    log->Log("kept");
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(host.CallCount(Kind::PoseUpdated), 2u);
    EXPECT_EQ(host.CallCount(Kind::Log), 1u);
    EXPECT_THAT(host.LogLines(), ElementsAre("kept"));
    ASSERT_TRUE(host.LastReportedPose().has_value());
    EXPECT_EQ(host.LastReportedPose()->vecPosition[0], 4.0);

    host.SetRecording(true);
    log->Log("recorded");
    EXPECT_EQ(host.Calls(Kind::Log).size(), 1u);
}

TEST_F(Interfaces, LogLinesFromAnotherThreadReachWaitersAndTheObserver) {
    auto* log = Get<vr::IVRDriverLog>("IVRDriverLog_001");
    std::mutex mutex;
    std::set<std::thread::id> observerThreads;
    int ticks = 0;
    host.SetLogObserver([&](const std::string& line) {
        std::lock_guard lock(mutex);
        if (line == "tick") {
            observerThreads.insert(std::this_thread::get_id());
            ++ticks;
        }
    });
    log->Log("before");  // logged before anyone waits: still found

    std::thread link([&] {
        for (int i = 0; i < 50; ++i) {
            log->Log("tick");
        }
        log->Log("done");
    });
    const std::thread::id linkId = link.get_id();
    EXPECT_TRUE(host.WaitForLogLine("done", std::chrono::seconds(10)));
    EXPECT_TRUE(host.WaitForLogLineCount("tick", 50, std::chrono::seconds(10)));
    EXPECT_FALSE(host.WaitForLogLineCount("tick", 51, std::chrono::milliseconds(20)));
    EXPECT_FALSE(host.WaitForLogLine("never", std::chrono::milliseconds(20)));
    link.join();
    EXPECT_TRUE(host.WaitForLogLine("before", std::chrono::milliseconds(0)));
    std::lock_guard lock(mutex);
    EXPECT_EQ(ticks, 50);
    EXPECT_EQ(observerThreads, std::set<std::thread::id>{linkId})
        << "the observer runs on the logging thread";
}

TEST(Json, ReadsTheValuesADriverFolderUses) {
    sim::JsonValue v;
    ASSERT_TRUE(sim::ParseJson(
        R"( {"a": [1, -2.5e1, true, false, null], "b": {"c": "x\"\u00e9\ud83d\ude00"}} )", v));
    const auto* a = v.Find("a")->AsArray();
    ASSERT_EQ(a->size(), 5u);
    EXPECT_EQ(*(*a)[1].AsNumber(), -25.0);
    EXPECT_TRUE((*a)[4].IsNull());
    EXPECT_EQ(*v.Find("b")->Find("c")->AsString(), "x\"\xC3\xA9\xF0\x9F\x98\x80");
    for (const char* bad : {"", "{", "{\"a\" 1}", "[1,]", "{\"a\":1,}", "01", "\"\x01\"", "tru",
                            "{} {}", "\"\\x\""}) {
        std::string error;
        EXPECT_FALSE(sim::ParseJson(bad, v, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace quenlark
