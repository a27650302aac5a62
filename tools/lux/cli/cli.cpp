#include "tools/lux/cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "tools/lux/cli/profile_cmd.h"
#include "tools/lux/model/budget.h"
#include "tools/lux/report/html.h"
#include "tools/lux/report/outputs.h"
#include "tools/lux/report/pdf_report.h"
#include "tools/lux/report/pdf_sections.h"
#include "tools/lux/report/picture.h"
#include "tools/lux/scene/input_file.h"
#include "tools/lux/transport/photon_trace.h"
#include "tools/lux/transport/progress.h"
#include "tools/lux/transport/radiosity.h"
#include "tools/lux/transport/view.h"

namespace lux {

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string scene;
  std::string output;
  int threads = 0;
  int samples = 0;
  double accuracy = 0;
  int photons = 0;
  bool view = false;
  bool no_pictures = false;
  bool direct_only = false;
  std::string picture = "total";
  int picture_size = 560;
  bool pdf = false;
  std::string paper = "a4";
  bool html = false;
  bool quiet = false;
  std::string plugin;
  std::string declarations;
  double max_memory = 0;       // GB; 0: half the machine's memory
  bool confine = false;        // data files only from the scene's folder and below
  bool light_columns = false;  // a column per light in the tables, whatever their number
  std::string units = "lux";
  bool strict = false;        // a design that fails a requirement exits with status 1
  bool point_tables = false;  // the PDF's appendix of grid points
};

void load_declarations(const std::string& path) {
  check_input_file(path, "the shader declarations");
  try {
    refhost::load_declarations(path);
  } catch (const std::exception& e) {
    throw Error(path + ": " + e.what());
  }
}

std::unique_ptr<refhost::Plugin> load_plugin(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec))
    throw Error(path + ": cannot load the plug-in: " + (ec ? ec.message() : "no such file"));
  try {
    return std::make_unique<refhost::Plugin>(path);
  } catch (const std::exception& e) {
    throw Error(path + ": cannot load the plug-in (" + std::string(e.what()) + ")");
  }
}

// The host's messages from `from` on, as lines for the user: each text
// once, in order of first appearance, with how often it came.
std::vector<std::string> host_messages(size_t from) {
  const auto all = refhost::messages();
  std::vector<std::string> texts;
  std::map<std::string, size_t> counts;
  for (size_t i = from; i < all.size(); ++i) {
    const std::string t =
        (all[i].kind == refhost::MessageKind::Error ? "error: " : "warning: ") + all[i].text;
    if (counts[t]++ == 0) texts.push_back(t);
  }
  for (auto& t : texts)
    if (counts[t] > 1) t += " (" + std::to_string(counts[t]) + " times)";
  return texts;
}

// The maintenance factor for a picture's title: the one all lights share,
// or the range.
std::string maintenance_note(const Model& model) {
  double lo = 1, hi = 0;
  for (const auto& l : model.lights()) {
    lo = std::min(lo, l.maintenance_factor);
    hi = std::max(hi, l.maintenance_factor);
  }
  char text[64];
  if (lo == hi) {
    std::snprintf(text, sizeof text, "MF %.2f", lo);
  } else {
    std::snprintf(text, sizeof text, "MF %.2f-%.2f", lo, hi);
  }
  return text;
}

