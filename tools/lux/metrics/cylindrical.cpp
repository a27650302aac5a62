#include "tools/lux/metrics/cylindrical.h"

#include <algorithm>
#include <cmath>

#include "refhost/lightloop.h"

namespace lux {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr Vec3 kUp{0, 0, 1};

// The weights of one incident direction `to_light` (unit, from the point
// towards the light) for E_z, E_h and each E_sc, in that order.
constexpr size_t kWeights = 2 + kFacings;
std::array<double, kWeights> direction_weights(Vec3 to_light) {
  std::array<double, kWeights> w{};
  const double cos_theta = to_light.z;
  const Vec3 horizontal{to_light.x, to_light.y, 0};
  const double sin_theta = length(horizontal);
  w[0] = sin_theta / kPi;
  w[1] = std::max(0.0, cos_theta);
  for (size_t k = 0; k < size_t(kFacings); ++k) {
    // sin θ · cos α is the horizontal part along the facing.
    const double along = dot(horizontal, semi_cylinder_facings()[k]);
    w[2 + k] = (sin_theta + along) / kPi;
  }
  return w;
}

// The area's lattice at one height, masked by the scene's solids.
GridArea area_lattice(const Scene& scene, const MaskingSolids& solids, const CylindricalDesc& c,
                      double height) {
  const Vec3 eu = normalize(c.u), ev = normalize(c.v);
  const double la = length(c.u) - 2 * c.margin, lb = length(c.v) - 2 * c.margin;
  int nu, nv;
  if (c.standard_spacing) {
    const PointCounts n = standard_counts(la * scene.unit.metres, lb * scene.unit.metres);
    nu = n.along_a;
    nv = n.along_b;
  } else {
    nu = cells_for(la, c.spacing);
    nv = cells_for(lb, c.spacing);
  }
  const Vec3 corner = c.corner + eu * c.margin + ev * c.margin + Vec3{0, 0, height};
  GridArea g = lattice(corner, eu * la, ev * lb, nu, nv);
  g.name = c.name;
  mask_points(g, solids, masking_tolerance(scene.unit));
  return g;
}

}  // namespace

const std::array<Vec3, kFacings>& semi_cylinder_facings() {
  static const std::array<Vec3, kFacings> facings{Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{-1, 0, 0},
                                                  Vec3{0, -1, 0}};
  return facings;
}

std::vector<Vec3> emitter_points(const Light& light, int count) {
  // A light whose samples follow an accuracy rather than a fixed count
  // takes a fixed pattern here, dense enough for the weights of a cylinder.
  constexpr int kDirectionalSamples = 64;
  if (count <= 0) count = kDirectionalSamples;
  std::vector<miVector> host;
  refhost::emitter_points(light.scene.instance, light.emitter.kind == Emitter::None ? 1 : count,
                          host);
  std::vector<Vec3> out;
  out.reserve(host.size());
  for (const auto& p : host) out.push_back(from_mi(p));
  return out;
}

CylindricalPoint direct_cylindrical(const Light& light, const std::vector<Vec3>& emitter,
                                    Vec3 point, refhost::ThreadContext& thread) {
  CylindricalPoint out;
  if (light.shader == nullptr || emitter.empty()) return out;
  std::array<std::array<double, 3>, kWeights> sums{};
  for (const Vec3& from : emitter) {
    const Vec3 to_point = point - from;
    const double distance = length(to_point);
    if (!(distance > 0)) continue;
    const Vec3 dir = to_point * (1.0 / distance);
    // The ray a renderer hands a light shader: from the emitter point to the
    // receiver; the receiver here faces the light.
    miState state =
        refhost::make_state(light.shader.get(), &thread, miRAY_LIGHT, light.scene.instance);
    state.org = to_mi(from);
    state.dir = to_mi(dir);
    state.dist = distance;
    state.point = to_mi(point);
    state.normal = to_mi(-dir);
    miColor answer{0, 0, 0, 1};
    if (!light.shader->call(&answer, &state)) continue;
    const auto w = direction_weights(-dir);
    for (size_t k = 0; k < kWeights; ++k) {
      sums[k][0] += w[k] * double(answer.r);
      sums[k][1] += w[k] * double(answer.g);
      sums[k][2] += w[k] * double(answer.b);
    }
  }
  const double n = double(emitter.size());
  const auto strongest = [n](const std::array<double, 3>& s) {
    return std::max({s[0], s[1], s[2]}) / n;
  };
  out.ez = strongest(sums[0]);
  out.eh = strongest(sums[1]);
  for (size_t k = 0; k < size_t(kFacings); ++k) out.esc[k] = strongest(sums[2 + k]);
  return out;
}

