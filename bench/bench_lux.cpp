// The calculator's illuminance on the office example (four Lambertian
// panels over three surfaces), with one thread and with two: wall-clock
// time per run and grid points per second. The speed-up is the ratio of
// the two times.
#include <benchmark/benchmark.h>

#include <memory>

#include "tools/lux/calc.h"
#include "tools/lux/model.h"

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

void BM_OfficeIlluminance(benchmark::State& state) {
  Office& o = office();
  lux::CalcOptions options;
  options.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto results = lux::calculate(*o.model, options);
    benchmark::DoNotOptimize(results);
  }
  state.counters["points/s"] = benchmark::Counter(
      double(o.points) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OfficeIlluminance)
    ->Arg(1)
    ->Arg(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
