// The frame update's presses, on the static core: the pending button events are set from
// the test (as the link's notification handler sets them) and the component updates that
// frames send are compared with what each case expects, frame by frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "driver/controller_driver.h"
#include "driver/pending_button_events.h"
#include "tests/driver/driver_fixtures.h"

namespace quenlark {
namespace {

using sim::HostCall;
using Kind = HostCall::Kind;

enum class Button { Fire, Eject, Load };

std::atomic<bool>& Flag(Button button) {
    switch (button) {
        case Button::Fire:
            return PendingButtonEvents::fire;
        case Button::Eject:
            return PendingButtonEvents::ejectMag;
        case Button::Load:
            return PendingButtonEvents::loadMag;
    }
    return PendingButtonEvents::fire;
}

// A notification arriving before the given frame (frames count from 1).
struct Event {
    int frame;
    Button button;
};

// A component update seen in a frame: the component's path and the value sent.
struct Update {
    int frame;
    std::string path;
    double value;
    bool operator==(const Update&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Update& u) {
    return os << "frame " << u.frame << ' ' << u.path << '=' << u.value;
}

struct PressCase {
    const char* label;
    std::vector<Event> events;
    int frames;
    std::vector<Update> expected;
};

void PrintTo(const PressCase& c, std::ostream* os) {
    *os << c.label;
}

std::vector<Update> Press(int start, Button button) {
    switch (button) {
        case Button::Fire:
            return {{start, "/input/fire/click", 1.0}, {start, "/input/fire/value", 1.0}};
        case Button::Eject:
            return {{start, "/input/eject_mag/click", 1.0}};
        case Button::Load:
            return {{start, "/input/load_mag/click", 1.0}};
    }
    return {};
}

std::vector<Update> Release(int frame, Button button) {
    std::vector<Update> updates = Press(frame, button);
    for (Update& u : updates) {
        u.value = 0.0;
    }
    return updates;
}

std::vector<Update> Join(std::initializer_list<std::vector<Update>> parts) {
    std::vector<Update> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class Presses : public test::CoreDriver, public ::testing::WithParamInterface<PressCase> {
  protected:
    void SetUp() override {
        test::RemoveSharedPoseBlockName();
        CoreDriver::SetUp();
    }

    // The component handles Activate was given, by path.
    std::map<uint64_t, std::string> ComponentPaths() const {
        std::map<uint64_t, std::string> paths;
        for (const HostCall& call :
             test::CallsOf(host, {Kind::CreateBooleanComponent, Kind::CreateScalarComponent})) {
            paths[call.component] = call.text;
        }
        return paths;
    }

    // Runs the frames, setting each event's flag before its frame, and collects updates.
    std::vector<Update> Run(const std::vector<Event>& events, int frames) {
        const std::map<uint64_t, std::string> paths = ComponentPaths();
        std::vector<Update> updates;
        for (int frame = 1; frame <= frames; ++frame) {
            for (const Event& e : events) {
                if (e.frame == frame) {
                    Flag(e.button).exchange(true);
                }
            }
            host.ClearCalls();
            host.RunFrame();
            for (const HostCall& call :
                 test::CallsOf(host, {Kind::UpdateBooleanComponent, Kind::UpdateScalarComponent})) {
                EXPECT_EQ(call.timeOffset, 0.0);
                const auto path = paths.find(call.component);
                updates.push_back({frame, path != paths.end() ? path->second : "unknown component",
                                   call.kind == Kind::UpdateBooleanComponent
                                       ? (call.boolValue ? 1.0 : 0.0)
                                       : static_cast<double>(call.scalarValue)});
            }
        }
        return updates;
    }
};

TEST_P(Presses, SendPressAndReleaseOnTheExpectedFrames) {
    InitAndActivate(3);
    const PressCase& c = GetParam();
    EXPECT_THAT(Run(c.events, c.frames), ::testing::ElementsAreArray(c.expected));
    EXPECT_FALSE(PendingButtonEvents::fire.load()) << "every event seen was consumed or dropped";
    EXPECT_FALSE(PendingButtonEvents::ejectMag.load());
    EXPECT_FALSE(PendingButtonEvents::loadMag.load());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Presses,
    ::testing::Values(PressCase{"OneFireEventGivesTwentyOneFrames",
                                {{1, Button::Fire}},
                                30,
                                Join({Press(1, Button::Fire), Release(22, Button::Fire)})},
                      PressCase{"AnEventDuringThePressIsDropped",
                                {{1, Button::Fire}, {11, Button::Fire}},
                                40,
                                Join({Press(1, Button::Fire), Release(22, Button::Fire)})},
                      PressCase{"AnEventInTheReleaseFrameIsDropped",
                                {{1, Button::Fire}, {22, Button::Fire}},
                                40,
                                Join({Press(1, Button::Fire), Release(22, Button::Fire)})},
                      PressCase{"AnEventAfterTheReleaseStartsANewPress",
                                {{1, Button::Fire}, {23, Button::Fire}},
                                50,
                                Join({Press(1, Button::Fire), Release(22, Button::Fire),
                                      Press(23, Button::Fire), Release(44, Button::Fire)})},
                      PressCase{"SeveralEventsBeforeOneFrameCountAsOne",
                                {{4, Button::Eject}, {4, Button::Eject}, {4, Button::Eject}},
                                40,
                                Join({Press(4, Button::Eject), Release(25, Button::Eject)})},
                      PressCase{"LoadAlone",
                                {{2, Button::Load}},
                                30,
                                Join({Press(2, Button::Load), Release(23, Button::Load)})},
                      PressCase{"ThreePressesInOneFrameGoTriggerEjectLoad",
                                {{1, Button::Load}, {1, Button::Eject}, {1, Button::Fire}},
                                25,
                                Join({Press(1, Button::Fire), Press(1, Button::Eject),
                                      Press(1, Button::Load), Release(22, Button::Fire),
                                      Release(22, Button::Eject), Release(22, Button::Load)})},
                      PressCase{"ButtonsRunIndependently",
                                {{1, Button::Fire}, {5, Button::Eject}, {21, Button::Load}},
                                45,
                                Join({Press(1, Button::Fire), Press(5, Button::Eject),
                                      Press(21, Button::Load), Release(22, Button::Fire),
                                      Release(26, Button::Eject), Release(42, Button::Load)})},
                      PressCase{"NoEventsNoUpdates", {}, 25, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Presses, StateOfARunningPressIsKeptInTheDevice) {
    InitAndActivate(3);
    auto* device = static_cast<ControllerDriver*>(host.Device());
    PendingButtonEvents::fire = true;
    host.RunFrames(1);
    EXPECT_TRUE(device->firePressed);
    EXPECT_EQ(device->fireFrames, 0) << "the frame a press starts in does not count";
    host.RunFrames(20);
    EXPECT_TRUE(device->firePressed);
    EXPECT_EQ(device->fireFrames, 20);
    host.RunFrames(1);
    EXPECT_FALSE(device->firePressed);
    EXPECT_EQ(device->fireFrames, 0);
}

TEST_F(Presses, APressRunningAtDeactivationStillEndsOnTime) {
    InitAndActivate(3);
    const auto paths = ComponentPaths();
    PendingButtonEvents::ejectMag = true;
    host.RunFrames(5);
    host.Deactivate();
    activated = false;
    host.ClearCalls();
    host.RunFrames(16);
    EXPECT_TRUE(host.Calls(Kind::UpdateBooleanComponent).empty());
    host.RunFrame();  // frame 22 of the press
    const auto released = host.Calls(Kind::UpdateBooleanComponent);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(paths.at(released[0].component), "/input/eject_mag/click");
    EXPECT_FALSE(released[0].boolValue);
    EXPECT_TRUE(host.Calls(Kind::PoseUpdated).empty()) << "no pose once the block is closed";
}

}  // namespace
}  // namespace quenlark
