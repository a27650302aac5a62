#include "tools/lux/report/photometric_writer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "tools/lux/metrics/ugr_table.h"
#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

constexpr double kCircle = 360.0;
constexpr double kHalfCircle = 180.0;
constexpr double kQuarterCircle = 90.0;
constexpr double kHorizon = 90.0;
constexpr double kKilolumen = 1000.0;
constexpr double kPercent = 100.0;
constexpr double kMillimetresPerMetre = 1000.0;
constexpr double kSameAngle = 1e-6;

// IES LM-63-2019: photometric type C, sizes in metres, and the file
// generation type "undefined" — a converted file is neither a measurement
// nor a simulation the format could name.
constexpr int kIesTypeC = 1;
constexpr int kIesMetres = 2;
constexpr const char* kIesGenerationUndefined = "1.00001";
// Lines of an IES file stay within 256 characters: keyword values longer
// than this continue on [MORE] lines, numbers go ten to a line.
constexpr size_t kIesKeywordValue = 200;
constexpr size_t kValuesPerLine = 10;

// EULUMDAT type indicators and symmetry indicators.
constexpr int kLdtPointRotational = 1, kLdtPointOther = 3;
enum LdtSymmetry { kIsymNone = 0, kIsymAxial = 1, kIsymC0 = 2, kIsymC90 = 3, kIsymQuadrant = 4 };
// The C-planes an axially symmetric EULUMDAT file lists (its data is one
// plane): every 10°, as such files usually give.
constexpr int kAxialPlanes = 36;

std::string number(double v) {
  char s[64];
  std::snprintf(s, sizeof s, "%.6g", v);
  if (std::string(s).find('e') != std::string::npos) std::snprintf(s, sizeof s, "%.6f", v);
  return s;
}

double parsed(const std::string& text) { return std::stod(text); }

bool same(double a, double b) { return std::fabs(a - b) < kSameAngle; }

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string field(const PhotometricFile& f, const std::string& name) {
  for (const auto& [key, value] : f.fields)
    if (key == name) return value;
  return "";
}

// The stored value of the host's table at a stored plane and γ index.
double stored(const refhost::ProfileTable& t, double c, size_t v) {
  for (size_t h = 0; h < t.horizontal.size(); ++h)
    if (same(t.horizontal[h], c)) return double(t.candela[h * t.vertical.size() + v]);
  return double(refhost::sample_table(t, refhost::profile_direction(t.vertical[v], c)));
}

// The planes of the table between lo and hi (inclusive), ascending.
std::vector<double> planes_between(const refhost::ProfileTable& t, double lo, double hi) {
  std::vector<double> out;
  for (const double c : t.horizontal)
    if (c >= lo - kSameAngle && c <= hi + kSameAngle) out.push_back(c);
  return out;
}

// Numbers ten to a line, separated by spaces.
void put_values(std::ostringstream& out, const std::vector<double>& values) {
  for (size_t i = 0; i < values.size(); ++i)
    out << number(values[i])
        << ((i + 1) % kValuesPerLine == 0 || i + 1 == values.size() ? "\n" : " ");
}

void refuse_type_b(const PhotometricFile& f, const char* format) {
  if (f.type_b)
    throw Error(f.path.string() + ": type B photometry turns its planes about a horizontal axis; " +
                format +
                " is written with C-planes about the vertical axis, and the host holds this "
                "table resampled to them, which is not the measurement the file states");
}

bool tilt_included(const PhotometricFile& f) { return upper(field(f, "TILT")) == "INCLUDE"; }

