#include "tools/lux/metrics/glare.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "tools/lux/model/budget.h"

namespace lux {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegrees = 180.0 / kPi;
constexpr double kTableHeightRatio = 1.9;  // H/R at the top of Guth's table
constexpr double kTableSideRatio = 3.0;    // Y/R at its side

// The observer's frame: ahead along the view, up the vertical, and the side
// to the right.
struct EyeFrame {
  Vec3 ahead, side, up{0, 0, 1};
};
EyeFrame eye_frame(Vec3 direction) {
  EyeFrame f;
  f.ahead = normalize(Vec3{direction.x, direction.y, 0});
  f.side = cross(f.ahead, f.up);
  return f;
}

// The area of a solid seen along a unit direction.
double solid_projected_area(const SolidDesc& s, Vec3 d) {
  switch (s.kind) {
    case SolidDesc::Rectangle:
      return std::fabs(dot(cross(s.u, s.v), d));
    case SolidDesc::Disc:
      return kPi * s.radius * s.radius * std::fabs(dot(s.normal, d));
    case SolidDesc::Sphere:
      return kPi * s.radius * s.radius;
    case SolidDesc::Box: {
      const Vec3 e = s.max - s.min;
      return e.y * e.z * std::fabs(d.x) + e.z * e.x * std::fabs(d.y) + e.x * e.y * std::fabs(d.z);
    }
  }
  return 0;
}

// Twice the signed area of a ring of a polygon surface.
double ring_area(const Ring& ring) {
  double sum = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const auto& a = ring[i];
    const auto& b = ring[(i + 1) % ring.size()];
    sum += a[0] * b[1] - b[0] * a[1];
  }
  return 0.5 * sum;
}

// The area of a surface in square scene units: its rectangle, or its
// polygon less the holes.
double surface_area(const SurfaceDesc& s) {
  if (s.outline.empty()) return length(cross(s.u, s.v));
  double area = std::fabs(ring_area(s.outline[0]));
  for (size_t h = 1; h < s.outline.size(); ++h) area -= std::fabs(ring_area(s.outline[h]));
  return std::max(area, 0.0);
}

// The area a solid reflects with, square scene units: a sheet (rectangle,
// disc) from both of its sides, a body from its outside.
double solid_surface_area(const SolidDesc& s) {
  switch (s.kind) {
    case SolidDesc::Rectangle:
      return 2 * length(cross(s.u, s.v));
    case SolidDesc::Disc:
      return 2 * kPi * s.radius * s.radius;
    case SolidDesc::Sphere:
      return 4 * kPi * s.radius * s.radius;
    case SolidDesc::Box: {
      const Vec3 e = s.max - s.min;
      return 2 * (e.x * e.y + e.y * e.z + e.z * e.x);
    }
  }
  return 0;
}

// What reflects in the scene: the area of its reflecting surfaces,
// occluders and meshes, and that area times each one's reflectance.
// Calculation surfaces let light through and reflect nothing.
std::pair<double, double> reflecting_area(const Scene& scene) {
  double area = 0, weighted = 0;
  const auto add = [&](double a, double rho) {
    area += a;
    weighted += a * rho;
  };
  for (const auto& s : scene.surfaces)
    if (s.role == SurfaceRole::Reflecting) add(surface_area(s), s.reflectance);
  for (const auto& o : scene.occluders) add(solid_surface_area(o.solid), o.reflectance);
  for (const auto& m : scene.meshes)
    for (size_t t = 0; t < m.mesh.triangles.size(); ++t) {
      const auto& f = m.mesh.triangles[t];
      const auto& v = m.mesh.vertices;
      add(0.5 * length(cross(v[f[1]] - v[f[0]], v[f[2]] - v[f[0]])), m.mesh.reflectance[t]);
    }
  return {area, weighted};
}

}  // namespace

// Guth's position index by Levin's fit to Guth's table (R. E. Levin, "Position
// index in VCP calculations", Journal of the IES, 1975), with τ the angle in
// degrees from the vertical of the plane through the line of sight and the
// source, and σ the angle in degrees between the line of sight and the line
// to the source:
//   p = exp[(35.2 − 0.31889·τ − 1.22·e^(−2τ/9))·10⁻³·σ
//           + (21 + 0.26667·τ − 0.002963·τ²)·10⁻⁵·σ²].
double guth_position_index(double H, double Y, double R) {
  const double tau = std::atan2(std::fabs(Y), H) * kDegrees;
  const double sigma = std::atan2(std::hypot(H, Y), R) * kDegrees;
  const double a = (35.2 - 0.31889 * tau - 1.22 * std::exp(-2.0 * tau / 9.0)) * 1e-3 * sigma;
  const double b = (21.0 + 0.26667 * tau - 0.002963 * tau * tau) * 1e-5 * sigma * sigma;
  return std::exp(a + b);
}

