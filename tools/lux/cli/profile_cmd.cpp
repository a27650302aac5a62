#include "tools/lux/cli/profile_cmd.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tools/lux/model/photometry.h"
#include "tools/lux/report/datasheet.h"
#include "tools/lux/report/pdf_document.h"
#include "tools/lux/report/photometric_writer.h"
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
  bool pdf = false;          // the data sheet
  std::string paper = "a4";  // of the data sheet
  std::string write;         // the file to convert into
  bool intensities = false;  // the intensity table in the text
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

std::string optional_fixed(const std::optional<double>& v, int decimals, double scale = 1) {
  return v ? fixed(*v * scale, decimals) : "-";
}

const char* const kPlaneNames[2] = {"C0-C180", "C90-C270"};

json file_json(const PhotometricFile& f, const ProfileSummary& s,
               const std::optional<std::string>& polar, const std::string& polar_unit) {
  json j;
  j["file"] = valid_utf8(f.path.string());
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

json shape_json(const PlaneShape& p) {
  static const char* const kKinds[] = {"cone",   "batwing", "one-sided", "direct-indirect",
                                       "upward", "dark"};
  return {{"shape", kKinds[static_cast<int>(p.kind)]},
          {"beam", spread_json(p.beam)},
          {"field", spread_json(p.field)},
          {"text", p.text}};
}

// The data sheet's tables, added to a file's JSON object: beam and field
// only where they are a cone about the nadir.
void add_datasheet_json(json& j, const DataSheet& d) {
  const PhotometricFile& f = *d.file;
  for (int p = 0; p < 2; ++p) {
    j["beam"][kPlaneNames[p]] = spread_json(d.shape[p].beam);
    j["field"][kPlaneNames[p]] = spread_json(d.shape[p].field);
    j["distribution"][kPlaneNames[p]] = shape_json(d.shape[p]);
  }
  json planes = json::array();
  for (const IntensityPlane& p : d.intensities.planes) {
    json klm = json::array();
    for (const double cd : p.candela) klm.push_back(cd * d.intensities.cd_per_klm);
    planes.push_back({{"c_deg", p.c}, {"cd", p.candela}, {"cd_per_klm", klm}});
  }
  j["intensity_table"] = {
      {"gamma_deg", d.intensities.gamma},
      {"cd_per_klm_of",
       f.absolute && !(f.lamp_flux > 0) ? "the luminaire's integrated flux" : "the lamps' flux"},
      {"planes", planes}};
  json zones = json::array();
  for (const Zone& z : d.zones)
    zones.push_back({{"from_deg", z.from},
                     {"to_deg", z.to},
                     {"lm", z.lumen},
                     {"fraction_of_luminaire", d.summary.flux > 0 ? z.lumen / d.summary.flux : 0.0},
                     {"fraction_of_lamps",
                      f.lamp_flux > 0 && !f.absolute ? json(z.lumen / f.lamp_flux) : json()}});
  j["zonal_lumens"] = zones;
  j["flux_code"] = d.flux_code ? json{{"n", d.flux_code->n}, {"text", d.flux_code->text}} : json();
  j["efficacy_lm_per_w"] = d.efficacy ? json(*d.efficacy) : json();
  if (d.luminance) {
    const LuminanceTable& l = *d.luminance;
    json rows = json::array();
    for (size_t g = 0; g < l.gamma.size(); ++g) {
      json row = json::array();
      for (size_t k = 0; k < l.c.size(); ++k) row.push_back(l.at(g, k));
      rows.push_back(row);
    }
    j["luminance"] = {{"gamma_deg", l.gamma},
                      {"c_deg", l.c},
                      {"cd_per_m2", rows},
                      {"max_cd_per_m2", l.max},
                      {"max_gamma_deg", l.max_gamma},
                      {"max_c_deg", l.max_c}};
  } else {
    j["luminance"] = {{"missing", d.luminance_missing}};
  }
  if (d.ugr) {
    const UgrTable& u = *d.ugr;
    json rooms = json::array();
    for (size_t r = 0; r < kUgrRoomCount; ++r) {
      json views;
      for (const UgrView v : {UgrView::Crosswise, UgrView::Endwise}) {
        json values = json::array();
        for (size_t k = 0; k < kUgrReflectanceCount; ++k) values.push_back(u.at(r, v, k));
        views[v == UgrView::Crosswise ? "crosswise" : "endwise"] = values;
      }
      rooms.push_back({{"x_h", kUgrRooms[r].x}, {"y_h", kUgrRooms[r].y}, {"ugr", views}});
    }
    json reflectances = json::array();
    for (const UgrReflectances& k : kUgrReflectances)
      reflectances.push_back({{"ceiling", k.ceiling}, {"walls", k.walls}, {"floor", k.floor}});
    json variation = json::array();
    for (const UgrTable::Variation& v : u.variation)
      variation.push_back({{"spacing_h", v.spacing},
                           {"crosswise", {{"rise", v.rise[0]}, {"fall", v.fall[0]}}},
                           {"endwise", {{"rise", v.rise[1]}, {"fall", v.fall[1]}}}});
    j["ugr"] = {{"flux_lm", u.flux},
                {"spacing_h", kUgrStandardSpacing},
                {"reflectances", reflectances},
                {"rooms", rooms},
                {"variation", variation}};
  } else {
    j["ugr"] = {{"missing", d.ugr_missing}};
  }
}

void print_file(std::ostream& out, const DataSheet& d, const std::optional<std::string>& polar,
                const std::string& polar_unit) {
  const PhotometricFile& f = *d.file;
  const ProfileSummary& s = d.summary;
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
    out << "  " << kPlaneNames[p] << (p == 0 ? "    " : "   ") << d.shape[p].text << "\n";
  if (s.problems.empty()) out << "  problems   none\n";
  for (const auto& problem : s.problems) out << "  problem    " << problem << "\n";
  if (polar) out << "  polar      " << *polar << " (C0-C180 and C90-C270; " << polar_unit << ")\n";
}

void print_zones(std::ostream& out, const DataSheet& d) {
  const PhotometricFile& f = *d.file;
  out << "  zonal      ";
  for (size_t i = 0; i < d.zones.size(); ++i) {
    const Zone& z = d.zones[i];
    out << (i > 0 ? ", " : "") << fixed(z.from, 0) << "-" << fixed(z.to, 0) << "\u00b0 "
        << fixed(z.lumen, 0) << " lm";
  }
  out << "\n";
  if (d.flux_code)
    out << "  flux code  " << d.flux_code->text << " (CIE: % of the downward flux within 41.4, "
        << "60, 75.5\u00b0; downward %; "
        << (f.absolute || !(f.lamp_flux > 0) ? "100 (absolute)" : "LOR %") << ")\n";
  out << "  efficacy   "
      << (d.efficacy ? fixed(*d.efficacy, 1) + " lm/W" : "- (the file states no input power)")
      << "\n";
}

void print_luminance(std::ostream& out, const DataSheet& d) {
  if (!d.luminance) {
    out << "  luminance  - (" << d.luminance_missing << ")\n";
    return;
  }
  const LuminanceTable& l = *d.luminance;
  out << "  luminance  cd/m2 of the opening; max " << fixed(l.max, 0) << " at gamma "
      << fixed(l.max_gamma, 0) << ", C " << fixed(l.max_c, 0) << " (EN 12464-1 screen limits "
      << fixed(kScreenLuminanceLimitDim, 0) << " / " << fixed(kScreenLuminanceLimitBright, 0)
      << ")\n";
  out << "    gamma";
  for (size_t k = 0; k < l.c.size(); k += 3) {
    char cell[16];
    std::snprintf(cell, sizeof cell, "%8s", ("C" + fixed(l.c[k], 0)).c_str());
    out << cell;
  }
  out << "\n";
  for (size_t g = 0; g < l.gamma.size(); ++g) {
    char cell[32];
    std::snprintf(cell, sizeof cell, "    %5.0f", l.gamma[g]);
    out << cell;
    for (size_t k = 0; k < l.c.size(); k += 3) {
      std::snprintf(cell, sizeof cell, "%8.0f", l.at(g, k));
      out << cell;
    }
    out << "\n";
  }
}

void print_ugr(std::ostream& out, const DataSheet& d) {
  if (!d.ugr) {
    out << "  UGR        - (" << d.ugr_missing << ")\n";
    return;
  }
  const UgrTable& u = *d.ugr;
  out << "  UGR        tabular method, " << fixed(u.flux, 0)
      << " lm per luminaire, spacing 0.25 H\n";
  const char* const rows[3] = {"ceiling", "walls", "floor"};
  for (int r = 0; r < 3; ++r) {
    char cell[32];
    std::snprintf(cell, sizeof cell, "    %-12s", rows[r]);
    out << cell;
    for (int view = 0; view < 2; ++view) {
      for (const UgrReflectances& k : kUgrReflectances) {
        const double v = r == 0 ? k.ceiling : r == 1 ? k.walls : k.floor;
        std::snprintf(cell, sizeof cell, "%6.2f", v);
        out << cell;
      }
      out << (view == 0 ? "  " : "");
    }
    out << "\n";
  }
  out << "    room X x Y    viewed crosswise                viewed endwise\n";
  for (size_t room = 0; room < kUgrRoomCount; ++room) {
    char cell[32];
    std::snprintf(cell, sizeof cell, "    %2.0fH x %2.0fH    ", kUgrRooms[room].x,
                  kUgrRooms[room].y);
    out << cell;
    for (const UgrView view : {UgrView::Crosswise, UgrView::Endwise}) {
      for (size_t k = 0; k < kUgrReflectanceCount; ++k) {
        std::snprintf(cell, sizeof cell, "%6.1f", u.at(room, view, k));
        out << cell;
      }
      out << (view == UgrView::Crosswise ? "  " : "");
    }
    out << "\n";
  }
  for (const UgrTable::Variation& v : u.variation) {
    char line[160];
    std::snprintf(line, sizeof line, "    S = %.1fH      %+.1f / %+.1f%22s%+.1f / %+.1f\n",
                  v.spacing, v.rise[0], v.fall[0], "", v.rise[1], v.fall[1]);
    out << line;
  }
}

// The intensity table: per 1000 lm of the lamps, or in the file's own
// candela for absolute photometry.
void print_intensities(std::ostream& out, const DataSheet& d) {
  const IntensityTable& t = d.intensities;
  const bool absolute = d.file->absolute;
  const double scale = absolute ? 1.0 : t.cd_per_klm;
  out << "  intensity  "
      << (absolute ? "cd (absolute; cd/klm of the luminaire's flux: times " +
                         fixed(t.cd_per_klm, 4) + ")"
                   : "cd/klm")
      << "\n    gamma";
  for (const IntensityPlane& p : t.planes) {
    char cell[16];
    std::snprintf(cell, sizeof cell, "%9s",
                  ("C" + fixed(p.c, p.c == std::round(p.c) ? 0 : 1)).c_str());
    out << cell;
  }
  out << "\n";
  for (size_t g = 0; g < t.gamma.size(); ++g) {
    char cell[32];
    std::snprintf(cell, sizeof cell, "    %5.1f", t.gamma[g]);
    out << cell;
    for (const IntensityPlane& p : t.planes) {
      std::snprintf(cell, sizeof cell, "%9.1f", p.candela[g] * scale);
      out << cell;
    }
    out << "\n";
  }
}

// The polar diagram's file: the photometric file's name with the format's
// extension, in `dir`.
fs::path polar_path(const fs::path& dir, const fs::path& file, const std::string& ext) {
  return dir / (file.filename().string() + "." + ext);
}

// `wanted`, or, when an earlier input of the same run already took that
// name (two folders' 1.ies), the name with -2, -3, ... before its last
// extension, so that no diagram or sheet of this run replaces another.
fs::path unused_name(const fs::path& wanted, std::set<fs::path>& taken) {
  fs::path name = wanted;
  for (int k = 2; !taken.insert(name).second; ++k)
    name = wanted.parent_path() /
           (wanted.stem().string() + "-" + std::to_string(k) + wanted.extension().string());
  return name;
}

// Writes `target` by `write` into a temporary file beside it and renames
// that over it: a link already at `target` is replaced, never written
// through to the file it points at, and a failed write leaves what was
// there.
template <class Write>
void write_replacing(const fs::path& target, Write&& write) {
  std::random_device entropy;
  const fs::path temp = target.parent_path() / ("." + target.filename().string() + ".partial-" +
                                                std::to_string(entropy()));
  try {
    write(temp);
    fs::rename(temp, target);
  } catch (...) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw;
  }
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
  app.add_option("-o,--output", o.output,
                 "directory for the polar diagrams and data sheets (default: .)");
  app.add_flag("--pdf", o.pdf, "write each file's data sheet, FILE.datasheet.pdf");
  app.add_option("--paper", o.paper, "paper of the data sheet: a4 (default) or letter")
      ->check([](const std::string& v) {
        return paper_named(v) ? std::string() : "the paper is a4 or letter, not " + v;
      });
  app.add_flag("--intensities", o.intensities,
               "print the intensity table (cd/klm; cd for absolute photometry)");
  app.add_option("--write", o.write,
                 "write the file's photometry to OUT.ldt (EULUMDAT) or OUT.ies (IES LM-63-2019)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err);
  }
  if (!o.write.empty() && o.files.size() != 1) {
    err << "zel-lux: --write converts one file; " << o.files.size() << " were given\n";
    return 1;
  }

  json all = json::array();
  bool refused = false;
  std::set<fs::path> taken;
  for (const std::string& name : o.files) {
    const fs::path path(name);
    const int format = o.format.empty() ? format_of(path) : o.format == "eulumdat" ? 2 : 1;
    try {
      const PhotometricFile f = read_photometric_file(path, format);
      const DataSheet d = make_datasheet(f);
      std::optional<std::string> polar;
      std::string polar_unit;
      if (!o.polar.empty()) {
        fs::create_directories(o.output);
        const fs::path p = unused_name(polar_path(o.output, path, o.polar), taken);
        write_replacing(p, [&](const fs::path& to) {
          write_polar(d.polar.curves, path.filename().string(), to, *polar_format_named(o.polar),
                      kPolarSize);
        });
        polar = p.string();
        polar_unit = d.polar.unit_note;
      }
      std::optional<std::string> sheet;
      if (o.pdf) {
        fs::create_directories(o.output);
        const fs::path p =
            unused_name(fs::path(o.output) / (path.filename().string() + ".datasheet.pdf"), taken);
        write_replacing(
            p, [&](const fs::path& to) { write_datasheet_pdf(d, to, *paper_named(o.paper)); });
        sheet = p.string();
      }
      json written;
      if (!o.write.empty()) {
        try {
          const std::vector<std::string> notes = write_photometric_file(f, o.write);
          written = {{"file", valid_utf8(o.write)}, {"notes", notes}};
        } catch (const std::exception& e) {
          refused = true;
          err << "zel-lux: cannot write " << o.write << ": " << e.what() << "\n";
          written = {{"file", valid_utf8(o.write)}, {"error", valid_utf8(e.what())}};
        }
      }
      if (o.json) {
        json j = file_json(f, d.summary, polar, polar_unit);
        add_datasheet_json(j, d);
        j["datasheet"] = sheet ? json(*sheet) : json();
        if (!o.write.empty()) j["written"] = written;
        all.push_back(j);
      } else {
        print_file(out, d, polar, polar_unit);
        print_zones(out, d);
        print_luminance(out, d);
        print_ugr(out, d);
        if (o.intensities) print_intensities(out, d);
        if (sheet) out << "  datasheet  " << *sheet << "\n";
        if (written.contains("notes")) {
          out << "  written    " << o.write << "\n";
          for (const auto& note : written["notes"])
            out << "  note       " << note.get<std::string>() << "\n";
        }
      }
    } catch (const std::exception& e) {
      refused = true;
      err << "zel-lux: " << e.what() << "\n";
      // A refusal may quote the file's own bytes, and a name is any bytes.
      if (o.json) all.push_back({{"file", valid_utf8(name)}, {"error", valid_utf8(e.what())}});
    }
  }
  if (o.json) out << all.dump(2) << "\n";
  return refused ? 1 : 0;
}

}  // namespace lux
