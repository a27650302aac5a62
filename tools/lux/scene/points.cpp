// Reading point lists.
#include "tools/lux/scene/points.h"

#include <algorithm>
#include <cmath>
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

bool has_control_character(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7f;
  });
}

}  // namespace

std::vector<MeasurePoint> parse_points(const std::string& text, const std::string& file,
                                       double farthest) {
  std::vector<MeasurePoint> points;
  std::istringstream in(std::string(without_bom(text)));
  size_t n = 0;
  bool first = true;
  for (std::string line; std::getline(in, line);) {
    ++n;
    const std::string t = trimmed(line);
    if (t.empty() || t[0] == '#') continue;
    const auto f = fields_of(t);
    double v[6];
    const bool numeric = decimal_number(f[0], v[0]);
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
      if (!decimal_number(f[i], v[i])) fail("\"" + excerpt(f[i]) + "\" is not a number");
    MeasurePoint p;
    p.position = {v[0], v[1], v[2]};
    if (!(reach(p.position) <= farthest))
      fail(
          "the point lies more than 100 km from the origin, beyond what the host's single "
          "precision places to a centimetre");
    p.normal = direction_of({v[3], v[4], v[5]});
    if (!(reach(p.normal) > 0)) fail("the normal is the zero vector");
    p.name = f.size() == 7 ? f[6] : "";
    if (has_control_character(p.name) || !valid_utf8(p.name))
      fail("the name \"" + excerpt(p.name) +
           "\" holds a control character or is not UTF-8 text; names head table rows");
    points.push_back(p);
  }
  if (points.empty()) throw Error(file + ": the point list holds no points");
  return points;
}

std::vector<MeasurePoint> read_points(const std::filesystem::path& file, double farthest) {
  return parse_points(read_input_file(file, "the point list"), file.string(), farthest);
}

}  // namespace lux
