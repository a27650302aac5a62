// The interreflection's solution: the surfaces cut into roots, the direct
// light on their pieces, the links, the flux each piece's links pass on
// scaled to what truly leaves it, and the iteration that passes the light
// on until it is spent.
#include "tools/lux/transport/radiosity.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

#include "shaders/constants.h"
#include "tools/lux/transport/hierarchy.h"
#include "tools/lux/transport/progress.h"

namespace lux {

namespace {

using refhost::Vec3d;
using Clock = std::chrono::steady_clock;

// A point closer than this fraction of the scene's extent to a plane lies on it.
constexpr double kPlaneFraction = 1e-9;
// The iteration gives up after this many rounds (each passes on at most
// the fraction ρmax of what is left) and says so.
constexpr int kMostRounds = 10000;
// Quadrature points per side of a patch for the form factor to another
// patch, by the distance between their centres in units of the larger
// patch's size: near pairs vary across the patch, far ones do not.
struct Quadrature {
  double closer_than;
  int points;
};
constexpr Quadrature kQuadrature[] = {{1.2, 8}, {2.0, 4}, {4.0, 2}};
constexpr int kMostQuadraturePoints = 64;
// The smallest piece: this fraction of the scene's least extent (the
// height of a room), the scale on which interreflected light changes.
constexpr double kSmallestPiece = 1.0 / 64;
// An exchange is refined while its error exceeds the accuracy times the
// flux a square of this fraction of the least extent receives on average:
// the accuracy then means the same in a small office and on a large floor.
constexpr double kReferencePiece = 0.25;
// The direct light is cut finer than the exchanges by this factor (it is
// the source of all the rest), and a light is skipped on a piece where its
// bound is below this fraction of the direct bound.
constexpr double kDirectShare = 0.05;
constexpr double kSkipShare = 0.05;
// Rays from each patch that find out how much of its light lands on a
// reflecting surface (the rest leaves the scene).
constexpr int kEscapeRays = 16;
// Bytes the solution takes per element, and links per element, for the
// estimate made before it is built.
constexpr double kBytesPerElement = sizeof(Element) + sizeof(Patch) + 12 * sizeof(double);
constexpr double kLinksPerElement = 24;
constexpr double kBytesPerLink = sizeof(Link) + sizeof(RefinedLink);
// Rounds the progress bar of the iteration counts on (a room of mean
// reflectance 0.6 needs about this many to a residual of 10⁻⁵).
constexpr int kExpectedRounds = 25;
// Elements per unit of parallel work in the iteration.
constexpr int kChunk = 1024;

Vec3d to_d(Vec3 a) { return {a.x, a.y, a.z}; }
Vec3 from_d(const Vec3d& a) { return {a.x, a.y, a.z}; }

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
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

// The bounds of the scene's reflecting surfaces.
void bounds(const std::vector<ReflectingSurface>& surfaces, Vec3& lo, Vec3& hi) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  lo = {inf, inf, inf};
  hi = {-inf, -inf, -inf};
  for (const ReflectingSurface& f : surfaces)
    for (const Vec3& c : f.polygon) {
      lo = {std::min(lo.x, c.x), std::min(lo.y, c.y), std::min(lo.z, c.z)};
      hi = {std::max(hi.x, c.x), std::max(hi.y, c.y), std::max(hi.z, c.z)};
    }
}

// The scene's least extent: the scale of the changes of interreflected
// light (a room's height).
double least_extent(Vec3 lo, Vec3 hi) {
  const Vec3 e = hi - lo;
  const double least = std::min({e.x, e.y, e.z}), most = std::max({e.x, e.y, e.z});
  // A flat scene (one floor, no walls) takes a tenth of its size.
  return least > 0 ? least : 0.1 * most;
}

// Pieces each surface is cut into by the patch_size bound, reckoned in
// doubles so that no count can overflow.
double roots_for(const ReflectingSurface& f, double size) {
  if (!(size > 0)) return 1;
  const auto& p = f.polygon;
  if (p.size() == 4) {
    const double nu = std::max(1.0, std::ceil(length(p[1] - p[0]) / size));
    const double nv = std::max(1.0, std::ceil(length(p[3] - p[0]) / size));
    return nu * nv;
  }
  double n = 0;
  for (size_t k = 1; k + 1 < p.size(); ++k) {
    const double longest =
        std::max({length(p[k] - p[0]), length(p[k + 1] - p[k]), length(p[0] - p[k + 1])});
    const double m = std::max(1.0, std::ceil(longest / size));
    n += m * m;
  }
  return n;
}

double polygon_area(const std::vector<Vec3>& p) {
  Vec3 sum{};
  for (size_t k = 1; k + 1 < p.size(); ++k) sum = sum + cross(p[k] - p[0], p[k + 1] - p[0]);
  return 0.5 * length(sum);
}

// Which element each traced object is, and whether a ray meeting it from
// direction d meets its reflecting front.
struct Landing {
  std::vector<int> element_of;
  std::vector<int> front_of;  // per element: 1 a one-sided surface, 2 a mesh, 0 any side
  std::vector<Vec3> front;
};

Landing landing(const Model& model, const RadiositySolution& s) {
  Landing l;
  l.element_of = s.object_element;
  l.front_of.assign(s.elements.size(), 0);
  l.front.assign(s.elements.size(), Vec3{});
  for (size_t e = 0; e < s.elements.size(); ++e) {
    if (s.elements[e].mesh >= 0) l.front_of[e] = 2;
    if (s.elements[e].surface >= 0) {
      const SurfaceDesc& d = model.scene().surfaces[size_t(s.elements[e].surface)];
      const Vec3 plane = normalize(cross(d.u, d.v));
      l.front[e] = dot(plane, d.normal) >= 0 ? plane : -plane;
      l.front_of[e] = 1;
    }
  }
  return l;
}

// The fraction of a patch's light that lands on the front of a reflecting
// surface: rays in cosine-weighted directions, stratified, from its open
// sample points. In a closed room every ray lands.
double landed_fraction(const RadiositySolution& s, const Landing& l, const Hiding& hiding,
                       const Patch& p) {
  Vec3 points[4];
  sample_points(p, points);
  const Face& f = s.faces[size_t(p.face)];
  const Vec3 n = p.normal;
  const Vec3 ref = std::fabs(n.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  const Vec3 a = normalize(ref - n * dot(ref, n)), b = cross(n, a);
  // A turn of the strata per patch, from where it is, so that neighbours
  // do not all miss the same gap.
  const double turn = double(sample_seed(uint64_t(std::fabs(p.center.x) * 1e6),
                                         uint64_t(std::fabs(p.center.y) * 1e6),
                                         uint64_t(std::fabs(p.center.z) * 1e6)) >>
                             11) *
                      (1.0 / 9007199254740992.0);
  int sent = 0, landed = 0;
  constexpr int kSide = 4;  // kEscapeRays = kSide²
  for (int k = 0; k < kEscapeRays; ++k) {
    const Vec3 from = points[k % 4];
    if (!is_open(s, hiding, p.face, from)) continue;
    const double u1 = (k / kSide + 0.5) / kSide;
    const double u2 = std::fmod((k % kSide + 0.5) / kSide + turn, 1.0);
    const double r = std::sqrt(u1), phi = zel::k2Pi * u2;
    const Vec3 d = normalize(a * (r * std::cos(phi)) + b * (r * std::sin(phi)) +
                             n * std::sqrt(std::max(0.0, 1 - u1)));
    ++sent;
    refhost::RayScene::Hit hit;
    const Vec3 o = ray_end(f, from);
    if (!s.rays->first_hit(to_d(o), to_d(d), std::numeric_limits<double>::infinity(), hit))
      continue;
    // An object that is no reflecting element takes the light where it
    // lands (a scene left in the host by an earlier run in the same
    // process is one); only the open sky loses it.
    const int e = l.element_of[hit.object];
    if (e < 0) {
      ++landed;
      continue;
    }
    const Vec3 nrm = from_d(s.rays->normal_at(hit, to_d(o + d * hit.t)));
    const int kind = l.front_of[size_t(e)];
    const bool behind = kind == 2 ? dot(nrm, d) > 0 : kind == 1 && dot(l.front[size_t(e)], d) > 0;
    if (!behind) ++landed;
  }
  return sent == 0 ? 1.0 : double(landed) / sent;
}

// The hierarchy's nodes for the iteration: elements, then clusters; each
// node's children with the share of received light each takes.
struct Nodes {
  size_t elements = 0, count = 0;
  std::vector<int> first, child_count;  // children of node i: kids[first .. first + count)
  std::vector<int> kids;
  std::vector<double> share;
};

// The children of node i (at most four) into c; their count.
int children_of(const RadiositySolution& s, size_t elements, size_t i, int c[4]) {
  int m = 0;
  if (i < elements) {
    const Element& e = s.tree[i];
    if (e.child >= 0)
      for (int k = 0; k < 4; ++k) c[m++] = e.child + k;
    return m;
  }
  const Cluster& k = s.clusters[i - elements];
  for (int h = 0; h < 2; ++h) {
    if (h == 1 && k.child[1] == k.child[0]) break;
    c[m++] = k.child[h] >= 0 ? static_cast<int>(elements) + k.child[h]
                             : s.roots[size_t(-1 - k.child[h])];
  }
  return m;
}

Nodes node_children(const RadiositySolution& s, const std::vector<double>& open_area, int threads) {
  Nodes n;
  n.elements = s.tree.size();
  n.count = n.elements + s.clusters.size();
  n.first.assign(n.count, 0);
  n.child_count.assign(n.count, 0);
  const int chunks = static_cast<int>((n.count + kChunk - 1) / kChunk);
  const auto chunk_of = [&](int chunk, size_t& begin, size_t& end) {
    begin = size_t(chunk) * kChunk;
    end = std::min(n.count, begin + kChunk);
  };
  for_rows(chunks, threads, [&](int chunk, refhost::ThreadContext&) {
    size_t begin, end;
    chunk_of(chunk, begin, end);
    int c[4];
    for (size_t i = begin; i < end; ++i) n.child_count[i] = children_of(s, n.elements, i, c);
  });
  int kids = 0;
  for (size_t i = 0; i < n.count; ++i) {
    n.first[i] = kids;
    kids += n.child_count[i];
  }
  n.kids.resize(size_t(kids));
  n.share.resize(size_t(kids));
  for_rows(chunks, threads, [&](int chunk, refhost::ThreadContext&) {
    size_t begin, end;
    chunk_of(chunk, begin, end);
    int c[4];
    for (size_t i = begin; i < end; ++i) {
      const int m = children_of(s, n.elements, i, c);
      double total = 0;
      for (int k = 0; k < m; ++k) total += open_area[size_t(c[k])];
      for (int k = 0; k < m; ++k) {
        n.kids[size_t(n.first[i] + k)] = c[k];
        n.share[size_t(n.first[i] + k)] = total > 0 ? open_area[size_t(c[k])] / total : 0.0;
      }
    }
  });
  return n;
}

// Runs `work(begin, end)` on each root's block of elements [begin, end)
// of the tree, roots spread over the threads. A root's pieces lie in one
// block with every parent before its children, so passes up or down the
// tree are independent between roots and give the same sums on any
// number of threads.
template <class Work>
void for_root_blocks(const RadiositySolution& s, size_t elements, int threads, const Work& work) {
  const size_t roots = s.roots.size();
  for_rows(static_cast<int>(roots), threads, [&](int r, refhost::ThreadContext&) {
    const size_t begin = size_t(s.roots[size_t(r)]);
    const size_t end = size_t(r) + 1 < roots ? size_t(s.roots[size_t(r) + 1]) : elements;
    work(begin, end);
  });
}

// Adds each node's children into it: elements from the leaves up (a
// parent comes before its children), then the clusters, whose children
// are later clusters or root elements.
void pull(const RadiositySolution& s, const Nodes& nodes, std::vector<double>& v, int threads) {
  const auto gather = [&](size_t i) {
    for (int k = 0; k < nodes.child_count[i]; ++k)
      v[i] += v[size_t(nodes.kids[size_t(nodes.first[i] + k)])];
  };
  for_root_blocks(s, nodes.elements, threads, [&](size_t begin, size_t end) {
    for (size_t i = end; i-- > begin;) gather(i);
  });
  for (size_t i = nodes.count; i-- > nodes.elements;) gather(i);
}

// Hands each node's value down to its children by their shares, parents
// first: the clusters (down to root elements), then each root's pieces.
void hand_down(const RadiositySolution& s, const Nodes& nodes, std::vector<double>& v,
               int threads) {
  const auto pass = [&](size_t i) {
    for (int k = 0; k < nodes.child_count[i]; ++k)
      v[size_t(nodes.kids[size_t(nodes.first[i] + k)])] +=
          v[i] * nodes.share[size_t(nodes.first[i] + k)];
  };
  for (size_t i = nodes.elements; i < nodes.count; ++i) pass(i);
  for_root_blocks(s, nodes.elements, threads, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) pass(i);
  });
}

