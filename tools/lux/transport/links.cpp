// Links of the hierarchy: how much of one piece's (or cluster's) light
// reaches another, with visibility from several rays, and the refinement
// that cuts pieces until every exchange is known well enough.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "shaders/constants.h"
#include "tools/lux/transport/calc.h"
#include "tools/lux/transport/hierarchy.h"

namespace lux {

namespace {

using refhost::Vec3d;

// Objects that may stand between two nodes, listed on the stack; more than
// this and every object is tried.
constexpr size_t kBlockerCapacity = 48;
// Pairs worked out one after the other, breadth first, before the rest is
// shared out among the threads: enough pieces of work for an even share.
constexpr size_t kSerialPairs = 512;
// A cluster seen from a distance d exchanges as one only beyond this many
// times the radii of the two: nearer, its parts' directions differ too much.
constexpr double kClusterDistance = 1.0;

// Rays that judge what stands between a cluster and the other end of its
// link.
constexpr int kClusterRays = 4;
// Tries at an open place on a cluster (its elements' open parts) before
// the ray is given up.
constexpr int kPlaceAttempts = 4;
// Places on a cluster's elements keep this fraction of the way from their
// edges to their centres.
constexpr double kEdgeMargin = 1e-3;
// Quarters of an element whose expected light differs by less than this
// factor send it as one.
constexpr double kEvenlySent = 1.05;
// Levels of quarters whose expected light weights a kept link.
constexpr int kSpreadLevels = 2;
// A link into a cluster holding several surfaces is kept only while the
// light its lesser surfaces take from it is below this fraction of the
// bound.
constexpr double kLesserShare = 0.05;
// A piece is cut finer than its holder in the first tree when its longest
// edge is below this fraction of the holder's (a quarter's is half).
constexpr double kFinerThanHolder = 0.75;

Vec3d to_d(Vec3 a) { return {a.x, a.y, a.z}; }

// A number in [0, 1) from the high bits of a hash.
double unit(uint64_t h) { return double(h >> 11) * 0x1.0p-53; }

// A node while the refinement works on it.
struct Node {
  NodeRef ref;
  Patch patch;       // an element's
  int holder = -1;   // an element's holding element in the first tree
  int cluster = -1;  // a cluster's index
  Vec3 center, lo, hi;
  double size = 0;    // an element's longest edge; a cluster's diameter
  double radius = 0;  // of the sphere around it
  double flux = 0;    // expected to be sent
  double area = 0;    // open area
  Vec3 facing;        // a cluster's
  Vec3 glow;          // a cluster's mean normal weighted by what it is expected to send
  Vec3d corners[8];
  int corner_count = 0;
};

// A place on a node where a ray of a link ends: the point, its face's
// normal and index, and the light its element is expected to send per
// unit of open area.
struct Place {
  Vec3 point, normal;
  int face = 0;
  double density = 0;
};

// The open area of each cluster held by other surfaces than the one that
// holds most of it (as far as the halves tell: a half held by one surface
// counts for it, a mixed half for the surface holding most of that half).
// A cluster hands what it takes down to its elements by area, as if the
// light were even over it; that is right for its whole but not for how it
// is shared between surfaces: a luminaire's opening amid the ceiling would
// take its share of a wall's light as if it lay wherever the ceiling does.
std::vector<double> lesser_areas(const RadiositySolution& s) {
  struct Held {
    int element = -1;
    double area = 0, most = 0;  // all of it, and the part of its main surface
  };
  const auto root_held = [&](int root) {
    const Patch& p = s.tree[size_t(s.roots[size_t(root)])].patch;
    const double area = p.area * p.open;
    return Held{s.faces[size_t(p.face)].surface.element, area, area};
  };
  std::vector<Held> held(s.clusters.size());
  // A cluster's children are clusters after it, or root elements.
  for (size_t c = s.clusters.size(); c-- > 0;) {
    const Cluster& k = s.clusters[c];
    Held parts[2];
    const int n = k.child[1] == k.child[0] ? 1 : 2;
    for (int h = 0; h < n; ++h)
      parts[h] = k.child[h] >= 0 ? held[size_t(k.child[h])] : root_held(-1 - k.child[h]);
    Held& out = held[c];
    out = parts[0];
    if (n == 2) {
      out.area += parts[1].area;
      if (parts[1].element == parts[0].element) {
        out.most += parts[1].most;
      } else if (parts[1].most > parts[0].most) {
        out.element = parts[1].element;
        out.most = parts[1].most;
      }
    }
  }
  std::vector<double> lesser(held.size());
  for (size_t c = 0; c < held.size(); ++c) lesser[c] = held[c].area - held[c].most;
  return lesser;
}

struct Blockers {
  uint32_t list[kBlockerCapacity] = {};
  size_t count = 0;
  bool all = true;
};

class Refiner {
 public:
  Refiner(const RadiositySolution& s, const std::vector<Patch>& roots, const SendEstimate& e,
          const std::vector<double>& lesser, const RefineSettings& settings,
          std::atomic<size_t>& made)
      : s_(s), roots_(roots), estimate_(e), lesser_(lesser), settings_(settings), made_(made) {}

