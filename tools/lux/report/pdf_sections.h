// The further results of a run as sections of the PDF report: discomfort
// glare per observer and direction, cylindrical and semi-cylindrical
// illuminance with modelling, the flux balance of the interreflection, and
// the settings that produced the run. Each section is there only when the
// run computed what it shows. Figures are printed to the digits the JSON
// report's readers see (UGR to a tenth, illuminance to a tenth, ratios to
// a hundredth, lumen to a tenth), lengths and illuminances in the run's
// output units.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/lux/report/outputs.h"
#include "tools/lux/report/pdf_report.h"

namespace lux {

// The glare ratings: one row per observer and direction, the largest, where
// the background came from, and the luminaires behind the largest rating.
std::vector<ReportSection> glare_sections(const GlareReport& glare, const OutputUnits& units);

// Cylindrical, horizontal and semi-cylindrical illuminance and the
// modelling ratio, per area and eye height.
std::vector<ReportSection> cylindrical_sections(const std::vector<CylindricalResult>& areas,
                                                const OutputUnits& units);

// Where the lights' flux went in the interreflection: emitted, reaching the
// reflecting surfaces, absorbed per element, lost and left unshot, beside
// the photons' account when they were traced.
std::vector<ReportSection> flux_balance_sections(const Model& model, const RunInfo& info);

// All of the above that the run has, in that order.
std::vector<ReportSection> report_sections(const Model& model, const RunInfo& info);

// What the command line chose that the model and the results do not show.
struct RunChoices {
  bool direct_only = false;  // interreflection left out on request
};

// The settings that produced the run, as label–value lines: emitter
// sampling, interreflection (patch size, residual), photons, maintenance.
std::vector<std::pair<std::string, std::string>> report_settings(const Model& model,
                                                                 const RunInfo& info,
                                                                 const RunChoices& choices);

}  // namespace lux
