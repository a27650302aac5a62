// What the calculator writes: grids, iso-lux lines, colour scales, and the
// files of a run, whole or not at all.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/cli/cli.h"
#include "tools/lux/report/outputs.h"
#include "tools/lux/report/picture.h"

namespace {

namespace fs = std::filesystem;
using zeltest::LuxTest;

// Grid points sit at the centres of equal cells that tile the surface, no
// wider than the spacing asked for.
TEST(LuxGrid, CellCentresTileTheSurface) {
  struct Case {
    double lu, lv, spacing;
    int nu, nv;
  };
  const Case cases[] = {{4, 3, 0.5, 8, 6}, {1, 1, 0.3, 4, 4}, {0.2, 5, 1, 1, 5}, {2, 2, 2, 1, 1}};
  for (const Case& c : cases) {
    lux::SurfaceDesc s;
    s.corner = {1, 2, 0.75};
    s.u = {c.lu, 0, 0};
    s.v = {0, c.lv, 0};
    s.spacing = c.spacing;
    const lux::Grid g = lux::make_grid(s);
    EXPECT_EQ(g.nu, c.nu) << c.lu << " by " << c.spacing;
    EXPECT_EQ(g.nv, c.nv) << c.lv << " by " << c.spacing;
    EXPECT_LE(g.du, c.spacing + 1e-12);
    EXPECT_DOUBLE_EQ(g.du * g.nu, c.lu);
    lux::Vec3 mean{};
    for (const auto& p : g.points) {
      mean = mean + p * (1.0 / double(g.points.size()));
      EXPECT_GT(p.x, 1.0);
      EXPECT_LT(p.x, 1.0 + c.lu);
    }
    EXPECT_NEAR(mean.x, 1 + c.lu / 2, 1e-12);
    EXPECT_NEAR(mean.y, 2 + c.lv / 2, 1e-12);
    EXPECT_DOUBLE_EQ(g.points[0].x, 1 + g.du / 2) << "the first point is the first cell's centre";
  }
}

// Uniformities as lighting standards define them, and 0 rather than a
// quotient of zeros on an unlit surface.
TEST(LuxStats, UniformitiesAreMinOverAverageAndMinOverMax) {
  const lux::Stats lit = lux::stats_of({100, 200, 300});
  EXPECT_DOUBLE_EQ(lit.u0, 0.5);
  EXPECT_DOUBLE_EQ(lit.min_over_max, 100.0 / 300.0);
  const lux::Stats dark = lux::stats_of({0, 0, 0});
  EXPECT_EQ(dark.u0, 0);
  EXPECT_EQ(dark.min_over_max, 0);
}

// An iso-line of f = distance² from a centre is a closed circle: every end
// of a piece is shared by exactly one other, and all lie on the circle.
TEST(LuxIsoLines, LevelCurveOfARadialFieldIsAClosedCircle) {
  const int n = 21;
  std::vector<double> f(size_t(n) * n);
  // A centre off the lattice's rational points, so that no lattice point
  // lies exactly on a level.
  const double cx = 10.37, cy = 9.61;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      f[size_t(j) * n + size_t(i)] = (i - cx) * (i - cx) + (j - cy) * (j - cy);
  for (double radius : {2.5, 5.0, 7.7}) {
    const auto pieces = lux::iso_segments(f, n, n, radius * radius);
    ASSERT_GT(pieces.size(), 8u) << radius;
    std::map<std::pair<long, long>, int> ends;
    for (const auto& s : pieces) {
      for (auto [x, y] : {std::pair{s.x0, s.y0}, std::pair{s.x1, s.y1}}) {
        // Linear interpolation along a lattice edge misses the quadratic by
        // at most 1/4, which is 1/(8r) off the circle to first order.
        EXPECT_NEAR(std::hypot(x - cx, y - cy), radius, 1.1 / (8 * radius)) << "radius " << radius;
        ++ends[{std::lround(x * 1e6), std::lround(y * 1e6)}];
      }
    }
    for (const auto& [at, count] : ends) EXPECT_EQ(count, 2) << "radius " << radius << ": open end";
  }
}

// A saddle: the level between the two diagonals gives two pieces that do
// not cross, chosen by the cell's mean.
TEST(LuxIsoLines, SaddleCellsGiveTwoSeparatePieces) {
  const std::vector<double> high_diagonal{1, 0, 0, 1};  // (0,0) and (1,1) high
  for (double level : {0.4, 0.6}) {
    const auto pieces = lux::iso_segments(high_diagonal, 2, 2, level);
    ASSERT_EQ(pieces.size(), 2u) << level;
    for (const auto& s : pieces)
      EXPECT_NEAR(std::hypot(s.x1 - s.x0, s.y1 - s.y0),
                  std::sqrt(2) * (level < 0.5 ? level : 1 - level), 1e-12)
          << level << ": each piece cuts one corner off";
  }
}

// The map of an L-shaped area: the quarter outside its outline stays plain
// white (no cell borders stroked there, no cut-off labels), the hatching
// of masked cells stays on them.
TEST(LuxPicture, OutsideAnOutlineStaysWhite) {
  lux::SurfaceResult r;
  lux::Grid& g = r.grid;
  g.nu = g.nv = 20;
  g.du = g.dv = 0.1;
  g.normal = {0, 0, 1};
  g.outline = {{{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}};
  for (int j = 0; j < g.nv; ++j)
    for (int i = 0; i < g.nu; ++i) {
      const double s = (i + 0.5) * g.du, t = (j + 0.5) * g.dv;
      const bool outside = s > 1 && t > 1;
      const bool masked = i == 3 && j == 3;
      g.points.push_back({s, t, 0});
      g.state.push_back(outside  ? lux::PointState::Outside
                        : masked ? lux::PointState::Masked
                                 : lux::PointState::Counted);
      g.inside.push_back(outside ? 0 : 1);
      r.lux.push_back(100 + 200 * s + 37 * t * t);  // iso-lines that cross the whole L
    }
  r.stats = lux::stats_of(r.lux, g.state);
  const lux::MapExtent e = lux::false_colour_extent(g, 200);
  const int w = int(std::ceil(e.width)), h = int(std::ceil(e.height));
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(image);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  lux::draw_false_colour(cr, r, "m", 200);
  cairo_destroy(cr);
  cairo_surface_flush(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  const auto pixel = [&](double x, double y) {
    return reinterpret_cast<const uint32_t*>(data + int(y) * stride)[int(x)] & 0xffffffu;
  };
  // The outside quarter, kept 3 px clear of its outline (drawn 1.5 px wide).
  const double x0 = e.plot_x + e.plot_w / 2 + 3, x1 = e.plot_x + e.plot_w - 3;
  const double y0 = e.plot_y + 3, y1 = e.plot_y + e.plot_h / 2 - 3;
  int marked = 0;
  for (double y = y0; y < y1; ++y)
    for (double x = x0; x < x1; ++x) marked += pixel(x, y) != 0xffffffu ? 1 : 0;
  EXPECT_EQ(marked, 0) << "pixels drawn outside the outline";
  // The masked cell (3, 3) is grey and hatched.
  const double mx = e.plot_x + 3.5 * e.plot_w / 20, my = e.plot_y + e.plot_h - 3.5 * e.plot_h / 20;
  int grey = 0;
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx) {
      const uint32_t p = pixel(mx + dx, my + dy);
      const unsigned red = p >> 16, green = (p >> 8) & 0xff, blue = p & 0xff;
      grey += red == green && green == blue && red < 0xf0 ? 1 : 0;
    }
  EXPECT_EQ(grey, 49) << "the masked cell is not grey";
  cairo_surface_destroy(image);
}

// Colour-scale bounds enclose the data, and the iso-lux levels between
// them are evenly spaced at 1, 2, 2.5 or 5 times a power of ten.
TEST(LuxColourScale, RoundBoundsAndEvenLevels) {
  const std::pair<double, double> cases[] = {{0, 35.3},        {232.5, 381.8}, {0.004, 0.0093},
                                             {1795.7, 2675.1}, {500, 500},     {0, 0}};
  for (const auto& [lo, hi] : cases) {
    const lux::ColourScale s = lux::nice_scale(lo, hi);
    EXPECT_LE(s.lo, lo);
    EXPECT_GE(s.hi, hi);
    EXPECT_LT(s.lo, s.hi);
    const double mantissa = s.step / std::pow(10.0, std::floor(std::log10(s.step)));
    EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                std::fabs(mantissa - 2.5) < 1e-9 || std::fabs(mantissa - 5) < 1e-9)
        << "step " << s.step;
    EXPECT_GE(s.levels.size(), 2u) << lo << " to " << hi;
    EXPECT_LE(s.levels.size(), 12u) << lo << " to " << hi;
    double previous = s.lo;
    for (double v : s.levels) {
      EXPECT_NEAR(v - previous, s.step, 1e-9 * s.step);
      previous = v;
    }
  }
}

class LuxRun : public LuxTest {
 protected:
  void SetUp() override {
    LuxTest::SetUp();
    dir_ = fs::temp_directory_path() / ("lux_run_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    LuxTest::TearDown();
  }
  fs::path write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
    return dir_ / name;
  }
  fs::path dir_;
};

const char* kSmallScene = R"({
  "samples": 4,
  "lights": [{"name": "lamp", "shape": "disc", "radius": 0.1, "position": [1, 1, 2.5],
              "shader": {"intensity": 1000, "intensity_unit": 1, "cosine_distribution": true}}],
  "surfaces": [{"name": "Work plane", "corner": [0, 0, 0.8], "u": [2, 0, 0], "v": [0, 2, 0],
                "spacing": 0.25}],
  "view": {"position": [3, -1, 2], "look_at": [1, 1, 0.8], "width": 40, "height": 30}
})";

