#include "tools/lux/model/photometry.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/lux/model/angles.h"
#include "tools/lux/scene/scene.h"

namespace lux {

// `text` as valid UTF-8: bytes that begin no valid sequence are taken as
// Latin-1, which is what files that are not UTF-8 mostly are. Reports and
// JSON need valid text; numbers are ASCII either way.
std::string valid_utf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    size_t n = b < 0x80                 ? 1
               : b >= 0xC2 && b <= 0xDF ? 2
               : b >= 0xE0 && b <= 0xEF ? 3
               : b >= 0xF0 && b <= 0xF4 ? 4
                                        : 0;
    for (size_t k = 1; k < n; ++k)
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) n = 0;
    // No overlong forms, no surrogates, nothing beyond U+10FFFF: the second
    // byte's range after E0, ED, F0 and F4 is narrower.
    if (n > 2) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) ||
          (b == 0xF0 && second < 0x90) || (b == 0xF4 && second > 0x8F))
        n = 0;
    }
    if (n > 0) {
      out.append(text, i, n);
      i += n;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
      ++i;
    }
  }
  return out;
}

namespace {

using namespace angles;
constexpr double kHorizon = kQuarterCircle;
constexpr double kKilolumen = 1000.0;
// A stated downward fraction this many percentage points from the table's.
constexpr double kDownwardTolerance = 0.02;

// ---- reading ----------------------------------------------------------------

std::string trimmed(std::string s) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0 || c == '\x1a'; };
  while (!s.empty() && blank(static_cast<unsigned char>(s.back()))) s.pop_back();
  size_t i = 0;
  while (i < s.size() && blank(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

std::vector<std::string> file_lines(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw Error(path.string() + ": cannot be opened");
  std::stringstream buffer;
  buffer << f.rdbuf();
  const std::string text = valid_utf8(buffer.str());
  std::vector<std::string> lines;
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

// A number the host's reader has already accepted; a comma may stand for
// the decimal point (EULUMDAT files from some countries).
double number_of(const std::string& text) {
  std::string s = trimmed(text);
  if (s.find('.') == std::string::npos) std::replace(s.begin(), s.end(), ',', '.');
  try {
    return std::stod(s);
  } catch (const std::exception&) {
    return 0.0;
  }
}

struct Token {
  std::string text;
  int line;
};

// Numbers split on white space (and commas, for IES) from line `first` on.
std::vector<Token> tokens_from(const std::vector<std::string>& lines, size_t first, bool commas) {
  std::vector<Token> out;
  for (size_t l = first; l < lines.size(); ++l) {
    std::string word;
    for (char ch : lines[l] + " ") {
      const bool sep = std::isspace(static_cast<unsigned char>(ch)) != 0 || ch == '\x1a' ||
                       (commas && ch == ',');
      if (!sep) {
        word += ch;
      } else if (!word.empty()) {
        out.push_back({word, static_cast<int>(l + 1)});
        word.clear();
      }
    }
  }
  return out;
}

// The intensities of `tokens` from `first` on: negative ones are noted.
void note_negatives(const std::vector<Token>& tokens, size_t first, size_t count,
                    PhotometricFile& f) {
  for (size_t i = first; i < first + count && i < tokens.size(); ++i) {
    const double v = number_of(tokens[i].text);
    if (v < 0) f.negatives.push_back({tokens[i].line, v});
  }
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string show(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%g", v);
  return s;
}

constexpr double kMetresPerFoot = 0.3048;
constexpr double kMetresPerMillimetre = 0.001;
// Two stated sizes closer than this (relatively) are the same: files print
// a circle's diameter twice, sometimes rounded differently.
constexpr double kSameSize = 1e-3;

bool same_size(double a, double b) {
  return std::fabs(a - b) <= kSameSize * std::max(std::fabs(a), std::fabs(b));
}

std::string metres_text(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.2f", v);
  return s;
}

// The value of an IES keyword with its [MORE] continuation lines, or "".
std::string keyword_value(const std::vector<std::pair<std::string, std::string>>& fields,
                          const std::vector<std::string>& names) {
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string key = upper(fields[i].first);
    if (std::find(names.begin(), names.end(), key) == names.end()) continue;
    std::string value = fields[i].second;
    for (size_t k = i + 1; k < fields.size() && upper(fields[k].first) == "MORE"; ++k)
      value += " " + fields[k].second;
    if (!value.empty()) return value;
  }
  return "";
}

// Identification, colour and power among an IES file's keywords. Colour
// temperature and rendering have no keyword of the format's own; the ones
// manufacturers add are taken where present.
void read_ies_luminaire(PhotometricFile& f, double watts) {
  LuminaireData& l = f.luminaire;
  l.manufacturer = keyword_value(f.fields, {"MANUFAC"});
  l.name = keyword_value(f.fields, {"LUMINAIRE"});
  l.catalogue = keyword_value(f.fields, {"LUMCAT"});
  l.lamp = keyword_value(f.fields, {"LAMP", "LAMPCAT"});
  l.report = keyword_value(f.fields, {"TEST", "TESTLAB"});
  l.date = keyword_value(f.fields, {"ISSUEDATE", "DATE", "TESTDATE"});
  l.colour_temperature =
      keyword_value(f.fields, {"_CCT", "CCT", "_COLORTEMP", "COLORTEMP", "_COLOURTEMP"});
  l.colour_rendering = keyword_value(f.fields, {"_CRI", "CRI", "_RA"});
  if (watts > 0) l.watts = watts;
}

void read_ies_header(const std::vector<std::string>& lines, PhotometricFile& f) {
  size_t tilt = lines.size();
  for (size_t i = 0; i < lines.size(); ++i)
    if (upper(trimmed(lines[i])).rfind("TILT", 0) == 0 && lines[i].find('=') != std::string::npos) {
      tilt = i;
      break;
    }
  const std::string first = lines.empty() ? "" : upper(trimmed(lines.front()));
  // "IESNA:LM-63-1995", "IESNA:LM-63-2002", and since 2019 "IES:LM-63-2019".
  const bool named = first.rfind("IESNA", 0) == 0 || first.rfind("IES:", 0) == 0;
  f.format_name = named ? "IES " + trimmed(lines.front()) : "IES LM-63-1986";
  for (size_t i = 0; i < tilt; ++i) {
    const std::string s = trimmed(lines[i]);
    if (s.empty() || s.front() != '[') continue;
    const size_t close = s.find(']');
    if (close == std::string::npos) continue;
    f.fields.emplace_back(s.substr(1, close - 1), trimmed(s.substr(close + 1)));
  }
  const std::string tilt_value = trimmed(lines[tilt].substr(lines[tilt].find('=') + 1));
  f.fields.emplace_back("TILT", tilt_value);

  const std::vector<Token> t = tokens_from(lines, tilt + 1, true);
  size_t k = 0;
  const auto next = [&] { return k < t.size() ? number_of(t[k++].text) : 0.0; };
  if (upper(tilt_value) == "INCLUDE") {
    next();
    const auto pairs = static_cast<size_t>(std::max(0.0, next()));
    k += 2 * pairs;
  }
  const double lamps = next(), lumens = next(), multiplier = next();
  const auto nv = static_cast<size_t>(next()), nh = static_cast<size_t>(next());
  const int type = static_cast<int>(next());
  const int units = static_cast<int>(next());
  const double width = next(), length = next(), height = next();
  const double ballast = next(), lamp_factor = next(), watts = next();
  const bool v2002 = f.format_name.find("2002") != std::string::npos ||
                     f.format_name.find("2019") != std::string::npos;

  f.type = type == 1 ? "C" : type == 2 ? "B" : "A";
  f.vertical_angles = static_cast<int>(nv);
  f.horizontal_angles = static_cast<int>(nh);
  f.absolute = lumens < 0;
  f.conversion = multiplier * ballast * (v2002 ? 1.0 : lamp_factor);
  f.lamp_sets.push_back({lamps, "", f.absolute ? 0.0 : lamps * lumens, "", "", watts});
  f.lamp_flux = f.absolute ? 0.0 : lamps * lumens;
  f.luminaire.opening = ies_opening(width, length, height, units == 1 ? kMetresPerFoot : 1.0);
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"number of lamps", show(lamps)},
           {"lumens per lamp", show(lumens)},
           {"candela multiplier", show(multiplier)},
           {"photometric type", f.type},
           {"units", units == 1 ? "feet" : "metres"},
           {"luminous width, length, height",
            show(width) + ", " + show(length) + ", " + show(height)},
           {"ballast factor", show(ballast)},
           {"input watts", show(watts)}})
    f.fields.emplace_back(name, value);

  read_ies_luminaire(f, watts);

  // A stated luminaire flux among the keywords.
  for (const auto& [key, value] : f.fields) {
    const std::string u = upper(key);
    if (u == "_ABSOLUTELUMENS" || u == "_TOTALLUMINAIRELUMENS" || u == "LUMINAIRELUMENS") {
      const double v = number_of(value);
      if (v > 0) {
        f.stated_output = v;
        f.stated_output_source = "[" + key + "]";
      }
    }
  }

  const size_t values = k + nv + nh;
  note_negatives(t, values, nv * nh, f);
  if (type == 2 && values + nv * nh <= t.size()) {
    PhotometricFile::TypeB b;
    for (size_t i = 0; i < nv; ++i) b.vertical.push_back(number_of(t[k + i].text));
    for (size_t i = 0; i < nh; ++i) b.horizontal.push_back(number_of(t[k + nv + i].text));
    for (size_t i = 0; i < nv * nh; ++i)
      b.candela.push_back(std::max(0.0, number_of(t[values + i].text)) * f.conversion);
    f.type_b = std::move(b);
  }
  if (type == 2) {
    f.symmetry = "type B (polar axis horizontal), lateral angles " +
                 show(number_of(t[k + nv].text)) + " to " +
                 show(number_of(t[k + nv + nh - 1].text));
    return;
  }
  const double h0 = nh > 0 ? number_of(t[k + nv].text) : 0;
  const double h1 = nh > 0 ? number_of(t[k + nv + nh - 1].text) : 0;
  f.stored_planes = nh == 1                 ? StoredPlanes::One
                    : h0 == 0 && h1 == 90   ? StoredPlanes::Quadrant
                    : h0 == 0 && h1 == 180  ? StoredPlanes::HalfC0
                    : h0 == 90 && h1 == 270 ? StoredPlanes::HalfC90
                                            : StoredPlanes::All;
  if (nh == 1)
    f.symmetry = "rotationally symmetric (one plane)";
  else if (h0 == 0 && h1 == 90)
    f.symmetry = "quadrant symmetric (C0-C90 stored)";
  else if (h0 == 0 && h1 == 180)
    f.symmetry = "symmetric about the C0-C180 plane (C0-C180 stored)";
  else if (h0 == 90 && h1 == 270)
    f.symmetry = "symmetric about the C90-C270 plane (C90-C270 stored)";
  else
    f.symmetry = "none (C" + show(h0) + "-C" + show(h1) + " stored)";
}

