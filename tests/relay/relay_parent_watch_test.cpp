// orbelin's watch on its parent: the relay lives exactly as long as the process whose pidfd
// it inherited, also when it is still starting up or cannot get at the shared pose block.
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

std::size_t Count(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

class ParentWatch : public RelayFixture {};

TEST_F(ParentWatch, RelaysWhileTheParentRunsAndEndsCleanlyOnceItHasEnded) {
    scene.SetDevices(
        {sim::SceneController(2, sim::kRoleRightHand, sim::ScenePoseAt(1.0f, 2.0f, 3.0f))});
    auto relay = StartRelaying();
    const std::uint64_t queries = scene.PoseQueries();
    ASSERT_TRUE(scene.WaitForPoseQueries(queries + 1000, 10s));
    EXPECT_FALSE(relay->WaitForLine(kParentExited, 300ms));
    EXPECT_TRUE(relay->Running());

    parent.End();
    ASSERT_EQ(relay->WaitForExit(5s), 0);
    EXPECT_EQ(Count(relay->StatusTexts(), kParentExited), 1u);
    // The relay shut its connection down before it ended.
    EXPECT_EQ(scene.InitCalls(), 1u);
    EXPECT_EQ(scene.CleanupCalls(), 1u);
    EXPECT_EQ(relay->Stderr(), "");
}

// Values that name no pidfd of the relay: the watch says so at once, and the loop, once
// reached, ends at the start of its first pass. The runtime answers slowly, so the watch
// has certainly spoken by then.
TEST_F(ParentWatch, AValueThatNamesNoPidfdEndsTheRelayAtItsFirstPass) {
    scene.SetInitDelay(500ms);
    const char* values[] = {
        "999",         // no descriptor at all
        "0",           // standard input: /dev/null
        "1",           // standard output: a pipe, which would never poll readable
        "4294967296",  // beyond any descriptor number
    };
    std::uint64_t connections = 0;
    for (const char* value : values) {
        SCOPED_TRACE(value);
        auto relay = StartRelay(value);
        ASSERT_EQ(relay->WaitForExit(10s), 0) << ::testing::PrintToString(relay->StatusTexts());
        EXPECT_THAT(relay->StatusTexts(),
                    ::testing::UnorderedElementsAre(kBanner, kOpened, kInitialized, kParentExited));
        ++connections;
        EXPECT_EQ(scene.InitCalls(), connections);
        EXPECT_EQ(scene.CleanupCalls(), connections);
        EXPECT_EQ(scene.PoseQueries(), 0u);
    }
}

TEST_F(ParentWatch, AParentThatEndsWhileTheRelayConnectsEndsTheRelayAtItsFirstPass) {
    scene.SetInitDelay(1500ms);
    auto relay = StartRelay();
    ASSERT_TRUE(relay->WaitForLine(kOpened));
    parent.End();
    ASSERT_TRUE(relay->WaitForLine(kParentExited, 5s));
    ASSERT_EQ(relay->WaitForExit(10s), 0);
    EXPECT_EQ(scene.PoseQueries(), 0u);
    EXPECT_EQ(scene.CleanupCalls(), 1u);
}

// The retry pause does not outlast the parent.
TEST_F(ParentWatch, AParentThatEndsWhileTheRuntimeRefusesEndsTheRetries) {
    scene.RefuseConnections(vr::VRInitError_Init_HmdNotFound);
    auto relay = StartRelay();
    ASSERT_TRUE(relay->WaitForLine(
        kInitFailedPrefix +
        std::string(vr::VR_GetVRInitErrorAsEnglishDescription(vr::VRInitError_Init_HmdNotFound))))
        << ::testing::PrintToString(relay->StatusTexts());
    const auto ended = std::chrono::steady_clock::now();
    parent.End();
    ASSERT_EQ(relay->WaitForExit(10s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - ended, 1000ms);
    EXPECT_EQ(scene.InitCalls(), 1u);
    EXPECT_EQ(Count(relay->StatusTexts(), kInitialized), 0u);
}

// A host that died while it held the block's lock leaves the byte at 1; the relay spins on
// it, but only while its parent lives.
TEST_F(ParentWatch, ALockLeftHeldDoesNotKeepTheRelayAliveAfterTheParent) {
    LockRef(block->Block().lock).store(1, std::memory_order_seq_cst);
    auto relay = StartRelaying();
    ASSERT_TRUE(scene.WaitForPoseQueries(1, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(scene.PoseQueries(), 1u);  // stuck in the first publish
    EXPECT_TRUE(relay->Running());

    parent.End();
    ASSERT_EQ(relay->WaitForExit(5s), 0);
    EXPECT_EQ(scene.CleanupCalls(), 1u);
    EXPECT_TRUE(block->OutsideRecordUntouched());
}

}  // namespace
}  // namespace quenlark::test
