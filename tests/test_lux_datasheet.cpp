// The luminaire data sheet's tables: intensities, zonal lumens, the CIE
// flux code, efficacy, luminance at steep angles and the shape of the light
// in each principal plane; closed forms for made-up distributions, and on
// shared files the numbers the files themselves store or a second
// integration of them. And the profile command that prints, writes and
// draws them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/lux_run.h"
#include "tests/opening_outline.h"
#include "tools/lux/model/photometry.h"
#include "tools/lux/model/photometry_tables.h"

namespace {

namespace fs = std::filesystem;
using Kind = lux::PlaneShape::Kind;

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;

fs::path shared_profiles() {
  const char* env = std::getenv("ZEL_SHARED_DIR");
  return fs::path(env != nullptr ? env : ZEL_SHARED_DIR) / "profiles";
}

const char* const kNarrowDownlight = "Testlamp_Isym1_007cfb11e343e2f42e3b476be4ab684e.ldt";
const char* const kBatwing = "road_luminaire.ldt";
const char* const kDirectIndirect = "1.IES";

// A table of I(γ, C) on a 1° × 5° grid over the whole sphere.
template <class F>
refhost::ProfileTable table_of(F intensity) {
  refhost::ProfileTable t;
  for (int g = 0; g <= 180; ++g) t.vertical.push_back(g);
  for (int c = 0; c <= 360; c += 5) t.horizontal.push_back(c);
  for (const double c : t.horizontal)
    for (const double g : t.vertical) t.candela.push_back(static_cast<float>(intensity(g, c)));
  return t;
}

double cosd(double deg) { return std::cos(deg * kDegToRad); }

// The host's candela in the direction (γ, C).
double candela(const refhost::ProfileTable& t, double g, double c) {
  return double(refhost::sample_table(t, refhost::profile_direction(g, c)));
}

// The flux between two polar angles by the midpoint rule on a fine grid of
// directions: a second integration, apart from the zonal one.
double flux_between(const refhost::ProfileTable& t, double from, double to) {
  const int n = 240, m = 120;
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const double g = from + (i + 0.5) * (to - from) / n;
    for (int j = 0; j < m; ++j)
      sum += candela(t, g, (j + 0.5) * 360.0 / m) * std::sin(g * kDegToRad);
  }
  return sum * (to - from) / n * kDegToRad * 2 * kPi / m;
}

// ---- what the files store, read here directly ------------------------------------

// A file's stored planes and intensities in candela, read from its text.
struct Stored {
  std::vector<double> gamma;
  std::map<double, std::vector<double>> planes;  // C → candela per γ
  double watts = 0;
};

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> w;
  std::string s = text;
  for (char& c : s)
    if (c == ',' || c == '\r') c = ' ';
  std::istringstream in(s);
  for (std::string x; in >> x;) w.push_back(x);
  return w;
}

Stored stored_ldt(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  const auto num = [&](size_t line) { return std::stod(lines[line - 1]); };
  const int isym = int(num(3));
  const auto mc = size_t(num(4)), ng = size_t(num(6));
  const auto sets = size_t(num(26));
  const double flux = num(29), conversion = num(24);
  Stored s;
  for (size_t k = 0; k < sets; ++k) s.watts += num(32 + 6 * k);
  std::string rest;
  for (size_t l = 26 + 6 * sets + 10; l < lines.size(); ++l) rest += lines[l] + " ";
  const std::vector<std::string> w = words_of(rest);
  std::vector<double> c;
  for (size_t i = 0; i < mc; ++i) c.push_back(std::stod(w[i]));
  for (size_t i = 0; i < ng; ++i) s.gamma.push_back(std::stod(w[mc + i]));
  std::vector<double> stored = c;
  if (isym == 1) stored = {0};
  if (isym == 2) stored.assign(c.begin(), c.begin() + std::ptrdiff_t(mc / 2 + 1));
  if (isym == 4) stored.assign(c.begin(), c.begin() + std::ptrdiff_t(mc / 4 + 1));
  if (isym == 3) {  // from C270 through C0 to C90
    stored.assign(c.begin() + std::ptrdiff_t(3 * mc / 4), c.end());
    stored.insert(stored.end(), c.begin(), c.begin() + std::ptrdiff_t(mc / 4 + 1));
  }
  size_t at = mc + ng;
  for (const double plane : stored)
    for (size_t g = 0; g < ng; ++g)
      s.planes[plane].push_back(std::stod(w[at++]) * flux / 1000 * conversion);
  return s;
}