// EULUMDAT header lines, 1-based, with the names the format gives them.
const char* const kLdtFieldNames[] = {
    "company",
    "type indicator Ityp",
    "symmetry indicator Isym",
    "number of C-planes Mc",
    "distance between C-planes Dc",
    "number of intensities per C-plane Ng",
    "distance between intensities Dg",
    "measurement report",
    "luminaire name",
    "luminaire number",
    "file name",
    "date, user",
    "luminaire length or diameter (mm)",
    "luminaire width (mm)",
    "luminaire height (mm)",
    "luminous area length or diameter (mm)",
    "luminous area width (mm)",
    "luminous area height C0 (mm)",
    "luminous area height C90 (mm)",
    "luminous area height C180 (mm)",
    "luminous area height C270 (mm)",
    "downward flux fraction DFF (%)",
    "light output ratio LORL (%)",
    "conversion factor for intensities",
    "tilt during measurement (degrees)",
    "number of lamp sets",
};
constexpr size_t kLdtHeaderLines = sizeof kLdtFieldNames / sizeof kLdtFieldNames[0];
constexpr size_t kLdtLineSymmetry = 3, kLdtLinePlanes = 4, kLdtLineGammas = 6;
constexpr size_t kLdtLineDownward = 22, kLdtLineLor = 23, kLdtLineConversion = 24;
constexpr size_t kLdtLinesPerSet = 6;
constexpr size_t kLdtDirectRatios = 10;