bool in_glare_field(double H, double Y, double R) {
  return R > 0 && H >= 0 && H / R <= kTableHeightRatio && std::fabs(Y) / R <= kTableSideRatio;
}

std::optional<double> ugr_of(double background_luminance, const std::vector<GlareSource>& sources) {
  double sum = 0;
  for (const auto& s : sources) sum += s.term;
  if (!(sum > 0) || !(background_luminance > 0)) return std::nullopt;
  return 8.0 * std::log10(0.25 / background_luminance * sum);
}

double rounded_ugr(double ugr) { return std::round(ugr * 10.0) / 10.0; }

double projected_area(const Emitter& e, Vec3 d) {
  const Vec3 axis = e.frame.ez;
  switch (e.kind) {
    case Emitter::None:
      return 0;
    case Emitter::Rectangle:
      return 4 * e.half_u * e.half_v * std::fabs(dot(axis, d));
    case Emitter::Disc:
      return kPi * e.radius * e.radius * std::fabs(dot(axis, d));
    case Emitter::Sphere:
      return kPi * e.radius * e.radius;
    case Emitter::Cylinder: {
      const double c = std::clamp(dot(axis, d), -1.0, 1.0);
      return 2 * e.radius * 2 * e.half_length * std::sqrt(1 - c * c);
    }
    case Emitter::Solid:
      return solid_projected_area(e.solid, d);
  }
  return 0;
}

std::optional<GlareSource> glare_source(const Light& light, const std::vector<Vec3>& emitter,
                                        const SceneUnit& unit, Vec3 eye, Vec3 direction,
                                        refhost::ThreadContext& thread) {
  const EyeFrame f = eye_frame(direction);
  const Vec3 to_light = light.emitter.frame.origin - eye;
  const double R = dot(to_light, f.ahead), Y = dot(to_light, f.side), H = dot(to_light, f.up);
  if (!in_glare_field(H, Y, R) || light.shader == nullptr || emitter.empty()) return std::nullopt;

  // Intensity towards the eye: each light ray's answer is the illuminance
  // it gives on a plane facing it, E⊥ = I / d², so I = E⊥ · d² (d in m).
  double sum[3] = {0, 0, 0};
  for (const Vec3& from : emitter) {
    const Vec3 to_eye = eye - from;
    const double distance = length(to_eye);
    if (!(distance > 0)) continue;
    const Vec3 dir = to_eye * (1.0 / distance);
    miState state =
        refhost::make_state(light.shader.get(), &thread, miRAY_LIGHT, light.scene.instance);
    state.org = to_mi(from);
    state.dir = to_mi(dir);
    state.dist = distance;
    state.point = to_mi(eye);
    state.normal = to_mi(-dir);
    miColor answer{0, 0, 0, 1};
    if (!light.shader->call(&answer, &state)) continue;
    const double d_m = distance * unit.metres;
    sum[0] += double(answer.r) * d_m * d_m;
    sum[1] += double(answer.g) * d_m * d_m;
    sum[2] += double(answer.b) * d_m * d_m;
  }
  GlareSource s;
  s.light = light.name;
  s.intensity = std::max({sum[0], sum[1], sum[2]}) / double(emitter.size());
  if (!(s.intensity > 0)) return std::nullopt;
  const double r_m = length(to_light) * unit.metres;
  const Vec3 towards_eye = normalize(eye - light.emitter.frame.origin);
  s.projected_area = projected_area(light.emitter, towards_eye) * unit.metres * unit.metres;
  const double area = std::max(s.projected_area, kSmallSourceArea);
  s.luminance = s.intensity / area;
  s.solid_angle = area / (r_m * r_m);
  s.position_index = guth_position_index(H, Y, R);
  s.term = s.luminance * s.luminance * s.solid_angle / (s.position_index * s.position_index);
  return s;
}

RoomBox room_of(const Scene& scene) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  RoomBox b{{inf, inf, inf}, {-inf, -inf, -inf}};
  const auto take = [&b](Vec3 p) {
    b.min = {std::min(b.min.x, p.x), std::min(b.min.y, p.y), std::min(b.min.z, p.z)};
    b.max = {std::max(b.max.x, p.x), std::max(b.max.y, p.y), std::max(b.max.z, p.z)};
  };
  for (const auto& s : scene.surfaces)
    for (const Vec3 p : {s.corner, s.corner + s.u, s.corner + s.v, s.corner + s.u + s.v}) take(p);
  for (const auto& l : scene.lights) take(l.position);
  if (!(b.min.x <= b.max.x)) b = RoomBox{};
  return b;
}

