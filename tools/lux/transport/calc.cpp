#include "tools/lux/transport/calc.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "tools/lux/transport/progress.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

Grid grid_of(GridArea a) {
  Grid g;
  g.nu = a.nu;
  g.nv = a.nv;
  g.du = length(a.u) / a.nu;
  g.dv = length(a.v) / a.nv;
  g.corner = a.corner;
  g.u = a.u;
  g.v = a.v;
  g.normal = a.normal;
  g.points = std::move(a.points);
  g.state = std::move(a.state);
  if (!a.outline.empty()) {
    g.outline = std::move(a.outline);
    g.inside.reserve(g.state.size());
    for (const PointState st : g.state) g.inside.push_back(st == PointState::Outside ? 0 : 1);
  }
  return g;
}

Grid make_point_grid(const PointListDesc& list) {
  Grid g;
  g.nu = static_cast<int>(list.points.size());
  g.nv = 1;
  for (const auto& p : list.points) {
    g.points.push_back(p.position);
    g.normals.push_back(p.normal);
    g.labels.push_back(p.name);
  }
  g.normal = g.normals.front();
  g.state.assign(g.points.size(), PointState::Counted);
  return g;
}

std::vector<double> counted(const Grid& grid, const std::vector<double>& values) {
  if (grid.inside.empty() && grid.state.empty()) return values;
  std::vector<double> out;
  for (size_t p = 0; p < values.size(); ++p)
    if (grid.counts(p)) out.push_back(values[p]);
  return out;
}

Grid make_grid(const SurfaceDesc& s) {
  GridArea a = lattice(s.corner, s.u, s.v, cells_for(length(s.u), s.spacing),
                       cells_for(length(s.v), s.spacing));
  a.normal = s.normal;
  clip_to_outline(a, s);
  return grid_of(std::move(a));
}

uint64_t sample_seed(uint64_t a, uint64_t b, uint64_t c) {
  // splitmix64 finaliser over the three indices.
  uint64_t z = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull) * 0xBF58476D1CE4E5B9ull ^
               (c + 0x8CB92BA72F3D8DD7ull) * 0x94D049BB133111EBull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t point_seed(Vec3 point, Vec3 normal, size_t light) {
  const auto bits = [](double v) {
    uint64_t b = 0;
    v = v == 0.0 ? 0.0 : v;  // −0 and +0 are the same place
    std::memcpy(&b, &v, sizeof b);
    return b;
  };
  const uint64_t where = sample_seed(bits(point.x), bits(point.y), bits(point.z));
  const uint64_t facing = sample_seed(bits(normal.x), bits(normal.y), bits(normal.z));
  return sample_seed(where, facing, light);
}

void for_rows(int rows, int threads,
              const std::function<void(int row, refhost::ThreadContext& thread)>& work) {
  threads = std::max(1, std::min(threads, rows));
  std::exception_ptr failure;
  std::mutex failure_mutex;
  // Rows go to whichever worker is free next, so that a slow row (a grazing
  // one that needs many emitter points) does not hold up the others; what a
  // row computes depends on the row alone.
  std::atomic<int> next_row{0};
  const auto worker = [&](int t) {
    refhost::ThreadContext context(t, 0);
    try {
      for (int row = next_row.fetch_add(1, std::memory_order_relaxed); row < rows;
           row = next_row.fetch_add(1, std::memory_order_relaxed))
        work(row, context);
    } catch (...) {
      next_row.store(rows, std::memory_order_relaxed);  // the others stop after their row
      std::lock_guard<std::mutex> lock(failure_mutex);
      if (!failure) failure = std::current_exception();
    }
  };
  // The calling thread is worker 0: one thread fewer to start and stop, and
  // its caches and per-thread host state are already warm.
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker, t);
  worker(0);
  for (auto& th : pool) th.join();
  if (failure) std::rethrow_exception(failure);
}