// The open fraction of each cut piece from its four children's, so that
// the shares handed down add up.
void open_from_children(RadiositySolution& s, size_t elements, int threads) {
  for_root_blocks(s, elements, threads, [&](size_t begin, size_t end) {
    for (size_t e = end; e-- > begin;) {
      const Element& el = s.tree[e];
      if (el.child < 0) continue;
      double open = 0;
      for (int k = 0; k < 4; ++k) open += 0.25 * s.tree[size_t(el.child + k)].patch.open;
      s.tree[e].patch.open = open;
    }
  });
}

// Each cluster's flux, from its roots', and its mean normal weighted by
// them (zero where it sends nothing), children before parents.
void cluster_sums(const RadiositySolution& s, const std::vector<double>& root_flux,
                  std::vector<double>& flux, std::vector<Vec3>& glow) {
  flux.assign(s.clusters.size(), 0.0);
  glow.assign(s.clusters.size(), Vec3{});
  for (size_t c = s.clusters.size(); c-- > 0;) {
    const Cluster& k = s.clusters[c];
    for (int h = 0; h < 2; ++h) {
      if (h == 1 && k.child[1] == k.child[0]) break;
      const int child = k.child[h];
      if (child >= 0) {
        flux[c] += flux[size_t(child)];
        glow[c] = glow[c] + glow[size_t(child)] * flux[size_t(child)];
      } else {
        const size_t r = size_t(-1 - child);
        flux[c] += root_flux[r];
        glow[c] = glow[c] + s.tree[size_t(s.roots[r])].patch.normal * root_flux[r];
      }
    }
    glow[c] = flux[c] > 0 ? glow[c] * (1 / flux[c]) : Vec3{};
  }
}

}  // namespace