// A run writes the CSV, the picture, the view and the report whole, and the
// report's statistics agree with the grid in the CSV.
TEST_F(LuxRun, WritesEveryFileAndTheReportAgreesWithTheGrid) {
  const fs::path scene = write("small.json", kSmallScene);
  const fs::path out = dir_ / "results";
  const LuxOutcome r = run_lux({scene.string(), "-o", out.string(), "-j", "2", "-q", "--view"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* f : {"work-plane.csv", "work-plane.png", "view.png", "report.json"})
    EXPECT_TRUE(fs::exists(out / f)) << f;
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().filename() != lux::kManifestName) {  // the list of the run's files
      EXPECT_NE(e.path().filename().string()[0], '.') << "temporary left: " << e.path();
    }

  std::ifstream csv(out / "work-plane.csv");
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "i,j,x,y,z,E_lux,E_direct_lux,E_interreflected_lux,E_lamp,MF");
  std::vector<double> e;
  while (std::getline(csv, line)) {
    std::stringstream row(line);
    std::string cell;
    for (int k = 0; k < 6; ++k) std::getline(row, cell, ',');
    e.push_back(std::stod(cell));
  }
  ASSERT_EQ(e.size(), 64u);
  const nlohmann::json report = nlohmann::json::parse(std::ifstream(out / "report.json"));
  const auto& lux = report["surfaces"][0]["lux"];
  double sum = 0;
  for (double v : e) sum += v;
  EXPECT_NEAR(lux["avg"].get<double>(), sum / 64, 1e-6 * sum / 64);
  const double min = *std::min_element(e.begin(), e.end());
  const double max = *std::max_element(e.begin(), e.end());
  EXPECT_NEAR(lux["min"].get<double>(), min, 1e-8 * min);  // the CSV has 9 digits
  EXPECT_NEAR(lux["max"].get<double>(), max, 1e-8 * max);
  EXPECT_GT(lux["min"].get<double>(), 0);
  EXPECT_NE(r.out.find("Work plane"), std::string::npos) << "the summary names the surface";
}

