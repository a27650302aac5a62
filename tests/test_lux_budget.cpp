// The work and memory estimate held against what the stages really take:
// each stage's reckoned memory against the peak of that stage alone,
// measured in a child process from the kernel's high-water mark of its
// resident memory, for a few sizes, within a factor of two; and runs whose
// declared sizes are beyond the bounds refused before anything of that size
// is allocated. No test here is timed.
#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tests/sanitized.h"
#include "tools/lux/metrics/cylindrical.h"
#include "tools/lux/metrics/glare.h"
#include "tools/lux/model/budget.h"
#include "tools/lux/report/pdf_report.h"
#include "tools/lux/report/pdf_sections.h"
#include "tools/lux/report/picture.h"
#include "tools/lux/transport/view.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using zeltest::LuxTest;

// A line "Name:   value kB" of /proc/self/status, in bytes.
double status_bytes(const char* name) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(name, 0) == 0) return std::stod(line.substr(std::strlen(name))) * 1024;
  return -1;
}

// How far resident memory rises above where it stood while `stage` runs:
// measured in a child process (so that nothing the parent frees or keeps
// blurs it), whose free heap is first given back to the system and whose
// high-water mark is reset; -1 when it cannot be measured here.
double measured_peak(const std::function<void()>& stage) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    close(pipe_fds[0]);
    malloc_trim(0);
    double growth = -1;
    {
      std::ofstream("/proc/self/clear_refs") << "5";  // resets the high-water mark
    }
    const double before = status_bytes("VmRSS:");
    try {
      stage();
      growth = status_bytes("VmHWM:") - before;
    } catch (...) {
    }
    if (write(pipe_fds[1], &growth, sizeof growth) != sizeof growth) _exit(1);
    _exit(0);
  }
  close(pipe_fds[1]);
  double growth = -1;
  if (read(pipe_fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return growth;
}

// The stage of an estimate by its name.
const lux::StageCost& stage_of(const lux::WorkEstimate& w, const std::string& name) {
  for (const auto& s : w.stages)
    if (s.stage == name) return s;
  static const lux::StageCost none;
  ADD_FAILURE() << "no stage " << name;
  return none;
}

// A sanitizer's allocator (shadow memory, red zones, quarantine) changes
// what memory a stage takes: the estimates are measured in the plain
// builds.
#ifdef ZEL_MEMORY_INSTRUMENTED
constexpr bool kMemoryInstrumented = true;
#else
constexpr bool kMemoryInstrumented = false;
#endif
constexpr const char* kInstrumented = "measured in the plain builds, not under a sanitizer";

// One size of a stage: what it is reckoned to take and what it took.
struct Measured {
  std::string what;
  double reckoned, peak;
};

void expect_within_two(const std::vector<Measured>& sizes) {
  for (const Measured& m : sizes) {
    ASSERT_GT(m.peak, 0) << m.what << ": not measured";
    std::printf("%-48s reckoned %8.1f MB, peak %8.1f MB (%.2f)\n", m.what.c_str(), m.reckoned / 1e6,
                m.peak / 1e6, m.reckoned / m.peak);
    EXPECT_LE(m.reckoned, 2 * m.peak) << m.what;
    EXPECT_GE(m.reckoned, 0.5 * m.peak) << m.what;
  }
}

// Builds `scene` in a fresh host scene, as a run does.
void fresh_model(refhost::Plugin& plugin, const lux::Scene& scene) {
  refhost::reset();
  refhost::reset_editing();
  refhost::clear_messages();
  const lux::Model model(plugin, scene);
}

json panel(int rows, int columns) {
  return {{"name", "panel"},
          {"shape", "rectangle"},
          {"size", {0.6, 0.6}},
          {"position", {0.3, 0.3, 2.8}},
          {"array", {{"rows", rows}, {"columns", columns}, {"spacing", 0.01}}},
          {"shader", {{"intensity", 3400}, {"intensity_unit", 1}, {"cosine_distribution", true}}}};
}

json floor(double size, double spacing) {
  return {{"name", "floor"},
          {"corner", {0, 0, 0}},
          {"u", {size, 0, 0}},
          {"v", {0, size, 0}},
          {"spacing", spacing}};
}

// Reading lights: the copies of an array with their shader fields.
TEST(LuxBudget, ReadingLightsIsReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  std::vector<Measured> sizes;
  for (const int side : {100, 200, 300}) {
    const json scene = {
        {"samples", 1}, {"lights", {panel(side, side)}}, {"surfaces", {floor(1, 1)}}};
    const std::string text = scene.dump();
    const lux::Scene s = lux::parse_scene(text, "test.json", ".");
    const double reckoned = stage_of(lux::estimate_work(s, 0, false), "the scene as read").bytes;
    sizes.push_back({std::to_string(side * side) + " lights read", reckoned,
                     measured_peak([&] { lux::parse_scene(text, "test.json", "."); })});
  }
  expect_within_two(sizes);
}

// Lights in the host: shader instances, records and the calculator's own.
TEST_F(LuxTest, LightsInTheHostAreReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  std::vector<Measured> sizes;
  for (const int side : {30, 45, 60}) {
    const json scene = {
        {"samples", 1}, {"lights", {panel(side, side)}}, {"surfaces", {floor(1, 1)}}};
    const lux::Scene s = lux::parse_scene(scene.dump(), "test.json", ".");
    const double reckoned =
        stage_of(lux::estimate_work(s, 0, false), "the lights in the host").bytes;
    sizes.push_back({std::to_string(side * side) + " lights in the host", reckoned,
                     measured_peak([&] { fresh_model(zeltest::plugin(), s); })});
  }
  expect_within_two(sizes);
}

// A flat mesh of 2 n² triangles as OBJ text.
std::string sheet_obj(int n) {
  std::ostringstream o;
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) o << "v " << i * 0.01 << " " << j * 0.01 << " 1\n";
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int a = j * (n + 1) + i + 1, b = a + 1, c = a + n + 2, d = a + n + 1;
      o << "f " << a << " " << b << " " << c << "\nf " << a << " " << c << " " << d << "\n";
    }
  return o.str();
}

