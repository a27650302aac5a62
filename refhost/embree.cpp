// Triangle meshes traced by Embree, or triangle by triangle without it.
#include "refhost/embree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "refhost/internal.h"

#ifdef ZEL_HAVE_EMBREE
#include <embree3/rtcore.h>
#endif

namespace refhost {

namespace {

constexpr double kNoHit = std::numeric_limits<double>::infinity();

Vec3d vertex(const TriangleMesh& m, uint32_t index) {
  const float* p = &m.vertices[size_t(index) * 3];
  return {double(p[0]), double(p[1]), double(p[2])};
}
Vec3d minus(const Vec3d& a, const Vec3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3d cross_of(const Vec3d& a, const Vec3d& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot_of(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Möller–Trumbore: the ray's parameter at the triangle a, b, c, or +∞ when
// it misses the triangle (or runs in its plane).
double triangle_crossing(const Vec3d& a, const Vec3d& b, const Vec3d& c, const Vec3d& o,
                         const Vec3d& d) {
  const Vec3d e1 = minus(b, a), e2 = minus(c, a);
  const Vec3d p = cross_of(d, e2);
  const double det = dot_of(e1, p);
  if (det == 0.0 || !std::isfinite(det)) return kNoHit;
  const Vec3d s = minus(o, a);
  const double u = dot_of(s, p) / det;
  if (u < 0.0 || u > 1.0) return kNoHit;
  const Vec3d q = cross_of(s, e1);
  const double v = dot_of(d, q) / det;
  if (v < 0.0 || u + v > 1.0) return kNoHit;
  return dot_of(e2, q) / det;
}

void check_mesh(const std::vector<float>& vertices, const std::vector<uint32_t>& triangles) {
  if (vertices.size() % 3 != 0)
    throw std::invalid_argument("mesh: vertex coordinates do not come in threes");
  if (triangles.empty() || triangles.size() % 3 != 0)
    throw std::invalid_argument("mesh: no triangles, or indices that do not come in threes");
  const size_t count = vertices.size() / 3;
  for (uint32_t i : triangles)
    if (i >= count)
      throw std::invalid_argument("mesh: vertex index " + std::to_string(i) + " out of range (" +
                                  std::to_string(count) + " vertices)");
}

}  // namespace

namespace {

// The nearest triangle crossed within (t_min, t_max), tested one by one.
MeshHit nearest_of_all(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                       double t_max) {
  MeshHit nearest{kNoHit, 0};
  for (size_t k = 0; k + 2 < mesh.triangles.size(); k += 3) {
    const double t =
        triangle_crossing(vertex(mesh, mesh.triangles[k]), vertex(mesh, mesh.triangles[k + 1]),
                          vertex(mesh, mesh.triangles[k + 2]), o, d);
    if (t > t_min && t < t_max && t < nearest.t) nearest = {t, uint32_t(k / 3)};
  }
  return nearest;
}

}  // namespace

double mesh_first_crossing_exhaustive(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d,
                                      double t_min, double t_max) {
  return nearest_of_all(mesh, o, d, t_min, t_max).t;
}

Vec3d triangle_normal(const TriangleMesh& mesh, uint32_t triangle) {
  const size_t k = size_t(triangle) * 3;
  const Vec3d a = vertex(mesh, mesh.triangles[k]), b = vertex(mesh, mesh.triangles[k + 1]),
              c = vertex(mesh, mesh.triangles[k + 2]);
  const Vec3d n = cross_of(minus(b, a), minus(c, a));
  const double l = std::sqrt(dot_of(n, n));
  return l > 0 ? Vec3d{n.x / l, n.y / l, n.z / l} : Vec3d{0, 0, 1};
}

#ifdef ZEL_HAVE_EMBREE

namespace {

// One device for the whole program, made on first use and kept: scenes of
// every mesh belong to it.
RTCDevice embree_device() {
  static const RTCDevice device = [] {
    RTCDevice made = rtcNewDevice(nullptr);
    if (made == nullptr) throw std::runtime_error("Embree: no device");
    return made;
  }();
  return device;
}

float to_float(double v) { return static_cast<float>(v); }

RTCRay make_ray(const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  RTCRay ray{};
  ray.org_x = to_float(o.x);
  ray.org_y = to_float(o.y);
  ray.org_z = to_float(o.z);
  ray.dir_x = to_float(d.x);
  ray.dir_y = to_float(d.y);
  ray.dir_z = to_float(d.z);
  ray.tnear = to_float(t_min);
  ray.tfar = to_float(t_max);
  ray.mask = 0xFFFFFFFFu;
  ray.flags = 0;
  ray.time = 0.0f;
  return ray;
}

}  // namespace

struct TriangleMesh::Traced {
  RTCScene scene = nullptr;
  ~Traced() {
    if (scene != nullptr) rtcReleaseScene(scene);
  }
};

TriangleMesh::TriangleMesh(std::vector<float> v, std::vector<uint32_t> t)
    : vertices(std::move(v)), triangles(std::move(t)) {
  check_mesh(vertices, triangles);
  traced = std::make_unique<Traced>();
  RTCDevice device = embree_device();
  traced->scene = rtcNewScene(device);
  RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
  auto* vb = static_cast<float*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0,
                                                         RTC_FORMAT_FLOAT3, 3 * sizeof(float),
                                                         vertices.size() / 3));
  auto* ib = static_cast<uint32_t*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0,
                                                            RTC_FORMAT_UINT3, 3 * sizeof(uint32_t),
                                                            triangle_count()));
  if (vb == nullptr || ib == nullptr) {
    rtcReleaseGeometry(geometry);
    throw std::runtime_error("Embree: no memory for the mesh's buffers");
  }
  std::copy(vertices.begin(), vertices.end(), vb);
  std::copy(triangles.begin(), triangles.end(), ib);
  rtcCommitGeometry(geometry);
  rtcAttachGeometry(traced->scene, geometry);
  rtcReleaseGeometry(geometry);
  rtcCommitScene(traced->scene);
}

