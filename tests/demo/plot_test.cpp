#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/demo/plot_trace.h"
#include "sim/demo/scene_motion.h"
#include "sim/demo/svg_plot.h"
#include "tests/demo/temp_dir.h"

namespace quenlark::demo {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

FrameSample Sample(int frame) {
    FrameSample s;
    s.time = frame / 90.0;
    s.controller = RightHandPose(s.time);
    s.deviceReported = frame >= 3;
    for (int i = 0; i < 3; ++i) {
        s.device.position[i] = s.controller.matrix[i][3] + 0.25 * s.controller.matrix[i][2];
    }
    s.device.rotation[0] = 1;
    return s;
}

// Presses of 21 frames starting at the frames given, on the input chosen.
void Press(std::vector<FrameSample>& frames, int start, bool InputStates::*input) {
    for (int f = start; f < start + 21 && f < static_cast<int>(frames.size()); ++f) {
        frames[f].inputs.*input = true;
        if (input == &InputStates::fireClick) {
            frames[f].inputs.fireValue = 1.0f;
        }
    }
}

std::vector<FrameSample> Session(int count) {
    std::vector<FrameSample> frames;
    for (int f = 0; f < count; ++f) {
        frames.push_back(Sample(f));
    }
    return frames;
}

TEST(PlotTrace, KeepsPressesAndReleasesOfEachInput) {
    auto frames = Session(400);
    Press(frames, 90, &InputStates::fireClick);
    Press(frames, 180, &InputStates::fireClick);
    Press(frames, 200, &InputStates::ejectMagClick);
    Press(frames, 390, &InputStates::loadMagClick);  // still held at the end
    PlotTrace trace;
    for (const auto& f : frames) {
        trace.Add(f);
    }

    const auto fire = trace.FirePresses();
    ASSERT_EQ(fire.size(), 2u);
    EXPECT_DOUBLE_EQ(fire[0].start, 90 / 90.0);
    EXPECT_DOUBLE_EQ(fire[0].end, 111 / 90.0);  // the first frame that reads released
    EXPECT_FALSE(fire[0].open);
    EXPECT_DOUBLE_EQ(fire[1].start, 180 / 90.0);
    ASSERT_EQ(trace.EjectMagPresses().size(), 1u);
    const auto load = trace.LoadMagPresses();
    ASSERT_EQ(load.size(), 1u);
    EXPECT_TRUE(load[0].open);
    EXPECT_DOUBLE_EQ(load[0].end, trace.EndTime());

    // The trigger's value: 0, 1 at each press, 0 at each release.
    const auto& steps = trace.FireValueSteps();
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].value, 0.0f);
    EXPECT_EQ(steps[1].value, 1.0f);
    EXPECT_DOUBLE_EQ(steps[1].time, 1.0);
    EXPECT_EQ(steps[2].value, 0.0f);
    EXPECT_EQ(trace.Frames(), 400u);
}

// A long session keeps at most the cap of points, spread evenly over the whole session.
TEST(PlotTrace, ThinsLongSessionsEvenly) {
    PlotTrace trace(100);
    const int frames = 90 * 60 * 10;  // ten minutes
    for (int f = 0; f < frames; ++f) {
        trace.Add(Sample(f));
    }
    const auto& points = trace.Points();
    ASSERT_LE(points.size(), 100u);
    ASSERT_GE(points.size(), 50u);
    EXPECT_DOUBLE_EQ(points.front().time, 0.0);
    EXPECT_GT(points.back().time, trace.EndTime() - 2 * (trace.EndTime() / points.size()));
    const double gap = points[1].time - points[0].time;
    for (std::size_t i = 1; i < points.size(); ++i) {
        EXPECT_NEAR(points[i].time - points[i - 1].time, gap, 1e-9) << i;
    }
}

// Tags open and close in order: enough to tell a browser will read the file as SVG.
bool WellFormed(const std::string& xml, std::string& why) {
    std::vector<std::string> open;
    for (std::size_t i = xml.find('<'); i != std::string::npos; i = xml.find('<', i + 1)) {
        const std::size_t end = xml.find('>', i);
        if (end == std::string::npos) {
            why = "unclosed tag at " + std::to_string(i);
            return false;
        }
        const std::string tag = xml.substr(i + 1, end - i - 1);
        if (tag.starts_with('?') || tag.starts_with('!') || tag.ends_with('/')) {
            continue;
        }
        const std::string name =
            tag.substr(tag.starts_with('/') ? 1 : 0,
                       tag.find_first_of(" \n") - (tag.starts_with('/') ? 1 : 0));
        if (tag.starts_with('/')) {
            if (open.empty() || open.back() != name) {
                why = "</" + name + "> closes " +
                      (open.empty() ? "nothing" : "<" + open.back() + ">");
                return false;
            }
            open.pop_back();
        } else {
            open.push_back(name);
        }
    }
    if (!open.empty()) {
        why = "<" + open.back() + "> never closed";
        return false;
    }
    return true;
}

struct Polyline {
    std::string group;
    std::vector<std::pair<double, double>> points;
};

// The path polylines, each with the name of the group it is drawn in.
std::vector<Polyline> PathPolylines(const std::string& svg) {
    std::vector<Polyline> lines;
    const std::regex group("<g class=\"path\" data-name=\"([^\"]+)\"");
    const std::regex polyline("<polyline points=\"([^\"]+)\"");
    std::string current;
    std::istringstream in(svg);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, group)) {
            current = m[1];
        } else if (line.starts_with("</g>")) {
            current.clear();
        } else if (!current.empty() && std::regex_search(line, m, polyline)) {
            Polyline p{current, {}};
            std::istringstream coords(m[1].str());
            for (std::string pair; coords >> pair;) {
                const auto comma = pair.find(',');
                p.points.emplace_back(std::stod(pair.substr(0, comma)),
                                      std::stod(pair.substr(comma + 1)));
            }
            lines.push_back(p);
        }
    }
    return lines;
}

