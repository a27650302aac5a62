// Reading OBJ meshes and their material libraries. A file is read twice,
// line by line and without keeping its lines: first to check every
// statement (numbers that are not numbers, faces that name vertices that do
// not exist, libraries and materials that are not there), each refusal
// naming the line, and to count what it holds, so that its memory is
// reckoned before anything of that size is made; then to place its vertices
// and cut its faces into triangles.
#include "tools/lux/scene/mesh.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

#include "shaders/constants.h"
#include "tools/lux/scene/input_file.h"
#include "tools/lux/scene/polygon.h"
#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

namespace fs = std::filesystem;

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

[[noreturn]] void fail_at(const fs::path& file, size_t line, const std::string& why) {
  throw Error(file.string() + ":" + std::to_string(line) + ": " + why);
}

// The lines of a file, one at a time, read in large blocks: a file of
// millions of empty lines costs its reading time, not a string per line.
class LineReader {
 public:
  LineReader(const fs::path& file, const std::string& what) : file_(file) {
    check_input_file(file, what, kMaxMeshBytes);
    in_.open(file, std::ios::binary);
    if (!in_) throw Error(file.string() + ": cannot read " + what);
  }
  // The next line without its end (and without a byte-order mark before the
  // first); false at the end of the file.
  bool next(std::string_view& line) {
    for (;;) {
      const size_t end = buffer_.find('\n', at_);
      if (end != std::string::npos || eof_) {
        if (at_ >= buffer_.size() && eof_) return false;
        const size_t stop = end == std::string::npos ? buffer_.size() : end;
        line = std::string_view(buffer_).substr(at_, stop - at_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (number_++ == 0) line = without_bom(line);
        at_ = stop + 1;
        return true;
      }
      buffer_.erase(0, at_);
      at_ = 0;
      const size_t had = buffer_.size();
      buffer_.resize(had + kBlock);
      in_.read(buffer_.data() + had, std::streamsize(kBlock));
      buffer_.resize(had + static_cast<size_t>(in_.gcount()));
      if (in_.bad()) throw Error(file_.string() + ": cannot read the file");
      eof_ = !in_;
    }
  }
  size_t number() const { return number_; }  // of the line last returned, from 1

 private:
  static constexpr size_t kBlock = size_t(1) << 20;
  fs::path file_;
  std::ifstream in_;
  std::string buffer_;
  size_t at_ = 0;
  size_t number_ = 0;
  bool eof_ = false;
};

// The words of a line, split at spaces and tabs, into `out` (reused).
void split(std::string_view line, std::vector<std::string_view>& out) {
  out.clear();
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    const size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    if (at > start) out.push_back(line.substr(start, at - start));
  }
}

// The text after a statement's keyword, for names that may hold spaces.
std::string rest_of(std::string_view line, std::string_view keyword) {
  std::string_view r = line.substr(line.find(keyword) + keyword.size());
  const auto first = r.find_first_not_of(" \t");
  const auto last = r.find_last_not_of(" \t");
  return first == std::string_view::npos ? "" : std::string(r.substr(first, last - first + 1));
}

// Reflectance of a material that states no Kd: black, as the format's
// default diffuse colour; with a diffuse texture and no Kd, the mid grey
// modelling programs write for it (the texture's own mean is not read).
constexpr double kNoKdReflectance = 0.0;
constexpr double kTexturedReflectance = 0.6;

