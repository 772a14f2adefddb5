// orbelin from its command line to its connection with the runtime.
#include <openvr.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/relay/relay_fixture.h"

namespace quenlark::test {
namespace {

using ::testing::ElementsAre;

std::string InitFailedLine(vr::EVRInitError error) {
    return kInitFailedPrefix + std::string(vr::VR_GetVRInitErrorAsEnglishDescription(error));
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

// Command lines that hold no parent handle: one line, status 2, nothing opened or asked.
struct RejectedCommandLine {
    const char* name;
    std::optional<std::string> commandLine;
};

void PrintTo(const RejectedCommandLine& c, std::ostream* os) {
    *os << c.name;
}

class RelayStartup : public RelayFixture {};

class RejectedCommandLineTest : public RelayFixture,
                                public ::testing::WithParamInterface<RejectedCommandLine> {};

TEST_P(RejectedCommandLineTest, WritesOneLineAndEndsWithStatus2BeforeOpeningAnything) {
    auto relay = StartRelay(GetParam().commandLine);
    ASSERT_EQ(relay->WaitForExit(), 2);
    EXPECT_THAT(relay->StatusTexts(), ElementsAre(kUsage));
    EXPECT_EQ(scene.InitCalls(), 0u);
    EXPECT_EQ(relay->Stderr(), "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, RejectedCommandLineTest,
    ::testing::Values(RejectedCommandLine{"Letters", "abc"}, RejectedCommandLine{"Empty", ""},
                      RejectedCommandLine{"NoArguments", std::nullopt},
                      RejectedCommandLine{"Sign", "+100"}, RejectedCommandLine{"Minus", "-100"},
                      RejectedCommandLine{"LeadingBlank", " 100"},
                      RejectedCommandLine{"OneAboveUint64Max", "18446744073709551616"},
                      RejectedCommandLine{"ManyDigits", "100000000000000000000000000000"}),
    [](const auto& info) { return std::string(info.param.name); });

// The number is read up to the first non-digit and used as the descriptor: the stand-in
// parent's pidfd sits under 1234, so "1234" and "1234abc" keep relaying while the parent
// runs, and any other number names no pidfd, so the watch fires at once.
TEST_F(RelayStartup, ReadsTheDecimalNumberAtTheStartOfItsFirstArgument) {
    struct Case {
        std::string commandLine;
        bool namesTheParent;
    };
    const Case cases[] = {{"1234", true},  {"1234abc", true}, {"1234 5", true},
                          {"01234", true}, {"1235", false},   {"18446744073709551615", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        RelayOptions options;
        options.commandLine = c.commandLine;
        options.parentFd = parent.Pidfd();
        options.parentFdInChild = 1234;
        options.environment = scene.Environment();
        RelayProcess relay(options);
        ASSERT_TRUE(relay.WaitForLine(kInitialized))
            << ::testing::PrintToString(relay.StatusTexts());
        if (c.namesTheParent) {
            const auto queries = scene.PoseQueries();
            EXPECT_TRUE(scene.WaitForPoseQueries(queries + 100, 10s));
            EXPECT_FALSE(relay.WaitForLine(kParentExited, 200ms));
        } else {
            EXPECT_EQ(relay.WaitForExit(), 0);
            EXPECT_EQ(Count(relay.StatusTexts(), kParentExited), 1u);
        }
    }
}

TEST_F(RelayStartup, WithoutTheBlockEndsWithStatus1AndNeverContactsTheRuntime) {
    block.reset();
    auto relay = StartRelay();
    ASSERT_EQ(relay->WaitForExit(), 1);
    EXPECT_THAT(relay->StatusTexts(), ElementsAre(kBanner, kNotOpened));
    EXPECT_EQ(scene.InitCalls(), 0u);
    EXPECT_EQ(relay->Stderr(), "");
}

TEST_F(RelayStartup, StartsUpInOrderAndRelaysAsABackgroundClient) {
    auto relay = StartRelaying();
    ASSERT_TRUE(scene.WaitForPoseQueries(10, 10s));
    EXPECT_THAT(relay->StatusTexts(), ElementsAre(kBanner, kOpened, kInitialized));
    EXPECT_EQ(scene.InitCalls(), 1u);

    const auto args = scene.LastQueryArguments();
    EXPECT_EQ(args.poseOrigin, vr::TrackingUniverseStanding);
    EXPECT_EQ(args.prediction, 0.0f);
    EXPECT_EQ(args.poseArrayCount, vr::k_unMaxTrackedDeviceCount);
    EXPECT_EQ(args.indexClass, vr::TrackedDeviceClass_Controller);
    EXPECT_EQ(args.indexArrayCount, vr::k_unMaxTrackedDeviceCount);
    EXPECT_EQ(args.relativeTo, vr::k_unTrackedDeviceIndex_Hmd);
}

// With no runtime running, every attempt fails with the runtime's English description, and
// the next one follows 3000 ms (plus the attempt's own time) later.
TEST_F(RelayStartup, RetriesEvery3000msWhileNoRuntimeRuns) {
    RelayOptions options;
    options.commandLine = std::to_string(kParentFd);
    options.parentFd = parent.Pidfd();
    options.parentFdInChild = kParentFd;
    options.environment = scene.Environment();
    options.environment.push_back({"QUENLARK_SIM_SCENE", ""});  // the runtime is not running
    RelayProcess relay(options);

    const std::string failed = InitFailedLine(vr::VRInitError_Init_NoServerForBackgroundApp);
    std::vector<RelayProcess::Line> failures;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (failures.size() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        failures.clear();
        for (const auto& line : relay.StatusLines()) {
            if (line.text == failed) {
                failures.push_back(line);
            }
        }
    }
    ASSERT_EQ(failures.size(), 3u) << ::testing::PrintToString(relay.StatusTexts());
    for (std::size_t i = 1; i < failures.size(); ++i) {
        const auto gap = failures[i].at - failures[i - 1].at;
        EXPECT_GE(gap, 2900ms);
        EXPECT_LE(gap, 5000ms);
    }
    EXPECT_THAT(relay.StatusTexts(), ElementsAre(kBanner, kOpened, failed, failed, failed));
}

// A runtime that turns the relay away, in the ways a runtime can, and then accepts.
struct Refusal {
    const char* name;
    void (*refuse)(sim::RuntimeScene&);
    void (*accept)(sim::RuntimeScene&);
    vr::EVRInitError reported;
    // The description when the runtime gives it itself (it is still connected when the
    // relay asks); otherwise the library's own.
    const char* runtimeDescription = nullptr;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class RefusingRuntimeTest : public RelayFixture, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusingRuntimeTest, RetriesUntilTheRuntimeAccepts) {
    const Refusal& refusal = GetParam();
    refusal.refuse(scene);
    auto relay = StartRelay();
    const std::string failed = refusal.runtimeDescription != nullptr
                                   ? kInitFailedPrefix + std::string(refusal.runtimeDescription)
                                   : InitFailedLine(refusal.reported);
    ASSERT_TRUE(relay->WaitForLine(failed)) << ::testing::PrintToString(relay->StatusTexts());
    refusal.accept(scene);

    ASSERT_TRUE(relay->WaitForLine(kInitialized, 10s));
    EXPECT_THAT(relay->StatusTexts(), ElementsAre(kBanner, kOpened, failed, kInitialized));
    const auto lines = relay->StatusLines();
    EXPECT_GE(lines[3].at - lines[2].at, 2900ms);
    EXPECT_EQ(scene.InitCalls(), 2u);
    EXPECT_TRUE(scene.WaitForPoseQueries(1, 10s));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusingRuntimeTest,
    ::testing::Values(
        Refusal{"HmdNotFound",
                [](sim::RuntimeScene& s) { s.RefuseConnections(vr::VRInitError_Init_HmdNotFound); },
                [](sim::RuntimeScene& s) { s.AcceptConnections(); },
                vr::VRInitError_Init_HmdNotFound},
        Refusal{
            "IpcFailed",
            [](sim::RuntimeScene& s) { s.RefuseConnections(vr::VRInitError_IPC_ServerInitFailed); },
            [](sim::RuntimeScene& s) { s.AcceptConnections(); },
            vr::VRInitError_IPC_ServerInitFailed},
        Refusal{"CodeUnknownToTheLibrary", [](sim::RuntimeScene& s) { s.RefuseConnections(1777); },
                [](sim::RuntimeScene& s) { s.AcceptConnections(); },
                static_cast<vr::EVRInitError>(1777)},
        // A runtime without IVRSystem_022: the library reports it as interface not found.
        Refusal{"WithoutIVRSystem022",
                [](sim::RuntimeScene& s) { s.SetSystemInterface(sim::SystemInterface::Withheld); },
                [](sim::RuntimeScene& s) { s.SetSystemInterface(sim::SystemInterface::Offered); },
                vr::VRInitError_Init_InterfaceNotFound},
        // Accepted, but no interface to relay from: a failed attempt like the others, not a
        // relay loop through a null pointer.
        Refusal{"IVRSystem022ClaimedButNotServed",
                [](sim::RuntimeScene& s) {
                    s.SetSystemInterface(sim::SystemInterface::ClaimedButNull);
                },
                [](sim::RuntimeScene& s) { s.SetSystemInterface(sim::SystemInterface::Offered); },
                vr::VRInitError_Init_InterfaceNotFound, "Stand-in runtime error (105)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenlark::test
