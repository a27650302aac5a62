// A luminaire's data sheet from its photometric file: everything a
// manufacturer's sheet gives, computed once, and the sheet itself as one or
// two A4 (or Letter) pages of PDF — identification, polar diagram,
// intensity table, zonal lumens, flux code, efficacy, luminance at steep
// angles and the UGR table.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "tools/lux/metrics/ugr_table.h"
#include "tools/lux/model/photometry.h"
#include "tools/lux/model/photometry_tables.h"
#include "tools/lux/report/pdf_document.h"
#include "tools/lux/report/polar.h"

namespace lux {

struct DataSheet {
  const PhotometricFile* file = nullptr;
  ProfileSummary summary;
  IntensityTable intensities;
  std::vector<Zone> zones;
  std::optional<FluxCode> flux_code;
  std::optional<double> efficacy;  // lm/W
  std::optional<LuminanceTable> luminance;
  std::string luminance_missing;  // why there is none
  PlaneShape shape[2];            // C0–C180, C90–C270
  std::optional<UgrTable> ugr;
  std::string ugr_missing;  // why there is none
  ProfilePolar polar;
};

// Every figure of the sheet for `file`, which must outlive the sheet.
DataSheet make_datasheet(const PhotometricFile& file);

// The two principal planes' names, as the sheet writes them.
inline const char* const kPrincipalPlanes[2] = {"C0-C180", "C90-C270"};

// Writes the sheet as a PDF; throws lux::Error naming the file when it
// cannot be written.
void write_datasheet_pdf(const DataSheet& sheet, const std::filesystem::path& path,
                         Paper paper = Paper::A4);

}  // namespace lux
