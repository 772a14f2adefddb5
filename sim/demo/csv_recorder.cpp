#include "sim/demo/csv_recorder.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "sim/demo/pose_math.h"

namespace quenlark::demo {
namespace {

constexpr std::string_view kHeader =
    "time_s,"
    "controller_x,controller_y,controller_z,controller_qw,controller_qx,controller_qy,controller_"
    "qz,"
    "device_x,device_y,device_z,device_qw,device_qx,device_qy,device_qz,"
    "fire_click,fire_value,eject_mag_click,load_mag_click";

void AppendNumber(std::string& row, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    row.append(buffer, result.ptr);
}

std::string Describe(const std::string& path, int error) {
    return "cannot write " + path + ": " + std::strerror(error);
}

}  // namespace

std::string_view CsvRecorder::Header() {
    return kHeader;
}

std::unique_ptr<CsvRecorder> CsvRecorder::Open(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = Describe(path, errno);
        return nullptr;
    }
    std::unique_ptr<CsvRecorder> recorder(new CsvRecorder(file, path));
    recorder->Put(std::string(kHeader) + "\n");
    return recorder;
}

CsvRecorder::CsvRecorder(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

CsvRecorder::~CsvRecorder() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void CsvRecorder::Write(const FrameSample& sample) {
    if (file_ == nullptr) {
        return;
    }
    std::string row;
    row.reserve(400);
    AppendNumber(row, sample.time);
    const DevicePose controller = PositionAndRotation(sample.controller);
    for (double v : controller.position) {
        row += ',';
        AppendNumber(row, v);
    }
    for (double v : controller.rotation) {
        row += ',';
        AppendNumber(row, v);
    }
    // Before the driver's first pose report the device columns stay empty.
    for (double v : sample.device.position) {
        row += ',';
        if (sample.deviceReported) {
            AppendNumber(row, v);
        }
    }
    for (double v : sample.device.rotation) {
        row += ',';
        if (sample.deviceReported) {
            AppendNumber(row, v);
        }
    }
    row += sample.inputs.fireClick ? ",1," : ",0,";
    AppendNumber(row, sample.inputs.fireValue);
    row += sample.inputs.ejectMagClick ? ",1" : ",0";
    row += sample.inputs.loadMagClick ? ",1" : ",0";
    row += '\n';
    Put(row);
    ++rows_;
}

void CsvRecorder::Put(const std::string& text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() && writeError_ == 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
}

bool CsvRecorder::Finish(std::string& error) {
    if (file_ == nullptr) {
        error = "cannot write " + path_ + ": already closed";
        return false;
    }
    const bool writeFailed = writeError_ != 0 || std::ferror(file_) != 0;
    const int writeErrno = writeError_;
    errno = 0;
    const bool flushFailed = std::fflush(file_) != 0;
    const int flushErrno = errno;
    const bool closeFailed = std::fclose(file_) != 0;
    const int closeErrno = errno;
    file_ = nullptr;
    if (writeFailed || flushFailed || closeFailed) {
        const int cause = writeErrno != 0 ? writeErrno : flushFailed ? flushErrno : closeErrno;
        error = cause != 0 ? Describe(path_, cause) : "cannot write " + path_ + ": a write failed";
        return false;
    }
    return true;
}

}  // namespace quenlark::demo
