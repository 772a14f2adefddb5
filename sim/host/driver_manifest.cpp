#include "sim/host/driver_manifest.h"

#include <cctype>
#include <cstdint>
#include <string_view>

namespace quenlark::sim {
namespace {

// Just enough JSON to walk the top level of an object and read one string member; the
// other values are skipped whatever they hold.
class JsonScanner {
  public:
    explicit JsonScanner(std::string_view text) : text_(text) {}

    bool Expect(char c) {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool Peek(char c) {
        SkipSpace();
        return pos_ < text_.size() && text_[pos_] == c;
    }

    bool AtEnd() {
        SkipSpace();
        return pos_ == text_.size();
    }

    bool ReadString(std::string& out) {
        out.clear();
        if (!Expect('"')) {
            return false;
        }
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= text_.size()) {
                return false;
            }
            switch (const char e = text_[pos_++]) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    uint32_t code = 0;
                    for (int i = 0; i < 4; ++i) {
                        if (pos_ >= text_.size() ||
                            !std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
                            return false;
                        }
                        const char h = text_[pos_++];
                        code = code * 16 +
                               static_cast<uint32_t>(
                                   std::isdigit(static_cast<unsigned char>(h))
                                       ? h - '0'
                                       : std::tolower(static_cast<unsigned char>(h)) - 'a' + 10);
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    // Skips one value of any kind; false when it is malformed.
    bool SkipValue(int depth = 0) {
        if (depth > 64) {
            return false;
        }
        SkipSpace();
        if (pos_ >= text_.size()) {
            return false;
        }
        std::string ignored;
        switch (text_[pos_]) {
            case '"':
                return ReadString(ignored);
            case '{':
                ++pos_;
                if (Expect('}')) {
                    return true;
                }
                do {
                    if (!ReadString(ignored) || !Expect(':') || !SkipValue(depth + 1)) {
                        return false;
                    }
                } while (Expect(','));
                return Expect('}');
            case '[':
                ++pos_;
                if (Expect(']')) {
                    return true;
                }
                do {
                    if (!SkipValue(depth + 1)) {
                        return false;
                    }
                } while (Expect(','));
                return Expect(']');
            default: {
                // A number or a literal: a run of the characters they are made of.
                const std::size_t start = pos_;
                while (pos_ < text_.size() &&
                       (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                        text_[pos_] == '-' || text_[pos_] == '+' || text_[pos_] == '.')) {
                    ++pos_;
                }
                return pos_ > start;
            }
        }
    }

  private:
    void SkipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    static void AppendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool UsableAsFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::optional<std::string> Fail(std::string* error, const char* why) {
    if (error != nullptr) {
        *error = why;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadManifestName(const std::string& manifestText, std::string* error) {
    JsonScanner json(manifestText);
    if (!json.Expect('{')) {
        return Fail(error, "the manifest is not a JSON object");
    }
    std::optional<std::string> name;
    if (!json.Expect('}')) {
        do {
            std::string key;
            if (!json.ReadString(key) || !json.Expect(':')) {
                return Fail(error, "the manifest is not valid JSON");
            }
            if (key == "name" && json.Peek('"')) {
                std::string value;
                if (!json.ReadString(value)) {
                    return Fail(error, "the manifest is not valid JSON");
                }
                name = value;
            } else if (!json.SkipValue()) {
                return Fail(error, "the manifest is not valid JSON");
            }
        } while (json.Expect(','));
        if (!json.Expect('}')) {
            return Fail(error, "the manifest is not valid JSON");
        }
    }
    if (!json.AtEnd()) {
        return Fail(error, "the manifest has text after its object");
    }
    if (!name) {
        return Fail(error, "the manifest names no driver (no \"name\" string)");
    }
    if (!UsableAsFileName(*name)) {
        return Fail(error, "the manifest's driver name cannot be a file name");
    }
    return name;
}

std::string DriverLibraryPath(const std::string& driverFolder, const std::string& name) {
    return driverFolder + "/bin/linux64/driver_" + name + ".so";
}

}  // namespace quenlark::sim
