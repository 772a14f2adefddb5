#include "sim/demo/session_summary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace quenlark::demo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Frames at 90 Hz with the inputs pressed on the frames the table gives.
SessionTally RunFrames(int frames, const std::vector<std::pair<int, InputStates>>& pressed) {
    SessionTally tally;
    for (int f = 0; f < frames; ++f) {
        FrameSample s;
        s.time = 2.0 + f / 90.0;  // the session's clock need not start at 0
        for (const auto& [frame, inputs] : pressed) {
            if (frame == f) {
                s.inputs = inputs;
            }
        }
        tally.AddFrame(s);
    }
    return tally;
}

TEST(SessionTally, CountsPressesOnceEachWhileHeld) {
    InputStates fire;
    fire.fireClick = true;
    fire.fireValue = 1;
    InputStates both;
    both.ejectMagClick = true;
    both.loadMagClick = true;
    // Fire held over frames 10 and 11 is one press; released at 12, pressed again at 13.
    SessionTally tally =
        RunFrames(91, {{10, fire}, {11, fire}, {13, fire}, {40, both}, {41, both}});
    const SessionSummary& s = tally.Summary();
    EXPECT_EQ(s.frames, 91);
    EXPECT_DOUBLE_EQ(s.seconds, 1.0);
    EXPECT_EQ(s.firePresses, 2);
    EXPECT_EQ(s.ejectPresses, 1);
    EXPECT_EQ(s.loadPresses, 1);
}

TEST(SessionTally, KeepsTheLargestPoseDifference) {
    SessionTally tally;
    DevicePose a, b;
    b.position[1] = 1e-12;
    tally.ComparePose(a, b);
    b.position[1] = 4e-10;
    tally.ComparePose(a, b);
    b.position[1] = 0;
    tally.ComparePose(a, b);
    EXPECT_EQ(tally.Summary().posesCompared, 3);
    EXPECT_DOUBLE_EQ(tally.Summary().largestPoseDifference, 4e-10);
    b.rotation[0] = std::numeric_limits<double>::quiet_NaN();
    tally.ComparePose(a, b);
    EXPECT_EQ(tally.Summary().largestPoseDifference, std::numeric_limits<double>::infinity());
}

SessionSummary Healthy() {
    SessionSummary s;
    s.frames = 1351;
    s.seconds = 15.0;
    s.shotsSent = s.firePresses = 14;
    s.ejectsSent = s.ejectPresses = 2;
    s.loadsSent = s.loadPresses = 1;
    s.posesCompared = 1340;
    s.largestPoseDifference = 0;
    s.relayPublicationsPerSecond = 250000;
    s.linkReadyAfter = 1.5;
    return s;
}

TEST(SessionSummary, AHealthySessionHasNoProblems) {
    EXPECT_THAT(SummaryProblems(Healthy()), IsEmpty());
}

TEST(SessionSummary, NamesEachProblem) {
    struct Case {
        const char* name;
        void (*spoil)(SessionSummary&);
        const char* problem;
    };
    const Case cases[] = {
        {"shot lost", [](SessionSummary& s) { s.firePresses = 13; },
         "shots: 14 sent but 13 presses seen"},
        {"extra eject", [](SessionSummary& s) { s.ejectPresses = 3; },
         "magazine ejects: 2 sent but 3 presses seen"},
        {"load lost", [](SessionSummary& s) { s.loadPresses = 0; },
         "magazine loads: 1 sent but 0 presses seen"},
        {"pose off", [](SessionSummary& s) { s.largestPoseDifference = 2e-9; },
         "differs from the composed pose by 2e-09"},
        {"pose NaN",
         [](SessionSummary& s) {
             s.largestPoseDifference = std::numeric_limits<double>::quiet_NaN();
         },
         "differs from the composed pose by nan"},
        {"no pose", [](SessionSummary& s) { s.posesCompared = 0; }, "reported no device pose"},
        {"slow relay", [](SessionSummary& s) { s.relayPublicationsPerSecond = 999; },
         "published 999 poses per second"},
        {"pistol out of reach",
         [](SessionSummary& s) {
             s.linkReadyAfter.reset();
             s.shotsSent = s.firePresses = s.ejectsSent = s.ejectPresses = 0;
             s.loadsSent = s.loadPresses = 0;
         },
         "the link never connected to the pistol"},
        {"relay left running", [](SessionSummary& s) { s.processesLeft = 1; },
         "1 of the session's processes still running"},
    };
    for (const Case& c : cases) {
        SessionSummary s = Healthy();
        c.spoil(s);
        const auto problems = SummaryProblems(s);
        ASSERT_EQ(problems.size(), 1u) << c.name;
        EXPECT_THAT(problems[0], HasSubstr(c.problem)) << c.name;
    }
    SessionSummary relaxed = Healthy();
    relaxed.relayPublicationsPerSecond = 500;
    EXPECT_THAT(SummaryProblems(relaxed, {1e-9, 100}), IsEmpty());
}

TEST(SessionSummary, PrintsEveryFigure) {
    SessionSummary s = Healthy();
    s.plotPath = "/tmp/session.svg";
    const std::string text = FormatSummary(s);
    EXPECT_THAT(text, HasSubstr("frames run                 1351 in 15.0 s (90.0 per second)"));
    EXPECT_THAT(text, HasSubstr("pistol link                connected and subscribed after 1.5 s"));
    EXPECT_THAT(text, HasSubstr("shots sent                 14, fire presses seen 14"));
    EXPECT_THAT(text, HasSubstr("magazine ejects sent       2, presses seen 2"));
    EXPECT_THAT(text, HasSubstr("magazine loads sent        1, presses seen 1"));
    EXPECT_THAT(text, HasSubstr("largest pose difference    0 ("));
    EXPECT_THAT(text, HasSubstr("relay publications         250000 per second"));
    EXPECT_THAT(text, HasSubstr("processes left running     none"));
    EXPECT_THAT(text, HasSubstr("plot written to            /tmp/session.svg"));
    EXPECT_THAT(text, Not(HasSubstr("recorded in")));

    s.pistol = false;
    s.linkReadyAfter.reset();
    s.posesCompared = 0;
    EXPECT_THAT(SummaryProblems(s), ElementsAre(HasSubstr("reported no device pose")))
        << "a session without a pistol needs no link";
    const std::string without = FormatSummary(s);
    EXPECT_THAT(without, HasSubstr("none (--no-pistol)"));
    EXPECT_THAT(without, Not(HasSubstr("shots sent")));
    EXPECT_THAT(without, Not(HasSubstr("pistol link")));
    EXPECT_THAT(without, HasSubstr("none compared"));
}

}  // namespace
}  // namespace quenlark::demo
