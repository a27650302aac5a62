#include "tools/lux/scene/scene_syntax.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

// One open object or list, with the keys an object has had so far.
struct Frame {
  bool object = false;
  bool want_key = false;                // an object, after '{' or ','
  std::map<std::string, size_t> lines;  // key, line it first appeared on
};

// Appends the UTF-8 form of a code point.
void append_utf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Scanner {
 public:
  Scanner(const std::string& text, const std::string& file) : text_(text), file_(file) {}

  // Walks the whole text; returns at the first thing that is not JSON.
  void run() {
    // A byte-order mark before the text is not part of it (the JSON reader
    // passes over it too).
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) at_ = 3;
    std::vector<Frame> stack;
    while (skip_space()) {
      const char c = text_[at_];
      const size_t start = at_;
      if (c == '{' || c == '[') {
        if (static_cast<int>(stack.size()) >= kMaxSceneNesting)
          fail(start, "values nest deeper than " + std::to_string(kMaxSceneNesting) + " levels");
        stack.push_back({c == '{', c == '{', {}});
        advance();
      } else if (c == '}' || c == ']') {
        if (stack.empty() || stack.back().object != (c == '}')) return;
        stack.pop_back();
        advance();
      } else if (c == ',') {
        if (!stack.empty() && stack.back().object) stack.back().want_key = true;
        advance();
      } else if (c == ':') {
        advance();
      } else if (c == '"') {
        std::string value;
        const size_t line = line_;
        if (!string(value)) return;
        if (!stack.empty() && stack.back().want_key) {
          Frame& f = stack.back();
          f.want_key = false;
          const auto [first, fresh] = f.lines.emplace(value, line);
          if (!fresh)
            fail(start, "the key \"" + value + "\" appears twice in one object (lines " +
                            std::to_string(first->second) + " and " + std::to_string(line) + ")");
        }
      } else if (c == '-' || (c >= '0' && c <= '9')) {
        number(start);
      } else if (c >= 'a' && c <= 'z') {
        while (at_ < text_.size() && text_[at_] >= 'a' && text_[at_] <= 'z') advance();
      } else {
        return;
      }
    }
  }

 private:
  [[noreturn]] void fail(size_t byte, const std::string& why) const {
    const TextPlace p = place_of(text_, byte);
    throw Error(file_ + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": " + why);
  }

  void advance() {
    if (text_[at_] == '\n') ++line_;
    ++at_;
  }

  // Skips white space and comments; false at the end of the text.
  bool skip_space() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        advance();
      } else if (c == '/' && at_ + 1 < text_.size() && text_[at_ + 1] == '/') {
        while (at_ < text_.size() && text_[at_] != '\n') advance();
      } else if (c == '/' && at_ + 1 < text_.size() && text_[at_ + 1] == '*') {
        const size_t end = text_.find("*/", at_ + 2);
        if (end == std::string::npos) return false;
        while (at_ < end + 2) advance();
      } else {
        return true;
      }
    }
    return false;
  }

  // A string with its escapes decoded, so that "\u0061" and "a" are one key.
  bool string(std::string& out) {
    advance();  // the opening quote
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        advance();
        return true;
      }
      if (c == '\n') return false;
      if (c != '\\') {
        out += c;
        advance();
        continue;
      }
      if (at_ + 1 >= text_.size()) return false;
      const char e = text_[at_ + 1];
      at_ += 2;
      switch (e) {
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
          unsigned long cp = 0;
          if (!hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
            at_ += 2;
            unsigned long low = 0;
            if (!hex4(low)) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          append_utf8(out, cp);
          break;
        }
        default:
          out += e;
      }
    }
    return false;
  }

  bool hex4(unsigned long& cp) {
    if (at_ + 4 > text_.size()) return false;
    char* end = nullptr;
    const std::string digits = text_.substr(at_, 4);
    cp = std::strtoul(digits.c_str(), &end, 16);
    if (end != digits.c_str() + 4) return false;
    at_ += 4;
    return true;
  }

  void number(size_t start) {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
        break;
      advance();
    }
    const std::string digits = text_.substr(start, at_ - start);
    errno = 0;
    const double v = std::strtod(digits.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(v))
      fail(start, "the number " + digits.substr(0, 40) + " lies beyond the range of a double");
  }

  const std::string& text_;
  const std::string& file_;
  size_t at_ = 0;
  size_t line_ = 1;
};

}  // namespace

TextPlace place_of(const std::string& text, size_t byte) {
  TextPlace p;
  for (size_t i = 0; i < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++p.line;
      p.column = 1;
    } else {
      ++p.column;
    }
  }
  return p;
}

void check_scene_syntax(const std::string& text, const std::string& file) {
  Scanner(text, file).run();
}

}  // namespace lux