// An IES file's TILT=INCLUDE block as it stands after the TILT line: the
// lamp-to-luminaire geometry, the count of tilt angles, the angles and the
// factors.
std::string tilt_block(const PhotometricFile& f) {
  std::ifstream in(f.path, std::ios::binary);
  std::string line;
  bool after = false;
  std::vector<std::string> words;
  while (std::getline(in, line)) {
    if (!after) {
      const std::string u = upper(line);
      after = u.find("TILT") != std::string::npos && u.find('=') != std::string::npos;
      continue;
    }
    for (char& c : line)
      if (c == ',' || c == '\r' || c == '\t') c = ' ';
    std::istringstream split(line);
    for (std::string w; split >> w;) words.push_back(w);
  }
  const size_t pairs = words.size() < 2 ? 0 : static_cast<size_t>(std::max(0.0, parsed(words[1])));
  if (words.size() < 2 + 2 * pairs)
    throw Error(f.path.string() + ": the TILT block cannot be read back");
  std::ostringstream out;
  out << words[0] << "\n" << words[1] << "\n";
  for (size_t group = 0; group < 2; ++group) {
    std::vector<double> values;
    for (size_t i = 0; i < pairs; ++i) values.push_back(parsed(words[2 + group * pairs + i]));
    put_values(out, values);
  }
  return out.str();
}

// ---- IES -------------------------------------------------------------------------

// The keyword block: the source's own keywords for an IES file (those the
// format requires added where missing), else the identification EULUMDAT
// gives, under the keywords that mean the same.
std::vector<std::pair<std::string, std::string>> ies_keywords(const PhotometricFile& f,
                                                              const std::string& source) {
  std::vector<std::pair<std::string, std::string>> k;
  const LuminaireData& l = f.luminaire;
  if (f.format == 1) {
    // Each keyword with its [MORE] lines joined, as the format reads them;
    // they are broken again where a value is long.
    for (const auto& [key, value] : f.fields) {
      if (key == "TILT") break;
      if (upper(key) == "MORE" && !k.empty())
        k.back().second += " " + value;
      else
        k.emplace_back(key, value);
    }
    k.erase(std::remove_if(k.begin(), k.end(),
                           [](const auto& kv) { return upper(kv.first) == "FILEGENINFO"; }),
            k.end());
  } else {
    k = {{"TEST", l.report},      {"TESTLAB", ""},
         {"ISSUEDATE", l.date},   {"MANUFAC", l.manufacturer},
         {"LUMCAT", l.catalogue}, {"LUMINAIRE", l.name},
         {"LAMP", l.lamp}};
    if (!l.colour_temperature.empty()) k.emplace_back("_CCT", l.colour_temperature);
    if (!l.colour_rendering.empty()) k.emplace_back("_CRI", l.colour_rendering);
  }
  // LM-63-2019 requires these four first.
  std::vector<std::pair<std::string, std::string>> ordered;
  for (const char* required : {"TEST", "TESTLAB", "ISSUEDATE", "MANUFAC"}) {
    std::string value;
    for (auto it = k.begin(); it != k.end(); ++it)
      if (upper(it->first) == required) {
        value = it->second;
        k.erase(it);
        break;
      }
    ordered.emplace_back(required, value);
  }
  ordered.insert(ordered.end(), k.begin(), k.end());
  ordered.emplace_back("FILEGENINFO", "converted by zel-lux from " + source);
  return ordered;
}

// A keyword and its value; a long value continues on [MORE] lines, broken
// at a space (which the reader puts back when it joins them).
void put_keyword(std::ostringstream& out, const std::string& key, const std::string& value) {
  std::string rest = value;
  std::string name = key;
  do {
    size_t cut = rest.size();
    if (cut > kIesKeywordValue) {
      cut = rest.rfind(' ', kIesKeywordValue);
      if (cut == std::string::npos || cut == 0) cut = kIesKeywordValue;
    }
    out << "[" << name << "]" << (cut > 0 ? " " + rest.substr(0, cut) : "") << "\n";
    rest = cut < rest.size() && rest[cut] == ' ' ? rest.substr(cut + 1) : rest.substr(cut);
    name = "MORE";
  } while (!rest.empty());
}

