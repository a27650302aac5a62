// The host's light-sampling loop and the areas of object lights.
//
// Emitter points are a fixed stratified pattern over the emitter's shape:
// a Hammersley set (point i of n at ((i + ½)/n, radical inverse of i),
// centred in its cell), mapped area-preservingly onto the shape. For a
// power-of-two count every elementary cell of the unit square holds exactly
// one point; for any count the pattern is the same on every call and every
// thread, so the loop is deterministic.
//
// Shapes are laid out in light space around the light's origin, as the
// light's own photon emission lays them out: a rectangle spans ±|edge u|
// along x and ±|edge v| along y, a disc lies in the x–y plane, a cylinder's
// side runs around z within ±|axis|. The light instance's local-to-world
// matrix carries them into internal space. An object light emits from the
// surface of the object instance its light record names, placed by that
// instance's own matrix.
#include "refhost/lightloop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "refhost/internal.h"
#include "refhost/trace.h"

namespace refhost {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;
// The extent-to-distance ratio of a piece at the receiver itself.
constexpr double kNoRatio = std::numeric_limits<double>::infinity();

double dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3d add(const Vec3d& a, const Vec3d& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3d scaled(const Vec3d& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double length(const Vec3d& a) { return std::sqrt(dot(a, a)); }
Vec3d widen(const miVector& v) { return {v.x, v.y, v.z}; }
miVector narrow(const Vec3d& v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// Row-vector transforms p' = p · M; a null matrix is the identity.
Vec3d to_world_point(const Vec3d& p, const float* m) {
  if (m == nullptr) return p;
  return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12],
          p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
          p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}
Vec3d to_world_vector(const Vec3d& v, const float* m) {
  if (m == nullptr) return v;
  return {v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
          v.x * m[2] + v.y * m[6] + v.z * m[10]};
}

// ---- the stratified pattern ------------------------------------------------

// Van der Corput's radical inverse in base 2: the bits of i mirrored about
// the binary point.
double radical_inverse2(uint32_t i) {
  i = (i << 16) | (i >> 16);
  i = ((i & 0x00ff00ffu) << 8) | ((i & 0xff00ff00u) >> 8);
  i = ((i & 0x0f0f0f0fu) << 4) | ((i & 0xf0f0f0f0u) >> 4);
  i = ((i & 0x33333333u) << 2) | ((i & 0xccccccccu) >> 2);
  i = ((i & 0x55555555u) << 1) | ((i & 0xaaaaaaaau) >> 1);
  return double(i) * (1.0 / 4294967296.0);
}

struct Cell {
  double s, t;  // both in (0, 1)
};

// Point i of the n-point pattern, each coordinate in the centre of its
// stratum: (i + ½)/n across, and the radical inverse of i shifted by half
// of the finest power-of-two stratum that n points resolve.
Cell hammersley(int i, int n) {
  uint32_t strata = 1;
  while (strata < uint32_t(n)) strata <<= 1;
  return {(i + 0.5) / n, radical_inverse2(uint32_t(i)) + 0.5 / strata};
}

// Shirley and Chiu's concentric map of the square [−1, 1]² onto the unit
// disc: area-preserving, and strata stay compact.
void concentric_disc(const Cell& c, double& x, double& y) {
  const double a = 2.0 * c.s - 1.0, b = 2.0 * c.t - 1.0;
  if (a == 0.0 && b == 0.0) {
    x = y = 0.0;
    return;
  }
  double r, phi;
  if (std::fabs(a) > std::fabs(b)) {
    r = a;
    phi = (kPi / 4.0) * (b / a);
  } else {
    r = b;
    phi = kPi / 2.0 - (kPi / 4.0) * (a / b);
  }
  x = r * std::cos(phi);
  y = r * std::sin(phi);
}

// Archimedes: the height z is uniform on the sphere, so (φ, z) from the
// unit square land uniformly by area.
Vec3d sphere_direction(const Cell& c) {
  const double z = 1.0 - 2.0 * c.t;
  const double rho = std::sqrt(std::max(0.0, 1.0 - z * z));
  const double phi = kTwoPi * c.s;
  return {rho * std::cos(phi), rho * std::sin(phi), z};
}

// Two unit vectors spanning the plane perpendicular to n.
void plane_basis(const Vec3d& n, Vec3d& e1, Vec3d& e2) {
  const double nl = length(n);
  const Vec3d w = nl > 0.0 ? scaled(n, 1.0 / nl) : Vec3d{0, 0, 1};
  const Vec3d helper = std::fabs(w.x) < 0.9 ? Vec3d{1, 0, 0} : Vec3d{0, 1, 0};
  e1 = cross(helper, w);
  e1 = scaled(e1, 1.0 / length(e1));
  e2 = cross(w, e1);
}

// ---- areas of placed geometry ---------------------------------------------

double parallelogram_area(const Vec3d& a, const Vec3d& b) { return length(cross(a, b)); }

// Carlson's symmetric elliptic integrals R_F and R_D by the duplication
// theorem, finished with their Taylor series about the common mean.
double carlson_rf(double x, double y, double z) {
  for (int i = 0; i < 64; ++i) {
    const double mu = (x + y + z) / 3.0;
    const double spread = std::max({std::fabs(x - mu), std::fabs(y - mu), std::fabs(z - mu)});
    if (spread <= 1e-4 * mu) break;
    const double sx = std::sqrt(x), sy = std::sqrt(y), sz = std::sqrt(z);
    const double lambda = sx * sy + sy * sz + sz * sx;
    x = (x + lambda) * 0.25;
    y = (y + lambda) * 0.25;
    z = (z + lambda) * 0.25;
  }
  const double mu = (x + y + z) / 3.0;
  const double dx = 1.0 - x / mu, dy = 1.0 - y / mu, dz = -(dx + dy);
  const double e2 = dx * dy - dz * dz, e3 = dx * dy * dz;
  return (1.0 - e2 / 10.0 + e3 / 14.0 + e2 * e2 / 24.0 - 3.0 * e2 * e3 / 44.0) / std::sqrt(mu);
}

double carlson_rd(double x, double y, double z) {
  double sum = 0.0, weight = 1.0;
  for (int i = 0; i < 64; ++i) {
    const double mu = (x + y + 3.0 * z) / 5.0;
    const double spread = std::max({std::fabs(x - mu), std::fabs(y - mu), std::fabs(z - mu)});
    if (spread <= 1e-4 * mu) break;
    const double sx = std::sqrt(x), sy = std::sqrt(y), sz = std::sqrt(z);
    const double lambda = sx * sy + sy * sz + sz * sx;
    sum += weight / (sz * (z + lambda));
    weight *= 0.25;
    x = (x + lambda) * 0.25;
    y = (y + lambda) * 0.25;
    z = (z + lambda) * 0.25;
  }
  const double mu = (x + y + 3.0 * z) / 5.0;
  const double dx = (mu - x) / mu, dy = (mu - y) / mu, dz = (mu - z) / mu;
  const double ea = dx * dy, eb = dz * dz, ec = ea - eb, ed = ea - 6.0 * eb, ee = ed + ec + ec;
  const double series = 1.0 + ed * (-3.0 / 14.0 + 9.0 / 88.0 * ed - 9.0 / 52.0 * dz * ee) +
                        dz * (ee / 6.0 + dz * (-9.0 / 22.0 * ec + 3.0 / 26.0 * dz * ea));
  return 3.0 * sum + weight * series / (mu * std::sqrt(mu));
}

// Surface area of the ellipsoid with semi-axes a ≥ b ≥ c ≥ 0:
// 4π·a·b·c·R_G(a⁻², b⁻², c⁻²), with R_G written through R_F and R_D.
// A flat ellipsoid (c = 0) is an ellipse seen from both sides.
double ellipsoid_area(double a, double b, double c) {
  if (c <= 1e-12 * a) return 2.0 * kPi * a * b;
  const double x = 1.0 / (a * a), y = 1.0 / (b * b), z = 1.0 / (c * c);
  // R_G(x, y, z) = [z·R_F − (x − z)(y − z)·R_D / 3 + √(x·y / z)] / 2, with
  // the largest argument last so that both products stay positive.
  const double rg = 0.5 * (z * carlson_rf(x, y, z) - (x - z) * (y - z) * carlson_rd(x, y, z) / 3.0 +
                           std::sqrt(x * y / z));
  return 4.0 * kPi * a * b * c * rg;
}

// Eigenvalues of a symmetric 3×3 matrix, largest first (the trigonometric
// solution of the characteristic cubic).
std::array<double, 3> symmetric_eigenvalues(const double m[3][3]) {
  const double p1 = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
  std::array<double, 3> e;
  if (p1 == 0.0) {
    e = {m[0][0], m[1][1], m[2][2]};
  } else {
    const double q = (m[0][0] + m[1][1] + m[2][2]) / 3.0;
    const double p2 = (m[0][0] - q) * (m[0][0] - q) + (m[1][1] - q) * (m[1][1] - q) +
                      (m[2][2] - q) * (m[2][2] - q) + 2.0 * p1;
    const double p = std::sqrt(p2 / 6.0);
    double b[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) b[i][j] = (m[i][j] - (i == j ? q : 0.0)) / p;
    const double det = b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
                       b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
                       b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
    const double phi = std::acos(std::clamp(det / 2.0, -1.0, 1.0)) / 3.0;
    e[0] = q + 2.0 * p * std::cos(phi);
    e[2] = q + 2.0 * p * std::cos(phi + kTwoPi / 3.0);
    e[1] = 3.0 * q - e[0] - e[2];
  }
  std::sort(e.begin(), e.end(), [](double l, double r) { return l > r; });
  return e;
}

// A sphere of radius r under the linear map L becomes an ellipsoid whose
// semi-axes are r times the singular values of L, the square roots of the
// eigenvalues of L·Lᵀ.
double placed_sphere_area(double r, const float* m) {
  if (m == nullptr) return 4.0 * kPi * r * r;
  const Vec3d rows[3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[8], m[9], m[10]}};
  double gram[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) gram[i][j] = dot(rows[i], rows[j]);
  const auto e = symmetric_eigenvalues(gram);
  return ellipsoid_area(r * std::sqrt(std::max(0.0, e[0])), r * std::sqrt(std::max(0.0, e[1])),
                        r * std::sqrt(std::max(0.0, e[2])));
}

// The edge vectors of a box, carried into the world.
void box_edges(const Geometry& g, const float* m, Vec3d edges[3]) {
  edges[0] = to_world_vector({double(g.max.x) - double(g.min.x), 0, 0}, m);
  edges[1] = to_world_vector({0, double(g.max.y) - double(g.min.y), 0}, m);
  edges[2] = to_world_vector({0, 0, double(g.max.z) - double(g.min.z)}, m);
}

// Areas of a box's three pairs of faces: the faces spanned by the edges
// (1, 2), (2, 0) and (0, 1), each pair counted twice.
std::array<double, 3> box_face_areas(const Geometry& g, const float* m) {
  Vec3d e[3];
  box_edges(g, m, e);
  return {parallelogram_area(e[1], e[2]), parallelogram_area(e[2], e[0]),
          parallelogram_area(e[0], e[1])};
}

// Area of a placed object's surface; +∞ for a plane.
double placed_area(const Placement& p) {
  const Geometry& g = *p.geometry;
  const float* m = p.local_to_world;
  switch (g.kind) {
    case Geometry::Plane:
      return std::numeric_limits<double>::infinity();
    case Geometry::Rectangle:
      return 4.0 *
             parallelogram_area(to_world_vector(widen(g.u), m), to_world_vector(widen(g.v), m));
    case Geometry::Disc: {
      Vec3d e1, e2;
      plane_basis(widen(g.normal), e1, e2);
      const double r = g.radius;
      return kPi * r * r * parallelogram_area(to_world_vector(e1, m), to_world_vector(e2, m));
    }
    case Geometry::Sphere:
      return placed_sphere_area(g.radius, m);
    case Geometry::Box: {
      const auto f = box_face_areas(g, m);
      return 2.0 * (f[0] + f[1] + f[2]);
    }
    case Geometry::Mesh:  // not an emitting shape of object lights
      return 0.0;
  }
  return 0.0;
}

// A point of a placed object's surface for the cell c, in its own space.
// Boxes choose the face by the first coordinate, in proportion to the faces'
// areas in the world, so that points spread evenly by area.
Vec3d surface_point(const Placement& p, const Cell& c) {
  const Geometry& g = *p.geometry;
  const Vec3d center = widen(g.center);
  switch (g.kind) {
    case Geometry::Plane:
    case Geometry::Mesh:
      return center;
    case Geometry::Rectangle:
      return add(center,
                 add(scaled(widen(g.u), 2.0 * c.s - 1.0), scaled(widen(g.v), 2.0 * c.t - 1.0)));
    case Geometry::Disc: {
      Vec3d e1, e2;
      plane_basis(widen(g.normal), e1, e2);
      double x, y;
      concentric_disc(c, x, y);
      return add(center, scaled(add(scaled(e1, x), scaled(e2, y)), g.radius));
    }
    case Geometry::Sphere:
      return add(center, scaled(sphere_direction(c), g.radius));
    case Geometry::Box: {
      const auto f = box_face_areas(g, p.local_to_world);
      const double total = 2.0 * (f[0] + f[1] + f[2]);
      const double lo[3] = {g.min.x, g.min.y, g.min.z};
      const double hi[3] = {g.max.x, g.max.y, g.max.z};
      double s = c.s * total;
      for (int face = 0; face < 6; ++face) {
        const int axis = face / 2;
        const double share = f[size_t(axis)];
        if (s >= share && face < 5) {
          s -= share;
          continue;
        }
        const double u = share > 0.0 ? std::clamp(s / share, 0.0, 1.0) : 0.5;
        double q[3];
        q[axis] = face % 2 == 0 ? lo[axis] : hi[axis];
        const int a1 = (axis + 1) % 3, a2 = (axis + 2) % 3;
        q[a1] = lo[a1] + u * (hi[a1] - lo[a1]);
        q[a2] = lo[a2] + c.t * (hi[a2] - lo[a2]);
        return {q[0], q[1], q[2]};
      }
      return center;
    }
  }
  return center;
}

// ---- the emitter of a light instance ---------------------------------------

struct Emitter {
  int shape = miLIGHT_NONE;
  Vec3d origin{0, 0, 0};  // light space
  double half_u = 0, half_v = 0, radius = 0, half_height = 0;
  const float* light_to_world = nullptr;
  Placement object;  // object lights
  bool has_object = false;
};

// The light record and placement behind `light_instance` (an instance of a
// light, or a light itself used in world space).
bool emitter_of(miTag light_instance, Emitter& e) {
  const detail::Element* el = detail::element(light_instance);
  if (el == nullptr) return false;
  miTag light = light_instance;
  if (el->type == miSCENE_INSTANCE) {
    std::memcpy(&light, el->bytes() + kInstanceItemOffset, sizeof light);
    e.light_to_world = detail::instance_local_to_world(light_instance);
  }
  const LightRecord* rec = light_record(light);
  if (rec == nullptr) return false;
  e.shape = rec->area;
  e.origin = widen(rec->origin);
  e.half_u = length(widen(rec->edge_u));
  e.half_v = length(widen(rec->edge_v));
  e.radius = rec->radius;
  e.half_height = length(widen(rec->edge_u));
  if (e.shape == miLIGHT_OBJECT) e.has_object = placement_of(rec->obj_instance, e.object);
  return true;
}

// Emitter point i of n, in internal space.
Vec3d emitter_point(const Emitter& e, int i, int n) {
  const Cell c = hammersley(i, n);
  Vec3d offset{0, 0, 0};
  switch (e.shape) {
    case miLIGHT_RECTANGLE:
      offset = {(2.0 * c.s - 1.0) * e.half_u, (2.0 * c.t - 1.0) * e.half_v, 0.0};
      break;
    case miLIGHT_DISC: {
      double x, y;
      concentric_disc(c, x, y);
      offset = {x * e.radius, y * e.radius, 0.0};
      break;
    }
    case miLIGHT_SPHERE:
      offset = scaled(sphere_direction(c), e.radius);
      break;
    case miLIGHT_CYLINDER: {
      const double phi = kTwoPi * c.s;
      offset = {e.radius * std::cos(phi), e.radius * std::sin(phi),
                (2.0 * c.t - 1.0) * e.half_height};
      break;
    }
    case miLIGHT_OBJECT:
      if (e.has_object) return to_world_point(surface_point(e.object, c), e.object.local_to_world);
      break;
    default:
      break;
  }
  return to_world_point(add(e.origin, offset), e.light_to_world);
}

// ---- error-controlled sampling ---------------------------------------------
//
// The emitter is integrated over a parameter square (s, t) ∈ [0, 1]² whose
// map onto the shape is smooth, with a density (the area element relative
// to the shape's mean) that the quadrature weights carry: a rectangle and a
// cylinder's side map affinely, a disc by radius and angle (density 2s), a
// sphere by longitude and colatitude (density π/2 · sin θ). Object lights use
// the equal-area map of their object's surface.

// Relative quadrature errors on a piece of extents e_s, e_t at distance d
// from the receiver, for the cosine-law kernel cos·cos/d² (whose relative
// second and fourth derivatives along a line under the receiver are 4/d²
// and 72/d⁴). The midpoint rule errs by e³f″/24 per direction, which is
// ((e_s/d)² + (e_t/d)²)/6 relative; the two-point Gauss rule by e⁵f⁗/4320,
// on the axis ((e_s/d)⁴ + (e_t/d)⁴)/60. Away from the axis and on tilted
// receivers the kernel's fourth derivative grows; 0.1 instead of 1/60
// keeps every point of a room's work plane and of its walls up to the
// ceiling line within the accuracy, checked against the closed form.
constexpr double kMidpointError = 1.0 / 6.0;
constexpr double kGaussError = 0.1;
// Pieces are halved at most this often along one line of descent, which
// bounds the work at a receiver that touches the emitter.
constexpr int kMaxDepth = 18;
// A piece whose highest point above the receiver's plane is within this
// fraction of its size lies on the plane: its light arrives at grazing
// incidence, with a cosine of the same order, and counts for nothing.
constexpr double kOnThePlane = 1e-9;
// Pieces a whole turn starts in.
constexpr int kTurnPieces = 4;
// Accuracies finer than this are taken as this: the shader answers in
// single precision.
constexpr double kFinestAccuracy = 1e-7;
// The two-point Gauss rule's nodes on [−1, 1].
const double kGaussNode = 1.0 / std::sqrt(3.0);

// The emitter's frame in internal space: its centre and the light-space
// axes carried by the light's matrix.
struct EmitterFrame {
  Vec3d centre, x, y, z;
  double x_scale, y_scale, z_scale;  // the axes' lengths
  double scale;                      // the longest of them
};

EmitterFrame frame_of(const Emitter& e) {
  EmitterFrame f{to_world_point(e.origin, e.light_to_world),
                 to_world_vector({1, 0, 0}, e.light_to_world),
                 to_world_vector({0, 1, 0}, e.light_to_world),
                 to_world_vector({0, 0, 1}, e.light_to_world),
                 0,
                 0,
                 0,
                 0};
  f.x_scale = length(f.x);
  f.y_scale = length(f.y);
  f.z_scale = length(f.z);
  f.scale = std::max({f.x_scale, f.y_scale, f.z_scale});
  return f;
}

Vec3d in_frame(const EmitterFrame& f, double a, double b, double c) {
  return add(f.centre, add(scaled(f.x, a), add(scaled(f.y, b), scaled(f.z, c))));
}

// The point of parameter (s, t) on the emitter, in internal space.
Vec3d parameter_point(const Emitter& e, const EmitterFrame& f, double s, double t) {
  switch (e.shape) {
    case miLIGHT_RECTANGLE:
      return in_frame(f, (2.0 * s - 1.0) * e.half_u, (2.0 * t - 1.0) * e.half_v, 0.0);
    case miLIGHT_DISC: {
      const double r = s * e.radius, phi = kTwoPi * t;
      return in_frame(f, r * std::cos(phi), r * std::sin(phi), 0.0);
    }
    case miLIGHT_SPHERE: {
      const double phi = kTwoPi * s, theta = kPi * t;
      const double rho = e.radius * std::sin(theta);
      return in_frame(f, rho * std::cos(phi), rho * std::sin(phi), e.radius * std::cos(theta));
    }
    case miLIGHT_CYLINDER: {
      const double phi = kTwoPi * s;
      return in_frame(f, e.radius * std::cos(phi), e.radius * std::sin(phi),
                      (2.0 * t - 1.0) * e.half_height);
    }
    case miLIGHT_OBJECT:
      if (e.has_object)
        return to_world_point(surface_point(e.object, {s, t}), e.object.local_to_world);
      break;
    default:
      break;
  }
  return f.centre;
}

// The area element at (s, t) relative to the emitter's mean.
double parameter_density(const Emitter& e, double s, double t) {
  switch (e.shape) {
    case miLIGHT_DISC:
      return 2.0 * s;
    case miLIGHT_SPHERE:
      return 0.5 * kPi * std::sin(kPi * t);
    default:
      return 1.0;
  }
}

// A piece of the parameter square and how often it was halved.
struct Piece {
  double s0, s1, t0, t1;
  int depth;
};

// What a receiver asks: its point and unit normal, and the state each light
// ray starts from.
struct Receiver {
  Vec3d point, normal;
  miState state;
};

// One light ray from `from`: the shader's answer times the receiver's
// cosine and `weight`, added to `sum`. Points behind the receiver or on it
// cost no call.
int add_light_ray(const SceneLight& light, const Receiver& r, const Vec3d& from, double weight,
                  double sum[3]) {
  const Vec3d to_point = {r.point.x - from.x, r.point.y - from.y, r.point.z - from.z};
  const double distance = length(to_point);
  if (!(distance > 0.0)) return 0;
  const Vec3d dir = scaled(to_point, 1.0 / distance);
  const double cosine = -dot(r.normal, dir);
  if (!(cosine > 0.0)) return 0;
  miState state = r.state;
  state.org = narrow(from);
  state.dir = narrow(dir);
  state.dist = distance;
  miColor answer{0, 0, 0, 1};
  if (!light.shader->call(&answer, &state)) return 1;
  const double w = weight * cosine;
  sum[0] += double(answer.r) * w;
  sum[1] += double(answer.g) * w;
  sum[2] += double(answer.b) * w;
  return 1;
}

// Length along a parameter line through its middle: two chords, so that a
// full turn of a circle does not measure as nothing.
double line_length(const Vec3d& a, const Vec3d& m, const Vec3d& b) {
  return length({m.x - a.x, m.y - a.y, m.z - a.z}) + length({b.x - m.x, b.y - m.y, b.z - m.z});
}

// The longest lines of constant t and of constant s across the piece, in
// internal space: exact lengths (arcs for the round shapes) where the shape
// is known, chords through the middle for an object's surface.
void piece_extents(const Emitter& e, const EmitterFrame& f, const Piece& p, const Vec3d& centre,
                   double& es, double& et) {
  const double ds = p.s1 - p.s0, dt = p.t1 - p.t0;
  switch (e.shape) {
    case miLIGHT_RECTANGLE:
      es = 2.0 * e.half_u * f.x_scale * ds;
      et = 2.0 * e.half_v * f.y_scale * dt;
      return;
    case miLIGHT_DISC:
      es = e.radius * f.scale * ds;
      et = kTwoPi * e.radius * f.scale * p.s1 * dt;
      return;
    case miLIGHT_SPHERE: {
      const bool spans_equator = p.t0 <= 0.5 && p.t1 >= 0.5;
      const double widest =
          spans_equator ? 1.0 : std::max(std::sin(kPi * p.t0), std::sin(kPi * p.t1));
      es = kTwoPi * e.radius * f.scale * widest * ds;
      et = kPi * e.radius * f.scale * dt;
      return;
    }
    case miLIGHT_CYLINDER:
      es = kTwoPi * e.radius * f.scale * ds;
      et = 2.0 * e.half_height * f.z_scale * dt;
      return;
    default: {
      const double sm = 0.5 * (p.s0 + p.s1), tm = 0.5 * (p.t0 + p.t1);
      es = line_length(parameter_point(e, f, p.s0, tm), centre, parameter_point(e, f, p.s1, tm));
      et = line_length(parameter_point(e, f, sm, p.t0), centre, parameter_point(e, f, sm, p.t1));
      return;
    }
  }
}

// Whether a disc, seen from the receiver, is so small that its centre alone
// meets the accuracy by the midpoint rule (a whole-turn disc would otherwise
// start as four quarter pieces, one point each).
bool small_enough_for_its_centre(const Emitter& e, const EmitterFrame& f, const Receiver& r,
                                 double accuracy) {
  const Vec3d offset = {f.centre.x - r.point.x, f.centre.y - r.point.y, f.centre.z - r.point.z};
  const double d = length(offset);
  const double diameter = 2.0 * e.radius * f.scale;
  if (!(d > diameter)) return false;
  const double ratio = diameter / d;
  return dot(r.normal, offset) > diameter && 2.0 * kMidpointError * ratio * ratio <= accuracy;
}

// How far, per unit of in-plane distance, a flat emitter's points can rise
// above the receiver's tangent plane: the sine of the angle between the two
// planes. A panel in the ceiling seen from the ceiling has none: every piece
// lies on the receiver's plane and sends it no light, however finely cut.
// Other shapes are bounded by the distance alone (1).
double flat_emitter_lift(const Emitter& e, const EmitterFrame& f, const Receiver& r) {
  if (e.shape != miLIGHT_RECTANGLE && e.shape != miLIGHT_DISC) return 1.0;
  const Vec3d axis = cross(f.x, f.y);
  const double norm = length(axis);
  if (!(norm > 0.0)) return 1.0;
  const double c = dot(r.normal, axis) / norm;
  return std::sqrt(std::max(0.0, 1.0 - c * c));
}

// Integrates the emitter over the parameter square, splitting pieces until
// the quadrature on each meets `accuracy` (see lightloop.h).
int adaptive_sum(const SceneLight& light, const Emitter& e, const Receiver& r, double accuracy,
                 double sum[3]) {
  const EmitterFrame f = frame_of(e);
  const double lift = flat_emitter_lift(e, f, r);
  std::array<Piece, kMaxDepth + kTurnPieces + 1> stack;
  size_t top = 0;
  // A shape that runs round (a disc's angle, a sphere's or a cylinder's
  // longitude) starts in quarter turns: over a whole turn the chords would
  // measure a circle short and a Gauss rule would not see its periodicity.
  const int turn_axis = e.shape == miLIGHT_DISC                                    ? 1
                        : e.shape == miLIGHT_SPHERE || e.shape == miLIGHT_CYLINDER ? 0
                                                                                   : -1;
  if (e.shape == miLIGHT_DISC && small_enough_for_its_centre(e, f, r, accuracy))
    return add_light_ray(light, r, f.centre, 1.0, sum);
  if (turn_axis < 0) {
    stack[top++] = {0.0, 1.0, 0.0, 1.0, 0};
  } else {
    for (int k = 0; k < kTurnPieces; ++k) {
      const double a = double(k) / kTurnPieces, b = double(k + 1) / kTurnPieces;
      stack[top++] = turn_axis == 0 ? Piece{a, b, 0.0, 1.0, 0} : Piece{0.0, 1.0, a, b, 0};
    }
  }
  int calls = 0;
  while (top > 0) {
    const Piece p = stack[--top];
    const double sm = 0.5 * (p.s0 + p.s1), tm = 0.5 * (p.t0 + p.t1);
    const double area = (p.s1 - p.s0) * (p.t1 - p.t0);
    const Vec3d centre = parameter_point(e, f, sm, tm);
    double es, et;
    piece_extents(e, f, p, centre, es, et);
    const Vec3d offset = {centre.x - r.point.x, centre.y - r.point.y, centre.z - r.point.z};
    const double d = length(offset);
    const double reach = 0.5 * (es + et);  // no point of the piece lies farther from its centre
    const double height = dot(r.normal, offset);
    // Wholly behind the receiver, or (a flat piece) nowhere above its plane
    // by more than rounding: no light reaches the receiver from it.
    if (height < -reach || height + lift * reach <= kOnThePlane * reach) continue;
    const double rs = d > 0.0 ? es / d : kNoRatio, rt = d > 0.0 ? et / d : kNoRatio;
    const bool whole = p.depth >= kMaxDepth || (es == 0.0 && et == 0.0);
    const bool horizon = height < reach;
    if (whole || (!horizon && kMidpointError * (rs * rs + rt * rt) <= accuracy)) {
      calls += add_light_ray(light, r, centre, area * parameter_density(e, sm, tm), sum);
      continue;
    }
    const double horizon_ratio = std::max(rs, rt);
    const bool gauss_enough =
        horizon ? horizon_ratio * horizon_ratio <= accuracy
                : kGaussError * (rs * rs * rs * rs + rt * rt * rt * rt) <= accuracy;
    if (gauss_enough) {
      const double hs = 0.5 * (p.s1 - p.s0) * kGaussNode, ht = 0.5 * (p.t1 - p.t0) * kGaussNode;
      for (const double s : {sm - hs, sm + hs})
        for (const double t : {tm - ht, tm + ht})
          calls += add_light_ray(light, r, parameter_point(e, f, s, t),
                                 0.25 * area * parameter_density(e, s, t), sum);
      continue;
    }
    if (rs >= rt) {
      stack[top++] = {p.s0, sm, p.t0, p.t1, p.depth + 1};
      stack[top++] = {sm, p.s1, p.t0, p.t1, p.depth + 1};
    } else {
      stack[top++] = {p.s0, p.s1, p.t0, tm, p.depth + 1};
      stack[top++] = {p.s0, p.s1, tm, p.t1, p.depth + 1};
    }
  }
  return calls;
}

// The receiver as the light rays see it; false for a null normal.
bool make_receiver(const SceneLight& light, const miVector& point, const miVector& normal,
                   ThreadContext& thread, Receiver& r) {
  r.point = widen(point);
  r.normal = widen(normal);
  const double nl = length(r.normal);
  if (!(nl > 0.0)) return false;
  r.normal = scaled(r.normal, 1.0 / nl);
  r.state = make_state(light.shader, &thread, miRAY_LIGHT, light.instance);
  r.state.point = point;
  r.state.normal = narrow(r.normal);
  return true;
}

}  // namespace

void emitter_points(miTag light_instance, int count, std::vector<miVector>& out) {
  out.clear();
  Emitter e;
  if (count <= 0 || !emitter_of(light_instance, e)) return;
  out.reserve(size_t(count));
  for (int i = 0; i < count; ++i) out.push_back(narrow(emitter_point(e, i, count)));
}

// Emitter points behind the receiver (or on it) add nothing and are not
// asked for: the host knows the cosine is 0 without calling the shader.
miColor illuminance(const SceneLight& light, const miVector& point, const miVector& normal,
                    int samples, ThreadContext& thread) {
  if (samples <= 0) return {0, 0, 0, 1};
  return illuminance(light, point, normal, EmitterSampling{samples, 0.0}, thread);
}

miColor illuminance(const SceneLight& light, const miVector& point, const miVector& normal,
                    const EmitterSampling& sampling, ThreadContext& thread, int* calls) {
  if (calls != nullptr) *calls = 0;
  miColor total{0, 0, 0, 1};
  Emitter e;
  Receiver r;
  const bool fixed = sampling.samples > 0;
  if (light.shader == nullptr || !emitter_of(light.instance, e) ||
      !make_receiver(light, point, normal, thread, r))
    return total;
  double sum[3] = {0, 0, 0};
  int n = 0;
  if (fixed) {
    for (int i = 0; i < sampling.samples; ++i)
      n += add_light_ray(light, r, emitter_point(e, i, sampling.samples), 1.0, sum);
    for (double& v : sum) v /= sampling.samples;
  } else {
    n = adaptive_sum(light, e, r, std::max(sampling.accuracy, kFinestAccuracy), sum);
  }
  if (calls != nullptr) *calls = n;
  total.r = static_cast<float>(sum[0]);
  total.g = static_cast<float>(sum[1]);
  total.b = static_cast<float>(sum[2]);
  return total;
}

float object_area(miTag object_instance) {
  Placement p;
  if (!placement_of(object_instance, p)) return 0.0f;
  return static_cast<float>(placed_area(p));
}

}  // namespace refhost

namespace refhost::detail {

// Query 125: the area of the emitting object of the light behind
// `light_instance`. A plane has no finite area and gets no answer.
miBoolean query_object_light_area(miTag light_instance, float* area) {
  const Element* e = element(light_instance);
  if (e == nullptr || area == nullptr) return 0;
  miTag light = light_instance;
  if (e->type == miSCENE_INSTANCE)
    std::memcpy(&light, e->bytes() + kInstanceItemOffset, sizeof light);
  const LightRecord* rec = light_record(light);
  Placement p;
  if (rec == nullptr || !placement_of(rec->obj_instance, p)) return 0;
  const double a = placed_area(p);
  if (!std::isfinite(a)) return 0;
  *area = static_cast<float>(a);
  return 1;
}

}  // namespace refhost::detail
