// A polygon with holes cut into convex pieces, for the surfaces that must
// be traced and cut into patches only over their outline.
#include <algorithm>
#include <cmath>

#include "tools/lux/scene/polygon.h"

namespace lux {

namespace {

// Lines of constant t closer than this fraction of the polygon's size are
// one line: corners meant to be level may differ by rounding.
constexpr double kSameLevel = 1e-9;

// An edge that is not level, from its lower end to its upper one.
struct Edge {
  std::array<double, 2> low, high;
  double s_at(double t) const {
    const double f = (t - low[1]) / (high[1] - low[1]);
    return low[0] + (high[0] - low[0]) * std::clamp(f, 0.0, 1.0);
  }
};

// A piece being grown strip by strip: between two edges, from t0 up.
struct Open {
  size_t left, right;
  double t0;
};

// The trapezoid between two edges from t0 to t1, corners counter-clockwise,
// a corner shared by both edges given once.
Ring trapezoid(const Edge& left, const Edge& right, double t0, double t1, double tolerance) {
  const Ring corners{
      {left.s_at(t0), t0}, {right.s_at(t0), t0}, {right.s_at(t1), t1}, {left.s_at(t1), t1}};
  Ring out;
  for (const auto& c : corners)
    if (out.empty() || std::fabs(c[0] - out.back()[0]) > tolerance || c[1] != out.back()[1])
      out.push_back(c);
  if (out.size() > 1 && std::fabs(out.front()[0] - out.back()[0]) <= tolerance &&
      out.front()[1] == out.back()[1])
    out.pop_back();
  return out;
}

}  // namespace

std::vector<Ring> convex_pieces(const std::vector<Ring>& rings) {
  std::vector<Edge> edges;
  std::vector<double> levels;
  double size = 0;
  for (const Ring& ring : rings)
    for (const auto& p : ring) size = std::max({size, std::fabs(p[0]), std::fabs(p[1])});
  const double tolerance = kSameLevel * std::max(size, 1e-30);
  for (const Ring& ring : rings)
    for (size_t i = 0; i < ring.size(); ++i) {
      const auto& a = ring[i];
      const auto& b = ring[(i + 1) % ring.size()];
      levels.push_back(a[1]);
      if (std::fabs(a[1] - b[1]) <= tolerance) continue;
      edges.push_back(a[1] < b[1] ? Edge{a, b} : Edge{b, a});
    }
  std::sort(levels.begin(), levels.end());
  std::vector<double> lines;
  for (double t : levels)
    if (lines.empty() || t - lines.back() > tolerance) lines.push_back(t);

  std::vector<Ring> pieces;
  std::vector<Open> open;
  for (size_t k = 0; k + 1 < lines.size(); ++k) {
    const double t0 = lines[k], t1 = lines[k + 1], mid = 0.5 * (t0 + t1);
    // The edges that span this strip, left to right: by the crossing rule
    // the inside lies between the first and second, third and fourth, ...
    std::vector<size_t> across;
    for (size_t e = 0; e < edges.size(); ++e)
      if (edges[e].low[1] < mid && edges[e].high[1] > mid) across.push_back(e);
    std::sort(across.begin(), across.end(),
              [&](size_t a, size_t b) { return edges[a].s_at(mid) < edges[b].s_at(mid); });
    std::vector<Open> next;
    for (size_t i = 0; i + 1 < across.size(); i += 2) {
      const size_t l = across[i], r = across[i + 1];
      const auto same = std::find_if(open.begin(), open.end(),
                                     [&](const Open& o) { return o.left == l && o.right == r; });
      next.push_back({l, r, same != open.end() ? same->t0 : t0});
      if (same != open.end()) open.erase(same);
    }
    for (const Open& o : open)
      pieces.push_back(trapezoid(edges[o.left], edges[o.right], o.t0, t0, tolerance));
    open = std::move(next);
  }
  for (const Open& o : open)
    pieces.push_back(trapezoid(edges[o.left], edges[o.right], o.t0, lines.back(), tolerance));
  return pieces;
}

std::vector<std::vector<Vec3>> convex_pieces(const std::vector<Ring>& rings, Vec3 corner, Vec3 u,
                                             Vec3 v) {
  const Vec3 du = normalize(u), dv = normalize(v);
  std::vector<std::vector<Vec3>> out;
  for (const Ring& piece : convex_pieces(rings)) {
    std::vector<Vec3> placed;
    for (const auto& p : piece) placed.push_back(corner + du * p[0] + dv * p[1]);
    out.push_back(std::move(placed));
  }
  return out;
}

}  // namespace lux
