#include "sim/demo/terminal_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sim/demo/scene_motion.h"

namespace quenlark::demo {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Everything the view writes, through a memory stream.
class Capture {
  public:
    Capture() : file_(open_memstream(&data_, &size_)) {}
    ~Capture() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        std::free(data_);
    }
    std::FILE* file() { return file_; }
    std::string Text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

ViewState State(double elapsed) {
    ViewState s;
    s.elapsed = elapsed;
    s.duration = 15.0;
    s.linkState = "connected to Pistol";
    s.logLines = {"Device successfully connected.", "Received data: 91 0 0 0 0 93 END"};
    s.frame.time = elapsed;
    s.frame.controller = RightHandPose(elapsed);
    s.frame.deviceReported = true;
    s.frame.device.position[0] = 0.25;
    s.frame.device.position[1] = 1.05;
    s.frame.device.position[2] = -0.17;
    s.frame.device.rotation[0] = 0.966;
    s.frame.device.rotation[1] = -0.259;
    s.frames = static_cast<std::int64_t>(elapsed * 90) + 1;
    s.firePresses = 3;
    s.framesPerSecond = 90.0;
    s.relayPublicationsPerSecond = 183402;
    return s;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(TerminalView, ShowsLinkPosesInputsRatesAndLog) {
    const auto lines = TerminalView::Lines(State(3.0), 120);
    std::string all;
    for (const auto& line : lines) {
        all += line + "\n";
    }
    EXPECT_THAT(all, HasSubstr("3.0 s of 15.0 s"));
    EXPECT_THAT(all, HasSubstr("Link: connected to Pistol"));
    EXPECT_THAT(all, HasSubstr("right-hand controller"));
    // The device: position and its rotation (-30 degrees of pitch about x) beside the
    // controller's.
    EXPECT_THAT(
        all,
        HasSubstr("pistol (device)         +0.250  +1.050  -0.170         +0.0   -30.0    +0.0"));
    EXPECT_THAT(all, HasSubstr("presses: fire 3  eject 0  load 0"));
    EXPECT_THAT(all,
                HasSubstr("Frames: 271, 90.0 per second    Relay: 183402 publications per second"));
    EXPECT_THAT(all, HasSubstr("  Received data: 91 0 0 0 0 93 END"));
    // A fixed number of lines whatever the log holds, so a redraw covers the last one.
    EXPECT_EQ(lines.size(), 8 + TerminalView::kLogLinesShown);
    ViewState many = State(3.0);
    for (int i = 0; i < 20; ++i) {
        many.logLines.push_back("line " + std::to_string(i));
    }
    const auto manyLines = TerminalView::Lines(many, 120);
    EXPECT_EQ(manyLines.size(), lines.size());
    EXPECT_EQ(manyLines.back(), "  line 19");
}

TEST(TerminalView, PressedInputsStandOut) {
    ViewState s = State(1.0);
    const auto released = TerminalView::Lines(s, 120)[5];
    EXPECT_THAT(released, Not(HasSubstr("\x1b[7m")));
    s.frame.inputs.fireClick = true;
    s.frame.inputs.fireValue = 1.0f;
    s.frame.inputs.loadMagClick = true;
    const auto pressed = TerminalView::Lines(s, 120)[5];
    EXPECT_THAT(pressed, HasSubstr("\x1b[7m fire \x1b[0m"));
    EXPECT_THAT(pressed, HasSubstr("\x1b[7m value 1.00 \x1b[0m"));
    EXPECT_THAT(pressed, HasSubstr(" eject mag "));
    EXPECT_THAT(pressed, Not(HasSubstr("\x1b[7m eject mag")));
    EXPECT_THAT(pressed, HasSubstr("\x1b[7m load mag \x1b[0m"));
}

TEST(TerminalView, NoLineIsWiderThanTheTerminal) {
    ViewState s = State(2.0);
    s.logLines.push_back("Found device: " + std::string(300, 'x') + " (Address: 1)");
    s.logLines.push_back("Found device: Pistolé✓ (Address: 2)");
    for (int columns : {20, 40, 80}) {
        for (const auto& line : TerminalView::Lines(s, columns)) {
            std::string visible;
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '\x1b') {
                    while (i < line.size() &&
                           !(line[i] >= 0x40 && line[i] <= 0x7e && line[i] != '[')) {
                        ++i;
                    }
                    continue;
                }
                if ((static_cast<unsigned char>(line[i]) & 0xc0) != 0x80) {
                    visible += '.';
                }
            }
            EXPECT_LT(static_cast<int>(visible.size()), columns) << line;
        }
    }
}

