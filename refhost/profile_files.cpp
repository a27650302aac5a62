// Reading photometric files: IES LM-63 (format 1) and EULUMDAT (format 2)
// into a candela table in the light's space (γ from the light's −z axis, C
// from +x towards +y), expanded by the file's symmetry to the full circle.
//
// Real files bend their standards: lines of any length, values wrapped
// anywhere, CRLF, tabs, empty keywords, stray Latin-1 bytes, no keywords at
// all. The readers split numeric data on white space across lines and take
// what is unambiguous. What is not (a count that does not match the data, a
// value that is not a number, angles that do not ascend, sizes beyond any
// real measurement) is refused with the file's name and the line.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <string_view>

#include "refhost/profiles.h"

namespace refhost {

namespace {

// Bounds that no real measurement comes near: a tenth of a degree over a
// full circle, a table of four million values, a file of 16 MiB.
constexpr size_t kMaxAngles = 3601;
constexpr size_t kMaxValues = size_t(1) << 22;
constexpr size_t kMaxFileBytes = size_t(16) << 20;
constexpr size_t kMaxTiltPairs = kMaxAngles;
constexpr int kMaxLampSets = 20;  // the EULUMDAT format's own limit

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kRadToDeg = 180.0 / kPi;
constexpr double kCircle = 360.0;
constexpr double kHalfCircle = 180.0;
constexpr double kQuarterCircle = 90.0;
constexpr double kAngleEps = 1e-6;
constexpr double kKilolumen = 1000.0;  // EULUMDAT tables are in cd per 1000 lm

// Type B data is resampled onto a type C grid this fine (degrees).
constexpr double kResampleGammaStep = 0.25;
constexpr double kResampleCStep = 0.5;

constexpr int kIesTypeC = 1;
constexpr int kIesTypeA = 3;
constexpr int kIesVersion2002 = 2002;
constexpr int kIesVersion2019 = 2019;

// A refusal: the line it concerns and why.
struct Refusal {
  int line;
  std::string message;
};

[[noreturn]] void refuse(int line, std::string message) { throw Refusal{line, std::move(message)}; }

std::string show(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A decimal number, locale-independent; a leading '+' is allowed, and with
// `comma_decimal` a single ',' stands for the decimal point.
bool parse_number(std::string_view text, double& out, bool comma_decimal = false) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.size() > 64) return false;
  char buffer[65];
  text.copy(buffer, text.size());
  if (comma_decimal && text.find('.') == std::string_view::npos) {
    const size_t comma = text.find(',');
    if (comma != std::string_view::npos && text.find(',', comma + 1) == std::string_view::npos)
      buffer[comma] = '.';
  }
  double v = 0.0;
  const auto [end, ec] = std::from_chars(buffer, buffer + text.size(), v);
  if (ec != std::errc() || end != buffer + text.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// The file's lines, without their ends (LF, CRLF or a lone CR).
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

struct Token {
  std::string_view text;
  int line;  // 1-based
};

// Numbers split on white space (and commas, for IES) across lines.
class Tokens {
 public:
  Tokens(const std::vector<std::string_view>& lines, size_t first, bool comma_separates)
      : last_line_(static_cast<int>(lines.size())) {
    for (size_t l = first; l < lines.size(); ++l) {
      const std::string_view s = lines[l];
      size_t i = 0;
      while (i < s.size()) {
        while (i < s.size() && separator(s[i], comma_separates)) ++i;
        const size_t start = i;
        while (i < s.size() && !separator(s[i], comma_separates)) ++i;
        if (i > start) tokens_.push_back({s.substr(start, i - start), static_cast<int>(l + 1)});
      }
    }
  }

  size_t remaining() const { return tokens_.size() - next_; }
  // Line of the next token, or the file's last line when none is left.
  int line() const { return next_ < tokens_.size() ? tokens_[next_].line : last_line_; }

  double number(const std::string& what, bool comma_decimal = false) {
    if (next_ >= tokens_.size()) refuse(last_line_, "the file ends before the " + what);
    const Token& t = tokens_[next_++];
    double v = 0.0;
    if (!parse_number(t.text, v, comma_decimal))
      refuse(t.line,
             "the " + what + " \"" + std::string(t.text.substr(0, 40)) + "\" is not a number");
    return v;
  }

  // A whole number in [lo, hi].
  long whole(const std::string& what, long lo, long hi) {
    const int at = line();
    const double v = number(what);
    if (v != std::floor(v) || v < double(lo) || v > double(hi))
      refuse(at, "the " + what + " " + show(v) + " is not a whole number from " +
                     std::to_string(lo) + " to " + std::to_string(hi));
    return static_cast<long>(v);
  }

  // Refuses a file that announces more data than it holds, before anything
  // of that size is allocated.
  void expect(size_t count, const std::string& what) {
    if (remaining() < count)
      refuse(last_line_, "the file holds " + std::to_string(remaining()) + " values where the " +
                             what + " need " + std::to_string(count));
  }

  void expect_end(const std::string& what) {
    if (remaining() != 0)
      refuse(line(), std::to_string(remaining()) + " values more than the " + what + " announces");
  }

 private:
  static bool separator(char c, bool comma) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a' || (comma && c == ',');
  }
  std::vector<Token> tokens_;
  size_t next_ = 0;
  int last_line_;
};

// `count` angles, each within [lo, hi], strictly ascending.
std::vector<double> read_angles(Tokens& in, size_t count, const std::string& what, double lo,
                                double hi) {
  std::vector<double> angles;
  angles.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const int at = in.line();
    const double a = in.number(what);
    if (a < lo - kAngleEps || a > hi + kAngleEps)
      refuse(at, "the " + what + " " + show(a) + " lies outside " + show(lo) + " to " + show(hi));
    if (!angles.empty() && a <= angles.back())
      refuse(at,
             "the " + what + "s do not ascend (" + show(a) + " after " + show(angles.back()) + ")");
    angles.push_back(std::clamp(a, lo, hi));
  }
  return angles;
}

// `count` intensities times `scale`. Negative readings are measurement noise
// around a dark direction and read as 0.
// A value that overflows single precision once scaled is refused: stored
// as infinity it would make the light's arithmetic give darkness.
std::vector<float> read_values(Tokens& in, size_t count, double scale) {
  std::vector<float> values;
  values.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const int at = in.line();
    const double v = std::max(0.0, in.number("luminous intensity")) * scale;
    if (!(v <= double(std::numeric_limits<float>::max())))
      refuse(at, "the luminous intensity " + show(v / scale) + " times the multiplier " +
                     show(scale) + " lies beyond single precision");
    values.push_back(static_cast<float>(v));
  }
  return values;
}

