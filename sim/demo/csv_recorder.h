#pragma once
// The --record file: one CSV row per frame (time, controller pose, device pose, the four
// input states) under a header row. Numbers are written in their shortest form that reads
// back to the same double, so the file holds exactly what the session saw.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "sim/demo/frame_sample.h"

namespace quenlark::demo {

class CsvRecorder {
  public:
    // The header row, without its line end.
    static std::string_view Header();

    // Creates (or truncates) the file and writes the header; null with a message on failure.
    static std::unique_ptr<CsvRecorder> Open(const std::string& path, std::string& error);

    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    void Write(const FrameSample& sample);

    // Flushes and closes the file. False, with a message, when any write failed (a full
    // disk, say): a record with rows missing is never passed off as complete.
    bool Finish(std::string& error);

    std::size_t Rows() const { return rows_; }
    const std::string& Path() const { return path_; }

  private:
    CsvRecorder(std::FILE* file, std::string path);
    void Put(const std::string& text);

    std::FILE* file_;
    std::string path_;
    std::size_t rows_ = 0;
    int writeError_ = 0;  // errno of the first write that failed
};

}  // namespace quenlark::demo