// Reads a material library line by line into `out` (name to reflectance,
// before overrides); a material defined again takes its new colour.
void read_mtl(const fs::path& file, std::map<std::string, double>& out) {
  LineReader lines(file, "the material library");
  std::vector<std::string_view> w;
  std::string current;
  bool has_kd = false;
  for (std::string_view line; lines.next(line);) {
    const size_t n = lines.number();
    split(line, w);
    if (w.empty() || w[0][0] == '#') continue;
    if (w[0] == "newmtl") {
      current = rest_of(line, "newmtl");
      if (current.empty()) fail_at(file, n, "\"newmtl\" without a name");
      out[current] = kNoKdReflectance;
      has_kd = false;
    } else if (w[0] == "Kd" || w[0] == "Ka" || w[0] == "Ks" || w[0] == "Ke" || w[0] == "Tf") {
      const std::string key(w[0]);
      if (current.empty()) fail_at(file, n, in_quotes(key) + " before any \"newmtl\"");
      if (w.size() < 2 || w[1] == "spectral" || w[1] == "xyz") continue;
      if (w.size() != 4 && w.size() != 2)
        fail_at(file, n, in_quotes(key) + " takes three numbers r g b");
      double rgb[3] = {0, 0, 0};
      for (size_t i = 1; i < w.size(); ++i)
        if (!decimal_number(w[i], rgb[i - 1]) || (key == "Kd" && rgb[i - 1] < 0))
          fail_at(file, n, in_quotes(key) + ": \"" + excerpt(w[i]) + "\" is not a valid value");
      if (key != "Kd") continue;
      if (w.size() == 2) rgb[1] = rgb[2] = rgb[0];  // one value stands for all three
      out[current] = luminous_reflectance(rgb[0], rgb[1], rgb[2]);
      has_kd = true;
    } else if (w[0] == "map_Kd" && !current.empty() && !has_kd) {
      out[current] = kTexturedReflectance;
    }
  }
}

// One face corner's vertex: v, v/t, v//n or v/t/n, non-zero, naming a
// vertex that exists (negative indices count back from the last); as an
// index from 0.
uint32_t corner_vertex(const fs::path& file, size_t line, std::string_view corner,
                       uint64_t vertices) {
  const std::string_view v = corner.substr(0, corner.find('/'));
  long long index = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), index);
  if (v.empty() || ec != std::errc() || end != v.data() + v.size() || index == 0)
    fail_at(file, line, "face corner \"" + excerpt(corner) + "\" is not valid");
  const auto count = static_cast<long long>(vertices);
  if (index > count || -index > count)
    fail_at(file, line,
            "face names vertex " + std::to_string(index) + " but only " + std::to_string(count) +
                " vertices come before it");
  return static_cast<uint32_t>(index > 0 ? index - 1 : count + index);
}

// Statements of the format that carry nothing the calculator uses.
bool ignored_statement(std::string_view k) {
  static const std::set<std::string_view> kinds = {"vn",  "vt", "o",      "g",     "s",    "l",
                                                   "p",   "vp", "cstype", "deg",   "curv", "surf",
                                                   "end", "mg", "usemap", "maplib"};
  return kinds.count(k) != 0;
}

// Triangles a face of `corners` corners is reckoned to give: a convex face
// n − 2; a face of more than four corners may be concave, and its convex
// pieces give at most twice its corners.
uint64_t reckoned_triangles(size_t corners) { return corners <= 4 ? corners - 2 : 2 * corners; }

// What the first reading finds: the counts, and each material's
// reflectance from the libraries.
struct Survey {
  uint64_t vertices = 0;
  uint64_t triangles = 0;  // reckoned
  uint64_t faces = 0;
  std::map<std::string, double> materials;
};

