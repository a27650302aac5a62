// The closed office with interreflections, as zel-lux works it out: the
// radiosity solution (direct light on the patches, form factors, shooting)
// and the illuminance at every grid point, direct plus interreflected, on
// two threads. Reports the patch count and the time of each stage.
#include <benchmark/benchmark.h>

#include <memory>

#include "tools/lux/calc.h"
#include "tools/lux/model.h"
#include "tools/lux/radiosity.h"

namespace {

struct Office {
  refhost::Plugin plugin{refhost::default_plugin_path()};
  lux::Scene scene = lux::load_scene(std::string(ZEL_SOURCE_DIR) + "/examples/office.json");
  std::unique_ptr<lux::Model> model;
  size_t points = 0;
  Office() {
    refhost::set_echo(false);
    model = std::make_unique<lux::Model>(plugin, scene);
    for (const auto& s : scene.surfaces) points += lux::make_grid(s).points.size();
  }
};

Office& office() {
  static Office* o = new Office;
  return *o;
}

void BM_ClosedOfficeWithInterreflections(benchmark::State& state) {
  Office& o = office();
  const int threads = static_cast<int>(state.range(0));
  lux::RadiositySolution last;
  for (auto _ : state) {
    last = lux::solve_radiosity(*o.model, {threads, false});
    auto results = lux::calculate(*o.model, {threads, false}, &last);
    benchmark::DoNotOptimize(results);
  }
  state.counters["patches"] = double(last.patches.size());
  state.counters["grid_points"] = double(o.points);
  state.counters["direct_s"] = last.direct_seconds;
  state.counters["form_factors_s"] = last.form_factor_seconds;
  state.counters["solve_s"] = last.solve_seconds;
}
BENCHMARK(BM_ClosedOfficeWithInterreflections)
    ->Arg(2)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
