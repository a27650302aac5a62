#include "tools/lux/transport/view.h"

#include <algorithm>
#include <cmath>

#include "refhost/embree.h"
#include "shaders/constants.h"
#include "tools/lux/transport/progress.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

namespace {

// Ray and parallelogram corner + a·u + b·v (0 ≤ a, b ≤ 1).
std::optional<double> hit_parallelogram(Vec3 o, Vec3 d, Vec3 corner, Vec3 u, Vec3 v, double near) {
  const Vec3 n = cross(u, v);
  const double denom = dot(d, n);
  if (denom == 0) return std::nullopt;
  const double t = dot(corner - o, n) / denom;
  if (!(t > near)) return std::nullopt;
  const Vec3 w = o + d * t - corner;
  const double nn = dot(n, n);
  const double a = dot(cross(w, v), n) / nn, b = dot(cross(u, w), n) / nn;
  if (a < 0 || a > 1 || b < 0 || b > 1) return std::nullopt;
  return t;
}

std::optional<double> hit_disc(Vec3 o, Vec3 d, Vec3 c, Vec3 n, double r, double near) {
  const double denom = dot(d, n);
  if (denom == 0) return std::nullopt;
  const double t = dot(c - o, n) / denom;
  if (!(t > near) || length(o + d * t - c) > r) return std::nullopt;
  return t;
}

std::optional<double> hit_sphere(Vec3 o, Vec3 d, Vec3 c, double r, double near) {
  const Vec3 oc = o - c;
  const double b = dot(oc, d), cc = dot(oc, oc) - r * r;
  const double disc = b * b - cc;
  if (disc < 0) return std::nullopt;
  const double s = std::sqrt(disc);
  if (-b - s > near) return -b - s;
  if (-b + s > near) return -b + s;
  return std::nullopt;
}

std::optional<std::pair<double, Vec3>> hit_box(Vec3 o, Vec3 d, Vec3 lo, Vec3 hi, double near) {
  double t0 = -1e300, t1 = 1e300;
  Vec3 n0{}, n1{};
  const double os[3] = {o.x, o.y, o.z}, ds[3] = {d.x, d.y, d.z};
  const double los[3] = {lo.x, lo.y, lo.z}, his[3] = {hi.x, hi.y, hi.z};
  for (int k = 0; k < 3; ++k) {
    Vec3 axis{};
    (k == 0 ? axis.x : k == 1 ? axis.y : axis.z) = 1;
    if (ds[k] == 0) {
      if (os[k] < los[k] || os[k] > his[k]) return std::nullopt;
      continue;
    }
    double a = (los[k] - os[k]) / ds[k], b = (his[k] - os[k]) / ds[k];
    if (a > b) std::swap(a, b);
    if (a > t0) {
      t0 = a;
      n0 = axis;
    }
    if (b < t1) {
      t1 = b;
      n1 = axis;
    }
  }
  if (t0 > t1) return std::nullopt;
  if (t0 > near) return std::make_pair(t0, n0);
  if (t1 > near) return std::make_pair(t1, n1);
  return std::nullopt;
}

// Side of a cylinder along the frame's z, |z| ≤ half length.
std::optional<double> hit_cylinder(Vec3 o, Vec3 d, const Emitter& e, double near) {
  const Vec3 lo = e.frame.vector_to_local(o - e.frame.origin), ld = e.frame.vector_to_local(d);
  const double a = ld.x * ld.x + ld.y * ld.y;
  if (a == 0) return std::nullopt;
  const double b = lo.x * ld.x + lo.y * ld.y, c = lo.x * lo.x + lo.y * lo.y - e.radius * e.radius;
  const double disc = b * b - a * c;
  if (disc < 0) return std::nullopt;
  for (double t : {(-b - std::sqrt(disc)) / a, (-b + std::sqrt(disc)) / a})
    if (t > near && std::fabs(lo.z + ld.z * t) <= e.half_length) return t;
  return std::nullopt;
}

struct Candidate {
  double t;
  Vec3 normal;
};

std::optional<Candidate> hit_solid(const SolidDesc& s, Vec3 o, Vec3 d, double near) {
  switch (s.kind) {
    case SolidDesc::Rectangle:
      if (auto t = hit_parallelogram(o, d, s.corner, s.u, s.v, near))
        return Candidate{*t, normalize(cross(s.u, s.v))};
      break;
    case SolidDesc::Disc:
      if (auto t = hit_disc(o, d, s.center, s.normal, s.radius, near))
        return Candidate{*t, s.normal};
      break;
    case SolidDesc::Sphere:
      if (auto t = hit_sphere(o, d, s.center, s.radius, near))
        return Candidate{*t, normalize(o + d * *t - s.center)};
      break;
    case SolidDesc::Box:
      if (auto h = hit_box(o, d, s.min, s.max, near)) return Candidate{h->first, h->second};
      break;
  }
  return std::nullopt;
}

std::optional<Candidate> hit_emitter(const Emitter& e, Vec3 o, Vec3 d, double near) {
  const Frame& f = e.frame;
  switch (e.kind) {
    case Emitter::None:
      return std::nullopt;
    case Emitter::Rectangle: {
      const Vec3 u = f.ex * (2 * e.half_u), v = f.ey * (2 * e.half_v);
      const Vec3 corner = f.origin - f.ex * e.half_u - f.ey * e.half_v;
      if (auto t = hit_parallelogram(o, d, corner, u, v, near)) return Candidate{*t, -f.ez};
      return std::nullopt;
    }
    case Emitter::Disc:
      if (auto t = hit_disc(o, d, f.origin, -f.ez, e.radius, near)) return Candidate{*t, -f.ez};
      return std::nullopt;
    case Emitter::Sphere:
      if (auto t = hit_sphere(o, d, f.origin, e.radius, near))
        return Candidate{*t, normalize(o + d * *t - f.origin)};
      return std::nullopt;
    case Emitter::Cylinder:
      if (auto t = hit_cylinder(o, d, e, near)) {
        const Vec3 p = e.frame.vector_to_local(o + d * *t - f.origin);
        return Candidate{*t, normalize(f.vector_to_world({p.x, p.y, 0}))};
      }
      return std::nullopt;
    case Emitter::Solid:
      return hit_solid(e.solid, o, d, near);
  }
  return std::nullopt;
}

// Keeps the nearer of `best` and the candidate. Coincident surfaces keep
// the one seen first, so that a plane met twice (a calculation surface on a
// table top) shows one surface, not a speckle of both; an emitter set into
// a surface (a panel in a ceiling) stays in front of it.
void consider(std::optional<Hit>& best, const std::optional<Candidate>& c, Vec3 o, Vec3 d,
              int light, double reflectance) {
  if (!c) return;
  if (best) {
    const bool behind_emitter = best->light >= 0 && light < 0;
    if (c->t >= best->t * (1 - (behind_emitter ? 1e-6 : 1e-9))) return;
  }
  Hit h;
  h.t = c->t;
  h.point = o + d * c->t;
  h.normal = dot(c->normal, d) > 0 ? -c->normal : c->normal;
  h.light = light;
  h.reflectance = reflectance;
  best = h;
}

double srgb(double linear) {
  linear = std::clamp(linear, 0.0, 1.0);
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

}  // namespace

std::optional<Hit> first_hit(const Model& model, Vec3 o, Vec3 d, double near) {
  std::optional<Hit> best;
  const auto& lights = model.lights();
  for (size_t l = 0; l < lights.size(); ++l)
    consider(best, hit_emitter(lights[l].emitter, o, d, near), o, d, static_cast<int>(l), 0);
  for (const auto& occ : model.scene().occluders)
    consider(best, hit_solid(occ.solid, o, d, near), o, d, -1, occ.reflectance);
  // Calculation surfaces are imaginary planes: in a scene with real
  // reflecting surfaces they are not drawn; in an open scene without any
  // they are, as a grey stand-in for what they mark.
  bool reflecting = false;
  for (const auto& s : model.scene().surfaces)
    reflecting = reflecting || s.role == SurfaceRole::Reflecting;
  for (const auto& s : model.scene().surfaces) {
    if (reflecting && s.role != SurfaceRole::Reflecting) continue;
    if (auto t = hit_parallelogram(o, d, s.corner, s.u, s.v, near)) {
      const Vec3 p = o + d * *t - s.corner;  // a polygon area's own coordinates:
      if (!s.outline.empty() && !inside(s.outline, dot(p, normalize(s.u)), dot(p, normalize(s.v))))
        continue;
      consider(best, Candidate{*t, s.normal}, o, d, -1, s.reflectance);
    }
  }
  for (size_t m = 0; m < model.meshes().size(); ++m) {
    refhost::MeshHit h;
    if (!refhost::mesh_first_hit(*model.meshes()[m], {o.x, o.y, o.z}, {d.x, d.y, d.z}, near,
                                 best ? best->t : 1e300, h))
      continue;
    const refhost::Vec3d n = refhost::triangle_normal(*model.meshes()[m], h.triangle);
    consider(best, Candidate{h.t, {n.x, n.y, n.z}}, o, d, -1,
             model.scene().meshes[m].mesh.reflectance[h.triangle]);
  }
  return best;
}

ViewResult render_view(const Model& model, const ViewDesc& view, const CalcOptions& options,
                       const RadiositySolution* interreflection) {
  const int W = view.width, H = view.height;
  const Vec3 forward = normalize(view.look_at - view.position);
  const Vec3 right = normalize(cross(forward, view.up));
  const Vec3 up = cross(right, forward);
  const double half_h = std::tan(0.5 * view.fov * zel::kDegToRad);
  const double half_w = half_h * W / H;
  const auto& lights = model.lights();

  // π × luminance per pixel, and whether the pixel sees an emitter.
  std::vector<std::array<double, 3>> value(size_t(W) * size_t(H), {0, 0, 0});
  std::vector<char> emitter(size_t(W) * size_t(H), 0);
  Progress progress("view", uint64_t(H), options.progress);
  for_rows(H, options.threads, [&](int y, refhost::ThreadContext& thread) {
    for (int x = 0; x < W; ++x) {
      const size_t p = size_t(y) * size_t(W) + size_t(x);
      const double sx = (2 * (x + 0.5) / W - 1) * half_w, sy = (1 - 2 * (y + 0.5) / H) * half_h;
      const Vec3 d = normalize(forward + right * sx + up * sy);
      const auto hit = first_hit(model, view.position, d, 1e-9);
      if (!hit) continue;
      if (hit->light >= 0) {
        const Light& light = lights[size_t(hit->light)];
        miState state =
            refhost::make_state(light.shader.get(), &thread, miRAY_EYE, light.scene.instance);
        state.org = to_mi(view.position);
        state.dir = to_mi(d);
        state.dist = hit->t;
        state.point = to_mi(hit->point);
        state.normal = to_mi(hit->normal);
        miColor c{};
        if (light.shader->call(&c, &state)) value[p] = {double(c.r), double(c.g), double(c.b)};
        emitter[p] = 1;
        continue;
      }
      // Lift the receiving point off its surface so that the surface does
      // not shadow itself.
      const Vec3 at = hit->point + hit->normal * (1e-6 * std::max(1.0, hit->t));
      std::array<double, 3> e{0, 0, 0};
      for (size_t l = 0; l < lights.size(); ++l) {
        thread.rng = sample_seed(0x76696577, p, l);
        thread.sample_index = 0;
        const miColor c = refhost::illuminance(lights[l].scene, to_mi(at), to_mi(hit->normal),
                                               view.samples, thread);
        e[0] += double(c.r);
        e[1] += double(c.g);
        e[2] += double(c.b);
      }
      if (interreflection != nullptr && hit->reflectance > 0) {
        // Interreflected light is worked out in luminous terms only: it
        // adds grey to every channel.
        const double indirect = indirect_on_surface(*interreflection, hit->point, hit->normal,
                                                    1e-6 * std::max(1.0, hit->t));
        for (double& c : e) c += indirect;
      }
      for (int k = 0; k < 3; ++k) value[p][size_t(k)] = hit->reflectance * e[size_t(k)];
    }
    progress.add(1);
  });

  ViewResult result;
  result.white = view.exposure;
  if (!(result.white > 0)) {
    // Automatic exposure: the brighter diffuse surfaces (95th percentile)
    // a little below white; emitters may burn out, as they do to the eye.
    std::vector<double> lit;
    for (size_t p = 0; p < value.size(); ++p)
      if (!emitter[p]) {
        const double v = std::max({value[p][0], value[p][1], value[p][2]});
        if (v > 0) lit.push_back(v);
      }
    if (!lit.empty()) {
      const size_t k = lit.size() * 95 / 100;
      std::nth_element(lit.begin(), lit.begin() + std::ptrdiff_t(k), lit.end());
      result.white = lit[k] / 0.85;
    } else {
      double brightest = 0;
      for (const auto& v : value) brightest = std::max({brightest, v[0], v[1], v[2]});
      result.white = brightest > 0 ? brightest : 1;
    }
  }
  result.image.width = W;
  result.image.height = H;
  result.image.pixels.resize(value.size());
  for (size_t p = 0; p < value.size(); ++p)
    for (int k = 0; k < 3; ++k)
      result.image.pixels[p][size_t(k)] =
          static_cast<unsigned char>(std::lround(255 * srgb(value[p][size_t(k)] / result.white)));
  return result;
}

}  // namespace lux
