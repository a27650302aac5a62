// Arbitrary bytes as a scene file, through the whole calculator: the scene
// read (its data files confined to a folder that does not exist, so that no
// real file is read), its cost reckoned and held to a small budget, the
// model built through the plug-in's exported entry points, the grids,
// cylindrical areas, glare ratings and view calculated, and every output
// made: CSV tables, the JSON report, the summary, the false-colour maps and
// the PDF report. Whatever the scene, nothing may crash, overflow or read
// out of bounds: a scene is calculated or refused with an Error. The
// interreflection is left out: its own estimate bounds it.
#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>

#include "refhost/refhost.h"
#include "tools/lux/metrics/cylindrical.h"
#include "tools/lux/metrics/glare.h"
#include "tools/lux/model/budget.h"
#include "tools/lux/report/outputs.h"
#include "tools/lux/report/pdf_report.h"
#include "tools/lux/report/pdf_sections.h"
#include "tools/lux/report/picture.h"
#include "tools/lux/transport/view.h"

namespace {

// The budget of one input: far below a run's, so that each input takes
// milliseconds.
constexpr uint64_t kFuzzBytes = uint64_t(64) << 20;
constexpr double kFuzzCalls = 3e6;
constexpr const char* kNowhere = "/nonexistent/zel-lux-fuzz";
constexpr const char* kDiscard = "/dev/null";

refhost::Plugin& plugin() {
  static refhost::Plugin p("");
  static const bool declared =
      (refhost::load_declarations(refhost::default_declaration_path()), true);
  (void)declared;
  return p;
}

void calculate_everything(const lux::Scene& scene, bool footcandles) {
  lux::RunSettings run;
  run.samples = 1;
  run.view = scene.view.has_value();
  run.picture_size = 60;
  run.pdf = true;
  run.direct_only = true;
  run.light_columns =
      lux::keeps_light_columns(scene.lights.size() + scene.object_lights.size(), false);
  const lux::WorkEstimate work = lux::estimate_work(scene, run);
  lux::check_work(work, kFuzzBytes);
  if (work.samples > kFuzzCalls) return;

  lux::Model model(plugin(), scene);
  for (auto& light : model.lights()) light.samples = 1;
  lux::CalcOptions calc{1, false, run.light_columns};
  const auto results = lux::calculate(model, calc);
  lux::RunInfo info;
  info.units = lux::output_units(footcandles, scene.unit);
  info.cylindrical = lux::calculate_cylindrical(model, calc, {}, "none");
  if (scene.glare) info.glare = lux::calculate_glare(model, calc);
  std::vector<std::string> names;
  if (calc.light_columns)
    for (const auto& l : model.lights()) names.push_back(l.name);
  std::set<std::string> taken{"report", "view"};
  for (const auto& r : results) {
    std::string base = lux::slug(r.name);
    for (int k = 2; taken.count(base) != 0; ++k) base = lux::slug(r.name) + "-" + std::to_string(k);
    taken.insert(base);
    info.surface_files.push_back(base);
    (void)lux::grid_csv(r, names, info.units);
    if (!r.grid.is_point_list())
      lux::write_false_colour(r, scene.unit.symbol, kDiscard, 60, info.units, "MF");
  }
  if (scene.view) {
    lux::ViewDesc small = *scene.view;
    small.width = std::min(small.width, 16);
    small.height = std::min(small.height, 16);
    small.samples = 1;
    lux::write_png(lux::render_view(model, small, calc).image, kDiscard);
    info.view_file = "view.png";
  }
  lux::ReportContent content;
  content.date = "fuzz";
  content.maintenance_factor = scene.maintenance_factor;
  content.sections = lux::report_sections(model, info);
  content.settings = lux::report_settings(model, info, {true});
  lux::write_pdf_report(model, results, info, content, kDiscard);
  info.pdf_file = "report.pdf";
  (void)lux::report_json(model, results, info).dump(2);
  std::ostringstream summary;
  lux::print_summary(summary, model, results, info);
}

// One scene text, read and calculated in a host emptied of the last one;
// the outputs in lux or, for texts of odd length, in footcandles.
void run(const std::string& text) {
  plugin();
  refhost::reset();
  refhost::reset_editing();
  refhost::clear_messages();
  refhost::set_echo(false);
  try {
    const lux::Scene scene = lux::parse_scene(text, "fuzz.json", kNowhere, {true, kFuzzBytes});
    calculate_everything(scene, text.size() % 2 == 1);
  } catch (const lux::Error&) {
    // Refused with a message: what a hostile scene should get.
  }
}

}  // namespace

// Fontconfig keeps the patterns of the fonts it was asked for in its own
// caches, out of the leak checker's sight; what it holds is bounded by the
// few typefaces the maps and the report use, not by the inputs.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  run(std::string(reinterpret_cast<const char*>(data), size));  // may hold NULs
  return 0;
}