double exchange_from(const Patch& from, const Patch& to) {
  const int m = quadrature_for(from, to);
  if (from.area <= to.area) return from.area * patch_factor(from, to, m);
  return to.area * patch_factor(to, from, m);
}

void one_sided_exchanges(const Patch& a, const Patch& b, double plane_tolerance, double& ab,
                         double& ba) {
  ab = ba = 0;
  if (!in_front(a, b, plane_tolerance) || !in_front(b, a, plane_tolerance)) return;
  const int m = quadrature_for(a, b);
  ab = a.area * patch_factor(a, b, m);
  ba = b.area * patch_factor(b, a, m);
}

bool facing(const Patch& a, const Patch& b, double plane_tolerance) {
  return in_front(a, b, plane_tolerance) && in_front(b, a, plane_tolerance);
}

double patch_exchange(const Patch& a, const Patch& b, double plane_tolerance) {
  double ab = 0, ba = 0;
  one_sided_exchanges(a, b, plane_tolerance, ab, ba);
  return 0.5 * (ab + ba);
}

RadiosityEstimate estimate_radiosity(const Scene& scene) {
  RadiosityEstimate e;
  double area = 0;
  Vec3 lo{}, hi{};
  bool any = false;
  const auto grow = [&](Vec3 c) {
    if (!any) lo = hi = c;
    any = true;
    lo = {std::min(lo.x, c.x), std::min(lo.y, c.y), std::min(lo.z, c.z)};
    hi = {std::max(hi.x, c.x), std::max(hi.y, c.y), std::max(hi.z, c.z)};
  };
  const auto add = [&](const std::vector<Vec3>& polygon) {
    ReflectingSurface f;
    f.polygon = polygon;
    e.roots += roots_for(f, scene.interreflection.patch_size);
    area += polygon_area(polygon);
    for (const Vec3& c : polygon) grow(c);
  };
  for (const SurfaceDesc& d : scene.surfaces)
    if (d.role == SurfaceRole::Reflecting)
      add({d.corner, d.corner + d.u, d.corner + d.u + d.v, d.corner + d.v});
  const auto add_solid = [&](const SolidDesc& g) {
    if (g.kind == SolidDesc::Box) {
      const Vec3 x{g.max.x - g.min.x, 0, 0}, y{0, g.max.y - g.min.y, 0}, z{0, 0, g.max.z - g.min.z};
      for (const auto& [c, u, v] :
           {std::tuple{g.min, x, y}, std::tuple{g.min + z, x, y}, std::tuple{g.min, x, z},
            std::tuple{g.min + y, x, z}, std::tuple{g.min, y, z}, std::tuple{g.min + x, y, z}})
        add({c, c + u, c + u + v, c + v});
    } else if (g.kind == SolidDesc::Rectangle) {
      for (int side = 0; side < 2; ++side)
        add({g.corner, g.corner + g.u, g.corner + g.u + g.v, g.corner + g.v});
    } else {
      const double r = g.radius;
      area += g.kind == SolidDesc::Sphere ? 4 * zel::kPi * r * r : 2 * zel::kPi * r * r;
      e.roots += 64;
      grow(g.center - Vec3{r, r, r});
      grow(g.center + Vec3{r, r, r});
    }
  };
  for (const OccluderDesc& o : scene.occluders) add_solid(o.solid);
  // Every light's emitting shape is an opening, reckoned as an occluder of
  // its size (a cylinder as its sides and ends); one set flush into a
  // surface counts twice, which the estimate can bear.
  for (const ObjectLightDesc& l : scene.object_lights) add_solid(l.solid);
  for (const LightDesc& l : scene.lights) {
    const Vec3 c = l.position;
    const double r = l.radius;
    switch (l.shape) {
      case Shape::Point:
        break;
      case Shape::Rectangle: {
        const Vec3 u{l.width, 0, 0}, v{0, l.height, 0}, corner = c - (u + v) * 0.5;
        for (int side = 0; side < 2; ++side) add({corner, corner + u, corner + u + v, corner + v});
        break;
      }
      case Shape::Disc:
      case Shape::Sphere:
      case Shape::Cylinder:
        area += l.shape == Shape::Disc     ? 2 * zel::kPi * r * r
                : l.shape == Shape::Sphere ? 4 * zel::kPi * r * r
                                           : zel::k2Pi * r * (l.length + r);
        e.roots += 192;
        grow(c - Vec3{r, r, r});
        grow(c + Vec3{r, r, r});
        break;
    }
  }
  for (const MeshDesc& m : scene.meshes) {
    const MeshData& d = m.mesh;
    for (size_t t = 0; t < d.triangles.size(); ++t) {
      const auto& tri = d.triangles[t];
      add({d.vertices[tri[0]], d.vertices[tri[1]], d.vertices[tri[2]]});
    }
  }
  if (!any) return e;
  const double smallest = kSmallestPiece * least_extent(lo, hi);
  // Every piece at the smallest size is the most the refinement can make;
  // the roots are at least one each.
  e.elements = std::max(e.roots, 4.0 / 3.0 * area / (smallest * smallest));
  e.bytes = e.elements * (kBytesPerElement + kLinksPerElement * kBytesPerLink);
  return e;
}

