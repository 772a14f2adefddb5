#include "sim/demo/csv_recorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/demo/pose_math.h"
#include "sim/demo/scene_motion.h"
#include "tests/demo/temp_dir.h"

namespace quenlark::demo {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    std::stringstream stream(row);
    for (std::string cell; std::getline(stream, cell, ',');) {
        cells.push_back(cell);
    }
    if (!row.empty() && row.back() == ',') {
        cells.emplace_back();
    }
    return cells;
}

FrameSample Sample(double time, bool reported) {
    FrameSample s;
    s.time = time;
    s.controller = RightHandPose(time);
    s.deviceReported = reported;
    // Numbers that do not print short, so that a lossy format would show.
    s.device.position[0] = 0.1 + time / 3;
    s.device.position[1] = 1.0 / 7;
    s.device.position[2] = -0.4000000000000001;
    s.device.rotation[0] = 0.966 * 0.7071067811865476;
    s.device.rotation[1] = -0.259;
    s.device.rotation[2] = 1e-17;
    s.device.rotation[3] = -0.0;
    s.inputs.fireClick = reported;
    s.inputs.fireValue = reported ? 1.0f : 0.0f;
    s.inputs.ejectMagClick = false;
    s.inputs.loadMagClick = true;
    return s;
}

TEST(CsvRecorder, WritesAHeaderAndOneExactRowPerFrame) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string error;
    auto recorder = CsvRecorder::Open(dir.File("session.csv"), error);
    ASSERT_NE(recorder, nullptr) << error;
    const std::vector<FrameSample> samples = {Sample(0.0, false), Sample(1.0 / 90, true),
                                              Sample(2.0 / 90, true)};
    for (const FrameSample& s : samples) {
        recorder->Write(s);
    }
    EXPECT_EQ(recorder->Rows(), 3u);
    ASSERT_TRUE(recorder->Finish(error)) << error;

    const auto lines = ReadLines(dir.File("session.csv"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], CsvRecorder::Header());
    const auto header = Cells(lines[0]);
    ASSERT_EQ(header.size(), 19u);
    EXPECT_EQ(header[0], "time_s");
    EXPECT_EQ(header[8], "device_x");
    EXPECT_EQ(header[15], "fire_click");
    EXPECT_EQ(header[18], "load_mag_click");

    for (std::size_t r = 0; r < samples.size(); ++r) {
        const auto cells = Cells(lines[r + 1]);
        ASSERT_EQ(cells.size(), header.size()) << lines[r + 1];
        const FrameSample& s = samples[r];
        const DevicePose controller = PositionAndRotation(s.controller);
        // Every number reads back to the very double that was written.
        EXPECT_EQ(std::stod(cells[0]), s.time);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(std::stod(cells[1 + i]), controller.position[i]);
        }
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(std::stod(cells[4 + i]), controller.rotation[i]);
        }
        if (s.deviceReported) {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(std::stod(cells[8 + i]), s.device.position[i]);
            }
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(std::stod(cells[11 + i]), s.device.rotation[i]);
            }
        } else {
            // No device pose yet: empty cells, not zeros that look like a pose.
            for (int i = 8; i < 15; ++i) {
                EXPECT_EQ(cells[i], "") << "column " << header[i];
            }
        }
        EXPECT_EQ(cells[15], s.inputs.fireClick ? "1" : "0");
        EXPECT_EQ(std::stod(cells[16]), s.inputs.fireValue);
        EXPECT_EQ(cells[17], "0");
        EXPECT_EQ(cells[18], "1");
    }
}

TEST(CsvRecorder, ReportsAFileItCannotCreate) {
    test::TempDir dir;
    std::string error;
    const std::string path = dir.File("missing-folder/session.csv");
    EXPECT_EQ(CsvRecorder::Open(path, error), nullptr);
    EXPECT_THAT(error, HasSubstr(path));
    EXPECT_THAT(error, HasSubstr("No such file or directory"));
}

// A full disk: the rows are lost, and Finish says so instead of passing the file off as
// complete.
TEST(CsvRecorder, ReportsWritesThatFail) {
    std::string error;
    auto recorder = CsvRecorder::Open("/dev/full", error);
    ASSERT_NE(recorder, nullptr) << error;
    for (int i = 0; i < 200; ++i) {
        recorder->Write(Sample(i / 90.0, true));
    }
    EXPECT_FALSE(recorder->Finish(error));
    EXPECT_THAT(error, HasSubstr("/dev/full"));
    EXPECT_THAT(error, HasSubstr("No space left on device"));
}

}  // namespace
}  // namespace quenlark::demo
