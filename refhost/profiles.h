// The light-profile service: profiles as tables of candela over angles in
// the light's space, sampled with bilinear interpolation.
//
// A light profile is a database element of type 44 whose record this host
// lays out as 32-bit words:
//
//   byte  4  format: 1 IES LM-63, 2 EULUMDAT (anything else: EULUMDAT)
//   byte  8  source: 1 the table is read from the file named at byte 16;
//            any other value: the table handed over with add_profile
//   byte 12  interpolation: 1 nearest tabulated angle; any other value
//            bilinear in γ and C
//   byte 16  tag of the string element holding the file name
//   byte 20  C-plane direction: 1 the file's C angles run clockwise seen
//            from above (from +x towards −y); any other value
//            counter-clockwise (from +x towards +y), as both formats measure
//   byte 24  turn of the C-planes about the light's axis, whole degrees:
//            the file's C0 plane points that far from +x towards +y
//   byte 28  intensity multiplier in percent of the file's values; 0 means
//            100 (an unset setting changes nothing); negative values are
//            refused with a warning and read as 100
//
// The reference intensity of a profile (host query 132) is the peak of its
// table in candela, intensity multiplier included. Sampling with the
// relative flag gives candela divided by that peak, so the multiplier
// cancels there; a profile whose peak is 0 samples to 0 either way.
//
// A profile whose file cannot be read has no table: the host warns once,
// naming the file and the line, samples it to 0 cd in every direction, and
// query 132 fails with 0. A light following it goes dark instead of lighting
// the scene with made-up numbers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/shader_api.h"

namespace refhost {

// A photometric table in the light's own space. The polar angle γ is
// measured from the light's −z axis (straight down for a light hanging
// face-down), 0 to 180 degrees; the azimuth C from +x towards +y, 0 to 360
// degrees. `candela` holds one row of vertical values per horizontal angle:
// candela[h * vertical.size() + v]. Both angle lists ascend. A table with
// one horizontal angle is rotationally symmetric; otherwise the azimuth
// wraps around from the last plane to the first plus 360 degrees.
struct ProfileTable {
  std::vector<double> vertical;
  std::vector<double> horizontal;
  std::vector<float> candela;
};

// Profile record bytes as this host reads them (see above).
constexpr size_t kProfileRecordSize = 64;
constexpr size_t kProfileFormatOffset = 4;
constexpr size_t kProfileSourceOffset = 8;
constexpr size_t kProfileInterpolationOffset = 12;
constexpr size_t kProfileFileNameOffset = 16;
constexpr size_t kProfileCDirectionOffset = 20;
constexpr size_t kProfileCTurnOffset = 24;
constexpr size_t kProfileMultiplierOffset = 28;

constexpr int kProfileSourceFile = 1;
constexpr int kProfileNearest = 1;
constexpr int kProfileClockwise = 1;

// How a profile's record settings shape its sampling.
struct ProfileSettings {
  bool nearest = false;     // nearest tabulated angle instead of bilinear
  bool clockwise = false;   // the file's C runs from +x towards −y
  double c_turn = 0.0;      // degrees the file's C0 plane is turned towards +y
  double multiplier = 1.0;  // on every candela value
};

// Defines a light profile from a table (format code 1 IES, 2 EULUMDAT).
miTag add_profile(const std::string& name, const ProfileTable& table, int format = 1);
// The table behind a profile tag (read from its file on first use), or null.
const ProfileTable* profile_table(miTag profile);
// The settings the profile's record gives, as sampling uses them.
ProfileSettings profile_settings(miTag profile);
// Candela of a table in a light-space direction (need not be normalised).
float sample_table(const ProfileTable& table, const miVector& direction);
float sample_table(const ProfileTable& table, const miVector& direction,
                   const ProfileSettings& settings);
// The light-space unit direction of polar angle γ and azimuth C (degrees).
miVector profile_direction(double gamma_deg, double c_deg);

// Reads a profile file into a table: format 1 IES LM-63, 2 EULUMDAT.
// On failure returns false with a message naming the file and the line.
bool read_profile_file(const std::string& path, int format, ProfileTable& table,
                       std::string& error);

}  // namespace refhost
