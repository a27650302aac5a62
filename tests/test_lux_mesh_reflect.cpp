// Meshes and polygon surfaces in interreflection, against physics: a closed
// mesh box holds every lumen and its mean interreflected illuminance is the
// enclosure's closed form, as the built-in room's is; a mesh cube and the
// built-in box pass on the same light; photons reflect off each mesh face
// with its material's reflectance; an L-shaped reflecting surface is the
// two rectangles that tile it, in its shadows and in the light it reflects.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "refhost/rays.h"
#include "tests/lux_fixture.h"
#include "tools/lux/scene/polygon.h"
#include "tools/lux/transport/photon_trace.h"
#include "tools/lux/transport/radiosity.h"

namespace {

using json = nlohmann::json;
using lux::Vec3;
using zeltest::LuxTest;
namespace fs = std::filesystem;

constexpr double kPi = 3.141592653589793;

// A folder of files written by a test, removed at its end.
class Files {
 public:
  explicit Files(const std::string& name)
      : dir_(fs::temp_directory_path() / ("zel_lux_reflect_" + name)) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~Files() { fs::remove_all(dir_); }
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }

 private:
  fs::path dir_;
};

// The box lo..hi as an OBJ file of six quads facing outwards (or inwards,
// a room), the bottom of material "floor", the rest "walls" (with
// `library`), optionally without its top.
std::string obj_box(Vec3 lo, Vec3 hi, bool inward, const std::string& library = "",
                    bool with_top = true) {
  std::ostringstream o;
  if (!library.empty()) o << "mtllib " << library << "\n";
  for (int k = 0; k < 8; ++k)
    o << "v " << ((k & 1) != 0 ? hi.x : lo.x) << " " << ((k & 2) != 0 ? hi.y : lo.y) << " "
      << ((k & 4) != 0 ? hi.z : lo.z) << "\n";
  // Counter-clockwise seen from outside: bottom, top, south, north, west, east.
  const int faces[6][4] = {{1, 3, 4, 2}, {5, 6, 8, 7}, {1, 2, 6, 5},
                           {3, 7, 8, 4}, {1, 5, 7, 3}, {2, 4, 8, 6}};
  for (int f = 0; f < 6; ++f) {
    if (f == 1 && !with_top) continue;
    if (!library.empty()) o << "usemtl " << (f == 0 ? "floor" : "walls") << "\n";
    o << "f";
    for (int k = 0; k < 4; ++k) o << " " << faces[f][inward ? 3 - k : k];
    o << "\n";
  }
  return o.str();
}

// An isotropic point source of intensity I: its light has no emitter
// points to sample, so two scenes that differ only in how a shape is
// described must give the same numbers to rounding.
json bulb(Vec3 at, double candela) {
  return {{"name", "bulb"},
          {"position", {at.x, at.y, at.z}},
          {"shader", {{"intensity", candela}, {"intensity_unit", 0}}}};
}

// A small calculation surface: a scene needs something to report.
json probe(Vec3 at) {
  return {{"name", "probe"},
          {"corner", {at.x, at.y, at.z}},
          {"u", {0.1, 0, 0}},
          {"v", {0, 0.1, 0}},
          {"spacing", 0.1}};
}

json room(Vec3 size, double rho_floor, double rho_rest, double spacing) {
  json faces = json::object();
  for (const char* f : {"ceiling", "north wall", "south wall", "east wall", "west wall"})
    faces[f] = {{"reflectance", rho_rest}};
  faces["floor"] = {{"reflectance", rho_floor}};
  return {{"size", {size.x, size.y, size.z}}, {"spacing", spacing}, {"faces", faces}};
}

// Area-weighted mean of a quantity over the patches that `keep` accepts.
template <typename Keep>
double patch_mean(const lux::RadiositySolution& s, const std::vector<double>& v, Keep keep) {
  double sum = 0, area = 0;
  for (size_t k = 0; k < s.patches.size(); ++k) {
    if (!keep(s.patches[k])) continue;
    sum += v[k] * s.patches[k].area;
    area += s.patches[k].area;
  }
  return sum / area;
}

double total(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return sum;
}

