#include "tests/support/json_check.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace ondevice::testing {
namespace {

constexpr int kMaximumDepth = 256;  // far beyond any record; keeps the recursion bounded

struct Malformed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void appendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// Length of the well-formed UTF-8 sequence at `at` (Unicode table 3-7), 0 when there is none.
size_t utf8SequenceLength(std::string_view s, size_t at) {
  const auto byte = [&](size_t i) -> unsigned {
    return at + i < s.size() ? static_cast<uint8_t>(s[at + i]) : 0x100;
  };
  const auto in = [](unsigned b, unsigned low, unsigned high) { return b >= low && b <= high; };
  const unsigned b0 = byte(0);
  if (b0 < 0x80) return 1;
  if (in(b0, 0xC2, 0xDF)) return in(byte(1), 0x80, 0xBF) ? 2 : 0;
  if (in(b0, 0xE0, 0xEF)) {
    const unsigned low = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned high = b0 == 0xED ? 0x9F : 0xBF;
    return in(byte(1), low, high) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
  }
  if (in(b0, 0xF0, 0xF4)) {
    const unsigned low = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned high = b0 == 0xF4 ? 0x8F : 0xBF;
    return in(byte(1), low, high) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

class Parser {
 public:
  Parser(std::string_view text, bool compact) : text_(text), compact_(compact) {}

  JsonValue document() {
    skipWhitespace();
    JsonValue value = parseValue(0);
    skipWhitespace();
    if (position_ != text_.size()) fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw Malformed(what + " at byte " + std::to_string(position_));
  }

  bool atEnd() const { return position_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[position_]; }

  void expect(char c) {
    if (atEnd() || text_[position_] != c) fail(std::string("expected '") + c + "'");
    ++position_;
  }

  void skipWhitespace() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
      if (compact_) fail("whitespace in compact JSON");
      ++position_;
    }
  }

  void literal(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) fail("unknown literal");
    position_ += word.size();
  }

  JsonValue parseValue(int depth) {
    if (depth > kMaximumDepth) fail("nesting too deep");
    JsonValue value;
    switch (peek()) {
      case '{':
        value.kind = JsonValue::Kind::object;
        parseObject(value, depth);
        break;
      case '[':
        value.kind = JsonValue::Kind::array;
        parseArray(value, depth);
        break;
      case '"':
        value.kind = JsonValue::Kind::string;
        value.text = parseString();
        break;
      case 't':
        literal("true");
        value.kind = JsonValue::Kind::boolean;
        value.boolean = true;
        break;
      case 'f':
        literal("false");
        value.kind = JsonValue::Kind::boolean;
        break;
      case 'n':
        literal("null");
        break;
      default:
        value.kind = JsonValue::Kind::number;
        parseNumber(value);
    }
    return value;
  }

  void parseObject(JsonValue& object, int depth) {
    expect('{');
    skipWhitespace();
    if (peek() == '}') {
      ++position_;
      return;
    }
    while (true) {
      skipWhitespace();
      if (peek() != '"') fail("expected a key");
      std::string key = parseString();
      if (object.find(key) != nullptr) fail("repeated key");
      skipWhitespace();
      expect(':');
      skipWhitespace();
      JsonValue member = parseValue(depth + 1);
      object.members.push_back(JsonMember{std::move(key), std::move(member)});
      skipWhitespace();
      if (peek() == ',') {
        ++position_;
        continue;
      }
      expect('}');
      return;
    }
  }

  void parseArray(JsonValue& array, int depth) {
    expect('[');
    skipWhitespace();
    if (peek() == ']') {
      ++position_;
      return;
    }
    while (true) {
      skipWhitespace();
      array.items.push_back(parseValue(depth + 1));
      skipWhitespace();
      if (peek() == ',') {
        ++position_;
        continue;
      }
      expect(']');
      return;
    }
  }

  uint32_t hex4() {
    if (position_ + 4 > text_.size()) fail("short \\u escape");
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[position_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        fail("bad \\u escape");
      }
    }
    return value;
  }

  std::string parseString() {
    expect('"');
    std::string out;
    while (true) {
      if (atEnd()) fail("unterminated string");
      const auto c = static_cast<uint8_t>(text_[position_]);
      if (c == '"') {
        ++position_;
        return out;
      }
      if (c < 0x20) fail("control character in a string");
      if (c >= 0x80) {
        const size_t length = utf8SequenceLength(text_, position_);
        if (length == 0) fail("invalid UTF-8");
        out.append(text_.substr(position_, length));
        position_ += length;
        continue;
      }
      ++position_;
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (atEnd()) fail("unterminated escape");
      const char e = text_[position_++];
      switch (e) {
        case '"':
          out.push_back('"');
          break;
        case '\\':
          out.push_back('\\');
          break;
        case '/':
          out.push_back('/');
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
          uint32_t unit = hex4();
          if (unit >= 0xDC00 && unit <= 0xDFFF) fail("lone low surrogate");
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (text_.substr(position_, 2) != "\\u") fail("lone high surrogate");
            position_ += 2;
            const uint32_t low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("high surrogate without low");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          }
          appendUtf8(out, unit);
          break;
        }
        default:
          fail("unknown escape");
      }
    }
  }

  void parseNumber(JsonValue& number) {
    const size_t start = position_;
    const auto digits = [&] {
      const size_t from = position_;
      while (!atEnd() && peek() >= '0' && peek() <= '9') ++position_;
      return position_ - from;
    };
    if (peek() == '-') ++position_;
    if (peek() == '0') {
      ++position_;
    } else if (digits() == 0) {
      fail("expected a value");
    }
    if (peek() == '.') {
      ++position_;
      if (digits() == 0) fail("no digits after the decimal point");
    }
    if (peek() == 'e' || peek() == 'E') {
      ++position_;
      if (peek() == '+' || peek() == '-') ++position_;
      if (digits() == 0) fail("no digits in the exponent");
    }
    number.text = std::string(text_.substr(start, position_ - start));
    number.number = std::strtod(number.text.c_str(), nullptr);
  }

  std::string_view text_;
  bool compact_;
  size_t position_ = 0;
};

// Keys strictly ascending at every level of objects (arrays included).
bool keysAscend(const JsonValue& value) {
  for (size_t i = 0; i < value.members.size(); ++i) {
    if (i > 0 && !(value.members[i - 1].key < value.members[i].key)) return false;
    if (!keysAscend(value.members[i].value)) return false;
  }
  for (const auto& item : value.items) {
    if (!keysAscend(item)) return false;
  }
  return true;
}

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& member : members) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

JsonParse parseJson(std::string_view text, bool compact) {
  JsonParse result;
  try {
    result.value = Parser(text, compact).document();
  } catch (const Malformed& e) {
    result.error = e.what();
  }
  return result;
}

std::string checkRecordLine(std::string_view stream) {
  if (stream.empty()) return "nothing was written";
  if (stream.back() != '\n') return "the record does not end in a line feed";
  const std::string_view line = stream.substr(0, stream.size() - 1);
  if (line.find('\n') != std::string_view::npos) return "more than one line";
  const JsonParse parsed = parseJson(line, /*compact=*/true);
  if (!parsed.value) return "not JSON: " + parsed.error;
  if (parsed.value->kind != JsonValue::Kind::object) return "not a JSON object";
  if (!keysAscend(*parsed.value)) return "keys out of order";
  return "";
}

bool isValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace ondevice::testing
