// Whole floors with interreflections at the default settings: the solution
// (direct light on the surfaces, links, iteration) and the illuminance at
// every grid point, on two threads and one. Reports the balance (light
// made or lost, as a fraction of what reaches the surfaces; the share of
// the lights' flux that reaches them directly), the patches,
// the links, the resolution reached, the estimated error and each stage's
// time.
//  - an office floor of 36 m × 24 m × 3 m: 96 panels of 3400 lm on a 3 m
//    grid set into the ceiling, 48 desks as boxes and one mesh of chairs
//    (about 50,000 triangles);
//  - a warehouse of 60 m × 40 m × 10 m: 200 high-bay luminaires of
//    20,000 lm on the ceiling, our own narrow-beam profile (a cos³⁰ lobe, as
//    a high-bay's reflector throws it; it ships with the project, so the
//    bench always runs), and ten rows of racking as boxes.
// Then the closed furnished rooms against ten million photons, and how the
// open-plan example's work plane changes with the resolution.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "refhost/refhost.h"
#include "tools/lux/model/model.h"
#include "tools/lux/transport/calc.h"
#include "tools/lux/transport/photon_trace.h"
#include "tools/lux/transport/radiosity.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr double kPi = 3.141592653589793;

refhost::Plugin& plugin() {
  static refhost::Plugin* p = new refhost::Plugin(refhost::default_plugin_path());
  return *p;
}

fs::path bench_dir() {
  const fs::path dir = fs::temp_directory_path() / "zel-bench-floor";
  fs::create_directories(dir);
  return dir;
}