// A closed box made as a mesh with its faces turned inwards is a room: the
// light of a bulb hanging free in it is all absorbed, the mean direct
// illuminance is Φ/A and the mean interreflected one Φρ/(A(1 − ρ)); with a
// darker floor the mesh's floor and the room's floor agree (to 0.2 %: the
// room's six surfaces are cut further where a corner's cluster would share
// a link's light evenly between two of them; the mesh is one surface).
TEST_F(LuxTest, MeshBoxIsARoom) {
  const Files files("room");
  files.write("paint.mtl", "newmtl floor\nKd 0.5 0.5 0.5\nnewmtl walls\nKd 0.5 0.5 0.5\n");
  const std::string obj = files.write("box.obj", obj_box({0, 0, 0}, {1, 1, 1}, true, "paint.mtl"));
  const double candela = 100, flux = 4 * kPi * candela, area = 6;
  const auto everywhere = [](const lux::Patch&) { return true; };
  for (const double rho : {0.3, 0.8}) {
    json scene = {{"samples", 1}, {"interreflection", {{"patch_size", 0.125}}}};
    scene["lights"] = json::array({bulb({0.45, 0.55, 0.6}, candela)});
    scene["surfaces"] = json::array({probe({0.3, 0.3, 0.3})});
    scene["meshes"] = json::array(
        {{{"name", "box"}, {"file", obj}, {"materials", {{"floor", rho}, {"walls", rho}}}}});
    const lux::Model& model = build(scene.dump());
    const auto s = lux::solve_radiosity(model, {2, false});
    ASSERT_EQ(s.elements.size(), 1u);
    EXPECT_EQ(s.elements[0].kind, "mesh");
    EXPECT_NEAR(s.elements[0].area, area, 1e-9);
    EXPECT_EQ(s.roots.size(), 6u * 8 * 8) << "each side one square, cut to the patch size";
    EXPECT_NEAR(total(s.balance.absorbed), flux, 0.001 * flux) << "rho " << rho;
    EXPECT_NEAR(s.balance.direct, flux, 0.001 * flux) << "rho " << rho;
    const double expected = flux * rho / (area * (1 - rho));
    EXPECT_NEAR(patch_mean(s, s.indirect, everywhere), expected, 0.005 * expected) << "rho " << rho;
  }

  // Floor 0.2, the rest 0.7: the mesh's floor and the room's floor receive
  // the same interreflected light, the whole the same absorption.
  const auto on_floor = [](const lux::Patch& p) { return p.normal.z > 0.5; };
  json scene = {{"samples", 1}, {"interreflection", {{"patch_size", 0.125}}}};
  scene["lights"] = json::array({bulb({0.45, 0.55, 0.6}, candela)});
  scene["surfaces"] = json::array({probe({0.3, 0.3, 0.3})});
  json as_room = scene, as_mesh = scene;
  as_room["room"] = room({1, 1, 1}, 0.2, 0.7, 0.25);
  as_mesh["meshes"] = json::array(
      {{{"name", "box"}, {"file", obj}, {"materials", {{"floor", 0.2}, {"walls", 0.7}}}}});
  const auto r = lux::solve_radiosity(build(as_room.dump()), {2, false});
  const auto m = lux::solve_radiosity(build(as_mesh.dump()), {2, false});
  ASSERT_EQ(r.roots.size(), m.roots.size());
  EXPECT_NEAR(total(m.balance.absorbed), total(r.balance.absorbed), 1e-6 * flux);
  const double floor_room = patch_mean(r, r.indirect, on_floor);
  EXPECT_NEAR(patch_mean(m, m.indirect, on_floor), floor_room, 2e-3 * floor_room);
  EXPECT_NEAR(m.elements[0].reflectance, 0.2 / 6 + 0.7 * 5 / 6, 1e-12) << "the mean by area";
}

