// Scenes with interreflections, as zel-lux works them out: the radiosity
// solution (direct light on the patches, form factors, shooting) and the
// illuminance at every grid point, direct plus interreflected, on two
// threads and one. Reports the patch count and the time of each stage.
//  - the closed office (examples/office.json): a 6 m × 4 m room, four panels;
//  - the L-shaped office closed into a room (examples/office-l-room.json):
//    polygon floor and ceiling, six walls, a column and a furniture mesh of
//    about 10,000 triangles, all reflecting.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "refhost/refhost.h"
#include "tools/lux/model/model.h"
#include "tools/lux/transport/calc.h"
#include "tools/lux/transport/radiosity.h"

namespace {

// One scene built in the host at a time: a benchmark of another scene
// clears the host's scene first, so that no scene shades another.
struct Built {
  lux::Scene scene;
  std::unique_ptr<lux::Model> model;
  size_t points = 0;
  size_t triangles = 0;
};

refhost::Plugin& plugin() {
  static refhost::Plugin* p = new refhost::Plugin(refhost::default_plugin_path());
  return *p;
}

const Built& built(const std::string& example) {
  static std::string current;
  static Built* b = nullptr;
  if (b != nullptr && current == example) return *b;
  refhost::set_echo(false);
  if (b != nullptr) {
    b->model.reset();
    delete b;
    b = nullptr;
    refhost::reset();
    refhost::reset_editing();
  }
  b = new Built;
  b->scene = lux::load_scene(std::string(ZEL_SOURCE_DIR) + "/examples/" + example);
  b->model = std::make_unique<lux::Model>(plugin(), b->scene);
  for (const auto& s : b->scene.surfaces) b->points += lux::make_grid(s).points.size();
  for (const auto& m : b->scene.meshes) b->triangles += m.mesh.triangles.size();
  current = example;
  return *b;
}

void run(benchmark::State& state, const std::string& example) {
  const Built& b = built(example);
  const int threads = static_cast<int>(state.range(0));
  lux::RadiositySolution last;
  for (auto _ : state) {
    last = lux::solve_radiosity(*b.model, {threads, false});
    auto results = lux::calculate(*b.model, {threads, false}, &last);
    benchmark::DoNotOptimize(results);
  }
  state.counters["patches"] = double(last.patches.size());
  state.counters["grid_points"] = double(b.points);
  state.counters["triangles"] = double(b.triangles);
  state.counters["direct_s"] = last.direct_seconds;
  state.counters["form_factors_s"] = last.form_factor_seconds;
  state.counters["solve_s"] = last.solve_seconds;
}

void BM_ClosedOfficeWithInterreflections(benchmark::State& state) { run(state, "office.json"); }
BENCHMARK(BM_ClosedOfficeWithInterreflections)
    ->Arg(2)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_FurnishedOfficeWithInterreflections(benchmark::State& state) {
  run(state, "office-l-room.json");
}
BENCHMARK(BM_FurnishedOfficeWithInterreflections)
    ->Arg(2)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