// Meshes: reading the file, then the host's copy and acceleration structure.
TEST_F(LuxTest, MeshesAreReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  const fs::path dir = fs::temp_directory_path() / ("lux_budget_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<Measured> read_sizes, host_sizes;
  for (const int n : {150, 250, 350}) {
    std::ofstream(dir / "sheet.obj") << sheet_obj(n);
    json scene = {{"samples", 1},
                  {"lights", {{{"name", "l"}, {"position", {0, 0, 3}}}}},
                  {"surfaces", {floor(1, 1)}},
                  {"meshes", {{{"name", "sheet"}, {"file", (dir / "sheet.obj").string()}}}}};
    const std::string text = scene.dump();
    const lux::Scene s = lux::parse_scene(text, "test.json", dir);
    const lux::WorkEstimate w = lux::estimate_work(s, 0, false);
    const std::string what = std::to_string(2 * n * n) + " mesh triangles";
    // What reading charged for the mesh, by the same constants.
    const double vertices = double((n + 1) * (n + 1)), triangles = 2.0 * n * n;
    read_sizes.push_back({what + " read",
                          double(lux::kMeshReadBuffer) + vertices * lux::kMeshBytesPerVertex +
                              triangles * lux::kMeshBytesPerTriangle,
                          measured_peak([&] { lux::parse_scene(text, "test.json", dir); })});
    host_sizes.push_back({what + " in the host", stage_of(w, "the meshes in the host").bytes,
                          measured_peak([&] { fresh_model(zeltest::plugin(), s); })});
  }
  fs::remove_all(dir);
  expect_within_two(read_sizes);
  expect_within_two(host_sizes);
}

// The grids' results, from the calculation.
TEST_F(LuxTest, GridResultsAreReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  std::vector<Measured> sizes;
  for (const double spacing : {0.004, 0.003, 0.002}) {
    const json scene = {{"samples", 1},
                        {"lights", {{{"name", "l"}, {"position", {0.5, 0.5, 2}}}}},
                        {"surfaces", {floor(2, spacing)}}};
    lux::Model& model = build(scene.dump());
    const lux::WorkEstimate w = lux::estimate_work(*scene_, 0, false);
    sizes.push_back({std::to_string(w.points) + " grid points calculated",
                     stage_of(w, "the grids' results").bytes, measured_peak([&] {
                       lux::calculate(model, {1, false, true});
                     })});
  }
  expect_within_two(sizes);
}

// Cylindrical areas at their heights.
TEST_F(LuxTest, CylindricalAreasAreReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  std::vector<Measured> sizes;
  for (const double spacing : {0.01, 0.007, 0.005}) {
    const json scene = {{"samples", 1},
                        {"lights", {{{"name", "l"}, {"position", {0.5, 0.5, 3}}}}},
                        {"cylindrical",
                         {{{"name", "room"},
                           {"corner", {0, 0, 0}},
                           {"u", {2, 0, 0}},
                           {"v", {0, 2, 0}},
                           {"spacing", spacing},
                           {"heights", {1.2, 1.6}}}}}};
    lux::Model& model = build(scene.dump());
    const lux::WorkEstimate w = lux::estimate_work(*scene_, 0, false);
    sizes.push_back({"cylindrical points at 2 heights, spacing " + std::to_string(spacing),
                     stage_of(w, "the cylindrical areas").bytes, measured_peak([&] {
                       lux::calculate_cylindrical(model, {1, false, true});
                     })});
  }
  expect_within_two(sizes);
}

// The glare ratings: each luminaire in the field of each viewing direction
// kept with its figures for the report.
TEST_F(LuxTest, GlareRatingsAreReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  std::vector<Measured> sizes;
  for (const int directions : {10, 20, 40}) {
    json eye = {{"name", "eye"}, {"position", {-5, 0.3, 1.2}}, {"directions", json::array()}};
    for (int k = 0; k < directions; ++k) eye["directions"].push_back({1, 0.001 * k, 0});
    const json scene = {{"samples", 1},
                        {"lights", {panel(60, 60)}},
                        {"surfaces", {floor(1, 1)}},
                        {"observers", {eye}}};
    lux::Model& model = build(scene.dump());
    const lux::WorkEstimate w = lux::estimate_work(*scene_, 0, false);
    sizes.push_back({"3600 lights seen in " + std::to_string(directions) + " directions",
                     stage_of(w, "the glare ratings").bytes, measured_peak([&] {
                       const lux::GlareReport g = lux::calculate_glare(model, {1, false, true});
                       if (g.results.size() != size_t(directions) ||
                           g.results[0].sources.size() != 3600)
                         throw std::runtime_error("not every light in the field");
                     })});
  }
  expect_within_two(sizes);
}

// The camera view.
TEST_F(LuxTest, TheViewIsReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  std::vector<Measured> sizes;
  for (const int width : {1500, 2500, 3500}) {
    const json scene = {{"lights", {{{"name", "l"}, {"position", {0.5, 0.5, 3}}}}},
                        {"surfaces", {floor(1, 0.5)}},
                        {"view",
                         {{"position", {3, 0, 1}},
                          {"look_at", {0, 0, 0}},
                          {"width", width},
                          {"height", width},
                          {"samples", 1}}}};
    lux::Model& model = build(scene.dump());
    lux::RunSettings run;
    run.view = true;
    run.pictures = false;
    const lux::WorkEstimate w = lux::estimate_work(*scene_, run);
    sizes.push_back(
        {std::to_string(width) + " x " + std::to_string(width) + " view",
         stage_of(w, "the camera view").bytes, measured_peak([&] {
           const lux::ViewResult v = lux::render_view(model, *scene_->view, {1, false, true});
           lux::write_png(v.image, fs::temp_directory_path() /
                                       ("lux_budget_view_" + std::to_string(getpid()) + ".png"));
         })});
  }
  fs::remove(fs::temp_directory_path() / ("lux_budget_view_" + std::to_string(getpid()) + ".png"));
  expect_within_two(sizes);
}

// A whole run with its outputs (tables, report, PDF): the estimate of all
// its stages together against the peak of the run.
TEST(LuxBudget, AWholeRunWithItsReportsIsReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  const fs::path dir = fs::temp_directory_path() / ("lux_budget_run_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<Measured> sizes;
  for (const double spacing : {0.004, 0.003, 0.0025}) {
    const json scene = {{"samples", 1},
                        {"lights", {{{"name", "l"}, {"position", {0.5, 0.5, 2}}}}},
                        {"surfaces", {floor(2, spacing)}}};
    std::ofstream(dir / "run.json") << scene.dump();
    const lux::Scene s = lux::load_scene(dir / "run.json");
    lux::RunSettings run;
    run.picture_size = 200;
    const lux::WorkEstimate w = lux::estimate_work(s, run);
    sizes.push_back({std::to_string(w.points) + " points with tables and pictures", double(w.bytes),
                     measured_peak([&] {
                       fs::remove_all(dir / "out");
                       run_lux({(dir / "run.json").string(), "-o", (dir / "out").string(), "-q",
                                "-j", "1", "--picture-size", "200"});
                     })});
  }
  fs::remove_all(dir);
  expect_within_two(sizes);
}

// The PDF report alone: its typefaces, the page being drawn and each
// counted point's place in the point table; a page, once drawn, is written
// out, so the table's pages do not add up in memory.
TEST_F(LuxTest, ThePdfReportIsReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  const fs::path file =
      fs::temp_directory_path() / ("lux_budget_pdf_" + std::to_string(getpid()) + ".pdf");
  std::vector<Measured> sizes;
  for (const double spacing : {0.03, 0.02, 0.014}) {
    const json scene = {{"samples", 1},
                        {"lights", {{{"name", "l"}, {"position", {0.5, 0.5, 2}}}}},
                        {"surfaces", {floor(2, spacing)}}};
    lux::Model& model = build(scene.dump());
    const auto results = lux::calculate(model, {1, false, true});
    lux::RunSettings run, with_pdf;
    run.pictures = with_pdf.pictures = false;
    with_pdf.pdf = true;
    const double reckoned = stage_of(lux::estimate_work(*scene_, with_pdf), "the outputs").bytes -
                            stage_of(lux::estimate_work(*scene_, run), "the outputs").bytes;
    lux::RunInfo info;
    info.surface_files = {"floor"};
    lux::ReportContent content;
    content.date = "today";
    content.settings = lux::report_settings(model, info, {true});
    sizes.push_back(
        {std::to_string(results[0].grid.points.size()) + " points in the PDF report", reckoned,
         measured_peak([&] { lux::write_pdf_report(model, results, info, content, file); })});
  }
  fs::remove(file);
  expect_within_two(sizes);
}

// Reading point lists and polygons of many corners.
TEST(LuxBudget, PointListsAndPolygonsAreReckonedWithinTwo) {
  if (kMemoryInstrumented) GTEST_SKIP() << kInstrumented;
  const fs::path dir = fs::temp_directory_path() / ("lux_budget_pts_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<Measured> lists, polygons;
  for (const int n : {100000, 200000, 400000}) {
    {
      std::ofstream csv(dir / "p.csv");
      for (int k = 0; k < n; ++k) csv << k * 1e-3 << ",0,0,0,0,1,p" << k << "\n";
    }
    json scene = {{"samples", 1},
                  {"lights", {{{"name", "l"}, {"position", {0, 0, 3}}}}},
                  {"points", {{{"name", "pts"}, {"file", "p.csv"}}}}};
    const std::string text = scene.dump();
    const lux::Scene s = lux::parse_scene(text, "test.json", dir);
    lists.push_back({std::to_string(n) + " listed points read",
                     stage_of(lux::estimate_work(s, 0, false), "the scene as read").bytes,
                     measured_peak([&] { lux::parse_scene(text, "test.json", dir); })});
    json outline = json::array();
    for (int k = 0; k < n / 4; ++k) {
      const double a = 2 * M_PI * k / (n / 4);
      outline.push_back({5 + 4 * std::cos(a), 5 + 4 * std::sin(a), 0.75});
    }
    json polygon = {{"samples", 1},
                    {"lights", {{{"name", "l"}, {"position", {0, 0, 3}}}}},
                    {"surfaces", {{{"name", "round"}, {"spacing", 1}, {"polygon", outline}}}}};
    const std::string polygon_text = polygon.dump();
    const lux::Scene p = lux::parse_scene(polygon_text, "test.json", dir);
    polygons.push_back({std::to_string(n / 4) + " polygon corners read",
                        stage_of(lux::estimate_work(p, 0, false), "the scene as read").bytes,
                        measured_peak([&] { lux::parse_scene(polygon_text, "test.json", dir); })});
  }
  fs::remove_all(dir);
  expect_within_two(lists);
  expect_within_two(polygons);
}

// A mesh file of millions of empty lines costs its reading, not a string
// per line: reading 20 MB of them takes a few megabytes.
TEST(LuxBudget, EmptyLinesOfAMeshCostNoMemory) {
  const fs::path dir = fs::temp_directory_path() / ("lux_budget_obj_" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    std::ofstream obj(dir / "empty.obj", std::ios::binary);
    const std::string block(1 << 20, '\n');
    for (int k = 0; k < 20; ++k) obj << block;
    obj << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  }
  json scene = {{"lights", {{{"name", "l"}, {"position", {0, 0, 3}}}}},
                {"surfaces", {floor(1, 1)}},
                {"meshes", {{{"name", "m"}, {"file", "empty.obj"}}}}};
  const std::string text = scene.dump();
  const lux::Scene s = lux::parse_scene(text, "test.json", dir);
  EXPECT_EQ(s.meshes[0].mesh.triangles.size(), 1u);
#ifndef ZEL_MEMORY_INSTRUMENTED
  const double peak = measured_peak([&] { lux::parse_scene(text, "test.json", dir); });
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, 8e6) << "20 MB of empty lines";
#endif
  fs::remove_all(dir);
}

// The estimate counts the points each grid lays out: standard grids,
// margins, the three areas of each task area, cylindrical areas at each
// height; copies of an array share one flux integral.
TEST_F(LuxTest, TheEstimateCountsWhatTheStagesLayOut) {
  const json scene = {
      {"samples", 2},
      {"lights", {panel(6, 5)}},
      {"surfaces",
       {{{"name", "work plane"},
         {"corner", {0, 0, 0.75}},
         {"u", {12, 0, 0}},
         {"v", {0, 8, 0}},
         {"spacing", "standard"},
         {"margin", 0.5},
         {"task_areas",
          {{{"name", "desk"}, {"corner", {5.2, 2, 0.75}}, {"size", {1.6, 0.8}}},
           {{"name", "edge"}, {"corner", {0, 0, 0.75}}, {"size", {1, 1}}, {"background", 20}}}}},
        {{"name", "wall"},
         {"corner", {0, 8, 0}},
         {"u", {12, 0, 0}},
         {"v", {0, 0, 2.8}},
         {"spacing", 0.3},
         {"task_areas",
          {{{"name", "board"}, {"corner", {1, 8, 1}}, {"size", {2, 1}}, {"surrounding", 0.2}}}}}}},
      {"cylindrical",
       {{{"name", "room"},
         {"corner", {0, 0, 0}},
         {"u", {12, 0, 0}},
         {"v", {0, 8, 0}},
         {"spacing", "standard"},
         {"margin", 0.5},
         {"heights", {1.2, 1.6, 1.8}}}}}};
  json with_flux = scene;
  with_flux["lights"][0]["flux"] = 3000;
  lux::Model& model = build(with_flux.dump());
  uint64_t laid_out = 0;
  for (const auto& s : scene_->surfaces)
    for (const auto& area : lux::surface_areas(*scene_, s)) laid_out += area.points.size();
  const lux::WorkEstimate w = lux::estimate_work(*scene_, 0, false);
  EXPECT_EQ(w.points, laid_out);
  uint64_t cylindrical = 0;
  for (const auto& c : lux::calculate_cylindrical(model, {1, false, true}))
    cylindrical += uint64_t(c.nu) * uint64_t(c.nv);
  EXPECT_EQ(uint64_t(std::lround(stage_of(w, "the cylindrical areas").bytes /
                                 lux::kBytesPerCylindricalPoint)),
            cylindrical);
  // Thirty copies of one panel scaled to a flux: one integral before and
  // one after, not thirty of each.
  EXPECT_EQ(stage_of(w, "the lights in the host").calls, 2 * lux::kFluxIntegralCalls);
  double factor = 0;
  for (const auto& light : model.lights()) {
    const double k = light.photometry["flux"]["factor"].get<double>();
    if (factor == 0) factor = k;
    EXPECT_EQ(k, factor) << light.name;
  }
}

// The glare background's room estimate measures the flux of each kind of
// light once, for all its copies (a 300 x 300 array with a glare rating
// traced photons for each of 90,000 lights, for minutes), and the estimate
// reckons one measurement per kind. Each copy measured on its own would
// give its own Monte Carlo figure.
TEST_F(LuxTest, GlareMeasuresTheFluxOfEachKindOfLightOnce) {
  json unrated = panel(6, 5);  // in candela: its flux is known only by measuring it
  unrated["shader"] = {{"intensity", 1000}, {"cosine_distribution", true}};
  const json scene = {
      {"samples", 1},
      {"lights", {unrated}},
      {"surfaces",
       {{{"name", "floor"},
         {"corner", {0, 0, 0}},
         {"u", {4, 0, 0}},
         {"v", {0, 4, 0}},
         {"spacing", 1},
         {"role", "reflecting"},
         {"reflectance", 0.3}}}},
      {"observers",
       {{{"name", "eye"}, {"position", {-3, 0.3, 1.2}}, {"directions", {{1, 0, 0}}}}}}};
  lux::Model& model = build(scene.dump());
  ASSERT_EQ(model.lights().size(), 30u);
  const double first = lux::measure_flux(model, 0, lux::kGlareFluxPhotons, {1, false}).measured;
  const double second = lux::measure_flux(model, 1, lux::kGlareFluxPhotons, {1, false}).measured;
  ASSERT_NE(first, second) << "copies measured on their own differ";
  const lux::GlareReport glare = lux::calculate_glare(model, {1, false, true});
  EXPECT_EQ(glare.background_source, "room estimate");
  EXPECT_NEAR(glare.room_flux, 30 * first, 1e-12 * 30 * first);

  lux::RunSettings run;
  run.samples = 1;
  run.direct_only = true;
  run.pictures = false;
  const lux::WorkEstimate w = lux::estimate_work(*scene_, run);
  EXPECT_EQ(stage_of(w, "the glare ratings").calls, 1.0 * 30 + lux::kGlareFluxPhotons);
}

// Declared sizes beyond the bounds are refused before anything of that
// size is made, with the figure and what to change: a 1000 × 1000 array
// (it ended in bad_alloc), a mesh too large for the memory allowed, a
// standard grid over a 100 km surface, task areas whose bands multiply a
// large grid, a thousand eye heights, photons for every light of a large
// array.
TEST(LuxBudget, DeclaredSizesBeyondTheBoundsAreRefusedWithTheFigure) {
  const fs::path dir = fs::temp_directory_path() / ("lux_budget_big_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "sheet.obj") << sheet_obj(200);
  const auto refused_reading = [&](const json& scene, uint64_t max_bytes) {
    try {
      lux::parse_scene(scene.dump(), "test.json", dir, {false, max_bytes});
    } catch (const lux::Error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  const json lights = {{{"name", "l"}, {"position", {0, 0, 3}}}};
  struct Reading {
    const char* what;
    json scene;
    uint64_t max_bytes;
    std::vector<std::string> named;
  };
  const Reading readings[] = {
      {"a 1000 x 1000 array",
       {{"lights", {panel(1000, 1000)}}, {"surfaces", {floor(1, 1)}}},
       uint64_t(1) << 29,
       {"light \"panel\"", "1000 x 1000 lights", "GB", "--max-memory"}},
      {"a mesh of 80,000 triangles in 1 MB",
       {{"lights", lights},
        {"surfaces", {floor(1, 1)}},
        {"meshes", {{{"name", "m"}, {"file", "sheet.obj"}}}}},
       1000000,
       {"mesh \"m\"", "80000 triangles", "--max-memory"}},
  };
  for (const Reading& r : readings) {
    const std::string message = refused_reading(r.scene, r.max_bytes);
    ASSERT_FALSE(message.empty()) << r.what;
    for (const auto& piece : r.named)
      EXPECT_NE(message.find(piece), std::string::npos)
          << r.what << ": " << message << " lacks " << piece;
  }

  const auto refused_run = [&](const json& scene, const lux::RunSettings& run) {
    const lux::Scene s = lux::parse_scene(scene.dump(), "test.json", dir);
    try {
      lux::check_work(lux::estimate_work(s, run), uint64_t(8) << 30);
    } catch (const lux::Error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  json standard = {{"lights", lights},
                   {"surfaces",
                    {{{"name", "site"},
                      {"corner", {0, 0, 0}},
                      {"u", {1e5, 0, 0}},
                      {"v", {0, 1e5, 0}},
                      {"spacing", "standard"}}}}};
  json bands = {{"lights", lights}, {"surfaces", {floor(1000, 0.5)}}};
  for (int k = 0; k < 300; ++k)
    bands["surfaces"][0]["task_areas"].push_back({{"name", "t" + std::to_string(k)},
                                                  {"corner", {k, 0, 0}},
                                                  {"size", {1, 1}},
                                                  {"background", 1000}});
  json heights = {{"lights", lights},
                  {"cylindrical",
                   {{{"name", "c"},
                     {"corner", {0, 0, 0}},
                     {"u", {100, 0, 0}},
                     {"v", {0, 100, 0}},
                     {"spacing", 0.1},
                     {"heights", json::array()}}}}};
  for (int k = 1; k <= 1000; ++k) heights["cylindrical"][0]["heights"].push_back(0.002 * k);
  const json array = {{"lights", {panel(100, 100)}}, {"surfaces", {floor(1, 1)}}};
  lux::RunSettings photons;
  photons.photons = 1 << 30;
  struct Run {
    const char* what;
    json scene;
    lux::RunSettings run;
    std::vector<std::string> named;
  };
  const Run runs[] = {
      {"a standard grid over 100 km",
       standard,
       {},
       {"of memory", "1e+08 grid points", "\"spacing\""}},
      {"300 task areas with wide backgrounds", bands, {}, {"of memory", "1.2e+09 grid points"}},
      {"a thousand eye heights", heights, {}, {"the cylindrical areas", "\"heights\""}},
      {"2^30 photons for 10,000 lights",
       array,
       photons,
       {"light samples", "the photons", "--photons"}},
  };
  for (const Run& r : runs) {
    const std::string message = refused_run(r.scene, r.run);
    ASSERT_FALSE(message.empty()) << r.what;
    for (const auto& piece : r.named)
      EXPECT_NE(message.find(piece), std::string::npos)
          << r.what << ": " << message << " lacks " << piece;
  }
  fs::remove_all(dir);
}

}  // namespace
