// Reading OBJ meshes. The file is first read line by line for what a
// modelling program can get wrong (numbers that are not numbers, faces
// that name vertices that do not exist, libraries that are not there), so
// that a refusal names the line; tinyobjloader then reads it.
#include "tools/lux/scene/mesh.h"

#include <tiny_obj_loader.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "shaders/constants.h"
#include "tools/lux/scene/input_file.h"
#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

[[noreturn]] void fail_at(const std::filesystem::path& file, size_t line, const std::string& why) {
  throw Error(file.string() + ":" + std::to_string(line) + ": " + why);
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool is_number(const std::string& s) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  return end != s.c_str() && *end == '\0' && std::isfinite(v);
}

bool is_index(const std::string& s, long& value) {
  if (s.empty()) return false;
  char* end = nullptr;
  value = std::strtol(s.c_str(), &end, 10);
  return end != s.c_str() && *end == '\0' && value != 0;
}

// The text after a statement's keyword, for names that may hold spaces.
std::string rest_of(const std::string& line, const std::string& keyword) {
  const auto at = line.find(keyword);
  std::string r = line.substr(at + keyword.size());
  const auto first = r.find_first_not_of(" \t");
  const auto last = r.find_last_not_of(" \t\r");
  return first == std::string::npos ? "" : r.substr(first, last - first + 1);
}

std::vector<std::string> read_lines(const std::filesystem::path& file, const std::string& what) {
  check_input_file(file, "the " + what, kMaxMeshBytes);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Error(file.string() + ": cannot read the " + what);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Reads a material library line by line; returns its materials' names.
std::set<std::string> check_mtl(const std::filesystem::path& file) {
  const auto lines = read_lines(file, "material library");
  std::set<std::string> names;
  bool in_material = false;
  for (size_t n = 0; n < lines.size(); ++n) {
    const auto w = words(lines[n]);
    if (w.empty() || w[0][0] == '#') continue;
    if (w[0] == "newmtl") {
      const std::string name = rest_of(lines[n], "newmtl");
      if (name.empty()) fail_at(file, n + 1, "\"newmtl\" without a name");
      names.insert(name);
      in_material = true;
    } else if (w[0] == "Kd" || w[0] == "Ka" || w[0] == "Ks" || w[0] == "Ke" || w[0] == "Tf") {
      if (!in_material) fail_at(file, n + 1, in_quotes(w[0]) + " before any \"newmtl\"");
      if (w.size() < 2 || w[1] == "spectral" || w[1] == "xyz") continue;
      if (w.size() != 4 && w.size() != 2)
        fail_at(file, n + 1, in_quotes(w[0]) + " takes three numbers r g b");
      for (size_t i = 1; i < w.size(); ++i)
        if (!is_number(w[i]) || (w[0] == "Kd" && std::strtod(w[i].c_str(), nullptr) < 0))
          fail_at(file, n + 1, in_quotes(w[0]) + ": " + in_quotes(w[i]) + " is not a valid value");
    }
  }
  return names;
}

// One face corner: v, v/t, v//n or v/t/n, each index non-zero and naming
// an element that exists (negative indices count back from the last).
void check_corner(const std::filesystem::path& file, size_t line, const std::string& corner,
                  long vertices) {
  const std::string v = corner.substr(0, corner.find('/'));
  long index = 0;
  if (!is_index(v, index))
    fail_at(file, line, "face corner " + in_quotes(corner) + " is not valid");
  if (index > vertices || -index > vertices)
    fail_at(file, line,
            "face names vertex " + std::to_string(index) + " but only " + std::to_string(vertices) +
                " vertices come before it");
}

// Reads the OBJ text line by line, and the material libraries it names.
void check_obj(const std::filesystem::path& file) {
  const auto lines = read_lines(file, "mesh file");
  const std::filesystem::path dir = file.parent_path();
  std::set<std::string> materials;
  bool any_library = false;
  long vertices = 0;
  for (size_t n = 0; n < lines.size(); ++n) {
    const auto w = words(lines[n]);
    if (w.empty() || w[0][0] == '#') continue;
    const std::string& k = w[0];
    if (k == "v") {
      if (w.size() != 4 && w.size() != 5 && w.size() != 7)
        fail_at(file, n + 1, "a vertex takes three coordinates x y z");
      for (size_t i = 1; i < w.size(); ++i)
        if (!is_number(w[i]))
          fail_at(file, n + 1, "vertex coordinate " + in_quotes(w[i]) + " is not a number");
      ++vertices;
    } else if (k == "vn" || k == "vt") {
      for (size_t i = 1; i < w.size(); ++i)
        if (!is_number(w[i])) fail_at(file, n + 1, in_quotes(w[i]) + " is not a number");
    } else if (k == "f") {
      if (w.size() < 4) fail_at(file, n + 1, "a face needs at least three corners");
      for (size_t i = 1; i < w.size(); ++i) check_corner(file, n + 1, w[i], vertices);
    } else if (k == "mtllib") {
      for (size_t i = 1; i < w.size(); ++i) {
        const std::filesystem::path lib = dir / w[i];
        if (!std::filesystem::is_regular_file(lib))
          fail_at(file, n + 1, "material library " + in_quotes(w[i]) + " not found");
        const auto names = check_mtl(lib);
        materials.insert(names.begin(), names.end());
        any_library = true;
      }
    } else if (k == "usemtl") {
      const std::string name = rest_of(lines[n], "usemtl");
      if (!any_library) fail_at(file, n + 1, "\"usemtl\" before any \"mtllib\"");
      if (materials.count(name) == 0)
        fail_at(file, n + 1, "material " + in_quotes(name) + " is in none of the libraries");
    } else if (k != "o" && k != "g" && k != "s" && k != "l" && k != "p" && k != "vp" &&
               k != "cstype" && k != "deg" && k != "curv" && k != "surf" && k != "end" &&
               k != "mg" && k != "usemap" && k != "maplib") {
      fail_at(file, n + 1, "unknown statement " + in_quotes(k));
    }
  }
}

// Rotation of p about x, then y, then z, by angles in degrees.
Vec3 rotate(Vec3 p, Vec3 degrees) {
  const double ax = degrees.x * zel::kDegToRad, ay = degrees.y * zel::kDegToRad,
               az = degrees.z * zel::kDegToRad;
  const Vec3 a{p.x, p.y * std::cos(ax) - p.z * std::sin(ax),
               p.y * std::sin(ax) + p.z * std::cos(ax)};
  const Vec3 b{a.x * std::cos(ay) + a.z * std::sin(ay), a.y,
               -a.x * std::sin(ay) + a.z * std::cos(ay)};
  return {b.x * std::cos(az) - b.y * std::sin(az), b.x * std::sin(az) + b.y * std::cos(az), b.z};
}

}  // namespace