// Which part of the circle of C-planes a file stores; the rest follows by
// mirroring.
enum class Symmetry {
  None,      // all planes stored
  Axial,     // one plane stands for every C
  Quadrant,  // C0–C90, mirrored about the C0–C180 and the C90–C270 planes
  HalfC0,    // C0–C180, mirrored about the C0–C180 plane (C → −C)
  HalfC90,   // one side of the C90–C270 plane (IES: C90–C180–C270, EULUMDAT:
             // C270–C0–C90), mirrored about that plane (C → 180° − C)
};

bool near(double a, double b) { return std::fabs(a - b) <= kAngleEps; }

// The full-circle table from the stored planes (rows of `vertical.size()`
// values, one per stored angle).
ProfileTable expand(std::vector<double> vertical, const std::vector<double>& stored,
                    const std::vector<float>& rows, Symmetry symmetry) {
  ProfileTable t;
  t.vertical = std::move(vertical);
  const size_t nv = t.vertical.size();
  if (symmetry == Symmetry::Axial) {
    t.horizontal = {0.0};
    t.candela.assign(rows.begin(), rows.begin() + std::ptrdiff_t(nv));
    return t;
  }
  if (symmetry == Symmetry::None) {
    t.horizontal = stored;
    t.candela = rows;
    return t;
  }
  struct Plane {
    double angle;
    size_t row;
  };
  std::vector<Plane> planes;
  const auto add = [&](double angle, size_t row) {
    angle = std::fmod(std::fmod(angle, kCircle) + kCircle, kCircle);
    if (angle > kCircle - kAngleEps) angle = 0.0;
    planes.push_back({angle, row});
  };
  for (size_t i = 0; i < stored.size(); ++i) {
    const double c = stored[i];
    add(c, i);
    switch (symmetry) {
      case Symmetry::Quadrant:
        add(kHalfCircle - c, i);
        add(kHalfCircle + c, i);
        add(kCircle - c, i);
        break;
      case Symmetry::HalfC0:
        add(kCircle - c, i);
        break;
      case Symmetry::HalfC90:
        add(kHalfCircle - c, i);
        break;
      default:
        break;
    }
  }
  std::stable_sort(planes.begin(), planes.end(),
                   [](const Plane& a, const Plane& b) { return a.angle < b.angle; });
  std::vector<Plane> unique;
  for (const Plane& p : planes)
    if (unique.empty() || !near(p.angle, unique.back().angle)) unique.push_back(p);
  if (near(unique.front().angle, 0.0)) unique.push_back({kCircle, unique.front().row});
  for (const Plane& p : unique) {
    t.horizontal.push_back(p.angle);
    t.candela.insert(t.candela.end(), rows.begin() + std::ptrdiff_t(p.row * nv),
                     rows.begin() + std::ptrdiff_t((p.row + 1) * nv));
  }
  return t;
}