// Failing runs end with a message naming the file at fault, a non-zero
// status and no output directory or file left behind.
TEST_F(LuxRun, FailuresNameTheFileAndLeaveNothingBehind) {
  const fs::path good = write("good.json", kSmallScene);
  const fs::path bad = write("bad.json", "{\n  \"lights\": [\n    {\"name\": \"x\",}\n  ]\n}\n");
  std::string without_view = kSmallScene;
  without_view.erase(without_view.find(",\n  \"view\""), std::string::npos);
  const fs::path no_view = write("no_view.json", without_view + "\n}\n");
  const fs::path out = dir_ / "results";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string named;
  };
  const Case cases[] = {
      {"missing scene", {(dir_ / "absent.json").string()}, "absent.json"},
      {"malformed scene", {bad.string()}, "bad.json:3:"},
      {"plug-in that cannot be loaded",
       {good.string(), "--plugin", (dir_ / "nothing.so").string()},
       "nothing.so"},
      {"plug-in that is no library", {good.string(), "--plugin", bad.string()}, "bad.json"},
      {"view without a camera", {no_view.string(), "--view"}, "no_view.json"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", out.string(), "-q"});
    const LuxOutcome r = run_lux(args);
    EXPECT_NE(r.status, 0) << c.what;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << c.what << ": " << r.err;
    EXPECT_FALSE(fs::exists(out)) << c.what << ": output left behind";
  }
  // An output directory that cannot be made: nothing is written anywhere.
  const fs::path blocker = write("file", "not a directory");
  const LuxOutcome r = run_lux({good.string(), "-o", (blocker / "results").string(), "-q"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("results"), std::string::npos) << r.err;
}

// Files of a run that fails part-way are removed, the directory made for
// them too; committed files stay.
TEST(LuxOutputSet, UncommittedFilesAreRemoved) {
  const fs::path dir = fs::temp_directory_path() / ("lux_set_" + std::to_string(getpid()));
  fs::remove_all(dir);
  {
    lux::OutputSet set(dir / "run");
    set.write_text("a.csv", "1\n");
    set.write_text("report.json", "{}\n");
    EXPECT_FALSE(fs::exists(dir / "run" / "a.csv")) << "not before the commit";
  }
  EXPECT_FALSE(fs::exists(dir / "run"));
  {
    lux::OutputSet set(dir / "run");
    set.write_text("a.csv", "1\n");
    set.commit();
  }
  EXPECT_TRUE(fs::exists(dir / "run" / "a.csv"));
  fs::remove_all(dir);
}

// The main help names both commands and the first steps a designer takes;
// the profile command has its own.
TEST(LuxCommandLine, HelpListsTheCommandsAndFirstSteps) {
  const LuxOutcome help = run_lux({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* piece : {"zel-lux profile FILE...", "zel-lux SCENE.json", "--pdf", "--strict",
                            "--point-tables", "First steps", "zel-lux profile --help"})
    EXPECT_NE(help.out.find(piece), std::string::npos) << piece << "\n" << help.out;
  const LuxOutcome profile = run_lux({"profile", "--help"});
  EXPECT_EQ(profile.status, 0);
  EXPECT_NE(profile.out.find("--polar"), std::string::npos) << profile.out;
}

}  // namespace