// IES luminous sizes in metres, signed as the format tells shapes apart.
struct IesSizes {
  double width = 0, length = 0, height = 0;
};
IesSizes ies_sizes(const PhotometricFile& f, std::vector<std::string>& notes) {
  using Kind = LuminousOpening::Kind;
  const LuminousOpening& o = f.luminaire.opening;
  switch (o.kind) {
    case Kind::Point:
      return {};
    case Kind::Rectangle:
      return {o.width, o.length, 0};
    case Kind::Box: {
      const double* h = o.side_heights;
      if (!(same(h[0], h[1]) && same(h[1], h[2]) && same(h[2], h[3])))
        notes.push_back("the luminous sides' heights differ (C0 " + number(h[0]) + ", C90 " +
                        number(h[1]) + ", C180 " + number(h[2]) + ", C270 " + number(h[3]) +
                        " m); IES gives one height, the largest: " + number(o.height) + " m");
      return {o.width, o.length, o.height};
    }
    case Kind::Circle:
    case Kind::Ellipse:
      return {-o.width, -o.length, 0};
    case Kind::VerticalCylinder:
      return {-o.width, -o.length, o.height};
    case Kind::Sphere:
      return {-o.width, -o.length, -o.height};
    case Kind::Other:
      break;
  }
  // A shape only IES names (read from an IES file): its sizes as stated.
  std::istringstream in(field(f, "luminous width, length, height"));
  IesSizes s;
  char comma = 0;
  in >> s.width >> comma >> s.length >> comma >> s.height;
  const double unit = field(f, "units") == "feet" ? 0.3048 : 1.0;
  return {s.width * unit, s.length * unit, s.height * unit};
}

// The planes IES stores for the file's symmetry.
std::vector<double> ies_planes(const PhotometricFile& f) {
  const refhost::ProfileTable& t = f.table;
  if (t.horizontal.size() == 1 || f.stored_planes == StoredPlanes::One) return {0.0};
  switch (f.stored_planes) {
    case StoredPlanes::Quadrant:
      return planes_between(t, 0, kQuarterCircle);
    case StoredPlanes::HalfC0:
      return planes_between(t, 0, kHalfCircle);
    case StoredPlanes::HalfC90:
      return planes_between(t, kQuarterCircle, kHalfCircle + kQuarterCircle);
    default:
      break;
  }
  std::vector<double> all = planes_between(t, 0, kCircle);
  // Without symmetry the format closes the circle: the last plane is 360,
  // the first one again.
  if (!all.empty() && same(all.front(), 0) && !same(all.back(), kCircle)) all.push_back(kCircle);
  return all;
}

std::string ies_text(const PhotometricFile& f, const std::string& source,
                     std::vector<std::string>& notes) {
  refuse_type_b(f, "IES");
  std::ostringstream out;
  out << "IES:LM-63-2019\n";
  for (const auto& [key, value] : ies_keywords(f, source)) put_keyword(out, key, value);
  if (tilt_included(f))
    out << "TILT=INCLUDE\n" << tilt_block(f);
  else
    out << "TILT=NONE\n";
  const LampSet lamps = f.lamp_sets.empty() ? LampSet{} : f.lamp_sets.front();
  const double count = std::max(1.0, std::fabs(lamps.count));
  // Relative photometry gives its lamps' flux, absolute photometry −1.
  const double per_lamp = f.absolute || !(f.lamp_flux > 0) ? -1.0 : f.lamp_flux / count;
  if (f.lamp_sets.size() > 1)
    notes.push_back(std::to_string(f.lamp_sets.size() - 1) +
                    " further lamp set(s) left out: IES gives one set of lamps (the first, which "
                    "scales the table)");
  const std::vector<double> planes = ies_planes(f);
  const std::vector<double>& gamma = f.table.vertical;
  const IesSizes size = ies_sizes(f, notes);
  out << number(count) << " " << number(per_lamp) << " 1 " << gamma.size() << " " << planes.size()
      << " " << kIesTypeC << " " << kIesMetres << " " << number(size.width) << " "
      << number(size.length) << " " << number(size.height) << "\n";
  out << "1 " << kIesGenerationUndefined << " " << number(f.luminaire.watts.value_or(0)) << "\n";
  put_values(out, gamma);
  put_values(out, planes);
  for (const double c : planes) {
    std::vector<double> row;
    for (size_t v = 0; v < gamma.size(); ++v)
      row.push_back(stored(f.table, std::fmod(c, kCircle), v));
    put_values(out, row);
  }
  return out.str();
}