TEST(SvgPlot, DrawsBothPathsInBothViewsAndTheTimeline) {
    auto frames = Session(8 * 90);  // one lap
    Press(frames, 90, &InputStates::fireClick);
    Press(frames, 180, &InputStates::fireClick);
    Press(frames, 300, &InputStates::ejectMagClick);
    Press(frames, 400, &InputStates::loadMagClick);
    PlotTrace trace;
    for (const auto& f : frames) {
        trace.Add(f);
    }
    const std::string svg = RenderSvgPlot(trace, {"Session <test> & more", "720 frames"});

    std::string why;
    EXPECT_TRUE(WellFormed(svg, why)) << why;
    EXPECT_THAT(svg, HasSubstr("<svg xmlns=\"http://www.w3.org/2000/svg\""));
    EXPECT_THAT(svg, HasSubstr("Session &lt;test&gt; &amp; more"));
    EXPECT_THAT(svg, Not(HasSubstr("<test>")));
    EXPECT_THAT(svg, HasSubstr("Seen from above"));
    EXPECT_THAT(svg, HasSubstr("Seen from the side"));
    EXPECT_THAT(svg, Not(HasSubstr("nan")));
    EXPECT_THAT(svg, Not(HasSubstr("inf")));

    // Two views, each with the controller's and the device's path; the device's path
    // starts at the first reported pose, so it has three points fewer.
    const auto lines = PathPolylines(svg);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].group, "right-hand controller");
    EXPECT_EQ(lines[1].group, "pistol (device)");
    EXPECT_EQ(lines[0].points.size(), frames.size());
    EXPECT_EQ(lines[1].points.size(), frames.size() - 3);
    for (const auto& line : lines) {
        for (const auto& [x, y] : line.points) {
            ASSERT_TRUE(x >= 0 && x <= 1000 && y >= 0 && y <= 560)
                << line.group << " " << x << "," << y;
        }
    }
    // Seen from above the eight is wide (x) and deep (z); from the side only deep (z) and
    // a little high (y): both drawn at one scale, so the side view is much flatter.
    auto extent = [](const Polyline& line, bool vertical) {
        double low = 1e9, high = -1e9;
        for (const auto& [x, y] : line.points) {
            low = std::min(low, vertical ? y : x);
            high = std::max(high, vertical ? y : x);
        }
        return high - low;
    };
    EXPECT_NEAR(extent(lines[0], false) / extent(lines[0], true),
                kFigureEightHalfWidth / kFigureEightHalfDepth, 0.05);
    EXPECT_NEAR(extent(lines[2], false), extent(lines[0], true), 0.5);  // z spans agree
    EXPECT_LT(extent(lines[2], true), extent(lines[2], false) / 2);

    // One bar per press on the timeline.
    std::size_t bars = 0;
    for (std::size_t at = svg.find("class=\"press\""); at != std::string::npos;
         at = svg.find("class=\"press\"", at + 1)) {
        ++bars;
    }
    EXPECT_EQ(bars, 4u);
    EXPECT_THAT(svg, HasSubstr("eject magazine pressed 3.333 s to 3.567 s"));
}

TEST(SvgPlot, AnEmptyOrBrokenSessionStillGivesAPicture) {
    PlotTrace empty;
    std::string why;
    const std::string none = RenderSvgPlot(empty, {});
    EXPECT_TRUE(WellFormed(none, why)) << why;
    EXPECT_THAT(none, HasSubstr("No frames were run."));
    EXPECT_TRUE(PathPolylines(none).empty());

    // A device that never moves and a controller pose that turns NaN half-way: the
    // picture has no NaN in it and breaks the controller's path where the NaN is.
    PlotTrace odd;
    for (int f = 0; f < 20; ++f) {
        FrameSample s = Sample(f);
        if (f == 10) {
            s.controller.matrix[0][3] = std::numeric_limits<double>::quiet_NaN();
        }
        for (double& v : s.device.position) {
            v = 0.5;
        }
        odd.Add(s);
    }
    const std::string svg = RenderSvgPlot(odd, {});
    EXPECT_TRUE(WellFormed(svg, why)) << why;
    EXPECT_THAT(svg, Not(HasSubstr("nan")));
    const auto lines = PathPolylines(svg);
    ASSERT_EQ(lines.size(), 6u);  // controller in two runs, device in one, per view
    EXPECT_EQ(lines[0].points.size(), 10u);
    EXPECT_EQ(lines[1].points.size(), 9u);
}

TEST(SvgPlot, WritesTheFileOrSaysWhy) {
    test::TempDir dir;
    PlotTrace trace;
    for (int f = 0; f < 90; ++f) {
        trace.Add(Sample(f));
    }
    std::string error;
    ASSERT_TRUE(WriteSvgPlot(dir.File("plot.svg"), trace, {}, error)) << error;
    std::ifstream in(dir.File("plot.svg"));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), RenderSvgPlot(trace, {}));

    EXPECT_FALSE(WriteSvgPlot(dir.File("no/such/folder.svg"), trace, {}, error));
    EXPECT_THAT(error, HasSubstr("no/such/folder.svg"));
    EXPECT_FALSE(WriteSvgPlot("/dev/full", trace, {}, error));
    EXPECT_THAT(error, HasSubstr("No space left on device"));
}

}  // namespace
}  // namespace quenlark::demo
