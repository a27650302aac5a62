// The IES LM-63 and EULUMDAT readers: real files measured by manufacturers
// and labs, symmetric files against their full-circle equivalents, the two
// formats against each other, which way a half-stored table faces (through
// the host's profile service and a light of the plug-in), and malformed
// files refused with the file and the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "refhost/lightloop.h"
#include "refhost/profiles.h"
#include "tests/host_fixture.h"

namespace {

namespace fs = std::filesystem;
using refhost::profile_direction;
using refhost::ProfileTable;
using refhost::read_profile_file;
using refhost::sample_table;

constexpr double kDeg = 3.141592653589793 / 180.0;

// Total flux of a table by the zonal method: over every cell of the grid
// (polar band × azimuth segment, the wrap-around segment included) the mean
// of its four corner intensities times the cell's exact solid angle,
// (cos γᵢ − cos γᵢ₊₁) × ΔC.
double zonal_flux(const ProfileTable& t) {
  const size_t nv = t.vertical.size(), nh = t.horizontal.size();
  const auto at = [&](size_t h, size_t v) { return double(t.candela[h * nv + v]); };
  double flux = 0.0;
  for (size_t i = 0; i + 1 < nv; ++i) {
    const double band = std::cos(t.vertical[i] * kDeg) - std::cos(t.vertical[i + 1] * kDeg);
    if (nh == 1) {
      flux += (at(0, i) + at(0, i + 1)) / 2 * band * 360.0 * kDeg;
      continue;
    }
    for (size_t j = 0; j < nh; ++j) {
      const size_t k = (j + 1) % nh;
      const double next = j + 1 < nh ? t.horizontal[j + 1] : t.horizontal[0] + 360.0;
      const double dc = next - t.horizontal[j];
      flux += (at(j, i) + at(j, i + 1) + at(k, i) + at(k, i + 1)) / 4 * band * dc * kDeg;
    }
  }
  return flux;
}

// The shared test data beside the project root; ZEL_SHARED_DIR in the
// environment points elsewhere (a worktree that lives apart from it).
fs::path shared_profiles() {
  const char* env = std::getenv("ZEL_SHARED_DIR");
  return fs::path(env != nullptr ? env : ZEL_SHARED_DIR) / "profiles";
}

ProfileTable must_read(const fs::path& path, int format) {
  ProfileTable t;
  std::string error;
  EXPECT_TRUE(read_profile_file(path.string(), format, t, error)) << error;
  return t;
}

// Writes `text` to a fresh file in the test's temporary directory, under a
// name of the running test's own: tests run side by side in processes of
// their own and must not read each other's files.
fs::path write_file(const std::string& name, const std::string& text) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string prefix =
      test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() + "." : "";
  const fs::path p = fs::path(::testing::TempDir()) / (prefix + name);
  std::ofstream(p, std::ios::binary) << text;
  return p;
}

// ---- writers of small files ------------------------------------------------

using Intensity = std::function<double(double gamma, double c)>;

std::vector<double> steps(double from, double to, double step) {
  std::vector<double> a;
  for (double x = from; x <= to + 1e-9; x += step) a.push_back(x);
  return a;
}

struct Ies {
  std::string first_line = "IESNA:LM-63-2002";
  std::string keywords = "[TEST] made by the test\n[MANUFAC] nobody\n";
  std::string tilt = "TILT=NONE\n";
  std::string lamps = "1", lumens = "-1", multiplier = "1";
  int type = 1;
  std::string ballast = "1", lamp_factor = "1";
  std::vector<double> vertical, horizontal;
  std::vector<double> values;  // one row of vertical values per horizontal angle
  std::string trailer;

  void fill(const Intensity& f) {
    values.clear();
    for (double c : horizontal)
      for (double g : vertical) values.push_back(f(g, c));
  }
  std::string text() const {
    std::ostringstream s;
    s.precision(10);
    s << first_line << "\n" << keywords << tilt;
    s << lamps << " " << lumens << " " << multiplier << " " << vertical.size() << " "
      << horizontal.size() << " " << type << " 2 0.1 0.1 0\n";
    s << ballast << " " << lamp_factor << " 10\n";
    for (double v : vertical) s << v << " ";
    s << "\n";
    for (double h : horizontal) s << h << " ";
    s << "\n";
    for (size_t h = 0; h < horizontal.size(); ++h) {
      for (size_t v = 0; v < vertical.size(); ++v) s << values[h * vertical.size() + v] << " ";
      s << "\n";
    }
    s << trailer;
    return s.str();
  }
};

