// Photometric files as a luminaire's data sheet: what the header states
// (lamps, their flux, the light output ratio, conversion factors), and what
// the candela table gives (integrated flux, downward and upward fractions,
// beam and field angles). The table itself is read by the reference host's
// profile reader, exactly as a light sees it; this module adds the header
// and the figures a designer checks.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "refhost/profiles.h"

namespace lux {

// `text` as valid UTF-8: what is not a well-formed UTF-8 sequence is read
// as Latin-1, the encoding of most photometric files that are not UTF-8.
std::string valid_utf8(const std::string& text);

// One lamp set of an EULUMDAT file (the IES format has one: its lamps).
struct LampSet {
  double count = 0;  // negative in EULUMDAT: the table is absolute photometry
  std::string type;
  double flux = 0;  // lumen of the whole set as the file states it
  std::string colour, rendering;
  double watts = 0;
};

// A negative intensity in a file: the host reads it as 0.
struct NegativeValue {
  int line = 0;
  double value = 0;
};

// The luminous opening of a luminaire as its file states it: the shape
// light leaves through and its size in metres. Length lies along the
// C0–C180 axis, width along C90–C270 (the IES and EULUMDAT conventions
// agree on this), height vertical.
struct LuminousOpening {
  enum class Kind {
    Point,             // no size stated
    Rectangle,         // flat, facing down
    Box,               // a rectangle with luminous sides
    Circle,            // flat disc, facing down (length = width = diameter)
    Ellipse,           // flat, facing down
    VerticalCylinder,  // luminous sides and bottom (length = width = diameter)
    Sphere,            // length = width = height = diameter
    Other              // a shape the calculator does not draw as a light (e.g.
                       // a horizontal cylinder), or sizes that contradict
                       // each other; `description` says which
  };
  Kind kind = Kind::Point;
  double length = 0, width = 0, height = 0;  // metres
  // The heights of the luminous sides at C0, C90, C180 and C270 (EULUMDAT),
  // metres; all equal to `height` for IES.
  double side_heights[4] = {0, 0, 0, 0};
  std::string description;  // in words, with its size: "rectangle 0.60 x 0.60 m"
};

// What a file says about the luminaire itself, for the schedule of a
// report: who makes it, what it is called, its lamps' colour, and the
// power it draws.
struct LuminaireData {
  std::string manufacturer;
  std::string name;       // luminaire description
  std::string catalogue;  // catalogue or article number
  std::string lamp;       // lamp description
  std::string report;     // test or measurement report
  std::string date;
  std::string colour_temperature;  // as stated, e.g. "3000 K" or "830"
  std::string colour_rendering;    // as stated, e.g. "Ra 80" or "1B"
  std::optional<double> watts;     // input power, ballast included
  LuminousOpening opening;
};

// Which C-planes a file stores; the others follow from them by mirroring.
enum class StoredPlanes {
  All,       // every plane (no symmetry)
  One,       // one plane stands for all: rotationally symmetric
  Quadrant,  // C0–C90, mirrored about the C0–C180 and the C90–C270 planes
  HalfC0,    // C0–C180, mirrored about the C0–C180 plane
  HalfC90,   // one half mirrored about the C90–C270 plane
};

struct PhotometricFile {
  std::filesystem::path path;
  int format = 1;           // 1 IES LM-63, 2 EULUMDAT
  std::string format_name;  // "IES LM-63-2002", "EULUMDAT", ...
  std::string type;         // photometric type: "C", "B"; EULUMDAT type indicator
  std::string symmetry;     // in words
  int vertical_angles = 0;  // as stored in the file
  int horizontal_angles = 0;
  // Header lines and keywords in file order: (name, value).
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<LampSet> lamp_sets;
  // The table is the luminaire's own candela (IES lumens −1, EULUMDAT
  // negative lamp count), not per 1000 lm of the lamps.
  bool absolute = false;
  // Lumen of the lamps that scale the table (EULUMDAT lamp set 1; IES
  // lamps × lumens per lamp); 0 where the file states none.
  double lamp_flux = 0;
  double conversion = 1;                  // multiplier of the stored values (IES multiplier
                                          // × ballast factors; EULUMDAT conversion factor)
  std::optional<double> lor;              // light output ratio the file states, 0..1
  std::optional<double> stated_output;    // lumen the file says the luminaire emits
  std::string stated_output_source;       // where that number comes from
  std::optional<double> stated_downward;  // downward flux fraction stated, 0..1
  std::vector<NegativeValue> negatives;
  LuminaireData luminaire;
  StoredPlanes stored_planes = StoredPlanes::All;
  // EULUMDAT's direct ratios for the room indices 0.60 … 5.00, as stated.
  std::vector<double> direct_ratios;
  refhost::ProfileTable table;  // candela, as the host reads it
  // A type B file's own grid (candela, multipliers applied): the host
  // resamples it onto polar angles, its flux is integrated on this one.
  struct TypeB {
    std::vector<double> vertical, horizontal;  // plane tilt V, latitude H
    std::vector<double> candela;               // [h * vertical.size() + v]
  };
  std::optional<TypeB> type_b;
};

// Reads a photometric file (format 1 IES, 2 EULUMDAT). A file the host's
// reader refuses throws lux::Error naming the file and the line.
PhotometricFile read_photometric_file(const std::filesystem::path& path, int format);

// The opening an IES file's luminous width, length and height describe (in
// the file's units; `metres_per_unit` 0.3048 for feet), by the signs and
// equalities its format gives each shape: all 0 a point; width and length
// positive a rectangle (a box with a height); both negative a circle or
// ellipse (a vertical cylinder with a height); all three negative a sphere.
LuminousOpening ies_opening(double width, double length, double height, double metres_per_unit);

// The opening an EULUMDAT file's luminous area describes, in millimetres:
// a width of 0 makes the length a diameter; any side height gives the
// luminaire luminous sides.
LuminousOpening ldt_opening(double length_mm, double width_mm, const double side_heights_mm[4]);

// The format of a file by its extension: 2 for .ldt (any case), else 1.
int format_of(const std::filesystem::path& path);

// Luminous flux of a candela table by the zonal method: the mean of each
// cell's four corners times the cell's exact solid angle
// (cos γᵢ − cos γᵢ₊₁) ΔC.
double zonal_flux(const refhost::ProfileTable& table);
// The part of it below the horizontal plane (γ < 90°): cells split there.
double zonal_downward_flux(const refhost::ProfileTable& table);
// The part between the polar angles `from` and `to` (degrees), cells split
// at both.
double zonal_flux_between(const refhost::ProfileTable& table, double from, double to);
// The same on a type B grid, where a cell spans (sin H₁ − sin H₀) ΔV;
// halves the file leaves out by symmetry count twice.
double zonal_flux(const PhotometricFile::TypeB& grid);

// The spread of the light in one vertical plane at one threshold: the
// angles either side of the strongest direction at which the intensity
// first falls to `fraction` of that plane's peak, and the full angle
// between them; nullopt where it never falls that far.
struct Spread {
  double full = 0;             // degrees
  double right = 0, left = 0;  // degrees from the axis to each edge
};
std::optional<Spread> plane_spread(const refhost::ProfileTable& table, double c_right,
                                   double fraction);

constexpr double kBeamFraction = 0.5;   // beam angle: 50% of the peak
constexpr double kFieldFraction = 0.1;  // field angle: 10% of the peak

// The numbers a data sheet gives for a photometric file.
struct ProfileSummary {
  double peak_cd = 0;
  double peak_gamma = 0, peak_c = 0;        // where the peak lies, degrees
  double cd_per_klm_scale = 0;              // candela to cd/klm
  double flux = 0;                          // integrated, lumen
  double downward = 0;                      // fraction of `flux` below the horizon
  std::optional<double> lor;                // integrated flux / lamp flux
  std::optional<double> stated_deviation;   // (flux − stated output) / stated output
  std::optional<Spread> beam[2], field[2];  // C0–C180, C90–C270
  std::vector<std::string> problems;        // inconsistencies found
};

// Stated and integrated flux further apart than this are reported.
constexpr double kFluxTolerance = 0.02;

ProfileSummary summarise(const PhotometricFile& file);

}  // namespace lux
