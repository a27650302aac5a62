// Polygon geometry for calculation areas, in the polygon's own plane.
#include "tools/lux/scene/polygon.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>
#include <string>

#include "tools/lux/scene/polygon_sweep.h"

namespace lux {

namespace {

// Corners off the plane by more than this fraction of the polygon's size
// make it not flat: far above the rounding of coordinates written in a
// scene file, far below any slope a room could have.
constexpr double kFlatness = 1e-6;

using Point2 = std::array<double, 2>;

// Twice the signed area of the triangle a, b, c.
double orient(const Point2& a, const Point2& b, const Point2& c) {
  return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

bool within_box(const Point2& a, const Point2& b, const Point2& p) {
  return std::min(a[0], b[0]) <= p[0] && p[0] <= std::max(a[0], b[0]) &&
         std::min(a[1], b[1]) <= p[1] && p[1] <= std::max(a[1], b[1]);
}

// Whether the segments p1–p2 and q1–q2 cross or touch; `eps` is the area
// below which three points count as in line.
bool segments_meet(const Point2& p1, const Point2& p2, const Point2& q1, const Point2& q2,
                   double eps) {
  const double d1 = orient(q1, q2, p1), d2 = orient(q1, q2, p2);
  const double d3 = orient(p1, p2, q1), d4 = orient(p1, p2, q2);
  const auto side = [eps](double d) { return d > eps ? 1 : (d < -eps ? -1 : 0); };
  const int s1 = side(d1), s2 = side(d2), s3 = side(d3), s4 = side(d4);
  if (s1 * s2 < 0 && s3 * s4 < 0) return true;
  return (s1 == 0 && within_box(q1, q2, p1)) || (s2 == 0 && within_box(q1, q2, p2)) ||
         (s3 == 0 && within_box(p1, p2, q1)) || (s4 == 0 && within_box(p1, p2, q2));
}

// Crossing-number test of one ring.
bool inside_ring(const Ring& ring, double s, double t) {
  bool in = false;
  for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const auto& a = ring[i];
    const auto& b = ring[j];
    if ((a[1] > t) != (b[1] > t) && s < (b[0] - a[0]) * (t - a[1]) / (b[1] - a[1]) + a[0]) in = !in;
  }
  return in;
}

// The normal of a ring by Newell's method: its length is twice the area.
Vec3 newell(const std::vector<Vec3>& ring) {
  Vec3 n{};
  for (size_t i = 0; i < ring.size(); ++i) {
    const Vec3& a = ring[i];
    const Vec3& b = ring[(i + 1) % ring.size()];
    n = n + Vec3{(a.y - b.y) * (a.z + b.z), (a.z - b.z) * (a.x + b.x), (a.x - b.x) * (a.y + b.y)};
  }
  return n;
}

void refuse(const std::string& why) { throw std::invalid_argument(why); }

// Levels of corners closer than this fraction of the polygon's size are one
// line of the sweep.
constexpr double kSweepLevel = 1e-12;

// Refuses rings whose edges cross or touch (but for neighbours in one ring
// at their shared corner), a hole outside the outline and a hole inside
// another: one sweep over the rings' levels (polygon_sweep.h). Edges that
// meet are next to each other in the sweep's order just below where they
// first meet, so each edge is tested only against its neighbours whenever
// they change, and level edges against the edges that reach their line:
// n log n for n corners, where testing every pair costs n².
void check_rings(const std::vector<Ring>& rings, double size) {
  const double eps = 1e-12 * size * size;
  const SweepPlan plan = plan_sweep(rings, kSweepLevel * size);
  const auto& edges = plan.edges;
  const auto ends = [&](size_t ring, size_t from) {
    const Ring& r = rings[ring];
    return std::pair<const Point2&, const Point2&>{r[from], r[(from + 1) % r.size()]};
  };
  const auto neighbours = [&](size_t ra, size_t ia, size_t rb, size_t ib) {
    const size_t n = rings[ra].size();
    return ra == rb && (ib == (ia + 1) % n || ia == (ib + 1) % n);
  };
  const auto test = [&](size_t ra, size_t ia, size_t rb, size_t ib) {
    if ((ra == rb && ia == ib) || neighbours(ra, ia, rb, ib)) return;
    const auto [p1, p2] = ends(ra, ia);
    const auto [q1, q2] = ends(rb, ib);
    if (segments_meet(p1, p2, q1, q2, eps))
      refuse(ra == 0 && rb == 0 ? "the outline crosses itself"
                                : "edges of the outline or its holes cross or touch");
  };
  const auto test_edges = [&](size_t a, size_t b) {
    if (a != ActiveEdges::npos && b != ActiveEdges::npos)
      test(edges[a].ring, edges[a].from, edges[b].ring, edges[b].from);
  };
  ActiveEdges active(plan);
  // Level edges on line k against each other and against the edges that
  // reach the line from the strip now current.
  const auto test_level = [&](size_t k) {
    auto level = plan.level[k];
    std::sort(level.begin(), level.end(),
              [](const LevelEdge& a, const LevelEdge& b) { return a.s0 < b.s0; });
    const double reach_s = 1e-9 * size;
    for (size_t i = 0; i < level.size(); ++i) {
      const LevelEdge& l = level[i];
      for (size_t j = i + 1; j < level.size() && level[j].s0 <= l.s1 + reach_s; ++j)
        test(l.ring, l.from, level[j].ring, level[j].from);
      for (size_t e = active.first_from(plan.lines[k], l.s0 - reach_s);
           e != ActiveEdges::npos && edges[e].s_at(plan.lines[k]) <= l.s1 + reach_s;
           e = active.after(e))
        test(l.ring, l.from, edges[e].ring, edges[e].from);
    }
  };
  // Each hole's lowest line, where its place among the other rings is read.
  std::vector<std::vector<size_t>> holes_at(plan.lines.size());
  for (size_t h = 1; h < rings.size(); ++h) {
    double low = rings[h][0][1];
    for (const auto& p : rings[h]) low = std::min(low, p[1]);
    const auto at = std::upper_bound(plan.lines.begin(), plan.lines.end(), low);
    holes_at[at == plan.lines.begin() ? 0 : size_t(at - plan.lines.begin()) - 1].push_back(h);
  }
  std::vector<bool> placed(rings.size(), false);
  for (size_t k = 0; k < plan.starts.size(); ++k) {
    if (k > 0) {
      test_level(k);
      for (size_t e : plan.ends[k - 1]) {
        const size_t before = active.before(e), after = active.after(e);
        active.remove(e);
        test_edges(before, after);
      }
    }
    active.enter(k);
    for (size_t e : plan.starts[k]) {
      active.add(e);
      test_edges(e, active.before(e));
      test_edges(e, active.after(e));
    }
    test_level(k);
    // A hole's lowest corner lies just right of the first edge of another
    // ring before the hole's own edges: the area lies there when that edge
    // bounds the area on its right, else it lies outside the outline or in
    // that edge's hole.
    for (size_t h : holes_at[k]) {
      size_t first = ActiveEdges::npos;
      for (size_t e : plan.starts[k])
        if (edges[e].ring == h) first = e;
      if (first == ActiveEdges::npos) continue;
      size_t left = active.before(first);
      while (left != ActiveEdges::npos && edges[left].ring == h) left = active.before(left);
      placed[h] = true;
      if (left == ActiveEdges::npos || (edges[left].ring == 0 && !edges[left].bounds_left))
        refuse("hole " + std::to_string(h) + " lies outside the outline");
      if (!edges[left].bounds_left)
        refuse("hole " + std::to_string(h) + " lies inside hole " +
               std::to_string(edges[left].ring));
    }
  }
  if (!plan.lines.empty()) test_level(plan.lines.size() - 1);
  // A hole with no height has no edge in the sweep: its first corner is
  // tested against the other rings one by one.
  for (size_t h = 1; h < rings.size(); ++h) {
    if (placed[h]) continue;
    const Point2& p = rings[h][0];
    if (!inside_ring(rings[0], p[0], p[1]))
      refuse("hole " + std::to_string(h) + " lies outside the outline");
    for (size_t k = 1; k < rings.size(); ++k)
      if (k != h && inside_ring(rings[k], p[0], p[1]))
        refuse("hole " + std::to_string(h) + " lies inside hole " + std::to_string(k));
  }
}

}  // namespace

bool inside(const std::vector<Ring>& rings, double s, double t) {
  if (rings.empty() || !inside_ring(rings[0], s, t)) return false;
  for (size_t h = 1; h < rings.size(); ++h)
    if (inside_ring(rings[h], s, t)) return false;
  return true;
}

PolygonArea polygon_area(const std::vector<Vec3>& outline,
                         const std::vector<std::vector<Vec3>>& holes) {
  std::vector<const std::vector<Vec3>*> rings{&outline};
  for (const auto& h : holes) rings.push_back(&h);
  for (size_t r = 0; r < rings.size(); ++r)
    if (rings[r]->size() < 3)
      refuse((r == 0 ? std::string("the outline") : "hole " + std::to_string(r)) +
             " has fewer than three corners");

  PolygonArea a;
  const Vec3 n = newell(outline);
  if (!(length(n) > 0)) refuse("the outline encloses no area");
  a.normal = normalize(n);
  Vec3 centre{};
  for (const Vec3& p : outline) centre = centre + p * (1.0 / double(outline.size()));
  double size = 0;
  for (const auto* ring : rings)
    for (const Vec3& p : *ring) size = std::max(size, length(p - centre));
  for (size_t r = 0; r < rings.size(); ++r)
    for (size_t i = 0; i < rings[r]->size(); ++i)
      if (std::fabs(dot((*rings[r])[i] - centre, a.normal)) > kFlatness * size)
        refuse("not flat: corner " + std::to_string(i + 1) +
               (r == 0 ? std::string(" of the outline") : " of hole " + std::to_string(r)) +
               " lies off the plane of the outline");

  // Axes in the plane: u along the outline's first edge of any length.
  Vec3 u{};
  for (size_t i = 0; i < outline.size() && !(length(u) > 0); ++i) {
    const Vec3 e = outline[(i + 1) % outline.size()] - outline[i];
    u = normalize(e - a.normal * dot(e, a.normal));
  }
  const Vec3 v = cross(a.normal, u);
  double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
  for (const auto* ring : rings) {
    Ring flat;
    for (const Vec3& p : *ring) {
      const Point2 q{dot(p - centre, u), dot(p - centre, v)};
      for (int k = 0; k < 2; ++k) {
        lo[k] = std::min(lo[k], q[size_t(k)]);
        hi[k] = std::max(hi[k], q[size_t(k)]);
      }
      flat.push_back(q);
    }
    a.rings.push_back(flat);
  }
  for (auto& ring : a.rings)
    for (auto& q : ring) q = {q[0] - lo[0], q[1] - lo[1]};
  a.corner = centre + u * lo[0] + v * lo[1];
  a.u = u * (hi[0] - lo[0]);
  a.v = v * (hi[1] - lo[1]);

  for (size_t r = 0; r < a.rings.size(); ++r)
    for (size_t i = 0; i < a.rings[r].size(); ++i)
      if (a.rings[r][i] == a.rings[r][(i + 1) % a.rings[r].size()])
        refuse("two corners in a row are the same point");
  check_rings(a.rings, size);
  return a;
}

RowScanner::RowScanner(const std::vector<Ring>& rings) {
  for (const Ring& ring : rings)
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
      if (ring[i][1] != ring[j][1]) edges_.push_back({ring[i], ring[j]});
  std::sort(edges_.begin(), edges_.end(), [](const auto& x, const auto& y) {
    return std::min(x[0][1], x[1][1]) < std::min(y[0][1], y[1][1]);
  });
}

const std::vector<double>& RowScanner::crossings(double t) {
  // The same crossing rule as inside(): an edge crosses the line when one
  // end lies above it and the other not.
  for (; next_ < edges_.size() && std::min(edges_[next_][0][1], edges_[next_][1][1]) <= t; ++next_)
    active_.push_back(next_);
  std::erase_if(active_, [&](size_t e) { return std::max(edges_[e][0][1], edges_[e][1][1]) <= t; });
  at_.clear();
  for (size_t e : active_) {
    const auto& a = edges_[e][0];
    const auto& b = edges_[e][1];
    at_.push_back((b[0] - a[0]) * (t - a[1]) / (b[1] - a[1]) + a[0]);
  }
  std::sort(at_.begin(), at_.end());
  return at_;
}

std::vector<double> filled_outside(int nu, int nv, const std::vector<unsigned char>& inside,
                                   std::vector<double> values) {
  if (inside.empty()) return values;
  // Breadth-first from every inside point at once: each outside point takes
  // the value of the point that reached it first.
  std::vector<unsigned char> done(inside);
  std::deque<size_t> queue;
  for (size_t p = 0; p < inside.size(); ++p)
    if (inside[p] != 0) queue.push_back(p);
  while (!queue.empty()) {
    const size_t p = queue.front();
    queue.pop_front();
    const int i = int(p % size_t(nu)), j = int(p / size_t(nu));
    const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const auto& st : steps) {
      const int a = i + st[0], b = j + st[1];
      if (a < 0 || b < 0 || a >= nu || b >= nv) continue;
      const size_t q = size_t(b) * size_t(nu) + size_t(a);
      if (done[q] != 0) continue;
      done[q] = 1;
      values[q] = values[p];
      queue.push_back(q);
    }
  }
  return values;
}

}  // namespace lux
