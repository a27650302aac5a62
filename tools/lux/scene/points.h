// Measuring points given as a list: positions with the normal of the
// surface each one stands for, read from a CSV file.
#pragma once

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lux/scene/vec.h"

namespace lux {

struct MeasurePoint {
  Vec3 position;
  Vec3 normal;  // unit length
  std::string name;
};

// Reads lines of x, y, z, nx, ny, nz and an optional name, separated by
// commas (a first line that does not start with a number is a header;
// blank lines and lines starting with # are passed over; a byte-order mark
// before the first line is not part of it). Numbers are plain decimals.
// Throws Error naming the file and line of a malformed line, of a point
// farther than `farthest` from the origin on any axis, of a name with a
// control character or that is not UTF-8; an empty list is refused.
std::vector<MeasurePoint> read_points(const std::filesystem::path& file,
                                      double farthest = HUGE_VAL);
// The same from text; `file` names it in messages.
std::vector<MeasurePoint> parse_points(const std::string& text, const std::string& file,
                                       double farthest = HUGE_VAL);

}  // namespace lux
