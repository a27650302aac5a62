// The PDF report of a run, the document a designer hands a client, in the
// order designers' reports take: a title page with the verdict on every
// requirement and the key figures, the luminaire schedule with the
// products' data, a plan of the room with the work plane's iso-lux map and
// the luminaires where they hang, a page per calculation area (false-colour
// map, statistics, its requirements), the camera view, the further results
// of the run, the settings that produced it and, on request, an appendix
// of every grid point. Vector graphics through cairo's PDF surface.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/lux/report/outputs.h"
#include "tools/lux/report/pdf_document.h"
#include "tools/lux/transport/calc.h"
#include "tools/lux/transport/view.h"

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

// What the report is drawn from besides the model and the results. Each
// optional part appears in the report when present.
struct ReportContent {
  std::string date;  // as printed; see report_date()
  double maintenance_factor = 1.0;
  std::vector<ReportSection> sections;
  std::vector<std::pair<std::string, std::string>> settings;  // more than the run's own
  Paper paper = Paper::A4;
  bool point_tables = false;    // the appendix of every grid point
  const Image* view = nullptr;  // the camera view, when rendered
};

// The date of a report, UTC: now, or SOURCE_DATE_EPOCH when that is set,
// so that a report can be made again byte for byte.
std::string report_date();

// Writes the report to `file`; throws Error when it cannot be written.
void write_pdf_report(const Model& model, const std::vector<SurfaceResult>& results,
                      const RunInfo& info, const ReportContent& content,
                      const std::filesystem::path& file);

}  // namespace lux