// ---- EULUMDAT --------------------------------------------------------------------

// The full circle of C angles EULUMDAT lists for the stored planes and its
// symmetry indicator, or nullopt when the planes do not fall evenly into the
// quadrants the indicator's reading relies on (C90 at a quarter of the
// list, C180 at half, C270 at three quarters).
struct LdtPlanes {
  int isym = kIsymNone;
  std::vector<double> all;     // Mc angles, 0 ≤ C < 360
  std::vector<double> stored;  // in the file's order
};

std::optional<LdtPlanes> ldt_symmetric(const PhotometricFile& f) {
  const refhost::ProfileTable& t = f.table;
  LdtPlanes p;
  std::vector<double> half;
  const auto mirror = [](const std::vector<double>& from, auto&& image) {
    std::vector<double> all = from;
    for (const double c : from) all.push_back(std::fmod(image(c) + 2 * kCircle, kCircle));
    std::sort(all.begin(), all.end());
    std::vector<double> unique;
    for (const double c : all)
      if (c < kCircle - kSameAngle && (unique.empty() || !same(unique.back(), c)))
        unique.push_back(c);
    return unique;
  };
  const auto at = [&](size_t i) { return i < p.all.size() ? p.all[i] : -1.0; };
  switch (f.stored_planes) {
    case StoredPlanes::Quadrant: {
      p.isym = kIsymQuadrant;
      half = planes_between(t, 0, kQuarterCircle);
      p.all = mirror(mirror(half, [](double c) { return kHalfCircle - c; }),
                     [](double c) { return -c; });
      const size_t mc = p.all.size();
      if (mc % 4 != 0 || !same(at(mc / 4), kQuarterCircle)) return std::nullopt;
      p.stored.assign(p.all.begin(), p.all.begin() + std::ptrdiff_t(mc / 4 + 1));
      return p;
    }
    case StoredPlanes::HalfC0: {
      p.isym = kIsymC0;
      half = planes_between(t, 0, kHalfCircle);
      p.all = mirror(half, [](double c) { return -c; });
      const size_t mc = p.all.size();
      if (mc % 2 != 0 || !same(at(mc / 2), kHalfCircle)) return std::nullopt;
      p.stored.assign(p.all.begin(), p.all.begin() + std::ptrdiff_t(mc / 2 + 1));
      return p;
    }
    case StoredPlanes::HalfC90: {
      // The stored half is the one towards C0, from C270 through C0 to C90.
      p.isym = kIsymC90;
      half = planes_between(t, kQuarterCircle, kHalfCircle + kQuarterCircle);
      p.all = mirror(half, [](double c) { return kHalfCircle - c; });
      const size_t mc = p.all.size();
      if (mc % 4 != 0 || !same(at(mc / 4), kQuarterCircle) ||
          !same(at(3 * mc / 4), kHalfCircle + kQuarterCircle))
        return std::nullopt;
      for (size_t i = 3 * mc / 4; i < mc; ++i) p.stored.push_back(p.all[i]);
      for (size_t i = 0; i <= mc / 4; ++i) p.stored.push_back(p.all[i]);
      return p;
    }
    default:
      return std::nullopt;
  }
}

