#include "tools/lux/cli/profile_cmd.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/lux/model/photometry.h"
#include "tools/lux/report/polar.h"
#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

constexpr double kPercent = 100.0;
constexpr int kPolarSize = 480;

struct ProfileOptions {
  std::vector<std::string> files;
  std::string format;  // "", "ies", "eulumdat"
  bool json = false;
  std::string polar;  // "", "png", "svg", "pdf"
  std::string output = ".";
};

std::string fixed(double v, int decimals) {
  char s[64];
  std::snprintf(s, sizeof s, "%.*f", decimals, v);
  return s;
}

json spread_json(const std::optional<Spread>& s) {
  if (!s) return json();
  return {{"full_deg", s->full}, {"right_deg", s->right}, {"left_deg", s->left}};
}

std::string spread_text(const std::optional<Spread>& s) {
  if (!s) return "-";
  // The edges as angles from the nadir, negative on the C180 (C270) side.
  return fixed(s->full, 1) + "\u00b0 (" + fixed(-s->left, 1) + "\u00b0 to " + fixed(s->right, 1) +
         "\u00b0)";
}

std::string optional_fixed(const std::optional<double>& v, int decimals, double scale = 1) {
  return v ? fixed(*v * scale, decimals) : "-";
}

const char* const kPlaneNames[2] = {"C0-C180", "C90-C270"};

json file_json(const PhotometricFile& f, const ProfileSummary& s,
               const std::optional<std::string>& polar, const std::string& polar_unit) {
  json j;
  j["file"] = f.path.string();
  j["format"] = f.format_name;
  j["type"] = f.type;
  j["symmetry"] = f.symmetry;
  json fields = json::object();
  for (const auto& [name, value] : f.fields) fields[name] = value;
  j["fields"] = fields;
  json sets = json::array();
  for (const auto& l : f.lamp_sets)
    sets.push_back({{"count", l.count},
                    {"type", l.type},
                    {"flux_lm", l.flux},
                    {"colour", l.colour},
                    {"rendering", l.rendering},
                    {"watts", l.watts}});
  j["lamp_sets"] = sets;
  const LuminaireData& l = f.luminaire;
  const LuminousOpening& o = l.opening;
  j["luminaire"] = {
      {"manufacturer", l.manufacturer},
      {"name", l.name},
      {"catalogue", l.catalogue},
      {"lamp", l.lamp},
      {"report", l.report},
      {"date", l.date},
      {"colour_temperature", l.colour_temperature},
      {"colour_rendering", l.colour_rendering},
      {"watts", l.watts ? json(*l.watts) : json()},
      {"opening",
       {{"shape", o.description},
        {"length_m", o.length},
        {"width_m", o.width},
        {"height_m", o.height},
        {"side_heights_m",
         {o.side_heights[0], o.side_heights[1], o.side_heights[2], o.side_heights[3]}}}}};
  j["absolute_photometry"] = f.absolute;
  j["angles"] = {{"vertical", f.vertical_angles},
                 {"horizontal", f.horizontal_angles},
                 {"gamma_from", f.table.vertical.front()},
                 {"gamma_to", f.table.vertical.back()}};
  j["peak"] = {{"cd", s.peak_cd},
               {"cd_per_klm", s.peak_cd * s.cd_per_klm_scale},
               {"gamma_deg", s.peak_gamma},
               {"c_deg", s.peak_c}};
  j["flux"] = {{"integrated_lm", s.flux},
               {"lamp_lm", f.lamp_flux > 0 ? json(f.lamp_flux) : json()},
               {"stated_output_lm", f.stated_output ? json(*f.stated_output) : json()},
               {"stated_output_source", f.stated_output ? json(f.stated_output_source) : json()},
               {"stated_deviation", s.stated_deviation ? json(*s.stated_deviation) : json()},
               {"light_output_ratio", s.lor ? json(*s.lor) : json()},
               {"stated_light_output_ratio", f.lor ? json(*f.lor) : json()}};
  j["downward_fraction"] = s.downward;
  j["upward_fraction"] = s.flux > 0 ? 1 - s.downward : 0.0;
  j["beam"] = {{kPlaneNames[0], spread_json(s.beam[0])}, {kPlaneNames[1], spread_json(s.beam[1])}};
  j["field"] = {{kPlaneNames[0], spread_json(s.field[0])},
                {kPlaneNames[1], spread_json(s.field[1])}};
  j["problems"] = s.problems;
  j["polar"] = polar ? json(*polar) : json();
  j["polar_unit"] = polar ? json(polar_unit) : json();
  return j;
}