TriangleMesh::~TriangleMesh() = default;

bool meshes_traced_by_embree() { return true; }

bool mesh_first_hit(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                    double t_max, MeshHit& found) {
  RTCIntersectContext context;
  rtcInitIntersectContext(&context);
  RTCRayHit hit{};
  hit.ray = make_ray(o, d, t_min, t_max);
  hit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
  hit.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
  rtcIntersect1(mesh.traced->scene, &context, &hit);
  if (hit.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
  found = {double(hit.ray.tfar), hit.hit.primID};
  return true;
}

double mesh_first_crossing(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                           double t_max) {
  MeshHit hit;
  return mesh_first_hit(mesh, o, d, t_min, t_max, hit) ? hit.t : kNoHit;
}

bool mesh_crossed(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                  double t_max) {
  RTCIntersectContext context;
  rtcInitIntersectContext(&context);
  RTCRay ray = make_ray(o, d, t_min, t_max);
  rtcOccluded1(mesh.traced->scene, &context, &ray);
  // Embree marks an occluded ray by setting its far end to −∞.
  return ray.tfar < 0.0f;
}

#else  // no Embree: every triangle is tested

struct TriangleMesh::Traced {};

TriangleMesh::TriangleMesh(std::vector<float> v, std::vector<uint32_t> t)
    : vertices(std::move(v)), triangles(std::move(t)) {
  check_mesh(vertices, triangles);
}

TriangleMesh::~TriangleMesh() = default;

bool meshes_traced_by_embree() { return false; }

bool mesh_first_hit(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                    double t_max, MeshHit& hit) {
  hit = nearest_of_all(mesh, o, d, t_min, t_max);
  return hit.t < kNoHit;
}

double mesh_first_crossing(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                           double t_max) {
  return mesh_first_crossing_exhaustive(mesh, o, d, t_min, t_max);
}

bool mesh_crossed(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                  double t_max) {
  return mesh_first_crossing_exhaustive(mesh, o, d, t_min, t_max) < kNoHit;
}

#endif

miTag add_mesh(const std::string& name, std::vector<float> vertices,
               std::vector<uint32_t> triangles, const miColor& transparency) {
  Geometry g;
  g.kind = Geometry::Mesh;
  g.transparency = transparency;
  g.mesh = std::make_shared<const TriangleMesh>(std::move(vertices), std::move(triangles));
  return add_object(name, g);
}

}  // namespace refhost