// An office chair: a seat and a back as boxes, a column and five legs as
// cylinders of many sides; written to `obj` from vertex `base` (1-based).
void chair(std::ostream& obj, size_t& base, double x, double y) {
  const auto vertex = [&](double a, double b, double c) {
    obj << "v " << a << " " << b << " " << c << "\n";
  };
  const auto box = [&](double x0, double y0, double z0, double x1, double y1, double z1) {
    for (int k = 0; k < 8; ++k) vertex(k & 1 ? x1 : x0, k & 2 ? y1 : y0, k & 4 ? z1 : z0);
    // Outward faces, counter-clockwise seen from outside.
    const int f[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                         {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& q : f)
      obj << "f " << base + size_t(q[0]) << " " << base + size_t(q[1]) << " " << base + size_t(q[2])
          << " " << base + size_t(q[3]) << "\n";
    base += 8;
  };
  // A cylinder from (cx, cy, z0) along the direction (dx, dy, dz), closed.
  const auto cylinder = [&](double cx, double cy, double z0, double dx, double dy, double dz,
                            double r, int sides) {
    const double l = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double ax = dx / l, ay = dy / l, az = dz / l;
    // Two directions across the axis.
    double ux = -ay, uy = ax, uz = 0;
    if (std::fabs(az) > 0.9) {
      ux = 1;
      uy = 0;
      uz = 0;
    }
    const double ul = std::sqrt(ux * ux + uy * uy + uz * uz);
    ux /= ul;
    uy /= ul;
    uz /= ul;
    const double vx = ay * uz - az * uy, vy = az * ux - ax * uz, vz = ax * uy - ay * ux;
    for (int end = 0; end < 2; ++end)
      for (int k = 0; k < sides; ++k) {
        const double p = 2 * kPi * k / sides, c = std::cos(p) * r, s = std::sin(p) * r;
        vertex(cx + end * dx + c * ux + s * vx, cy + end * dy + c * uy + s * vy,
               z0 + end * dz + c * uz + s * vz);
      }
    for (int k = 0; k < sides; ++k) {
      const size_t a = base + size_t(k), b = base + size_t((k + 1) % sides);
      obj << "f " << a << " " << b << " " << b + size_t(sides) << " " << a + size_t(sides) << "\n";
    }
    for (int k = 1; k + 1 < sides; ++k) {
      obj << "f " << base << " " << base + size_t(k + 1) << " " << base + size_t(k) << "\n";
      obj << "f " << base + size_t(sides) << " " << base + size_t(sides + k) << " "
          << base + size_t(sides + k + 1) << "\n";
    }
    base += 2 * size_t(sides);
  };
  box(x - 0.25, y - 0.25, 0.42, x + 0.25, y + 0.25, 0.48);
  box(x - 0.25, y + 0.22, 0.48, x + 0.25, y + 0.28, 0.95);
  cylinder(x, y, 0.08, 0, 0, 0.34, 0.025, 64);
  for (int leg = 0; leg < 5; ++leg) {
    const double a = 2 * kPi * leg / 5;
    cylinder(x, y, 0.06, 0.3 * std::cos(a), 0.3 * std::sin(a), -0.03, 0.015, 40);
  }
}

// The office floor's scene file, and the chairs' mesh beside it.
fs::path office_floor() {
  const fs::path dir = bench_dir();
  const fs::path scene = dir / "office-floor.json";
  std::ofstream obj(dir / "chairs.obj");
  size_t base = 1;
  json desks = json::array();
  for (int row = 0; row < 6; ++row)
    for (int col = 0; col < 8; ++col) {
      const double x = 2.2 + 4.2 * col, y = 2.5 + 3.8 * row;
      desks.push_back({{"name", "desk " + std::to_string(row * 8 + col + 1)},
                       {"shape", "box"},
                       {"min", {x, y, 0}},
                       {"max", {x + 1.6, y + 0.8, 0.72}}});
      chair(obj, base, x + 0.8, y - 0.45);
    }
  obj.close();
  json s = {{"title", "Office floor, 96 panels, 48 desks"},
            {"scene_unit", "metre"},
            {"samples", 16},
            {"maintenance_factor", 0.8}};
  s["lights"] = json::array(
      {{{"name", "panel"},
        {"shape", "rectangle"},
        {"size", {0.6, 0.6}},
        {"position", {1.5, 1.5, 3.0}},
        {"array", {{"rows", 8}, {"columns", 12}, {"spacing", {3.0, 3.0}}}},
        {"shader", {{"intensity", 3400}, {"intensity_unit", 1}, {"cosine_distribution", true}}}}});
  s["occluders"] = desks;
  s["meshes"] = json::array({{{"name", "chairs"}, {"file", "chairs.obj"}, {"reflectance", 0.3}}});
  s["room"] = {{"size", {36, 24, 3}}, {"spacing", 1.0}};
  s["surfaces"] = json::array({{{"name", "work plane"},
                                {"corner", {0, 0, 0.75}},
                                {"u", {36, 0, 0}},
                                {"v", {0, 24, 0}},
                                {"spacing", 0.5},
                                {"margin", 0.5}}});
  std::ofstream(scene) << s.dump(1);
  return scene;
}

fs::path warehouse() {
  const fs::path dir = bench_dir();
  const fs::path scene = dir / "warehouse.json";
  json racks = json::array();
  for (int row = 0; row < 10; ++row)
    for (int part = 0; part < 2; ++part) {
      const double y = 3 + 3.6 * row, x = 4 + 27 * part;
      racks.push_back({{"name", "rack " + std::to_string(row * 2 + part + 1)},
                       {"shape", "box"},
                       {"min", {x, y, 0}},
                       {"max", {x + 25, y + 1.1, 6}},
                       {"reflectance", 0.4}});
    }
  json s = {{"title", "Warehouse, 200 high-bays, racking"},
            {"scene_unit", "metre"},
            {"samples", 1},
            {"maintenance_factor", 0.8}};
  s["profiles"] = json::array(
      {{{"name", "high-bay"},
        {"file", std::string(ZEL_SOURCE_DIR) + "/examples/profiles/narrow_downlight.ldt"}}});
  s["lights"] = json::array({{{"name", "high-bay"},
                              {"shape", "disc"},
                              {"radius", 0.25},
                              {"position", {1.5, 2.0, 10.0}},
                              {"array", {{"rows", 10}, {"columns", 20}, {"spacing", {3.0, 4.0}}}},
                              {"flux", 20000},
                              {"shader", {{"use_profile", true}, {"profile_name", "high-bay"}}}}});
  s["occluders"] = racks;
  s["room"] = {{"size", {60, 40, 10}},
               {"spacing", 2.0},
               {"faces", {{"floor", {{"reflectance", 0.3}}}, {"ceiling", {{"reflectance", 0.5}}}}}};
  s["surfaces"] = json::array({{{"name", "floor plane"},
                                {"corner", {0, 0, 0.01}},
                                {"u", {60, 0, 0}},
                                {"v", {0, 40, 0}},
                                {"spacing", 1.0},
                                {"margin", 0.5}}});
  std::ofstream(scene) << s.dump(1);
  return scene;
}

struct Built {
  lux::Scene scene;
  std::unique_ptr<lux::Model> model;
  size_t triangles = 0;
};

const Built& built(const fs::path& file) {
  static std::string current;
  static Built* b = nullptr;
  if (b != nullptr && current == file.string()) return *b;
  refhost::set_echo(false);
  if (b != nullptr) {
    b->model.reset();
    delete b;
    b = nullptr;
    refhost::reset();
    refhost::reset_editing();
  }
  b = new Built;
  b->scene = lux::load_scene(file);
  b->model = std::make_unique<lux::Model>(plugin(), b->scene);
  for (const auto& m : b->scene.meshes) b->triangles += m.mesh.triangles.size();
  current = file.string();
  return *b;
}

// `emitted`: the lights' maintained flux (lm), all of which reaches the
// surfaces of a closed room directly.
void run(benchmark::State& state, const fs::path& file, double emitted) {
  const Built& b = built(file);
  const int threads = static_cast<int>(state.range(0));
  lux::RadiositySolution last;
  for (auto _ : state) {
    last = lux::solve_radiosity(*b.model, {threads, false, 0});
    auto results = lux::calculate(*b.model, {threads, false, false}, &last);
    benchmark::DoNotOptimize(results);
  }
  double absorbed = 0;
  for (double a : last.balance.absorbed) absorbed += a;
  const auto& f = last.balance;
  // What the balance does not account for, of the direct flux.
  state.counters["imbalance"] =
      (f.direct - absorbed - f.reflected_lost - f.unshot) / std::max(f.direct, 1e-300);
  state.counters["lost_share"] = f.reflected_lost / std::max(f.direct, 1e-300);
  state.counters["direct_share"] = f.direct / emitted;
  state.counters["patches"] = double(last.patches.size());
  state.counters["links"] = double(last.links);
  state.counters["smallest_m"] = last.smallest;
  state.counters["largest_m"] = last.largest;
  state.counters["estimated_error"] = last.estimated_error;
  state.counters["triangles"] = double(b.triangles);
  state.counters["direct_s"] = last.direct_seconds;
  state.counters["links_s"] = last.form_factor_seconds;
  state.counters["solve_s"] = last.solve_seconds;
}

void BM_OfficeFloor(benchmark::State& state) { run(state, office_floor(), 96 * 3400 * 0.8); }
BENCHMARK(BM_OfficeFloor)
    ->Arg(2)
    ->Arg(1)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_Warehouse(benchmark::State& state) { run(state, warehouse(), 200 * 20000 * 0.8); }
BENCHMARK(BM_Warehouse)
    ->Arg(2)
    ->Arg(1)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The open-plan example, as it is or painted black (the room's faces and
// the furniture reflect nothing, so that what the surfaces absorb is their
// direct light alone).
fs::path open_plan(bool black) {
  const fs::path example = fs::path(ZEL_SOURCE_DIR) / "examples" / "open-plan-office.json";
  if (!black) return example;
  std::ifstream in(example);
  json s = json::parse(in, nullptr, true, true);
  for (const char* f : {"ceiling", "floor", "north wall", "south wall", "east wall", "west wall"})
    s["room"]["faces"][f]["reflectance"] = 0;
  for (json& o : s["occluders"]) o["reflectance"] = 0;
  const fs::path scene = bench_dir() / "open-plan-black.json";
  std::ofstream(scene) << s.dump(1);
  return scene;
}

// A closed furnished room against ten million photons (all lights
// together) traced through the same surfaces, scaled by the lights' one
// maintenance factor: per surface, how many of the photons' standard
// errors the radiosity's absorbed light lies from theirs (the largest, and
// how many surfaces lie beyond three), and the largest relative
// difference. Each surface is printed; of a scene of many surfaces, those
// beyond three standard errors only.
void BM_AgainstPhotons(benchmark::State& state, fs::path (*scene)()) {
  const Built& b = built(scene());
  constexpr double kPhotons = 1e7;
  constexpr size_t kPrintAll = 40;
  const auto& lights = b.model->lights();
  const int per_light = static_cast<int>(kPhotons / double(lights.size()));
  const double maintained = lights.front().maintenance_factor;
  lux::RadiositySolution s;
  lux::PhotonBalance p;
  for (auto _ : state) {
    s = lux::solve_radiosity(*b.model, {2, false, 0});
    p = lux::trace_photons(*b.model, s, per_light, {2, false});
    benchmark::DoNotOptimize(p);
  }
  double worst = 0, relative = 0, beyond = 0, absorbed = 0;
  for (size_t e = 0; e < s.elements.size(); ++e) {
    absorbed += s.balance.absorbed[e];
    if (!(p.absorbed_error[e] > 0)) continue;
    p.absorbed[e] *= maintained;
    p.absorbed_error[e] *= maintained;
    p.interreflected[e] *= maintained;
    p.interreflected_error[e] *= maintained;
    const double off = s.balance.absorbed[e] - p.absorbed[e];
    const double off_reflected = s.balance.absorbed_interreflected[e] - p.interreflected[e];
    worst = std::max(worst, std::fabs(off) / p.absorbed_error[e]);
    relative = std::max(relative, std::fabs(off) / p.absorbed[e]);
    const bool out = std::fabs(off) > 3 * p.absorbed_error[e];
    if (out) beyond += 1;
    if (out || s.elements.size() <= kPrintAll)
      std::printf(
          "%-24s radiosity %10.2f lm  photons %10.2f ± %.2f lm  (%+.2f %%, %+.1f σ);"
          "  of it reflected to it %+.2f %% (%+.1f σ)\n",
          s.elements[e].name.c_str(), s.balance.absorbed[e], p.absorbed[e], p.absorbed_error[e],
          100 * off / p.absorbed[e], off / p.absorbed_error[e],
          p.interreflected[e] > 0 ? 100 * off_reflected / p.interreflected[e] : 0.0,
          p.interreflected_error[e] > 0 ? off_reflected / p.interreflected_error[e] : 0.0);
  }
  state.counters["worst_sigma"] = worst;
  state.counters["worst_relative"] = relative;
  state.counters["beyond_3_sigma"] = beyond;
  state.counters["surfaces"] = double(s.elements.size());
  // Emitted less absorbed, as a share of the direct flux.
  state.counters["unabsorbed"] = (s.balance.direct - absorbed) / std::max(s.balance.direct, 1e-300);
}

fs::path open_plan_as_is() { return open_plan(false); }
fs::path open_plan_black() { return open_plan(true); }
fs::path l_room() { return fs::path(ZEL_SOURCE_DIR) / "examples" / "office-l-room.json"; }

BENCHMARK_CAPTURE(BM_AgainstPhotons, open_plan, open_plan_as_is)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgainstPhotons, open_plan_black, open_plan_black)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgainstPhotons, l_room, l_room)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgainstPhotons, office_floor, office_floor)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The open-plan example's work plane at the default accuracy against the
// same with the accuracy 4^k times coarser (argument k; negative: finer):
// the change of the mean of the maintained total illuminance and the
// largest change at a point, both relative, and the patches of each
// solution. An exchange's error grows with the product of its two pieces'
// areas, so a sixteenth of the accuracy asks for pieces about twice as
// large where the exchanges decide their size.
fs::path open_plan_at(double accuracy) {
  std::ifstream in(fs::path(ZEL_SOURCE_DIR) / "examples" / "open-plan-office.json");
  json s = json::parse(in, nullptr, true, true);
  s["interreflection"]["accuracy"] = accuracy;
  const fs::path scene = bench_dir() / ("open-plan-" + std::to_string(accuracy) + ".json");
  std::ofstream(scene) << s.dump(1);
  return scene;
}

