// Patch radiosity: direct light on the patches, form factors, the shooting
// iteration and the gathering of interreflected light at any point.
#include "tools/lux/transport/radiosity.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "tools/lux/transport/progress.h"

namespace lux {

namespace {

using refhost::Vec3d;
using Clock = std::chrono::steady_clock;

// The form factors are held as a full matrix of doubles: this many patches
// take 200 MB.
constexpr int kMostPatches = 5000;
// Objects that may stand between two faces, listed on the stack; more than
// this and every object is tried.
constexpr int kBlockerCapacity = 64;
// Patches per unit of parallel work.
constexpr int kPatchChunk = 32;
// A point closer than this fraction of the scene's extent to a plane lies on it.
constexpr double kPlaneFraction = 1e-9;
// The shooting iteration gives up after this many sweeps (each sweep
// shoots at least the fraction 1 − ρmax of what is unshot).
constexpr int kMostSweeps = 10000;
// Quadrature points per side of a patch for the form factor to another
// patch, by the distance between their centres in units of the larger
// patch's size: near pairs vary across the patch, far ones do not.
struct Quadrature {
  double closer_than;
  int points;
};
constexpr Quadrature kQuadrature[] = {{1.2, 8}, {2.0, 4}, {4.0, 2}};
constexpr int kMostQuadraturePoints = 64;
// The symmetric balancing of the exchanges stops when every row's sum is
// this close to its target, when all rows together are within
// kBalancedExchange of theirs (the differences added up over the targets
// added up: with the patches about evenly lit, light made or lost between
// them is then below a millionth of what they pass on, far below the error
// of the factors themselves), or after so many rounds. The second ends it
// where a few patches in a nearly closed nook (under a desk, behind a
// cabinet) would approach their targets slowly and hold every round up.
constexpr double kBalancedRows = 1e-12;
constexpr double kBalancedExchange = 1e-6;
constexpr int kMostBalancingRounds = 200;
// Direct light is taken at m × m points of a patch, m the patch's size over
// this fraction of its distance to the nearest light (at most
// kMostDirectPoints): the light on a patch near a luminaire changes across
// it, and the flux it receives is the mean over it.
constexpr double kDirectPointSpacing = 0.1;
constexpr int kMostDirectPoints = 4;

Vec3d to_d(Vec3 a) { return {a.x, a.y, a.z}; }

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Where rays leave or reach a point of a face: on the true sphere for the
// flat pieces that stand in for one, so that the sphere traced in the host
// does not shade its own pieces.
Vec3 ray_end(const Face& f, Vec3 p) {
  if (!f.surface.on_sphere) return p;
  return f.surface.sphere_center + normalize(p - f.surface.sphere_center) * f.surface.sphere_radius;
}

// The objects that may stand between the point sets a and b, written to
// `out`; the list of all objects when there are too many for it.
const uint32_t* blockers(const RadiositySolution& s, const Vec3d* a, size_t na, const Vec3d* b,
                         size_t nb, uint32_t* out, size_t& count) {
  count = 0;
  for (size_t i = 0; i < s.rays->size(); ++i) {
    if (!s.rays->may_cross(i, a, na, b, nb)) continue;
    if (count == kBlockerCapacity) {
      count = s.all_objects.size();
      return s.all_objects.data();
    }
    out[count++] = static_cast<uint32_t>(i);
  }
  return out;
}

// Whether some corner of `to` lies in front of the plane of `from`.
bool in_front(const Patch& from, const Patch& to, double tolerance) {
  for (int k = 0; k < to.corners; ++k)
    if (dot(to.corner[size_t(k)] - from.center, from.normal) > tolerance) return true;
  return false;
}

// m × m points of equal weight spread over a patch: cell centres of a
// parallelogram, centroids of the m² triangles of a triangle.
int quadrature_points(const Patch& p, int m, Vec3* out) {
  int n = 0;
  const Vec3 a = p.corner[0], u = p.corner[1] - a;
  if (p.corners == 4) {
    const Vec3 v = p.corner[3] - a;
    for (int j = 0; j < m; ++j)
      for (int i = 0; i < m; ++i) out[n++] = a + u * ((i + 0.5) / m) + v * ((j + 0.5) / m);
    return n;
  }
  const Vec3 v = p.corner[2] - a;
  const auto at = [&](double i, double j) { return a + u * (i / m) + v * (j / m); };
  for (int j = 0; j < m; ++j)
    for (int i = 0; i + j < m; ++i) {
      out[n++] = (at(i, j) + at(i + 1, j) + at(i, j + 1)) * (1.0 / 3.0);
      if (i + j + 1 < m) out[n++] = (at(i + 1, j) + at(i + 1, j + 1) + at(i, j + 1)) * (1.0 / 3.0);
    }
  return n;
}

// The form factor from patch `from` to patch `to`, unobstructed: the
// point-to-polygon factor averaged over points of `from`.
double patch_factor(const Patch& from, const Patch& to, int m) {
  Vec3 points[kMostQuadraturePoints];
  const int n = quadrature_points(from, m, points);
  double sum = 0;
  for (int k = 0; k < n; ++k)
    sum += point_to_polygon_factor(points[k], from.normal, to.corner.data(), to.corners, to.normal);
  return sum / n;
}

int quadrature_for(const Patch& a, const Patch& b) {
  const double size = std::sqrt(std::max(a.area, b.area));
  const double d = length(a.center - b.center);
  for (const Quadrature& q : kQuadrature)
    if (d < q.closer_than * size) return q.points;
  return 1;
}

// Where a light sits and how far its emitter reaches from there.
struct LightBounds {
  Vec3 center;
  double reach = 0;
};

LightBounds bounds_of(const Light& light) {
  const Emitter& e = light.emitter;
  LightBounds b{e.frame.origin, 0};
  switch (e.kind) {
    case Emitter::None:
      break;
    case Emitter::Rectangle:
      b.reach = std::sqrt(e.half_u * e.half_u + e.half_v * e.half_v);
      break;
    case Emitter::Disc:
    case Emitter::Sphere:
      b.reach = e.radius;
      break;
    case Emitter::Cylinder:
      b.reach = std::sqrt(e.radius * e.radius + e.half_length * e.half_length);
      break;
    case Emitter::Solid: {
      const SolidDesc& g = e.solid;
      if (g.kind == SolidDesc::Rectangle) {
        b.center = g.corner + (g.u + g.v) * 0.5;
        b.reach = 0.5 * length(g.u + g.v) + 0.5 * length(g.u - g.v);
      } else if (g.kind == SolidDesc::Box) {
        b.center = (g.min + g.max) * 0.5;
        b.reach = 0.5 * length(g.max - g.min);
      } else {
        b.center = g.center;
        b.reach = g.radius;
      }
      break;
    }
  }
  return b;
}

int direct_points_for(const Patch& p, const std::vector<LightBounds>& lights) {
  double nearest = std::numeric_limits<double>::infinity();
  for (const LightBounds& b : lights)
    nearest = std::min(nearest, length(p.center - b.center) - b.reach);
  if (!(nearest > 0)) return kMostDirectPoints;
  const double m = std::ceil(std::sqrt(p.area) / (kDirectPointSpacing * nearest));
  return static_cast<int>(std::clamp(m, 1.0, double(kMostDirectPoints)));
}

void direct_light(const Model& model, RadiositySolution& s, const RadiosityOptions& options) {
  const auto& lights = model.lights();
  const int n = static_cast<int>(s.patches.size());
  s.direct.assign(s.patches.size(), 0.0);
  std::vector<double> direct_new(s.patches.size(), 0.0);
  std::vector<LightBounds> bounds;
  for (const Light& l : lights) bounds.push_back(bounds_of(l));
  Progress progress("direct light on patches", uint64_t(n), options.progress);
  for_rows((n + kPatchChunk - 1) / kPatchChunk, options.threads,
           [&](int chunk, refhost::ThreadContext& thread) {
             const int end = std::min(n, (chunk + 1) * kPatchChunk);
             for (int i = chunk * kPatchChunk; i < end; ++i) {
               const Patch& p = s.patches[size_t(i)];
               Vec3 points[kMostDirectPoints * kMostDirectPoints];
               const int count = quadrature_points(p, direct_points_for(p, bounds), points);
               double e = 0, e_new = 0;
               for (int k = 0; k < count; ++k) {
                 const Vec3 at = ray_end(s.faces[size_t(p.face)], points[k]);
                 for (size_t l = 0; l < lights.size(); ++l) {
                   thread.rng = sample_seed(0x7061746368, uint64_t(i) * 64 + uint64_t(k), l);
                   thread.sample_index = 0;
                   const double lux = point_lux(lights[l], at, p.normal, thread);
                   e += lights[l].maintenance_factor * lux;  // the room as maintained
                   e_new += lux;
                 }
               }
               s.direct[size_t(i)] = e / count;
               direct_new[size_t(i)] = e_new / count;
             }
             progress.add(uint64_t(end - chunk * kPatchChunk));
           });
  // Reflected light is linear in the light that starts it: with every light
  // sharing one maintenance factor this ratio turns the maintained
  // interreflection into the new one exactly; with factors per light it is
  // the flux-weighted mean.
  double flux = 0, flux_new = 0;
  for (size_t i = 0; i < s.patches.size(); ++i) {
    flux += s.direct[i] * s.patches[i].area;
    flux_new += direct_new[i] * s.patches[i].area;
  }
  s.new_over_maintained = flux > 0 ? flux_new / flux : 1.0;
}

// Calls work(i) for every row i of an n × n matrix whose row i also writes
// column i below the diagonal. Neighbouring columns share cache lines, so
// rows go to the threads in runs of kPatchChunk: two threads then meet only
// on the line at the edge of their runs, instead of sending every line of a
// column back and forth between their cores.
template <typename Work>
void for_row_runs(size_t n, int threads, const Work& work) {
  const int runs = static_cast<int>((n + kPatchChunk - 1) / kPatchChunk);
  for_rows(runs, threads, [&](int run, refhost::ThreadContext&) {
    const size_t end = std::min(n, size_t(run + 1) * kPatchChunk);
    for (size_t i = size_t(run) * kPatchChunk; i < end; ++i) work(i);
  });
}

// y = K·x for a symmetric K with a zero diagonal, reading only the upper
// triangle: the balancing multiplies the whole matrix every round, and each
// pair is then read from memory once instead of twice. Row i adds
// K_ij·x_j to y_i and K_ij·x_i to y_j (j > i); the second part goes to the
// run's own accumulator, and the runs are added up in order afterwards, so
// the product is the same for any number of threads.
struct SymmetricProduct {
  explicit SymmetricProduct(size_t size)
      : n(size),
        runs((size + kPatchChunk - 1) / kPatchChunk),
        below(runs * size, 0.0),
        result(size, 0.0) {}