void print_file(std::ostream& out, const PhotometricFile& f, const ProfileSummary& s,
                const std::optional<std::string>& polar, const std::string& polar_unit) {
  out << f.path.string() << "\n";
  out << "  format     " << f.format_name << ", type " << f.type << "\n";
  out << "  symmetry   " << f.symmetry << "\n";
  out << "  angles     " << f.vertical_angles << " vertical (gamma "
      << fixed(f.table.vertical.front(), 1) << " to " << fixed(f.table.vertical.back(), 1) << "), "
      << f.horizontal_angles << " horizontal\n";
  const LuminaireData& l = f.luminaire;
  const auto item = [&](const char* label, const std::string& value) {
    if (!value.empty()) out << "  " << label << value << "\n";
  };
  item("maker      ", l.manufacturer);
  item("luminaire  ", l.name);
  item("catalogue  ", l.catalogue);
  item("lamp       ", l.lamp);
  item("colour     ", l.colour_temperature +
                          (l.colour_rendering.empty() ? "" : ", rendering " + l.colour_rendering));
  out << "  opening    " << l.opening.description << "\n";
  if (l.watts) out << "  power      " << fixed(*l.watts, 1) << " W\n";
  out << "  header\n";
  for (const auto& [name, value] : f.fields) {
    char line[512];
    std::snprintf(line, sizeof line, "    %-38s %s\n", name.c_str(), value.c_str());
    out << line;
  }
  out << "  peak       " << fixed(s.peak_cd, 1) << " cd ("
      << fixed(s.peak_cd * s.cd_per_klm_scale, 1) << " cd/klm) at gamma " << fixed(s.peak_gamma, 1)
      << ", C " << fixed(s.peak_c, 1) << "\n";
  out << "  flux       " << fixed(s.flux, 1) << " lm integrated (zonal)";
  if (f.lamp_flux > 0) out << "; lamps " << fixed(f.lamp_flux, 1) << " lm";
  if (s.lor) out << "; LOR " << fixed(*s.lor, 3);
  if (f.lor) out << " (stated " << fixed(*f.lor, 3) << ")";
  out << "\n";
  if (f.stated_output)
    out << "  stated     " << fixed(*f.stated_output, 1) << " lm (" << f.stated_output_source
        << "); integrated " << optional_fixed(s.stated_deviation, 2, kPercent) << "%\n";
  out << "  downward   " << fixed(kPercent * s.downward, 1) << "%, upward "
      << fixed(s.flux > 0 ? kPercent * (1 - s.downward) : 0.0, 1) << "%\n";
  for (int p = 0; p < 2; ++p)
    out << "  " << kPlaneNames[p] << (p == 0 ? "    " : "   ") << "beam (50%) "
        << spread_text(s.beam[p]) << ", field (10%) " << spread_text(s.field[p]) << "\n";
  if (s.problems.empty()) out << "  problems   none\n";
  for (const auto& problem : s.problems) out << "  problem    " << problem << "\n";
  if (polar) out << "  polar      " << *polar << " (C0-C180 and C90-C270; " << polar_unit << ")\n";
}

// The polar diagram's file: the photometric file's name with the format's
// extension, in `dir`.
fs::path polar_path(const fs::path& dir, const fs::path& file, const std::string& ext) {
  return dir / (file.filename().string() + "." + ext);
}

}  // namespace

int run_profile(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"zel-lux profile: inspect IES and EULUMDAT photometric files", "zel-lux profile"};
  ProfileOptions o;
  app.add_option("files", o.files, "photometric files (.ies, .ldt)")->required();
  app.add_option("--format", o.format, "ies or eulumdat (default: .ldt is EULUMDAT, else IES)")
      ->check(CLI::IsMember({"ies", "eulumdat"}));
  app.add_flag("--json", o.json, "print the results as JSON");
  app.add_option("--polar", o.polar, "write each file's polar diagram: png, svg or pdf")
      ->check(CLI::IsMember({"png", "svg", "pdf"}));
  app.add_option("-o,--output", o.output, "directory for the polar diagrams (default: .)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err);
  }

  json all = json::array();
  bool refused = false;
  for (const std::string& name : o.files) {
    const fs::path path(name);
    const int format = o.format.empty() ? format_of(path) : o.format == "eulumdat" ? 2 : 1;
    try {
      const PhotometricFile f = read_photometric_file(path, format);
      const ProfileSummary s = summarise(f);
      std::optional<std::string> polar;
      std::string polar_unit;
      if (!o.polar.empty()) {
        fs::create_directories(o.output);
        const fs::path p = polar_path(o.output, path, o.polar);
        const ProfilePolar diagram = profile_polar(f, s);
        write_polar(diagram.curves, path.filename().string(), p, *polar_format_named(o.polar),
                    kPolarSize);
        polar = p.string();
        polar_unit = diagram.unit_note;
      }
      if (o.json)
        all.push_back(file_json(f, s, polar, polar_unit));
      else
        print_file(out, f, s, polar, polar_unit);
    } catch (const std::exception& e) {
      refused = true;
      err << "zel-lux: " << e.what() << "\n";
      if (o.json) all.push_back({{"file", name}, {"error", e.what()}});
    }
  }
  if (o.json) out << all.dump(2) << "\n";
  return refused ? 1 : 0;
}

}  // namespace lux
