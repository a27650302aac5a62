// Scene, mesh, material and point-list files written to break what the
// calculator gained since its first hostile round (rooms, meshes and
// materials, point lists, arrays, task and cylindrical areas, observers,
// flux): each is refused with a message that names the file and the element
// and quotes nothing of a foreign file, or read right.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/metrics/glare.h"
#include "tools/lux/report/outputs.h"
#include "tools/lux/scene/input_file.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using zeltest::LuxTest;

void expect_refused(const std::string& message, const char* what,
                    const std::vector<std::string>& named) {
  ASSERT_FALSE(message.empty()) << what << ": accepted";
  for (const auto& piece : named)
    EXPECT_NE(message.find(piece), std::string::npos)
        << what << ": \"" << message << "\" does not name " << piece;
}

json lamp() { return {{"name", "lamp"}, {"position", {0.5, 0.5, 2}}}; }
json floor_grid() {
  return {{"name", "floor"},
          {"corner", {0, 0, 0}},
          {"u", {1, 0, 0}},
          {"v", {0, 1, 0}},
          {"spacing", 0.5}};
}
json base_scene() { return {{"lights", {lamp()}}, {"surfaces", {floor_grid()}}}; }

// A scratch folder of files for one test, removed at its end.
class HostileFiles : public LuxTest {
 protected:
  void SetUp() override {
    LuxTest::SetUp();
    dir_ = fs::temp_directory_path() / ("lux_hostile_inputs_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "scene");
  }
  void TearDown() override {
    fs::remove_all(dir_);
    LuxTest::TearDown();
  }
  // Writes `text` at `name` under the test's folder; returns its path.
  std::string write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  // Reads a scene as if it were the file scene/test.json.
  lux::Scene read(const json& scene, const lux::ReadOptions& options = {}) {
    return lux::parse_scene(scene.dump(), "test.json", dir_ / "scene", options);
  }
  fs::path dir_;
};

const std::string kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

// Geometry beyond what the host's single precision holds is refused with
// the element, instead of being accepted and then missing (vertices at
// 1e20 cast no shadow, a mesh scaled by 1e300 gave a NaN balance, a map of
// cells of 1e-300 read far out of bounds).
TEST_F(HostileFiles, GeometryBeyondSinglePrecisionIsRefusedWithItsElement) {
  write("scene/far.obj", "v 1e20 0 0\nv 1e20 1 0\nv 1e20 0 1\nf 1 2 3\n");
  write("scene/hex.obj", "v 0x1p1 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  write("scene/inf.obj", "v inf 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  write("scene/unit.obj", kTriangle);
  write("scene/far.csv", "0,0,0,0,0,1\n1e20,0,0,0,0,1\n");
  struct Case {
    const char* what;
    std::function<void(json&)> edit;
    std::vector<std::string> named;
  };
  const Case cases[] = {
      {"a light at 1e20",
       [](json& s) {
         s["lights"][0]["position"] = {1e20, 0, 2};
       },
       {"light \"lamp\"", "\"position\"", "100 km"}},
      {"a surface's corner at 1e9",
       [](json& s) {
         s["surfaces"][0]["corner"] = {1e9, 0, 0};
       },
       {"surface \"floor\"", "\"corner\""}},
      {"a standard grid on a 1e300 m surface",
       [](json& s) {
         s["surfaces"][0]["u"] = {1e300, 0, 0};
         s["surfaces"][0]["spacing"] = "standard";
       },
       {"surface \"floor\"", "100 km"}},
      {"a task area of 1e-300",
       [](json& s) {
         s["surfaces"][0]["task_areas"] = {
             {{"name", "desk"}, {"corner", {0.2, 0.2, 0}}, {"size", {1e-300, 0.5}}}};
       },
       {"task area \"desk\"", "\"size\" along u", "single precision"}},
      {"a spacing of 1e-300",
       [](json& s) { s["surfaces"][0]["spacing"] = 1e-300; },
       {"surface \"floor\"", "\"spacing\"", "single precision"}},
      {"a room of 1e300 m",
       [](json& s) {
         s["room"] = {{"size", {1e300, 4, 3}}};
       },
       {"room", "100 km"}},
      {"an observer 10,000 km away",
       [](json& s) {
         s["observers"] = {
             {{"name", "eye"}, {"position", {1e7, 0, 1.2}}, {"directions", {{1, 0, 0}}}}};
       },
       {"observer \"eye\"", "\"position\""}},
      {"an eye height of 1e300",
       [](json& s) {
         s["cylindrical"] = {{{"name", "c"},
                              {"corner", {0, 0, 0}},
                              {"u", {1, 0, 0}},
                              {"v", {0, 1, 0}},
                              {"spacing", 0.5},
                              {"heights", {1e300}}}};
       },
       {"cylindrical area \"c\"", "\"heights\""}},
      {"a polygon corner at 1e20",
       [](json& s) {
         s["surfaces"][0].erase("corner");
         s["surfaces"][0].erase("u");
         s["surfaces"][0].erase("v");
         s["surfaces"][0]["polygon"] = {{0, 0, 0}, {1e20, 0, 0}, {0, 1, 0}};
       },
       {"surface \"floor\"", "corner 2"}},
      {"mesh vertices at 1e20",
       [](json& s) {
         s["meshes"] = {{{"name", "m"}, {"file", "far.obj"}}};
       },
       {"mesh \"m\"", "far.obj:1:", "100 km"}},
      {"a mesh scaled by 1e300",
       [](json& s) {
         s["meshes"] = {{{"name", "m"}, {"file", "unit.obj"}, {"scale", 1e300}}};
       },
       {"mesh \"m\"", "unit.obj:2:", "once placed"}},
      {"a hexadecimal coordinate",
       [](json& s) {
         s["meshes"] = {{{"name", "m"}, {"file", "hex.obj"}}};
       },
       {"mesh \"m\"", "hex.obj:1:", "\"0x1p1\" is not a number"}},
      {"an infinite coordinate",
       [](json& s) {
         s["meshes"] = {{{"name", "m"}, {"file", "inf.obj"}}};
       },
       {"inf.obj:1:", "\"inf\" is not a number"}},
      {"a listed point at 1e20",
       [](json& s) {
         s["points"] = {{{"name", "p"}, {"file", "far.csv"}}};
       },
       {"point list \"p\"", "far.csv:2:", "100 km"}},
  };
  for (const Case& c : cases) {
    json scene = base_scene();
    c.edit(scene);
    expect_refused(refusal([&] { read(scene); }), c.what, c.named);
  }
  // Within reach stays allowed: a 10 km room is read (what it costs is the
  // estimate's business), and so is a task area of a tenth of a millimetre.
  json room = base_scene();
  room["surfaces"][0]["name"] = "work plane";
  room["room"] = {{"size", {1e4, 1e4, 3}}, {"spacing", 100}};
  EXPECT_NO_THROW(read(room));
  json task = base_scene();
  task["surfaces"][0]["task_areas"] = {
      {{"name", "pin"}, {"corner", {0.2, 0.2, 0}}, {"size", {1e-4, 1e-4}}}};
  EXPECT_NO_THROW(read(task));
}

// A direction is a direction whatever its length: components whose squares
// overflow or underflow a double keep their direction (they became (0, 0, 0)).
TEST_F(HostileFiles, DirectionsOfAnyLengthKeepTheirDirection) {
  write("scene/normals.csv", "0,0,0,0,0,1e300\n0,0,0,1e-300,0,0\n");
  json scene = base_scene();
  scene["lights"][0]["aim"] = {0, 1e300, -1e300};
  scene["lights"][1] = lamp();
  scene["lights"][1]["name"] = "tiny";
  scene["lights"][1]["aim"] = {1e-300, 0, -1e-300};
  scene["surfaces"][0]["normal"] = {0, 0, 1e308};
  scene["observers"] = {
      {{"name", "eye"}, {"position", {0.5, 0.5, 1.2}}, {"directions", {{1e300, 1e300, 0}}}}};
  scene["points"] = {{{"name", "p"}, {"file", "normals.csv"}}};
  const lux::Scene s = read(scene);
  const double h = std::sqrt(0.5);
  const auto near = [](lux::Vec3 a, lux::Vec3 b) { return lux::length(a - b) < 1e-12; };
  EXPECT_TRUE(near(s.lights[0].aim, {0, h, -h}));
  EXPECT_TRUE(near(s.lights[1].aim, {h, 0, -h}));
  EXPECT_TRUE(near(s.surfaces[0].normal, {0, 0, 1}));
  EXPECT_TRUE(near(s.observers[0].directions[0], {h, h, 0}));
  EXPECT_TRUE(near(s.point_lists[0].points[0].normal, {0, 0, 1}));
  EXPECT_TRUE(near(s.point_lists[0].points[1].normal, {1, 0, 0}));
  // No direction at all is still refused.
  json zero = base_scene();
  zero["lights"][0]["aim"] = {0, 0, 0};
  expect_refused(refusal([&] { read(zero); }), "a zero aim", {"\"aim\"", "zero vector"});
}

// A UTF-8 byte-order mark before the first line belongs to no line: the
// first point of a list is kept (it was taken for a header), a mesh's first
// vertex read, and a scene's keys still checked.
TEST_F(HostileFiles, ByteOrderMarksAreNotPartOfTheFirstLine) {
  const std::string bom = "\xEF\xBB\xBF";
  write("scene/p.csv", bom + "0,0,0,0,0,1\n0.5,0.5,0,0,0,1\n");
  write("scene/m.obj", bom + kTriangle);
  json scene = base_scene();
  scene["points"] = {{{"name", "p"}, {"file", "p.csv"}}};
  scene["meshes"] = {{{"name", "m"}, {"file", "m.obj"}}};
  const lux::Scene s = read(scene);
  ASSERT_EQ(s.point_lists[0].points.size(), 2u);
  EXPECT_EQ(s.point_lists[0].points[0].position.x, 0.0);
  EXPECT_EQ(s.meshes[0].mesh.triangles.size(), 1u);
  const std::string twice = bom + "{\"samples\": 1,\n\"samples\": 2}";
  expect_refused(refusal([&] { lux::parse_scene(twice, "test.json", "."); }), "a repeated key",
                 {"test.json:2:", "\"samples\"", "lines 1 and 2"});
}

// Names head table columns, name files and appear in reports: a line break,
// NUL or tab in one is refused (it broke CSV rows), and the refusal does not
// print it; names from a point list must be text. Names with separators and
// quotes are quoted in the tables as RFC 4180 has it.
TEST_F(HostileFiles, NamesWithControlCharactersAreRefusedAndOthersQuoted) {
  write("scene/cr.csv", "0,0,0,0,0,1,desk\r1\n");
  write("scene/latin1.csv", "0,0,0,0,0,1,caf\xE9\n");
  struct Case {
    const char* what;
    std::function<void(json&)> edit;
    std::vector<std::string> named;
  };
  const Case cases[] = {
      {"a carriage return in a light's name",
       [](json& s) { s["lights"][0]["name"] = "lamp\r2"; },
       {"light 1", "control character"}},
      {"a NUL in a surface's name",
       [](json& s) { s["surfaces"][0]["name"] = std::string("fl\0or", 5); },
       {"surface 1", "control character"}},
      {"a carriage return in a listed point's name",
       [](json& s) {
         s["points"] = {{{"name", "p"}, {"file", "cr.csv"}}};
       },
       {"point list \"p\"", "cr.csv:1:", "control character"}},
      {"a listed point's name that is not UTF-8",
       [](json& s) {
         s["points"] = {{{"name", "p"}, {"file", "latin1.csv"}}};
       },
       {"latin1.csv:1:", "not UTF-8"}},
  };
  for (const Case& c : cases) {
    json scene = base_scene();
    c.edit(scene);
    const std::string message = refusal([&] { read(scene); });
    expect_refused(message, c.what, c.named);
    EXPECT_EQ(message.find_first_of(std::string("\r\n\t\0", 4)), std::string::npos) << c.what;
  }
  // A light named with a comma and quotes heads a quoted column.
  const std::string scene_file = write("scene/q.json", R"({"samples": 1,
    "lights": [{"name": "a,\"b\"", "position": [0.5, 0.5, 2]}],
    "surfaces": [{"name": "floor", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0],
                  "spacing": 0.5}]})");
  const LuxOutcome run =
      run_lux({scene_file, "-o", (dir_ / "out").string(), "-q", "--no-pictures"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::ifstream csv(dir_ / "out" / "floor.csv");
  std::string header;
  std::getline(csv, header);
  EXPECT_NE(header.find(",\"E_a,\"\"b\"\"\","), std::string::npos) << header;
}

// A long name still makes a file name the file system takes; names that
// begin alike keep files of their own.
TEST_F(HostileFiles, LongNamesMakeFileNamesThatCanBeWritten) {
  const std::string long_name(300, 'w');
  json scene = base_scene();
  scene["samples"] = 1;
  scene["surfaces"][0]["name"] = long_name + "1";
  scene["surfaces"][1] = floor_grid();
  scene["surfaces"][1]["name"] = long_name + "2";
  const std::string file = write("scene/long.json", scene.dump());
  const LuxOutcome run = run_lux({file, "-o", (dir_ / "out").string(), "-q", "--no-pictures"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string stem(lux::kLongestSlug, 'w');
  EXPECT_TRUE(fs::exists(dir_ / "out" / (stem + ".csv")));
  EXPECT_TRUE(fs::exists(dir_ / "out" / (stem + "-2.csv")));
}

// Numbers that leave the range of what they feed: a subnormal maintenance
// factor (its new values printed inf), a flux whose scale factor leaves
// single precision (the light went dark while the summary claimed the
// flux), a memory bound beyond 64 bits (read as 0.0 GB).
TEST_F(HostileFiles, NumbersThatOverflowWhatTheyFeedAreRefusedOrHeld) {
  json scene = base_scene();
  scene["maintenance_factor"] = 1e-310;
  expect_refused(refusal([&] { read(scene); }), "a subnormal maintenance factor",
                 {"\"maintenance_factor\"", "0.01"});
  scene = base_scene();
  scene["lights"][0]["maintenance_factor"] = 0.001;
  expect_refused(refusal([&] { read(scene); }), "a light's factor of 0.001",
                 {"light \"lamp\"", "\"maintenance_factor\""});

  scene = base_scene();
  scene["lights"][0]["flux"] = 1e300;
  expect_refused(refusal([&] { build(scene.dump()); }), "flux 1e300",
                 {"light \"lamp\"", "\"flux\"", "\"intensity\"", "single precision"});
  // A flux the fields hold is met: the light emits what was asked.
  scene["lights"][0]["flux"] = 1e30;
  lux::Model& model = build(scene.dump());
  EXPECT_NEAR(model.lights()[0].photometry["flux"]["after_lm"].get<double>(), 1e30, 1e27);

  scene = base_scene();
  scene["samples"] = 1;
  const std::string file = write("scene/mem.json", scene.dump());
  const LuxOutcome run =
      run_lux({file, "-o", (dir_ / "out").string(), "-q", "--no-pictures", "--max-memory", "1e30"});
  EXPECT_EQ(run.status, 0) << run.err;
}

// Material libraries are read as the check reads them: an absolute path
// (checked, then never loaded: 0.5 instead of the file's reflectance), a
// library named 20,000 times (read once), two libraries on one line (the
// second was dropped) and Kd with one value (grey, not red).
TEST_F(HostileFiles, MaterialLibrariesAreReadAsNamedAndOnce) {
  const std::string white = write("elsewhere/white.mtl", "newmtl paint\nKd 0.9 0.9 0.9\n");
  write("scene/a.mtl", "newmtl oak\nKd 0.4 0.3 0.2\n");
  write("scene/b.mtl", "newmtl grey\nKd 0.25\n");
  std::string many;
  for (int k = 0; k < 20000; ++k) many += "mtllib a.mtl\n";
  struct Case {
    const char* what;
    std::string obj;
    double reflectance;
  };
  const Case cases[] = {
      {"an absolute library", "mtllib " + white + "\n" + "usemtl paint\n" + kTriangle, 0.9},
      {"a library named 20,000 times", many + "usemtl oak\n" + kTriangle,
       lux::luminous_reflectance(0.4, 0.3, 0.2)},
      {"two libraries on one line", "mtllib a.mtl b.mtl\nusemtl grey\n" + kTriangle, 0.25},
  };
  for (const Case& c : cases) {
    write("scene/m.obj", c.obj);
    json scene = base_scene();
    scene["meshes"] = {{{"name", "m"}, {"file", "m.obj"}}};
    const lux::Scene s = read(scene);
    ASSERT_EQ(s.meshes[0].mesh.reflectance.size(), 1u) << c.what;
    EXPECT_NEAR(s.meshes[0].mesh.reflectance[0], c.reflectance, 1e-12) << c.what;
  }
}

// Faces of many corners are cut in n log n of their corners: a concave face
// (a comb of 2000 teeth) into convex pieces that cover it exactly, facing
// the way its corners turn; a face whose edges cross is refused by line.
TEST_F(HostileFiles, FacesOfManyCornersAreCutExactly) {
  // A comb: teeth of width 1 and height 10 on a spine, counter-clockwise
  // about +z.
  constexpr int kTeeth = 2000;
  std::ostringstream obj;
  obj << "v 0 0 0\nv " << 2 * kTeeth - 1 << " 0 0\n";
  for (int t = kTeeth - 1; t >= 0; --t) {
    const int x0 = 2 * t, x1 = 2 * t + 1;
    obj << "v " << x1 << " 10 0\nv " << x0 << " 10 0\n";
    if (t > 0) obj << "v " << x0 << " 1 0\nv " << x0 - 1 << " 1 0\n";
  }
  const int corners = 2 + 2 * kTeeth + 2 * (kTeeth - 1);
  obj << "f";
  for (int k = 1; k <= corners; ++k) obj << " " << k;
  obj << "\n";
  write("scene/comb.obj", obj.str());
  json scene = base_scene();
  scene["meshes"] = {{{"name", "comb"}, {"file", "comb.obj"}}};
  const lux::Scene s = read(scene);
  const auto& mesh = s.meshes[0].mesh;
  double area = 0;
  for (const auto& t : mesh.triangles) {
    const lux::Vec3 n = lux::cross(mesh.vertices[t[1]] - mesh.vertices[t[0]],
                                   mesh.vertices[t[2]] - mesh.vertices[t[0]]);
    EXPECT_GE(n.z, 0) << "a triangle faces away from the face";
    area += 0.5 * n.z;
  }
  // The spine (2 kTeeth - 1 by 1) and the teeth above it (kTeeth of 1 by 9).
  EXPECT_NEAR(area, (2 * kTeeth - 1) + 9.0 * kTeeth, 1e-6);

  write("scene/bow.obj", "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 2 2 0\nv 1 3 0\nf 1 2 3 4 5\n");
  scene["meshes"] = {{{"name", "bow"}, {"file", "bow.obj"}}};
  expect_refused(refusal([&] { read(scene); }), "a face whose edges cross",
                 {"mesh \"bow\"", "bow.obj:6:", "cross"});
}

// A double-sided sheet of many small faces in one plane (a chequered mesh:
// no two neighbours merge) hides every face behind its twin, found by where
// it lies rather than by comparing every pair.
TEST(LuxHostileMeshFaces, DoubleSidedSheetsHideEachFaceBehindItsTwin) {
  constexpr int n = 40;
  lux::MeshData mesh;
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) mesh.vertices.push_back({double(i), double(j), 0});
  const auto at = [](int i, int j) { return uint32_t(j * (n + 1) + i); };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double rho = (i + j) % 2 == 0 ? 0.2 : 0.6;
      for (const bool up : {true, false}) {
        const uint32_t a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
        if (up) {
          mesh.triangles.push_back({a, b, c});
          mesh.triangles.push_back({a, c, d});
        } else {
          mesh.triangles.push_back({a, c, b});
          mesh.triangles.push_back({a, d, c});
        }
        mesh.reflectance.insert(mesh.reflectance.end(), {rho, rho});
      }
    }
  const auto faces = lux::mesh_faces(mesh);
  ASSERT_EQ(faces.size(), size_t(2 * n * n));  // each square merged, per side
  const auto hidden = lux::hidden_faces(faces);
  EXPECT_EQ(std::count(hidden.begin(), hidden.end(), true), 2 * n * n);
  // The same sheet facing up only hides nothing.
  lux::MeshData one = mesh;
  one.triangles.clear();
  one.reflectance.clear();
  for (size_t t = 0; t < mesh.triangles.size(); t += 4) {  // each square's upward pair
    one.triangles.insert(one.triangles.end(), {mesh.triangles[t], mesh.triangles[t + 1]});
    one.reflectance.insert(one.reflectance.end(), {mesh.reflectance[t], mesh.reflectance[t]});
  }
  const auto one_hidden = lux::hidden_faces(lux::mesh_faces(one));
  EXPECT_EQ(std::count(one_hidden.begin(), one_hidden.end(), true), 0);
}

// Polygons of many corners are checked and cut in one sweep: a circle of
// 100,000 corners is read and cut into pieces that cover it; crossings and
// touches are found however far apart in the list their edges are.
TEST(LuxHostilePolygons, ManyCornersAreCheckedAndCutInOneSweep) {
  constexpr int kCorners = 100000;
  std::vector<lux::Vec3> circle;
  for (int k = 0; k < kCorners; ++k) {
    const double a = 2 * M_PI * k / kCorners;
    circle.push_back({5 + 4 * std::cos(a), 5 + 4 * std::sin(a), 0.75});
  }
  const lux::PolygonArea area = lux::polygon_area(circle, {});
  double covered = 0;
  for (const auto& piece : lux::convex_pieces(area.rings))
    for (size_t i = 0; i < piece.size(); ++i) {
      const auto& p = piece[i];
      const auto& q = piece[(i + 1) % piece.size()];
      covered += 0.5 * (p[0] * q[1] - q[0] * p[1]);
    }
  EXPECT_NEAR(covered, 0.5 * kCorners * 16 * std::sin(2 * M_PI / kCorners), 1e-6);

  struct Case {
    const char* what;
    std::vector<lux::Vec3> outline;
    std::vector<std::vector<lux::Vec3>> holes;
    const char* says;
  };
  // A zigzag of many corners whose last edge returns across its first.
  std::vector<lux::Vec3> zigzag;
  for (int k = 0; k < 5000; ++k) zigzag.push_back({double(k), k % 2 == 0 ? 0.0 : 1.0, 0});
  zigzag.push_back({4999, -1, 0});
  zigzag.push_back({-1, 0.5, 0});
  const std::vector<lux::Vec3> square{{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
  const Case cases[] = {
      {"a zigzag closed across its first edge", zigzag, {}, "crosses itself"},
      {"a hole touching the outline at a corner",
       square,
       {{{0, 0, 0}, {2, 1, 0}, {1, 2, 0}}},
       "cross or touch"},
      {"a hole inside a hole",
       square,
       {{{1, 1, 0}, {9, 1, 0}, {9, 9, 0}, {1, 9, 0}}, {{2, 2, 0}, {3, 2, 0}, {3, 3, 0}}},
       "hole 2 lies inside hole 1"},
      {"a hole outside", square, {{{11, 1, 0}, {12, 1, 0}, {12, 2, 0}}}, "hole 1 lies outside"},
  };
  for (const Case& c : cases) {
    std::string message;
    try {
      lux::polygon_area(c.outline, c.holes);
    } catch (const std::invalid_argument& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(c.says), std::string::npos) << c.what << ": \"" << message << "\"";
  }
}

// Refusals name the file and the element: a key left out (it read as the
// JSON library's "key 'spacing' not found"), a polygon too thin to reflect
// (it read as the host's "mesh: no triangles"), a plug-in path the file
// system cannot take (a raw "filesystem error").
TEST_F(HostileFiles, RefusalsNameTheFileAndTheElement) {
  json scene = base_scene();
  scene["lights"][0]["array"] = {{"rows", 2}, {"columns", 3}};
  expect_refused(refusal([&] { read(scene); }), "an array without a spacing",
                 {"test.json: light \"lamp\": \"array\": missing \"spacing\""});
  scene = base_scene();
  scene["surfaces"][0] = {{"name", "sliver"},
                          {"spacing", 0.5},
                          {"role", "reflecting"},
                          {"polygon", {{0, 0, 0}, {1, 0, 0}, {0.5, 1e-10, 0}}}};
  const std::string sliver = refusal([&] { read(scene); });
  expect_refused(sliver, "a sliver reflecting", {"test.json: surface \"sliver\""});
  EXPECT_EQ(sliver.find("mesh:"), std::string::npos) << sliver;
  const std::string file = write("scene/ok.json", base_scene().dump());
  const LuxOutcome run =
      run_lux({file, "-q", "-o", (dir_ / "out").string(), "--plugin", std::string(5000, 'p')});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot load the plug-in"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("filesystem error"), std::string::npos) << run.err;
}

// A file that is not what a scene says it is (a password file as a mesh, a
// point list, a colour of a material library or a profile) is refused
// without showing more of it than its first few characters.
TEST_F(HostileFiles, ForeignFilesAreNotQuoted) {
  const std::string secret = "root:x:0:0:secret-password-hash:/root:/bin/bash\n";
  write("scene/passwd", secret + secret);
  write("scene/passwd.mtl", "newmtl a\nKd " + secret);
  write("scene/with-bad-kd.obj", "mtllib passwd.mtl\n" + kTriangle);
  write("scene/passwd.csv", "header\n" + secret);
  struct Case {
    const char* what;
    json entry;
    const char* key;
  };
  const Case cases[] = {
      {"as a mesh", {{"name", "m"}, {"file", "passwd"}}, "meshes"},
      {"as a point list", {{"name", "p"}, {"file", "passwd"}}, "points"},
      {"as a point list past its header", {{"name", "p"}, {"file", "passwd.csv"}}, "points"},
      {"as a colour of a library", {{"name", "m"}, {"file", "with-bad-kd.obj"}}, "meshes"},
  };
  for (const Case& c : cases) {
    json scene = base_scene();
    scene[c.key] = json::array({c.entry});
    const std::string message = refusal([&] { read(scene); });
    ASSERT_FALSE(message.empty()) << c.what;
    EXPECT_EQ(message.find("password"), std::string::npos) << c.what << ": " << message;
    EXPECT_EQ(message.find("/bin/bash"), std::string::npos) << c.what << ": " << message;
  }
  json profile = base_scene();
  profile["profiles"] = {{{"name", "p"}, {"file", "passwd"}}};
  profile["lights"][0]["shader"] = {{"use_profile", true}, {"profile_name", "p"}};
  const std::string message = refusal([&] { build(profile.dump()); });
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.find("password"), std::string::npos) << message;
}

// --confine keeps a scene's data files in its folder and below: a mesh, a
// material library, a point list or a profile elsewhere (by "..", by an
// absolute path or through a symbolic link) is refused before it is read.
TEST_F(HostileFiles, ConfineKeepsDataFilesInTheScenesFolder) {
  write("outside/m.obj", kTriangle);
  write("outside/a.mtl", "newmtl a\nKd 0.5 0.5 0.5\n");
  write("outside/p.csv", "0,0,0,0,0,1\n");
  write("outside/p.ies", "IESNA:LM-63-2002\nTILT=NONE\n");
  write("scene/inside.obj", kTriangle);
  write("scene/lib.obj", "mtllib ../outside/a.mtl\nusemtl a\n" + kTriangle);
  fs::create_symlink(dir_ / "outside" / "m.obj", dir_ / "scene" / "link.obj");
  const std::string absolute = (dir_ / "outside" / "m.obj").string();
  struct Case {
    const char* what;
    const char* key;
    json entry;
    const char* says;
  };
  const Case cases[] = {
      {"a mesh by ..", "meshes", {{"name", "m"}, {"file", "../outside/m.obj"}}, "mesh \"m\""},
      {"a mesh by an absolute path", "meshes", {{"name", "m"}, {"file", absolute}}, "mesh \"m\""},
      {"a mesh through a link", "meshes", {{"name", "m"}, {"file", "link.obj"}}, "mesh \"m\""},
      {"a material library by ..",
       "meshes",
       {{"name", "m"}, {"file", "lib.obj"}},
       "lib.obj:1: material library"},
      {"a point list", "points", {{"name", "p"}, {"file", "../outside/p.csv"}}, "point list \"p\""},
      {"a profile", "profiles", {{"name", "p"}, {"file", "../outside/p.ies"}}, "profile \"p\""},
  };
  for (const Case& c : cases) {
    json scene = base_scene();
    scene[c.key] = json::array({c.entry});
    expect_refused(refusal([&] { read(scene, {true}); }), c.what, {c.says, "--confine"});
    // Without --confine the same files are read (profiles only when built).
    if (std::string(c.key) != "profiles") {
      EXPECT_NO_THROW(read(scene)) << c.what;
    }
  }
  json scene = base_scene();
  scene["meshes"] = {{{"name", "m"}, {"file", "inside.obj"}}};
  EXPECT_NO_THROW(read(scene, {true}));
}

// The glare rating's background counts only what reflects: a scene whose
// only surface is a calculation plane has a dark background and no rating
// (it was rated 29.5 as if the plane reflected 0.5), and a reflecting floor
// gives the room estimate of its own area and reflectance.
TEST_F(LuxTest, GlareBackgroundCountsOnlyWhatReflects) {
  json scene = {
      {"samples", 4},
      {"lights",
       {{{"name", "panel"},
         {"shape", "rectangle"},
         {"size", {0.6, 0.6}},
         {"position", {2, 2, 3}},
         {"flux", 3000},
         {"shader", {{"intensity", 1000}, {"cosine_distribution", true}}}}}},
      {"surfaces",
       {{{"name", "work plane"},
         {"corner", {0, 0, 0}},
         {"u", {4, 0, 0}},
         {"v", {0, 4, 0}},
         {"spacing", 1}}}},
      {"observers", {{{"name", "eye"}, {"position", {0, 2, 1.2}}, {"directions", {{1, 0, 0}}}}}}};
  lux::GlareReport plane = lux::calculate_glare(build(scene.dump()), {});
  ASSERT_EQ(plane.results.size(), 1u);
  EXPECT_FALSE(plane.results[0].ugr);
  EXPECT_EQ(plane.room_reflectance, 0);
  EXPECT_NE(plane.note.find("nothing in the scene reflects"), std::string::npos) << plane.note;

  scene["surfaces"].push_back({{"name", "floor"},
                               {"corner", {0, 0, 0}},
                               {"u", {4, 0, 0}},
                               {"v", {0, 4, 0}},
                               {"spacing", 1},
                               {"role", "reflecting"},
                               {"reflectance", 0.3}});
  const lux::GlareReport floor = lux::calculate_glare(build(scene.dump()), {});
  // The box the scene spans: 4 × 4 × 3 m (the floor up to the light).
  const double box = 2 * (4 * 4 + 4 * 3 + 4 * 3);
  EXPECT_NEAR(floor.room_reflectance, 0.3 * 16 / box, 1e-12);
  ASSERT_TRUE(floor.results[0].ugr);
  const double rho = floor.room_reflectance;
  EXPECT_NEAR(floor.results[0].background_illuminance, 3000 * rho / (box * (1 - rho)), 1e-9);
}

}  // namespace
