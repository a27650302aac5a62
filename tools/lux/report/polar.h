// Polar diagrams of a light profile: the luminous intensity curve in the two
// principal vertical planes (C0–C180 and C90–C270), in cd per 1000 lm, drawn
// with cairo into any surface (PNG, SVG, PDF) and written to files.
//
// The diagram follows the convention of luminaire data sheets: nadir
// (γ = 0) at the bottom, zenith (γ = 180) at the top, the first C angle of
// each plane (C0, C90) on the right and the opposite one (C180, C270) on
// the left. Rings are labelled in cd/klm.
#pragma once

#include <cairo.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "refhost/profiles.h"
#include "tools/lux/model/photometry.h"

namespace lux {

// One vertical plane through the luminaire's axis: the half-plane at
// `c_right` (drawn on the right) and the opposite one at `c_left`, with one
// value per angle of PolarCurves::gamma.
struct PolarPlane {
  double c_right = 0, c_left = 180;
  std::vector<double> right, left;
};

struct PolarCurves {
  std::vector<double> gamma;  // degrees from nadir, ascending over 0 to 180
  PolarPlane c0_c180{0, 180, {}, {}};
  PolarPlane c90_c270{90, 270, {}, {}};
  std::string unit = "cd/klm";
  // The largest value on either plane.
  double peak() const;
};

// Intensity curves of `table` in its two principal planes at every
// `step_deg` of γ, each value times `scale` (for a table in candela,
// 1000 / flux in lumen gives cd/klm).
PolarCurves polar_curves(const refhost::ProfileTable& table, double scale, double step_deg = 1.0);

// A photometric file's curves as a data sheet draws them, and the unit in
// words: cd per 1000 lm of the lamps when the file states their flux; for
// absolute photometry without lamp flux, per 1000 lm of the luminaire's own
// integrated flux (said so in the legend); plain candela for a dark table.
struct ProfilePolar {
  PolarCurves curves;
  std::string unit_note;  // e.g. "cd/klm of the lamps' 2400 lm"
};
ProfilePolar profile_polar(const PhotometricFile& file, const ProfileSummary& summary,
                           double step_deg = 1.0);

// A rectangle of a cairo surface, in the surface's units (pixels for PNG,
// points for PDF and SVG).
struct PolarBox {
  double x = 0, y = 0, width = 0, height = 0;
};

// Draws the labelled polar diagram of `curves` into `box` of `cr`: the
// title on top, the diagram as large as fits, a legend of both planes
// below. Leaves the cairo state as it found it.
void draw_polar(cairo_t* cr, const PolarCurves& curves, const std::string& title,
                const PolarBox& box);

enum class PolarFormat { Png, Svg, Pdf };

// The picture format of a file name's extension (".png", ".svg", ".pdf",
// any case), or of a format name without the dot; nullopt for any other.
std::optional<PolarFormat> polar_format_named(const std::string& name);

// Writes the diagram as a picture of `size` pixels (PNG) or points (SVG,
// PDF) square; throws lux::Error naming the file when it cannot be written.
void write_polar(const PolarCurves& curves, const std::string& title,
                 const std::filesystem::path& path, PolarFormat format, int size = 480);

}  // namespace lux