int calculate_and_write(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.html) require_viewer();
  load_declarations(o.declarations.empty() ? refhost::default_declaration_path() : o.declarations);
  const uint64_t max_bytes =
      o.max_memory > 0 ? memory_bound_of(o.max_memory) : default_memory_bound();
  const Scene scene = load_scene(o.scene, {o.confine, max_bytes});
  if (o.view && !scene.view) throw Error(o.scene + ": --view needs a \"view\" in the scene file");
  const bool light_columns =
      keeps_light_columns(scene.lights.size() + scene.object_lights.size(), o.light_columns);
  RunSettings run;
  run.samples = o.samples;
  run.view = o.view;
  run.light_columns = light_columns;
  run.photons = o.photons;
  run.pictures = !o.no_pictures;
  run.picture_size = o.picture_size;
  run.pdf = o.pdf;
  run.direct_only = o.direct_only;
  try {
    check_work(estimate_work(scene, run), max_bytes);
  } catch (const Error& e) {
    throw Error(scene.file + ": " + e.what());
  }
  // A folder the results may not replace is refused now, not after the work.
  const fs::path dir = !o.output.empty()           ? fs::path(o.output)
                       : o.scene == kStandardInput ? fs::path("out") / "stdin"
                                                   : fs::path("out") / fs::path(o.scene).stem();
  OutputSet files(dir);
  files.check_replaceable();
  auto plugin = load_plugin(o.plugin.empty() ? refhost::default_plugin_path() : o.plugin);

  Model model(*plugin, scene);
  for (const auto& light : model.lights())
    for (const auto& m : light.messages)
      err << "zel-lux: light \"" << light.name << "\": " << m << "\n";
  if (o.samples > 0)
    for (auto& light : model.lights()) light.samples = o.samples;
  if (o.accuracy > 0)
    for (auto& light : model.lights()) {
      light.samples = 0;
      light.accuracy = o.accuracy;
    }
  const size_t messages_before = refhost::messages().size();

  CalcOptions calc;
  calc.threads = o.threads > 0
                     ? o.threads
                     : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  calc.progress = !o.quiet && Progress::stderr_is_terminal();
  calc.light_columns = light_columns;

  const auto start = std::chrono::steady_clock::now();
  RadiositySolution interreflection;
  if (!o.direct_only)
    interreflection = solve_radiosity(
        model, {calc.threads, calc.progress,
                o.max_memory > 0 ? memory_bound_of(o.max_memory) : default_memory_bound()});
  const bool reflects = !interreflection.patches.empty();
  const auto results = calculate(model, calc, reflects ? &interreflection : nullptr);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  RunInfo info;
  const bool relative = std::any_of(model.lights().begin(), model.lights().end(),
                                    [](const Light& l) { return l.relative; });
  info.units = output_units(o.units == "fc", scene.unit, relative);
  // Cylindrical illuminance and the glare rating's background take the
  // interreflected light from the same solution as the grids.
  IndirectField field;
  if (reflects)
    field = [&interreflection](Vec3 point, Vec3 normal) {
      refhost::ThreadContext thread;
      return indirect_illuminance(interreflection, point, normal, thread);
    };
  info.cylindrical = calculate_cylindrical(model, calc, field, reflects ? "radiosity" : "none");
  if (scene.glare) info.glare = calculate_glare(model, calc, field);
  info.verdict = check_targets(scene, results, info.cylindrical, info.glare, info.units);
  std::vector<std::optional<double>> powers;
  for (const auto& l : model.lights()) powers.push_back(l.power);
  info.installed_watts = installed_power(powers);
  info.power_density = power_densities(scene, results, info.installed_watts);
  info.threads = calc.threads;
  info.seconds = elapsed.count();
  info.pictures = !o.no_pictures;
  if (o.photons > 0)
    for (size_t l = 0; l < model.lights().size(); ++l)
      info.flux.push_back(measure_flux(model, l, o.photons, calc));
  PhotonBalance photon_balance;
  if (reflects) {
    info.interreflection = &interreflection;
    if (o.photons > 0) {
      photon_balance = trace_photons(model, interreflection, o.photons, calc);
      info.photon_balance = &photon_balance;
    }
  }

  std::set<std::string> taken{"report", "view"};
  for (const auto& r : results) {
    std::string base = slug(r.name);
    for (int k = 2; taken.count(base) != 0; ++k) base = slug(r.name) + "-" + std::to_string(k);
    taken.insert(base);
    info.surface_files.push_back(base);
    std::vector<std::string> names;
    if (calc.light_columns)
      for (const auto& l : model.lights()) names.push_back(l.name);
    files.write_text(base + ".csv", grid_csv(r, names, info.units));
    if (info.pictures && !r.grid.is_point_list())
      files.write_file(base + ".png", [&](const fs::path& temp) {
        SurfaceResult shown = r;
        if (o.picture != "total") shown.lux = o.picture == "direct" ? r.direct : r.interreflected;
        write_false_colour(shown, scene.unit.symbol, temp, o.picture_size, info.units,
                           maintenance_note(model));
      });
  }
  std::optional<ViewResult> view;
  if (o.view) {
    view = render_view(model, *scene.view, calc, reflects ? &interreflection : nullptr);
    files.write_file("view.png", [&](const fs::path& temp) { write_png(view->image, temp); });
    info.view_file = "view.png";
  }
  info.messages = host_messages(messages_before);
  if (o.pdf) {
    ReportContent content;
    content.date = report_date();
    content.paper = *paper_named(o.paper);
    content.maintenance_factor = scene.maintenance_factor;
    content.sections = report_sections(model, info);
    content.settings = report_settings(model, info, {o.direct_only});
    content.point_tables = o.point_tables;
    if (view) content.view = &view->image;
    write_pdf_report(model, results, info, content, files.reserve("report.pdf"));
    info.pdf_file = "report.pdf";
  }
  if (o.html) files.write_text("report.html", html_report(model, results, info));
  files.write_text("report.json", report_json(model, results, info).dump(2) + "\n");
  files.commit();

  for (const auto& m : info.messages) err << "zel-lux: host: " << m << "\n";
  print_summary(out, model, results, info);
  out << "\nwritten to " << dir.string() << "/:";
  for (const auto& f : files.files()) out << " " << f.filename().string();
  out << "\n";
  if (o.strict && !info.verdict.complies()) {
    err << "zel-lux: " << scene.file << ": the design fails " << info.verdict.failed() << " of "
        << info.verdict.requirements.size() << " requirements (--strict)\n";
    return 1;
  }
  return 0;
}