// A mesh cube standing on the floor of a room and the built-in box at the
// same place, both of reflectance 0.6, under a bulb: the same shadow on
// the floor, the same light on every face and on the work plane, direct
// and interreflected. The bulb has no emitter points to sample and the
// cube's sides are the same squares either way, so the direct light differs
// only by the mesh's single-precision tracing: it agrees to 1e-5 relative
// (a grid point whose ray grazed an edge differently would differ by its
// whole direct light, and none may). The box is a solid whose foot hides
// the floor and is followed by the floor's pieces; a mesh's inside is not
// yet found hidden, so the two are cut differently and the interreflected
// light agrees to a few per cent.
TEST_F(LuxTest, MeshCubeReflectsLikeTheBuiltInBox) {
  const Files files("cube");
  const Vec3 lo{1.07, 0.66, 0}, hi{1.67, 1.26, 0.6};
  const std::string obj = files.write("cube.obj", obj_box(lo, hi, false));
  json scene = {{"samples", 1}, {"interreflection", {{"patch_size", 0.3}}}};
  scene["lights"] = json::array({bulb({1.93, 1.07, 2.1}, 300)});
  scene["room"] = room({3, 2, 2.5}, 0.2, 0.7, 0.25);
  scene["surfaces"] = json::array({{{"name", "work plane"},
                                    {"corner", {0.25, 0.25, 0.75}},
                                    {"u", {2.5, 0, 0}},
                                    {"v", {0, 1.5, 0}},
                                    {"spacing", 0.25}}});
  json with_box = scene, with_mesh = scene;
  with_box["occluders"] = json::array({{{"name", "cube"},
                                        {"shape", "box"},
                                        {"min", {lo.x, lo.y, lo.z}},
                                        {"max", {hi.x, hi.y, hi.z}},
                                        {"reflectance", 0.6}}});
  with_mesh["meshes"] = json::array({{{"name", "cube"}, {"file", obj}, {"reflectance", 0.6}}});
  const auto solve = [&](const json& s) {
    const lux::Model& model = build(s.dump());
    auto solution = lux::solve_radiosity(model, {2, false});
    return std::make_pair(solution, lux::calculate(model, {2, false}, &solution));
  };
  const auto [box, box_grid] = solve(with_box);
  const auto [mesh, mesh_grid] = solve(with_mesh);
  ASSERT_EQ(box.roots.size(), mesh.roots.size());
  ASSERT_EQ(box.elements.back().name, "cube");
  ASSERT_EQ(mesh.elements.back().name, "cube");
  EXPECT_NEAR(mesh.elements.back().area, box.elements.back().area, 1e-6);
  EXPECT_NEAR(mesh.balance.absorbed.back(), box.balance.absorbed.back(),
              0.05 * box.balance.absorbed.back());
  ASSERT_EQ(box_grid.size(), mesh_grid.size());
  int shaded = 0, compared = 0;
  for (size_t k = 0; k < box_grid.size(); ++k) {
    const auto& b = box_grid[k];
    const auto& m = mesh_grid[k];
    ASSERT_EQ(b.name, m.name);
    for (size_t p = 0; p < b.lux.size(); ++p) {
      // Points inside the box are masked there; inside the mesh they are
      // dark. Only points that both count are compared.
      if (b.grid.state[p] != lux::PointState::Counted ||
          m.grid.state[p] != lux::PointState::Counted)
        continue;
      ++compared;
      EXPECT_NEAR(m.direct[p], b.direct[p], 1e-5 * b.direct[p] + 1e-9) << b.name << " " << p;
      EXPECT_NEAR(m.interreflected[p], b.interreflected[p], 0.05 * b.interreflected[p])
          << b.name << " " << p;
    }
  }
  EXPECT_GT(compared, 300);
  // The cube's shadow on the floor is counted as 0 direct in both.
  for (size_t p = 0; p < box_grid[1].lux.size(); ++p)
    if (box_grid[1].grid.state[p] == lux::PointState::Counted && box_grid[1].direct[p] == 0)
      ++shaded;
  EXPECT_GT(shaded, 3) << "the cube must shade part of the floor";
}

// A ray that meets a mesh learns the normal of the triangle it met, by the
// triangle's winding: the outward sides of a box, and of a flat mesh its
// one plane.
TEST_F(LuxTest, MeshHitsKnowTheirTriangle) {
  const Files files("normals");
  const std::string obj = files.write("box.obj", obj_box({-1, -1, -1}, {1, 1, 1}, false));
  json scene = {{"lights", json::array({bulb({0, 0, 5}, 1)})},
                {"surfaces", json::array({probe({0, 0, 4})})}};
  scene["meshes"] = json::array({{{"name", "box"}, {"file", obj}, {"rotation", {0, 0, 30}}}});
  build(scene.dump());
  const refhost::RayScene rays;
  ASSERT_EQ(rays.size(), 1u);
  const double c = std::cos(kPi / 6), sn = std::sin(kPi / 6);
  // Towards each side's centre from outside: its outward normal.
  const Vec3 sides[] = {{c, sn, 0}, {-sn, c, 0}, {0, 0, 1}, {-c, -sn, 0}, {sn, -c, 0}, {0, 0, -1}};
  for (const Vec3& n : sides) {
    const Vec3 from = n * 3.0 + Vec3{0.1, 0.05, 0.07};
    const Vec3 d = lux::normalize(n * 1.0 - from);
    refhost::RayScene::Hit hit;
    ASSERT_TRUE(rays.first_hit({from.x, from.y, from.z}, {d.x, d.y, d.z}, 10, hit));
    const Vec3 at = from + d * hit.t;
    const refhost::Vec3d by_hit = rays.normal_at(hit, {at.x, at.y, at.z});
    const refhost::Vec3d by_point = rays.normal_at(0, {at.x, at.y, at.z});
    EXPECT_NEAR(by_hit.x, n.x, 1e-6);
    EXPECT_NEAR(by_hit.y, n.y, 1e-6);
    EXPECT_NEAR(by_hit.z, n.z, 1e-6);
    EXPECT_NEAR(by_point.x * n.x + by_point.y * n.y + by_point.z * n.z, 1, 1e-6);
  }
}

