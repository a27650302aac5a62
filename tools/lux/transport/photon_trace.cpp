#include "tools/lux/transport/photon_trace.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "shaders/constants.h"
#include "tools/lux/transport/hierarchy.h"
#include "tools/lux/transport/progress.h"

namespace lux {

namespace {

using refhost::Vec3d;

constexpr int kChunk = 4096;  // photons per unit of parallel work
// A photon whose weight has fallen below this fraction of its start is
// absorbed where it is: the light it still carries is negligible.
constexpr double kSpentFraction = 1e-6;
constexpr int kMostBounces = 10000;

Vec3d to_d(Vec3 a) { return {a.x, a.y, a.z}; }
Vec3 from_d(const Vec3d& a) { return {a.x, a.y, a.z}; }

// A direction about `n` with probability density cos θ / π, as a diffuse
// (Lambertian) surface reflects.
Vec3 cosine_direction(Vec3 n, refhost::ThreadContext& thread) {
  const double u1 = refhost::uniform01(thread), u2 = refhost::uniform01(thread);
  const double r = std::sqrt(u1), phi = zel::k2Pi * u2;
  const Vec3 ref = std::fabs(n.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  const Vec3 a = normalize(ref - n * dot(ref, n));
  const Vec3 b = cross(n, a);
  return normalize(a * (r * std::cos(phi)) + b * (r * std::sin(phi)) +
                   n * std::sqrt(std::max(0.0, 1 - u1)));
}

}  // namespace

PhotonBalance trace_photons(const Model& model, const RadiositySolution& solution, int photons,
                            const CalcOptions& options) {
  const refhost::RayScene& rays = *solution.rays;
  const auto& elements = solution.elements;
  const Scene& scene = model.scene();
  // Which element each traced object is, and the front of one-sided ones.
  const std::vector<int>& element_of = solution.object_element;
  // Luminaires that hang free, which light straight from an emitter passes
  // as the host's shadow rays do (the direct light on what lies behind
  // them is the host's); reflected light meets them.
  std::vector<char> passed_straight(rays.size(), 0);
  for (size_t i = 0; i < rays.size(); ++i)
    passed_straight[i] = element_of[i] >= 0 && elements[size_t(element_of[i])].instance == 0;
  std::vector<std::optional<Vec3>> front(elements.size());
  for (size_t e = 0; e < elements.size(); ++e)
    if (elements[e].surface >= 0) {
      const SurfaceDesc& d = scene.surfaces[size_t(elements[e].surface)];
      const Vec3 plane = normalize(cross(d.u, d.v));
      front[e] = dot(plane, d.normal) >= 0 ? plane : -plane;
    }

  // The luminaire openings on each element's faces: a photon that meets
  // the surface where an opening covers it meets the opening.
  std::vector<std::vector<int>> openings(elements.size());
  for (const Face& f : solution.faces)
    for (int o : f.openings) openings[size_t(f.surface.element)].push_back(o);
  const auto opening_at = [&](int e, Vec3 p, Vec3 d) {
    for (int o : openings[size_t(e)]) {
      const ReflectingSurface& r = solution.faces[size_t(o)].surface;
      if (dot(r.normal, d) < 0 &&
          std::fabs(dot(p - r.polygon[0], r.normal)) <= 10 * rays.margin() && covers(r, p))
        return r.element;
    }
    return -1;
  };

  const auto& lights = model.lights();
  const int chunks = (photons + kChunk - 1) / kChunk;
  // Per (light, chunk): absorbed per element, then of that what was
  // absorbed after a reflection per element, then elsewhere, escaped,
  // emitted.
  const size_t count = elements.size();
  const size_t width = 2 * count + 3;
  const size_t elsewhere = 2 * count, escaped = 2 * count + 1, emitted = 2 * count + 2;
  std::vector<double> tallies(lights.size() * size_t(chunks) * width, 0.0);
  const double per_photon = 1.0 / (double(photons) * scene.unit.area_factor());
  refhost::set_photon_recording(false);
  Progress progress("photons", uint64_t(photons) * lights.size(), options.progress);
  try {
    for_rows(static_cast<int>(lights.size()) * chunks, options.threads,
             [&](int work, refhost::ThreadContext& thread) {
               const size_t l = size_t(work / chunks);
               const int chunk = work % chunks;
               const Light& light = lights[l];
               double* tally = &tallies[size_t(work) * width];
               thread.rng = sample_seed(l, uint64_t(chunk), 0x7472616365);
               thread.sample_index = 0;
               const int n = std::min(kChunk, photons - chunk * kChunk);
               for (int k = 0; k < n; ++k) {
                 miState state = refhost::make_state(light.shader.get(), &thread,
                                                     miRAY_PHOTON_FIRST, light.scene.instance);
                 miColor energy{};
                 light.shader->call(&energy, &state);
                 double w = double(std::max({energy.r, energy.g, energy.b})) * per_photon;
                 if (!(w > 0)) continue;
                 tally[emitted] += w;
                 const double spent = kSpentFraction * w;
                 Vec3 o = from_mi(state.org), d = normalize(from_mi(state.dir));
                 for (int bounce = 0;; ++bounce) {
                   refhost::RayScene::Hit hit;
                   const auto meets = [&] {
                     return rays.first_hit(to_d(o), to_d(d),
                                           std::numeric_limits<double>::infinity(), hit);
                   };
                   bool met = meets();
                   while (met && bounce == 0 && passed_straight[hit.object] != 0) {
                     o = o + d * hit.t;
                     met = meets();
                   }
                   if (!met) {
                     tally[escaped] += w;
                     break;
                   }
                   int e = element_of[hit.object];
                   Vec3 nrm = from_d(rays.normal_at(hit, to_d(o + d * hit.t)));
                   // One-sided surfaces reflect from their front only: a
                   // surface by its normal, a mesh by its triangle's winding.
                   const int mesh = e >= 0 ? elements[size_t(e)].mesh : -1;
                   const bool behind =
                       e >= 0 && (mesh >= 0 ? dot(nrm, d) > 0
                                            : front[size_t(e)] && dot(*front[size_t(e)], d) > 0);
                   if (e < 0 || behind) {
                     tally[elsewhere] += w;
                     break;
                   }
                   const int opening =
                       openings[size_t(e)].empty() ? -1 : opening_at(e, o + d * hit.t, d);
                   if (opening >= 0) e = opening;
                   const double rho =
                       opening >= 0 ? elements[size_t(e)].reflectance
                       : mesh >= 0  ? scene.meshes[size_t(mesh)].mesh.reflectance.at(hit.triangle)
                                    : elements[size_t(e)].reflectance;
                   const bool last = w * rho < spent || bounce == kMostBounces;
                   const double taken = last ? w : (1 - rho) * w;
                   tally[size_t(e)] += taken;
                   if (bounce > 0) tally[count + size_t(e)] += taken;
                   if (last) break;
                   w *= rho;
                   if (dot(nrm, d) > 0) nrm = -nrm;
                   o = o + d * hit.t;
                   d = cosine_direction(nrm, thread);
                 }
               }
               progress.add(uint64_t(n));
             });
  } catch (...) {
    refhost::set_photon_recording(true);
    throw;
  }
  refhost::set_photon_recording(true);

  PhotonBalance b;
  b.photons = static_cast<long long>(photons) * static_cast<long long>(lights.size());
  b.absorbed.assign(count, 0.0);
  b.absorbed_error.assign(count, 0.0);
  b.interreflected.assign(count, 0.0);
  b.interreflected_error.assign(count, 0.0);
  for (size_t w = 0; w < lights.size() * size_t(chunks); ++w) {
    const double* t = &tallies[w * width];
    for (size_t e = 0; e < count; ++e) {
      b.absorbed[e] += t[e];
      b.interreflected[e] += t[count + e];
    }
    b.absorbed_elsewhere += t[elsewhere];
    b.escaped += t[escaped];
    b.emitted += t[emitted];
  }
  // The variance of a light's sum over its batches: the batches' spread
  // about their mean, times their number (a short last batch is scaled up
  // to a whole one for this).
  const auto variance = [&](size_t l, size_t column) {
    double sum = 0, squares = 0;
    for (int c = 0; c < chunks; ++c) {
      const double size = double(std::min(kChunk, photons - c * kChunk)) / kChunk;
      const double t = tallies[(l * size_t(chunks) + size_t(c)) * width + column] / size;
      sum += t;
      squares += t * t;
    }
    const double mean = sum / chunks;
    return std::max(0.0, squares / chunks - mean * mean) * chunks / (chunks - 1) * chunks;
  };
  for (size_t l = 0; l < lights.size() && chunks > 1; ++l)
    for (size_t e = 0; e < count; ++e) {
      b.absorbed_error[e] += variance(l, e);
      b.interreflected_error[e] += variance(l, count + e);
    }
  for (double& v : b.absorbed_error) v = std::sqrt(v);
  for (double& v : b.interreflected_error) v = std::sqrt(v);
  return b;
}

}  // namespace lux
