// A luminaire's photometric file in a scene: its candela taken as the file
// states them unless the scene asks for relative use (and then every table
// says "relative"), its luminous opening as the emitting shape when the
// scene gives none, its maker, product and input power in the outputs.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/metrics/compliance.h"
#include "tools/lux/model/photometry_light.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using zeltest::LuxTest;

constexpr double kFoot = 0.3048;

fs::path shared_profiles() {
  const char* env = std::getenv("ZEL_SHARED_DIR");
  return fs::path(env != nullptr ? env : ZEL_SHARED_DIR) / "profiles";
}

// A folder of files written by a test, removed at its end.
class Files {
 public:
  explicit Files(const std::string& name)
      : dir_(fs::temp_directory_path() /
             ("zel_lux_luminaire_" + name + "_" + std::to_string(getpid()))) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~Files() { fs::remove_all(dir_); }
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;
  fs::path write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return dir_ / name;
  }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

// An IES file of one lamp: `lumens` per lamp (−1 for absolute photometry),
// a rotationally symmetric table of 1000 cd at the nadir falling to 0 at
// the horizon, its luminous opening in `units` (1 feet, 2 metres) and its
// input power.
std::string ies(double lumens, int units, double width, double length, double height,
                double watts) {
  char line[160];
  std::string text =
      "IESNA:LM-63-2002\n[MANUFAC] Test Works\n[LUMINAIRE] Test luminaire\n"
      "[LUMCAT] TW-1\n[_CCT] 3500 K\n[_CRI] 90\nTILT=NONE\n";
  std::snprintf(line, sizeof line, "1 %g 1 3 1 1 %d %g %g %g\n1 1 %g\n", lumens, units, width,
                length, height, watts);
  return text + line + "0 45 90\n0\n1000 707.1 0\n";
}

json scene_with(const fs::path& profile, const json& light, const char* unit = "metre") {
  return {{"scene_unit", unit},
          {"samples", 16},
          {"profiles", json::array({{{"name", "p"}, {"file", profile.string()}}})},
          {"lights", json::array({light})},
          {"points", json::array()},
          {"surfaces", json::array({{{"name", "floor"},
                                     {"corner", {-1, -1, 0}},
                                     {"u", {2, 0, 0}},
                                     {"v", {0, 2, 0}},
                                     {"spacing", 1}}})}};
}

json profile_light(json shader = json::object()) {
  shader["use_profile"] = true;
  shader["profile_name"] = "p";
  return {{"name", "lamp"}, {"position", {0, 0, 2}}, {"shader", shader}};
}

// Illuminance straight below a light, at `depth` under it, as the
// calculation takes it.
double below(const lux::Light& light, double depth) {
  refhost::ThreadContext thread;
  return lux::point_lux(light, {0, 0, 2 - depth}, {0, 0, 1}, thread);
}

// A file's candela are taken as they stand unless the scene asks for
// relative use: a light that does not say gives what one asking for
// absolute intensity gives, 1000 cd / (2 m)² below it, for absolute and
// relative photometry alike; the shared data's real file the same.
TEST_F(LuxTest, IesFileGivesItsCandelaUnlessAskedForRelativeUse) {
  const Files files("absolute");
  for (const double lumens : {-1.0, 1800.0}) {
    SCOPED_TRACE(lumens);
    const fs::path p = files.write("lamp.ies", ies(lumens, 2, 0, 0, 0, 20));
    const double unsaid = below(build(scene_with(p, profile_light()).dump()).lights()[0], 2);
    EXPECT_FALSE(model_->lights()[0].relative);
    const double asked = below(
        build(scene_with(p, profile_light({{"absolute_intensity", true}})).dump()).lights()[0], 2);
    EXPECT_NEAR(unsaid, 1000.0 / 4, 1e-3 * 250);
    EXPECT_EQ(unsaid, asked);
    const double relative = below(
        build(scene_with(p, profile_light({{"absolute_intensity", false}})).dump()).lights()[0], 2);
    EXPECT_TRUE(model_->lights()[0].relative);
    EXPECT_NEAR(relative, 1.0 / 4, 1e-3 / 4) << "relative to the peak";
  }
  const fs::path real = shared_profiles() / "WP_2_32.ies";
  if (!fs::exists(real)) GTEST_SKIP() << "no shared profiles at " << real.parent_path();
  json light = profile_light();
  light["shape"] = "point";
  const double unsaid = below(build(scene_with(real, light).dump()).lights()[0], 2);
  light["shader"]["absolute_intensity"] = true;
  const double asked = below(build(scene_with(real, light).dump()).lights()[0], 2);
  EXPECT_GT(unsaid, 10.0) << "candela of the file's lamps, not relative numbers";
  EXPECT_EQ(unsaid, asked);
}

