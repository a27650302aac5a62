#include "tools/lux/scene/input_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "tools/lux/scene/scene.h"

namespace lux {

namespace fs = std::filesystem;

namespace {

std::string mebibytes(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

void check_input_file(const fs::path& path, const std::string& what, size_t limit) {
  const std::string name = path.string();
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status))
    throw Error(name + ": cannot read " + what + ": " +
                (ec ? ec.message() : std::string("no such file")));
  if (!fs::is_regular_file(status))
    throw Error(name + ": cannot read " + what + ": not a regular file");
  const auto size = fs::file_size(path, ec);
  if (ec) throw Error(name + ": cannot read " + what + ": " + ec.message());
  if (size > limit) throw Error(name + ": " + what + " is larger than " + mebibytes(limit));
}

std::string read_input_file(const fs::path& path, const std::string& what, size_t limit) {
  check_input_file(path, what, limit);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(path.string() + ": cannot read " + what + ": " + std::strerror(errno));
  // Bounded again while reading: the file may grow after it was checked.
  return read_bounded(in, path.string(), what, limit);
}

std::string read_bounded(std::istream& in, const std::string& name, const std::string& what,
                         size_t limit) {
  std::string text;
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    const auto got = static_cast<size_t>(in.gcount());
    if (text.size() + got > limit)
      throw Error(name + ": " + what + " is larger than " + mebibytes(limit));
    text.append(buffer, got);
  }
  if (in.bad()) throw Error(name + ": cannot read " + what);
  return text;
}

std::string gigabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, bytes < 1e14 ? "%.1f GB" : "%.3g GB", bytes / 1e9);
  return text;
}

bool decimal_number(std::string_view t, double& value) {
  const auto digits = [&t](size_t at) {
    size_t end = at;
    while (end < t.size() && t[end] >= '0' && t[end] <= '9') ++end;
    return end;
  };
  size_t at = 0;
  if (at < t.size() && (t[at] == '+' || t[at] == '-')) ++at;
  const size_t number = at;
  size_t end = digits(at);
  bool any = end > at;
  if (end < t.size() && t[end] == '.') {
    const size_t fraction = digits(end + 1);
    any = any || fraction > end + 1;
    end = fraction;
  }
  if (!any) return false;
  if (end < t.size() && (t[end] == 'e' || t[end] == 'E')) {
    size_t e = end + 1;
    if (e < t.size() && (t[e] == '+' || t[e] == '-')) ++e;
    const size_t exponent_end = digits(e);
    if (exponent_end == e) return false;
    end = exponent_end;
  }
  if (end != t.size()) return false;
  // from_chars takes no '+' and reads the same digits in every locale.
  const auto [ptr, ec] = std::from_chars(t.data() + number, t.data() + end, value);
  if (ptr != t.data() + end) return false;
  if (ec == std::errc::result_out_of_range) {
    // Too small a magnitude is 0 within any length we use; too large is
    // refused.
    const size_t e = t.find_first_of("eE", number);
    if (e == std::string_view::npos || t[e + 1] != '-') return false;
    value = 0;
  } else if (ec != std::errc()) {
    return false;
  }
  if (t[0] == '-') value = -value;
  return std::isfinite(value);
}

std::string excerpt(std::string_view text) {
  std::string out;
  for (const char ch : text.substr(0, kExcerptLength)) {
    const auto c = static_cast<unsigned char>(ch);
    out += c >= 0x20 && c < 0x7f ? ch : '?';
  }
  if (text.size() > kExcerptLength) out += "...";
  return out;
}

bool valid_utf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80           ? 1
                     : (c >> 5) == 0x6  ? 2
                     : (c >> 4) == 0xE  ? 3
                     : (c >> 3) == 0x1E ? 4
                                        : 0;
    if (n == 0 || i + n > text.size()) return false;
    unsigned long cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      if ((t >> 6) != 0x2) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) return false;
    i += n;
  }
  return true;
}

std::string_view without_bom(std::string_view text) {
  constexpr std::string_view bom = "\xEF\xBB\xBF";
  return text.substr(0, bom.size()) == bom ? text.substr(bom.size()) : text;
}

bool lies_within(const fs::path& path, const fs::path& folder) {
  std::error_code ec;
  const fs::path file = fs::weakly_canonical(path, ec);
  if (ec) return false;
  const fs::path root = fs::weakly_canonical(folder.empty() ? fs::path(".") : folder, ec);
  if (ec) return false;
  // Compared element by element: "/data/scene-other" is not in "/data/scene".
  auto f = file.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++f) {
    if (r->empty()) continue;  // a trailing separator
    if (f == file.end() || *f != *r) return false;
  }
  return true;
}

}  // namespace lux