// The planes an EULUMDAT symmetry indicator stores, in the file's order, as
// indices into the list of all Mc C angles. Counted from 1 as the format
// counts them: 1 the first plane, 2 planes 1 to Mc/2 + 1 (C0–C180), 4 planes
// 1 to Mc/4 + 1 (C0–C90), 3 planes Mc1 = 3·Mc/4 + 1 to Mc1 + Mc/2, wrapping
// past Mc (C270 through C0 to C90), 0 all.
std::vector<size_t> eulumdat_stored_planes(int isym, size_t mc) {
  size_t first = 1, last = mc;
  switch (isym) {
    case 1:
      last = 1;
      break;
    case 2:
      last = mc / 2 + 1;
      break;
    case 3:
      first = 3 * mc / 4 + 1;
      last = first + mc / 2;
      break;
    case 4:
      last = mc / 4 + 1;
      break;
    default:
      break;
  }
  std::vector<size_t> planes;
  for (size_t n = first; n <= last; ++n) planes.push_back((n - 1) % mc);
  return planes;
}

struct Ldt {
  int isym = 0;
  std::vector<double> c_all, gamma;
  std::vector<double> values;  // cd/klm, stored planes only
  std::string conversion = "1";
  std::string lamp_count = "1";
  std::string flux = "1000";
  bool second_set = false;
  std::string trailer;

  void fill(const Intensity& f) {
    values.clear();
    for (size_t i : eulumdat_stored_planes(isym, c_all.size()))
      for (double g : gamma) values.push_back(f(g, isym == 1 ? 0.0 : c_all[i]));
  }
  std::string text() const {
    std::ostringstream s;
    s.precision(10);
    s << "Test company\n1\n" << isym << "\n" << c_all.size() << "\n0\n" << gamma.size() << "\n0\n";
    s << "report\nluminaire\nnumber\nfile.ldt\ndate\n";
    s << "100\n100\n50\n80\n80\n0\n0\n0\n0\n100\n100\n" << conversion << "\n0\n";
    s << (second_set ? 2 : 1) << "\n";
    s << lamp_count << "\nLED\n" << flux << "\n3000\n80\n10\n";
    if (second_set) s << "1\nLED\n99999\n3000\n80\n10\n";
    for (int i = 0; i < 10; ++i) s << "0.5\n";
    for (double c : c_all) s << c << "\n";
    for (double g : gamma) s << g << "\n";
    for (double v : values) s << v << "\n";
    s << trailer;
    return s.str();
  }
};

// Samples two tables over a grid of directions that lies between and on
// tabulated angles; the largest difference in candela.
double largest_difference(const ProfileTable& a, const ProfileTable& b) {
  double worst = 0.0;
  for (double g = 0; g <= 180; g += 2.5)
    for (double c = 0; c < 360; c += 3.75) {
      const miVector d = profile_direction(g, c);
      worst = std::max(worst, double(std::fabs(sample_table(a, d) - sample_table(b, d))));
    }
  return worst;
}

// ---- real files ------------------------------------------------------------

TEST(RealProfileFiles, FluxMatchesTheIntegratedLumens) {
  if (!fs::is_directory(shared_profiles()))
    GTEST_SKIP() << "no real profile files at " << shared_profiles() << " (a user's own clone)";
  struct Case {
    const char* file;
    int format;
    double lumens;  // the flux integrated from each file's own table
  } cases[] = {
      {"1.IES", 1, 9217.18},
      {"3.IES", 1, 13359.57},
      {"8.IES", 1, 828.32},
      {"2.2.ies", 1, 29972.58},
      {"ELM2_LED.ies", 1, 80.01},
      {"WP_2_32.ies", 1, 3317.94},
      {"test2.ies", 1, 241.96},
      {"Indoor_60W_120G_5300LM_5000K_OVNI.ies", 1, 5300.87},
      {"LDP0109501.ies", 1, 1900.01},
      {"S01.01.02.354_MAXWELL-8-T4 LUXEON 5050 Square with glass-MEASURED_IESNA.ies", 1, 999.93},
      {"Testlamp_Isym2_theta180+_erco_33499000_1xqt32_230w.IES", 1, 1778.61},
      {"iesna2002_example_typec.ies", 1, 105420.77},
      {"example.ldt", 2, 5140.40},
      {"Testlamp_Isym1_007cfb11e343e2f42e3b476be4ab684e.ldt", 2, 321.57},
      {"Testlamp_Isym2_theta180+_erco_33499000_1xqt32_230w.ldt", 2, 1778.62},
      {"Testlamp_Isym3_symmetryOverC90C270axis.ldt", 2, 6151.00},
      {"demo_two_lamp_sets.ldt", 2, 7295.67},
      {"road_luminaire.ldt", 2, 27924.36},
  };
  for (const Case& k : cases) {
    const ProfileTable t = must_read(shared_profiles() / k.file, k.format);
    const double flux = zonal_flux(t);
    EXPECT_NEAR(flux, k.lumens, 0.01 * k.lumens) << k.file;
  }
}

