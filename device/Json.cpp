#include "device/Json.h"

#include "common/Text.h"

#include <atomic>

namespace device {

namespace {

// Deeply nested input must not exhaust the stack.
constexpr int kMaxDepth = 256;

class Parser {
public:
  explicit Parser(std::string_view s) : s_(s) {}

  std::optional<JsonValue> Document() {
    JsonValue v;
    SkipSpace();
    if (!Value(v, 0))
      return std::nullopt;
    SkipSpace();
    if (pos_ != s_.size())
      return std::nullopt;
    return v;
  }

private:
  void SkipSpace() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }

  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word)
      return false;
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue& v, int depth) {
    if (depth > kMaxDepth || pos_ >= s_.size())
      return false;
    char c = s_[pos_];
    if (c == '{')
      return Object(v, depth);
    if (c == '[')
      return Array(v, depth);
    if (c == '"') {
      v.kind = JsonValue::Kind::String;
      return String(v.text);
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      v.kind = JsonValue::Kind::Number;
      return Number(v.text);
    }
    if (Literal("true")) {
      v.kind = JsonValue::Kind::Bool;
      v.boolean = true;
      return true;
    }
    if (Literal("false")) {
      v.kind = JsonValue::Kind::Bool;
      return true;
    }
    if (Literal("null")) {
      v.kind = JsonValue::Kind::Null;
      return true;
    }
    return false;
  }

  bool Object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Object;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      std::string name;
      if (pos_ >= s_.size() || s_[pos_] != '"' || !String(name))
        return false;
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != ':')
        return false;
      ++pos_;
      SkipSpace();
      JsonValue member;
      if (!Value(member, depth + 1))
        return false;
      v.AddMember(std::move(name), std::move(member));
      SkipSpace();
      if (pos_ >= s_.size())
        return false;
      if (s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (s_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return false;
    }
  }

  bool Array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Array;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      JsonValue item;
      if (!Value(item, depth + 1))
        return false;
      v.items.push_back(std::move(item));
      SkipSpace();
      if (pos_ >= s_.size())
        return false;
      if (s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (s_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return false;
    }
  }

  bool Digits() {
    size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
      ++pos_;
    return pos_ > start;
  }

  bool Number(std::string& out) {
    size_t start = pos_;
    if (s_[pos_] == '-')
      ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0')
      ++pos_;
    else if (!Digits())
      return false;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!Digits())
        return false;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-'))
        ++pos_;
      if (!Digits())
        return false;
    }
    out = std::string(s_.substr(start, pos_ - start));
    return true;
  }

  bool Hex4(uint32_t& out) {
    if (pos_ + 4 > s_.size())
      return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      char c = s_[pos_++];
      out <<= 4;
      if (c >= '0' && c <= '9')
        out |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        out |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        out |= static_cast<uint32_t>(c - 'A' + 10);
      else
        return false;
    }
    return true;
  }

  bool String(std::string& out) {
    ++pos_; // opening quote
    while (pos_ < s_.size()) {
      unsigned char c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"')
        return true;
      if (c < 0x20)
        return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= s_.size())
        return false;
      char e = s_[pos_++];
      switch (e) {
      case '"':
      case '\\':
      case '/':
        out += e;
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
        uint32_t cp = 0;
        if (!Hex4(cp))
          return false;
        if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(pos_, 2) == "\\u") {
          size_t save = pos_;
          pos_ += 2;
          uint32_t low = 0;
          if (Hex4(low) && low >= 0xDC00 && low <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          else
            pos_ = save;
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
          cp = 0xFFFD; // a lone surrogate cannot be UTF-8
        text::AppendUtf8(out, cp);
        break;
      }
      default:
        return false;
      }
    }
    return false;
  }

  std::string_view s_;
  size_t pos_ = 0;
};

} // namespace

namespace {
std::atomic<uint64_t> nameComparisons{0};
}

uint64_t JsonNameComparisons() {
  return nameComparisons.load(std::memory_order_relaxed);
}

bool JsonValue::NameEqual::operator()(std::string_view a, std::string_view b) const {
  nameComparisons.fetch_add(1, std::memory_order_relaxed);
  return a == b;
}

const JsonValue* JsonValue::Member(std::string_view name) const {
  auto found = index_.find(name);
  return found == index_.end() ? nullptr : &members_[found->second].second;
}

bool JsonValue::AddMember(std::string name, JsonValue value) {
  auto [at, added] = index_.try_emplace(name, members_.size());
  if (!added)
    return false;
  members_.emplace_back(std::move(name), std::move(value));
  return true;
}

std::optional<JsonValue> ParseJson(std::string_view text) {
  return Parser(text).Document();
}

std::string GetValue(const std::string& query, const JsonValue* JSonValue) {
  if (!JSonValue || JSonValue->kind != JsonValue::Kind::Object)
    return {};
  const JsonValue* member = JSonValue->Member(query);
  if (!member)
    return {};
  switch (member->kind) {
  case JsonValue::Kind::String:
  case JsonValue::Kind::Number:
    return member->text;
  case JsonValue::Kind::Bool:
    return member->boolean ? "true" : "false";
  default:
    return {};
  }
}

} // namespace device