  Node cluster_node(int c) const {
    const Cluster& k = s_.clusters[size_t(c)];
    Node n;
    n.ref = {NodeRef::kClusterRef, uint64_t(c)};
    n.cluster = c;
    n.center = k.center;
    n.lo = k.lo;
    n.hi = k.hi;
    n.size = 2 * k.radius;
    n.radius = k.radius;
    n.flux = estimate_.cluster_flux[size_t(c)];
    n.area = k.area;
    n.facing = k.facing;
    n.glow = estimate_.cluster_glow[size_t(c)];
    for (int i = 0; i < 8; ++i)
      n.corners[i] = {i & 1 ? k.hi.x : k.lo.x, i & 2 ? k.hi.y : k.lo.y, i & 4 ? k.hi.z : k.lo.z};
    n.corner_count = 8;
    return n;
  }

  Node element_node(uint32_t root, uint64_t path, const Patch& p) const {
    Node n;
    n.ref = {root, path};
    n.patch = p;
    n.holder = holding_element(s_.tree, s_.roots, root, path);
    const Element& h = s_.tree[size_t(n.holder)];
    n.patch.open = h.patch.open;
    n.center = p.center;
    n.lo = n.hi = p.corner[0];
    for (int k = 0; k < p.corners; ++k) {
      const Vec3 c = p.corner[size_t(k)];
      n.lo = {std::min(n.lo.x, c.x), std::min(n.lo.y, c.y), std::min(n.lo.z, c.z)};
      n.hi = {std::max(n.hi.x, c.x), std::max(n.hi.y, c.y), std::max(n.hi.z, c.z)};
      n.corners[k] = to_d(c);
    }
    n.corner_count = p.corners;
    n.size = longest_edge(p);
    n.radius = 0.5 * length(n.hi - n.lo);
    n.flux = estimate_.density[size_t(n.holder)] * p.area;
    n.area = p.area * n.patch.open;
    return n;
  }

  // The children of a cluster, or the four pieces of an element.
  int children(const Node& n, Node out[4]) const {
    if (n.cluster >= 0) {
      const Cluster& k = s_.clusters[size_t(n.cluster)];
      int count = 0;
      for (int h = 0; h < 2; ++h) {
        if (h == 1 && k.child[1] == k.child[0]) break;
        const int c = k.child[h];
        if (c >= 0) {
          out[count++] = cluster_node(c);
        } else {
          const uint32_t root = uint32_t(-1 - c);
          out[count++] = element_node(root, 1, roots_[root]);
        }
      }
      return count;
    }
    for (int k = 0; k < 4; ++k)
      out[k] = element_node(n.ref.root, child_path(n.ref.path, k), quarter(n.patch, k));
    return 4;
  }

  bool can_split(const Node& n) const {
    return n.cluster >= 0 ||
           (n.size > settings_.smallest && path_depth(n.ref.path) < kMostDepth - 1);
  }

  void filter(const Node& a, const Node& b, const Blockers& parent, Blockers& out) const {
    out.count = 0;
    out.all = false;
    const size_t n = parent.all ? s_.rays->size() : parent.count;
    for (size_t k = 0; k < n; ++k) {
      const uint32_t i = parent.all ? uint32_t(k) : parent.list[k];
      if (!s_.rays->may_cross(i, a.corners, size_t(a.corner_count), b.corners,
                              size_t(b.corner_count)))
        continue;
      if (out.count == kBlockerCapacity) {
        out.all = true;
        return;
      }
      out.list[out.count++] = i;
    }
  }