// The first address from `p` on that starts a 64-byte cache line.
double* line_aligned(double* p) {
  constexpr std::uintptr_t kLine = 64;
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  return p + (kLine - address % kLine) % kLine / sizeof(double);
}

double point_lux(const Light& light, Vec3 point, Vec3 normal, refhost::ThreadContext& thread) {
  const miColor c = refhost::illuminance(light.scene, to_mi(point), to_mi(normal),
                                         {light.samples, light.accuracy}, thread);
  return double(std::max({c.r, c.g, c.b}));
}

std::vector<SurfaceResult> calculate(const Model& model, const CalcOptions& options,
                                     const RadiositySolution* interreflection) {
  const auto& point_lists = model.scene().point_lists;
  const auto& lights = model.lights();
  std::vector<SurfaceResult> results;
  const MaskingSolids solids = masking_solids(model.scene());
  for (const auto& surface : model.scene().surfaces)
    for (auto& area : surface_areas(model.scene(), surface, solids)) {
      SurfaceResult r;
      r.name = area.name;
      r.surface = area.surface;
      r.role = area.role;
      r.task = area.task;
      r.grid = grid_of(std::move(area));
      results.push_back(std::move(r));
    }
  for (const auto& list : point_lists) {
    SurfaceResult r;
    r.name = list.name;
    r.surface = list.name;
    r.role = "points";
    r.grid = make_point_grid(list);
    results.push_back(std::move(r));
  }
  // Every row of every area, in order: the unit of work.
  std::vector<std::pair<size_t, int>> rows;
  uint64_t work = 0;
  for (size_t s = 0; s < results.size(); ++s) {
    SurfaceResult& r = results[s];
    r.lux.assign(r.grid.points.size(), 0.0);
    r.lux_new.assign(r.grid.points.size(), 0.0);
    r.direct.assign(r.grid.points.size(), 0.0);
    r.interreflected.assign(r.grid.points.size(), 0.0);
    if (options.light_columns)
      r.per_light.assign(lights.size(), std::vector<double>(r.grid.points.size(), 0.0));
    for (int j = 0; j < r.grid.nv; ++j) rows.emplace_back(s, j);
    work += r.grid.points.size() * lights.size();
  }

  // Each row's sum per light, added up in row order afterwards so that the
  // averages do not depend on which thread did which row.
  // Each row's sums on cache lines of their own: two threads work on
  // neighbouring rows at once, and sums sharing a line would send it back
  // and forth between their cores at every point.
  constexpr size_t kLineDoubles = 64 / sizeof(double);
  const size_t stride = (lights.size() + kLineDoubles - 1) / kLineDoubles * kLineDoubles;
  std::vector<double> row_light_buffer(rows.size() * stride + kLineDoubles, 0.0);
  double* const row_light_sums = line_aligned(row_light_buffer.data());
  // Each row's statistics of the total, the new and the direct illuminance,
  // merged in row order afterwards.
  std::vector<std::array<StatsSum, 3>> row_stats(rows.size());
  Progress progress("illuminance", work, options.progress);
  for_rows(
      static_cast<int>(rows.size()), options.threads, [&](int row, refhost::ThreadContext& thread) {
        const auto [s, j] = rows[size_t(row)];
        SurfaceResult& r = results[s];
        double* const light_sums = row_light_sums + size_t(row) * stride;
        for (int i = 0; i < r.grid.nu; ++i) {
          const size_t p = size_t(j) * size_t(r.grid.nu) + size_t(i);
          if (!r.grid.counts(p)) continue;
          const Vec3 normal = r.grid.normal_at(p);
          double total = 0, total_new = 0;
          for (size_t l = 0; l < lights.size(); ++l) {
            thread.rng = point_seed(r.grid.points[p], normal, l);
            thread.sample_index = 0;
            const double e = point_lux(lights[l], r.grid.points[p], normal, thread);
            const double maintained = lights[l].maintenance_factor * e;
            if (!r.per_light.empty()) r.per_light[l][p] = maintained;
            light_sums[l] += maintained;
            total += maintained;
            total_new += e;
          }
          r.direct[p] = total;
          if (interreflection != nullptr)
            r.interreflected[p] =
                indirect_illuminance(*interreflection, r.grid.points[p], normal, thread);
          r.lux[p] = total + r.interreflected[p];
          r.lux_new[p] =
              total_new + (interreflection != nullptr
                               ? r.interreflected[p] * interreflection->new_over_maintained
                               : 0.0);
        }
        // Gathered on this thread's stack and stored once: neighbouring rows'
        // figures share cache lines, and the other thread works on the next row.
        std::array<StatsSum, 3> figures;
        for (int i = 0; i < r.grid.nu; ++i) {
          const size_t p = size_t(j) * size_t(r.grid.nu) + size_t(i);
          const PointState state = p < r.grid.state.size() ? r.grid.state[p] : PointState::Counted;
          figures[0].add(r.lux[p], state);
          figures[1].add(r.lux_new[p], state);
          figures[2].add(r.direct[p], state);
        }
        row_stats[size_t(row)] = figures;
        progress.add(uint64_t(r.grid.nu) * lights.size(), thread.thread);
      });
  std::vector<std::array<StatsSum, 3>> figures(results.size());
  for (auto& r : results) r.avg_by_light.assign(lights.size(), 0.0);
  for (size_t row = 0; row < rows.size(); ++row) {
    const size_t s = rows[row].first;
    for (size_t l = 0; l < lights.size(); ++l)
      results[s].avg_by_light[l] += row_light_sums[row * stride + l];
    for (size_t k = 0; k < 3; ++k) figures[s][k].merge(row_stats[row][k]);
  }
  for (size_t s = 0; s < results.size(); ++s) {
    SurfaceResult& r = results[s];
    const size_t n = figures[s][0].counted;  // the points that count, as in Grid::counts
    for (double& a : r.avg_by_light) a = n > 0 ? a / double(n) : 0.0;
    r.stats = figures[s][0].finished();
    r.stats_new = figures[s][1].finished();
    r.direct_stats = figures[s][2].finished();
  }
  return results;
}

