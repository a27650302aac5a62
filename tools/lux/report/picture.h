// Pictures: the false-colour map of a surface's illuminance with a labelled
// colour scale and iso-lux lines, and PNG output of rendered images.
#pragma once

#include <cairo.h>

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/lux/metrics/units.h"
#include "tools/lux/transport/calc.h"
#include "tools/lux/transport/view.h"

namespace lux {

// Round bounds around [min, max] and the iso-lux levels between them, at a
// step of 1, 2, 2.5 or 5 times a power of ten.
struct ColourScale {
  double lo = 0, hi = 1;
  double step = 1;
  std::vector<double> levels;  // strictly between lo and hi
};
ColourScale nice_scale(double min, double max);

// The false-colour ramp: t in [0, 1] to sRGB components in [0, 1], dark
// blue for little light through green and yellow to red for much.
std::array<double, 3> ramp(double t);

// Pieces of the iso-line `level` of values on a lattice of nu × nv points
// (point (i, j) at values[j * nu + i]), in lattice coordinates: x from 0 to
// nu − 1, y from 0 to nv − 1.
struct Segment {
  double x0, y0, x1, y1;
};
std::vector<Segment> iso_segments(const std::vector<double>& values, int nu, int nv, double level);

// The extent of the false-colour figure of a grid (title, map, axes and
// colour scale) whose map's longer side is `size` units of the surface it
// is drawn on (pixels, or points on a page).
struct MapExtent {
  double width = 0, height = 0;
  double plot_x = 0, plot_y = 0, plot_w = 0, plot_h = 0;  // the map itself, inside the figure
};
MapExtent false_colour_extent(const Grid& grid, double size);

// Draws that figure with its top left corner at the origin of `cr`'s user
// space, on any cairo surface: lines, labels and the colour scale as paths
// and text, the colour field as an image of `raster_scale` pixels per unit.
// Masked cells are drawn grey and hatched; `note` is added to the title.
// `result` holds the values to draw, already in the output units (see
// for_display).
void draw_false_colour(cairo_t* cr, const SurfaceResult& result, const std::string& unit,
                       double size, double raster_scale = 1.0, const OutputUnits& units = {},
                       const std::string& note = "");

// A point on a page, in the page's own units (x right, y down).
using PagePoint = std::array<double, 2>;

// Draws an area's colour field on a plan: where `to_page` (an affine map,
// such as a view from above) puts the area's points, with `scale`'s
// colours, its iso-lux lines labelled upright, masked cells grey and a
// polygon area clipped to its outline; no frame, axes or colour scale.
// `shown` holds values in the output units (see for_display).
void draw_area_on_plan(cairo_t* cr, const SurfaceResult& shown, const ColourScale& scale,
                       const std::function<PagePoint(Vec3)>& to_page, double raster_per_point);

// A copy of `result` for drawing: values in the output units, masked points
// filled from their neighbours.
SurfaceResult for_display(const SurfaceResult& result, const OutputUnits& units);

// The false-colour picture of a surface's grid as a PNG at `file`, the
// map's longer side `size` pixels wide. `unit` is the symbol of the scene's
// length unit, for the axis labels. Cells of masked points are drawn grey
// and hatched, cells outside the area white; `note` (e.g. the maintenance
// factor) is added to the title line.
void write_false_colour(const SurfaceResult& result, const std::string& unit,
                        const std::filesystem::path& file, int size = 560,
                        const OutputUnits& units = {}, const std::string& note = "");

// Values for drawing: each point that is not counted takes the value of the
// nearest counted point (by lattice steps, the first found in row order),
// so that colours and iso-lines are not pulled towards 0 around masks.
std::vector<double> filled_for_display(const std::vector<double>& values,
                                       const std::vector<PointState>& state, int nu, int nv);

// Cairo and fontconfig keep their font caches for the life of the process;
// whoever draws text calls this first, so that the caches are released at
// exit and a leak checker sees a clean exit.
void release_font_caches_at_exit();

void write_png(const Image& image, const std::filesystem::path& file);

}  // namespace lux