  // The fraction of light crossing from a to b: rays between their sample
  // points. Only pairs that face each other carry any of the exchange (a
  // point behind the other's plane, as where a wall piece reaches below a
  // desk's top, is already nothing in the form factor), so only they are
  // asked; a ray between such a pair runs through the solid the back-facing
  // face bounds and would count that part of the exchange out twice.
  // `unsure` says that no pair of the four faces the other way round.
  double visibility(const Node& a, const Node& b, const Blockers& blockers, bool& unsure) const {
    unsure = false;
    if (!blockers.all && blockers.count == 0) return 1.0;
    const uint32_t* list = blockers.all ? s_.all_objects.data() : blockers.list;
    const size_t count = blockers.all ? s_.all_objects.size() : blockers.count;
    Vec3 pa[4], pb[4];
    sample_points(a.patch, pa);
    sample_points(b.patch, pb);
    const Face& fa = s_.faces[size_t(a.patch.face)];
    const Face& fb = s_.faces[size_t(b.patch.face)];
    // Rays between open points only: what hides a piece already counts
    // in its open fraction.
    bool open_a[4] = {true, true, true, true}, open_b[4] = {true, true, true, true};
    for (int k = 0; k < 4; ++k) {
      if (a.patch.open < 1) open_a[k] = is_open(s_, *s_.hiding, a.patch.face, pa[k]);
      if (b.patch.open < 1) open_b[k] = is_open(s_, *s_.hiding, b.patch.face, pb[k]);
    }
    const double tolerance = s_.plane_tolerance;
    const auto face_each_other = [&](Vec3 p, Vec3 q) {
      return dot(q - p, a.patch.normal) > tolerance && dot(p - q, b.patch.normal) > tolerance;
    };
    double through = 0;
    int rays = 0, open_pairs = 0;
    for (int i = 0; i < 4; ++i) {
      if (!open_a[i]) continue;
      // The first open point of b facing it, from the one across from i on.
      for (int k = 0; k < 4; ++k) {
        const int j = (3 - i + k) % 4;
        if (!open_b[j]) continue;
        ++open_pairs;
        if (!face_each_other(pa[i], pb[j])) continue;
        through +=
            s_.rays->transmission(to_d(ray_end(fa, pa[i])), to_d(ray_end(fb, pb[j])), list, count);
        ++rays;
        break;
      }
    }
    if (rays == 0) {
      // Open points, but none facing: the exchange lies between them.
      unsure = open_pairs > 0;
      return open_pairs > 0 ? 1.0 : 0.0;
    }
    return through / rays;
  }

  // A place on node n for the k-th ray of a link: an element's k-th sample
  // point, or on a cluster a point of one of its elements, the element
  // drawn by open area and the place on it uniformly over its open part,
  // from `seed`. False when the place is hidden (under furniture, behind
  // an opening) or, on a cluster, no open place was found.
  bool ray_place(const Node& n, int k, uint64_t seed, Place& at) const {
    if (n.cluster < 0) {
      Vec3 points[4];
      sample_points(n.patch, points);
      at.point = points[k];
      at.normal = n.patch.normal;
      at.face = n.patch.face;
      at.density = estimate_.density[size_t(n.holder)];
      return !(n.patch.open < 1) || is_open(s_, *s_.hiding, at.face, at.point);
    }
    for (int attempt = 0; attempt < kPlaceAttempts; ++attempt) {
      const uint64_t h = sample_seed(seed, uint64_t(k), uint64_t(attempt));
      double u = unit(h);
      int c = n.cluster;
      uint32_t root = 0;
      for (;;) {
        const Cluster& cl = s_.clusters[size_t(c)];
        int pick = 0;
        if (cl.child[1] != cl.child[0]) {
          const double a0 = node_area(cl.child[0]), a1 = node_area(cl.child[1]);
          const double share = a0 + a1 > 0 ? a0 / (a0 + a1) : 0.5;
          if (u < share) {
            u = share > 0 ? u / share : 0;
          } else {
            pick = 1;
            u = share < 1 ? (u - share) / (1 - share) : 0;
          }
        }
        const int child = cl.child[pick];
        if (child < 0) {
          root = uint32_t(-1 - child);
          break;
        }
        c = child;
      }
      const Patch& p = roots_[root];
      double a = unit(sample_seed(h, 1, 0)), b = unit(sample_seed(h, 2, 0));
      if (p.corners == 3 && a + b > 1) {
        a = 1 - a;
        b = 1 - b;
      }
      const Vec3 o = p.corner[0];
      // Drawn back from the edges by a hair, as the sample points of pieces
      // are: a ray from the very foot of a wall would graze the wall.
      at.point = p.center + (o + (p.corner[1] - o) * a + (p.corner[size_t(p.corners - 1)] - o) * b -
                             p.center) *
                                (1 - kEdgeMargin);
      at.normal = p.normal;
      at.face = p.face;
      const Element& e = s_.tree[size_t(s_.roots[root])];
      at.density = e.patch.open > 0 ? estimate_.density[size_t(s_.roots[root])] / e.patch.open : 0;
      if (!(e.patch.open < 1) || is_open(s_, *s_.hiding, at.face, at.point)) return true;
    }
    return false;
  }