std::string read_file(const std::string& path) {
  // A directory, FIFO or device has no size to check, and a FIFO or device
  // may never end: only regular files are read.
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    refuse(0, "is not a regular file");
  std::ifstream f(path, std::ios::binary);
  if (!f) refuse(0, "cannot be opened");
  f.seekg(0, std::ios::end);
  const std::streamoff size = f.tellg();
  if (size < 0) refuse(0, "cannot be read");
  if (static_cast<size_t>(size) > kMaxFileBytes)
    refuse(0, "is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB");
  f.seekg(0, std::ios::beg);
  std::string text(static_cast<size_t>(size), '\0');
  if (!f.read(text.data(), size)) refuse(0, "cannot be read");
  return text;
}

// ---- IES LM-63 ---------------------------------------------------------------

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

int ies_version(const std::vector<std::string_view>& lines) {
  if (lines.empty()) return 0;
  const std::string first = upper(trim(lines.front()));
  // "IESNA:LM-63-1995", "IESNA:LM-63-2002"; since 2019 "IES:LM-63-2019", whose
  // field after the ballast factor is the file's generation type, not a
  // photometric factor.
  const bool named = first.rfind("IESNA", 0) == 0 || first.rfind("IES:", 0) == 0;
  if (!named) return 1986;  // the first format had no keywords line
  if (first.find("2019") != std::string::npos) return kIesVersion2019;
  if (first.find("2002") != std::string::npos) return kIesVersion2002;
  if (first.find("1995") != std::string::npos) return 1995;
  return 1991;
}

// The symmetry a type C file's horizontal angles imply.
Symmetry ies_symmetry(const std::vector<double>& h, int line) {
  const double first = h.front(), last = h.back();
  if (h.size() == 1) return Symmetry::Axial;
  if (near(first, 0.0) && near(last, kQuarterCircle)) return Symmetry::Quadrant;
  if (near(first, 0.0) && near(last, kHalfCircle)) return Symmetry::HalfC0;
  if (near(first, kQuarterCircle) && near(last, kHalfCircle + kQuarterCircle))
    return Symmetry::HalfC90;
  if (near(first, 0.0) && last > kHalfCircle) return Symmetry::None;
  refuse(line, "horizontal angles " + show(first) + " to " + show(last) +
                   " are none of the ranges 0, 0-90, 0-180, 90-270 or 0-360");
}

// Bilinear value of a type B table at latitude H and plane tilt V (degrees),
// mirrored where the file stores only the positive half; 0 outside.
double type_b_value(const std::vector<double>& v_angles, const std::vector<double>& h_angles,
                    const std::vector<float>& rows, double h, double v) {
  if (h_angles.front() >= 0.0) h = std::fabs(h);
  if (v_angles.front() >= 0.0) v = std::fabs(v);
  const auto bracket = [](const std::vector<double>& a, double x, size_t& i, double& w) {
    if (x < a.front() - kAngleEps || x > a.back() + kAngleEps) return false;
    i = 0;
    w = 0.0;
    if (a.size() == 1) return true;
    x = std::clamp(x, a.front(), a.back());
    i = size_t(std::upper_bound(a.begin(), a.end(), x) - a.begin());
    i = std::min(i == 0 ? 0 : i - 1, a.size() - 2);
    w = std::clamp((x - a[i]) / (a[i + 1] - a[i]), 0.0, 1.0);
    return true;
  };
  size_t hi = 0, vi = 0;
  double hw = 0.0, vw = 0.0;
  if (!bracket(h_angles, h, hi, hw) || !bracket(v_angles, v, vi, vw)) return 0.0;
  const size_t nv = v_angles.size();
  const size_t h1 = h_angles.size() > 1 ? hi + 1 : hi;
  const size_t v1 = nv > 1 ? vi + 1 : vi;
  const auto at = [&](size_t a, size_t b) { return double(rows[a * nv + b]); };
  const double lo = at(hi, vi) + (at(hi, v1) - at(hi, vi)) * vw;
  const double up = at(h1, vi) + (at(h1, v1) - at(h1, vi)) * vw;
  return lo + (up - lo) * hw;
}

