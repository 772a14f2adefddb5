#pragma once
// A small JSON reader for the driver folder's files (the manifest, input profiles): parses
// a whole text into a tree of values. Strict enough to reject what the runtime's reader
// would reject; numbers are kept as doubles.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quenlark::sim {

class JsonValue {
  public:
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue, std::less<>>;

    JsonValue() = default;  // null
    explicit JsonValue(bool value) : value_(value) {}
    explicit JsonValue(double value) : value_(value) {}
    explicit JsonValue(std::string value) : value_(std::move(value)) {}
    explicit JsonValue(Array value) : value_(std::move(value)) {}
    explicit JsonValue(Object value) : value_(std::move(value)) {}

    bool IsNull() const { return std::holds_alternative<std::monostate>(value_); }
    const bool* AsBool() const { return std::get_if<bool>(&value_); }
    const double* AsNumber() const { return std::get_if<double>(&value_); }
    const std::string* AsString() const { return std::get_if<std::string>(&value_); }
    const Array* AsArray() const { return std::get_if<Array>(&value_); }
    const Object* AsObject() const { return std::get_if<Object>(&value_); }

    // A member of an object; null when this is no object or has no such member.
    const JsonValue* Find(std::string_view key) const;

  private:
    std::variant<std::monostate, bool, double, std::string, Array, Object> value_;
};

// Parses a whole text into value; false with error set (and the offset where it failed).
bool ParseJson(std::string_view text, JsonValue& value, std::string* error = nullptr);

}  // namespace quenlark::sim