  // Open area of a cluster's child (a cluster, or a root element as −1 − root).
  double node_area(int child) const {
    if (child >= 0) return s_.clusters[size_t(child)].area;
    const Patch& p = s_.tree[size_t(s_.roots[size_t(-1 - child)])].patch;
    return p.area * p.open;
  }

  // The seed of a link's places, from where its two ends are (not how the
  // scene numbers them): the same geometry gives the same places however
  // it was described.
  static uint64_t link_seed(const Node& from, const Node& to) {
    return sample_seed(point_seed(from.center, from.hi - from.lo, 0),
                       point_seed(to.center, to.hi - to.lo, 1), 0x76697369);
  }

  // The fraction of the light between two nodes, one of them a cluster,
  // that nothing stops: rays between places on the two that face each
  // other, each weighted by the cosines at its ends, as each carries its
  // share of the exchange. A cluster's own parts stop light too (a desk top
  // over a chair's seat, a chair's back behind its seat): only places that
  // face the other end are asked, so a part turned away is not counted as
  // hidden twice. Nothing is known when no pair faces: 1.
  double cluster_visibility(const Node& from, const Node& to, const Blockers& blockers) const {
    if (!blockers.all && blockers.count == 0) return 1.0;
    const uint64_t seed = link_seed(from, to);
    double through = 0, weight = 0;
    for (int k = 0; k < kClusterRays; ++k) {
      Place a, b;
      if (!ray_place(from, k, seed, a) || !ray_place(to, (k + 2) % 4, seed ^ 1, b)) continue;
      const Vec3 d = b.point - a.point;
      const double l = length(d);
      if (!(l > 0)) continue;
      const double ca = dot(d, a.normal) / l, cb = -dot(d, b.normal) / l;
      if (!(ca > 0) || !(cb > 0)) continue;
      const double w = ca * cb;
      weight += w;
      through += w * transmission(a, b, blockers);
    }
    return weight > 0 ? through / weight : 1.0;
  }

  double transmission(const Place& a, const Place& b, const Blockers& blockers) const {
    if (!blockers.all && blockers.count == 0) return 1.0;
    const uint32_t* list = blockers.all ? s_.all_objects.data() : blockers.list;
    const size_t count = blockers.all ? s_.all_objects.size() : blockers.count;
    return s_.rays->transmission(to_d(ray_end(s_.faces[size_t(a.face)], a.point)),
                                 to_d(ray_end(s_.faces[size_t(b.face)], b.point)), list, count);
  }