TEST(RealProfileFiles, TheTwoFormatsOfOneLuminaireAgree) {
  if (!fs::is_directory(shared_profiles()))
    GTEST_SKIP() << "no real profile files at " << shared_profiles() << " (a user's own clone)";
  const std::string name = "Testlamp_Isym2_theta180+_erco_33499000_1xqt32_230w";
  const ProfileTable ies = must_read(shared_profiles() / (name + ".IES"), 1);
  const ProfileTable ldt = must_read(shared_profiles() / (name + ".ldt"), 2);
  double peak = 0.0;
  for (float v : ies.candela) peak = std::max(peak, double(v));
  ASSERT_GT(peak, 1000.0);
  // The IES file states candela to two decimals, the EULUMDAT file cd/klm.
  for (double g = 0; g <= 180; g += 1.3)
    for (double c = 0; c < 360; c += 2.7) {
      const miVector d = profile_direction(g, c);
      EXPECT_NEAR(sample_table(ies, d), sample_table(ldt, d), 0.01) << "γ " << g << " C " << c;
    }
}

// ---- symmetry ----------------------------------------------------------------

// Intensities with the symmetries under test: mirror images about the
// C0–C180 plane (C → −C) and about the C90–C270 plane (C → 180 − C).
double quadrant_light(double g, double c) {
  return 100 + 50 * std::cos(g * kDeg) * (1 + 0.3 * std::cos(2 * c * kDeg)) + g / 10;
}
double half_c0_light(double g, double c) {
  return 100 + 40 * std::cos(g * kDeg) * (1 + 0.5 * std::cos(c * kDeg));
}
double half_c90_light(double g, double c) {
  return 100 + 40 * std::cos(g * kDeg) * (1 + 0.5 * std::sin(c * kDeg));
}
double axial_light(double g, double) { return 200 * std::exp(-g / 40); }

TEST(ProfileFileSymmetry, IesPartsEqualTheirFullCircle) {
  struct Case {
    const char* name;
    std::vector<double> horizontal;
    Intensity light;
  } cases[] = {
      {"quadrant", steps(0, 90, 15), quadrant_light},
      {"half_c0", steps(0, 180, 15), half_c0_light},
      {"half_c90", steps(90, 270, 15), half_c90_light},
      {"axial", {0}, axial_light},
  };
  for (const Case& k : cases) {
    Ies part, full;
    part.vertical = full.vertical = steps(0, 180, 10);
    part.horizontal = k.horizontal;
    full.horizontal = steps(0, 360, 15);
    part.fill(k.light);
    full.fill(k.light);
    const ProfileTable a = must_read(write_file(std::string(k.name) + ".ies", part.text()), 1);
    const ProfileTable b = must_read(write_file(std::string(k.name) + "_full.ies", full.text()), 1);
    EXPECT_LT(largest_difference(a, b), 1e-3) << k.name;
    EXPECT_NEAR(zonal_flux(a), zonal_flux(b), 1e-6 * zonal_flux(b)) << k.name;
  }
}

TEST(ProfileFileSymmetry, EulumdatPartsEqualTheirFullCircle) {
  struct Case {
    int isym;
    Intensity light;
  } cases[] = {{1, axial_light}, {2, half_c0_light}, {3, half_c90_light}, {4, quadrant_light}};
  for (const Case& k : cases) {
    Ldt part, full;
    part.c_all = full.c_all = steps(0, 345, 15);
    part.gamma = full.gamma = steps(0, 180, 10);
    part.isym = k.isym;
    part.fill(k.light);
    full.fill(k.light);
    const auto name = "isym" + std::to_string(k.isym);
    const ProfileTable a = must_read(write_file(name + ".ldt", part.text()), 2);
    const ProfileTable b = must_read(write_file(name + "_full.ldt", full.text()), 2);
    EXPECT_LT(largest_difference(a, b), 1e-3) << "isym " << k.isym;
  }
}

// Both formats describe the same light: the EULUMDAT file in cd per 1000 lm
// of a 2500 lm lamp, the IES file in candela. A light symmetric about the
// C90–C270 plane is stored by IES from C90 to C270, by EULUMDAT from C270
// through C0 to C90: the two halves that meet only at C90 and C270.
TEST(ProfileFileSymmetry, IesAndEulumdatOfOneLightAgree) {
  struct Case {
    const char* what;
    std::vector<double> ies_horizontal;
    int isym;
    Intensity light;
  } cases[] = {
      {"quadrant", steps(0, 90, 15), 4, quadrant_light},
      {"about C0-C180", steps(0, 180, 15), 2, half_c0_light},
      {"about C90-C270", steps(90, 270, 15), 3, half_c90_light},
  };
  for (const Case& k : cases) {
    Ies ies;
    ies.vertical = steps(0, 180, 5);
    ies.horizontal = k.ies_horizontal;
    ies.fill([&](double g, double c) { return 2.5 * k.light(g, c); });
    Ldt ldt;
    ldt.isym = k.isym;
    ldt.c_all = steps(0, 345, 15);
    ldt.gamma = steps(0, 180, 5);
    ldt.flux = "2500";
    ldt.fill(k.light);
    const ProfileTable a = must_read(write_file("twin.ies", ies.text()), 1);
    const ProfileTable b = must_read(write_file("twin.ldt", ldt.text()), 2);
    EXPECT_LT(largest_difference(a, b), 1e-3) << k.what;
  }
}