LdtPlanes ldt_planes(const PhotometricFile& f, std::vector<std::string>& notes) {
  const refhost::ProfileTable& t = f.table;
  LdtPlanes p;
  if (t.horizontal.size() == 1 || f.stored_planes == StoredPlanes::One) {
    p.isym = kIsymAxial;
    for (int i = 0; i < kAxialPlanes; ++i) p.all.push_back(kCircle * i / kAxialPlanes);
    p.stored = {0.0};
    return p;
  }
  if (f.stored_planes != StoredPlanes::All) {
    if (std::optional<LdtPlanes> symmetric = ldt_symmetric(f)) return *symmetric;
    notes.push_back(
        "the stored C-planes do not fall evenly into the quadrants EULUMDAT's symmetry "
        "indicator needs; written without symmetry, every plane stored");
  }
  p.isym = kIsymNone;
  for (const double c : t.horizontal)
    if (c < kCircle - kSameAngle) p.all.push_back(c);
  p.stored = p.all;
  return p;
}

// The step of angles listed from 0, or 0 (EULUMDAT's "not equidistant")
// when they are not every step from 0.
double equidistant_step(const std::vector<double>& angles) {
  if (angles.size() < 2 || !same(angles.front(), 0)) return 0;
  const double step = angles[1] - angles[0];
  for (size_t i = 0; i < angles.size(); ++i)
    if (!same(angles[i], step * double(i))) return 0;
  return step;
}

// The luminous area in millimetres: length or diameter, width (0 for a
// circle) and the heights of the four sides.
struct LdtArea {
  double length = 0, width = 0, heights[4] = {0, 0, 0, 0};
};
LdtArea ldt_area(const LuminousOpening& o, std::vector<std::string>& notes) {
  using Kind = LuminousOpening::Kind;
  const double mm = kMillimetresPerMetre;
  LdtArea a;
  switch (o.kind) {
    case Kind::Point:
      return a;
    case Kind::Rectangle:
    case Kind::Box:
      a.length = o.length * mm;
      a.width = o.width * mm;
      for (int k = 0; k < 4; ++k) a.heights[k] = o.side_heights[k] * mm;
      return a;
    case Kind::Circle:
    case Kind::VerticalCylinder:
      a.length = o.width * mm;
      for (int k = 0; k < 4; ++k) a.heights[k] = o.height * mm;
      return a;
    case Kind::Ellipse:
    case Kind::Sphere:
    case Kind::Other:
      break;
  }
  notes.push_back("EULUMDAT has no " + o.description +
                  "; its luminous area is written as the box around it");
  a.length = o.length * mm;
  a.width = o.width * mm;
  for (double& h : a.heights) h = o.height * mm;
  return a;
}

