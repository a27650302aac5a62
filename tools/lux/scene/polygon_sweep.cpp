#include "tools/lux/scene/polygon_sweep.h"

#include <algorithm>
#include <cmath>

namespace lux {

double SweepEdge::s_at(double t) const {
  const double f = (t - low[1]) / (high[1] - low[1]);
  return low[0] + (high[0] - low[0]) * std::clamp(f, 0.0, 1.0);
}

namespace {

// Twice the signed area of a ring: positive when it turns counter-clockwise.
double turning(const Ring& ring) {
  double sum = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const auto& a = ring[i];
    const auto& b = ring[(i + 1) % ring.size()];
    sum += a[0] * b[1] - b[0] * a[1];
  }
  return sum;
}

}  // namespace

SweepPlan plan_sweep(const std::vector<Ring>& rings, double tolerance) {
  SweepPlan plan;
  std::vector<double> levels;
  for (const Ring& ring : rings)
    for (const auto& p : ring) levels.push_back(p[1]);
  std::sort(levels.begin(), levels.end());
  for (double t : levels)
    if (plan.lines.empty() || t - plan.lines.back() > tolerance) plan.lines.push_back(t);
  const size_t strips = plan.lines.empty() ? 0 : plan.lines.size() - 1;
  plan.starts.resize(strips);
  plan.ends.resize(strips);
  plan.level.resize(plan.lines.size());
  std::vector<double> middles(strips);
  for (size_t k = 0; k < strips; ++k) middles[k] = plan.middle(k);
  // The line a level lies on: the nearest one.
  const auto line_of = [&](double t) {
    const auto at = std::lower_bound(plan.lines.begin(), plan.lines.end(), t);
    size_t k = size_t(at - plan.lines.begin());
    if (k == plan.lines.size() || (k > 0 && t - plan.lines[k - 1] < plan.lines[k] - t)) --k;
    return k;
  };

  for (size_t r = 0; r < rings.size(); ++r) {
    const Ring& ring = rings[r];
    // Walking a ring that turns counter-clockwise, its inside lies on the
    // left; the area is inside the outline and outside the holes.
    const bool area_on_left = (r == 0) == (turning(ring) > 0);
    for (size_t i = 0; i < ring.size(); ++i) {
      const auto& a = ring[i];
      const auto& b = ring[(i + 1) % ring.size()];
      if (std::fabs(a[1] - b[1]) <= tolerance) {
        plan.level[line_of(a[1])].push_back({std::min(a[0], b[0]), std::max(a[0], b[0]), r, i});
        continue;
      }
      const bool up = a[1] < b[1];
      SweepEdge e;
      e.low = up ? a : b;
      e.high = up ? b : a;
      e.ring = r;
      e.from = i;
      // Going up with the area on the left, the area lies at smaller s.
      e.bounds_left = up != area_on_left;
      // The strips whose middles it spans.
      const size_t first =
          size_t(std::upper_bound(middles.begin(), middles.end(), e.low[1]) - middles.begin());
      const size_t past =
          size_t(std::lower_bound(middles.begin(), middles.end(), e.high[1]) - middles.begin());
      if (first >= past) continue;
      plan.starts[first].push_back(plan.edges.size());
      plan.ends[past - 1].push_back(plan.edges.size());
      plan.edges.push_back(e);
    }
  }
  return plan;
}

bool ActiveEdges::Order::operator()(size_t a, size_t b) const {
  const double sa = plan->edges[a].s_at(*t), sb = plan->edges[b].s_at(*t);
  return sa != sb ? sa < sb : a < b;
}

ActiveEdges::ActiveEdges(const SweepPlan& plan)
    : plan_(&plan), order_(Order{&plan, &t_}), at_(plan.edges.size(), order_.end()) {}

void ActiveEdges::add(size_t edge) { at_[edge] = order_.insert(edge).first; }

void ActiveEdges::remove(size_t edge) {
  order_.erase(at_[edge]);
  at_[edge] = order_.end();
}

size_t ActiveEdges::before(size_t edge) const {
  const auto it = at_[edge];
  return it == order_.begin() ? npos : *std::prev(it);
}

size_t ActiveEdges::after(size_t edge) const {
  const auto it = std::next(at_[edge]);
  return it == order_.end() ? npos : *it;
}

size_t ActiveEdges::first_from(double t, double s) const {
  const auto it = order_.lower_bound(Probe{t, s});
  return it == order_.end() ? npos : *it;
}

}  // namespace lux