// The stored plane whose values azimuth C takes under each EULUMDAT symmetry
// indicator, from the mirror images alone (degrees, 0 to 360).
double mirrored_plane(int isym, double c) {
  const double about_c0 = c <= 180 ? c : 360 - c;  // C → −C
  switch (isym) {
    case 1:
      return 0;
    case 2:
      return about_c0;
    case 3:
      return c <= 90 || c >= 270 ? c : std::fmod(540 - c, 360);  // C → 180° − C
    case 4:
      return about_c0 <= 90 ? about_c0 : 180 - about_c0;
    default:
      return c;
  }
}

// Every plane different from every other, and no mirror symmetry at all.
double uneven_light(double g, double c) {
  return 500 + 3 * c + 2 * g + std::fmod(7 * c + 3 * g, 11);
}

// A file storing part of the circle gives, in every direction, what the
// same table gives written out with every plane (indicator 0), each plane
// holding the values of its mirror image in the stored part. The stored
// planes all differ, so a mirror about the wrong plane, or a stored run
// taken for another part of the circle, shows.
TEST(ProfileFileSymmetry, EveryIndicatorEqualsItsAllPlanesFile) {
  struct Case {
    int isym;
    std::vector<double> c_all;
    const char* what;
  } cases[] = {
      {1, steps(0, 345, 15), "one plane"},
      {2, steps(0, 345, 15), "C0-C180"},
      {2, {0, 20, 45, 90, 135, 160, 180, 200, 225, 270, 315, 340}, "C0-C180, uneven"},
      {3, steps(0, 345, 15), "C270-C0-C90"},
      {3,
       {0, 10, 30, 60, 90, 120, 150, 170, 180, 190, 210, 240, 270, 300, 330, 350},
       "C270-C0-C90, uneven"},
      {3, {0, 90, 180, 270}, "C270-C0-C90, four planes"},
      {4, steps(0, 345, 15), "C0-C90"},
      {4, {0, 10, 40, 90, 140, 170, 180, 190, 220, 270, 320, 350}, "C0-C90, uneven"},
  };
  for (const Case& k : cases) {
    Ldt part, all;
    part.c_all = all.c_all = k.c_all;
    part.gamma = all.gamma = steps(0, 180, 15);
    part.isym = k.isym;
    part.fill(uneven_light);
    all.fill([&](double g, double c) { return uneven_light(g, mirrored_plane(k.isym, c)); });
    const ProfileTable a = must_read(write_file("part.ldt", part.text()), 2);
    const ProfileTable b = must_read(write_file("all_planes.ldt", all.text()), 2);
    EXPECT_LT(largest_difference(a, b), 1e-3) << "isym " << k.isym << ", " << k.what;
  }
}

// A real EULUMDAT file rewritten with indicator 0: every plane stored, each
// holding the stored row of its mirror image under the file's own
// indicator; header, lamp sets and angles as the file has them, values
// copied as text. Empty where a plane has no mirror image among the stored
// ones.
std::string with_all_planes(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  const int isym = std::stoi(lines.at(2));
  const size_t mc = std::stoul(lines.at(3)), ng = std::stoul(lines.at(5));
  const size_t sets = std::stoul(lines.at(25));
  const size_t data = 26 + 6 * sets + 10;  // the first C angle, counted from 0
  std::vector<std::string> tokens;
  for (size_t l = data; l < lines.size(); ++l) {
    std::istringstream words(lines[l]);
    for (std::string w; words >> w;) tokens.push_back(w);
  }
  const std::vector<size_t> stored = eulumdat_stored_planes(isym, mc);
  if (tokens.size() != mc + ng + stored.size() * ng) return {};
  const auto c_at = [&](size_t i) { return std::stod(tokens[i]); };

  std::string out;
  for (size_t l = 0; l < data; ++l) out += (l == 2 ? std::string("0") : lines[l]) + "\n";
  for (size_t i = 0; i < mc + ng; ++i) out += tokens[i] + "\n";
  for (size_t plane = 0; plane < mc; ++plane) {
    const double mirror = mirrored_plane(isym, c_at(plane));
    size_t row = stored.size();
    for (size_t r = 0; r < stored.size(); ++r)
      if (std::fabs(c_at(stored[r]) - mirror) < 1e-6) row = r;
    if (row == stored.size()) return {};
    for (size_t v = 0; v < ng; ++v) out += tokens[mc + ng + row * ng + v] + "\n";
  }
  return out;
}