void read_ldt_header(const std::vector<std::string>& lines, PhotometricFile& f) {
  f.format_name = "EULUMDAT";
  const auto line = [&](size_t n) { return n <= lines.size() ? trimmed(lines[n - 1]) : ""; };
  for (size_t n = 1; n <= kLdtHeaderLines; ++n)
    f.fields.emplace_back(kLdtFieldNames[n - 1], line(n));
  const int ityp = static_cast<int>(number_of(line(2)));
  const int isym = static_cast<int>(number_of(line(kLdtLineSymmetry)));
  const auto mc = static_cast<size_t>(number_of(line(kLdtLinePlanes)));
  const auto ng = static_cast<size_t>(number_of(line(kLdtLineGammas)));
  f.type = std::to_string(ityp) + (ityp == 1   ? " (point source, rotationally symmetric)"
                                   : ityp == 2 ? " (linear luminaire)"
                                   : ityp == 3 ? " (point source, other symmetry)"
                                               : "");
  static const char* const kSymmetry[] = {"none (all C-planes stored)",
                                          "rotationally symmetric (one plane)",
                                          "symmetric about the C0-C180 plane (C0-C180 stored)",
                                          "symmetric about the C90-C270 plane (C270-C0-C90 stored)",
                                          "quadrant symmetric (C0-C90 stored)"};
  f.symmetry = isym >= 0 && isym <= 4 ? kSymmetry[isym] : "unknown";
  static const StoredPlanes kStored[] = {StoredPlanes::All, StoredPlanes::One, StoredPlanes::HalfC0,
                                         StoredPlanes::HalfC90, StoredPlanes::Quadrant};
  f.stored_planes = isym >= 0 && isym <= 4 ? kStored[isym] : StoredPlanes::All;
  f.horizontal_angles = static_cast<int>(mc);
  f.vertical_angles = static_cast<int>(ng);
  f.stated_downward = number_of(line(kLdtLineDownward)) / kPercent;
  f.lor = number_of(line(kLdtLineLor)) / kPercent;
  f.conversion = number_of(line(kLdtLineConversion));

  const auto sets = static_cast<size_t>(number_of(line(kLdtHeaderLines)));
  for (size_t s = 0; s < sets; ++s) {
    const size_t at = kLdtHeaderLines + 1 + s * kLdtLinesPerSet;
    LampSet set{number_of(line(at)), line(at + 1), number_of(line(at + 2)),
                line(at + 3),        line(at + 4), number_of(line(at + 5))};
    const std::string n = "lamp set " + std::to_string(s + 1) + ": ";
    f.fields.emplace_back(n + "number of lamps", line(at));
    f.fields.emplace_back(n + "type", set.type);
    f.fields.emplace_back(n + "total flux (lm)", line(at + 2));
    f.fields.emplace_back(n + "colour", set.colour);
    f.fields.emplace_back(n + "colour rendering", set.rendering);
    f.fields.emplace_back(n + "watts with ballast", line(at + 5));
    f.lamp_sets.push_back(std::move(set));
  }
  LuminaireData& l = f.luminaire;
  l.manufacturer = line(1);
  l.report = line(8);
  l.name = line(9);
  l.catalogue = line(10);
  l.date = line(12);
  if (!f.lamp_sets.empty()) {
    l.lamp = f.lamp_sets.front().type;
    l.colour_temperature = f.lamp_sets.front().colour;
    l.colour_rendering = f.lamp_sets.front().rendering;
  }
  double watts = 0;
  for (const LampSet& set : f.lamp_sets) watts += std::max(0.0, set.watts);
  if (watts > 0) l.watts = watts;
  const double heights[4] = {number_of(line(18)), number_of(line(19)), number_of(line(20)),
                             number_of(line(21))};
  l.opening = ldt_opening(number_of(line(16)), number_of(line(17)), heights);

  // Only lamp set 1 scales the table; a negative lamp count marks absolute
  // photometry, whose flux line is the luminaire's own flux.
  if (!f.lamp_sets.empty()) {
    f.absolute = f.lamp_sets.front().count < 0;
    f.lamp_flux = f.lamp_sets.front().flux;
    f.stated_output = f.lamp_flux * (f.absolute ? 1.0 : *f.lor);
    f.stated_output_source =
        f.absolute ? "flux of lamp set 1 (absolute photometry)" : "flux of lamp set 1 x LORL";
  }
  const size_t angles_line = kLdtHeaderLines + kLdtLinesPerSet * sets + kLdtDirectRatios + 1;
  for (size_t n = angles_line - kLdtDirectRatios; n < angles_line; ++n)
    f.direct_ratios.push_back(number_of(line(n)));
  const std::vector<Token> t = tokens_from(lines, angles_line - 1, false);
  size_t stored = mc;
  if (isym == 1) stored = 1;
  if (isym == 2 || isym == 3) stored = mc / 2 + 1;
  if (isym == 4) stored = mc / 4 + 1;
  note_negatives(t, mc + ng, stored * ng, f);
}

