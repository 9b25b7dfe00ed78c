#pragma once
// A JSON reader for web-service replies. Replies come from servers we do not
// control, so every input ends in a value or a reason, never a crash: nesting,
// size and numbers are bounded, and strings come back as valid UTF-8 (escaped
// surrogates that do not pair become U+FFFD).
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tunara::json {

inline constexpr int kMaxDepth = 64;

class Value {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind GetKind() const { return kind_; }
    bool IsObject() const { return kind_ == Kind::Object; }
    bool IsArray() const { return kind_ == Kind::Array; }

    // The member `key` of an object (the first of duplicates); null for a
    // missing key or a value that is not an object.
    const Value* Find(std::string_view key) const;
    // The string, or empty for any other kind.
    const std::string& Str() const;
    // The number, or `otherwise` for any other kind.
    double Number(double otherwise = 0) const {
        return kind_ == Kind::Number ? number_ : otherwise;
    }
    // An array's items; empty for any other kind.
    const std::vector<Value>& Items() const;

private:
    friend class Parser;
    Kind kind_ = Kind::Null;
    bool flag_ = false;
    double number_ = 0;
    std::string text_;
    std::vector<Value> items_;
    std::vector<std::pair<std::string, Value>> members_;
};

// Parses one JSON text (blanks around it allowed). On failure returns false
// with `error` saying what was wrong and at which byte.
bool Parse(std::string_view text, Value& out, std::string& error);

}  // namespace tunara::json