// An open mesh box (no lid) with a dark floor and light walls around a
// bulb: the photons that land on its faces are reflected with each face's
// own material and the rest leaves through the top. What the mesh absorbs
// by the photons and by the patches agrees within the photons' noise, and
// what escapes makes up the balance.
TEST_F(LuxTest, PhotonsReflectOffMeshesByMaterial) {
  const Files files("photons");
  files.write("paint.mtl", "newmtl floor\nKd 0.2 0.2 0.2\nnewmtl walls\nKd 0.8 0.8 0.8\n");
  const std::string obj =
      files.write("tub.obj", obj_box({0, 0, 0}, {1, 1, 1}, true, "paint.mtl", false));
  json scene = {{"samples", 1}, {"interreflection", {{"patch_size", 0.125}}}};
  scene["lights"] = json::array({bulb({0.45, 0.55, 0.4}, 100)});
  scene["surfaces"] = json::array({probe({0.3, 0.3, 0.3})});
  scene["meshes"] = json::array({{{"name", "tub"}, {"file", obj}}});
  const lux::Model& model = build(scene.dump());
  const auto s = lux::solve_radiosity(model, {2, false});
  constexpr int kPhotons = 40000;
  const auto p = lux::trace_photons(model, s, kPhotons, {2, false});
  ASSERT_EQ(p.absorbed.size(), 1u);
  EXPECT_NEAR(p.emitted, p.absorbed[0] + p.absorbed_elsewhere + p.escaped, 1e-9 * p.emitted);
  EXPECT_EQ(p.absorbed_elsewhere, 0) << "every face of the tub reflects from its inside";
  // Relative noise of a share f of N photons: about sqrt((1 − f)/(f N));
  // allowed four times that plus 1.5% for the patches' discretisation.
  const double share = s.balance.absorbed[0] / p.emitted;
  const double noise = std::sqrt((1 - share) / (share * kPhotons));
  EXPECT_NEAR(p.absorbed[0], s.balance.absorbed[0], (4 * noise + 0.015) * s.balance.absorbed[0]);
  EXPECT_GT(p.escaped, 0.2 * p.emitted) << "the open top lets light out";
  // The same photons on one thread.
  const auto one = lux::trace_photons(model, s, kPhotons / 8, {1, false});
  const auto two = lux::trace_photons(model, s, kPhotons / 8, {2, false});
  EXPECT_EQ(one.absorbed, two.absorbed);
  EXPECT_EQ(one.escaped, two.escaped);
}

