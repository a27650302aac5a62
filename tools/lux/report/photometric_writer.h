// Writing a photometric file's light in either format: IES LM-63-2019 or
// EULUMDAT, from the candela table as the reference host reads it, with
// the file's symmetry, absolute or relative photometry, luminous opening
// and identification. What a format cannot hold is refused with the
// reason; what it holds only approximately is written and noted.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/lux/model/photometry.h"

namespace lux {

// The text of the file in format 1 (IES LM-63-2019) or 2 (EULUMDAT), named
// `file_name` inside (EULUMDAT keeps it in its header). Appends to `notes`
// what the format holds only approximately. Throws lux::Error with the
// reason when the photometry cannot be represented in that format: type B
// photometry (its planes turn about a horizontal axis), lamp tilt factors.
std::string photometric_text(const PhotometricFile& file, int format, const std::string& file_name,
                             std::vector<std::string>& notes);

// Writes that text to `path` in the format its extension names (.ldt
// EULUMDAT, anything else IES); returns the notes. Throws lux::Error naming
// the file when it cannot be written or the reason it cannot be converted.
std::vector<std::string> write_photometric_file(const PhotometricFile& file,
                                                const std::filesystem::path& path);

// EULUMDAT's direct ratios for its ten room indices, 0.60 … 5.00: the
// part of the downward flux that falls straight on the floor of a square
// room of that index, lit by a regular array at a spacing equal to the
// luminaires' height above the floor.
inline constexpr double kDirectRatioRoomIndices[10] = {0.60, 0.80, 1.00, 1.25, 1.50,
                                                       2.00, 2.50, 3.00, 4.00, 5.00};
std::vector<double> direct_ratios(const refhost::ProfileTable& table);

}  // namespace lux