// ---- integration -------------------------------------------------------------

double at(const refhost::ProfileTable& t, size_t h, size_t v) {
  return double(t.candela[h * t.vertical.size() + v]);
}

// Flux of the table between polar angles g0 < g1 (degrees) of band i,
// cell by cell around the circle; the band's values are interpolated to
// g0 and g1 linearly, as the host samples them.
double band_flux(const refhost::ProfileTable& t, size_t i, double g0, double g1) {
  const double ga = t.vertical[i], gb = t.vertical[i + 1];
  const double w0 = (g0 - ga) / (gb - ga), w1 = (g1 - ga) / (gb - ga);
  const double solid = std::cos(g0 * kDegToRad) - std::cos(g1 * kDegToRad);
  const auto value = [&](size_t h, double w) {
    return at(t, h, i) * (1 - w) + at(t, h, i + 1) * w;
  };
  const size_t nh = t.horizontal.size();
  if (nh == 1) return (value(0, w0) + value(0, w1)) / 2 * solid * 2 * kPi;
  double flux = 0;
  for (size_t j = 0; j < nh; ++j) {
    const size_t k = (j + 1) % nh;
    const double next = j + 1 < nh ? t.horizontal[j + 1] : t.horizontal[0] + kCircle;
    const double dc = (next - t.horizontal[j]) * kDegToRad;
    flux += (value(j, w0) + value(j, w1) + value(k, w0) + value(k, w1)) / 4 * solid * dc;
  }
  return flux;
}

