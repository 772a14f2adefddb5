#pragma once
// A private temporary folder per test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quenlark::demo::test {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quenlark-demo-test.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }
    bool ok() const { return !path_.empty(); }

  private:
    std::filesystem::path path_;
};

}  // namespace quenlark::demo::test
