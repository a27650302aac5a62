// What a run writes: the summary table, a CSV of each grid, the JSON
// report, and the set of files of one run, written whole or not at all.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/lux/calc.h"
#include "tools/lux/glare.h"
#include "tools/lux/metrics.h"

namespace lux {

// The files of one run. Each is written to a temporary name beside its
// final one; commit() renames them all. Destroyed uncommitted, the set
// removes its temporaries (and the output directory, if it made it and it
// is empty), so a failed run leaves nothing half-written behind.
class OutputSet {
 public:
  explicit OutputSet(std::filesystem::path dir);
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // A temporary path for the file `name`; the file is renamed to
  // dir/name at commit. Throws Error when the directory cannot be made.
  std::filesystem::path reserve(const std::string& name);
  void write_text(const std::string& name, const std::string& text);
  void commit();
  const std::filesystem::path& dir() const { return dir_; }
  // Final paths of the files, in the order they were reserved.
  std::vector<std::filesystem::path> files() const;

 private:
  std::filesystem::path dir_;
  bool made_dir_ = false;
  bool committed_ = false;
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> files_;  // temp, final
};

// A file-name-safe form of a name: lower case letters, digits and '-'.
std::string slug(const std::string& name);

// The grid as CSV: i, j, x, y, z, E, then each light's share, then MF, the
// maintenance factor of the point's total (maintained over new). Values are
// maintained values in the units' illuminance (lux by default), positions in
// its length. Masked points have empty values; points outside the area are
// left out.
std::string grid_csv(const SurfaceResult& result, const std::vector<std::string>& light_names,
                     const OutputUnits& units = {});

struct RunInfo {
  int threads = 1;
  double seconds = 0;
  std::vector<FluxResult> flux;            // with --photons
  std::vector<std::string> surface_files;  // per surface: base name of its CSV / PNG
  std::optional<std::string> view_file;
  bool pictures = true;
  std::vector<std::string> messages;  // host messages during the calculation
  OutputUnits units;                  // of every reported number
  std::vector<CylindricalResult> cylindrical;
  std::optional<GlareReport> glare;
};

// Everything a script may want, as JSON.
nlohmann::ordered_json report_json(const Model& model, const std::vector<SurfaceResult>& results,
                                   const RunInfo& info);

// The summary on standard output: per surface E min, avg, max and the
// uniformities; per light the stated and measured flux when measured.
void print_summary(std::ostream& out, const Model& model, const std::vector<SurfaceResult>& results,
                   const RunInfo& info);

}  // namespace lux