double flux_between(const refhost::ProfileTable& t, double lo, double hi) {
  double flux = 0;
  for (size_t i = 0; i + 1 < t.vertical.size(); ++i) {
    const double g0 = std::max(lo, t.vertical[i]), g1 = std::min(hi, t.vertical[i + 1]);
    if (g1 > g0) flux += band_flux(t, i, g0, g1);
  }
  return flux;
}

// The intensity at the table's k-th polar angle in the half-plane at C:
// the stored value where C is a stored plane (or the table has one), the
// host's interpolation between planes otherwise.
double plane_value(const refhost::ProfileTable& t, size_t k, double c) {
  if (t.horizontal.size() == 1) return at(t, 0, k);
  for (size_t h = 0; h < t.horizontal.size(); ++h)
    if (std::fabs(std::fmod(t.horizontal[h], kCircle) - c) < 1e-9) return at(t, h, k);
  return double(refhost::sample_table(t, refhost::profile_direction(t.vertical[k], c)));
}

}  // namespace

LuminousOpening ies_opening(double width, double length, double height, double metres_per_unit) {
  using Kind = LuminousOpening::Kind;
  LuminousOpening o;
  o.width = std::fabs(width) * metres_per_unit;
  o.length = std::fabs(length) * metres_per_unit;
  o.height = std::fabs(height) * metres_per_unit;
  for (double& side : o.side_heights) side = height > 0 ? o.height : 0.0;
  const std::string lw = metres_text(o.length) + " x " + metres_text(o.width);
  const auto other = [&](const std::string& what) {
    o.kind = Kind::Other;
    o.description = what + " (luminous width " + metres_text(o.width) + ", length " +
                    metres_text(o.length) + ", height " + metres_text(o.height) + " m)";
    return o;
  };
  if (width == 0 && length == 0 && height == 0) {
    o.description = "point";
    return o;
  }
  if (width > 0 && length > 0 && height >= 0) {
    o.kind = height > 0 ? Kind::Box : Kind::Rectangle;
    o.description =
        height > 0 ? "rectangle with luminous sides " + lw + " x " + metres_text(o.height) + " m"
                   : "rectangle " + lw + " m";
    return o;
  }
  if (width < 0 && length < 0 && height > 0) {
    if (!same_size(width, length)) return other("vertical elliptic cylinder");
    o.kind = Kind::VerticalCylinder;
    o.description = "vertical cylinder " + metres_text(o.width) + " m across, " +
                    metres_text(o.height) + " m high";
    return o;
  }
  if (width < 0 && length < 0 && height == 0) {
    o.kind = same_size(width, length) ? Kind::Circle : Kind::Ellipse;
    o.description = o.kind == Kind::Circle ? "circle " + metres_text(o.width) + " m across"
                                           : "ellipse " + lw + " m";
    return o;
  }
  if (width < 0 && length < 0 && height < 0) {
    if (!same_size(width, length) || !same_size(width, height)) return other("ellipsoid");
    o.kind = Kind::Sphere;
    o.description = "sphere " + metres_text(o.width) + " m across";
    return o;
  }
  if (width < 0 && length > 0 && height < 0)
    return other("horizontal cylinder along the C0-C180 axis");
  if (width > 0 && length < 0 && height < 0)
    return other("horizontal cylinder along the C90-C270 axis");
  if (width < 0 && length == 0 && height < 0) return other("vertical disc facing C0");
  if (width == 0 && length < 0 && height < 0) return other("vertical disc facing C90");
  return other("sizes that match no shape of the format");
}