// Type B photometry turns the luminaire about a horizontal axis: its polar
// axis is the light's x axis and its beam points down −z. A direction at
// latitude H (towards +x) in the plane tilted by V (towards +y) is
// (sin H, cos H sin V, −cos H cos V). The table is resampled onto a type C
// grid over the lower hemisphere, which is all that type B can describe.
ProfileTable resample_type_b(const std::vector<double>& v_angles,
                             const std::vector<double>& h_angles, const std::vector<float>& rows) {
  ProfileTable t;
  const auto n_gamma = static_cast<size_t>(std::lround(kQuarterCircle / kResampleGammaStep)) + 1;
  const auto n_c = static_cast<size_t>(std::lround(kCircle / kResampleCStep)) + 1;
  for (size_t i = 0; i < n_gamma; ++i) t.vertical.push_back(double(i) * kResampleGammaStep);
  for (size_t j = 0; j < n_c; ++j) t.horizontal.push_back(double(j) * kResampleCStep);
  t.candela.reserve(n_gamma * n_c);
  for (double c : t.horizontal)
    for (double gamma : t.vertical) {
      const double g = gamma * kDegToRad, a = c * kDegToRad;
      const double x = std::sin(g) * std::cos(a), y = std::sin(g) * std::sin(a);
      const double down = std::cos(g);
      const double h = std::asin(std::clamp(x, -1.0, 1.0)) * kRadToDeg;
      const double v = std::atan2(y, down) * kRadToDeg;
      t.candela.push_back(static_cast<float>(type_b_value(v_angles, h_angles, rows, h, v)));
    }
  return t;
}

