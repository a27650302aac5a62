// The tables of a luminaire data sheet, drawn from a photometric file's
// candela table as the reference host reads it: intensities per C-plane,
// zonal lumens, the CIE flux code, efficacy, the luminance of the luminous
// opening towards the steep angles that glare on display screens, and what
// shape the light takes in each principal plane.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "refhost/profiles.h"
#include "tools/lux/model/photometry.h"

namespace lux {

// ---- intensities ---------------------------------------------------------------

// The C angles of the planes a file stores (its symmetry's part of the
// circle), ascending, as the host's table holds them: {0} for a rotationally
// symmetric file; 0–90, 0–180 or 90–270 for the mirrored halves and
// quadrants; every plane below 360 otherwise.
std::vector<double> stored_plane_angles(const PhotometricFile& file);

struct IntensityPlane {
  double c = 0;                 // degrees
  std::vector<double> candela;  // one per γ of the table
};

// The intensities of a file at its own γ angles, plane by plane: the
// principal planes C0, C180, C90 and C270 first (where the file's symmetry
// gives them; one plane for a rotationally symmetric file), then every
// other plane the file stores, ascending.
struct IntensityTable {
  std::vector<double> gamma;
  std::vector<IntensityPlane> planes;
  double cd_per_klm = 0;  // factor from candela to cd/klm (ProfileSummary's)
};
IntensityTable intensity_table(const PhotometricFile& file, const ProfileSummary& summary);

// ---- flux ----------------------------------------------------------------------

// The flux within a zone of polar angles, lumen.
struct Zone {
  double from = 0, to = 0;  // degrees from the nadir
  double lumen = 0;
};
// The zones data sheets give: 0–30°, 0–40°, 0–60°, 0–90° (downward),
// 90–180° (upward) and 0–180° (all).
std::vector<Zone> zonal_lumens(const refhost::ProfileTable& table);

// The CIE flux code: how a luminaire's light divides among four cones about
// the nadir of equal solid angle π/2 (0–41.4°, 0–60°, 0–75.5°, 0–90°) and
// between down and up. N1, N2, N3 are the flux in the first three cones as
// parts of the downward flux, N4 the downward flux as part of all the
// luminaire's flux, N5 that flux as part of the lamps' (the light output
// ratio), each in percent and rounded to a whole number for the code.
struct FluxCode {
  double n[5] = {0, 0, 0, 0, 0};  // percent, unrounded
  std::string text;               // "45 77 96 100 70"
};
// Without lamp flux (absolute photometry) N5 is the luminaire's own flux,
// 100; nullopt for a table that sends nothing downward.
std::optional<FluxCode> flux_code(const refhost::ProfileTable& table, double lamp_flux);
// The cone half-angles: cos γ = 3/4, 1/2, 1/4, 0.
constexpr double kFluxCodeCones[4] = {41.40962210927086, 60.0, 75.52248781407008, 90.0};

// Luminous efficacy of the luminaire, lumen per watt: its integrated flux
// over the input power the file states; nullopt without a power.
std::optional<double> efficacy(const PhotometricFile& file, const ProfileSummary& summary);

// ---- luminance -----------------------------------------------------------------

// The area of the luminous opening seen from the direction (γ, C), m²: the
// bottom's area times cos γ, and each luminous side's area times sin γ and
// the cosine of the azimuth between the side's outward normal and C (only
// the sides that face the direction). Point openings and shapes it cannot
// project (an "Other" opening) give nullopt.
std::optional<double> projected_area(const LuminousOpening& opening, double gamma_deg,
                                     double c_deg);

// The mean luminance of the opening, I / A_projected, at the steep angles
// display-screen work limits (γ 65° to 85° every 5°), every 15° of C.
struct LuminanceTable {
  std::vector<double> gamma, c;  // degrees
  std::vector<double> cd_m2;     // [g * c.size() + k]
  double max = 0;                // the largest value, cd/m²
  double max_gamma = 0, max_c = 0;
  double at(size_t g, size_t k) const { return cd_m2[g * c.size() + k]; }
};
// nullopt with `why_not` set when the file gives no opening to divide by.
std::optional<LuminanceTable> luminance_table(const PhotometricFile& file, std::string& why_not);

// Limits of luminaire luminance at γ 65° and above for work at display
// screens (EN 12464-1): 1500 cd/m² where the screens' own luminance is at
// most 200 cd/m², 3000 cd/m² for brighter screens.
constexpr double kScreenLuminanceLimitDim = 1500;
constexpr double kScreenLuminanceLimitBright = 3000;

// ---- shape of the light in a plane --------------------------------------------

// What a beam and field angle can say about one principal plane. Only a
// beam that is a cone about the nadir has a beam and field angle; for other
// shapes the data sheet says what the light does instead.
struct PlaneShape {
  enum class Kind {
    Cone,            // strongest at or around the nadir, the field below the horizon
    Batwing,         // two lobes either side of the nadir, the nadir dimmer than half
    OneSided,        // one lobe off the nadir (wall washers, road lights)
    DirectIndirect,  // light both below and above the horizon
    Upward,          // the plane sends its light above the horizon
    Dark,            // nothing in the plane
  };
  Kind kind = Kind::Dark;
  double c_right = 0;                    // the plane: C at the right, opposite at the left
  std::optional<Spread> beam, field;     // Cone only
  double peak_right = 0, peak_left = 0;  // γ of the strongest value on each side
  double nadir_fraction = 0;             // I(0) over the plane's peak
  std::string text;                      // in words, for a data sheet
};
PlaneShape plane_shape(const refhost::ProfileTable& table, double c_right);

}  // namespace lux