CylindricalPoint interreflected_cylindrical(const IndirectField& field, Vec3 point, int azimuths) {
  CylindricalPoint out;
  if (!field) return out;
  out.eh = field(point, kUp);
  // Vertical-plane illuminance around the full turn, at the midpoints of
  // equal steps starting at +x.
  std::vector<double> ev(static_cast<size_t>(azimuths));
  for (int k = 0; k < azimuths; ++k) {
    const double phi = 2 * kPi * (k + 0.5) / azimuths;
    ev[size_t(k)] = field(point, {std::cos(phi), std::sin(phi), 0});
  }
  double all = 0;
  for (double e : ev) all += e;
  out.ez = all / azimuths;
  // E_sc(f) = (1/π) ∫ over the half turn about f of E_v(φ) dφ; the half turn
  // holds azimuths/2 of the steps, the ones whose midpoints face within 90°.
  for (size_t f = 0; f < size_t(kFacings); ++f) {
    double half = 0;
    for (int k = 0; k < azimuths; ++k) {
      const double phi = 2 * kPi * (k + 0.5) / azimuths;
      const Vec3 dir{std::cos(phi), std::sin(phi), 0};
      if (dot(dir, semi_cylinder_facings()[f]) > 0) half += ev[size_t(k)];
    }
    out.esc[f] = half * (2 * kPi / azimuths) / kPi;
  }
  return out;
}

std::vector<CylindricalResult> calculate_cylindrical(const Model& model, const CalcOptions& options,
                                                     const IndirectField& field,
                                                     const std::string& field_source) {
  const Scene& scene = model.scene();
  const auto& lights = model.lights();
  // The emitter points depend only on the scene: laid out once per light.
  std::vector<std::vector<Vec3>> emitters;
  for (const auto& l : lights) emitters.push_back(emitter_points(l, l.samples));

  std::vector<CylindricalResult> results;
  std::vector<GridArea> areas;
  const MaskingSolids solids = masking_solids(scene);
  for (const auto& c : scene.cylindrical)
    for (double h : c.heights) {
      areas.push_back(area_lattice(scene, solids, c, h));
      CylindricalResult r;
      r.name = c.name;
      r.height = h;
      r.nu = areas.back().nu;
      r.nv = areas.back().nv;
      r.points = areas.back().points;
      r.state = areas.back().state;
      r.ez.assign(r.points.size(), 0);
      r.eh.assign(r.points.size(), 0);
      r.esc.assign(r.points.size(), {});
      r.interreflection = field ? field_source : "none";
      results.push_back(std::move(r));
    }
  std::vector<std::pair<size_t, int>> rows;
  for (size_t a = 0; a < results.size(); ++a)
    for (int j = 0; j < results[a].nv; ++j) rows.emplace_back(a, j);

  constexpr uint64_t kCylindricalStream = 0x63796c;  // keeps seeds apart from plane grids
  for_rows(static_cast<int>(rows.size()), options.threads,
           [&](int row, refhost::ThreadContext& thread) {
             const auto [a, j] = rows[size_t(row)];
             CylindricalResult& r = results[a];
             for (int i = 0; i < r.nu; ++i) {
               const size_t p = size_t(j) * size_t(r.nu) + size_t(i);
               if (r.state[p] != PointState::Counted) continue;
               CylindricalPoint sum;
               for (size_t l = 0; l < lights.size(); ++l) {
                 thread.rng = sample_seed(kCylindricalStream + a, p, l);
                 thread.sample_index = 0;
                 const CylindricalPoint d =
                     direct_cylindrical(lights[l], emitters[l], r.points[p], thread);
                 const double mf = lights[l].maintenance_factor;
                 sum.ez += mf * d.ez;
                 sum.eh += mf * d.eh;
                 for (size_t k = 0; k < size_t(kFacings); ++k) sum.esc[k] += mf * d.esc[k];
               }
               const CylindricalPoint ind = interreflected_cylindrical(field, r.points[p]);
               const double mf = scene.maintenance_factor;
               r.ez[p] = sum.ez + mf * ind.ez;
               r.eh[p] = sum.eh + mf * ind.eh;
               for (size_t k = 0; k < size_t(kFacings); ++k)
                 r.esc[p][k] = sum.esc[k] + mf * ind.esc[k];
             }
           });
  for (auto& r : results) {
    r.ez_stats = stats_of(r.ez, r.state);
    r.eh_stats = stats_of(r.eh, r.state);
    for (size_t k = 0; k < size_t(kFacings); ++k) {
      std::vector<double> v(r.points.size());
      for (size_t p = 0; p < v.size(); ++p) v[p] = r.esc[p][k];
      r.esc_stats[k] = stats_of(v, r.state);
    }
    r.modelling = r.eh_stats.avg > 0 ? r.ez_stats.avg / r.eh_stats.avg : 0;
  }
  return results;
}

}  // namespace lux