FluxResult measure_flux(const Model& model, size_t index, int photons, const CalcOptions& options) {
  const Light& light = model.lights().at(index);
  constexpr int kChunk = 4096;
  const int chunks = (photons + kChunk - 1) / kChunk;
  std::vector<double> sums(size_t(std::max(chunks, 0)), 0.0);
  refhost::set_photon_recording(false);
  Progress progress("photons of " + light.name, uint64_t(std::max(photons, 0)), options.progress);
  try {
    for_rows(chunks, options.threads, [&](int chunk, refhost::ThreadContext& thread) {
      thread.rng = sample_seed(index, uint64_t(chunk), 0x70686f746f6e);
      thread.sample_index = 0;
      const int n = std::min(kChunk, photons - chunk * kChunk);
      double sum = 0;
      for (int k = 0; k < n; ++k) {
        miState state = refhost::make_state(light.shader.get(), &thread, miRAY_PHOTON_FIRST,
                                            light.scene.instance);
        miColor energy{};
        light.shader->call(&energy, &state);
        sum += double(std::max({energy.r, energy.g, energy.b}));
      }
      sums[size_t(chunk)] = sum;
      progress.add(uint64_t(n), thread.thread);
    });
  } catch (...) {
    refhost::set_photon_recording(true);
    throw;
  }
  refhost::set_photon_recording(true);
  double total = 0;
  for (double s : sums) total += s;  // in chunk order: the same sum for any thread count
  FluxResult f;
  f.light = light.name;
  f.photons = photons;
  f.measured = photons > 0 ? total / photons / model.scene().unit.area_factor() : 0;
  f.stated = light.stated_flux;
  return f;
}

}  // namespace lux
