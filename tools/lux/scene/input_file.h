// Reading the calculator's input files with a bound on their size, so that a
// device, a pipe without end or a huge file is refused before memory runs out.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <string>
#include <string_view>

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

// A number as a data file (a mesh, a point list) writes it: an optional
// sign, decimal digits with an optional point, an optional exponent. What
// other readers take differently or not at all (hexadecimal "0x1p1", "inf",
// "nan", text around the digits) is refused, and so is a value beyond the
// range of a double. On success `value` holds the number.
bool decimal_number(std::string_view text, double& value);

// A byte count for people: "13.4 GB".
std::string gigabytes(double bytes);

// What a refusal may show of text from a file that did not read as what it
// was meant to be: its first few printable characters, every other byte
// shown as '?', and "..." when there was more. A scene that names a foreign
// file (a password file as a mesh) learns that it failed, not its content.
std::string excerpt(std::string_view text);
constexpr size_t kExcerptLength = 16;

// Whether text is well-formed UTF-8 (names from data files end up in the
// JSON report, which holds nothing else).
bool valid_utf8(std::string_view text);

// Text without a leading UTF-8 byte-order mark, which editors on some
// systems put before the first line.
std::string_view without_bom(std::string_view text);

// Whether `path` lies in `folder` or below it once symbolic links and ".."
// are resolved: the test of --confine, which keeps a scene from reading data
// files from anywhere else.
bool lies_within(const std::filesystem::path& path, const std::filesystem::path& folder);

}  // namespace lux
