// Tracing triangle meshes: shadow rays per second against a mesh of about
// 100,000 triangles through the host's shadow call (Embree where the build
// has it), on one thread and two, and the same mesh searched triangle by
// triangle for comparison; and the L-shaped office example, whose
// furniture mesh has about 10,000 triangles, on one and two threads.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "refhost/embree.h"
#include "refhost/refhost.h"
#include "tools/lux/model/model.h"
#include "tools/lux/transport/calc.h"

namespace {

constexpr uint32_t kRings = 224, kSegments = 224;  // 2 · 224² = 100,352 triangles
constexpr int kRays = 4096;
constexpr float kCentre = -50;  // the globe's centre on every axis: far from the office

// A sphere of radius 1 as a latitude–longitude mesh.
void globe(std::vector<float>& vertices, std::vector<uint32_t>& triangles) {
  const double pi = std::acos(-1.0);
  for (uint32_t i = 0; i <= kRings; ++i)
    for (uint32_t j = 0; j < kSegments; ++j) {
      const double theta = pi * i / kRings, phi = 2 * pi * j / kSegments;
      vertices.insert(vertices.end(), {kCentre + float(std::sin(theta) * std::cos(phi)),
                                       kCentre + float(std::sin(theta) * std::sin(phi)),
                                       kCentre + float(std::cos(theta))});
    }
  for (uint32_t i = 0; i < kRings; ++i)
    for (uint32_t j = 0; j < kSegments; ++j) {
      const uint32_t a = i * kSegments + j, b = i * kSegments + (j + 1) % kSegments;
      triangles.insert(triangles.end(), {a, a + kSegments, b + kSegments, a, b + kSegments, b});
    }
}

// The globe in the host, and segments between random points of a sphere of
// radius 3 around it: about a tenth of them meet the globe.
struct Globe {
  std::shared_ptr<const refhost::TriangleMesh> mesh;
  std::vector<std::pair<miVector, miVector>> segments;
  Globe() {
    refhost::set_echo(false);
    std::vector<float> vertices;
    std::vector<uint32_t> triangles;
    globe(vertices, triangles);
    const miTag object = refhost::add_mesh("globe", vertices, triangles);
    refhost::add_instance("globe_inst", object, refhost::identity());
    mesh = refhost::object_geometry(object)->mesh;
    std::mt19937 rng(1);
    std::normal_distribution<float> n;
    const auto on_sphere = [&] {
      const miVector v{n(rng), n(rng), n(rng)};
      const float s = 3.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
      return miVector{kCentre + v.x * s, kCentre + v.y * s, kCentre + v.z * s};
    };
    for (int k = 0; k < kRays; ++k) segments.emplace_back(on_sphere(), on_sphere());
  }
};

Globe& scene() {
  static Globe* g = new Globe;
  return *g;
}

miState light_ray(refhost::ThreadContext& thread, const miVector& from, const miVector& to) {
  miState s = refhost::make_state(nullptr, &thread, miRAY_LIGHT);
  const double dx = double(to.x) - double(from.x), dy = double(to.y) - double(from.y),
               dz = double(to.z) - double(from.z);
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  s.org = from;
  s.point = to;
  s.dir = {float(dx / length), float(dy / length), float(dz / length)};
  s.dist = length;
  return s;
}

void BM_MeshShadowRays(benchmark::State& state) {
  const Globe& g = scene();
  refhost::ThreadContext thread(state.thread_index(), 0);
  std::vector<miState> rays;
  for (const auto& [from, to] : g.segments) rays.push_back(light_ray(thread, from, to));
  size_t k = size_t(state.thread_index()) * 977, blocked = 0, traced = 0;
  for (auto _ : state) {
    miColor c{1, 1, 1, 1};
    blocked += mi_trace_shadow(&c, &rays[k++ % rays.size()]) == 0 ? 1 : 0;
    ++traced;
  }
  state.counters["rays/s"] = benchmark::Counter(double(traced), benchmark::Counter::kIsRate);
  state.counters["blocked"] =
      benchmark::Counter(double(blocked) / double(traced), benchmark::Counter::kAvgThreads);
  state.SetLabel(refhost::meshes_traced_by_embree() ? "Embree" : "every triangle");
}
BENCHMARK(BM_MeshShadowRays)->Threads(1)->Threads(2)->UseRealTime();

void BM_MeshEveryTriangle(benchmark::State& state) {
  const Globe& g = scene();
  size_t k = 0;
  for (auto _ : state) {
    const auto& [from, to] = g.segments[k++ % g.segments.size()];
    const refhost::Vec3d o{double(from.x), double(from.y), double(from.z)};
    const refhost::Vec3d d{double(to.x) - o.x, double(to.y) - o.y, double(to.z) - o.z};
    benchmark::DoNotOptimize(refhost::mesh_first_crossing_exhaustive(*g.mesh, o, d, 1e-5, 1));
  }
  state.counters["rays/s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MeshEveryTriangle)->Unit(benchmark::kMicrosecond);

// The L-shaped office, built in its own host scene after the globe's
// benchmarks (the globe stays in the scene: it lies far from the room).
struct Office {
  refhost::Plugin plugin{refhost::default_plugin_path()};
  lux::Scene scene = lux::load_scene(std::string(ZEL_SOURCE_DIR) + "/examples/office-l.json");
  std::unique_ptr<lux::Model> model;
  Office() {
    refhost::set_echo(false);
    model = std::make_unique<lux::Model>(plugin, scene);
  }
};

Office& office() {
  static Office* o = new Office;
  return *o;
}

void BM_OfficeWithFurniture(benchmark::State& state) {
  Office& o = office();
  lux::CalcOptions options;
  options.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto results = lux::calculate(*o.model, options);
    benchmark::DoNotOptimize(results);
  }
  state.counters["triangles"] = double(o.scene.meshes.at(0).mesh.triangles.size());
}
BENCHMARK(BM_OfficeWithFurniture)
    ->Arg(1)
    ->Arg(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