struct WorkPlane {
  std::vector<double> lux;
  size_t patches = 0;
};

WorkPlane work_plane(double accuracy) {
  const Built& b = built(open_plan_at(accuracy));
  const lux::RadiositySolution s = lux::solve_radiosity(*b.model, {2, false, 0});
  const auto results = lux::calculate(*b.model, {2, false, false}, &s);
  for (const auto& r : results)
    if (r.name == "work plane") return {lux::counted(r.grid, r.lux), s.patches.size()};
  return {};
}

void BM_OpenPlanConvergence(benchmark::State& state) {
  constexpr double kDefault = 0.01, kStep = 4;
  const double other = kDefault * std::pow(kStep, double(state.range(0)));
  WorkPlane base, changed;
  for (auto _ : state) {
    base = work_plane(kDefault);
    changed = work_plane(other);
  }
  double mean_base = 0, mean_changed = 0, worst = 0;
  for (size_t k = 0; k < base.lux.size(); ++k) {
    mean_base += base.lux[k];
    mean_changed += changed.lux[k];
    worst = std::max(worst, std::fabs(changed.lux[k] - base.lux[k]) / base.lux[k]);
  }
  state.counters["mean_change"] = (mean_changed - mean_base) / mean_base;
  state.counters["worst_point_change"] = worst;
  state.counters["points"] = double(base.lux.size());
  state.counters["patches_default"] = double(base.patches);
  state.counters["patches_other"] = double(changed.patches);
}
BENCHMARK(BM_OpenPlanConvergence)
    ->Arg(2)
    ->Arg(1)
    ->Arg(-1)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