ProfileTable read_ies(const std::vector<std::string_view>& lines) {
  size_t tilt_line = lines.size();
  for (size_t i = 0; i < lines.size(); ++i)
    if (upper(trim(lines[i])).rfind("TILT", 0) == 0 &&
        lines[i].find('=') != std::string_view::npos) {
      tilt_line = i;
      break;
    }
  if (tilt_line == lines.size())
    refuse(static_cast<int>(lines.size()), "no TILT= line: not an IES LM-63 file");
  const std::string_view tilt = trim(lines[tilt_line].substr(lines[tilt_line].find('=') + 1));
  Tokens in(lines, tilt_line + 1, true);

  // The lamp's tilt factors matter only when the luminaire is installed at
  // another tilt than it was measured at, which a profile does not know;
  // they are read past and checked, never applied.
  if (upper(tilt) == "INCLUDE") {
    in.number("lamp-to-luminaire geometry");
    const auto pairs = static_cast<size_t>(in.whole("number of tilt angles", 0, kMaxTiltPairs));
    in.expect(2 * pairs, "tilt angles and factors");
    // The angles ascend and the block ends its line: a block shorter or
    // longer than its count is named as such, not blamed on the header
    // fields it shifts.
    read_angles(in, pairs, "tilt angle", -kHalfCircle, kHalfCircle);
    int last = in.line();
    for (size_t i = 0; i < pairs; ++i) {
      last = in.line();
      in.number("tilt factor");
    }
    if (pairs > 0 && in.remaining() > 0 && in.line() == last)
      refuse(last, "the TILT block holds more values than its " + std::to_string(pairs) +
                       " angles and factors");
  }

  in.number("number of lamps");
  in.number("lumens per lamp");
  int at = in.line();
  const double multiplier = in.number("candela multiplier");
  if (multiplier <= 0.0)
    refuse(at, "the candela multiplier " + show(multiplier) + " is not positive");
  const auto nv = static_cast<size_t>(in.whole("number of vertical angles", 1, kMaxAngles));
  const auto nh = static_cast<size_t>(in.whole("number of horizontal angles", 1, kMaxAngles));
  if (nv * nh > kMaxValues)
    refuse(in.line(), "the table of " + std::to_string(nv * nh) + " values is too large");
  at = in.line();
  const long type = in.whole("photometric type", 1, 3);
  if (type == kIesTypeA) refuse(at, "photometric type A (automotive) is not supported");
  in.number("units type");
  in.number("luminous width");
  in.number("luminous length");
  in.number("luminous height");
  at = in.line();
  const double ballast = in.number("ballast factor");
  if (ballast <= 0.0) refuse(at, "the ballast factor " + show(ballast) + " is not positive");
  at = in.line();
  // Before 2002 this field was the ballast-lamp photometric factor; since
  // then it is reserved and carries no meaning.
  double lamp_factor = in.number("ballast-lamp photometric factor");
  if (ies_version(lines) >= kIesVersion2002) lamp_factor = 1.0;
  if (lamp_factor <= 0.0)
    refuse(at, "the ballast-lamp photometric factor " + show(lamp_factor) + " is not positive");
  in.number("input watts");

  in.expect(nv + nh + nv * nh, "angles and intensities the header announces");
  const bool type_c = type == kIesTypeC;
  const double v_lo = type_c ? 0.0 : -kQuarterCircle;
  const double v_hi = type_c ? kHalfCircle : kQuarterCircle;
  const double h_lo = type_c ? 0.0 : -kQuarterCircle;
  const double h_hi = type_c ? kCircle : kQuarterCircle;
  std::vector<double> vertical = read_angles(in, nv, "vertical angle", v_lo, v_hi);
  at = in.line();
  const std::vector<double> horizontal = read_angles(in, nh, "horizontal angle", h_lo, h_hi);
  // The multiplier scales the candela values; the lamp count and lumens do
  // not: with absolute photometry (−1 lm) the values are the luminaire's,
  // with relative photometry they already stand for the stated lamps.
  const std::vector<float> rows = read_values(in, nv * nh, multiplier * ballast * lamp_factor);
  in.expect_end("header");
  if (!type_c) return resample_type_b(vertical, horizontal, rows);
  return expand(std::move(vertical), horizontal, rows, ies_symmetry(horizontal, at));
}

// ---- EULUMDAT ------------------------------------------------------------------

// Header fields of an EULUMDAT file, one per line, 1-based.
constexpr size_t kLineSymmetry = 3;
constexpr size_t kLinePlanes = 4;
constexpr size_t kLineGammas = 6;
constexpr size_t kLineConversion = 24;
constexpr size_t kLineLampSets = 26;
constexpr size_t kLinesPerLampSet = 6;  // count, type, flux, colour, rendering, watts
constexpr size_t kDirectRatioLines = 10;

class LdtLines {
 public:
  explicit LdtLines(const std::vector<std::string_view>& lines) : lines_(lines) {}
  std::string_view text(size_t number, const std::string& what) const {
    if (number > lines_.size())
      refuse(static_cast<int>(lines_.size()),
             "the file ends before the " + what + " (line " + std::to_string(number) + ")");
    return lines_[number - 1];
  }
  double number(size_t number, const std::string& what) const {
    const std::string_view s = text(number, what);
    double v = 0.0;
    if (!parse_number(s, v, true))
      refuse(static_cast<int>(number),
             "the " + what + " \"" + std::string(trim(s).substr(0, 40)) + "\" is not a number");
    return v;
  }
  long whole(size_t number, const std::string& what, long lo, long hi) const {
    const double v = this->number(number, what);
    if (v != std::floor(v) || v < double(lo) || v > double(hi))
      refuse(static_cast<int>(number), "the " + what + " " + show(v) +
                                           " is not a whole number from " + std::to_string(lo) +
                                           " to " + std::to_string(hi));
    return static_cast<long>(v);
  }

 private:
  const std::vector<std::string_view>& lines_;
};

