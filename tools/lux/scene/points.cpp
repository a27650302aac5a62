// Reading point lists.
#include "tools/lux/scene/points.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tools/lux/scene/input_file.h"
#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

std::string trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  const auto last = s.find_last_not_of(" \t\r");
  return first == std::string::npos ? "" : s.substr(first, last - first + 1);
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) out.push_back(trimmed(f));
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

bool number_of(const std::string& s, double& value) {
  char* end = nullptr;
  value = std::strtod(s.c_str(), &end);
  return !s.empty() && end != s.c_str() && *end == '\0' && std::isfinite(value);
}

}  // namespace

std::vector<MeasurePoint> parse_points(const std::string& text, const std::string& file) {
  std::vector<MeasurePoint> points;
  std::istringstream in(text);
  size_t n = 0;
  bool first = true;
  for (std::string line; std::getline(in, line);) {
    ++n;
    const std::string t = trimmed(line);
    if (t.empty() || t[0] == '#') continue;
    const auto f = fields_of(t);
    double v[6];
    const bool numeric = number_of(f[0], v[0]);
    if (first && !numeric) {  // a header
      first = false;
      continue;
    }
    first = false;
    const auto fail = [&](const std::string& why) {
      throw Error(file + ":" + std::to_string(n) + ": " + why);
    };
    if (f.size() != 6 && f.size() != 7)
      fail("expected x, y, z, nx, ny, nz and an optional name, found " + std::to_string(f.size()) +
           " fields");
    for (size_t i = 0; i < 6; ++i)
      if (!number_of(f[i], v[i])) fail("\"" + f[i] + "\" is not a number");
    MeasurePoint p;
    p.position = {v[0], v[1], v[2]};
    p.normal = {v[3], v[4], v[5]};
    if (!(length(p.normal) > 0)) fail("the normal is the zero vector");
    p.normal = normalize(p.normal);
    p.name = f.size() == 7 ? f[6] : "";
    points.push_back(p);
  }
  if (points.empty()) throw Error(file + ": the point list holds no points");
  return points;
}

std::vector<MeasurePoint> read_points(const std::filesystem::path& file) {
  return parse_points(read_input_file(file, "the point list"), file.string());
}

}  // namespace lux
