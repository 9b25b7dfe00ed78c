#include "metadata/Json.h"

#include <charconv>
#include <cmath>

namespace tunara::json {

namespace {

const std::string kEmptyString;
const std::vector<Value> kNoItems;

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Length of the valid UTF-8 sequence at `s`, 0 when it is not one.
size_t Utf8Length(std::string_view s) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || c > 0xF4 || s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i)
        if ((b(i) & 0xC0) != 0x80) return 0;
    if (c == 0xE0 && b(1) < 0xA0) return 0;   // overlong
    if (c == 0xED && b(1) >= 0xA0) return 0;  // a surrogate
    if (c == 0xF0 && b(1) < 0x90) return 0;   // overlong
    if (c == 0xF4 && b(1) >= 0x90) return 0;  // past U+10FFFF
    return n;
}

}  // namespace

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool Document(Value& out, std::string& error) {
        Blanks();
        bool ok = ParseValue(out, 0);
        Blanks();
        if (ok && pos_ != s_.size()) ok = Fail("text after the value");
        if (!ok) error = error_ + " at byte " + std::to_string(pos_);
        return ok;
    }

private:
    bool Fail(const char* what) {
        if (error_.empty()) error_ = what;
        return false;
    }
    void Blanks() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return Fail("an unknown word");
        pos_ += word.size();
        return true;
    }

    bool ParseValue(Value& v, int depth) {
        if (depth >= kMaxDepth) return Fail("nesting too deep");
        if (pos_ >= s_.size()) return Fail("the text ends where a value should be");
        switch (s_[pos_]) {
            case '{':
                return ParseObject(v, depth);
            case '[':
                return ParseArray(v, depth);
            case '"':
                v.kind_ = Value::Kind::String;
                return ParseString(v.text_);
            case 't':
                v.kind_ = Value::Kind::Bool;
                v.flag_ = true;
                return Literal("true");
            case 'f':
                v.kind_ = Value::Kind::Bool;
                return Literal("false");
            case 'n':
                v.kind_ = Value::Kind::Null;
                return Literal("null");
            default:
                return ParseNumber(v);
        }
    }

    bool ParseObject(Value& v, int depth) {
        v.kind_ = Value::Kind::Object;
        ++pos_;
        Blanks();
        if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
        for (;;) {
            Blanks();
            if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("a member without a quoted name");
            std::string key;
            if (!ParseString(key)) return false;
            Blanks();
            if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("a member without ':'");
            ++pos_;
            Blanks();
            v.members_.emplace_back(std::move(key), Value());
            if (!ParseValue(v.members_.back().second, depth + 1)) return false;
            Blanks();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
            return Fail("an object without '}'");
        }
    }

    bool ParseArray(Value& v, int depth) {
        v.kind_ = Value::Kind::Array;
        ++pos_;
        Blanks();
        if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
        for (;;) {
            Blanks();
            v.items_.emplace_back();
            if (!ParseValue(v.items_.back(), depth + 1)) return false;
            Blanks();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
            return Fail("an array without ']'");
        }
    }

    bool Hex4(uint32_t& unit) {
        if (s_.size() - pos_ < 4) return Fail("a short \\u escape");
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) return Fail("a bad \\u escape");
            unit = unit * 16 + uint32_t(d);
        }
        return true;
    }

    bool ParseString(std::string& out) {
        ++pos_;  // the opening quote
        for (;;) {
            if (pos_ >= s_.size()) return Fail("a string without its closing quote");
            const unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') return ++pos_, true;
            if (c < 0x20) return Fail("a control character in a string");
            if (c != '\\') {
                // Invalid UTF-8 is replaced rather than refused: one bad byte
                // should not cost the whole reply.
                const size_t n = Utf8Length(s_.substr(pos_));
                if (n == 0) {
                    AppendUtf8(out, 0xFFFD);
                    ++pos_;
                } else {
                    out.append(s_.substr(pos_, n));
                    pos_ += n;
                }
                continue;
            }
            if (++pos_ >= s_.size()) return Fail("a string ending in '\\'");
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t unit = 0;
                    if (!Hex4(unit)) return false;
                    if (unit >= 0xD800 && unit < 0xDC00 && s_.substr(pos_, 2) == "\\u") {
                        const size_t back = pos_;
                        pos_ += 2;
                        uint32_t low = 0;
                        if (!Hex4(low)) return false;
                        if (low >= 0xDC00 && low < 0xE000) {
                            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                            break;
                        }
                        pos_ = back;  // not a pair: the second escape stands alone
                    }
                    AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
                    break;
                }
                default:
                    return Fail("an unknown escape");
            }
        }
    }

    bool ParseNumber(Value& v) {
        const size_t start = pos_;
        auto digits = [&] {
            const size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            return pos_ > from;
        };
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '0')
            ++pos_;
        else if (!digits())
            return Fail("an unexpected character");
        if (pos_ < s_.size() && s_[pos_] == '.' && (++pos_, !digits()))
            return Fail("a number without digits after '.'");
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (!digits()) return Fail("a number without digits in its exponent");
        }
        v.kind_ = Value::Kind::Number;
        const auto r = std::from_chars(s_.data() + start, s_.data() + pos_, v.number_);
        // Out of range: the nearest a double holds is good enough for a reply.
        if (r.ec != std::errc()) v.number_ = s_[start] == '-' ? -HUGE_VAL : HUGE_VAL;
        return true;
    }

    std::string_view s_;
    size_t pos_ = 0;
    std::string error_;
};

const Value* Value::Find(std::string_view key) const {
    if (kind_ != Kind::Object) return nullptr;
    for (const auto& [name, value] : members_)
        if (name == key) return &value;
    return nullptr;
}

const std::string& Value::Str() const {
    return kind_ == Kind::String ? text_ : kEmptyString;
}

const std::vector<Value>& Value::Items() const {
    return kind_ == Kind::Array ? items_ : kNoItems;
}

bool Parse(std::string_view text, Value& out, std::string& error) {
    out = Value();
    Parser parser(text);
    if (parser.Document(out, error)) return true;
    out = Value();
    return false;
}

}  // namespace tunara::json