std::vector<ObserverDesc> default_observers(const RoomBox& room, double eye_height) {
  const Vec3 mid = (room.min + room.max) * 0.5;
  const double z = room.min.z + eye_height;
  const bool x_longer = room.max.x - room.min.x >= room.max.y - room.min.y;
  const char* along_x = x_longer ? "lengthwise" : "crosswise";
  const char* along_y = x_longer ? "crosswise" : "lengthwise";
  return {
      {std::string("x-min wall, ") + along_x, {room.min.x, mid.y, z}, {{1, 0, 0}}, {}},
      {std::string("x-max wall, ") + along_x, {room.max.x, mid.y, z}, {{-1, 0, 0}}, {}},
      {std::string("y-min wall, ") + along_y, {mid.x, room.min.y, z}, {{0, 1, 0}}, {}},
      {std::string("y-max wall, ") + along_y, {mid.x, room.max.y, z}, {{0, -1, 0}}, {}},
  };
}

double room_interreflected_lux(double flux_lm, double area_m2, double reflectance) {
  if (!(area_m2 > 0) || !(reflectance < 1)) return 0;
  return flux_lm * reflectance / (area_m2 * (1 - reflectance));
}

GlareReport calculate_glare(const Model& model, const CalcOptions& options,
                            const IndirectField& field) {
  const Scene& scene = model.scene();
  GlareReport report;
  if (!scene.glare) return report;
  const auto& lights = model.lights();
  std::vector<std::vector<Vec3>> emitters;
  for (const auto& l : lights) emitters.push_back(emitter_points(l, l.samples));

  const RoomBox room = room_of(scene);
  double background_lux = 0;
  if (field) {
    report.background_source = "interreflection";
  } else {
    // Without the room's interreflected light, the room-average estimate:
    // the light ends on the surface of the box the scene spans, whose part
    // that no reflecting element covers lets it out (reflects nothing).
    report.background_source = "room estimate";
    const auto [area, weighted] = reflecting_area(scene);
    const Vec3 e = room.max - room.min;
    const double box_area = 2 * (e.x * e.y + e.y * e.z + e.z * e.x);
    const double total = std::max(box_area, area);
    report.room_reflectance = total > 0 ? weighted / total : 0;
    if (report.room_reflectance > 0) {
      // Lights of one kind emit one flux: measured once per kind.
      std::map<std::string, double> flux_of_kind;
      for (size_t l = 0; l < lights.size(); ++l) {
        if (lights[l].stated_flux) {
          report.room_flux += *lights[l].stated_flux;
          continue;
        }
        const std::string& kind = lights[l].kind;
        const auto known = flux_of_kind.find(kind);
        const double flux = !kind.empty() && known != flux_of_kind.end()
                                ? known->second
                                : measure_flux(model, l, kGlareFluxPhotons, {1, false}).measured;
        if (!kind.empty()) flux_of_kind[kind] = flux;
        report.room_flux += flux;
      }
    } else {
      report.note =
          "no rating: nothing in the scene reflects (calculation surfaces let light through), "
          "so the background is dark";
    }
    background_lux = room_interreflected_lux(
        report.room_flux, total * scene.unit.metres * scene.unit.metres, report.room_reflectance);
  }

  std::vector<std::pair<ObserverDesc, std::string>> observers;
  for (const auto& o : scene.observers) observers.push_back({o, "given"});
  if (scene.glare->default_observers)
    for (const auto& o : default_observers(room, scene.glare->eye_height))
      observers.push_back(
          {o, o.name.find("lengthwise") != std::string::npos ? "lengthwise" : "crosswise"});
  refhost::ThreadContext thread(0, 1);
  (void)options;
  for (size_t o = 0; o < observers.size(); ++o) {
    const ObserverDesc& ob = observers[o].first;
    for (size_t d = 0; d < ob.directions.size(); ++d) {
      UgrResult r;
      r.observer = ob.name;
      r.position = ob.position;
      r.direction = ob.directions[d];
      r.view = observers[o].second;
      r.background_illuminance = field ? field(ob.position, r.direction) : background_lux;
      r.background_luminance = r.background_illuminance / kPi;
      for (size_t l = 0; l < lights.size(); ++l) {
        thread.rng = sample_seed(0x676c617265 + o, d, l);
        thread.sample_index = 0;
        if (auto s =
                glare_source(lights[l], emitters[l], scene.unit, ob.position, r.direction, thread))
          r.sources.push_back(*s);
      }
      r.ugr = ugr_of(r.background_luminance, r.sources);
      if (r.ugr && (!report.largest || *r.ugr > *report.largest)) {
        report.largest = r.ugr;
        report.largest_index = report.results.size();
      }
      report.results.push_back(std::move(r));
    }
  }
  return report;
}

}  // namespace lux
