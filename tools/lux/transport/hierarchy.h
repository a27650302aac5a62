// The hierarchy of the interreflection's pieces of surface, inside the
// transport stage: pieces named by their path from a root before they are
// built, their geometry, which part of them is open to light, the clusters
// of roots, and the building of the tree from the pieces the refinement
// asked for.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "shaders/constants.h"
#include "tools/lux/transport/progress.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

// A node of the hierarchy named before it exists: a cluster, or a piece of
// a root element reached by a path of quarters. The path is a heap code: 1
// for the root, then two bits a level for the quarter taken.
struct NodeRef {
  uint32_t root = 0;  // root element (index in the roots), or kClusterRef
  uint64_t path = 1;  // the cluster's index, for a cluster
  bool cluster() const { return root == kClusterRef; }
  static constexpr uint32_t kClusterRef = 0xffffffffu;
};
constexpr int kMostDepth = 28;  // levels a path holds

inline uint64_t child_path(uint64_t path, int k) { return (path << 2) | uint64_t(k); }
inline uint64_t parent_path(uint64_t path) { return path >> 2; }
// Levels below the root: the leading 1 marks the root, each level adds two
// bits. (Inline, as the sorts and searches of the pieces call both in
// their innermost loops.)
inline int path_depth(uint64_t path) {
  return path > 1 ? static_cast<int>((std::bit_width(path) - 1) / 2) : 0;
}
// Preorder of the pieces of one root: a parent before its children, and
// each child's pieces before the next child.
inline bool path_before(uint64_t a, uint64_t b) {
  const int da = path_depth(a), db = path_depth(b);
  // Left-aligned, a parent equals its first child's alignment and comes
  // first by its lesser depth.
  const uint64_t la = (a ^ (uint64_t(1) << (2 * da))) << (2 * (kMostDepth - da));
  const uint64_t lb = (b ^ (uint64_t(1) << (2 * db))) << (2 * (kMostDepth - db));
  return la != lb ? la < lb : da < db;
}
// Whether piece a lies above piece b of the same root (b is cut from a).
inline bool strictly_above(uint64_t a, uint64_t b) {
  const int below = path_depth(b) - path_depth(a);
  return below > 0 && (b >> (2 * below)) == a;
}
// path_before as a function object, for sorts and searches to inline.
struct PathBefore {
  bool operator()(uint64_t a, uint64_t b) const { return path_before(a, b); }
};

// The k-th of the four pieces a patch is cut into (0 ≤ k < 4), with its
// orientation: a parallelogram into quarters, or into four strips across
// its longer edge when it is at least twice as long as wide; a triangle
// into its corner triangles and the middle one.
Patch quarter(const Patch& p, int k);
// The piece of `root` at `path`.
Patch piece(const Patch& root, uint64_t path);
double longest_edge(const Patch& p);
// The centres of the four pieces, the points at which a patch is sampled.
void sample_points(const Patch& p, Vec3 out[4]);

// What hides parts of the reflecting surfaces from light: the solids that
// stand in the room (a point inside one is inside furniture), the closed
// parts of the meshes, the space the reflecting surfaces enclose, and the
// luminaire openings lying on faces.
struct Hiding {
  std::vector<SolidDesc> solids;
  Vec3 lo, hi;           // bounds of all reflecting surfaces
  double offset = 0;     // a point is tested this far in front of its surface
  double tolerance = 0;  // on a boundary within this
  // The meshes' parts (faces joined at their corners), by their bounds on
  // a grid over the scene: only a point within a part's bounds can lie
  // inside it, and only such a point costs rays.
  std::vector<Vec3> part_lo, part_hi;
  Vec3 grid_lo;
  double cell = 0;
  int columns = 0, rows = 0, layers = 0;
  std::vector<uint32_t> cell_first;  // per cell, into cell_parts; one more at the end
  std::vector<uint32_t> cell_parts;
  std::vector<char> mesh_object;  // per traced object: a mesh's that hides
  std::vector<int> face_part;     // per face: the part it is a face of, or −1
};
Hiding make_hiding(const Scene& scene, const RadiositySolution& s);
// Whether the point `p` of face `face` is open to light: in front of it
// lies neither a solid, nor the inside of a closed mesh part (unless
// `meshes` is false), nor the outside of the scene, and no opening covers
// it.
bool is_open(const RadiositySolution& s, const Hiding& h, int face, Vec3 p, bool meshes = true);
// Whether the point q, in front of a surface facing `normal`, lies inside a
// closed part of a mesh other than `own` (the part the surface is a face
// of, or −1): rays from it in several directions all leave through the
// back of a mesh's face. A point outside, or below an open sheet, sees
// some face's front or open space.
bool inside_mesh(const RadiositySolution& s, const Hiding& h, Vec3 q, Vec3 normal, int own);
// Whether the bounds of a mesh part other than `own` reach into the box
// from lo to hi.
bool meets_mesh_part(const Hiding& h, Vec3 lo, Vec3 hi, int own);
// Whether the opening (a luminaire's face on a surface's plane) covers the
// point of that plane.
bool covers(const ReflectingSurface& opening, Vec3 point);
// A piece's corners are tried for what hides them this fraction of the
// way towards its centre: on the piece, off its neighbours.
constexpr double kCornerInside = 1e-3;
inline Vec3 inside_corner(const Patch& p, int k) {
  return p.corner[size_t(k)] + (p.center - p.corner[size_t(k)]) * kCornerInside;
}
// Fraction of the patch that is open: of its four sample points, or of 64
// points where those or its corners disagree.
double open_fraction(const RadiositySolution& s, const Hiding& h, const Patch& p);
// The finer grid's points that open_fraction measures a piece's open part
// on: those of them that are open, into `out`; returns their count.
constexpr int kOpenGridPoints = 64;
int open_grid_points(const RadiositySolution& s, const Hiding& h, const Patch& p,
                     Vec3 out[kOpenGridPoints]);