// The largest difference between a table and its mirror image about the
// C0–C180 plane.
double mirror_difference(const ProfileTable& t) {
  double worst = 0.0;
  for (double g = 0; g <= 180; g += 2.5)
    for (double c = 0; c < 360; c += 3.75)
      worst = std::max(worst, double(std::fabs(sample_table(t, profile_direction(g, c)) -
                                               sample_table(t, profile_direction(g, -c)))));
  return worst;
}

// Measured files read as their own tables written out with every plane
// stored. The files stored from C270 to C90 light the C90 side otherwise
// than the C270 side, so reading them turned half a circle (which for such
// a light is their mirror image about the C0–C180 plane) would show.
TEST(RealProfileFiles, PartsEqualTheirAllPlanesRewrite) {
  if (!fs::is_directory(shared_profiles()))
    GTEST_SKIP() << "no real profile files at " << shared_profiles() << " (a user's own clone)";
  struct Case {
    const char* file;
    bool one_sided;  // brighter towards C90 or C270
  } cases[] = {
      {"Testlamp_Isym3_symmetryOverC90C270axis.ldt", true},
      {"demo_two_lamp_sets.ldt", true},
      {"road_luminaire.ldt", true},
      {"Testlamp_Isym1_007cfb11e343e2f42e3b476be4ab684e.ldt", false},
      {"Testlamp_Isym2_theta180+_erco_33499000_1xqt32_230w.ldt", false},
  };
  for (const Case& k : cases) {
    const fs::path path = shared_profiles() / k.file;
    std::ifstream f(path, std::ios::binary);
    const std::string rewrite = with_all_planes({std::istreambuf_iterator<char>(f), {}});
    ASSERT_FALSE(rewrite.empty()) << k.file;
    const ProfileTable a = must_read(path, 2);
    const ProfileTable b = must_read(write_file("all_planes.ldt", rewrite), 2);
    const double peak = double(*std::max_element(a.candela.begin(), a.candela.end()));
    EXPECT_LT(largest_difference(a, b), 1e-6 * peak) << k.file;
    if (k.one_sided) {
      EXPECT_GT(mirror_difference(a), 0.02 * peak) << k.file;
    }
  }
}

// ---- orientation ---------------------------------------------------------------

// A lantern's half table written out by hand as the format lays it down:
// indicator 3, eight C-planes 45° apart, the five stored rows in the file's
// order C270, C315, C0, C45, C90, at γ 0, 45 and 90, for 1000 lm (so in
// candela as written). Every row differs.
std::string lantern_ldt() {
  std::string s = "Test company\n3\n3\n8\n45\n3\n45\n";
  s += "report\nlantern\nnumber\nlantern.ldt\ndate\n";
  s += "100\n100\n50\n80\n80\n0\n0\n0\n0\n100\n100\n1\n0\n";
  s += "1\n1\nLED\n1000\n3000\n80\n10\n";
  for (int i = 0; i < 10; ++i) s += "0.5\n";
  s += "0\n45\n90\n135\n180\n225\n270\n315\n";
  s += "0\n45\n90\n";
  s += "100\n20\n2\n";   // C270
  s += "100\n35\n4\n";   // C315
  s += "100\n50\n6\n";   // C0
  s += "100\n65\n8\n";   // C45
  s += "100\n80\n10\n";  // C90
  return s;
}

// Where the lantern sends what: each stored row towards its own plane, the
// planes the file leaves out (C135, C180, C225) as their mirror images about
// the C90–C270 plane.
struct Aim {
  double gamma, c, candela;
};
const Aim kLanternAims[] = {
    {45, 90, 80},  {45, 270, 20}, {90, 90, 10},  {90, 270, 2},  {45, 0, 50},   {45, 45, 65},
    {45, 315, 35}, {45, 135, 65}, {45, 180, 50}, {45, 225, 35}, {0, 123, 100},
};

void set_word(miTag tag, size_t offset, int32_t value) {
  std::memcpy(static_cast<unsigned char*>(refhost::db_data(tag)) + offset, &value, sizeof value);
}

class ProfileFileOrientation : public zeltest::HostTest {};

// The host's profile service, given the file by a profile record.
TEST_F(ProfileFileOrientation, TheServiceSendsEachRowTowardsItsOwnPlane) {
  const fs::path file = write_file("lantern.ldt", lantern_ldt());
  const miTag profile =
      refhost::db_add(miSCENE_LIGHTPROFILE, refhost::kProfileRecordSize, "lantern");
  set_word(profile, refhost::kProfileFormatOffset, 2);
  set_word(profile, refhost::kProfileSourceOffset, refhost::kProfileSourceFile);
  set_word(profile, refhost::kProfileFileNameOffset,
           static_cast<int32_t>(refhost::add_string(file.string())));
  miState state = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, 0);
  for (const Aim& k : kLanternAims) {
    state.dir = profile_direction(k.gamma, k.c);
    EXPECT_NEAR(mi_lightprofile_sample(&state, profile, 0), k.candela, 1e-3)
        << "γ " << k.gamma << " C " << k.c;
  }
  EXPECT_TRUE(refhost::warnings().empty()) << refhost::warnings().front();
}

