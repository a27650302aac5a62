// A sweep over the rings of a polygon in its own plane, from its lowest
// level of t to its highest, shared by the polygon's checks and its cutting
// into convex pieces. The levels of the corners cut the plane into strips;
// within a strip no edge starts or ends, so the edges that cross it keep one
// order along s (when none cross each other), and that order changes only
// where edges start and end. Kept in a balanced tree, it costs n log n for
// n corners, whatever the polygon's shape.
#pragma once

#include <array>
#include <cstddef>
#include <set>
#include <vector>

#include "tools/lux/scene/polygon.h"

namespace lux {

// An edge of a ring that is not level, from its lower end to its upper one.
struct SweepEdge {
  std::array<double, 2> low{}, high{};
  size_t ring = 0;
  size_t from = 0;           // the corner of its ring the edge leaves, in ring order
  bool bounds_left = false;  // the polygon's area lies on its side of greater s
  double s_at(double t) const;
};

// A level edge: one that runs along a line of constant t.
struct LevelEdge {
  double s0 = 0, s1 = 0;  // s0 <= s1
  size_t ring = 0, from = 0;
};

// The strips and when each edge enters and leaves them.
struct SweepPlan {
  std::vector<double> lines;  // the distinct levels of the corners, lowest first
  std::vector<SweepEdge> edges;
  // Per strip k (between lines[k] and lines[k + 1]): the edges that cross
  // it first there, and those that cross it last there.
  std::vector<std::vector<size_t>> starts, ends;
  // Per line: the level edges that lie on it.
  std::vector<std::vector<LevelEdge>> level;
  double middle(size_t strip) const { return 0.5 * (lines[strip] + lines[strip + 1]); }
};

// Levels closer than `tolerance` are one line; an edge that rises by no
// more is level. Each ring's edges know on which side the area lies from
// the ring's turning: the outline's area lies inside it, a hole's outside.
SweepPlan plan_sweep(const std::vector<Ring>& rings, double tolerance);

// The edges that cross the current strip, in order of s at its middle.
class ActiveEdges {
 public:
  static constexpr size_t npos = ~size_t(0);
  explicit ActiveEdges(const SweepPlan& plan);
  // Makes strip k the current one; edges added then take their place in
  // its order (which the edges already there keep, as none cross).
  void enter(size_t strip) { t_ = plan_->middle(strip); }
  void add(size_t edge);
  void remove(size_t edge);
  bool active(size_t edge) const { return at_[edge] != order_.end(); }
  // The edges either side of an active edge, or npos.
  size_t before(size_t edge) const;
  size_t after(size_t edge) const;
  // The first active edge whose s at the line `t` is not below `s`, or npos.
  size_t first_from(double t, double s) const;
  // The active edges in order.
  std::vector<size_t> in_order() const { return {order_.begin(), order_.end()}; }

 private:
  // A place on a line, for looking edges up by where they cross it.
  struct Probe {
    double t, s;
  };
  struct Order {
    using is_transparent = void;
    const SweepPlan* plan;
    const double* t;
    bool operator()(size_t a, size_t b) const;
    bool operator()(size_t a, const Probe& p) const { return plan->edges[a].s_at(p.t) < p.s; }
    bool operator()(const Probe& p, size_t a) const { return p.s < plan->edges[a].s_at(p.t); }
  };
  const SweepPlan* plan_;
  double t_ = 0;
  std::set<size_t, Order> order_;
  std::vector<std::set<size_t, Order>::const_iterator> at_;
};

}  // namespace lux