TEST(TerminalView, FitToWidthCountsCharactersNotBytesOrEscapes) {
    EXPECT_EQ(FitToWidth("abcdef", 4), "abcd");
    EXPECT_EQ(FitToWidth("abc", 10), "abc");
    EXPECT_EQ(FitToWidth("éé✓✓x", 4), "éé✓✓");
    EXPECT_EQ(FitToWidth("\x1b[7mabc\x1b[0mdef", 4), "\x1b[7mabc\x1b[0md\x1b[0m");
    // Cut inside reversed text: the reset still comes, so the rest of the screen is plain.
    EXPECT_EQ(FitToWidth("\x1b[7mabcdef\x1b[0m", 2), "\x1b[7mab\x1b[0m");
}

TEST(TerminalView, LiveRedrawsInPlace) {
    Capture out;
    {
        TerminalView view(out.file(), true, 100);
        view.Update(State(0.0), 0.0);
        view.Update(State(0.01), 0.01);  // too soon: not drawn
        view.Update(State(0.05), 0.05);
        ViewState pressed = State(0.06);
        pressed.frame.inputs.ejectMagClick = true;
        view.Update(pressed, 0.06);  // an input changed: drawn at once
        view.Finish(State(0.07));
    }
    const std::string text = out.Text();
    const std::size_t lines = 8 + TerminalView::kLogLinesShown;
    EXPECT_EQ(Count(text, "Quenlark K7 simulated session"), 4u);
    // Each redraw goes back over the block drawn before it and clears what is left below.
    EXPECT_EQ(Count(text, "\x1b[" + std::to_string(lines) + "F"), 3u);
    EXPECT_EQ(Count(text, "\x1b[J"), 4u);
    EXPECT_EQ(Count(text, "\x1b[K\n"), 4 * lines);
    EXPECT_EQ(text.find("\x1b[?25l"), 0u);                // cursor hidden while drawing
    EXPECT_EQ(text.rfind("\x1b[?25h"), text.size() - 6);  // and given back at the end
    EXPECT_EQ(Count(text, "\x1b[?25h"), 1u);
}

TEST(TerminalView, WithoutATerminalOneLineASecond) {
    Capture out;
    {
        TerminalView view(out.file(), false, 100);
        for (int frame = 0; frame <= 3 * 90; ++frame) {
            view.Update(State(frame / 90.0), frame / 90.0);
        }
        // A stall of 2.5 s gives one line, not three.
        view.Update(State(5.5), 5.5);
        view.Finish(State(5.6));
        view.Finish(State(5.6));  // nothing new: not printed twice
    }
    const std::string text = out.Text();
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(Count(text, "\n"), 5u);  // at 1, 2, 3 and 5.5 s, and the last at the end
    EXPECT_THAT(
        text,
        HasSubstr(
            "[    1.0 s] frames 91 (90.0/s), relay 183402/s, link: connected to Pistol, device "
            "+0.250 +1.050 -0.170, presses: fire 3 eject 0 load 0, last log: Received data: 91 0 "
            "0 0 0 93 END\n"));

    ViewState early = State(0.5);
    early.frame.deviceReported = false;
    early.logLines.clear();
    const std::string line = TerminalView::StatusLine(early);
    EXPECT_THAT(line, HasSubstr("device: no pose yet"));
    EXPECT_THAT(line, Not(HasSubstr("last log")));
}

}  // namespace
}  // namespace quenlark::demo