RadiositySolution solve_radiosity(const Model& model, const RadiosityOptions& options) {
  RadiositySolution s;
  const Scene& scene = model.scene();
  const Interreflection& settings = scene.interreflection;
  s.lumen_per_unit = 1.0 / scene.unit.area_factor();
  s.plane_tolerance = kPlaneFraction * refhost::RayScene().margin() / 1e-5;

  // Refused before anything of that size is built.
  const RadiosityEstimate estimate = estimate_radiosity(scene);
  if (options.max_bytes > 0 && estimate.bytes > double(options.max_bytes)) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "\"interreflection\": the solution may take %.3g GB (up to %.3g pieces of "
                  "surface%s), beyond the memory bound of %.3g GB: raise --max-memory%s",
                  estimate.bytes / 1e9, estimate.elements,
                  settings.patch_size > 0 ? ", by \"patch_size\"" : "",
                  double(options.max_bytes) / 1e9,
                  settings.patch_size > 0 ? " or \"patch_size\"" : ", or cut the scene into rooms");
    throw Error(scene.file + ": " + text);
  }

  std::vector<ReflectingSurface> surfaces = scene_reflectors(model, s.elements);
  std::vector<int> on;
  const size_t reflecting = surfaces.size();
  std::vector<FreeOpening> free_openings;
  add_luminaire_openings(model, surfaces, s.elements, on, s.plane_tolerance, settings.patch_size,
                         free_openings);
  // The rays of the reflected light meet the openings that hang free; the
  // host's own rays, and so the direct light, do not.
  std::vector<refhost::Geometry> shapes;
  for (const FreeOpening& o : free_openings) shapes.push_back(o.shape);
  s.rays = std::make_shared<const refhost::RayScene>(std::move(shapes));
  const refhost::RayScene& traced = *s.rays;
  s.all_objects.resize(traced.size());
  s.object_element.assign(traced.size(), -1);
  for (size_t i = 0; i < traced.size(); ++i) {
    s.all_objects[i] = static_cast<uint32_t>(i);
    for (size_t e = 0; e < s.elements.size(); ++e)
      if (s.elements[e].instance != 0 && s.elements[e].instance == traced.instance(i))
        s.object_element[i] = static_cast<int>(e);
  }
  const size_t world = traced.size() - free_openings.size();
  for (size_t k = 0; k < free_openings.size(); ++k)
    s.object_element[world + k] = free_openings[k].element;
  std::vector<Patch> roots;
  for (size_t f = 0; f < surfaces.size(); ++f) {
    const double size =
        settings.patch_size > 0 ? settings.patch_size : std::numeric_limits<double>::infinity();
    s.faces.push_back(cut_into_patches(surfaces[f], static_cast<int>(f), size, roots));
    for (const Vec3& c : surfaces[f].polygon) s.faces.back().corners.push_back(to_d(c));
  }
  for (size_t k = 0; k < on.size(); ++k)
    s.faces[size_t(on[k])].openings.push_back(static_cast<int>(reflecting + k));
  s.balance.absorbed.assign(s.elements.size(), 0.0);
  s.balance.absorbed_interreflected.assign(s.elements.size(), 0.0);
  if (roots.empty()) return s;

  Vec3 lo, hi;
  bounds(surfaces, lo, hi);
  const double scale = least_extent(lo, hi);
  const double smallest = kSmallestPiece * scale;
  s.hiding = std::make_shared<const Hiding>(make_hiding(scene, s));
  const Hiding& hiding = *s.hiding;
  double total_area = 0;
  for (const Patch& p : roots) total_area += p.area;

  // Direct light, and the pieces of what hides the surfaces.
  auto start = Clock::now();
  std::vector<std::vector<uint64_t>> paths =
      hiding_pieces(s, roots, hiding, smallest, options.threads);
  const std::vector<LightReach> reach =
      light_reaches(model, length(hiding.hi - hiding.lo), options.threads);
  double emitted = 0;
  for (const LightReach& r : reach) emitted += r.flux;
  // The bound of the direct light's refinement: the accuracy of the light
  // a reference piece receives, the lights' flux spread over all surfaces.
  const double reference = kReferencePiece * kReferencePiece * scale * scale;
  const double mean_direct = emitted / total_area;
  DirectSettings direct_settings;
  direct_settings.edge_bound = settings.accuracy * mean_direct * reference;
  direct_settings.flux_bound = kDirectShare * direct_settings.edge_bound;
  direct_settings.skip_flux = kSkipShare * direct_settings.flux_bound;
  direct_settings.smallest = smallest;
  direct_settings.threads = options.threads;
  DirectPieces direct;
  {
    Progress progress("direct light on surfaces", roots.size(), options.progress);
    direct = direct_on_pieces(model, s, roots, hiding, paths, reach, direct_settings, &progress);
  }
  for (size_t r = 0; r < roots.size(); ++r)
    for (const DirectValue& v : direct.of_root[r]) paths[r].push_back(v.path);
  TreeIndex first = build_tree(s, roots, paths, options.threads);
  // Each element's direct light (maintained and new) and open fraction.
  const size_t n1 = s.tree.size();
  std::vector<double> d_m(n1, 0.0), d_n(n1, 0.0);
  for_rows(static_cast<int>(roots.size()), options.threads, [&](int r, refhost::ThreadContext&) {
    for (const DirectValue& v : direct.of_root[size_t(r)]) {
      const int e = first.find(uint32_t(r), v.path);
      d_m[size_t(e)] += v.maintained;
      d_n[size_t(e)] += v.fresh;
    }
  });
  for_root_blocks(s, n1, options.threads, [&](size_t begin, size_t end) {
    for (size_t e = begin; e < end; ++e) {
      const int p = s.tree[e].parent;
      if (p >= 0) {
        d_m[e] += d_m[size_t(p)];
        d_n[e] += d_n[size_t(p)];
      }
    }
  });
  for_rows(static_cast<int>(n1), options.threads, [&](int e, refhost::ThreadContext&) {
    Patch& p = s.tree[size_t(e)].patch;
    if (s.tree[size_t(e)].child < 0) p.open = open_fraction(s, hiding, p);
  });
  open_from_children(s, n1, options.threads);
  s.direct_seconds = seconds_since(start);

  // What each piece is expected to send: its direct light and the mean
  // interreflected light of a closed room of the same surfaces.
  start = Clock::now();
  double direct_flux = 0, reflected = 0, open_area = 0;
  for (size_t e = 0; e < n1; ++e) {
    const Element& el = s.tree[e];
    if (el.child >= 0) continue;
    const double a = el.patch.area * el.patch.open;
    const double rho = s.faces[size_t(el.patch.face)].surface.reflectance;
    direct_flux += d_m[e] * a;
    reflected += rho * a;
    open_area += a;
  }
  const double rho_mean = open_area > 0 ? reflected / open_area : 0;
  const double ambient = open_area > 0 ? direct_flux * rho_mean / (open_area * (1 - rho_mean)) : 0;
  SendEstimate send;
  send.density.assign(n1, 0.0);
  for_root_blocks(s, n1, options.threads, [&](size_t begin, size_t end) {
    for (size_t e = end; e-- > begin;) {
      const Element& el = s.tree[e];
      if (el.child < 0) {
        const double rho = s.faces[size_t(el.patch.face)].surface.reflectance;
        send.density[e] = rho * (d_m[e] + ambient) * el.patch.open;
      } else {
        for (int k = 0; k < 4; ++k) send.density[e] += 0.25 * send.density[size_t(el.child + k)];
      }
    }
  });
  s.clusters = build_clusters(s);
  {
    std::vector<double> root_flux(roots.size());
    for (size_t r = 0; r < roots.size(); ++r)
      root_flux[r] = send.density[size_t(s.roots[r])] * roots[r].area;
    cluster_sums(s, root_flux, send.cluster_flux, send.cluster_glow);
  }
  const double mean_light =
      open_area > 0 ? (direct_flux + ambient * rho_mean * open_area) / open_area : 0;
  RefineSettings refine;
  refine.flux_bound = settings.accuracy * mean_light * reference;
  refine.smallest = smallest;
  refine.threads = options.threads;
  refine.most_links = options.max_bytes > 0 ? size_t(double(options.max_bytes) / kBytesPerLink)
                                            : std::numeric_limits<size_t>::max();
  Refinement refined;
  {
    Progress progress("links between surfaces", 512, options.progress);
    refined = refine_links(s, roots, send, refine, &progress);
  }
  s.estimated_error =
      mean_light > 0 ? std::max(refine.flux_bound, refined.worst) / (mean_light * reference) : 0;

  // The final tree: the first one's pieces and those the links name.
  const std::vector<Element> first_tree = s.tree;
  const std::vector<int> first_roots = s.roots;
  for (size_t r = 0; r < roots.size(); ++r) {
    paths[r].clear();
    for (const auto& [path, e] : first.of_root[r]) paths[r].push_back(path);
  }
  for (const RefinedLink& l : refined.links) {
    if (!l.from.cluster()) paths[l.from.root].push_back(l.from.path);
    if (!l.to.cluster()) paths[l.to.root].push_back(l.to.path);
  }
  const TreeIndex index = build_tree(s, roots, paths, options.threads);
  const size_t n = s.tree.size();
  std::vector<double> direct_m(n, 0.0), direct_n(n, 0.0);
  for_rows(static_cast<int>(roots.size()), options.threads, [&](int r, refhost::ThreadContext&) {
    for (const auto& [path, e] : index.of_root[size_t(r)]) {
      const int h = holding_element(first_tree, first_roots, uint32_t(r), path);
      Element& el = s.tree[size_t(e)];
      if (first.find(uint32_t(r), path) >= 0 || el.child >= 0) {
        el.patch.open = first_tree[size_t(h)].patch.open;
      } else {
        const double open = first_tree[size_t(h)].patch.open;
        el.patch.open = open == 0 || open == 1 ? open : open_fraction(s, hiding, el.patch);
      }
      direct_m[size_t(e)] = d_m[size_t(h)];
      direct_n[size_t(e)] = d_n[size_t(h)];
    }
  });
  open_from_children(s, n, options.threads);
  for (Cluster& c : s.clusters) {
    c.area = 0;
    c.facing = {};
  }
  std::vector<double> area_open(n + s.clusters.size(), 0.0);
  for (size_t e = 0; e < n; ++e) area_open[e] = s.tree[e].patch.area * s.tree[e].patch.open;
  for (size_t c = s.clusters.size(); c-- > 0;) {
    Cluster& k = s.clusters[c];
    for (int h = 0; h < 2; ++h) {
      if (h == 1 && k.child[1] == k.child[0]) break;
      if (k.child[h] >= 0) {
        const Cluster& child = s.clusters[size_t(k.child[h])];
        k.area += child.area;
        k.facing = k.facing + child.facing * child.area;
      } else {
        const int root = s.roots[size_t(-1 - k.child[h])];
        k.area += area_open[size_t(root)];
        k.facing = k.facing + s.tree[size_t(root)].patch.normal * area_open[size_t(root)];
      }
    }
    if (k.area > 0) k.facing = k.facing * (1 / k.area);
    area_open[n + c] = k.area;
  }
  // Links by node index, grouped by receiver in a fixed order.
  std::vector<Link> links(refined.links.size());
  const auto node_of = [&](const NodeRef& r) {
    return r.cluster() ? uint32_t(n + r.path) : uint32_t(index.find(r.root, r.path));
  };
  for_rows(static_cast<int>((links.size() + kChunk - 1) / kChunk), options.threads,
           [&](int chunk, refhost::ThreadContext&) {
             const size_t end = std::min(links.size(), size_t(chunk + 1) * kChunk);
             for (size_t k = size_t(chunk) * kChunk; k < end; ++k)
               links[k] = {node_of(refined.links[k].from), node_of(refined.links[k].to),
                           refined.links[k].factor};
           });
  Refinement().links.swap(refined.links);
  std::stable_sort(links.begin(), links.end(),
                   [](const Link& a, const Link& b) { return a.to < b.to; });
  s.links = links.size();
  s.form_factor_seconds = seconds_since(start);

  // The patches: the leaves, root by root.
  start = Clock::now();
  std::vector<size_t> first_leaf(roots.size() + 1, 0);
  for_rows(static_cast<int>(roots.size()), options.threads, [&](int r, refhost::ThreadContext&) {
    size_t leaves = 0;
    for (const auto& [path, e] : index.of_root[size_t(r)])
      leaves += s.tree[size_t(e)].child < 0 ? 1 : 0;
    first_leaf[size_t(r) + 1] = leaves;
  });
  for (size_t r = 0; r < roots.size(); ++r) first_leaf[r + 1] += first_leaf[r];
  const size_t np = first_leaf.back();
  s.leaf_of.assign(n, -1);
  s.patches.resize(np);
  s.patch_element.resize(np);
  for_rows(static_cast<int>(roots.size()), options.threads, [&](int r, refhost::ThreadContext&) {
    size_t k = first_leaf[size_t(r)];
    for (const auto& [path, e] : index.of_root[size_t(r)])
      if (s.tree[size_t(e)].child < 0) {
        s.leaf_of[size_t(e)] = static_cast<int>(k);
        s.patches[k] = s.tree[size_t(e)].patch;
        s.patch_element[k++] = e;
      }
  });
  s.smallest = std::numeric_limits<double>::infinity();
  s.largest = 0;
  for (size_t k = 0; k < np; ++k) {
    const double size = s.tree[size_t(s.patch_element[k])].size;
    s.smallest = std::min(s.smallest, size);
    s.largest = std::max(s.largest, size);
  }

  // What each patch's links pass on, and what truly leaves it: the links
  // of a patch and of its ancestors and clusters add up to about what
  // leaves it, each exact to its quadrature; scaled to the rays' count,
  // no light is made or lost between surfaces.
  const Nodes nodes = node_children(s, area_open, options.threads);
  std::vector<double> sends(nodes.count, 0.0);
  for (const Link& l : links) sends[l.from] += l.factor;
  // Each node has one parent, so the parents are written independently.
  std::vector<int> up(nodes.count, -1);
  for_rows(static_cast<int>((nodes.count + kChunk - 1) / kChunk), options.threads,
           [&](int chunk, refhost::ThreadContext&) {
             const size_t end = std::min(nodes.count, size_t(chunk + 1) * kChunk);
             for (size_t i = size_t(chunk) * kChunk; i < end; ++i)
               for (int k = 0; k < nodes.child_count[i]; ++k)
                 up[size_t(nodes.kids[size_t(nodes.first[i] + k)])] = static_cast<int>(i);
           });
  const Landing land = landing(model, s);
  std::vector<double> scale_out(np, 0.0), passed(np, 0.0);
  for_rows(static_cast<int>((np + kChunk - 1) / kChunk), options.threads,
           [&](int chunk, refhost::ThreadContext&) {
             const size_t end = std::min(np, size_t(chunk + 1) * kChunk);
             for (size_t k = size_t(chunk) * kChunk; k < end; ++k) {
               double total = 0;
               for (int i = s.patch_element[k]; i >= 0; i = up[size_t(i)])
                 total += sends[size_t(i)];
               if (!(s.patches[k].open > 0) || !(total > 0)) continue;
               const double landed = landed_fraction(s, land, hiding, s.patches[k]);
               scale_out[k] = landed / total;
               passed[k] = landed;
             }
           });

  // The iteration: each round passes on what the last one brought.
  std::vector<double> rho(np), area(np), received(np, 0.0), fresh(np), S(nodes.count),
      R(nodes.count);
  double direct_total = 0, direct_new = 0;
  s.direct.assign(np, 0.0);
  for (size_t k = 0; k < np; ++k) {
    const int e = s.patch_element[k];
    rho[k] = s.faces[size_t(s.patches[k].face)].surface.reflectance;
    area[k] = area_open[size_t(e)];
    s.direct[k] = direct_m[size_t(e)];
    fresh[k] = s.direct[k] * area[k];
    direct_total += fresh[k];
    direct_new += direct_n[size_t(e)] * area[k];
  }
  s.new_over_maintained = direct_total > 0 ? direct_new / direct_total : 1.0;
  double lost = 0, left = 0;
  for (size_t k = 0; k < np; ++k) left += rho[k] * fresh[k];
  s.sweeps = 0;
  const int chunks = static_cast<int>((links.size() + kChunk - 1) / kChunk);
  std::vector<size_t> group(size_t(chunks) + 1, links.size());
  // Chunks of links that begin at a receiver's first link, so that each
  // receiver's sum is made by one worker in link order.
  for (int c = 0; c < chunks; ++c) {
    size_t at = size_t(c) * kChunk;
    while (at > 0 && at < links.size() && links[at].to == links[at - 1].to) ++at;
    group[size_t(c)] = std::min(at, links.size());
  }
  Progress progress("interreflection rounds", uint64_t(kExpectedRounds), options.progress);
  while (left > settings.residual * direct_total && left > 0) {
    if (s.sweeps == kMostRounds) break;
    std::fill(S.begin(), S.end(), 0.0);
    std::fill(R.begin(), R.end(), 0.0);
    for (size_t k = 0; k < np; ++k) {
      const double out = rho[k] * fresh[k];
      S[size_t(s.patch_element[k])] = out * scale_out[k];
      lost += out * (1 - passed[k]);
    }
    pull(s, nodes, S, options.threads);
    for_rows(chunks, options.threads, [&](int c, refhost::ThreadContext&) {
      size_t k = group[size_t(c)];
      const size_t end = group[size_t(c) + 1];
      while (k < end) {
        const uint32_t to = links[k].to;
        double sum = 0;
        for (; k < links.size() && links[k].to == to; ++k)
          sum += links[k].factor * S[links[k].from];
        R[to] = sum;
      }
    });
    hand_down(s, nodes, R, options.threads);
    left = 0;
    for (size_t k = 0; k < np; ++k) {
      fresh[k] = R[size_t(s.patch_element[k])];
      received[k] += fresh[k];
      left += rho[k] * fresh[k];
    }
    ++s.sweeps;
    progress.add(1);
  }
  s.converged = !(left > settings.residual * direct_total && left > 0);

  FluxBalance& b = s.balance;
  b.direct = direct_total * s.lumen_per_unit;
  b.unshot = left * s.lumen_per_unit;
  b.reflected_lost = lost * s.lumen_per_unit;
  s.indirect.assign(np, 0.0);
  s.exitance.assign(np, 0.0);
  std::vector<double> flux(nodes.count, 0.0);
  for (size_t k = 0; k < np; ++k) {
    const Patch& p = s.patches[k];
    const ReflectingSurface& f = s.faces[size_t(p.face)].surface;
    s.indirect[k] = area[k] > 0 ? received[k] / area[k] : 0;
    s.exitance[k] = rho[k] * (s.direct[k] + s.indirect[k]);
    b.absorbed[size_t(f.element)] +=
        (1 - rho[k]) * (s.direct[k] * area[k] + received[k]) * s.lumen_per_unit;
    b.absorbed_interreflected[size_t(f.element)] += (1 - rho[k]) * received[k] * s.lumen_per_unit;
    s.elements[size_t(f.element)].area += area[k];
    flux[size_t(s.patch_element[k])] = s.exitance[k] * area[k];
  }
  pull(s, nodes, flux, options.threads);
  s.node_exitance.assign(n, 0.0);
  for (size_t e = 0; e < n; ++e)
    s.node_exitance[e] = s.tree[e].patch.area > 0 ? flux[e] / s.tree[e].patch.area : 0;
  {
    std::vector<double> root_flux(s.roots.size());
    for (size_t r = 0; r < s.roots.size(); ++r) root_flux[r] = flux[size_t(s.roots[r])];
    cluster_sums(s, root_flux, s.cluster_flux, s.cluster_glow);
  }
  s.solve_seconds = seconds_since(start);
  return s;
}

}  // namespace lux