LuminousOpening ldt_opening(double length_mm, double width_mm, const double side_heights_mm[4]) {
  using Kind = LuminousOpening::Kind;
  LuminousOpening o;
  o.length = std::max(0.0, length_mm) * kMetresPerMillimetre;
  o.width = width_mm > 0 ? width_mm * kMetresPerMillimetre : o.length;
  for (int k = 0; k < 4; ++k) {
    o.side_heights[k] = std::max(0.0, side_heights_mm[k]) * kMetresPerMillimetre;
    o.height = std::max(o.height, o.side_heights[k]);
  }
  if (o.length == 0) {
    o = LuminousOpening{};
    o.description = "point";
    return o;
  }
  const bool sides = o.height > 0;
  if (width_mm <= 0) {
    o.kind = sides ? Kind::VerticalCylinder : Kind::Circle;
    o.description = sides ? "vertical cylinder " + metres_text(o.length) + " m across, " +
                                metres_text(o.height) + " m high"
                          : "circle " + metres_text(o.length) + " m across";
    return o;
  }
  const std::string lw = metres_text(o.length) + " x " + metres_text(o.width);
  o.kind = sides ? Kind::Box : Kind::Rectangle;
  o.description = sides
                      ? "rectangle with luminous sides " + lw + " x " + metres_text(o.height) + " m"
                      : "rectangle " + lw + " m";
  return o;
}