  // The exchange between a cluster whose elements face the other end
  // differently and that end, as the mean over places on both of the
  // point-to-point form factor: the light each place sends (by what its
  // element is expected to send), the cosines at both ends, the distance
  // and whether anything stands between. Where a cluster's elements turn
  // every way no single normal gives its cosine law or the area it shows;
  // the places do, and what shades them.
  double sampled_exchange(const Node& from, const Node& to, const Blockers& blockers) const {
    if (!(from.flux > 0) || !(to.area > 0)) return 0;
    const uint64_t seed = link_seed(from, to);
    // Per place on the sender: its light over the sender's mean, times the
    // share of the sender's area it stands for.
    const double from_area = from.cluster >= 0 ? from.area : from.patch.area * from.patch.open;
    const double mean = from.flux / from_area;
    const double to_area = to.cluster >= 0 ? to.area : to.patch.area;
    double sum = 0;
    for (int k = 0; k < kClusterRays; ++k) {
      Place a, b;
      if (!ray_place(from, k, seed, a) || !ray_place(to, (k + 2) % 4, seed ^ 1, b)) continue;
      const Vec3 d = b.point - a.point;
      const double r2 = dot(d, d);
      if (!(r2 > 0)) continue;
      const double r = std::sqrt(r2);
      const double ca = dot(d, a.normal) / r, cb = -dot(d, b.normal) / r;
      if (!(ca > 0) || !(cb > 0)) continue;
      const double sent = from.cluster >= 0 ? a.density / mean : 1 / from.patch.open;
      sum += sent * ca * cb * to_area / (zel::kPi * r2 + to_area / kClusterRays) *
             transmission(a, b, blockers);
    }
    return std::min(1.0, sum / kClusterRays);
  }

  // The factor of a link as it is made: an exchange between two elements
  // already carries its visibility and takes the spread of the sender's
  // light; one with a cluster takes its visibility now, once it is kept.
  double seen(const Node& from, const Node& to, double f, const Blockers& blockers) const {
    if (from.cluster < 0 && to.cluster < 0) return as_spread(from, to, f);
    return f * cluster_visibility(from, to, blockers);
  }

  // The fraction of what `from` sends that reaches `to`, unobstructed, and
  // how uncertain it is (0 to 1); 0 when they cannot exchange. A cluster
  // nearer than its size to the other may send it anything up to all its
  // light: `near` says so, and the fraction is only a guess. `mixed` names
  // a cluster whose elements do not send (1: the sender) or take (2: the
  // receiver) as one in this direction: the fraction is then only a guess,
  // at most `most`.
  double factor(const Node& from, const Node& to, double& uncertain, bool& near, int& mixed,
                double& most) const {
    const Vec3 gap = to.center - from.center;
    const double d = length(gap);
    uncertain = 1;
    near = false;
    mixed = 0;
    most = 0;
    if (from.cluster >= 0 || to.cluster >= 0) {
      const double apart = kClusterDistance * (from.radius + to.radius);
      near = !(d > apart);
      if (!(d > 0)) return 0;
      const Vec3 w = gap * (1 / d);
      const double solid = 1 / (std::max(d, apart) * std::max(d, apart));
      if (from.cluster >= 0 && !sends_as_one(s_.clusters[size_t(from.cluster)], w)) {
        mixed = 1;
      } else if (to.cluster >= 0 && !takes_as_one(s_.clusters[size_t(to.cluster)], -w)) {
        mixed = 2;
      }
      // The fraction of the sender's light per steradian towards the
      // receiver, times the solid angle the receiver shows: exact for
      // clusters that send and take as one, a guess of the right size for
      // others (a plane's law for their mean normal and an even part).
      double sent = 0, shown = 0;
      if (mixed != 0) {
        sent = from.cluster >= 0 ? cluster_emission(from.facing, w)
                                 : std::max(0.0, dot(w, from.patch.normal)) / zel::kPi;
        shown = to.cluster >= 0 ? cluster_projection(to.facing, to.area, -w)
                                : to.area * std::max(0.0, -dot(w, to.patch.normal));
        most = std::min(1.0, to.area * solid / zel::kPi);
      } else {
        sent = from.cluster >= 0 ? glow_emission(from.glow, w)
                                 : std::max(0.0, dot(w, from.patch.normal)) / zel::kPi;
        shown = to.area * std::max(0.0, -dot(w, to.cluster >= 0 ? to.facing : to.patch.normal));
      }
      return std::min(1.0, sent * shown * solid);
    }
    if (from.patch.face == to.patch.face) return 0;
    if (!facing(from.patch, to.patch, s_.plane_tolerance)) return 0;
    const double exchange = exchange_from(from.patch, to.patch);
    if (!(exchange > 0)) return 0;
    uncertain = std::min(1.0, (from.size + to.size) / d);
    return std::min(1.0, exchange / from.patch.area * to.patch.open *
                             front_open_ratio(from, to, true) * front_open_ratio(to, from, false));
  }