// The first reading: every line checked, the libraries read (each once,
// however often it is named), what the file holds counted.
Survey survey(const fs::path& file, const MeshLimits& limits) {
  Survey s;
  LineReader lines(file, "the mesh file");
  const fs::path dir = file.parent_path();
  std::set<std::string> libraries;
  std::vector<std::string_view> w;
  for (std::string_view line; lines.next(line);) {
    const size_t n = lines.number();
    split(line, w);
    if (w.empty() || w[0][0] == '#') continue;
    const std::string_view k = w[0];
    if (k == "v") {
      if (w.size() != 4 && w.size() != 5 && w.size() != 7)
        fail_at(file, n, "a vertex takes three coordinates x y z");
      double value = 0;
      for (size_t i = 1; i < w.size(); ++i)
        if (!decimal_number(w[i], value))
          fail_at(file, n, "vertex coordinate \"" + excerpt(w[i]) + "\" is not a number");
      ++s.vertices;
    } else if (k == "vn" || k == "vt") {
      double value = 0;
      for (size_t i = 1; i < w.size(); ++i)
        if (!decimal_number(w[i], value))
          fail_at(file, n, "\"" + excerpt(w[i]) + "\" is not a number");
    } else if (k == "f") {
      if (w.size() < 4) fail_at(file, n, "a face needs at least three corners");
      for (size_t i = 1; i < w.size(); ++i) corner_vertex(file, n, w[i], s.vertices);
      s.triangles += reckoned_triangles(w.size() - 1);
      ++s.faces;
    } else if (k == "mtllib") {
      for (size_t i = 1; i < w.size(); ++i) {
        const fs::path name{std::string(w[i])};
        const fs::path lib = name.is_absolute() ? name : dir / name;
        if (!libraries.insert(lib.lexically_normal().string()).second) continue;
        if (!limits.confine_to.empty() && !lies_within(lib, limits.confine_to))
          fail_at(file, n,
                  "material library \"" + excerpt(w[i]) +
                      "\" lies outside the scene's folder, where --confine keeps data files");
        std::error_code ec;
        if (!fs::is_regular_file(lib, ec))
          fail_at(file, n, "material library \"" + excerpt(w[i]) + "\" not found");
        read_mtl(lib, s.materials);
      }
    } else if (k == "usemtl") {
      const std::string name = rest_of(line, "usemtl");
      if (libraries.empty()) fail_at(file, n, "\"usemtl\" before any \"mtllib\"");
      if (s.materials.count(name) == 0)
        fail_at(file, n, "material \"" + excerpt(name) + "\" is in none of the libraries");
    } else if (!ignored_statement(k)) {
      fail_at(file, n, "unknown statement \"" + excerpt(k) + "\"");
    }
  }
  return s;
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

// The normal of a polygon by Newell's method (its length twice the area).
Vec3 newell_normal(const std::vector<Vec3>& p) {
  Vec3 n{};
  for (size_t i = 0; i < p.size(); ++i) {
    const Vec3& a = p[i];
    const Vec3& b = p[(i + 1) % p.size()];
    n = n + Vec3{(a.y - b.y) * (a.z + b.z), (a.z - b.z) * (a.x + b.x), (a.x - b.x) * (a.y + b.y)};
  }
  return n;
}

// Whether a polygon turns one way about `normal` at every corner (corners
// in line count as either way).
bool convex_about(const std::vector<Vec3>& p, Vec3 normal) {
  const size_t n = p.size();
  for (size_t i = 0; i < n; ++i) {
    const Vec3 a = p[(i + n - 1) % n], b = p[i], c = p[(i + 1) % n];
    if (dot(cross(b - a, c - b), normal) < 0) return false;
  }
  return true;
}

// Cuts one face into triangles of `mesh`. A triangle is itself; a quad is
// split along its shorter diagonal; a convex face is fanned from its first
// corner. A concave face is cut into the convex pieces of its outline
// (polygon.h, in n log n of its corners), whose new corners go to `extra`,
// to follow the file's `file_vertices` vertices; a concave face that is not
// flat or whose edges cross has no one surface and is refused.
void add_face(const fs::path& file, size_t line, const std::vector<uint32_t>& corners,
              double reflectance, uint64_t file_vertices, MeshData& mesh,
              std::vector<Vec3>& extra) {
  const auto triangle = [&](uint32_t a, uint32_t b, uint32_t c) {
    mesh.triangles.push_back({a, b, c});
    mesh.reflectance.push_back(reflectance);
  };
  const size_t n = corners.size();
  if (n == 3) return triangle(corners[0], corners[1], corners[2]);
  const auto at = [&](size_t i) { return mesh.vertices[corners[i]]; };
  if (n == 4) {
    const double d02 = length(at(2) - at(0)), d13 = length(at(3) - at(1));
    if (d02 < d13) {
      triangle(corners[0], corners[1], corners[2]);
      triangle(corners[0], corners[2], corners[3]);
    } else {
      triangle(corners[0], corners[1], corners[3]);
      triangle(corners[1], corners[2], corners[3]);
    }
    return;
  }
  std::vector<Vec3> polygon(n);
  for (size_t i = 0; i < n; ++i) polygon[i] = at(i);
  const Vec3 normal = newell_normal(polygon);
  if (convex_about(polygon, normal)) {
    for (size_t i = 1; i + 1 < n; ++i) triangle(corners[0], corners[i], corners[i + 1]);
    return;
  }
  std::vector<std::vector<Vec3>> pieces;
  try {
    const PolygonArea area = polygon_area(polygon, {});
    pieces = convex_pieces(area.rings, area.corner, area.u, area.v);
  } catch (const std::invalid_argument& e) {
    fail_at(file, line, std::string("a concave face with no one surface: ") + e.what());
  }
  // The pieces run counter-clockwise about the outline's own normal, which
  // Newell's method gave the file's winding: they keep the face's front.
  for (const auto& piece : pieces) {
    const auto first = static_cast<uint32_t>(file_vertices + extra.size());
    extra.insert(extra.end(), piece.begin(), piece.end());
    for (uint32_t k = 1; k + 1 < piece.size(); ++k) triangle(first, first + k, first + k + 1);
  }
}

}  // namespace

