#include "sim/host/json_value.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace quenlark::sim {
namespace {

constexpr int kMaxDepth = 64;

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool Document(JsonValue& out, std::string* error) {
        bool ok = Value(0, out);
        SkipSpace();
        if (ok && pos_ != text_.size()) {
            failure_ = "text after the value";
            ok = false;
        }
        if (!ok && error != nullptr) {
            *error = failure_ + " at offset " + std::to_string(pos_);
        }
        return ok;
    }

  private:
    bool Fail(const char* why) {
        failure_ = why;
        return false;
    }

    void SkipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    bool Take(char c) {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool TakeWord(std::string_view word) {
        if (text_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        return false;
    }

    bool Value(int depth, JsonValue& out) {
        if (depth > kMaxDepth) {
            return Fail("nested too deeply");
        }
        SkipSpace();
        if (pos_ >= text_.size()) {
            return Fail("unexpected end of text");
        }
        switch (text_[pos_]) {
            case '{':
                return ObjectValue(depth, out);
            case '[':
                return ArrayValue(depth, out);
            case '"': {
                std::string s;
                if (!String(s)) {
                    return false;
                }
                out = JsonValue(std::move(s));
                return true;
            }
            case 't':
                if (TakeWord("true")) {
                    out = JsonValue(true);
                    return true;
                }
                break;
            case 'f':
                if (TakeWord("false")) {
                    out = JsonValue(false);
                    return true;
                }
                break;
            case 'n':
                if (TakeWord("null")) {
                    out = JsonValue();
                    return true;
                }
                break;
            default:
                return Number(out);
        }
        return Fail("unknown literal");
    }

    bool ObjectValue(int depth, JsonValue& out) {
        ++pos_;
        JsonValue::Object members;
        if (!Take('}')) {
            do {
                SkipSpace();
                std::string key;
                if (!String(key)) {
                    return false;
                }
                if (!Take(':')) {
                    return Fail("expected ':'");
                }
                JsonValue value;
                if (!Value(depth + 1, value)) {
                    return false;
                }
                members.insert_or_assign(std::move(key), std::move(value));
            } while (Take(','));
            if (!Take('}')) {
                return Fail("expected ',' or '}'");
            }
        }
        out = JsonValue(std::move(members));
        return true;
    }

    bool ArrayValue(int depth, JsonValue& out) {
        ++pos_;
        JsonValue::Array elements;
        if (!Take(']')) {
            do {
                elements.emplace_back();
                if (!Value(depth + 1, elements.back())) {
                    return false;
                }
            } while (Take(','));
            if (!Take(']')) {
                return Fail("expected ',' or ']'");
            }
        }
        out = JsonValue(std::move(elements));
        return true;
    }

    bool Number(JsonValue& out) {
        const std::size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-')
            ++pos_;
        const std::size_t digits = pos_;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
        if (pos_ == digits || (text_[digits] == '0' && pos_ - digits > 1)) {
            return Fail("malformed number");
        }
        if (pos_ < text_.size() && text_[pos_] == '.') {
            const std::size_t fraction = ++pos_;
            while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
            if (pos_ == fraction)
                return Fail("malformed number");
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-'))
                ++pos_;
            const std::size_t exponent = pos_;
            while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
            if (pos_ == exponent)
                return Fail("malformed number");
        }
        const std::string number(text_.substr(start, pos_ - start));
        out = JsonValue(std::strtod(number.c_str(), nullptr));
        return true;
    }

    bool String(std::string& out) {
        if (pos_ >= text_.size() || text_[pos_] != '"') {
            return Fail("expected a string");
        }
        ++pos_;
        out.clear();
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return Fail("control character in a string");
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= text_.size())
                break;
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
                    std::optional<uint32_t> code = Hex4();
                    if (!code)
                        return false;
                    // A surrogate pair stands for one code point beyond the first plane.
                    if (*code >= 0xD800 && *code < 0xDC00 && TakeWord("\\u")) {
                        std::optional<uint32_t> low = Hex4();
                        if (!low || *low < 0xDC00 || *low >= 0xE000) {
                            return Fail("bad surrogate pair");
                        }
                        *code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
                    }
                    AppendUtf8(out, *code);
                    break;
                }
                default:
                    return Fail("unknown escape");
            }
        }
        return Fail("unterminated string");
    }

    std::optional<uint32_t> Hex4() {
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos_ >= text_.size()) {
                Fail("short \\u escape");
                return std::nullopt;
            }
            const char h = text_[pos_++];
            uint32_t digit = 0;
            if (h >= '0' && h <= '9')
                digit = static_cast<uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f')
                digit = static_cast<uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                digit = static_cast<uint32_t>(h - 'A' + 10);
            else {
                Fail("bad \\u escape");
                return std::nullopt;
            }
            code = code * 16 + digit;
        }
        return code;
    }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    static void AppendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string failure_;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
    const Object* object = AsObject();
    if (object == nullptr) {
        return nullptr;
    }
    const auto it = object->find(key);
    return it != object->end() ? &it->second : nullptr;
}

bool ParseJson(std::string_view text, JsonValue& value, std::string* error) {
    return Parser(text).Document(value, error);
}

}  // namespace quenlark::sim