ProfileTable read_eulumdat(const std::vector<std::string_view>& lines) {
  const LdtLines ldt(lines);
  const long isym = ldt.whole(kLineSymmetry, "symmetry indicator", 0, 4);
  const auto mc = static_cast<size_t>(ldt.whole(kLinePlanes, "number of C-planes", 1, kMaxAngles));
  const auto ng =
      static_cast<size_t>(ldt.whole(kLineGammas, "number of gamma angles", 1, kMaxAngles));
  const double conversion = ldt.number(kLineConversion, "intensity conversion factor");
  if (conversion <= 0.0)
    refuse(int(kLineConversion),
           "the intensity conversion factor " + show(conversion) + " is not positive");
  const auto sets =
      static_cast<size_t>(ldt.whole(kLineLampSets, "number of lamp sets", 1, kMaxLampSets));
  // Only the first lamp set scales the table. A negative lamp count marks
  // absolute photometry, where the flux line holds the luminaire's flux;
  // the values stay in cd per 1000 lm of that flux, so the scaling is the
  // same.
  ldt.number(kLineLampSets + 1, "number of lamps of lamp set 1");
  const double flux = ldt.number(kLineLampSets + 3, "luminous flux of lamp set 1");
  if (flux <= 0.0)
    refuse(int(kLineLampSets + 3), "the luminous flux " + show(flux) + " lm is not positive");
  const size_t angles_line = kLineLampSets + kLinesPerLampSet * sets + kDirectRatioLines + 1;
  ldt.text(angles_line - 1, "direct ratios");

  // Which planes the symmetry indicator stores, as a run of the list of all
  // C angles that may wrap past its end: 1 one plane, 2 C0–C180, 4 C0–C90,
  // 3 the half symmetric about the C90–C270 plane that holds C0, from C270
  // (the plane 3·Mc/4 + 1, counting from 1) through C0 to C90. Reading that
  // run as C90–C270 instead would turn the light half a circle.
  size_t first = 0, count = mc;
  Symmetry symmetry = Symmetry::None;
  const int planes_line = int(kLinePlanes);
  switch (isym) {
    case 1:
      count = 1;
      symmetry = Symmetry::Axial;
      break;
    case 2:
      if (mc % 2 != 0) refuse(planes_line, std::to_string(mc) + " C-planes cannot be halved");
      count = mc / 2 + 1;
      symmetry = Symmetry::HalfC0;
      break;
    case 3:
      if (mc % 4 != 0) refuse(planes_line, std::to_string(mc) + " C-planes cannot be quartered");
      first = 3 * mc / 4;
      count = mc / 2 + 1;
      symmetry = Symmetry::HalfC90;
      break;
    case 4:
      if (mc % 4 != 0) refuse(planes_line, std::to_string(mc) + " C-planes cannot be quartered");
      count = mc / 4 + 1;
      symmetry = Symmetry::Quadrant;
      break;
    default:
      break;
  }
  if (count * ng > kMaxValues)
    refuse(planes_line, "the table of " + std::to_string(count * ng) + " values is too large");

  Tokens in(lines, angles_line - 1, false);
  in.expect(mc + ng + count * ng, "angles and intensities the header announces");
  const std::vector<double> all_c = read_angles(in, mc, "C angle", 0.0, kCircle);
  std::vector<double> gamma = read_angles(in, ng, "gamma angle", 0.0, kHalfCircle);
  const std::vector<float> rows = read_values(in, count * ng, flux / kKilolumen * conversion);
  in.expect_end("header");
  std::vector<double> stored(count);
  for (size_t i = 0; i < count; ++i) stored[i] = all_c[(first + i) % mc];
  if (isym == 1) return expand(std::move(gamma), {0.0}, rows, symmetry);
  return expand(std::move(gamma), stored, rows, symmetry);
}

}  // namespace

bool read_profile_file(const std::string& path, int format, ProfileTable& table,
                       std::string& error) {
  try {
    const std::string text = read_file(path);
    const std::vector<std::string_view> lines = split_lines(text);
    table = format == 1 ? read_ies(lines) : read_eulumdat(lines);
    return true;
  } catch (const Refusal& r) {
    error = r.line > 0 ? path + ":" + std::to_string(r.line) + ": " + r.message
                       : path + ": " + r.message;
  } catch (const std::bad_alloc&) {
    error = path + ": not enough memory for the table";
  }
  return false;
}

}  // namespace refhost
