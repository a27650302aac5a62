// The calculator's direct illuminance in an office, timed and checked against
// the closed form side by side: four Lambertian 0.6 m panels of 3400 lm at
// 2.8 m, the work plane (200 × 120 points) and the back wall up to the
// ceiling line (120 × 56 points, the top rows lit at grazing incidence).
// Each surface is computed with the old fixed sampling (64 emitter points per
// light and point) and with the error-controlled default (0.1 %), on one and
// on two threads. Counters: the largest relative error against the
// configuration-factor illuminance, in percent, and the light rays handed to
// the shaders per point and light.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "tests/configuration_factor.h"
#include "tools/lux/model/model.h"
#include "tools/lux/transport/calc.h"

namespace {

constexpr double kPanelFlux = 3400;  // lumen
constexpr double kPanelSize = 0.6;   // metre
constexpr double kCeiling = 2.8;
constexpr double kPanelX[] = {1.5, 4.5};
constexpr double kPanelY[] = {1.0, 3.0};
constexpr int kOldSamples = 64;

enum Surface { WorkPlane, BackWall, ProfileFloor };
enum Sampling { Fixed64, Controlled };

// The office as a scene file, with one surface: the benchmark owns it, so
// that it does not change when the example office does.
std::string office_text(Surface surface) {
  std::string lights;
  int n = 0;
  for (double y : kPanelY)
    for (double x : kPanelX) {
      if (n > 0) lights += ",";
      lights += R"({"name": "panel-)" + std::to_string(++n) +
                R"(", "shape": "rectangle", "size": [0.6, 0.6], "position": [)" +
                std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(kCeiling) +
                R"(], "shader": {"intensity": 3400, "intensity_unit": 1,
                   "cosine_distribution": true, "cosine_exponent": 1,
                   "use_temperature": true, "temperature": 4000}})";
    }
  const std::string plane =
      R"({"name": "work plane", "corner": [0.5, 0.5, 0.75], "u": [5, 0, 0], "v": [0, 3, 0],
          "spacing": 0.025})";
  const std::string wall =
      R"({"name": "back wall", "corner": [0, 4, 0], "u": [6, 0, 0], "v": [0, 0, 2.8],
          "spacing": 0.05, "normal": [0, -1, 0]})";
  return R"({"scene_unit": "metre", "lights": [)" + lights + R"(], "surfaces": [)" +
         (surface == WorkPlane ? plane : wall) + "]}";
}

// E = Φ·F/A summed over the panels, F the configuration factor.
double exact_lux(lux::Vec3 P, lux::Vec3 n) {
  const double h = kPanelSize / 2;
  double e = 0;
  for (double y : kPanelY)
    for (double x : kPanelX) {
      const std::vector<lux::Vec3> corners = {{x - h, y - h, kCeiling},
                                              {x + h, y - h, kCeiling},
                                              {x + h, y + h, kCeiling},
                                              {x - h, y + h, kCeiling}};
      e += kPanelFlux / (kPanelSize * kPanelSize) * zeltest::polygon_factor(P, n, corners);
    }
  return e;
}

// A single small downlight with a measured profile over 201 × 201 floor
// points: no closed form to check, but the case whose scaling matters.
std::string profile_text() {
  return R"({"scene_unit": "metre",
    "profiles": [{"name": "downlight", "file": "profiles/narrow_downlight.ies"}],
    "lights": [{"name": "downlight", "shape": "disc", "radius": 0.05, "position": [0, 0, 3],
                "shader": {"use_profile": true, "profile_name": "downlight",
                           "absolute_intensity": true}}],
    "surfaces": [{"name": "floor", "corner": [-2.01, -2.01, 0], "u": [4.02, 0, 0],
                  "v": [0, 4.02, 0], "spacing": 0.02}]})";
}

// One surface's office built in the host; rebuilt when another is asked for.
struct Office {
  refhost::Plugin plugin{refhost::default_plugin_path()};
  Surface surface = WorkPlane;
  std::unique_ptr<lux::Scene> scene;
  std::unique_ptr<lux::Model> model;

  lux::Model& build(Surface s, Sampling sampling) {
    if (!model || surface != s) {
      model.reset();
      refhost::reset();
      refhost::set_echo(false);
      surface = s;
      scene = std::make_unique<lux::Scene>(
          s == ProfileFloor ? lux::parse_scene(profile_text(), "bench.json",
                                               std::string(ZEL_SOURCE_DIR) + "/examples")
                            : lux::parse_scene(office_text(s), "bench.json", "."));
      model = std::make_unique<lux::Model>(plugin, *scene);
    }
    for (auto& l : model->lights()) l.samples = sampling == Fixed64 ? kOldSamples : 0;
    return *model;
  }
};

Office& office() {
  static auto* o = new Office;
  return *o;
}

double largest_error_percent(const lux::SurfaceResult& r) {
  double worst = 0;
  for (size_t p = 0; p < r.grid.points.size(); ++p) {
    const double exact = exact_lux(r.grid.points[p], r.grid.normal);
    worst = std::max(worst, std::fabs(r.lux[p] - exact) / exact);
  }
  return 100 * worst;
}

// Light rays per point and light, counted over the surface's grid.
double calls_per_point(const lux::Model& model, const lux::SurfaceResult& r) {
  refhost::ThreadContext thread(0, 1);
  double calls = 0;
  for (const auto& light : model.lights())
    for (const lux::Vec3& P : r.grid.points) {
      int n = 0;
      refhost::illuminance(light.scene, lux::to_mi(P), lux::to_mi(r.grid.normal),
                           {light.samples, light.accuracy}, thread, &n);
      calls += n;
    }
  return calls / double(r.grid.points.size() * model.lights().size());
}

void BM_Office(benchmark::State& state) {
  const auto surface = static_cast<Surface>(state.range(0));
  const auto sampling = static_cast<Sampling>(state.range(1));
  lux::Model& model = office().build(surface, sampling);
  lux::CalcOptions options;
  options.threads = static_cast<int>(state.range(2));
  std::vector<lux::SurfaceResult> results;
  for (auto _ : state) {
    results = lux::calculate(model, options);
    benchmark::DoNotOptimize(results);
  }
  const lux::SurfaceResult& r = results.at(0);
  const char* names[] = {"work plane", "back wall", "profile floor"};
  state.SetLabel(std::string(names[surface]) + ", " +
                 (sampling == Fixed64 ? "-s 64" : "accuracy 0.1%"));
  if (surface != ProfileFloor) state.counters["max_err_%"] = largest_error_percent(r);
  state.counters["rays/pt"] = calls_per_point(model, r);
  state.counters["points/s"] = benchmark::Counter(
      double(r.grid.points.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Office)
    ->ArgNames({"surface", "controlled", "threads"})
    ->ArgsProduct({{WorkPlane, BackWall, ProfileFloor}, {Fixed64, Controlled}, {1, 2}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
