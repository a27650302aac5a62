// What a run writes: the summary table, a CSV of each grid, the JSON
// report, and the set of files of one run, written whole or not at all.
#pragma once

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/lux/grid/stats.h"
#include "tools/lux/metrics/compliance.h"
#include "tools/lux/metrics/glare.h"
#include "tools/lux/metrics/units.h"
#include "tools/lux/transport/calc.h"

namespace lux {

// The files of one run, written whole or not at all. They are written into
// a fresh folder beside the output folder, which at commit() takes the
// output folder's place in one step; the previous results are then removed.
// So the output folder holds exactly one run's complete results: the new
// ones after a commit, else the previous ones untouched. Destroyed
// uncommitted (a failure, or a signal: discard_unfinished_outputs), the set
// removes what it wrote. A run also removes what an interrupted run of ours
// left beside the folder.
//
// The output folder is replaced whole, so it may hold only results of a
// previous run (as its manifest lists them); anything else in it is refused
// rather than deleted.
class OutputSet {
 public:
  explicit OutputSet(std::filesystem::path dir);
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // A temporary path for the file `name`; the file appears as dir/name at
  // commit. Throws Error when the folder for it cannot be made.
  std::filesystem::path reserve(const std::string& name);
  void write_text(const std::string& name, const std::string& text);
  // Runs `write` on the temporary path of `name`; an Error it throws names
  // the output file, not the temporary.
  void write_file(const std::string& name,
                  const std::function<void(const std::filesystem::path&)>& write);
  void commit();
  // Throws Error now when the output folder could not be replaced at
  // commit: a file of its name, or a folder holding what no run wrote.
  void check_replaceable() const;
  const std::filesystem::path& dir() const { return dir_; }
  // Final paths of the files, in the order they were reserved.
  std::vector<std::filesystem::path> files() const;

 private:
  void begin();
  std::filesystem::path dir_;
  std::filesystem::path staging_;            // the fresh folder, once begun
  std::vector<std::filesystem::path> made_;  // folders made above dir, outermost last
  bool committed_ = false;
  std::vector<std::string> names_;
};

// Name of the list of a run's files, kept in the output folder.
inline constexpr const char* kManifestName = ".zel-lux-files";

// Removes the fresh folders of every uncommitted OutputSet; safe to call
// from a thread that handles a termination signal.
void discard_unfinished_outputs();

// A file-name-safe form of a name: lower case letters, digits and '-', at
// most kLongestSlug of them, so that a long name still makes a file name
// every file system takes (with its suffix and a number to tell apart names
// that begin alike).
std::string slug(const std::string& name);
constexpr size_t kLongestSlug = 100;

// The grid as CSV: i, j, x, y, z, the total E, its direct and
// interreflected parts, then each light's direct share, then MF, the
// maintenance factor of the point's total (maintained over new). Values are
// maintained values in the units' illuminance (lux by default), positions in
// its length. Masked points have empty values; points outside the area are
// left out.
std::string grid_csv(const SurfaceResult& result, const std::vector<std::string>& light_names,
                     const OutputUnits& units = {});

struct RadiositySolution;
struct PhotonBalance;

struct RunInfo {
  int threads = 1;
  double seconds = 0;
  std::vector<FluxResult> flux;            // with --photons
  std::vector<std::string> surface_files;  // per surface: base name of its CSV / PNG
  std::optional<std::string> view_file;
  std::optional<std::string> pdf_file;  // with --pdf
  bool pictures = true;
  std::vector<std::string> messages;                   // host messages during the calculation
  const RadiositySolution* interreflection = nullptr;  // when it was worked out
  const PhotonBalance* photon_balance = nullptr;       // with --photons and interreflection
  OutputUnits units;                                   // of every reported number
  std::vector<CylindricalResult> cylindrical;
  std::optional<GlareReport> glare;
  Verdict verdict;                          // the scene's targets against the results
  std::optional<double> installed_watts;    // none when a luminaire states no power
  std::vector<PowerDensity> power_density;  // per horizontal area facing up
};

// Everything a script may want, as JSON.
nlohmann::ordered_json report_json(const Model& model, const std::vector<SurfaceResult>& results,
                                   const RunInfo& info);

// The summary on standard output: per surface E min, avg, max and the
// uniformities; per light the stated and measured flux when measured.
void print_summary(std::ostream& out, const Model& model, const std::vector<SurfaceResult>& results,
                   const RunInfo& info);

}  // namespace lux