// Of the light a cluster facing `facing` (Cluster::facing) sends, the
// fraction per steradian in direction w: a Lambertian plane's cosine law
// for its flat part, even in all directions for the rest (exact for a
// cluster of one plane, and for one turned evenly every way).
double cluster_emission(Vec3 facing, Vec3 w);
// The area a cluster of open area `area` shows to a direction w it is
// seen from (w pointing from the cluster towards the viewer).
double cluster_projection(Vec3 facing, double area, Vec3 w);

// Whether no element of the cluster faces away from the unit direction w:
// then the light the cluster sends that way is the sum of its elements'
// cosine laws, (Σ Φᵢ nᵢ)·w / π, exactly the law of the mean normal weighted
// by the light each sends; and what it shows that way is (Σ Aᵢ nᵢ)·w. An
// element facing away sends and shows nothing, which the mean cannot know.
bool sends_as_one(const Cluster& c, Vec3 w);
// Whether every element of the cluster takes the same share of light
// arriving from the unit direction w (pointing from the cluster towards
// the sender) per unit of its area: their normals are one, to within
// kFlatSpread, and face w. Light reaching a cluster is handed down to its
// elements by their areas, which holds only then.
bool takes_as_one(const Cluster& c, Vec3 w);
// Light sent per steradian in direction w per unit of a cluster's flux,
// for a cluster that sends as one and whose mean normal weighted by what
// its elements send is `glow`.
inline double glow_emission(Vec3 glow, Vec3 w) { return std::max(0.0, dot(glow, w)) / zel::kPi; }

// Builds the clusters over the roots: a tree of boxes halving the roots
// along the longest side of their centres' bounds, ties by index; each
// with the cone of its elements' normals.
std::vector<Cluster> build_clusters(const RadiositySolution& s);

// Where a piece sits in the built tree: the pieces of each root sorted in
// preorder with their element indices.
struct TreeIndex {
  std::vector<std::vector<std::pair<uint64_t, int>>> of_root;
  int find(uint32_t root, uint64_t path) const;
};
// Builds the tree of every root from the paths asked for (per root, any
// order, duplicates allowed): each path, its ancestors, and the siblings
// of each, so that every cut piece has all four children. The roots are
// taken from `roots` (geometry) and become s.tree, s.roots.
TreeIndex build_tree(RadiositySolution& s, const std::vector<Patch>& roots,
                     std::vector<std::vector<uint64_t>>& paths, int threads);

}  // namespace lux