Stored stored_ies(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  const std::vector<std::string> w = words_of(text.substr(text.find('\n', text.find("TILT="))));
  const double multiplier = std::stod(w[2]), ballast = std::stod(w[10]);
  const auto nv = size_t(std::stod(w[3])), nh = size_t(std::stod(w[4]));
  Stored s;
  s.watts = std::stod(w[12]);
  for (size_t i = 0; i < nv; ++i) s.gamma.push_back(std::stod(w[13 + i]));
  size_t at = 13 + nv + nh;
  for (size_t h = 0; h < nh; ++h) {
    std::vector<double>& plane = s.planes[std::stod(w[13 + nv + h])];
    for (size_t v = 0; v < nv; ++v) plane.push_back(std::stod(w[at++]) * multiplier * ballast);
  }
  return s;
}

// Whether the host reads an EULUMDAT file of symmetry 3 as written: its
// stored half runs from C270 through C0 to C90 (read the other way round,
// C90 and C270 trade places). A file brighter towards C90 than towards C270
// tells.
bool host_reads_isym3_as_written() {
  const fs::path p = fs::path(::testing::TempDir()) / "isym3_probe.ldt";
  std::ofstream out(p);
  out << "probe\n3\n3\n4\n90\n2\n90\n\n\n\n\n\n0\n0\n0\n100\n100\n0\n0\n0\n0\n100\n100\n1\n0\n1\n"
         "1\nLED\n1000\n\n\n10\n";
  for (int i = 0; i < 10; ++i) out << "0.5\n";
  out << "0 90 180 270\n0 90\n"
      << "30 30\n"    // C270
      << "100 100\n"  // C0
      << "60 60\n";   // C90
  out.close();
  refhost::ProfileTable t;
  std::string error;
  if (!refhost::read_profile_file(p.string(), 2, t, error)) return false;
  return candela(t, 45.0, 90.0) > candela(t, 45.0, 270.0);
}

// ---- tests ---------------------------------------------------------------------

// The CIE flux code of an even (isotropic) and a Lambertian distribution:
// the cones of π/2 sr each hold a quarter of an even hemisphere, and sin²γ
// of a Lambertian one.
TEST(FluxCode, ClosedFormsOfEvenAndLambertianLight) {
  const refhost::ProfileTable even = table_of([](double, double) { return 100.0; });
  const refhost::ProfileTable lambert =
      table_of([](double g, double) { return g < 90 ? 100 * cosd(g) : 0.0; });
  const double even_flux = 4 * kPi * 100;
  const auto code = lux::flux_code(even, 2 * even_flux);
  ASSERT_TRUE(code.has_value());
  const double want_even[5] = {25, 50, 75, 50, 50};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(code->n[i], want_even[i], 0.01) << "N" << i + 1;
  EXPECT_EQ(code->text, "25 50 75 50 50");
  const auto l = lux::flux_code(lambert, 0);  // absolute: N5 is 100
  ASSERT_TRUE(l.has_value());
  const double sin2[3] = {0.4375, 0.75, 0.9375};  // sin² of 41.4°, 60°, 75.5°
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(l->n[i], 100 * sin2[i], 0.01) << "N" << i + 1;
  EXPECT_NEAR(l->n[3], 100, 1e-9);
  EXPECT_NEAR(l->n[4], 100, 1e-9);
  EXPECT_FALSE(lux::flux_code(table_of([](double g, double) { return g > 90 ? 1.0 : 0.0; }), 0));
}