double luminous_reflectance(double r, double g, double b) {
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

Vec3 place(const MeshPlacement& m, Vec3 p) {
  return rotate(p * (m.scale * m.unit), m.rotation) + m.position;
}

MeshData load_obj(const fs::path& file, const MeshPlacement& placement,
                  const std::map<std::string, double>& overrides, double fallback,
                  const MeshLimits& limits) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) throw Error(file.string() + ": mesh file not found");
  const Survey s = survey(file, limits);
  if (s.faces == 0) throw Error(file.string() + ": the mesh has no faces");
  for (const auto& [name, value] : overrides)
    if (s.materials.count(name) == 0)
      throw Error(file.string() + ": no material named " + in_quotes(name));
  std::map<std::string, double> reflectance;
  for (const auto& [name, value] : s.materials) {
    const auto o = overrides.find(name);
    const double rho = o != overrides.end() ? o->second : std::max(0.0, value);
    // A surface that reflects all the light it receives would pass light
    // back and forth for ever: the interreflection has no solution.
    if (!(rho < 1))
      throw Error(file.string() + ": material " + in_quotes(excerpt(name)) + " reflects " +
                  std::to_string(rho) +
                  " of its light (its Kd); a real surface reflects less than 1: give its "
                  "reflectance in \"materials\"");
    reflectance[name] = rho;
  }
  if (limits.reckon) limits.reckon(s.vertices, s.triangles);

  MeshData mesh;
  mesh.vertices.reserve(s.vertices);
  mesh.triangles.reserve(s.triangles);
  mesh.reflectance.reserve(s.triangles);
  LineReader lines(file, "the mesh file");
  std::vector<std::string_view> w;
  std::vector<uint32_t> corners;
  std::vector<Vec3> extra;  // corners of the convex pieces of concave faces
  double current = fallback;
  for (std::string_view line; lines.next(line);) {
    split(line, w);
    if (w.empty()) continue;
    if (w[0] == "v") {
      Vec3 p;
      decimal_number(w[1], p.x);
      decimal_number(w[2], p.y);
      decimal_number(w[3], p.z);
      mesh.vertices.push_back(place(placement, p));
      if (!(reach(mesh.vertices.back()) <= limits.farthest))
        fail_at(file, lines.number(),
                "the vertex lies, once placed (\"scale\", \"unit\", \"rotation\", "
                "\"position\"), more than 100 km from the origin, beyond what the host's single "
                "precision places to a centimetre");
    } else if (w[0] == "usemtl") {
      current = reflectance.at(rest_of(line, "usemtl"));
    } else if (w[0] == "f") {
      corners.clear();
      for (size_t i = 1; i < w.size(); ++i)
        corners.push_back(corner_vertex(file, lines.number(), w[i], mesh.vertices.size()));
      add_face(file, lines.number(), corners, current, s.vertices, mesh, extra);
    }
  }
  mesh.vertices.insert(mesh.vertices.end(), extra.begin(), extra.end());
  return mesh;
}

}  // namespace lux