  // How much more of its exchange with `other` the open part of a partly
  // hidden piece carries than its open fraction says. The form factor of
  // the whole piece already leaves out what lies behind the other's plane;
  // where the hidden part lies there (the floor under a cabinet, seen from
  // the cabinet's side), scaling by the open fraction leaves it out twice
  // and halves the exchange at the cabinet's foot, the largest the two
  // have. The open share of the part in front of the other's plane (from
  // the piece's four sample points) over the piece's open fraction: for a
  // receiver the fraction its link is scaled by, for a sender its own (its
  // light leaves its open part). A sender whose quarters send unevenly has
  // this in its link's spread of light already.
  double front_open_ratio(const Node& n, const Node& other, bool sender) const {
    if (!(n.patch.open < 1) || !(n.patch.open > 0)) return 1;
    if (sender && sends_unevenly(n.holder)) return 1;
    Vec3 points[4];
    sample_points(n.patch, points);
    bool ahead[4];
    int front = 0;
    for (int k = 0; k < 4; ++k) {
      ahead[k] = dot(points[k] - other.patch.center, other.patch.normal) > s_.plane_tolerance;
      front += ahead[k] ? 1 : 0;
    }
    // All on one side of the plane: the hidden part is taken as spread
    // like the rest.
    if (front == 0 || front == 4) return 1;
    int open_front = 0;
    bool any_open = false;
    for (int k = 0; k < 4; ++k) {
      const bool open = is_open(s_, *s_.hiding, n.patch.face, points[k]);
      open_front += ahead[k] && open ? 1 : 0;
      any_open = any_open || open;
    }
    if (!any_open) return 1;
    // A piece cut finer than the first tree carries its holder's open
    // fraction; a sender's own is measured.
    const bool finer = n.size < kFinerThanHolder * s_.tree[size_t(n.holder)].size;
    const double own = sender && finer ? open_fraction(s_, *s_.hiding, n.patch) : n.patch.open;
    return own > 0 ? double(open_front) / front / own : 1;
  }

  // The light element e's quarters are expected to send, per unit area,
  // into `sent`; false where they send alike (or e is not cut), so that its
  // light may be taken as spread evenly.
  bool sends_unevenly(int e, double sent[4], double& sum) const {
    const Element& el = s_.tree[size_t(e)];
    if (el.child < 0) return false;
    double least = std::numeric_limits<double>::infinity(), most = 0;
    sum = 0;
    for (int k = 0; k < 4; ++k) {
      sent[k] = estimate_.density[size_t(el.child + k)];
      sum += sent[k];
      least = std::min(least, sent[k]);
      most = std::max(most, sent[k]);
    }
    return sum > 0 && most > kEvenlySent * least;
  }

  bool sends_unevenly(int e) const {
    double sent[4], sum = 0;
    return sends_unevenly(e, sent, sum);
  }

  // Adds to `weighted` the form factor to `to` from the centre of each
  // quarter of piece p (element e of the first tree) times the quarter's
  // share of the element's light, and to `even` times its share of the
  // area; `light` and `area` are p's shares. Quarters whose light differs
  // are followed `levels` deep.
  void add_spread(int e, const Patch& p, const Patch& to, double light, double area, int levels,
                  double& weighted, double& even) const {
    double sent[4], sum = 0;
    const bool uneven = levels > 0 && sends_unevenly(e, sent, sum);
    for (int k = 0; k < 4; ++k) {
      const Patch q = quarter(p, k);
      // Quarters have equal areas: sent/sum is a quarter's share of p's
      // light.
      const double share = uneven ? light * sent[k] / sum : 0.25 * light;
      if (uneven && levels > 1) {
        add_spread(s_.tree[size_t(e)].child + k, q, to, share, 0.25 * area, levels - 1, weighted,
                   even);
        continue;
      }
      const double f =
          point_to_polygon_factor(q.center, p.normal, to.corner.data(), to.corners, to.normal);
      weighted += share * f;
      even += 0.25 * area * f;
    }
  }

