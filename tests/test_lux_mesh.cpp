// Meshes, polygon areas and point lists in the calculator: a mesh shades as
// the analytic solid it reproduces, a polygon area is the union of the
// rectangles that tile it, a point list answers as the grid it copies, and
// malformed files are refused with their file and line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/lux_fixture.h"
#include "tools/lux/grid/masking.h"
#include "tools/lux/report/outputs.h"
#include "tools/lux/scene/mesh.h"

namespace {

using json = nlohmann::json;
using zeltest::LuxTest;
namespace fs = std::filesystem;

// A folder of files written by a test, removed at its end.
class Files {
 public:
  explicit Files(const std::string& name)
      : dir_(fs::temp_directory_path() / ("zel_lux_mesh_" + name)) {
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

// The box x0..x1, y0..y1, z0..z1 as an OBJ file of quads facing outwards,
// every face of material `material` (none when empty).
std::string obj_box(double x0, double x1, double y0, double y1, double z0, double z1,
                    const std::string& library = "", const std::string& material = "") {
  std::ostringstream o;
  if (!library.empty()) o << "mtllib " << library << "\n";
  for (int k = 0; k < 8; ++k)
    o << "v " << ((k & 1) != 0 ? x1 : x0) << " " << ((k & 2) != 0 ? y1 : y0) << " "
      << ((k & 4) != 0 ? z1 : z0) << "\n";
  if (!material.empty()) o << "usemtl " << material << "\n";
  o << "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n";
  return o.str();
}

// An axis-aligned box, by its extent along each axis.
struct Vec3Box {
  double x0, x1, y0, y1, z0, z1;
};

json rectangle_light() {
  return {{"name", "panel"},
          {"shape", "rectangle"},
          {"size", {0.6, 0.4}},
          {"position", {0.05, 0.02, 2.5}},
          {"shader", {{"intensity", 800}}}};
}

json floor_surface(double spacing) {
  return {{"name", "floor"},
          {"corner", {-1.5, -1.5, 0}},
          {"u", {3, 0, 0}},
          {"v", {0, 3, 0}},
          {"spacing", spacing}};
}

// A mesh box placed by unit, scale, turn and position shades the floor as
// the built-in box of the same extent does: point by point within the
// share of samples that graze its edges.
TEST_F(LuxTest, MeshBoxShadowsLikeTheBuiltInBox) {
  const Files files("box");
  // Half extents 12.5 cm × 25 cm × 25 cm high, scaled by 2 and turned a
  // quarter about z: x in [-0.5, 0.5], y in [-0.25, 0.25], z in [1, 1.5] m.
  const std::string obj = files.write("box.obj", obj_box(-12.5, 12.5, -25, 25, 0, 25));
  json scene = {{"samples", 32}};
  scene["lights"] = json::array({rectangle_light()});
  scene["surfaces"] = json::array({floor_surface(0.15)});
  json with_box = scene, with_mesh = scene;
  with_box["occluders"] = json::array(
      {{{"name", "box"}, {"shape", "box"}, {"min", {-0.5, -0.25, 1}}, {"max", {0.5, 0.25, 1.5}}}});
  with_mesh["meshes"] = json::array({{{"name", "box"},
                                      {"file", obj},
                                      {"unit", "cm"},
                                      {"scale", 2},
                                      {"rotation", {0, 0, 90}},
                                      {"position", {0, 0, 1}}}});
  const auto open = lux::calculate(build(scene.dump()), {})[0];
  const auto box = lux::calculate(build(with_box.dump()), {})[0];
  const auto mesh = lux::calculate(build(with_mesh.dump()), {})[0];
  ASSERT_EQ(box.lux.size(), mesh.lux.size());
  int shaded = 0;
  double worst = 0;
  for (size_t p = 0; p < box.lux.size(); ++p) {
    if (box.lux[p] < 0.99 * open.lux[p]) ++shaded;
    worst = std::max(worst, std::fabs(box.lux[p] - mesh.lux[p]) / open.lux[p]);
  }
  EXPECT_GT(shaded, 30) << "the box must shade part of the floor";
  EXPECT_LE(worst, 2.0 / 32) << "at most a sample or two may graze an edge differently";
  EXPECT_NEAR(mesh.stats.avg, box.stats.avg, 1e-3 * box.stats.avg);
  EXPECT_LT(mesh.stats.avg, 0.97 * open.stats.avg);
}

// The same box with every face written with corners of its own, as
// exporters often write them (the calculator must join them to see a
// solid); `inwards` turns every face round, as a room is modelled.
std::string obj_box_faces_apart(Vec3Box b, bool inwards = false) {
  std::ostringstream o;
  const double x[2] = {b.x0, b.x1}, y[2] = {b.y0, b.y1}, z[2] = {b.z0, b.z1};
  const auto corner = [&](int k) {
    return std::to_string(x[k & 1]) + " " + std::to_string(y[(k >> 1) & 1]) + " " +
           std::to_string(z[(k >> 2) & 1]);
  };
  const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  int next = 1;
  for (const auto& f : faces) {
    for (int k = 0; k < 4; ++k) o << "v " << corner(f[k]) << "\n";
    if (inwards) {
      o << "f " << next + 3 << " " << next + 2 << " " << next + 1 << " " << next << "\n";
    } else {
      o << "f " << next << " " << next + 1 << " " << next + 2 << " " << next + 3 << "\n";
    }
    next += 4;
  }
  return o.str();
}

// The generalised winding number of a mesh part: 1 inside a closed box
// whose faces point out (whether its faces share corners or not), 0
// outside, −1 inside one turned inwards (a room), and never above one half
// near an open sheet.
TEST(LuxMeshMasking, WindingNumberOfClosedAndOpenParts) {
  const Files files("winding");
  const auto parts_of = [&](const std::string& text) {
    const lux::MeshData m = lux::load_obj(files.write("part.obj", text), {}, {}, 0.5);
    return lux::mesh_parts(m);
  };
  const Vec3Box box{0, 1, 0, 2, 0, 0.75};
  const struct {
    const char* what;
    std::string obj;
    size_t parts;
    double inside;
  } cases[] = {{"shared corners", obj_box(0, 1, 0, 2, 0, 0.75), 1, 1.0},
               {"faces apart", obj_box_faces_apart(box), 1, 1.0},
               {"turned inwards", obj_box_faces_apart(box, true), 1, -1.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto parts = parts_of(c.obj);
    ASSERT_EQ(parts.size(), c.parts);
    EXPECT_NEAR(lux::winding_number(parts[0], {0.5, 1, 0.3}), c.inside, 1e-9);
    EXPECT_NEAR(lux::winding_number(parts[0], {1.7, 1, 0.3}), 0, 1e-9);
    EXPECT_NEAR(lux::winding_number(parts[0], {0.5, -3, 2}), 0, 1e-9);
  }
  // Two boxes apart are two parts; a single quad is an open sheet.
  EXPECT_EQ(parts_of(obj_box(0, 1, 0, 1, 0, 1) + obj_box_faces_apart({3, 4, 0, 1, 0, 1})).size(),
            2u);
  const auto sheet = parts_of("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  ASSERT_EQ(sheet.size(), 1u);
  for (const double h : {1e-4, -1e-4, 0.3})
    EXPECT_LT(std::fabs(lux::winding_number(sheet[0], {0.5, 0.5, h})), 0.5) << h;
  EXPECT_FALSE(lux::inside_or_on(sheet[0], {0.5, 0.5, 0}, 1e-3));
}

// A mesh desk standing on the floor masks the floor points under it, and a
// mesh shelf against a wall the wall points behind it, exactly as boxes of
// the same extent do; an open sheet on the floor and a room modelled as an
// inward-facing box mask nothing.
TEST_F(LuxTest, MeshSolidsMaskThePointsTheyStandOn) {
  const Files files("masking");
  const Vec3Box desk{-0.8, 0.2, -0.4, 0.4, 0, 0.75}, shelf{-1.0, 0.6, 1.1, 1.5, 0, 1.2};
  json scene = {{"samples", 4}};
  scene["lights"] = json::array({rectangle_light()});
  scene["surfaces"] = json::array({floor_surface(0.15), json{{"name", "wall"},
                                                             {"corner", {-1.5, 1.5, 0}},
                                                             {"u", {3, 0, 0}},
                                                             {"v", {0, 0, 2}},
                                                             {"spacing", 0.15},
                                                             {"normal", {0, -1, 0}}}});
  json boxes = scene, meshes = scene;
  const auto box = [](const char* name, const Vec3Box& b) {
    return json{
        {"name", name}, {"shape", "box"}, {"min", {b.x0, b.y0, b.z0}}, {"max", {b.x1, b.y1, b.z1}}};
  };
  boxes["occluders"] = json::array({box("desk", desk), box("shelf", shelf)});
  meshes["meshes"] = json::array(
      {{{"name", "desk"}, {"file", files.write("desk.obj", obj_box_faces_apart(desk))}},
       {{"name", "shelf"},
        {"file", files.write("shelf.obj",
                             obj_box(shelf.x0, shelf.x1, shelf.y0, shelf.y1, shelf.z0, shelf.z1))}},
       {{"name", "rug"},
        {"file", files.write("rug.obj", "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nf 1 2 3 4\n")}},
       {{"name", "room"},
        {"file",
         files.write("room.obj", obj_box_faces_apart({-1.5, 1.5, -1.5, 1.5, 0, 2.6}, true))}}});
  const auto by_boxes = lux::calculate(build(boxes.dump()), {});
  const auto by_meshes = lux::calculate(build(meshes.dump()), {});
  ASSERT_EQ(by_boxes.size(), 2u);
  ASSERT_EQ(by_meshes.size(), 2u);
  for (size_t s = 0; s < 2; ++s) {
    SCOPED_TRACE(by_boxes[s].name);
    EXPECT_EQ(by_meshes[s].grid.state, by_boxes[s].grid.state);
    EXPECT_GT(by_boxes[s].stats.masked, 4u);
    EXPECT_EQ(by_meshes[s].stats.masked, by_boxes[s].stats.masked);
    // The same points in the figures, shaded alike: the open rug and room
    // neither mask nor shade.
    EXPECT_NEAR(by_meshes[s].stats.avg, by_boxes[s].stats.avg, 0.01 * by_boxes[s].stats.avg);
  }
}

// Placement and materials: a file's vertices land where unit, scale,
// rotation and position put them, and a face reflects the Y of its
// material's diffuse colour unless the scene overrides it.
TEST_F(LuxTest, MeshPlacementAndMaterials) {
  const Files files("materials");
  files.write("paint.mtl", "newmtl red\nKd 1 0 0\nnewmtl grey\nKd 0.5 0.5 0.5\n");
  std::string text = obj_box(0, 100, 0, 100, 0, 100, "paint.mtl", "red");
  text += "usemtl grey\nf 1 2 4\n";
  const std::string obj = files.write("desk.obj", text);
  json scene = {{"lights", json::array({rectangle_light()})},
                {"surfaces", json::array({floor_surface(1.0)})}};
  scene["meshes"] = json::array({{{"name", "desk"},
                                  {"file", obj},
                                  {"unit", "mm"},
                                  {"scale", 10},
                                  {"rotation", {90, 0, 0}},
                                  {"position", {1, 2, 3}}}});
  build(scene.dump());
  const lux::MeshData& m = scene_->meshes.at(0).mesh;
  ASSERT_EQ(m.triangles.size(), 13u);
  // File vertex 8 is (100, 100, 100) mm × 10 = (1, 1, 1) m; a quarter turn
  // about x takes it to (1, −1, 1), then it moves by (1, 2, 3).
  EXPECT_NEAR(m.vertices[7].x, 2, 1e-12);
  EXPECT_NEAR(m.vertices[7].y, 1, 1e-12);
  EXPECT_NEAR(m.vertices[7].z, 4, 1e-12);
  EXPECT_NEAR(m.reflectance[0], 0.2126, 1e-7) << "red: its luminance share";
  EXPECT_NEAR(m.reflectance[12], 0.5, 1e-7) << "grey";

  scene["meshes"][0]["materials"] = {{"red", 0.7}};
  build(scene.dump());
  EXPECT_EQ(scene_->meshes.at(0).mesh.reflectance[0], 0.7);
  EXPECT_NEAR(scene_->meshes.at(0).mesh.reflectance[12], 0.5, 1e-7);
}

// A mesh's surface for light transport: the faces of a box (each cut in
// two triangles) merge into its six sides, facing out; a lattice of
// triangles merges into the square it tiles; pieces that do not make up a
// convex polygon, or differ in material, stay apart; area is kept.
TEST_F(LuxTest, MeshFacesMergeIntoConvexPieces) {
  const Files files("faces");
  json scene = {{"lights", json::array({rectangle_light()})},
                {"surfaces", json::array({floor_surface(1.0)})}};
  scene["meshes"] = json::array(
      {{{"name", "box"}, {"file", files.write("box.obj", obj_box(0, 2, 0, 1, 0, 0.5))}}});
  build(scene.dump());
  const auto sides = lux::mesh_faces(scene_->meshes.at(0).mesh);
  ASSERT_EQ(sides.size(), 6u);
  double area = 0;
  for (const auto& f : sides) {
    EXPECT_EQ(f.polygon.size(), 4u);
    lux::Vec3 centre{};
    for (const auto& p : f.polygon) centre = centre + p * 0.25;
    EXPECT_GT(lux::dot(f.normal, centre - lux::Vec3{1, 0.5, 0.25}), 0) << "faces outwards";
    area += f.area;
  }
  EXPECT_NEAR(area, 2 * (2 * 1 + 2 * 0.5 + 1 * 0.5), 1e-12);

  // A 2 × 2 lattice of unit squares at z = 0, each cut in two.
  lux::MeshData lattice;
  for (int j = 0; j <= 2; ++j)
    for (int i = 0; i <= 2; ++i) lattice.vertices.push_back({double(i), double(j), 0});
  for (uint32_t j = 0; j < 2; ++j)
    for (uint32_t i = 0; i < 2; ++i) {
      const uint32_t a = j * 3 + i;
      lattice.triangles.push_back({a, a + 1, a + 4});
      lattice.triangles.push_back({a, a + 4, a + 3});
    }
  lattice.reflectance.assign(8, 0.5);
  const auto whole = lux::mesh_faces(lattice);
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].polygon.size(), 4u) << "the corners in line along the edges are dropped";
  EXPECT_NEAR(whole[0].area, 4, 1e-12);
  EXPECT_NEAR(whole[0].normal.z, 1, 1e-12);

  lux::MeshData l_shape = lattice;  // without the top right square: not convex
  l_shape.triangles.resize(6);
  l_shape.reflectance.resize(6);
  EXPECT_EQ(lux::mesh_faces(l_shape).size(), 6u);

  lux::MeshData two_materials = lattice;
  two_materials.reflectance[7] = 0.2;
  const auto parts = lux::mesh_faces(two_materials);
  double parts_area = 0;
  for (const auto& f : parts) parts_area += f.area;
  EXPECT_GT(parts.size(), 1u);
  EXPECT_NEAR(parts_area, 4, 1e-12);
}

// Malformed mesh files are refused with the file and the line at fault.
TEST_F(LuxTest, BadMeshFilesAreNamedWithTheirLine) {
  const Files files("bad");
  files.write("ok.mtl", "newmtl wood\nKd 0.4 0.3 0.2\n");
  files.write("bad.mtl", "newmtl wood\nKd 0.4 zero 0.2\n");
  files.write("white.mtl", "newmtl snow\nKd 1 1 1\n");
  const std::string box = obj_box(0, 1, 0, 1, 0, 1);
  struct Case {
    const char* what;
    std::string obj;   // empty: no file at all
    std::string says;  // in the message, after the file name
  };
  const Case cases[] = {
      {"missing file", "", "mesh file not found"},
      {"vertex not a number", "v 0 0 0\nv 1 O 0\n", ".obj:2: vertex coordinate \"O\""},
      {"face beyond the vertices", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n",
       ".obj:4: face names vertex 4"},
      {"face of two corners", "v 0 0 0\nv 1 0 0\nf 1 2\n", ".obj:3: a face needs"},
      {"missing library", "# desk\nmtllib gone.mtl\n" + box, ".obj:2: material library"},
      {"unknown material", "mtllib ok.mtl\nusemtl oak\n" + box, ".obj:2: material \"oak\""},
      {"malformed library", "mtllib bad.mtl\n" + box, "bad.mtl:2: \"Kd\""},
      {"no faces", "v 0 0 0\nv 1 0 0\nv 0 1 0\n", "the mesh has no faces"},
      {"unknown statement", "v 0 0 0\nvx 1 0 0\n", ".obj:2: unknown statement"},
      {"material reflecting everything", "mtllib white.mtl\nusemtl snow\n" + box,
       "material \"snow\" reflects 1"},
  };
  for (const Case& c : cases) {
    const std::string obj =
        c.obj.empty() ? (fs::temp_directory_path() / "zel_lux_mesh_bad" / "none.obj").string()
                      : files.write("m.obj", c.obj);
    json scene = {{"lights", json::array({rectangle_light()})},
                  {"surfaces", json::array({floor_surface(1.0)})},
                  {"meshes", json::array({{{"name", "shelf"}, {"file", obj}}})}};
    try {
      build(scene.dump());
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const lux::Error& e) {
      const std::string m = e.what();
      EXPECT_NE(m.find("mesh \"shelf\""), std::string::npos) << c.what << ": " << m;
      EXPECT_NE(m.find(c.says), std::string::npos) << c.what << ": " << m;
    }
  }
  json scene = {{"lights", json::array({rectangle_light()})},
                {"surfaces", json::array({floor_surface(1.0)})},
                {"meshes", json::array({{{"name", "shelf"},
                                         {"file", files.write("m.obj", "mtllib ok.mtl\n" + box)},
                                         {"materials", {{"pine", 0.5}}}}})}};
  EXPECT_THROW(build(scene.dump()), lux::Error) << "an override of a material the file lacks";
  scene["meshes"][0]["materials"] = {{"wood", 1.0}};
  EXPECT_THROW(build(scene.dump()), lux::Error) << "an override reflecting everything";
}

// An L-shaped floor is the two rectangles that tile it: the same points
// with the same values, so the same statistics; a floor around a column
// leaves out exactly the points of the column.
TEST_F(LuxTest, PolygonAreaIsTheUnionOfItsTiles) {
  json scene = {{"samples", 16}, {"lights", json::array({rectangle_light()})}};
  const auto corner = [](double x, double y) { return json::array({x, y, 0.0}); };
  scene["surfaces"] = json::array(
      {{{"name", "L"},
        {"polygon",
         {corner(-1, -1), corner(1, -1), corner(1, 0), corner(0, 0), corner(0, 1), corner(-1, 1)}},
        {"spacing", 0.25}},
       {{"name", "south"},
        {"corner", {-1, -1, 0}},
        {"u", {2, 0, 0}},
        {"v", {0, 1, 0}},
        {"spacing", 0.25}},
       {{"name", "north-west"},
        {"corner", {-1, 0, 0}},
        {"u", {1, 0, 0}},
        {"v", {0, 1, 0}},
        {"spacing", 0.25}},
       {{"name", "around column"},
        {"polygon", {corner(-1, -1), corner(1, -1), corner(1, 1), corner(-1, 1)}},
        {"holes", {{corner(-0.5, -0.5), corner(-0.5, 0), corner(0, 0), corner(0, -0.5)}}},
        {"spacing", 0.25}}});
  const auto r = lux::calculate(build(scene.dump()), {});
  const auto& L = r[0];
  std::vector<double> tiles = r[1].lux;
  tiles.insert(tiles.end(), r[2].lux.begin(), r[2].lux.end());
  const lux::Stats t = lux::stats_of(tiles);
  EXPECT_EQ(lux::counted(L.grid, L.lux).size(), 48u);
  EXPECT_EQ(L.stats.min, t.min);
  EXPECT_EQ(L.stats.max, t.max);
  EXPECT_NEAR(L.stats.avg, t.avg, 1e-12 * t.avg);
  EXPECT_NEAR(L.stats.u0, t.u0, 1e-12);
  EXPECT_EQ(lux::counted(r[3].grid, r[3].lux).size(), 64u - 4u) << "the column hides 2 × 2";

  // The table lists only the points inside.
  const std::string csv = lux::grid_csv(L, {"panel"});
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 48);
}

TEST_F(LuxTest, BadPolygonsAreRefusedByName) {
  const auto corner = [](double x, double y, double z = 0) { return json::array({x, y, z}); };
  struct Case {
    const char* what;
    json polygon, holes;
    const char* says;
  };
  const json square = {corner(0, 0), corner(2, 0), corner(2, 2), corner(0, 2)};
  const Case cases[] = {
      {"not flat",
       {corner(0, 0), corner(2, 0), corner(2, 2, 0.1), corner(0, 2)},
       json(),
       "not flat"},
      {"bow tie", {corner(0, 0), corner(2, 2), corner(2, 0), corner(0, 3)}, json(), "crosses"},
      {"two corners", {corner(0, 0), corner(2, 0)}, json(), "fewer than three"},
      {"no area", {corner(0, 0), corner(1, 0), corner(2, 0)}, json(), "no area"},
      {"hole outside", square, {{corner(3, 3), corner(4, 3), corner(4, 4)}}, "outside"},
      {"hole across the edge", square, {{corner(1, 1), corner(3, 1), corner(3, 1.5)}}, "cross"},
  };
  for (const Case& c : cases) {
    json s = {{"name", "atrium"}, {"polygon", c.polygon}, {"spacing", 0.5}};
    if (!c.holes.is_null()) s["holes"] = c.holes;
    const json scene = {{"lights", json::array({rectangle_light()})},
                        {"surfaces", json::array({s})}};
    try {
      lux::parse_scene(scene.dump(), "test.json", ".");
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const lux::Error& e) {
      const std::string m = e.what();
      EXPECT_NE(m.find("surface \"atrium\""), std::string::npos) << c.what << ": " << m;
      EXPECT_NE(m.find(c.says), std::string::npos) << c.what << ": " << m;
    }
  }
}

// Points listed at a grid's positions, in another order and with names,
// get the grid's values exactly, and are reported in the order given.
TEST_F(LuxTest, PointListReproducesTheGrid) {
  const Files files("points");
  json scene = {{"samples", 8}, {"lights", json::array({rectangle_light()})}};
  scene["surfaces"] = json::array({floor_surface(0.5)});
  const auto grid = lux::calculate(build(scene.dump()), {})[0];
  std::string csv = "x,y,z,nx,ny,nz,name\n";
  for (size_t k = grid.grid.points.size(); k-- > 0;) {
    char line[200];
    const lux::Vec3 p = grid.grid.points[k];
    std::snprintf(line, sizeof line, "%.17g, %.17g, %.17g, 0, 0, 2, p%zu\n", p.x, p.y, p.z, k);
    csv += line;
  }
  scene["points"] = json::array({{{"name", "desks"}, {"file", files.write("desks.csv", csv)}}});
  const auto results = lux::calculate(build(scene.dump()), {});
  ASSERT_EQ(results.size(), 2u);
  const auto& listed = results[1];
  ASSERT_EQ(listed.lux.size(), grid.lux.size());
  for (size_t k = 0; k < listed.lux.size(); ++k)
    EXPECT_EQ(listed.lux[k], grid.lux[grid.lux.size() - 1 - k]) << "point " << k;
  const std::string table = lux::grid_csv(listed, {"panel"});
  EXPECT_NE(table.find("1,p35,"), std::string::npos) << table.substr(0, 200);
}

TEST_F(LuxTest, BadPointListsAreNamedWithTheirLine) {
  struct Case {
    const char* what;
    std::string text;
    const char* says;
  };
  const Case cases[] = {
      {"too few fields", "x,y,z,nx,ny,nz\n0,0,0,0,0,1\n1,1,0,0,1\n", "pts.csv:3: expected"},
      {"not a number", "0,0,0,0,0,1\n1,one,0,0,0,1\n", "pts.csv:2: \"one\" is not a number"},
      {"zero normal", "0,0,0,0,0,0\n", "pts.csv:1: the normal"},
      {"nothing", "x,y,z,nx,ny,nz\n\n", "holds no points"},
  };
  for (const Case& c : cases) {
    try {
      lux::parse_points(c.text, "pts.csv");
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const lux::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
}

}  // namespace
