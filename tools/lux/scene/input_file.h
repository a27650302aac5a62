// Reading the calculator's input files with a bound on their size, so that a
// device, a pipe without end or a huge file is refused before memory runs out.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <string>

namespace lux {

// Larger than any scene or declaration file a person writes; the same bound
// as the host's reader of photometric files.
constexpr size_t kMaxInputBytes = size_t(16) << 20;
// Meshes of furnished rooms run larger; still far below what exhausts memory.
constexpr size_t kMaxMeshBytes = size_t(256) << 20;

// The path that names standard input on the command line.
inline const std::filesystem::path kStandardInput = "-";

// The whole of a regular file of at most `limit` bytes. Throws Error naming
// the path and `what` (e.g. "the scene file") when it is missing, not a
// regular file (a directory, FIFO or device), larger than `limit` or cannot
// be read.
std::string read_input_file(const std::filesystem::path& path, const std::string& what,
                            size_t limit = kMaxInputBytes);

// Checks the same of a file another reader will open.
void check_input_file(const std::filesystem::path& path, const std::string& what,
                      size_t limit = kMaxInputBytes);

// A stream read to its end, refused once it passes `limit` bytes; `name`
// names the stream in messages.
std::string read_bounded(std::istream& in, const std::string& name, const std::string& what,
                         size_t limit = kMaxInputBytes);

}  // namespace lux