// Zonal lumens of the same two, zone by zone: 2π I (cos γ₀ − cos γ₁) and
// π I (sin²γ₁ − sin²γ₀).
TEST(ZonalLumens, ClosedFormsOfEvenAndLambertianLight) {
  const refhost::ProfileTable even = table_of([](double, double) { return 100.0; });
  const refhost::ProfileTable lambert =
      table_of([](double g, double) { return g < 90 ? 100 * cosd(g) : 0.0; });
  const std::vector<lux::Zone> e = lux::zonal_lumens(even), l = lux::zonal_lumens(lambert);
  ASSERT_EQ(e.size(), 6u);
  for (size_t k = 0; k < e.size(); ++k) {
    const double g0 = e[k].from, g1 = e[k].to;
    EXPECT_NEAR(e[k].lumen, 2 * kPi * 100 * (cosd(g0) - cosd(g1)), 1e-6 * 1257);
    const auto sin2 = [](double g) { return g >= 90 ? 1.0 : std::pow(std::sin(g * kDegToRad), 2); };
    EXPECT_NEAR(l[k].lumen, kPi * 100 * (sin2(g1) - sin2(g0)), 2e-4 * 314) << g0 << "-" << g1;
  }
}

// On three shared files (a narrow downlight, a batwing, a direct-indirect
// luminaire): the zones against a second integration of the host's table,
// the flux code from those, and the efficacy from the power the file
// states.
TEST(ZonalLumens, SharedFilesAgreeWithASecondIntegration) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  for (const char* name : {kNarrowDownlight, kBatwing, kDirectIndirect}) {
    SCOPED_TRACE(name);
    const fs::path p = dir / name;
    const lux::PhotometricFile f = lux::read_photometric_file(p, lux::format_of(p));
    const lux::ProfileSummary s = lux::summarise(f);
    for (const lux::Zone& z : lux::zonal_lumens(f.table))
      EXPECT_NEAR(z.lumen, flux_between(f.table, z.from, z.to), 2e-3 * s.flux)
          << z.from << "-" << z.to;
    const double down = flux_between(f.table, 0, 90), all = flux_between(f.table, 0, 180);
    const auto code = lux::flux_code(f.table, f.absolute ? 0 : f.lamp_flux);
    ASSERT_TRUE(code.has_value());
    const double cones[3] = {std::acos(0.75), kPi / 3, std::acos(0.25)};
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(code->n[i], 100 * flux_between(f.table, 0, cones[i] / kDegToRad) / down, 0.2);
    EXPECT_NEAR(code->n[3], 100 * down / all, 0.2);
    EXPECT_NEAR(code->n[4], f.absolute ? 100 : 100 * all / f.lamp_flux, 0.2);
    const Stored stored = f.format == 2 ? stored_ldt(p) : stored_ies(p);
    const auto e = lux::efficacy(f, s);
    ASSERT_TRUE(e.has_value());
    EXPECT_NEAR(*e, all / stored.watts, 2e-3 * *e);
  }
}

// The intensity table holds what the files store, plane by plane, with the
// principal planes first, in candela and per 1000 lm of the lamps (of the
// luminaire for absolute photometry).
TEST(IntensityTable, HoldsTheStoredIntensitiesOfSharedFiles) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  const bool isym3_read = host_reads_isym3_as_written();
  for (const char* name : {kNarrowDownlight, kBatwing, kDirectIndirect}) {
    SCOPED_TRACE(name);
    const fs::path p = dir / name;
    const lux::PhotometricFile f = lux::read_photometric_file(p, lux::format_of(p));
    const lux::ProfileSummary s = lux::summarise(f);
    const lux::IntensityTable t = lux::intensity_table(f, s);
    const Stored stored = f.format == 2 ? stored_ldt(p) : stored_ies(p);
    EXPECT_EQ(t.gamma, stored.gamma);
    const double reference = f.lamp_flux > 0 ? f.lamp_flux : s.flux;
    EXPECT_NEAR(t.cd_per_klm, 1000 / reference, 1e-12);
    // The principal planes first, then the others ascending.
    if (f.table.horizontal.size() == 1) {
      ASSERT_EQ(t.planes.size(), 1u);
    } else {
      ASSERT_GE(t.planes.size(), 4u);
      const double principal[4] = {0, 180, 90, 270};
      for (int k = 0; k < 4; ++k) EXPECT_EQ(t.planes[size_t(k)].c, principal[k]);
      for (size_t k = 5; k < t.planes.size(); ++k) EXPECT_LT(t.planes[k - 1].c, t.planes[k].c);
    }
    if (f.stored_planes == lux::StoredPlanes::HalfC90 && !isym3_read) {
      std::cout << "  " << name << ": the stored values are compared once the host reads "
                << "EULUMDAT symmetry 3 as written (C270 through C0 to C90)\n";
      continue;
    }
    size_t compared = 0;
    for (const lux::IntensityPlane& plane : t.planes) {
      const auto it = stored.planes.find(plane.c);
      if (it == stored.planes.end()) continue;
      for (size_t g = 0; g < t.gamma.size(); ++g)
        EXPECT_NEAR(plane.candela[g], it->second[g], 1e-5 * s.peak_cd)
            << "C" << plane.c << " gamma " << t.gamma[g];
      ++compared;
    }
    EXPECT_EQ(compared, stored.planes.size());
  }
}