// Through the plug-in: a point light following the lantern's profile hangs
// 3 m above the floor, facing down. The floor 3 m off to each side sees it
// at γ 45° from the same distance and slant, so the illuminances there
// stand to each other as the intensities the file gives those sides.
TEST_F(ProfileFileOrientation, ALightThrowsEachRowToItsOwnSide) {
  const fs::path file = write_file("lantern.ldt", lantern_ldt());
  refhost::ShaderInstance& definer = make("zel_lightprofile");
  definer.set_string("profile_name", "lantern");
  definer.set_string("file_name", file.string());
  definer.set_int("format", 2);
  miState build = refhost::make_state(&definer, &thread_, miRAY_EYE);
  definer.init(&build);
  float unused = 0;
  definer.call(&unused, &build);

  const miTag instance = add_light_instance({}, refhost::translate(0, 0, 3));
  refhost::ShaderInstance& light = lumenfield();
  light.set_int("use_profile", 1);
  light.set_string("profile_name", "lantern");
  miState state = refhost::make_state(&light, &thread_, miRAY_LIGHT, instance);
  light.init(&state);
  const refhost::SceneLight lantern{&light, instance};
  const auto floor_towards = [&](double c_deg) {
    const double c = c_deg * kDeg;
    const miVector point{float(3 * std::cos(c)), float(3 * std::sin(c)), 0};
    return double(refhost::illuminance(lantern, point, {0, 0, 1}, 1, thread_).r);
  };
  const double along = floor_towards(0);  // C0: 50 cd at γ 45
  ASSERT_GT(along, 0.0);
  for (const Aim& k : kLanternAims) {
    if (k.gamma != 45) continue;
    EXPECT_NEAR(floor_towards(k.c) / along, k.candela / 50, 1e-4) << "C " << k.c;
  }
  EXPECT_TRUE(refhost::warnings().empty()) << refhost::warnings().front();
}

// ---- scaling -----------------------------------------------------------------

TEST(ProfileFileScaling, IesFactorsScaleTheCandelaValues) {
  const auto flat = [](double, double) { return 100.0; };
  struct Case {
    const char* first_line;
    const char* lamps;
    const char* lumens;
    const char* multiplier;
    const char* ballast;
    const char* lamp_factor;
    double expected;
  } cases[] = {
      {"IESNA:LM-63-2002", "1", "-1", "1", "1", "1", 100},
      {"IESNA:LM-63-2002", "6", "-1", "0.1", "1", "1", 10},   // lamp count does not scale
      {"IESNA:LM-63-2002", "2", "2900", "1", "1", "1", 100},  // relative: values as stated
      {"IESNA:LM-63-2002", "1", "-1", "2", "0.5", "1", 100},
      {"IESNA:LM-63-2002", "1", "-1", "1", "1", "0.5", 100},  // reserved since 2002
      {"IESNA:LM-63-1995", "1", "-1", "1", "1", "0.5", 50},   // ballast-lamp factor
      {"IESNA91", "1", "-1", "1", "1", "0.25", 25},
      // Since 2019 the field is the file's generation type (1.10100: a
      // lab's accredited measurement), which scales nothing.
      {"IES:LM-63-2019", "1", "-1", "1", "1", "1.10100", 100},
      {"IES:LM-63-2019", "1", "-1", "2", "0.5", "1.00001", 100},
  };
  for (const Case& k : cases) {
    Ies f;
    f.first_line = k.first_line;
    f.lamps = k.lamps;
    f.lumens = k.lumens;
    f.multiplier = k.multiplier;
    f.ballast = k.ballast;
    f.lamp_factor = k.lamp_factor;
    f.vertical = steps(0, 90, 45);
    f.horizontal = {0};
    f.fill(flat);
    const ProfileTable t = must_read(write_file("scale.ies", f.text()), 1);
    EXPECT_NEAR(sample_table(t, profile_direction(30, 0)), k.expected, 1e-4)
        << k.first_line << " lamps " << k.lamps << " multiplier " << k.multiplier << " ballast "
        << k.ballast << " factor " << k.lamp_factor;
  }
}

TEST(ProfileFileScaling, EulumdatScalesByTheFirstLampSet) {
  struct Case {
    const char* lamp_count;
    const char* flux;
    const char* conversion;
    bool second_set;
    double expected;  // 100 cd/klm
  } cases[] = {
      {"1", "1000", "1", false, 100},  {"2", "3000", "1", false, 300},
      {"-1", "321", "1", false, 32.1}, {"1", "1000", "1.5", false, 150},
      {"1", "2000", "1", true, 200},   {"1", "1234,5", "1", false, 123.45},
  };
  for (const Case& k : cases) {
    Ldt f;
    f.isym = 1;
    f.c_all = {0};
    f.gamma = steps(0, 180, 90);
    f.lamp_count = k.lamp_count;
    f.flux = k.flux;
    f.conversion = k.conversion;
    f.second_set = k.second_set;
    f.fill([](double, double) { return 100.0; });
    const ProfileTable t = must_read(write_file("scale.ldt", f.text()), 2);
    EXPECT_NEAR(sample_table(t, profile_direction(120, 0)), k.expected, 1e-3)
        << "lamps " << k.lamp_count << " flux " << k.flux << " second set " << k.second_set;
  }
}