  // An element-to-element factor f as the sender's light is spread: a
  // wall lit most just below the ceiling sends the ceiling beside it more
  // than its mean form factor says, and the ceiling across the room less
  // (it sees that at a grazing angle from there). Over a whole floor these
  // errors of the links add up, for they lean the same way wherever the
  // light does. Worked out only for the links that are kept; the ratio
  // comes from the quarters' centres, and no piece can send another more
  // than all its light.
  double as_spread(const Node& from, const Node& to, double f) const {
    if (!sends_unevenly(from.holder)) return f;
    double weighted = 0, even = 0;
    add_spread(from.holder, from.patch, to.patch, 1, 1, kSpreadLevels, weighted, even);
    return even > 0 ? std::min(1.0, f * (weighted / even)) : f;
  }

  // Whether a link carrying the fraction f of what `from` sends into a
  // cluster of several surfaces would give its lesser surfaces more light
  // than they may take on the strength of the cluster's even share.
  bool shares_unevenly(const Node& from, const Node& to, double f) const {
    if (to.cluster < 0 || !(to.area > 0)) return false;
    const double lesser = lesser_[size_t(to.cluster)];
    return lesser > 0 && from.flux * f * lesser / to.area > kLesserShare * settings_.flux_bound;
  }

  // Refines the exchange from `from` to `to`: a link, pieces of it, or
  // nothing. `next` receives the pairs to refine further when given;
  // otherwise they are refined here.
  void refine(const Node& from, const Node& to, const Blockers& parent,
              std::vector<RefinedLink>& links, std::vector<std::pair<Node, Node>>* next) {
    if (from.cluster < 0 && to.cluster < 0 && from.ref.root == to.ref.root) return;
    if (from.cluster >= 0 && from.cluster == to.cluster) {
      // Light a cluster passes among its own parts; below the bound in all
      // it goes to its other links instead (each patch's outgoing light is
      // scaled to what truly leaves it).
      if (from.flux > settings_.flux_bound) split(from, to, true, parent, links, next);
      return;
    }
    double uncertain = 1, most = 0;
    bool near = false;
    int mixed = 0;
    double f = factor(from, to, uncertain, near, mixed, most);
    if (f == 0 && !near && mixed == 0) return;
    Blockers blockers;
    filter(from, to, parent, blockers);
    if (mixed != 0 && !near) {
      // A cluster whose elements face the other's way differently: its
      // light is shared among them only once they are apart, unless all it
      // could carry is below the bound.
      const bool uneven = shares_unevenly(from, to, most);
      if (from.flux * most <= settings_.flux_bound && !uneven) {
        const double sampled = sampled_exchange(from, to, blockers);
        if (sampled > 0) add(from, to, sampled, links);
        return;
      }
      split(from, to, mixed == 1 && !uneven, blockers, links, next);
      return;
    }
    // The exchange as far as it is not blocked; its error is judged on what
    // it could be unblocked, for four blocked rays between large pieces do
    // not make a blocked exchange (desks between a wall and the floor can
    // stop all four by chance): such a pair is refined, not dropped, until
    // what it could carry is below the bound.
    double unhidden = f;
    if (from.cluster < 0 && to.cluster < 0) {
      bool unsure = false;
      const double v = visibility(from, to, blockers, unsure);
      if (v < 1 || unsure) uncertain = 1;
      unhidden = f * v;
    }
    double error = near ? from.flux : from.flux * f * uncertain;
    // A piece partly hidden (a wall piece reaching below the top of a
    // cabinet in a corner) exchanges most with what stands beside it just
    // where the hiding begins, and the whole piece's factor scaled by the
    // open fractions is no guide to that: on coarse pieces it gives a
    // cabinet too little of the walls' light. Its error is judged, like a
    // blocked exchange's, on what the two could carry unhidden, so that
    // such pairs are cut until the edge of the hiding runs between pieces
    // whose exchange is within the bound.
    if (from.cluster < 0 && to.cluster < 0 && from.patch.open > 0 &&
        (from.patch.open < 1 || to.patch.open < 1))
      error = std::max(error, from.flux / from.patch.open * f / to.patch.open);
    f = unhidden;
    // A receiving cluster whose surfaces would be given uneven shares is cut
    // first, whatever the sizes.
    const bool uneven = shares_unevenly(from, to, f);
    if (error <= settings_.flux_bound && !uneven) {
      if (f > 0) add(from, to, seen(from, to, f, blockers), links);
      return;
    }
    const bool split_from = !uneven && can_split(from) && (from.size >= to.size || !can_split(to));
    if (!split_from && !can_split(to)) {
      if (f > 0) {
        worst_ = std::max(worst_, error);
        add(from, to, as_spread(from, to, f), links);
      }
      return;
    }
    split(from, to, split_from, blockers, links, next);
  }

