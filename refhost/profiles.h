// The light-profile service: profiles as tables of candela over angles in
// the light's space, sampled with bilinear interpolation.
#pragma once

#include <string>
#include <vector>

#include "host/shader_api.h"

namespace refhost {

// A photometric table in the light's own space. The polar angle γ is
// measured from the light's −z axis (straight down for a light hanging
// face-down), 0 to 180 degrees; the azimuth C from +x towards +y, 0 to 360
// degrees. `candela` holds one row of vertical values per horizontal angle:
// candela[h * vertical.size() + v]. Both angle lists ascend.
struct ProfileTable {
  std::vector<double> vertical;
  std::vector<double> horizontal;
  std::vector<float> candela;
};

// Profile record bytes as this host reads them.
constexpr size_t kProfileRecordSize = 64;
constexpr size_t kProfileFormatOffset = 4;
constexpr size_t kProfileFileNameOffset = 16;

// Defines a light profile from a table (format code 1 IES, 2 EULUMDAT).
miTag add_profile(const std::string& name, const ProfileTable& table, int format = 1);
// The table behind a profile tag (read from its file on first use), or null.
const ProfileTable* profile_table(miTag profile);
// Candela of a table in a light-space direction (need not be normalised).
float sample_table(const ProfileTable& table, const miVector& direction);

// Reads a profile file into a table: format 1 IES LM-63, 2 EULUMDAT.
// On failure returns false with a message naming the file and the line.
bool read_profile_file(const std::string& path, int format, ProfileTable& table,
                       std::string& error);

}  // namespace refhost