// A relative use is said in every table's header: the summary's columns,
// the CSV's, the JSON report's units and keys, the PDF's tables.
TEST_F(LuxTest, RelativeUseIsMarkedInEveryTableHeader) {
  const Files files("relative");
  const fs::path p = files.write("lamp.ies", ies(-1, 2, 0, 0, 0, 20));
  files.write("scene.json", scene_with(p, profile_light({{"absolute_intensity", false}})).dump());
  const fs::path out = files.dir() / "out";
  const LuxOutcome r = run_lux(
      {(files.dir() / "scene.json").string(), "-o", out.string(), "-q", "--no-pictures", "--pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("E avg relative"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(" lx "), std::string::npos) << r.out;
  std::ifstream csv(out / "floor.csv");
  std::string header;
  std::getline(csv, header);
  EXPECT_NE(header.find("E_relative"), std::string::npos) << header;
  EXPECT_EQ(header.find("_lux"), std::string::npos) << header;
  const json report = json::parse(std::ifstream(out / "report.json"));
  EXPECT_EQ(report["units"]["illuminance"], "relative");
  EXPECT_TRUE(report["surfaces"][0].contains("relative"));
  EXPECT_FALSE(report["surfaces"][0].contains("lux"));
  EXPECT_TRUE(report["lights"][0]["relative"].get<bool>());
  if (std::system("pdftotext -v >/dev/null 2>&1") != 0) return;
  const std::string text = [&] {
    std::string s;
    FILE* pipe =
        popen(("pdftotext -layout '" + (out / "report.pdf").string() + "' -").c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) s.append(buffer, n);
    pclose(pipe);
    return s;
  }();
  EXPECT_NE(text.find("E avg relative"), std::string::npos);
  EXPECT_EQ(text.find(" lx"), std::string::npos) << "a table still headed in lux";
}

// A light whose scene entry gives no shape emits from its file's luminous
// opening: an IES rectangle (length along C0, the light's x), a circle (the
// disc of its diameter), or a point, in feet or metres, placed in the
// scene's unit; a shape the scene gives stays.
TEST_F(LuxTest, OpeningFromTheFileWhenTheSceneGivesNone) {
  const Files files("opening");
  using Kind = lux::Emitter::Kind;
  const struct {
    const char* what;
    int units;
    double w, l, h;
    const char* scene_unit;
    Kind kind;
    double half_u, half_v, radius;  // scene units
  } cases[] = {
      {"rectangle in metres", 2, 0.3, 1.2, 0, "metre", Kind::Rectangle, 0.6, 0.15, 0},
      {"rectangle in feet", 1, 1, 4, 0, "metre", Kind::Rectangle, 2 * kFoot, 0.5 * kFoot, 0},
      {"rectangle in metres, scene in cm", 2, 0.3, 1.2, 0, "cm", Kind::Rectangle, 60, 15, 0},
      {"circle in metres", 2, -0.2, -0.2, 0, "metre", Kind::Disc, 0, 0, 0.1},
      {"circle in feet", 1, -0.5, -0.5, 0, "metre", Kind::Disc, 0, 0, 0.25 * kFoot},
      {"point", 2, 0, 0, 0, "metre", Kind::None, 0, 0, 0},
      {"vertical cylinder", 2, -0.4, -0.4, 0.2, "metre", Kind::Cylinder, 0, 0, 0.2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path p = files.write("lamp.ies", ies(-1, c.units, c.w, c.l, c.h, 20));
    json light = profile_light();
    const double k = std::string(c.scene_unit) == "cm" ? 100 : 1;
    light["position"] = {0, 0, 2 * k};
    const lux::Light& l = build(scene_with(p, light, c.scene_unit).dump()).lights()[0];
    EXPECT_EQ(l.emitter.kind, c.kind);
    EXPECT_NEAR(l.emitter.half_u, c.half_u, 1e-9);
    EXPECT_NEAR(l.emitter.half_v, c.half_v, 1e-9);
    EXPECT_NEAR(l.emitter.radius, c.radius, 1e-9);
    EXPECT_EQ(l.opening_note.empty(), c.kind == Kind::None) << l.opening_note;
    // Spread over its opening the light keeps its candela: far below, the
    // inverse square law of the file's 1000 cd.
    const double depth = 30 * k, expected = 1000.0 / (30 * 30);
    refhost::ThreadContext thread;
    EXPECT_NEAR(lux::point_lux(l, {0, 0, 2 * k - depth}, {0, 0, 1}, thread), expected,
                0.01 * expected);
  }
  // A shape the scene gives is kept, a point included.
  const fs::path p = files.write("lamp.ies", ies(-1, 2, 0.3, 1.2, 0, 20));
  json light = profile_light();
  light["shape"] = "point";
  EXPECT_EQ(build(scene_with(p, light).dump()).lights()[0].emitter.kind, Kind::None);
  light["shape"] = "disc";
  light["radius"] = 0.05;
  EXPECT_EQ(build(scene_with(p, light).dump()).lights()[0].emitter.kind, Kind::Disc);

  // EULUMDAT's luminous area in millimetres: a rectangle, and a cylinder
  // where the file gives no width but luminous sides.
  const fs::path shared = shared_profiles();
  if (!fs::exists(shared / "example.ldt")) GTEST_SKIP() << "no shared profiles at " << shared;
  const struct {
    const char* file;
    Kind kind;
    double half_u, half_v, radius;
  } eulumdat[] = {{"example.ldt", Kind::Rectangle, 1.195 / 2, 0.21 / 2, 0},
                  {"road_luminaire.ldt", Kind::Cylinder, 0, 0, 0.472 / 2}};
  for (const auto& c : eulumdat) {
    SCOPED_TRACE(c.file);
    const lux::Light& l = build(scene_with(shared / c.file, profile_light()).dump()).lights()[0];
    EXPECT_EQ(l.emitter.kind, c.kind);
    EXPECT_NEAR(l.emitter.half_u, c.half_u, 1e-9);
    EXPECT_NEAR(l.emitter.half_v, c.half_v, 1e-9);
    EXPECT_NEAR(l.emitter.radius, c.radius, 1e-9);
  }
}

// The file's maker, product, colours and input power reach the light; a
// light scaled to a flux draws power in proportion; the installed power is
// the sum of the luminaires', unknown when one states none, and over an
// area it gives W/m² and W/m² per 100 lx of the area's Ēm.
TEST_F(LuxTest, FileDataAndInstalledPower) {
  const Files files("power");
  const fs::path p = files.write("lamp.ies", ies(-1, 2, 0.3, 1.2, 0, 24.5));
  json scene = scene_with(p, profile_light());
  scene["lights"][0]["array"] = {{"rows", 1}, {"columns", 3}, {"spacing", 0.5}};
  lux::Model& m = build(scene.dump());
  ASSERT_EQ(m.lights().size(), 3u);
  const lux::Light& l = m.lights()[0];
  ASSERT_TRUE(l.luminaire.has_value());
  EXPECT_EQ(l.luminaire->manufacturer, "Test Works");
  EXPECT_EQ(l.luminaire->catalogue, "TW-1");
  EXPECT_EQ(l.luminaire->colour_temperature, "3500 K");
  ASSERT_TRUE(l.power.has_value());
  EXPECT_DOUBLE_EQ(*l.power, 24.5);
  std::vector<std::optional<double>> powers;
  for (const auto& light : m.lights()) powers.push_back(light.power);
  const auto watts = lux::installed_power(powers);
  ASSERT_TRUE(watts.has_value());
  EXPECT_DOUBLE_EQ(*watts, 3 * 24.5);
  EXPECT_FALSE(lux::installed_power({24.5, std::nullopt}).has_value());
  const auto results = lux::calculate(m, {});
  const auto density = lux::power_densities(m.scene(), results, watts);
  ASSERT_EQ(density.size(), 1u);
  EXPECT_DOUBLE_EQ(density[0].area_m2, 4.0);
  EXPECT_DOUBLE_EQ(*density[0].w_per_m2, 3 * 24.5 / 4.0);
  EXPECT_NEAR(*density[0].w_per_m2_per_100lx, 3 * 24.5 / 4.0 / (results[0].stats.avg / 100), 1e-12);

  // Scaled to twice the file's flux, the luminaire draws twice its power.
  json scaled = scene_with(p, profile_light());
  const double file_flux = lux::emitted_flux(m.lights()[0], m.scene().lights[0], m.scene());
  scaled["lights"][0]["flux"] = 2 * file_flux;
  EXPECT_NEAR(*build(scaled.dump()).lights()[0].power, 2 * 24.5, 1e-3);
}

}  // namespace