int format_of(const std::filesystem::path& path) {
  return upper(path.extension().string()) == ".LDT" ? 2 : 1;
}

PhotometricFile read_photometric_file(const std::filesystem::path& path, int format) {
  PhotometricFile f;
  f.path = path;
  f.format = format;
  std::string error;
  if (!refhost::read_profile_file(path.string(), format, f.table, error)) throw Error(error);
  const std::vector<std::string> lines = file_lines(path);
  if (format == 2)
    read_ldt_header(lines, f);
  else
    read_ies_header(lines, f);
  return f;
}

double zonal_flux(const refhost::ProfileTable& t) { return flux_between(t, 0.0, kHalfCircle); }

double zonal_downward_flux(const refhost::ProfileTable& t) {
  return flux_between(t, 0.0, kHorizon);
}

double zonal_flux_between(const refhost::ProfileTable& t, double from, double to) {
  return flux_between(t, from, to);
}

double zonal_flux(const PhotometricFile::TypeB& b) {
  const size_t nv = b.vertical.size(), nh = b.horizontal.size();
  if (nv < 2 || nh < 2) return 0;
  double flux = 0;
  for (size_t h = 0; h + 1 < nh; ++h)
    for (size_t v = 0; v + 1 < nv; ++v) {
      const auto c = [&](size_t i, size_t j) { return b.candela[i * nv + j]; };
      const double mean = (c(h, v) + c(h, v + 1) + c(h + 1, v) + c(h + 1, v + 1)) / 4;
      flux += mean *
              (std::sin(b.horizontal[h + 1] * kDegToRad) - std::sin(b.horizontal[h] * kDegToRad)) *
              (b.vertical[v + 1] - b.vertical[v]) * kDegToRad;
    }
  if (b.horizontal.front() >= 0) flux *= 2;
  if (b.vertical.front() >= 0) flux *= 2;
  return flux;
}

std::optional<Spread> plane_spread(const refhost::ProfileTable& t, double c_right,
                                   double fraction) {
  // The plane as one line of angles θ from −180 (the opposite half, left)
  // through 0 (nadir) to 180 (the half at c_right), at the table's own
  // polar angles: the intensity is linear between them.
  std::vector<double> theta, value;
  const double c_left = std::fmod(c_right + kHalfCircle, kCircle);
  for (size_t k = t.vertical.size(); k-- > 0;) {
    if (t.vertical[k] == 0) continue;
    theta.push_back(-t.vertical[k]);
    value.push_back(plane_value(t, k, c_left));
  }
  for (size_t k = 0; k < t.vertical.size(); ++k) {
    theta.push_back(t.vertical[k]);
    value.push_back(plane_value(t, k, c_right));
  }
  const auto peak = std::max_element(value.begin(), value.end());
  if (peak == value.end() || !(*peak > 0)) return std::nullopt;
  const double threshold = fraction * *peak;
  const auto p = static_cast<size_t>(peak - value.begin());
  const auto crossing = [&](size_t from, int step) -> std::optional<double> {
    const auto count = static_cast<std::ptrdiff_t>(value.size());
    for (size_t k = from; std::ptrdiff_t(k) + step < count && (step > 0 || k > 0);) {
      const size_t n = size_t(std::ptrdiff_t(k) + step);
      if (value[n] <= threshold) {
        const double w = (value[k] - threshold) / (value[k] - value[n]);
        return theta[k] + w * (theta[n] - theta[k]);
      }
      k = n;
    }
    return std::nullopt;
  };
  const auto hi = crossing(p, 1), lo = crossing(p, -1);
  if (!hi || !lo) return std::nullopt;
  Spread s;
  s.full = *hi - *lo;
  s.right = *hi;
  s.left = -*lo;
  return s;
}