// ---- real-world layout -------------------------------------------------------

// Line ends, separators, wrapping and keywords change nothing about the
// numbers a file holds.
TEST(ProfileFileLayout, LayoutDoesNotChangeTheTable) {
  Ies clean;
  clean.vertical = steps(0, 90, 7.5);
  clean.horizontal = steps(0, 180, 30);
  clean.fill(half_c0_light);
  const std::string text = clean.text();
  const ProfileTable reference = must_read(write_file("clean.ies", text), 1);

  const auto replace_all = [](std::string s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
      s.replace(p, from.size(), to);
    return s;
  };
  const std::string after_tilt = text.substr(text.find("TILT"));
  std::string wrapped = text;
  for (size_t i = wrapped.find("TILT"), n = 0; i < wrapped.size(); ++i)
    if (wrapped[i] == ' ' && ++n % 5 == 0) wrapped[i] = '\n';
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"CRLF", replace_all(text, "\n", "\r\n")},
      {"lone CR", replace_all(text, "\n", "\r")},
      {"tabs and commas", replace_all(text, " ", "\t,")},
      {"rows wrapped anywhere", wrapped},
      {"no keywords at all", after_tilt},
      {"empty keywords and Latin-1",
       replace_all(text, "[MANUFAC] nobody", "[MANUFAC] \n[LUMINAIRE]\n[LAMP] Leuchte f\xfcr")},
      {"TILT=INCLUDE",
       replace_all(text, "TILT=NONE\n", "TILT=INCLUDE\n1\n3\n0 45 90\n1 0.9 0.8\n")},
      {"TILT from a file", replace_all(text, "TILT=NONE", "TILT=lamp.tlt")},
      {"long lines", replace_all(text, "\n0 ", "\n" + std::string(400, ' ') + "0 ")},
  };
  for (const Case& k : cases) {
    const ProfileTable t = must_read(write_file("layout.ies", k.text), 1);
    EXPECT_EQ(t.vertical, reference.vertical) << k.what;
    EXPECT_EQ(t.horizontal, reference.horizontal) << k.what;
    EXPECT_EQ(t.candela, reference.candela) << k.what;
  }
}

// ---- refusals ----------------------------------------------------------------

// A file that cannot be read as the format says is refused with a message
// that names the file and the line the trouble is on.
TEST(ProfileFileRefusals, MalformedIesNamesFileAndLine) {
  Ies good;
  good.vertical = steps(0, 90, 30);
  good.horizontal = steps(0, 90, 45);
  good.fill(quadrant_light);
  const std::string text = good.text();
  // Lines of the good file: 1 IESNA, 2-3 keywords, 4 TILT, 5 header, 6
  // factors, 7 vertical angles, 8 horizontal angles, 9-11 candela rows.
  const auto set_line = [&](int number, const std::string& line) {
    std::istringstream in(text);
    std::string out, l;
    for (int i = 1; std::getline(in, l); ++i) out += (i == number ? line : l) + "\n";
    return out;
  };
  const std::string truncated = text.substr(0, text.rfind(' ', text.size() - 3));
  struct Case {
    const char* what;
    std::string text;
    int line;
    const char* says;
  } cases[] = {
      {"no TILT line", set_line(4, "TILT NONE"), 11, "TILT"},
      {"truncated", truncated, 11, "holds"},
      {"non-numeric value", set_line(10, "1 2 x3 4"), 10, "not a number"},
      {"non-numeric count", set_line(5, "1 -1 1 four 3 1 2 0 0 0"), 5, "not a number"},
      {"absurd vertical count", set_line(5, "1 -1 1 90000 3 1 2 0 0 0"), 5, "vertical angles"},
      {"absurd table", set_line(5, "1 -1 1 3000 3000 1 2 0 0 0"), 5, "too large"},
      {"fractional count", set_line(5, "1 -1 1 4.5 3 1 2 0 0 0"), 5, "whole number"},
      {"count larger than the data", set_line(5, "1 -1 1 5 3 1 2 0 0 0"), 11, "holds"},
      {"count smaller than the data", set_line(5, "1 -1 1 4 2 1 2 0 0 0"), 10, "more than"},
      {"descending angles", set_line(7, "0 60 30 90"), 7, "ascend"},
      {"vertical angle beyond 180", set_line(7, "0 30 60 190"), 7, "outside"},
      {"horizontal range 0-45", set_line(8, "0 22.5 45"), 8, "ranges"},
      {"type A", set_line(5, "1 -1 1 4 3 3 2 0 0 0"), 5, "type A"},
      {"type 7", set_line(5, "1 -1 1 4 3 7 2 0 0 0"), 5, "photometric type"},
      {"negative multiplier", set_line(5, "1 -1 -2 4 3 1 2 0 0 0"), 5, "multiplier"},
      {"zero ballast factor", set_line(6, "0 1 10"), 6, "ballast factor"},
      {"infinite value", set_line(9, "1 2 inf 4"), 9, "not a number"},
      {"tilt count beyond the data", set_line(4, "TILT=INCLUDE\n1\n900\n0 1"), 14, "tilt"},
  };
  for (const Case& k : cases) {
    const fs::path p = write_file("bad.ies", k.text);
    ProfileTable t;
    std::string error;
    ASSERT_FALSE(read_profile_file(p.string(), 1, t, error)) << k.what;
    const std::string where = p.string() + ":" + std::to_string(k.line) + ":";
    EXPECT_EQ(error.rfind(where, 0), 0u) << k.what << ": " << error;
    EXPECT_NE(error.find(k.says), std::string::npos) << k.what << ": " << error;
  }
}