  void multiply(const std::vector<double>& K, const std::vector<double>& x, int threads) {
    for_rows(static_cast<int>(runs), threads, [&](int run, refhost::ThreadContext&) {
      const size_t begin = size_t(run) * kPatchChunk;
      const size_t end = std::min(n, begin + kPatchChunk);
      double* const acc = below.data() + size_t(run) * n;
      std::fill(acc + begin, acc + n, 0.0);
      for (size_t i = begin; i < end; ++i) {
        const double* const row = K.data() + i * n;
        const double xi = x[i];
        // Four partial sums along the row: one running sum would wait on
        // the adder's latency at every element.
        double along[4] = {0, 0, 0, 0};
        size_t j = i + 1;
        for (; j + 4 <= n; j += 4)
          for (size_t l = 0; l < 4; ++l) {
            along[l] += row[j + l] * x[j + l];
            acc[j + l] += row[j + l] * xi;
          }
        for (; j < n; ++j) {
          along[0] += row[j] * x[j];
          acc[j] += row[j] * xi;
        }
        acc[i] += (along[0] + along[1]) + (along[2] + along[3]);
      }
    });
    // y_i gathers the runs that reach it: its own and those before it.
    for_row_runs(n, threads, [&](size_t i) {
      double y = 0;
      for (size_t r = 0; r <= i / kPatchChunk; ++r) y += below[r * n + i];
      result[i] = y;
    });
  }