// An L-shaped reflecting shelf is the two rectangles that tile it: under a
// bulb and a reflecting ceiling it casts the same shadow on the work plane
// below (none under the missing corner), reflects the same light, and its
// own grid has the statistics of the two rectangles' grids together.
TEST_F(LuxTest, ReflectingPolygonIsTheRectanglesThatTileIt) {
  const auto at = [](double x, double y) { return json::array({x, y, 1.0}); };
  json scene = {{"samples", 1}, {"interreflection", {{"patch_size", 0.25}}}};
  scene["lights"] = json::array({bulb({1.37, 1.23, 1.8}, 200)});
  const json ceiling = {{"name", "ceiling"},    {"corner", {-0.5, -0.5, 2.2}},
                        {"u", {3, 0, 0}},       {"v", {0, 3, 0}},
                        {"normal", {0, 0, -1}}, {"role", "reflecting"},
                        {"reflectance", 0.8},   {"spacing", 0.5}};
  const json plane = {{"name", "work plane"},
                      {"corner", {0, 0, 0.5}},
                      {"u", {2, 0, 0}},
                      {"v", {0, 2, 0}},
                      {"spacing", 0.25}};
  const json shelf_keys = {{"role", "reflecting"}, {"reflectance", 0.6}, {"spacing", 0.25}};
  json L = shelf_keys, south = shelf_keys, north_west = shelf_keys;
  L["name"] = "shelf";
  L["polygon"] = {at(0, 0), at(2, 0), at(2, 1), at(1, 1), at(1, 2), at(0, 2)};
  south["name"] = "south";
  south["corner"] = at(0, 0);
  south["u"] = {2, 0, 0};
  south["v"] = {0, 1, 0};
  north_west["name"] = "north-west";
  north_west["corner"] = at(0, 1);
  north_west["u"] = {1, 0, 0};
  north_west["v"] = {0, 1, 0};
  json as_polygon = scene, as_tiles = scene;
  as_polygon["surfaces"] = json::array({ceiling, L, plane});
  as_tiles["surfaces"] = json::array({ceiling, south, north_west, plane});
  const auto solve = [&](const json& s) {
    const lux::Model& model = build(s.dump());
    auto solution = lux::solve_radiosity(model, {2, false});
    return std::make_pair(solution, lux::calculate(model, {2, false}, &solution));
  };
  const auto [poly, poly_grid] = solve(as_polygon);
  const auto [tiles, tiles_grid] = solve(as_tiles);
  EXPECT_NEAR(poly.elements[1].area, 3, 1e-12) << "the shelf reflects over its outline only";
  // The polygon's convex pieces and the tiles are cut into different roots,
  // and the refinement follows each: they agree to the accuracy.
  EXPECT_NEAR(poly.balance.absorbed[1], tiles.balance.absorbed[1] + tiles.balance.absorbed[2],
              0.005 * poly.balance.absorbed[1]);

  // The work plane below: lit under the missing corner, shaded elsewhere,
  // and point by point as under the tiles.
  const auto& wp = poly_grid.back();
  const auto& wt = tiles_grid.back();
  ASSERT_EQ(wp.name, "work plane");
  int lit = 0;
  double reflected = 0;
  const Vec3 light{1.37, 1.23, 1.8};
  for (size_t p = 0; p < wp.lux.size(); ++p) {
    // Where the ray to the bulb passes the shelf's height, 1 m.
    const Vec3 q = wp.grid.points[p];
    const Vec3 c = q + (light - q) * ((1 - q.z) / (light.z - q.z));
    const bool under = c.x > 0 && c.y > 0 && c.x < 2 && c.y < 2 && (c.x < 1 || c.y < 1);
    if (under) {
      EXPECT_EQ(wp.direct[p], 0) << "under the shelf, point " << p;
    } else {
      EXPECT_GT(wp.direct[p], 0) << "under the missing corner, point " << p;
      ++lit;
    }
    EXPECT_NEAR(wp.direct[p], wt.direct[p], 1e-6 * wt.direct[p]) << "point " << p;
    EXPECT_NEAR(wp.interreflected[p], wt.interreflected[p], 0.005 * wt.interreflected[p])
        << "point " << p;
    reflected += wp.interreflected[p];
  }
  EXPECT_GT(lit, 8);
  EXPECT_LT(lit, 40);
  EXPECT_GT(reflected, 0) << "the ceiling reflects onto the work plane";

  // The shelf's own grid: its 48 points are the tiles' 32 + 16.
  std::vector<double> both = lux::counted(tiles_grid[1].grid, tiles_grid[1].lux);
  const auto nw = lux::counted(tiles_grid[2].grid, tiles_grid[2].lux);
  both.insert(both.end(), nw.begin(), nw.end());
  const lux::Stats t = lux::stats_of(both);
  const auto& shelf = poly_grid[1];
  EXPECT_EQ(lux::counted(shelf.grid, shelf.lux).size(), 48u);
  EXPECT_NEAR(shelf.stats.avg, t.avg, 0.005 * t.avg);
  EXPECT_NEAR(shelf.stats.min, t.min, 0.005 * t.min);
  EXPECT_NEAR(shelf.stats.max, t.max, 0.005 * t.max);
}