ProfileSummary summarise(const PhotometricFile& f) {
  ProfileSummary s;
  const refhost::ProfileTable& t = f.table;
  const size_t nv = t.vertical.size();
  for (size_t h = 0; h < t.horizontal.size(); ++h)
    for (size_t v = 0; v < nv; ++v)
      if (at(t, h, v) > s.peak_cd) {
        s.peak_cd = at(t, h, v);
        s.peak_gamma = t.vertical[v];
        s.peak_c = t.horizontal[h];
      }
  s.flux = f.type_b ? zonal_flux(*f.type_b) : zonal_flux(t);
  const double table_flux = zonal_flux(t);
  s.downward = table_flux > 0 ? zonal_downward_flux(t) / table_flux : 0;
  // cd/klm relative to the lamps' flux; for absolute photometry relative to
  // the luminaire's own flux.
  const double reference = f.lamp_flux > 0 ? f.lamp_flux : s.flux;
  s.cd_per_klm_scale = reference > 0 ? kKilolumen / reference : 0;
  if (f.lamp_flux > 0 && !f.absolute) s.lor = s.flux / f.lamp_flux;
  if (f.stated_output && *f.stated_output > 0)
    s.stated_deviation = (s.flux - *f.stated_output) / *f.stated_output;
  for (int p = 0; p < 2; ++p) {
    s.beam[p] = plane_spread(t, p == 0 ? 0.0 : 90.0, kBeamFraction);
    s.field[p] = plane_spread(t, p == 0 ? 0.0 : 90.0, kFieldFraction);
  }

  char text[256];
  if (!(s.peak_cd > 0)) s.problems.push_back("the table is dark: every intensity is 0");
  // Lit but flat: angles that enclose no solid angle (a single γ) give any
  // intensity no flux, which a sum of 0 lm would hide.
  if (s.peak_cd > 0 && !(table_flux > 0)) {
    std::snprintf(text, sizeof text,
                  "the table is lit (%.1f cd) but its angles span no solid angle "
                  "(gamma %g to %g degrees), so it emits no flux",
                  s.peak_cd, double(t.vertical.front()), double(t.vertical.back()));
    s.problems.push_back(text);
  }
  if (s.stated_deviation && std::fabs(*s.stated_deviation) > kFluxTolerance) {
    std::snprintf(text, sizeof text,
                  "the file states %.1f lm (%s) but its table integrates to %.1f lm (%+.1f%%)",
                  *f.stated_output, f.stated_output_source.c_str(), s.flux,
                  kPercent * *s.stated_deviation);
    s.problems.push_back(text);
  }
  if (s.lor && *s.lor > 1 + kFluxTolerance) {
    std::snprintf(text, sizeof text,
                  "the table emits more than its lamps: %.1f lm from %.1f lm of lamps (LOR %.3f)",
                  s.flux, f.lamp_flux, *s.lor);
    s.problems.push_back(text);
  }
  if (f.stated_downward && s.flux > 0 && *f.stated_downward > 0 &&
      std::fabs(*f.stated_downward - s.downward) > kDownwardTolerance) {
    std::snprintf(text, sizeof text,
                  "the file states a downward flux fraction of %.1f%%, the table gives %.1f%%",
                  kPercent * *f.stated_downward, kPercent * s.downward);
    s.problems.push_back(text);
  }
  if (!f.negatives.empty()) {
    const auto worst = std::min_element(
        f.negatives.begin(), f.negatives.end(),
        [](const NegativeValue& a, const NegativeValue& b) { return a.value < b.value; });
    std::snprintf(
        text, sizeof text,
        "%zu negative intensities, read as 0 (first on line %d; the lowest %g on line %d)",
        f.negatives.size(), f.negatives.front().line, worst->value, worst->line);
    s.problems.push_back(text);
  }
  return s;
}

}  // namespace lux