  void split(const Node& from, const Node& to, bool split_from, const Blockers& blockers,
             std::vector<RefinedLink>& links, std::vector<std::pair<Node, Node>>* next) {
    Node parts[4];
    if (from.cluster >= 0 && from.cluster == to.cluster) {
      const int n = children(from, parts);
      for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) go(parts[a], parts[b], blockers, links, next);
      return;
    }
    const int n = children(split_from ? from : to, parts);
    for (int k = 0; k < n; ++k)
      if (split_from) {
        go(parts[k], to, blockers, links, next);
      } else {
        go(from, parts[k], blockers, links, next);
      }
  }

  void go(const Node& from, const Node& to, const Blockers& blockers,
          std::vector<RefinedLink>& links, std::vector<std::pair<Node, Node>>* next) {
    if (next != nullptr) {
      next->emplace_back(from, to);
    } else {
      refine(from, to, blockers, links, nullptr);
    }
  }

  void add(const Node& from, const Node& to, double f, std::vector<RefinedLink>& links) {
    links.push_back({from.ref, to.ref, f});
    if (made_.fetch_add(1, std::memory_order_relaxed) + 1 > settings_.most_links)
      throw Error("the interreflection needs more than " + std::to_string(settings_.most_links) +
                  " links, beyond the memory bound (--max-memory); raise the bound, or "
                  "coarsen \"interreflection\": \"accuracy\"");
  }

  double worst() const { return worst_; }

 private:
  const RadiositySolution& s_;
  const std::vector<Patch>& roots_;
  const SendEstimate& estimate_;
  const std::vector<double>& lesser_;
  const RefineSettings& settings_;
  std::atomic<size_t>& made_;
  double worst_ = 0;
};

}  // namespace

Vec3 ray_end(const Face& f, Vec3 p) {
  if (!f.surface.on_sphere) return p;
  return f.surface.sphere_center + normalize(p - f.surface.sphere_center) * f.surface.sphere_radius;
}

int holding_element(const std::vector<Element>& tree, const std::vector<int>& roots, uint32_t root,
                    uint64_t path) {
  int node = roots[root];
  for (int level = path_depth(path) - 1; level >= 0; --level) {
    const Element& e = tree[size_t(node)];
    if (e.child < 0) break;
    node = e.child + int((path >> (2 * level)) & 3);
  }
  return node;
}

Refinement refine_links(const RadiositySolution& s, const std::vector<Patch>& roots,
                        const SendEstimate& estimate, const RefineSettings& settings,
                        Progress* progress) {
  Refinement out;
  if (s.clusters.empty()) return out;
  std::atomic<size_t> made{0};
  const std::vector<double> lesser = lesser_areas(s);
  Refiner serial(s, roots, estimate, lesser, settings, made);
  const Node top = serial.cluster_node(0);
  std::vector<std::pair<Node, Node>> pairs{{top, top}}, next;
  const Blockers all;
  // Breadth first until there is work enough for every thread.
  while (!pairs.empty() && pairs.size() < kSerialPairs) {
    next.clear();
    for (const auto& [from, to] : pairs) serial.refine(from, to, all, out.links, &next);
    pairs.swap(next);
  }
  out.worst = serial.worst();
  std::vector<std::vector<RefinedLink>> parts(pairs.size());
  std::vector<double> worst(pairs.size(), 0.0);
  for_rows(static_cast<int>(pairs.size()), settings.threads, [&](int k, refhost::ThreadContext&) {
    Refiner r(s, roots, estimate, lesser, settings, made);
    r.refine(pairs[size_t(k)].first, pairs[size_t(k)].second, all, parts[size_t(k)], nullptr);
    worst[size_t(k)] = r.worst();
    if (progress != nullptr) progress->add(1);
  });
  size_t total = out.links.size();
  for (const auto& p : parts) total += p.size();
  out.links.reserve(total);
  for (size_t k = 0; k < parts.size(); ++k) {
    out.links.insert(out.links.end(), parts[k].begin(), parts[k].end());
    std::vector<RefinedLink>().swap(parts[k]);
    out.worst = std::max(out.worst, worst[k]);
  }
  return out;
}

}  // namespace lux