double luminous_reflectance(double r, double g, double b) {
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

Vec3 place(const MeshPlacement& m, Vec3 p) {
  return rotate(p * (m.scale * m.unit), m.rotation) + m.position;
}

MeshData load_obj(const std::filesystem::path& file, const MeshPlacement& placement,
                  const std::map<std::string, double>& overrides, double fallback) {
  if (!std::filesystem::is_regular_file(file)) throw Error(file.string() + ": mesh file not found");
  check_obj(file);

  tinyobj::ObjReaderConfig config;
  config.triangulate = true;
  config.vertex_color = false;
  config.mtl_search_path = file.parent_path().string();
  tinyobj::ObjReader reader;
  if (!reader.ParseFromFile(file.string(), config))
    throw Error(file.string() + ": " + rest_of(" " + reader.Error(), " "));

  const auto& materials = reader.GetMaterials();
  std::vector<double> material_reflectance;
  for (const auto& m : materials) {
    const auto o = overrides.find(m.name);
    const double rho =
        o != overrides.end()
            ? o->second
            : std::max(0.0, luminous_reflectance(double(m.diffuse[0]), double(m.diffuse[1]),
                                                 double(m.diffuse[2])));
    // A surface that reflects all the light it receives would pass light
    // back and forth for ever: the interreflection has no solution.
    if (!(rho < 1))
      throw Error(file.string() + ": material " + in_quotes(m.name) + " reflects " +
                  std::to_string(rho) +
                  " of its light (its Kd); a real surface reflects less than 1: give its "
                  "reflectance in \"materials\"");
    material_reflectance.push_back(rho);
  }
  for (const auto& [name, value] : overrides) {
    bool known = false;
    for (const auto& m : materials) known = known || m.name == name;
    if (!known) throw Error(file.string() + ": no material named " + in_quotes(name));
  }

  MeshData mesh;
  const auto& xyz = reader.GetAttrib().vertices;
  mesh.vertices.reserve(xyz.size() / 3);
  for (size_t i = 0; i + 2 < xyz.size(); i += 3)
    mesh.vertices.push_back(
        place(placement, {double(xyz[i]), double(xyz[i + 1]), double(xyz[i + 2])}));
  for (const auto& shape : reader.GetShapes()) {
    const auto& idx = shape.mesh.indices;
    for (size_t f = 0; f < shape.mesh.num_face_vertices.size(); ++f) {
      const size_t k = 3 * f;
      if (k + 2 >= idx.size()) break;
      mesh.triangles.push_back({uint32_t(idx[k].vertex_index), uint32_t(idx[k + 1].vertex_index),
                                uint32_t(idx[k + 2].vertex_index)});
      const int m = f < shape.mesh.material_ids.size() ? shape.mesh.material_ids[f] : -1;
      mesh.reflectance.push_back(m >= 0 && size_t(m) < material_reflectance.size()
                                     ? material_reflectance[size_t(m)]
                                     : fallback);
    }
  }
  if (mesh.triangles.empty()) throw Error(file.string() + ": the mesh has no faces");
  return mesh;
}

}  // namespace lux