// The calculator's version and that of each shader of the plug-in, as the
// shaders themselves answer.
std::string versions(const std::string& plugin_path) {
  std::string text = std::string("zel-lux ") + ZEL_VERSION + "\n";
  const std::string path = plugin_path.empty() ? refhost::default_plugin_path() : plugin_path;
  try {
    const auto plugin = load_plugin(path);
    text += "plug-in " + path + ":";
    for (const char* shader :
         {"zel_lumenfield", "zel_lightprofile", "zel_light_object", "zel_lightprofile_utility"}) {
      using VersionFn = int (*)();
      const auto version =
          reinterpret_cast<VersionFn>(plugin->symbol(std::string(shader) + "_version"));
      text += std::string(" ") + shader + " " + (version ? std::to_string(version()) : "absent");
    }
    return text + "\n";
  } catch (const Error& e) {
    return text + "plug-in: " + e.what() + "\n";
  }
}

}  // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  if (argc > 1 && std::string(argv[1]) == "profile")
    return run_profile(argc - 1, argv + 1, out, err);
  CLI::App app{
      "zel-lux: illuminance on work planes, flux of lights and a view of the emitters, "
      "calculated with the zel_lumenfield plug-in",
      "zel-lux"};
  app.footer(
      "Commands:\n"
      "  zel-lux SCENE.json [options]       calculate a scene: illuminance on its surfaces,\n"
      "                                     glare, its targets' verdicts (the options above)\n"
      "  zel-lux profile FILE... [options]  what IES and EULUMDAT files state: the luminaire,\n"
      "                                     flux, beam angles, polar diagrams\n"
      "                                     (zel-lux profile --help)\n"
      "\n"
      "First steps:\n"
      "  zel-lux room.json --pdf            calculate, check the targets and write report.pdf\n"
      "  zel-lux room.json --pdf --strict   the same; exit status 1 when a target is missed\n"
      "  zel-lux profile luminaire.ies      check a luminaire's file before using it\n"
      "\n"
      "docs/lux.md describes the scene file, the outputs and the report.");
  Options o;
  app.set_version_flag(
      "--version", [&o] { return versions(o.plugin); },
      "the calculator's version and its plug-in's");
  app.add_option("scene", o.scene, "scene file (JSON); - reads it from standard input")->required();
  app.add_option("-o,--output", o.output, "directory for the results (default out/<scene name>)");
  app.add_option("-j,--threads", o.threads, "worker threads (default: all cores)")
      ->check(CLI::Range(1, 1024));
  auto* samples = app.add_option("-s,--samples", o.samples,
                                 "a fixed count of emitter points per light and grid point, for "
                                 "every light")
                      ->check(CLI::Range(1, 1 << 20));
  app.add_option("-a,--accuracy", o.accuracy,
                 "relative error aimed at per light and grid point, for every light (default "
                 "the scene's, 0.001)")
      ->check(CLI::Range(kFinestAccuracy, kCoarsestAccuracy))
      ->excludes(samples);
  app.add_option("--photons", o.photons,
                 "measure each light's flux with this many photons, and trace as many "
                 "through the reflecting surfaces as a second opinion on the interreflections")
      ->check(CLI::Range(1, 1 << 30));
  app.add_flag("--view", o.view, "render the scene's camera view to view.png");
  app.add_flag("--no-pictures", o.no_pictures, "write no false-colour pictures");
  app.add_option("--picture", o.picture,
                 "what the false-colour pictures show: total (default), direct or interreflected")
      ->check(CLI::IsMember({"total", "direct", "interreflected"}));
  app.add_flag("--direct-only", o.direct_only,
               "leave out interreflected light (reflecting surfaces still cast shadows)");
  app.add_option("--picture-size", o.picture_size,
                 "width of the longer side of a false-colour map, in pixels (default 560)")
      ->check(CLI::Range(60, 8000));
  app.add_flag("--pdf", o.pdf, "write the report as a PDF document, report.pdf");
  app.add_option("--paper", o.paper, "paper size of the PDF report: a4 (default) or letter")
      ->check([](const std::string& name) {
        return paper_named(name) ? std::string() : "paper is a4 or letter, not " + name;
      });
  app.add_flag("--html", o.html,
               "write the interactive 3D report, report.html: one file that opens offline in "
               "any browser");
  app.add_flag("-q,--quiet", o.quiet, "no progress bar");
  app.add_option("--units", o.units,
                 "illuminance in lux (and lengths in the scene's unit) or in footcandles "
                 "(and feet)")
      ->check(CLI::IsMember({"lux", "fc"}));
  app.add_option("--plugin", o.plugin, "the plug-in to load (default: the one built with zel-lux)")
      ->trigger_on_parse();  // so that --version sees it
  app.add_option("--declarations", o.declarations, "the plug-in's shader declarations");
  app.add_option("--max-memory", o.max_memory,
                 "refuse runs whose results need more memory than this, in GB "
                 "(default: half the machine's memory)")
      ->check(CLI::PositiveNumber);
  app.add_flag("--strict", o.strict,
               "exit with status 1 when the design fails a requirement of its targets");
  app.add_flag("--point-tables", o.point_tables,
               "an appendix of every grid point's illuminance in the PDF report");
  app.add_flag("--confine", o.confine,
               "read data files (meshes, material libraries, point lists, profiles) only from "
               "the scene's folder and below");
  app.add_flag("--light-columns", o.light_columns,
               "a column per light in the tables even beyond " + std::to_string(kMaxLightColumns) +
                   " lights (memory: points × lights)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err);
  }
  try {
    refhost::set_echo(false);
    return calculate_and_write(o, out, err);
  } catch (const Error& e) {
    err << "zel-lux: " << e.what() << "\n";
  } catch (const std::exception& e) {
    err << "zel-lux: " << e.what() << "\n";
  }
  return 1;
}

}  // namespace lux