// The luminance of an opening of even luminance is that luminance from
// every direction, whatever its shape: its intensity is the luminance times
// the area it shows, which the test finds from the opening's outline.
TEST(Luminance, EvenOpeningsShowTheirLuminanceFromEverySide) {
  using K = lux::LuminousOpening::Kind;
  const double luminance = 2500;
  const auto opening = [](K kind, double length, double width, double height) {
    lux::LuminousOpening o;
    o.kind = kind;
    o.length = length;
    o.width = width;
    o.height = height;
    for (double& h : o.side_heights) h = height;
    o.description = "test opening";
    return o;
  };
  const lux::LuminousOpening openings[] = {
      opening(K::Rectangle, 1.2, 0.3, 0), opening(K::Box, 0.6, 0.6, 0.1),
      opening(K::Circle, 0.2, 0.2, 0),    opening(K::VerticalCylinder, 0.3, 0.3, 0.4),
      opening(K::Box, 1.5, 0.2, 0.3),
  };
  for (const lux::LuminousOpening& o : openings) {
    SCOPED_TRACE(::testing::Message()
                 << "opening " << o.length << " x " << o.width << " x " << o.height);
    const std::vector<zeltest::V3> points = zeltest::outline(o);
    lux::PhotometricFile f;
    f.luminaire.opening = o;
    f.table = table_of([&](double g, double c) {
      const zeltest::V3 d{std::sin(g * kDegToRad) * cosd(c),
                          std::sin(g * kDegToRad) * std::sin(c * kDegToRad), -cosd(g)};
      return g < 90 ? luminance * zeltest::hull_area(points, d) : 0.0;
    });
    std::string why;
    const std::optional<lux::LuminanceTable> l = lux::luminance_table(f, why);
    ASSERT_TRUE(l.has_value()) << why;
    ASSERT_EQ(l->gamma.size(), 5u);
    ASSERT_EQ(l->c.size(), 24u);
    for (size_t g = 0; g < l->gamma.size(); ++g)
      for (size_t k = 0; k < l->c.size(); ++k)
        EXPECT_NEAR(l->at(g, k), luminance, 0.005 * luminance)
            << "gamma " << l->gamma[g] << " C " << l->c[k];
  }
  lux::PhotometricFile point;
  point.table = table_of([](double, double) { return 1.0; });
  std::string why;
  EXPECT_FALSE(lux::luminance_table(point, why));
  EXPECT_NE(why.find("no luminous opening"), std::string::npos) << why;
}

