// The PDF report of a run, the document a designer hands a client: a title
// page with the summary of every surface, the luminaire schedule, a page
// per calculation surface (false-colour map with iso-lux lines, statistics,
// then its point table), the further results of the run when it has them,
// and the settings that produced it. Vector graphics through cairo's PDF
// surface.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/lux/report/outputs.h"
#include "tools/lux/report/pdf_document.h"
#include "tools/lux/transport/calc.h"

namespace lux {

// A table of results for a section of the report: its rows as printed.
struct ReportTable {
  std::vector<Column> columns;
  std::vector<std::vector<std::string>> rows;
};

// A section of further results (glare, cylindrical illuminance, the flux
// balance of the interreflection, ...): a heading, lines of explanation and
// a table. The parts of the calculator that compute such results describe
// them this way, so the report draws whatever a run has.
struct ReportSection {
  std::string heading;
  std::vector<std::string> notes;
  ReportTable table;
};

// What a designer checks a surface against, when the scene states it.
struct SurfaceLimits {
  std::optional<double> min_avg_lux;  // maintained average illuminance at least
  std::optional<double> min_u0;       // Emin/Eavg at least
};

// What the report is drawn from besides the model and the results. Each
// optional part appears in the report when present.
struct ReportContent {
  std::string date;  // as printed; see report_date()
  double maintenance_factor = 1.0;
  std::vector<SurfaceLimits> limits;  // per surface, when stated
  std::vector<ReportSection> sections;
  std::vector<std::pair<std::string, std::string>> settings;  // more than the run's own
  Paper paper = Paper::A4;
};

// The date of a report, UTC: now, or SOURCE_DATE_EPOCH when that is set,
// so that a report can be made again byte for byte.
std::string report_date();

// Writes the report to `file`; throws Error when it cannot be written.
void write_pdf_report(const Model& model, const std::vector<SurfaceResult>& results,
                      const RunInfo& info, const ReportContent& content,
                      const std::filesystem::path& file);

}  // namespace lux