std::string ldt_text(const PhotometricFile& f, const std::string& file_name,
                     std::vector<std::string>& notes) {
  refuse_type_b(f, "EULUMDAT");
  if (tilt_included(f))
    throw Error(f.path.string() +
                ": the file gives the lamp's output by tilt (TILT=INCLUDE); EULUMDAT has no "
                "place for it");
  const refhost::ProfileTable& t = f.table;
  const LuminaireData& l = f.luminaire;
  const LdtPlanes planes = ldt_planes(f, notes);
  const double integrated = zonal_flux(t);
  const double down = zonal_flux_between(t, 0, kHorizon);

  // Lamp sets: an EULUMDAT file's own; an IES file's lamps as one set, its
  // count negative for absolute photometry, whose flux is then the
  // luminaire's own.
  std::vector<LampSet> sets = f.lamp_sets;
  if (f.format == 1) {
    LampSet s = sets.empty() ? LampSet{} : sets.front();
    s.count = std::max(1.0, std::fabs(s.count)) * (f.absolute ? -1 : 1);
    s.flux = f.absolute || !(f.lamp_flux > 0) ? integrated : f.lamp_flux;
    s.type = l.lamp;
    s.colour = l.colour_temperature;
    s.rendering = l.colour_rendering;
    s.watts = l.watts.value_or(0);
    sets = {s};
  }
  if (sets.empty()) sets.push_back({-1, l.lamp, integrated, "", "", l.watts.value_or(0)});
  // The table is written per 1000 lm of lamp set 1's flux as printed, so
  // that reading it back gives the same candela.
  const std::string flux_text = number(sets.front().flux > 0 ? sets.front().flux : integrated);
  const double per_klm = kKilolumen / parsed(flux_text);
  const double lor = f.format == 2 && f.lor             ? *f.lor * kPercent
                     : f.absolute || !(f.lamp_flux > 0) ? kPercent
                                                        : kPercent * integrated / f.lamp_flux;

  const LdtArea area = ldt_area(l.opening, notes);
  const auto body = [&](const char* name, double luminous) {
    const std::string stated = field(f, name);
    return f.format == 2 && !stated.empty() ? stated : number(luminous);
  };
  const std::vector<double>& gamma = t.vertical;
  std::ostringstream out;
  out << l.manufacturer << "\n";
  // The type indicator: an EULUMDAT file's own, else by its symmetry.
  out << (f.format == 2               ? std::atoi(f.type.c_str())
          : planes.isym == kIsymAxial ? kLdtPointRotational
                                      : kLdtPointOther)
      << "\n";
  out << planes.isym << "\n"
      << planes.all.size() << "\n"
      << number(equidistant_step(planes.all)) << "\n";
  out << gamma.size() << "\n" << number(equidistant_step(gamma)) << "\n";
  out << l.report << "\n"
      << l.name << "\n"
      << l.catalogue << "\n"
      << file_name << "\n"
      << l.date << "\n";
  out << body("luminaire length or diameter (mm)", area.length) << "\n"
      << body("luminaire width (mm)", area.width) << "\n"
      << body("luminaire height (mm)", area.heights[0]) << "\n";
  out << number(area.length) << "\n" << number(area.width) << "\n";
  for (const double h : area.heights) out << number(h) << "\n";
  out << number(integrated > 0 ? kPercent * down / integrated : 0) << "\n"
      << number(lor) << "\n1\n0\n";
  out << sets.size() << "\n";
  for (size_t i = 0; i < sets.size(); ++i) {
    const LampSet& s = sets[i];
    out << number(s.count) << "\n"
        << s.type << "\n"
        << (i == 0 ? flux_text : number(s.flux)) << "\n"
        << s.colour << "\n"
        << s.rendering << "\n"
        << number(s.watts) << "\n";
  }
  const std::vector<double> ratios =
      f.format == 2 && f.direct_ratios.size() == 10 ? f.direct_ratios : direct_ratios(t);
  for (const double r : ratios) out << number(r) << "\n";
  put_values(out, planes.all);
  put_values(out, gamma);
  for (const double c : planes.stored) {
    std::vector<double> row;
    for (size_t v = 0; v < gamma.size(); ++v) row.push_back(stored(t, c, v) * per_klm);
    put_values(out, row);
  }
  return out.str();
}

}  // namespace

std::vector<double> direct_ratios(const refhost::ProfileTable& table) {
  const DirectFlux direct(table);
  std::vector<double> out;
  for (const double k : kDirectRatioRoomIndices) {
    // A square room of index k is 2k H on a side; luminaires about 1 H apart.
    const double side = 2 * k;
    const auto n = std::max<size_t>(1, static_cast<size_t>(std::lround(side)));
    out.push_back(direct.ratio({side, side}, n, n));
  }
  return out;
}

std::string photometric_text(const PhotometricFile& f, int format, const std::string& file_name,
                             std::vector<std::string>& notes) {
  const std::string source = f.path.filename().string() + " (" + f.format_name + ")";
  return format == 2 ? ldt_text(f, file_name, notes) : ies_text(f, source, notes);
}

std::vector<std::string> write_photometric_file(const PhotometricFile& f,
                                                const std::filesystem::path& path) {
  std::vector<std::string> notes;
  const std::string text = photometric_text(f, format_of(path), path.filename().string(), notes);
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) throw Error(path.string() + ": cannot be written");
  return notes;
}

}  // namespace lux