  size_t n, runs;
  std::vector<double> below;  // runs × n: each run's contributions, from its first row on
  std::vector<double> result;
};

// Makes the one-sided exchanges K[i·n + j] = A_i F_ij symmetric while
// keeping every row's sum. A row's sum is the more exact quantity: it adds
// point-to-polygon factors that are exact for each quadrature point, so in
// a closed room every row adds up to A_i to rounding, and no light is made
// or lost between patches. The mean of K_ij and K_ji is scaled to those
// sums symmetrically, K_ij·d_i·d_j (a symmetric Sinkhorn balancing), which
// changes the exchanges by about their quadrature error only.
void balance_exchanges(const RadiositySolution& s, std::vector<double>& K,
                       const RadiosityOptions& options) {
  const size_t n = s.patches.size();
  std::vector<double> target(n, 0.0), scale(n, 1.0), sums(n, 0.0);
  // Each row's sum from the patch's centre alone: the factors of one point
  // to polygons that cover its view add up exactly. (Near pairs were
  // worked out over more points; their visibility is kept.)
  for_rows(static_cast<int>(n), options.threads, [&](int row, refhost::ThreadContext&) {
    const size_t i = size_t(row);
    const Patch& a = s.patches[i];
    double sum = 0;
    for (size_t j = 0; j < n; ++j) {
      const double k = K[i * n + j];
      if (k <= 0) continue;
      const Patch& b = s.patches[j];
      const int m = quadrature_for(a, b);
      if (m == 1) {
        sum += k;
        continue;
      }
      const double centre =
          point_to_polygon_factor(a.center, a.normal, b.corner.data(), b.corners, b.normal);
      sum += k * centre / patch_factor(a, b, m);
    }
    target[i] = sum;
  });
  for_row_runs(n, options.threads, [&](size_t i) {
    for (size_t j = i + 1; j < n; ++j)
      K[i * n + j] = K[j * n + i] = 0.5 * (K[i * n + j] + K[j * n + i]);
  });
  SymmetricProduct product(n);
  for (int round = 0; round < kMostBalancingRounds; ++round) {
    product.multiply(K, scale, options.threads);
    for (size_t i = 0; i < n; ++i) sums[i] = scale[i] * product.result[i];
    double worst = 0, off = 0, all = 0;
    for (size_t i = 0; i < n; ++i) {
      if (!(sums[i] > 0) || !(target[i] > 0)) continue;
      worst = std::max(worst, std::fabs(sums[i] / target[i] - 1));
      off += std::fabs(sums[i] - target[i]);
      all += target[i];
      scale[i] *= std::sqrt(target[i] / sums[i]);
    }
    if (worst < kBalancedRows || off <= kBalancedExchange * all) break;
  }
  for_row_runs(n, options.threads, [&](size_t i) {
    for (size_t j = i + 1; j < n; ++j)
      K[i * n + j] = K[j * n + i] = K[i * n + j] * (scale[i] * scale[j]);
  });
}

// Row i's exchanges with every later patch, and their reverses in column i:
// each pair is worked out once, by the row of its first patch.
void exchange_row(const RadiositySolution& s, size_t i, std::vector<double>& K) {
  const size_t n = s.patches.size();
  const Patch& a = s.patches[i];
  const Face& fa = s.faces[size_t(a.face)];
  const Vec3d a_end = to_d(ray_end(fa, a.center));
  uint32_t list[kBlockerCapacity];
  const uint32_t* blocking = nullptr;
  size_t count = 0;
  int listed_face = -1;
  for (size_t j = i + 1; j < n; ++j) {
    const Patch& b = s.patches[j];
    if (b.face == a.face) continue;
    double ab = 0, ba = 0;
    one_sided_exchanges(a, b, s.plane_tolerance, ab, ba);
    if (ab <= 0 && ba <= 0) continue;
    const Face& fb = s.faces[size_t(b.face)];
    if (b.face != listed_face) {
      blocking = blockers(s, fa.corners.data(), fa.corners.size(), fb.corners.data(),
                          fb.corners.size(), list, count);
      listed_face = b.face;
    }
    const double v =
        count == 0 ? 1.0
                   : s.rays->transmission(a_end, to_d(ray_end(fb, b.center)), blocking, count);
    K[i * n + j] = ab * v;
    K[j * n + i] = ba * v;
  }
}

// K[i·n + j] = A_i F_ij = A_j F_ji: the symmetric exchange between two
// patches, each direction's factor worked out and the two averaged, times
// the visibility between their centres.
std::vector<double> exchange_matrix(const RadiositySolution& s, const RadiosityOptions& options) {
  const size_t n = s.patches.size();
  std::vector<double> K(n * n, 0.0);
  Progress progress("form factors", uint64_t(n), options.progress);
  for_row_runs(n, options.threads, [&](size_t i) {
    exchange_row(s, i, K);
    progress.add(1);
  });
  balance_exchanges(s, K, options);
  return K;
}

// Shoots the unshot exitance of all patches at once, sweep after sweep,
// until what is left unshot is below `residual` of the direct flux.
void shoot(const Model& model, RadiositySolution& s, const std::vector<double>& K,
           const RadiosityOptions& options) {
  const size_t n = s.patches.size();
  const double residual = model.scene().interreflection.residual;
  std::vector<double> received(n), unshot(n), gathered(n, 0.0);
  s.exitance.assign(n, 0.0);
  double direct_flux = 0;
  for (size_t i = 0; i < n; ++i) {
    const Patch& p = s.patches[i];
    const double rho = s.faces[size_t(p.face)].surface.reflectance;
    received[i] = s.direct[i] * p.area;
    s.exitance[i] = unshot[i] = rho * s.direct[i];
    direct_flux += received[i];
  }
  const auto unshot_flux = [&] {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += unshot[i] * s.patches[i].area;
    return sum;
  };
  double left = unshot_flux();
  const int chunks = static_cast<int>((n + kPatchChunk - 1) / kPatchChunk);
  s.sweeps = 0;
  while (left > residual * direct_flux && left > 0 && s.sweeps < kMostSweeps) {
    for_rows(chunks, options.threads, [&](int chunk, refhost::ThreadContext&) {
      const size_t end = std::min(n, size_t(chunk + 1) * kPatchChunk);
      for (size_t i = size_t(chunk) * kPatchChunk; i < end; ++i) {
        const double* row = &K[i * n];
        double sum = 0;
        for (size_t j = 0; j < n; ++j) sum += row[j] * unshot[j];
        gathered[i] = sum;
      }
    });
    for (size_t i = 0; i < n; ++i) {
      const Patch& p = s.patches[i];
      const double rho = s.faces[size_t(p.face)].surface.reflectance;
      received[i] += gathered[i];
      unshot[i] = rho * gathered[i] / p.area;
      s.exitance[i] += unshot[i];
    }
    left = unshot_flux();
    ++s.sweeps;
  }

  s.indirect.assign(n, 0.0);
  FluxBalance& b = s.balance;
  b.absorbed.assign(s.elements.size(), 0.0);
  b.direct = direct_flux * s.lumen_per_unit;
  b.unshot = left * s.lumen_per_unit;
  double lost = 0;
  for (size_t j = 0; j < n; ++j) {
    const Patch& p = s.patches[j];
    const ReflectingSurface& f = s.faces[size_t(p.face)].surface;
    s.indirect[j] = received[j] / p.area - s.direct[j];
    b.absorbed[size_t(f.element)] += (1 - f.reflectance) * received[j] * s.lumen_per_unit;
    s.elements[size_t(f.element)].area += p.area;
    // What this patch has shot and what of it landed on patches.
    double landed = 0;
    for (size_t i = 0; i < n; ++i) landed += K[i * n + j];
    lost += (s.exitance[j] - unshot[j]) * (p.area - landed);
  }
  b.reflected_lost = lost * s.lumen_per_unit;
}

}  // namespace

void one_sided_exchanges(const Patch& a, const Patch& b, double plane_tolerance, double& ab,
                         double& ba) {
  ab = ba = 0;
  if (!in_front(a, b, plane_tolerance) || !in_front(b, a, plane_tolerance)) return;
  const int m = quadrature_for(a, b);
  ab = a.area * patch_factor(a, b, m);
  ba = b.area * patch_factor(b, a, m);
}

double patch_exchange(const Patch& a, const Patch& b, double plane_tolerance) {
  double ab = 0, ba = 0;
  one_sided_exchanges(a, b, plane_tolerance, ab, ba);
  return 0.5 * (ab + ba);
}

RadiositySolution solve_radiosity(const Model& model, const RadiosityOptions& options) {
  RadiositySolution s;
  const Scene& scene = model.scene();
  s.lumen_per_unit = 1.0 / scene.unit.area_factor();
  const auto surfaces = scene_reflectors(model, s.elements);
  for (size_t f = 0; f < surfaces.size(); ++f) {
    s.faces.push_back(cut_into_patches(surfaces[f], static_cast<int>(f),
                                       scene.interreflection.patch_size, s.patches));
    for (const Vec3& c : surfaces[f].polygon) s.faces.back().corners.push_back(to_d(c));
    if (s.patches.size() > size_t(kMostPatches))
      throw Error(scene.file + ": \"interreflection\": \"patch_size\" " +
                  std::to_string(scene.interreflection.patch_size) +
                  " cuts the reflecting "
                  "surfaces into more than " +
                  std::to_string(kMostPatches) + " patches; choose a larger one");
  }
  s.balance.absorbed.assign(s.elements.size(), 0.0);
  auto rays = std::make_shared<refhost::RayScene>();
  s.plane_tolerance = kPlaneFraction * rays->margin() / 1e-5;
  s.all_objects.resize(rays->size());
  for (size_t i = 0; i < rays->size(); ++i) s.all_objects[i] = static_cast<uint32_t>(i);
  s.rays = std::move(rays);
  if (s.patches.empty()) return s;

  auto start = Clock::now();
  direct_light(model, s, options);
  s.direct_seconds = seconds_since(start);
  start = Clock::now();
  const std::vector<double> K = exchange_matrix(s, options);
  s.form_factor_seconds = seconds_since(start);
  start = Clock::now();
  shoot(model, s, K, options);
  s.solve_seconds = seconds_since(start);
  return s;
}

double indirect_illuminance(const RadiositySolution& s, Vec3 point, Vec3 normal,
                            refhost::ThreadContext&) {
  if (s.patches.empty()) return 0;
  const Vec3 n = normalize(normal);
  const Vec3d at = to_d(point);
  uint32_t list[kBlockerCapacity];
  double e = 0;
  for (const Face& f : s.faces) {
    const ReflectingSurface& sf = f.surface;
    if (dot(point - sf.polygon[0], sf.normal) <= s.plane_tolerance) continue;
    bool seen = false;
    for (const Vec3& c : sf.polygon) seen = seen || dot(c - point, n) > s.plane_tolerance;
    if (!seen) continue;
    size_t count = 0;
    const uint32_t* blocking = blockers(s, &at, 1, f.corners.data(), f.corners.size(), list, count);
    for (int k = f.first; k < f.first + f.count; ++k) {
      const double b = s.exitance[size_t(k)];
      if (b == 0) continue;
      const Patch& p = s.patches[size_t(k)];
      const double factor = point_to_polygon_factor(point, n, p.corner.data(), p.corners, p.normal);
      if (factor <= 0) continue;
      const double v =
          count == 0 ? 1.0 : s.rays->transmission(at, to_d(ray_end(f, p.center)), blocking, count);
      e += b * factor * v;
    }
  }
  return e;
}

double patch_indirect_at(const RadiositySolution& s, int face, Vec3 point) {
  const Face& f = s.faces.at(size_t(face));
  const auto& poly = f.surface.polygon;
  if (f.nu > 0) {
    // Coordinates along the parallelogram's two edges.
    const Vec3 u = poly[1] - poly[0], v = poly[3] - poly[0], w = point - poly[0];
    const Vec3 nn = cross(u, v);
    const double nl = dot(nn, nn);
    const double a = dot(cross(w, v), nn) / nl, b = dot(cross(u, w), nn) / nl;
    if (a < -1e-9 || a > 1 + 1e-9 || b < -1e-9 || b > 1 + 1e-9) return -1;
    const int i = std::clamp(static_cast<int>(a * f.nu), 0, f.nu - 1);
    const int j = std::clamp(static_cast<int>(b * f.nv), 0, f.nv - 1);
    return s.indirect[size_t(f.first + j * f.nu + i)];
  }
  for (int k = f.first; k < f.first + f.count; ++k) {
    const Patch& p = s.patches[size_t(k)];
    bool inside = true;
    for (int c = 0; c < p.corners && inside; ++c) {
      const Vec3 e = p.corner[size_t((c + 1) % p.corners)] - p.corner[size_t(c)];
      inside = dot(cross(e, point - p.corner[size_t(c)]), p.normal) >= -1e-12 * dot(e, e);
    }
    if (inside) return s.indirect[size_t(k)];
  }
  return -1;
}

double indirect_on_surface(const RadiositySolution& s, Vec3 point, Vec3 normal, double tolerance) {
  for (size_t f = 0; f < s.faces.size(); ++f) {
    const ReflectingSurface& sf = s.faces[f].surface;
    if (dot(sf.normal, normal) <= 0) continue;
    if (std::fabs(dot(point - sf.polygon[0], sf.normal)) > tolerance) continue;
    const double e = patch_indirect_at(s, static_cast<int>(f), point);
    if (e >= 0) return e;
  }
  double nearest = -1, e = 0;
  for (size_t k = 0; k < s.patches.size(); ++k) {
    const Patch& p = s.patches[k];
    if (dot(p.normal, normal) <= 0) continue;
    const double d = length(p.center - point);
    if (nearest < 0 || d < nearest) {
      nearest = d;
      e = s.indirect[k];
    }
  }
  return e;
}

}  // namespace lux