namespace lux {

// The light each element of a first tree is expected to send, per unit of
// its area: what the refinement weighs exchanges by before the solution
// is known.
struct SendEstimate {
  std::vector<double> density;       // per element of s.tree: lm per square unit of its area
  std::vector<double> cluster_flux;  // per cluster
  std::vector<Vec3> cluster_glow;    // per cluster: mean normal weighted by what is sent
};

// A link between pieces named by their paths, as the refinement makes it.
struct RefinedLink {
  NodeRef from, to;
  double factor = 0;
};

struct RefineSettings {
  double flux_bound = 0;  // an exchange carrying less than this is not refined
  double smallest = 0;    // pieces with a shorter longest edge are not cut
  size_t most_links = 0;  // more is refused
  int threads = 1;
};

struct Refinement {
  std::vector<RefinedLink> links;
  double worst = 0;  // the largest flux error an exchange was left with
};

// Links every pair of pieces or clusters that exchange light, each at the
// coarsest level where its estimated error is below the bound; cuts pieces
// where their exchange is uncertain: close beside each other, or where the
// rays between them disagree about what is in the way.
Refinement refine_links(const RadiositySolution& s, const std::vector<Patch>& roots,
                        const SendEstimate& estimate, const RefineSettings& settings,
                        Progress* progress);

// The element of s.tree that holds the piece at `path` of root `root`:
// the piece itself or its deepest ancestor in the tree.
int holding_element(const std::vector<Element>& tree, const std::vector<int>& roots, uint32_t root,
                    uint64_t path);

// A_from·F_from→to between two patches that face each other, worked out
// from the smaller (its point factors vary least) and carried to the other
// by reciprocity; and whether two patches face each other.
double exchange_from(const Patch& from, const Patch& to);
bool facing(const Patch& a, const Patch& b, double plane_tolerance);

// Where rays leave or reach a point of a face: on the true sphere for the
// flat pieces that stand in for one, so that the sphere traced in the host
// does not shade its own pieces.
Vec3 ray_end(const Face& f, Vec3 p);

}  // namespace lux

namespace lux {

// Direct light added at a piece of a root: the mean over its open sample
// points of one light's illuminance, maintained and new. A piece's direct
// light is the sum over itself and its ancestors.
struct DirectValue {
  uint64_t path = 1;
  double maintained = 0, fresh = 0;
};

struct DirectSettings {
  double flux_bound = 0;  // a light's change over a piece carrying less is not refined
  double skip_flux = 0;   // a light bounded below this on a piece is skipped
  // A shadow's edge across a piece far from its light, which the piece's
  // stratified samples integrate without bias, is followed while its change
  // carries more than this: as far as the exchanges of light need it.
  double edge_bound = 0;
  double smallest = 0;  // pieces with a shorter longest edge are not cut
  int threads = 1;
};

// Where a light sits, how far its emitter reaches from there, its
// intensity in a fixed set of directions (illuminance × distance², sampled
// once at points around it), about how much it emits, and the plane of a
// flat emitter, which lights nothing behind it.
struct LightReach {
  Vec3 center;
  double reach = 0;
  double peak = 0;  // the most in any direction, with a margin
  double flux = 0;  // lux × square units
  bool flat = false;
  Vec3 front;  // of a flat emitter
  // Per sampled direction (one set for all lights), lux × square units.
  std::vector<double> intensity;
  // The most near each cell of a table over the sphere (see
  // intensity_towards).
  std::vector<double> cell_intensity;
  // The most near each cell's centre alone (see intensity_near).
  std::vector<double> cell_near;
};
std::vector<LightReach> light_reaches(const Model& model, double extent, int threads);
// The most the light's intensity can be (lux × square units, with a
// margin) in any direction within `half_angle` radians of the unit vector
// `axis`: what the sampled directions near that cone hold, so that a
// narrow beam counts only towards what it can reach.
double intensity_towards(const LightReach& b, Vec3 axis, double half_angle);
// The light's intensity about the unit direction w, as sampled (the most of
// the sampled directions near w's cell, without a margin).
double intensity_near(const LightReach& b, Vec3 w);

struct DirectPieces {
  std::vector<std::vector<DirectValue>> of_root;
  double skipped = 0;  // bound on the flux of the lights skipped, lux × square units
};

// The direct light on the pieces of every root, light by light: a piece is
// sampled at a random point of each of its quarters (stratified, seeded by
// where it is, so that straight shadow edges do not fall the same way on
// every piece along them) and cut where its light changes across it by more
// than the bound, where it is large beside its distance to the light, where
// its samples disagree by more than the light's fall-off explains (a shadow's
// edge), and where the light's intensity towards it could bring far more
// than its samples found (a narrow beam between them). Pieces partly hidden
// (`hidden`: the paths hiding_pieces cut each root into) are followed down to
// their open parts. Lights that cannot reach a piece (behind it, or it
// behind their emitting face) or whose bound towards it is below the skip are
// passed by.
DirectPieces direct_on_pieces(const Model& model, const RadiositySolution& s,
                              const std::vector<Patch>& roots, const Hiding& hiding,
                              const std::vector<std::vector<uint64_t>>& hidden,
                              const std::vector<LightReach>& reach, const DirectSettings& settings,
                              Progress* progress);

// The paths of the pieces each root is cut into for what hides it, in
// preorder: a piece partly open is cut down to the smallest size, so that
// the edges of furniture and openings are followed.
std::vector<std::vector<uint64_t>> hiding_pieces(const RadiositySolution& s,
                                                 const std::vector<Patch>& roots,
                                                 const Hiding& hiding, double smallest,
                                                 int threads);

}  // namespace lux
