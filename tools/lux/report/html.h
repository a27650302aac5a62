// The interactive report: one HTML file that shows the room in a browser,
// turning in 3D, every surface in the false colours of the maps, the
// illuminance read off wherever the pointer rests. Scripts, styles and the
// results are all inside the file, so it opens offline and needs nothing
// installed by whoever receives it.
//
// The page is two parts. The viewer (the page's own scripts and styles,
// bundled with three.js when the calculator is built) is the same for every
// run; the data, a JSON object written here, is the run's: the geometry of
// the scene, each area's lattice of values, the colour scales, the
// luminaires' openings, the glare observers and the key figures.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lux/report/outputs.h"

namespace lux {

// A requirement of a design checked against the results: a row of the
// page's verdict table, which selects `area` in the view.
struct PageVerdict {
  std::string requirement;  // what is checked, e.g. "E avg" or "UGR"
  std::string area;         // the name of the area (or observer) it concerns
  std::string unit;         // of target, result and margin ("lx", "" for UGR)
  std::string relation;     // ">=" (at least the target) or "<=" (at most)
  double target = 0;
  std::optional<double> result;  // none: nothing to rate (no luminaire in the observer's view)
  bool pass = false;
  double margin = 0;  // how far the result lies on the passing side (negative: failing)
};

// The scene's requirements as the page's verdict table lists them.
std::vector<PageVerdict> page_verdicts(const Verdict& verdict, const OutputUnits& units);

// The rounding of the page's numbers: values to this many significant
// digits (a twentieth of a percent at worst, well inside what a reader of
// the CSV can tell apart), lengths to a hundred-thousandth of the scene's
// size.
inline constexpr int kPageValueDigits = 4;
inline constexpr double kPageLengthResolution = 1e-5;

// `v` to `digits` significant digits.
double significant(double v, int digits);
// `v` to a multiple of `quantum`, a power of ten written without noise.
double quantised(double v, double quantum);
// The power of ten at or below `extent` × kPageLengthResolution.
double length_quantum(double extent);

// The false-colour ramp as the page draws it: `n` colours at equal steps of
// t from 0 to 1, interpolated linearly between them. Its stops fall on these
// steps, so the page's colours are the maps' colours.
nlohmann::ordered_json ramp_table(int n = 101);

// Everything the page shows of a run, as JSON: "format", "title", "units",
// "bounds", "ramp", "quantities" (total, and direct and interreflected when
// the run worked out interreflection), "scales" (the colour scale of each
// quantity over every area), "surfaces" (each area with its frame, lattice,
// outline, point states, values, statistics and own scales), "furniture",
// "luminaires" (each with its "openings", the shapes it emits from),
// "observers", "view", "figures" and, when given, "verdicts". Values and
// lengths are in the run's output units, as in the CSV files.
nlohmann::ordered_json page_data(const Model& model, const std::vector<SurfaceResult>& results,
                                 const RunInfo& info,
                                 const std::vector<PageVerdict>& verdicts = {});

// The page: `data` and the scene's title placed into the viewer's template
// at its markers, the data made safe to sit inside a script element. Throws
// Error when the template lacks a marker.
std::string html_page(std::string_view page_template, const nlohmann::ordered_json& data);

// The viewer's template built into this program; empty when the program was
// built without it (no npm at build time), and then why.
std::string_view viewer_template();
std::string_view viewer_missing_reason();

// Throws Error, saying why, when this program was built without the viewer:
// asked before a run, so that a run is not spent on a page it cannot write.
void require_viewer();

// The page of a run.
std::string html_report(const Model& model, const std::vector<SurfaceResult>& results,
                        const RunInfo& info, const std::vector<PageVerdict>& verdicts = {});

}  // namespace lux
