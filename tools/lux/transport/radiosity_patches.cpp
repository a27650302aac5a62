// The geometry of interreflection: the scene's reflecting surfaces as flat
// convex polygons, their cutting into patches, and the analytic form factor
// from a point to a polygon.
#include <algorithm>
#include <cmath>

#include "refhost/embree.h"
#include "shaders/constants.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

namespace {

// Most corners a polygon clipped by a plane can have in the form factor.
constexpr int kMostClippedCorners = 16;
// Pieces around a disc and between the poles of a sphere: enough that the
// flat pieces stand close to the round surface, not so many that they are
// much smaller than a patch.
constexpr int kFewestDiscCorners = 12, kMostDiscCorners = 64;
constexpr int kFewestSphereBands = 4, kMostSphereBands = 32;
// An edge longer than a whole number of patches by less than this fraction
// takes that number: a mesh file's coordinates are often read in single
// precision, and a 0.6 m side must not become three patches of 0.2 m where
// the same side drawn as a box has two of 0.3 m.
constexpr double kWholePatches = 1e-6;

// Pieces along a round shape's length `around` for patches of edge
// `size`, within [fewest, most]. Without a patch size, the fewest: the
// hierarchy cuts them further where the light asks for it.
int pieces_around(double around, double size, int fewest, int most) {
  if (!(size > 0)) return fewest;
  const double n = std::ceil(around / size);
  return n >= most ? most : std::max(fewest, static_cast<int>(n));
}

std::vector<Vec3> rectangle_polygon(Vec3 corner, Vec3 u, Vec3 v, Vec3 front) {
  if (dot(cross(u, v), front) >= 0) return {corner, corner + u, corner + u + v, corner + v};
  return {corner, corner + v, corner + u + v, corner + u};
}

ReflectingElement& add_element(std::vector<ReflectingElement>& elements, const std::string& name,
                               const std::string& kind, double reflectance, miTag instance,
                               int surface) {
  ReflectingElement e;
  e.name = name;
  e.kind = kind;
  e.reflectance = reflectance;
  e.instance = instance;
  e.surface = surface;
  elements.push_back(e);
  return elements.back();
}

ReflectingSurface flat(std::vector<Vec3> polygon, Vec3 normal, double reflectance, int element) {
  ReflectingSurface s;
  s.polygon = std::move(polygon);
  s.normal = normalize(normal);
  s.reflectance = reflectance;
  s.element = element;
  return s;
}

double polygon_area(const std::vector<Vec3>& p) {
  Vec3 sum{};
  for (size_t k = 1; k + 1 < p.size(); ++k) sum = sum + cross(p[k] - p[0], p[k + 1] - p[0]);
  return 0.5 * length(sum);
}

// A regular polygon standing in for a disc, counter-clockwise about `front`.
std::vector<Vec3> disc_polygon(Vec3 center, Vec3 normal, double radius, int corners, Vec3 front) {
  const Vec3 n = normalize(normal);
  const Vec3 ref = std::fabs(n.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  const Vec3 a = normalize(ref - n * dot(ref, n));
  const Vec3 b = cross(n, a);
  std::vector<Vec3> out;
  for (int k = 0; k < corners; ++k) {
    const double phi = zel::k2Pi * k / corners;
    out.push_back(center + (a * std::cos(phi) + b * std::sin(phi)) * radius);
  }
  if (dot(n, front) < 0) std::reverse(out.begin(), out.end());
  return out;
}

// Flat pieces of a sphere between circles of latitude and meridians, each
// a planar trapezoid (a triangle at the poles), facing outwards. Their
// corners lie on a sphere a little larger than the true one, chosen so
// that the pieces' area is the sphere's: by Cauchy's formula a convex body
// shows, averaged over directions, a quarter of its area, so the pieces
// then take the light the sphere takes, where pieces inscribed in it would
// take a tenth less at the fewest bands.
void sphere_faces(Vec3 c, double r, double size, int element, double reflectance,
                  std::vector<ReflectingSurface>& out) {
  const int bands = pieces_around(zel::kPi * r, size, kFewestSphereBands, kMostSphereBands);
  const int sectors = 2 * bands;
  const auto on_unit = [&](int band, int sector) {
    const double theta = zel::kPi * band / bands, phi = zel::k2Pi * sector / sectors;
    return Vec3{std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
  };
  const auto corners = [&](int i, int k) {
    const Vec3 a = on_unit(i, k), b = on_unit(i + 1, k), d = on_unit(i + 1, k + 1),
               e = on_unit(i, k + 1);
    // The poles make triangles of the first and last bands.
    return i == 0           ? std::vector<Vec3>{a, b, d}
           : i + 1 == bands ? std::vector<Vec3>{a, b, e}
                            : std::vector<Vec3>{a, b, d, e};
  };
  double unit_area = 0;
  for (int i = 0; i < bands; ++i) unit_area += sectors * polygon_area(corners(i, 0));
  const double scale = r * std::sqrt(4 * zel::kPi / unit_area);
  for (int i = 0; i < bands; ++i)
    for (int k = 0; k < sectors; ++k) {
      std::vector<Vec3> p = corners(i, k);
      for (Vec3& q : p) q = c + q * scale;
      Vec3 n{};
      for (size_t q = 0; q < p.size(); ++q) n = n + cross(p[q] - c, p[(q + 1) % p.size()] - c);
      ReflectingSurface s = flat(p, n, reflectance, element);
      if (dot(s.normal, p[0] + p[1] - c * 2.0) < 0) {
        std::reverse(s.polygon.begin(), s.polygon.end());
        s.normal = -s.normal;
      }
      s.on_sphere = true;
      s.sphere_center = c;
      s.sphere_radius = r;
      out.push_back(s);
    }
}

bool is_parallelogram(const std::vector<Vec3>& p) {
  if (p.size() != 4) return false;
  const Vec3 gap = p[0] + p[2] - p[1] - p[3];
  const double scale = length(p[2] - p[0]) + length(p[3] - p[1]);
  return length(gap) <= 1e-12 * scale;
}

Patch make_patch(std::initializer_list<Vec3> corners, Vec3 normal, int face) {
  Patch p;
  p.corners = static_cast<int>(corners.size());
  int k = 0;
  Vec3 sum{};
  for (const Vec3& c : corners) {
    p.corner[size_t(k++)] = c;
    sum = sum + c;
  }
  p.normal = normal;
  p.face = face;
  if (p.corners == 4) {
    p.center = sum * 0.25;
    p.area = length(cross(p.corner[1] - p.corner[0], p.corner[3] - p.corner[0]));
  } else {
    p.center = sum * (1.0 / 3.0);
    p.area = 0.5 * length(cross(p.corner[1] - p.corner[0], p.corner[2] - p.corner[0]));
  }
  return p;
}

// Calls visit(a, b, c) for the m² equal triangles that split triangle abc.
template <typename Visit>
void split_triangle(Vec3 a, Vec3 b, Vec3 c, int m, Visit&& visit) {
  const Vec3 eb = (b - a) * (1.0 / m), ec = (c - a) * (1.0 / m);
  const auto at = [&](int i, int j) { return a + eb * double(i) + ec * double(j); };
  for (int j = 0; j < m; ++j)
    for (int i = 0; i + j < m; ++i) {
      visit(at(i, j), at(i + 1, j), at(i, j + 1));
      if (i + j + 1 < m) visit(at(i + 1, j), at(i + 1, j + 1), at(i, j + 1));
    }
}

// Whether `point`, on the plane of the convex polygon (corners counter-
// clockwise about `normal`), lies inside it.
bool inside_convex(const std::vector<Vec3>& polygon, Vec3 normal, Vec3 point) {
  for (size_t k = 0; k < polygon.size(); ++k) {
    const Vec3 e = polygon[(k + 1) % polygon.size()] - polygon[k];
    if (dot(cross(e, point - polygon[k]), normal) < -1e-12 * dot(e, e)) return false;
  }
  return true;
}

// The emitting face of a flat light, counter-clockwise about its front (the
// light's −z); empty for other shapes.
std::vector<Vec3> emitting_face(const Emitter& e) {
  const Frame& f = e.frame;
  const Vec3 front = -f.ez;
  if (e.kind == Emitter::Rectangle) {
    const Vec3 u = f.ex * e.half_u, v = f.ey * e.half_v;
    return rectangle_polygon(f.origin - u - v, u * 2.0, v * 2.0, front);
  }
  if (e.kind == Emitter::Disc)
    return disc_polygon(f.origin, front, e.radius, kMostDiscCorners, front);
  return {};
}

// The faces of a solid, reflecting from every side: a sheet (rectangle,
// disc) as two faces back to back.
void solid_faces(const SolidDesc& g, double size, int element, double rho,
                 std::vector<ReflectingSurface>& out) {
  switch (g.kind) {
    case SolidDesc::Rectangle: {
      const Vec3 n = normalize(cross(g.u, g.v));
      out.push_back(flat(rectangle_polygon(g.corner, g.u, g.v, n), n, rho, element));
      out.push_back(flat(rectangle_polygon(g.corner, g.u, g.v, -n), -n, rho, element));
      break;
    }
    case SolidDesc::Disc: {
      const int corners =
          pieces_around(zel::k2Pi * g.radius, size, kFewestDiscCorners, kMostDiscCorners);
      for (const Vec3 n : {g.normal, -g.normal})
        out.push_back(
            flat(disc_polygon(g.center, g.normal, g.radius, corners, n), n, rho, element));
      break;
    }
    case SolidDesc::Sphere:
      sphere_faces(g.center, g.radius, size, element, rho, out);
      break;
    case SolidDesc::Box: {
      const Vec3 lo = g.min, hi = g.max, e = hi - lo;
      const Vec3 X{e.x, 0, 0}, Y{0, e.y, 0}, Z{0, 0, e.z};
      const struct {
        Vec3 corner, u, v, n;
      } sides[] = {{lo, X, Y, {0, 0, -1}},    {lo + Z, X, Y, {0, 0, 1}}, {lo, X, Z, {0, -1, 0}},
                   {lo + Y, X, Z, {0, 1, 0}}, {lo, Y, Z, {-1, 0, 0}},    {lo + X, Y, Z, {1, 0, 0}}};
      for (const auto& f : sides)
        out.push_back(flat(rectangle_polygon(f.corner, f.u, f.v, f.n), f.n, rho, element));
      break;
    }
  }
}

// The prism standing in for a cylinder light's surface: a side face for
// each of `corners` edges of the regular polygon inscribed in its circle,
// and that polygon at each end, all facing out.
std::vector<std::vector<Vec3>> cylinder_faces(const Emitter& e, int corners) {
  const Frame& f = e.frame;
  const Vec3 half = f.ez * e.half_length;
  std::vector<Vec3> ring;
  for (int k = 0; k < corners; ++k) {
    const double phi = zel::k2Pi * k / corners;
    ring.push_back(f.origin + (f.ex * std::cos(phi) + f.ey * std::sin(phi)) * e.radius);
  }
  std::vector<std::vector<Vec3>> out;
  for (int k = 0; k < corners; ++k) {
    const Vec3 a = ring[size_t(k)], b = ring[size_t((k + 1) % corners)];
    out.push_back({a - half, b - half, b + half, a + half});
  }
  std::vector<Vec3> top, bottom;
  for (int k = 0; k < corners; ++k) {
    top.push_back(ring[size_t(k)] + half);
    bottom.push_back(ring[size_t(corners - 1 - k)] - half);
  }
  out.push_back(std::move(top));
  out.push_back(std::move(bottom));
  // Counter-clockwise seen from outside when the frame is right-handed;
  // turned where it is not.
  for (auto& p : out)
    if (dot(cross(p[1] - p[0], p[2] - p[0]), (p[0] + p[2]) * 0.5 - f.origin) < 0)
      std::reverse(p.begin(), p.end());
  return out;
}

// A traced mesh of convex polygons, each as a fan of triangles.
refhost::Geometry polygons_mesh(const std::vector<std::vector<Vec3>>& polygons) {
  std::vector<float> vertices;
  std::vector<uint32_t> triangles;
  for (const auto& p : polygons) {
    const auto first = static_cast<uint32_t>(vertices.size() / 3);
    for (const Vec3& c : p) vertices.insert(vertices.end(), {float(c.x), float(c.y), float(c.z)});
    for (uint32_t k = 1; k + 1 < p.size(); ++k)
      triangles.insert(triangles.end(), {first, first + k, first + k + 1});
  }
  refhost::Geometry g;
  g.kind = refhost::Geometry::Mesh;
  g.mesh = std::make_shared<const refhost::TriangleMesh>(std::move(vertices), std::move(triangles));
  return g;
}

}  // namespace

void add_luminaire_openings(const Model& model, std::vector<ReflectingSurface>& surfaces,
                            std::vector<ReflectingElement>& elements, std::vector<int>& on,
                            double plane_tolerance, double size,
                            std::vector<FreeOpening>& free_openings) {
  const size_t reflecting = surfaces.size();
  // Without surfaces that reflect there is no reflected light for an
  // opening to take: the scene has no interreflection at all.
  if (reflecting == 0) return;
  const auto& lights = model.lights();
  std::vector<bool> flush(lights.size(), false);
  for (size_t l = 0; l < lights.size(); ++l) {
    const Light& light = lights[l];
    std::vector<Vec3> face = emitting_face(light.emitter);
    if (face.empty()) continue;
    const Vec3 front = -light.emitter.frame.ez, centre = light.emitter.frame.origin;
    for (size_t s = 0; s < reflecting; ++s) {
      const ReflectingSurface& r = surfaces[s];
      if (r.on_sphere || dot(r.normal, front) < 1 - 1e-9) continue;
      if (std::fabs(dot(centre - r.polygon[0], r.normal)) > plane_tolerance) continue;
      if (!inside_convex(r.polygon, r.normal, centre)) continue;
      const int element = static_cast<int>(elements.size());
      add_element(elements, light.name, "luminaire opening", light.opening_reflectance, 0, -1);
      // On the surface's plane exactly, so that the two are one plane.
      for (Vec3& c : face) c = c - r.normal * dot(c - r.polygon[0], r.normal);
      surfaces.push_back(flat(std::move(face), front, light.opening_reflectance, element));
      on.push_back(static_cast<int>(s));
      flush[l] = true;
      break;
    }
  }
  for (size_t l = 0; l < lights.size(); ++l) {
    const Light& light = lights[l];
    const Emitter& e = light.emitter;
    if (flush[l] || e.kind == Emitter::None) continue;
    const int element = static_cast<int>(elements.size());
    const double rho = light.opening_reflectance;
    add_element(elements, light.name, "luminaire opening", rho, 0, -1);
    const size_t first = surfaces.size();
    SolidDesc solid;
    refhost::Geometry shape;
    switch (e.kind) {
      case Emitter::Rectangle:
        solid.kind = SolidDesc::Rectangle;
        solid.corner = e.frame.origin - e.frame.ex * e.half_u - e.frame.ey * e.half_v;
        solid.u = e.frame.ex * (2 * e.half_u);
        solid.v = e.frame.ey * (2 * e.half_v);
        shape = to_geometry(solid);
        [[fallthrough]];
      case Emitter::Disc: {
        // The emitting face, and the housing behind it.
        const Vec3 front = -e.frame.ez;
        std::vector<Vec3> face = emitting_face(e);
        std::vector<Vec3> back(face.rbegin(), face.rend());
        surfaces.push_back(flat(std::move(face), front, rho, element));
        surfaces.push_back(flat(std::move(back), -front, rho, element));
        if (e.kind == Emitter::Disc) {
          solid.kind = SolidDesc::Disc;
          solid.center = e.frame.origin;
          solid.normal = front;
          solid.radius = e.radius;
          shape = to_geometry(solid);
        }
        break;
      }
      case Emitter::Sphere:
        solid.kind = SolidDesc::Sphere;
        solid.center = e.frame.origin;
        solid.radius = e.radius;
        solid_faces(solid, size, element, rho, surfaces);
        shape = to_geometry(solid);
        break;
      case Emitter::Cylinder: {
        const auto faces = cylinder_faces(e, kMostDiscCorners);
        for (const auto& p : faces) {
          const Vec3 n = cross(p[1] - p[0], p[2] - p[0]);
          surfaces.push_back(flat(p, n, rho, element));
        }
        shape = polygons_mesh(faces);
        break;
      }
      case Emitter::Solid:
        solid_faces(e.solid, size, element, rho, surfaces);
        shape = to_geometry(e.solid);
        break;
      case Emitter::None:
        break;
    }
    for (size_t k = first; k < surfaces.size(); ++k) surfaces[k].passes_direct = true;
    free_openings.push_back({shape, element});
  }
}

bool covers(const ReflectingSurface& opening, Vec3 point) {
  return inside_convex(opening.polygon, opening.normal, point);
}

std::vector<ReflectingSurface> scene_reflectors(const Model& model,
                                                std::vector<ReflectingElement>& elements) {
  const Scene& scene = model.scene();
  const double size = scene.interreflection.patch_size;
  std::vector<ReflectingSurface> out;
  for (size_t s = 0; s < scene.surfaces.size(); ++s) {
    const SurfaceDesc& d = scene.surfaces[s];
    if (d.role != SurfaceRole::Reflecting) continue;
    const int element = static_cast<int>(elements.size());
    add_element(elements, d.name, d.room_face ? "room face" : "surface", d.reflectance,
                model.surface_instances().at(s), static_cast<int>(s));
    const Vec3 plane = normalize(cross(d.u, d.v));
    const Vec3 front = dot(plane, d.normal) >= 0 ? plane : -plane;
    if (d.outline.empty()) {
      out.push_back(
          flat(rectangle_polygon(d.corner, d.u, d.v, front), front, d.reflectance, element));
      continue;
    }
    for (auto piece : convex_pieces(d.outline, d.corner, d.u, d.v)) {
      if (dot(plane, front) < 0) std::reverse(piece.begin(), piece.end());
      out.push_back(flat(std::move(piece), front, d.reflectance, element));
    }
  }
  for (size_t m = 0; m < scene.meshes.size(); ++m) {
    const MeshDesc& d = scene.meshes[m];
    const int element = static_cast<int>(elements.size());
    ReflectingElement& e =
        add_element(elements, d.name, "mesh", 0, model.mesh_instances().at(m), -1);
    e.mesh = static_cast<int>(m);
    double area = 0, reflected = 0;
    const std::vector<MeshFace> faces = mesh_faces(d.mesh);
    const std::vector<bool> hidden = hidden_faces(faces);
    for (size_t k = 0; k < faces.size(); ++k) {
      const MeshFace& f = faces[k];
      if (hidden[k]) continue;
      area += f.area;
      reflected += f.area * f.reflectance;
      out.push_back(flat(f.polygon, f.normal, f.reflectance, element));
    }
    e.reflectance = area > 0 ? reflected / area : 0;
  }
  for (size_t o = 0; o < scene.occluders.size(); ++o) {
    const OccluderDesc& d = scene.occluders[o];
    const int element = static_cast<int>(elements.size());
    add_element(elements, d.name, "occluder", d.reflectance, model.occluder_instances().at(o), -1);
    solid_faces(d.solid, size, element, d.reflectance, out);
  }
  return out;
}

Face cut_into_patches(const ReflectingSurface& surface, int face, double size,
                      std::vector<Patch>& patches) {
  Face f;
  f.surface = surface;
  f.first = static_cast<int>(patches.size());
  const auto& p = surface.polygon;
  const Vec3 n = surface.normal;
  if (is_parallelogram(p)) {
    const Vec3 u = p[1] - p[0], v = p[3] - p[0];
    f.nu = std::max(1, static_cast<int>(std::ceil(length(u) / size - kWholePatches)));
    f.nv = std::max(1, static_cast<int>(std::ceil(length(v) / size - kWholePatches)));
    const Vec3 du = u * (1.0 / f.nu), dv = v * (1.0 / f.nv);
    for (int b = 0; b < f.nv; ++b)
      for (int a = 0; a < f.nu; ++a) {
        const Vec3 c = p[0] + du * double(a) + dv * double(b);
        patches.push_back(make_patch({c, c + du, c + du + dv, c + dv}, n, face));
      }
  } else {
    for (size_t k = 1; k + 1 < p.size(); ++k) {
      const Vec3 a = p[0], b = p[k], c = p[k + 1];
      const double longest = std::max({length(b - a), length(c - b), length(a - c)});
      const int m = std::max(1, static_cast<int>(std::ceil(longest / size - kWholePatches)));
      split_triangle(a, b, c, m, [&](Vec3 x, Vec3 y, Vec3 z) {
        patches.push_back(make_patch({x, y, z}, n, face));
      });
    }
  }
  f.count = static_cast<int>(patches.size()) - f.first;
  return f;
}

double point_to_polygon_factor(Vec3 point, Vec3 normal, const Vec3* polygon, int count,
                               Vec3 polygon_normal) {
  // Clip to the half space in front of the point (Sutherland–Hodgman).
  Vec3 kept[kMostClippedCorners];
  int n = 0;
  for (int k = 0; k < count && n + 2 <= kMostClippedCorners; ++k) {
    const Vec3 a = polygon[k] - point, b = polygon[(k + 1) % count] - point;
    const double sa = dot(a, normal), sb = dot(b, normal);
    if (sa >= 0) kept[n++] = a;
    if ((sa >= 0) != (sb >= 0)) kept[n++] = a + (b - a) * (sa / (sa - sb));
  }
  if (n < 3) return 0;
  // Lambert's sum over the edges: the projected solid angle over π.
  double sum = 0;
  for (int k = 0; k < n; ++k) {
    const Vec3 a = kept[k], b = kept[(k + 1) % n];
    const Vec3 g = cross(a, b);
    const double gl = length(g);
    if (gl == 0) continue;
    sum += std::atan2(gl, dot(a, b)) * dot(normal, g) / gl;
  }
  // Corners counter-clockwise about the polygon's normal, seen from its
  // front, run clockwise seen from the point: the sum is negative there.
  (void)polygon_normal;
  return std::max(0.0, -sum / zel::k2Pi);
}

}  // namespace lux