// The convex pieces of polygons with and without holes: they cover the
// polygon's area exactly, each is convex and counter-clockwise, and each
// lies inside the polygon.
TEST(PolygonPieces, CoverThePolygonWithConvexPieces) {
  using Ring = lux::Ring;
  const auto area = [](const Ring& r) {
    double a = 0;
    for (size_t i = 0; i < r.size(); ++i) {
      const auto& p = r[i];
      const auto& q = r[(i + 1) % r.size()];
      a += p[0] * q[1] - q[0] * p[1];
    }
    return 0.5 * a;
  };
  struct Case {
    const char* name;
    std::vector<Ring> rings;
    size_t pieces;  // at most
  };
  const Case cases[] = {
      {"L", {{{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}}, 2},
      {"square around a column",
       {{{0, 0}, {3, 0}, {3, 3}, {0, 3}}, {{1, 1}, {1, 2}, {2, 2}, {2, 1}}},
       4},
      {"triangle", {{{0, 0}, {4, 1}, {1, 3}}}, 2},
      {"slanted U",
       {{{0, 0}, {5, 0.5}, {5.5, 4}, {4, 4}, {3.5, 1.5}, {1.5, 1.2}, {1, 4}, {-1, 4}}},
       6},
      {"level corners a rounding apart", {{{0, 0}, {1, 1e-17}, {1, 1}, {0, 1}}}, 1},
  };
  for (const Case& c : cases) {
    double expected = std::fabs(area(c.rings[0]));
    for (size_t h = 1; h < c.rings.size(); ++h) expected -= std::fabs(area(c.rings[h]));
    const auto pieces = lux::convex_pieces(c.rings);
    EXPECT_LE(pieces.size(), c.pieces) << c.name;
    double sum = 0;
    for (const Ring& piece : pieces) {
      ASSERT_GE(piece.size(), 3u) << c.name;
      const double a = area(piece);
      EXPECT_GT(a, 0) << c.name << ": counter-clockwise, with area";
      sum += a;
      double cx = 0, cy = 0;
      for (size_t i = 0; i < piece.size(); ++i) {
        const auto& p = piece[i];
        const auto& q = piece[(i + 1) % piece.size()];
        const auto& r = piece[(i + 2) % piece.size()];
        const double turn = (q[0] - p[0]) * (r[1] - q[1]) - (q[1] - p[1]) * (r[0] - q[0]);
        EXPECT_GE(turn, -1e-12) << c.name << ": convex";
        cx += p[0] / double(piece.size());
        cy += p[1] / double(piece.size());
      }
      EXPECT_TRUE(lux::inside(c.rings, cx, cy)) << c.name << ": a piece's centre lies inside";
    }
    EXPECT_NEAR(sum, expected, 1e-12 * expected) << c.name;
  }
}

// A table as one mesh: a top resting on a leg. The leg's top lies wholly on
// the underside of the table top; it is hidden, receives no light and is
// left out, so that no light leaks through the contact; and the underside
// where the leg stands against it, inside the leg, is hidden too.
TEST_F(LuxTest, HiddenMeshFacesAreLeftOut) {
  const Files files("table");
  std::ostringstream obj;
  int first = 0;
  zeltest::write_box(obj, {0.5, 0.5, 0.7}, {1.5, 1.5, 0.75}, first);
  zeltest::write_box(obj, {0.9, 0.9, 0}, {1.1, 1.1, 0.7}, first);
  const std::string file = files.write("table.obj", obj.str());
  const double candela = 100, flux = 4 * kPi * candela;
  json scene = {{"samples", 1}, {"interreflection", {{"patch_size", 0.25}}}};
  scene["lights"] = json::array({bulb({1.03, 0.97, 1.4}, candela)});
  scene["room"] = room({2, 2, 2}, 0.5, 0.5, 0.5);
  scene["meshes"] = json::array({{{"name", "table"}, {"file", file}, {"reflectance", 0.5}}});
  const auto s = lux::solve_radiosity(build(scene.dump()), {2, false});
  ASSERT_EQ(s.elements.back().name, "table");
  // Top: 2 × 1 + 4 × 1 × 0.05, less the leg's 0.2 × 0.2 against it; leg:
  // 4 × 0.2 × 0.7; the leg's bottom lies on the floor, facing out of the
  // room, and is hidden too. The contact's edge to the finer grid of the
  // smallest pieces (3 cm here).
  EXPECT_NEAR(s.elements.back().area, 2.2 - 0.04 + 0.56, 0.003) << "less the leg's hidden top";
  EXPECT_NEAR(s.balance.direct, flux, 0.01 * flux) << "every lumen reaches a surface once";
}

}  // namespace