// On the three shared files: the luminance times the area the opening
// shows (found from its outline) gives back the host's intensity.
TEST(Luminance, SharedFilesGiveBackTheirIntensity) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  for (const char* name : {kNarrowDownlight, kBatwing, kDirectIndirect}) {
    SCOPED_TRACE(name);
    const fs::path p = dir / name;
    const lux::PhotometricFile f = lux::read_photometric_file(p, lux::format_of(p));
    std::string why;
    const std::optional<lux::LuminanceTable> l = lux::luminance_table(f, why);
    ASSERT_TRUE(l.has_value()) << why;
    const std::vector<zeltest::V3> points = zeltest::outline(f.luminaire.opening);
    double max = 0;
    for (size_t g = 0; g < l->gamma.size(); ++g)
      for (size_t k = 0; k < l->c.size(); ++k) {
        const double gamma = l->gamma[g], c = l->c[k];
        const zeltest::V3 d{std::sin(gamma * kDegToRad) * cosd(c),
                            std::sin(gamma * kDegToRad) * std::sin(c * kDegToRad), -cosd(gamma)};
        const double area = zeltest::hull_area(points, d);
        EXPECT_NEAR(l->at(g, k) * area, candela(f.table, gamma, c),
                    2e-3 * candela(f.table, gamma, c) + 1e-6)
            << "gamma " << gamma << " C " << c;
        max = std::max(max, l->at(g, k));
      }
    EXPECT_EQ(l->max, max);
  }
}

// The shape of the light in a plane: a cone about the nadir has a beam and
// field angle (for cosⁿ light 2 acos 0.5^(1/n) and 2 acos 0.1^(1/n)); a
// batwing, one-sided, direct-indirect or upward distribution says so
// instead.
TEST(PlaneShape, BeamAndFieldOnlyForACone) {
  const double n = 6;
  const refhost::ProfileTable cone =
      table_of([&](double g, double) { return g < 90 ? 1000 * std::pow(cosd(g), n) : 0.0; });
  const lux::PlaneShape s = lux::plane_shape(cone, 0);
  ASSERT_EQ(s.kind, Kind::Cone);
  ASSERT_TRUE(s.beam && s.field);
  EXPECT_NEAR(s.beam->full, 2 * std::acos(std::pow(0.5, 1 / n)) / kDegToRad, 0.2);
  EXPECT_NEAR(s.field->full, 2 * std::acos(std::pow(0.1, 1 / n)) / kDegToRad, 0.2);

  const struct {
    const char* what;
    refhost::ProfileTable table;
    Kind kind;
  } cases[] = {
      {"batwing", table_of([](double g, double) {
         return g < 90 ? 0.2 + std::pow(std::sin(2 * g * kDegToRad), 2) : 0.0;
       }),
       Kind::Batwing},
      {"one-sided", table_of([](double g, double c) {
         return g < 90 ? std::pow(std::max(0.0, cosd(g - 50)), 8) * (1.05 + cosd(c)) : 0.0;
       }),
       Kind::OneSided},
      {"direct-indirect", table_of([](double g, double) { return g < 90 ? 1.0 : 0.4; }),
       Kind::DirectIndirect},
      {"upward", table_of([](double g, double) { return g > 90 ? 1.0 : 0.0; }), Kind::Upward},
      {"dark", table_of([](double, double) { return 0.0; }), Kind::Dark},
  };
  for (const auto& c : cases) {
    const lux::PlaneShape shape = lux::plane_shape(c.table, 0);
    EXPECT_EQ(shape.kind, c.kind) << c.what << ": " << shape.text;
    EXPECT_FALSE(shape.beam || shape.field) << c.what;
    EXPECT_FALSE(shape.text.empty());
  }
  const lux::PlaneShape batwing = lux::plane_shape(cases[0].table, 0);
  EXPECT_NEAR(batwing.peak_right, 45, 1e-9);
  EXPECT_NEAR(batwing.peak_left, 45, 1e-9);
  EXPECT_NEAR(batwing.nadir_fraction, 0.2 / 1.2, 1e-6);
}

// The three shared files: the downlight's cone, the road luminaire's
// batwing along the road, the direct-indirect luminaire's light above the
// horizon, which once read as a 270° "field".
TEST(PlaneShape, SharedFilesAreToldApart) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  const struct {
    const char* file;
    Kind c0, c90;
  } cases[] = {{kNarrowDownlight, Kind::Cone, Kind::Cone},
               {kBatwing, Kind::Batwing, Kind::Cone},
               {kDirectIndirect, Kind::DirectIndirect, Kind::DirectIndirect}};
  for (const auto& c : cases) {
    const fs::path p = dir / c.file;
    const lux::PhotometricFile f = lux::read_photometric_file(p, lux::format_of(p));
    const lux::PlaneShape s0 = lux::plane_shape(f.table, 0), s90 = lux::plane_shape(f.table, 90);
    EXPECT_EQ(s0.kind, c.c0) << c.file << ": " << s0.text;
    EXPECT_EQ(s90.kind, c.c90) << c.file << ": " << s90.text;
    for (const lux::PlaneShape& s : {s0, s90})
      if (s.field) {
        EXPECT_LT(s.field->full, 180) << c.file;
      }
  }
}

