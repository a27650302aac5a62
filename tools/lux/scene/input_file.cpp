#include "tools/lux/scene/input_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "tools/lux/scene/scene.h"

namespace lux {

namespace fs = std::filesystem;

namespace {

std::string mebibytes(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

void check_input_file(const fs::path& path, const std::string& what, size_t limit) {
  const std::string name = path.string();
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status))
    throw Error(name + ": cannot read " + what + ": " +
                (ec ? ec.message() : std::string("no such file")));
  if (!fs::is_regular_file(status))
    throw Error(name + ": cannot read " + what + ": not a regular file");
  const auto size = fs::file_size(path, ec);
  if (ec) throw Error(name + ": cannot read " + what + ": " + ec.message());
  if (size > limit) throw Error(name + ": " + what + " is larger than " + mebibytes(limit));
}

std::string read_input_file(const fs::path& path, const std::string& what, size_t limit) {
  check_input_file(path, what, limit);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(path.string() + ": cannot read " + what + ": " + std::strerror(errno));
  // Bounded again while reading: the file may grow after it was checked.
  return read_bounded(in, path.string(), what, limit);
}

std::string read_bounded(std::istream& in, const std::string& name, const std::string& what,
                         size_t limit) {
  std::string text;
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    const auto got = static_cast<size_t>(in.gcount());
    if (text.size() + got > limit)
      throw Error(name + ": " + what + " is larger than " + mebibytes(limit));
    text.append(buffer, got);
  }
  if (in.bad()) throw Error(name + ": cannot read " + what);
  return text;
}

}  // namespace lux