TEST(ProfileFileRefusals, MalformedEulumdatNamesFileAndLine) {
  Ldt good;
  good.isym = 2;
  good.c_all = steps(0, 270, 90);
  good.gamma = steps(0, 180, 90);
  good.fill(half_c0_light);
  const std::string text = good.text();
  // Lines: 1-25 header, 26 lamp sets, 27-32 set 1, 33-42 direct ratios,
  // 43-46 C angles, 47-49 γ angles, 50-58 intensities (3 planes × 3).
  const auto set_line = [&](int number, const std::string& line) {
    std::istringstream in(text);
    std::string out, l;
    for (int i = 1; std::getline(in, l); ++i) out += (i == number ? line : l) + "\n";
    return out;
  };
  const auto first_lines = [&](int n) {
    std::istringstream in(text);
    std::string out, l;
    for (int i = 0; i < n && std::getline(in, l); ++i) out += l + "\n";
    return out;
  };
  struct Case {
    const char* what;
    std::string text;
    int line;
    const char* says;
  } cases[] = {
      {"header cut short", first_lines(20), 20, "ends before"},
      {"intensities cut short", first_lines(55), 55, "holds"},
      {"symmetry 5", set_line(3, "5"), 3, "symmetry"},
      {"symmetry text", set_line(3, "two"), 3, "not a number"},
      {"odd planes for symmetry 2", set_line(4, "3"), 4, "halved"},
      {"absurd plane count", set_line(4, "100000"), 4, "C-planes"},
      {"absurd gamma count", set_line(6, "99999"), 6, "gamma"},
      {"flux text", set_line(29, "lots"), 29, "flux"},
      {"zero flux", set_line(29, "0"), 29, "not positive"},
      {"lamp sets 0", set_line(26, "0"), 26, "lamp sets"},
      {"descending C angles", set_line(45, "90"), 45, "ascend"},
      {"gamma beyond 180", set_line(49, "200"), 49, "outside"},
      {"value text", set_line(52, "--"), 52, "not a number"},
      {"extra value", text + "7\n", 59, "more than"},
  };
  for (const Case& k : cases) {
    const fs::path p = write_file("bad.ldt", k.text);
    ProfileTable t;
    std::string error;
    ASSERT_FALSE(read_profile_file(p.string(), 2, t, error)) << k.what;
    const std::string where = p.string() + ":" + std::to_string(k.line) + ":";
    EXPECT_EQ(error.rfind(where, 0), 0u) << k.what << ": " << error;
    EXPECT_NE(error.find(k.says), std::string::npos) << k.what << ": " << error;
  }
}

TEST(ProfileFileRefusals, UnreadableFilesNameTheFile) {
  const fs::path missing = fs::path(::testing::TempDir()) / "no_such_profile.ies";
  const fs::path empty = write_file("empty.ldt", "");
  const fs::path huge = write_file("huge.ies", "IESNA:LM-63-2002\n");
  fs::resize_file(huge, size_t(17) << 20);  // sparse: nothing is written
  struct Case {
    fs::path path;
    int format;
    const char* says;
  } cases[] = {{missing, 1, "cannot be opened"},
               {empty, 2, "ends before"},
               {empty, 1, "TILT"},
               {huge, 1, "larger than"}};
  for (const Case& k : cases) {
    ProfileTable t;
    std::string error;
    EXPECT_FALSE(read_profile_file(k.path.string(), k.format, t, error)) << k.path;
    EXPECT_EQ(error.rfind(k.path.string(), 0), 0u) << error;
    EXPECT_NE(error.find(k.says), std::string::npos) << error;
  }
}

}  // namespace