// The pages of a PDF file, counted by their page objects.
size_t pdf_pages(const nlohmann::json& path) {
  std::ifstream pdf(path.get<std::string>(), std::ios::binary);
  std::stringstream bytes;
  bytes << pdf.rdbuf();
  const std::string s = bytes.str();
  if (s.rfind("%PDF", 0) != 0) return 0;
  size_t pages = 0;
  for (size_t at = s.find("/Type /Page"); at != std::string::npos;
       at = s.find("/Type /Page", at + 1))
    if (s.compare(at, 12, "/Type /Pages") != 0) ++pages;
  return pages;
}

// The profile command: every table in the JSON, the UGR table and the
// luminance in the text, beam and field left out where the light is no
// cone, a two-page data sheet for every shared file, and a conversion asked
// of several files refused.
TEST(ProfileCommand, DataSheetInJsonTextAndPdf) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  const std::string file = (dir / kDirectIndirect).string();
  const std::string out_dir = (fs::path(::testing::TempDir()) / "datasheet").string();
  const LuxOutcome json = run_lux({"profile", file, "--json", "--pdf", "-o", out_dir});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto j = nlohmann::json::parse(json.out)[0];
  for (const char* key : {"intensity_table", "zonal_lumens", "flux_code", "efficacy_lm_per_w",
                          "luminance", "ugr", "distribution", "datasheet"})
    EXPECT_TRUE(j.contains(key) && !j[key].is_null()) << key;
  EXPECT_TRUE(j["beam"]["C0-C180"].is_null());
  EXPECT_TRUE(j["field"]["C0-C180"].is_null());
  EXPECT_EQ(j["distribution"]["C0-C180"]["shape"], "direct-indirect");
  EXPECT_EQ(j["ugr"]["rooms"].size(), 19u);
  EXPECT_EQ(j["ugr"]["rooms"][0]["ugr"]["crosswise"].size(), 5u);
  EXPECT_EQ(j["ugr"]["variation"].size(), 3u);
  EXPECT_EQ(j["intensity_table"]["gamma_deg"].size(), 74u);
  EXPECT_EQ(j["zonal_lumens"].size(), 6u);

  EXPECT_EQ(pdf_pages(j["datasheet"]), 2u);

  const LuxOutcome text = run_lux({"profile", file});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find("270.9"), std::string::npos);
  EXPECT_NE(text.out.find("direct-indirect"), std::string::npos);
  EXPECT_NE(text.out.find("12H x  8H"), std::string::npos);
  EXPECT_NE(text.out.find("flux code"), std::string::npos);
  EXPECT_NE(text.out.find("luminance"), std::string::npos);

  // Every shared file: JSON that parses (one file has a Latin-1 byte in a
  // keyword) and a data sheet of two pages.
  std::vector<std::string> args{"profile", "--json", "--pdf", "-o", out_dir};
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() != ".md") args.push_back(entry.path().string());
  const LuxOutcome all = run_lux(args);
  ASSERT_EQ(all.status, 0) << all.err;
  const auto files = nlohmann::json::parse(all.out);
  EXPECT_EQ(files.size(), args.size() - 5);
  for (const auto& f : files) EXPECT_EQ(pdf_pages(f["datasheet"]), 2u) << f["file"];

  const LuxOutcome two =
      run_lux({"profile", file, file, "--write", (fs::path(out_dir) / "x.ldt").string()});
  EXPECT_EQ(two.status, 1);
  EXPECT_NE(two.err.find("one file"), std::string::npos) << two.err;
}

}  // namespace
