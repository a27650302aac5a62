// A polygon with holes cut into convex pieces, for the surfaces that must
// be traced and cut into patches only over their outline.
#include <algorithm>
#include <cmath>

#include "tools/lux/scene/polygon.h"
#include "tools/lux/scene/polygon_sweep.h"

namespace lux {

namespace {

// Lines of constant t closer than this fraction of the polygon's size are
// one line: corners meant to be level may differ by rounding.
constexpr double kSameLevel = 1e-9;

// The trapezoid between two edges from t0 to t1, corners counter-clockwise,
// a corner shared by both edges given once.
Ring trapezoid(const SweepEdge& left, const SweepEdge& right, double t0, double t1,
               double tolerance) {
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
  double size = 0;
  for (const Ring& ring : rings)
    for (const auto& p : ring) size = std::max({size, std::fabs(p[0]), std::fabs(p[1])});
  const double tolerance = kSameLevel * std::max(size, 1e-30);
  const SweepPlan plan = plan_sweep(rings, tolerance);
  const auto& edges = plan.edges;

  // Across each strip the area lies between an edge that bounds it on the
  // left and the next edge. A piece grows strip by strip between the same
  // two edges, and ends where either ends or another comes between them;
  // only the edges beside those that start or end at a line can change
  // their piece there.
  struct Open {
    size_t right = ActiveEdges::npos;
    double t0 = 0;
  };
  std::vector<Open> open(edges.size());  // by the left edge
  std::vector<Ring> pieces;
  // Pieces that end at one line, by the place of their left edge, so that
  // they come out left to right.
  std::vector<std::pair<double, Ring>> ended;
  const auto close = [&](size_t left, double t1, double s_order) {
    Open& o = open[left];
    if (o.right == ActiveEdges::npos) return;
    ended.push_back({s_order, trapezoid(edges[left], edges[o.right], o.t0, t1, tolerance)});
    o.right = ActiveEdges::npos;
  };
  const auto flush = [&] {
    std::stable_sort(ended.begin(), ended.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& e : ended) pieces.push_back(std::move(e.second));
    ended.clear();
  };
  ActiveEdges active(plan);
  std::vector<size_t> touched;
  for (size_t k = 0; k < plan.starts.size(); ++k) {
    const double line = plan.lines[k];
    const double below = k > 0 ? plan.middle(k - 1) : line;
    touched.clear();
    if (k > 0)
      for (size_t e : plan.ends[k - 1]) {
        for (size_t n : {active.before(e), active.after(e)})
          if (n != ActiveEdges::npos) touched.push_back(n);
        if (edges[e].bounds_left) close(e, line, edges[e].s_at(below));
        active.remove(e);
      }
    active.enter(k);
    for (size_t e : plan.starts[k]) {
      active.add(e);
      touched.push_back(e);
      if (const size_t b = active.before(e); b != ActiveEdges::npos) touched.push_back(b);
    }
    for (size_t e : touched) {
      if (!active.active(e) || !edges[e].bounds_left) continue;
      const size_t right = active.after(e);
      if (open[e].right == right) continue;
      close(e, line, edges[e].s_at(below));
      if (right != ActiveEdges::npos && !edges[right].bounds_left) open[e] = {right, line};
    }
    flush();
  }
  for (size_t e : active.in_order()) close(e, plan.lines.back(), 0);
  flush();
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
