#include "tools/lux/report/outputs.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "tools/lux/report/radiosity_report.h"

namespace lux {

namespace fs = std::filesystem;

std::string slug(const std::string& name) {
  std::string s;
  for (const char ch : name) {
    if (s.size() >= kLongestSlug) break;
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80 && std::isalnum(c) != 0) {
      s += static_cast<char>(std::tolower(c));
    } else if (!s.empty() && s.back() != '-') {
      s += '-';
    }
  }
  while (!s.empty() && s.back() == '-') s.pop_back();
  return s.empty() ? "surface" : s;
}

namespace {

// A field as RFC 4180 has it: quoted, its quotes doubled, when it holds a
// separator, a quote or a line break (a CR alone ends a row for many
// readers).
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string q = "\"";
  for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

std::string number(double v, const char* format = "%.6g") {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}

nlohmann::ordered_json optional_number(const std::optional<double>& v) {
  return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json();
}

// The name of the illuminance in file headers and keys: lux, fc, or
// relative when the run's numbers are not photometric.
const char* illuminance_key(const OutputUnits& u) {
  if (u.relative) return "relative";
  return u.footcandles ? "fc" : "lux";
}

}  // namespace

// A point list's table: its points in the order given, with their normals
// and names, in the output units.
std::string point_list_csv(const SurfaceResult& r, const std::vector<std::string>& light_names,
                           const OutputUnits& units) {
  std::ostringstream out;
  out << "index,name,x,y,z,nx,ny,nz,E_" << illuminance_key(units);
  for (const auto& n : light_names) out << "," << csv_field("E_" + n);
  out << "\n";
  for (size_t p = 0; p < r.grid.points.size(); ++p) {
    const Vec3 x = r.grid.points[p], n = r.grid.normals[p];
    out << p + 1 << "," << csv_field(r.grid.labels[p]);
    for (double c :
         {units.length_of(x.x), units.length_of(x.y), units.length_of(x.z), n.x, n.y, n.z})
      out << "," << number(c, "%.9g");
    out << "," << number(units.illuminance_of(r.lux[p]), "%.9g");
    for (const auto& l : r.per_light) out << "," << number(units.illuminance_of(l[p]), "%.9g");
    out << "\n";
  }
  return out.str();
}

std::string grid_csv(const SurfaceResult& r, const std::vector<std::string>& light_names,
                     const OutputUnits& units) {
  if (r.grid.is_point_list()) return point_list_csv(r, light_names, units);
  std::ostringstream out;
  const std::string suffix = std::string("_") + illuminance_key(units);
  out << "i,j,x,y,z,E" << suffix << ",E_direct" << suffix << ",E_interreflected" << suffix;
  for (const auto& n : light_names) out << "," << csv_field("E_" + n);
  out << ",MF\n";
  for (int j = 0; j < r.grid.nv; ++j)
    for (int i = 0; i < r.grid.nu; ++i) {
      const size_t p = size_t(j) * size_t(r.grid.nu) + size_t(i);
      const PointState state = p < r.grid.state.size() ? r.grid.state[p] : PointState::Counted;
      if (state == PointState::Outside || (!r.grid.inside.empty() && r.grid.inside[p] == 0))
        continue;  // outside the area (a band's hole, or outside a polygon)
      const Vec3 x = r.grid.points[p];
      out << i << "," << j << "," << number(units.length_of(x.x), "%.9g") << ","
          << number(units.length_of(x.y), "%.9g") << "," << number(units.length_of(x.z), "%.9g");
      if (state == PointState::Masked) {
        out << ",,,";
        for (size_t l = 0; l < r.per_light.size(); ++l) out << ",";
        out << ",\n";
        continue;
      }
      out << "," << number(units.illuminance_of(r.lux[p]), "%.9g");
      out << ","
          << number(units.illuminance_of(p < r.direct.size() ? r.direct[p] : r.lux[p]), "%.9g");
      out << ","
          << number(units.illuminance_of(p < r.interreflected.size() ? r.interreflected[p] : 0.0),
                    "%.9g");
      for (const auto& l : r.per_light) out << "," << number(units.illuminance_of(l[p]), "%.9g");
      const double e_new = p < r.lux_new.size() ? r.lux_new[p] : r.lux[p];
      out << "," << (e_new > 0 ? number(r.lux[p] / e_new, "%.6g") : std::string()) << "\n";
    }
  return out.str();
}

namespace {

using ojson = nlohmann::ordered_json;

ojson vec_json(Vec3 v, const OutputUnits& u) {
  return {u.length_of(v.x), u.length_of(v.y), u.length_of(v.z)};
}

ojson stats_json(const Stats& st, const OutputUnits& u) {
  return {{"min", u.illuminance_of(st.min)}, {"avg", u.illuminance_of(st.avg)},
          {"max", u.illuminance_of(st.max)}, {"min_over_avg", st.u0},
          {"min_over_max", st.min_over_max}, {"counted_points", st.counted},
          {"masked_points", st.masked}};
}

ojson cylindrical_json(const CylindricalResult& c, const OutputUnits& u) {
  ojson j;
  j["name"] = c.name;
  j["height"] = u.length_of(c.height);
  j["grid"] = {{"nu", c.nu}, {"nv", c.nv}};
  j["interreflection"] = c.interreflection;
  j["cylindrical"] = stats_json(c.ez_stats, u);
  j["horizontal"] = stats_json(c.eh_stats, u);
  ojson semi = ojson::array();
  for (size_t k = 0; k < size_t(kFacings); ++k) {
    const Vec3 f = semi_cylinder_facings()[k];
    ojson s = stats_json(c.esc_stats[k], u);
    s["facing"] = {f.x, f.y, f.z};
    semi.push_back(s);
  }
  j["semi_cylindrical"] = semi;
  j["modelling"] = c.modelling;
  ojson rows = ojson::array();
  for (int row = 0; row < c.nv; ++row) {
    ojson r = ojson::array();
    for (int i = 0; i < c.nu; ++i) {
      const size_t p = size_t(row) * size_t(c.nu) + size_t(i);
      r.push_back(c.state[p] == PointState::Counted ? ojson(u.illuminance_of(c.ez[p])) : ojson());
    }
    rows.push_back(r);
  }
  j["cylindrical_values"] = rows;
  return j;
}

ojson glare_json(const GlareReport& g, const OutputUnits& u) {
  ojson j;
  j["maintenance_factor"] = g.maintenance_factor;
  j["background"] = g.background_source;
  if (g.background_source == "room estimate") {
    j["room_reflectance"] = g.room_reflectance;
    j["room_flux_lm"] = g.room_flux;
  }
  if (!g.note.empty()) j["note"] = g.note;
  j["largest"] = g.largest ? ojson(rounded_ugr(*g.largest)) : ojson();
  j["largest_at"] = g.largest ? ojson(g.results[g.largest_index].observer) : ojson();
  ojson list = ojson::array();
  for (const auto& r : g.results) {
    ojson o;
    o["observer"] = r.observer;
    o["position"] = vec_json(r.position, u);
    o["direction"] = {r.direction.x, r.direction.y, r.direction.z};
    o["view"] = r.view;
    o["ugr"] = r.ugr ? ojson(rounded_ugr(*r.ugr)) : ojson();
    o["ugr_unrounded"] = r.ugr ? ojson(*r.ugr) : ojson();
    o["background_illuminance"] = u.illuminance_of(r.background_illuminance);
    o["background_luminance_cd_m2"] = r.background_luminance;
    ojson sources = ojson::array();
    for (const auto& s : r.sources)
      sources.push_back({{"light", s.light},
                         {"intensity_cd", s.intensity},
                         {"projected_area_m2", s.projected_area},
                         {"luminance_cd_m2", s.luminance},
                         {"solid_angle_sr", s.solid_angle},
                         {"position_index", s.position_index}});
    o["luminaires"] = sources;
    list.push_back(o);
  }
  j["ratings"] = list;
  return j;
}

ojson requirement_json(const Requirement& r, const OutputUnits& u) {
  ojson j;
  j["area"] = r.area;
  j["quantity"] = r.quantity;
  j["comparison"] = r.at_most ? "<=" : ">=";
  j["target"] = r.target;
  j["value"] = r.value ? ojson(*r.value) : ojson();
  j["unit"] = r.illuminance ? u.illuminance : "";
  j["margin"] = r.value ? ojson(r.margin) : ojson();
  j["pass"] = r.pass;
  j["source"] = r.source;
  return j;
}

ojson compliance_json(const Verdict& v, const OutputUnits& u) {
  ojson j;
  j["task_table"] = kTaskEdition;
  j["complies"] = v.complies();
  j["requirements_failed"] = v.failed();
  ojson list = ojson::array();
  for (const auto& r : v.requirements) list.push_back(requirement_json(r, u));
  j["requirements"] = list;
  return j;
}

ojson power_json(const Model& model, const RunInfo& info) {
  ojson j;
  j["installed_w"] = optional_number(info.installed_watts);
  ojson unknown = ojson::array();
  for (const auto& l : model.lights())
    if (!l.power) unknown.push_back(l.name);
  j["luminaires_without_power"] = unknown;
  ojson areas = ojson::array();
  for (const auto& d : info.power_density)
    areas.push_back({{"area", d.area},
                     {"area_m2", d.area_m2},
                     {"w_per_m2", optional_number(d.w_per_m2)},
                     {"w_per_m2_per_100lx", optional_number(d.w_per_m2_per_100lx)}});
  j["areas"] = areas;
  return j;
}

ojson luminaire_json(const Light& light) {
  ojson j;
  j["power_w"] = optional_number(light.power);
  if (!light.luminaire) {
    j["file"] = ojson();
    return j;
  }
  const LuminaireData& l = *light.luminaire;
  j["file"] = {{"manufacturer", l.manufacturer},
               {"name", l.name},
               {"catalogue", l.catalogue},
               {"lamp", l.lamp},
               {"colour_temperature", l.colour_temperature},
               {"colour_rendering", l.colour_rendering},
               {"watts", optional_number(l.watts)},
               {"opening", l.opening.description}};
  j["opening_from_file"] = light.opening_note.empty() ? ojson() : ojson(light.opening_note);
  return j;
}

}  // namespace

nlohmann::ordered_json report_json(const Model& model, const std::vector<SurfaceResult>& results,
                                   const RunInfo& info) {
  using json = nlohmann::ordered_json;
  const Scene& scene = model.scene();
  const OutputUnits& u = info.units;
  json report;
  report["scene"] = scene.file;
  report["title"] = scene.title;
  report["scene_unit"] = scene.unit.name;
  report["units"] = {{"illuminance", u.illuminance}, {"length", u.length}};
  report["maintenance_factor"] = scene.maintenance_factor;
  report["values"] = "maintained: each light's new value times its maintenance factor";
  report["threads"] = info.threads;
  report["seconds"] = info.seconds;
  json lights = json::array();
  for (size_t l = 0; l < model.lights().size(); ++l) {
    const Light& light = model.lights()[l];
    json j;
    j["name"] = light.name;
    j["shape"] = light.shape;
    j["samples"] =
        light.samples > 0 ? nlohmann::ordered_json(light.samples) : nlohmann::ordered_json();
    j["accuracy"] =
        light.samples > 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(light.accuracy);
    j["maintenance_factor"] = light.maintenance_factor;
    j["stated_flux_lm"] = optional_number(light.stated_flux);
    j["photon_flux_lm"] = json();
    j["photons"] = 0;
    for (const auto& f : info.flux)
      if (f.light == light.name) {
        j["photon_flux_lm"] = f.measured;
        j["photons"] = f.photons;
      }
    j["caveats"] = light.caveats;
    j["relative"] = light.relative;
    j["luminaire"] = luminaire_json(light);
    j["photometry"] = light.photometry;
    j["messages"] = light.messages;
    lights.push_back(j);
  }
  report["lights"] = lights;
  json surfaces = json::array();
  for (size_t s = 0; s < results.size(); ++s) {
    const SurfaceResult& r = results[s];
    json j;
    j["name"] = r.name;
    j["surface"] = r.surface;
    j["role"] = r.role;
    j["grid"] = {{"nu", r.grid.nu},
                 {"nv", r.grid.nv},
                 {"du", u.length_of(r.grid.du)},
                 {"dv", u.length_of(r.grid.dv)}};
    j["normal"] = {r.grid.normal.x, r.grid.normal.y, r.grid.normal.z};
    j["kind"] = r.grid.is_point_list() ? "points" : (r.grid.outline.empty() ? "grid" : "polygon");
    j["points"] = r.stats.counted;
    j["masked_points"] = r.stats.masked;
    j[illuminance_key(u)] = stats_json(r.stats, u);
    j[std::string(illuminance_key(u)) + "_new"] = stats_json(r.stats_new, u);
    add_interreflection_stats(j, model, r);
    json shares = json::object();
    for (size_t l = 0; l < r.avg_by_light.size() && l < model.lights().size(); ++l)
      shares[model.lights()[l].name] = u.illuminance_of(r.avg_by_light[l]);
    j[std::string("avg_") + illuminance_key(u) + "_by_light"] = shares;
    if (s < info.surface_files.size()) {
      j["csv"] = info.surface_files[s] + ".csv";
      j["png"] =
          info.pictures && !r.grid.is_point_list() ? json(info.surface_files[s] + ".png") : json();
    }
    json rows = json::array();
    for (int row = 0; row < r.grid.nv; ++row) {
      json values = json::array();
      for (int i = 0; i < r.grid.nu; ++i) {
        const size_t p = size_t(row) * size_t(r.grid.nu) + size_t(i);
        values.push_back(r.grid.counts(p) ? json(u.illuminance_of(r.lux[p]))
                                          : json());  // null: left out
      }
      rows.push_back(values);
    }
    j["values"] = r.grid.is_point_list() ? rows[0] : rows;
    if (r.grid.is_point_list()) j["point_names"] = r.grid.labels;
    surfaces.push_back(j);
  }
  report["surfaces"] = surfaces;
  json cylindrical = json::array();
  for (const auto& c : info.cylindrical) cylindrical.push_back(cylindrical_json(c, u));
  report["cylindrical"] = cylindrical;
  report["ugr"] = info.glare ? glare_json(*info.glare, u) : json();
  report["compliance"] = compliance_json(info.verdict, u);
  report["power"] = power_json(model, info);
  report["interreflection"] = interreflection_json(model, info);
  report["view"] = info.view_file ? json(*info.view_file) : json();
  report["pdf"] = info.pdf_file ? json(*info.pdf_file) : json();
  report["messages"] = info.messages;
  return report;
}

namespace {

// The maintenance factors of the lights, as a phrase: one figure when all
// share it.
std::string maintenance_phrase(const Model& model) {
  double lo = 1, hi = 0;
  for (const auto& l : model.lights()) {
    lo = std::min(lo, l.maintenance_factor);
    hi = std::max(hi, l.maintenance_factor);
  }
  if (model.lights().empty()) lo = hi = model.scene().maintenance_factor;
  return lo == hi ? "maintenance factor " + number(lo, "%.2f")
                  : "maintenance factors " + number(lo, "%.2f") + " to " + number(hi, "%.2f");
}

void print_cylindrical(std::ostream& out, const std::vector<CylindricalResult>& list,
                       const OutputUnits& u) {
  if (list.empty()) return;
  char line[320];
  const std::string e = u.illuminance;
  std::snprintf(line, sizeof line, "\n%-20s %7s %7s %9s %9s %9s %9s %9s %9s %9s\n",
                "cylindrical area", "height", "points", ("Ez avg " + e).c_str(), "Ez min/avg",
                ("Eh avg " + e).c_str(), "Ez/Eh", ("Esc+x " + e).c_str(), ("Esc+y " + e).c_str(),
                "masked");
  out << line;
  for (const auto& c : list) {
    const std::string grid = std::to_string(c.nu) + "x" + std::to_string(c.nv);
    const std::string height = number(u.length_of(c.height), "%.2f") + " " + u.length;
    std::snprintf(line, sizeof line, "%-20.20s %7s %7s %9.1f %9.2f %9.1f %9.2f %9.1f %9.1f %9zu\n",
                  c.name.c_str(), height.c_str(), grid.c_str(), u.illuminance_of(c.ez_stats.avg),
                  c.ez_stats.u0, u.illuminance_of(c.eh_stats.avg), c.modelling,
                  u.illuminance_of(c.esc_stats[0].avg), u.illuminance_of(c.esc_stats[1].avg),
                  c.ez_stats.masked);
    out << line;
  }
  out << "(interreflected part: " << list.front().interreflection << ")\n";
}

// A requirement's target as read: ">= 500.0 lx", "<= 19.0".
std::string target_text(const Requirement& r, const OutputUnits& u) {
  const int decimals = r.quantity == "U0" ? 2 : 1;
  std::string t =
      std::string(r.at_most ? "<= " : ">= ") + number(r.target, decimals == 2 ? "%.2f" : "%.1f");
  return r.illuminance ? t + " " + u.illuminance : t;
}

std::string value_text(const Requirement& r, const OutputUnits& u) {
  if (!r.value) return "-";
  const std::string v = number(*r.value, r.quantity == "U0" ? "%.2f" : "%.1f");
  return r.illuminance ? v + " " + u.illuminance : v;
}

std::string margin_text(const Requirement& r) {
  if (!r.value) return "-";
  return number(r.margin, r.quantity == "U0" ? "%+.2f" : "%+.1f");
}

void print_verdict(std::ostream& out, const Verdict& v, const OutputUnits& u) {
  if (v.requirements.empty()) return;
  char line[400];
  std::snprintf(line, sizeof line, "\n%-36s %-5s %-14s %-14s %8s  %-4s  %s\n", "requirement", "",
                "target", "result", "margin", "", "from");
  out << line;
  for (const auto& r : v.requirements) {
    std::snprintf(line, sizeof line, "%-36.36s %-5s %-14s %-14s %8s  %-4s  %s\n", r.area.c_str(),
                  r.quantity.c_str(), target_text(r, u).c_str(), value_text(r, u).c_str(),
                  margin_text(r).c_str(), r.pass ? "pass" : "FAIL", r.source.c_str());
    out << line;
  }
  out << (v.complies()
              ? "the design meets all " + std::to_string(v.requirements.size()) + " requirements"
              : "the design fails " + std::to_string(v.failed()) + " of " +
                    std::to_string(v.requirements.size()) + " requirements")
      << "\n";
}

void print_power(std::ostream& out, const Model& model, const RunInfo& info) {
  if (model.lights().empty()) return;
  size_t unknown = 0;
  for (const auto& l : model.lights()) unknown += l.power ? 0 : 1;
  if (unknown == model.lights().size()) return;  // no luminaire states its power
  out << "\ninstalled power: "
      << (info.installed_watts
              ? number(*info.installed_watts, "%.1f") + " W"
              : std::string("unknown (") + std::to_string(unknown) + " of " +
                    std::to_string(model.lights().size()) + " luminaires state no power)")
      << "\n";
  if (!info.installed_watts) return;
  const OutputUnits& u = info.units;
  const std::string area = u.footcandles ? "ft2" : "m2";
  char line[240];
  for (const auto& d : info.power_density) {
    const double a = u.area_of(d.area_m2);
    const double per_area = *info.installed_watts / a;
    const double avg = u.illuminance_of(d.avg_lux);
    // Per 100 of the illuminance unit; a relative run has no such unit.
    const std::string per_100 = !u.relative && avg > 0 ? number(per_area / (avg / 100), "%.2f") +
                                                             " W/" + area + "/100 " + u.illuminance
                                                       : "";
    std::snprintf(line, sizeof line, "  %-32.32s %8.1f %s %8.2f W/%s  %s\n", d.area.c_str(), a,
                  area.c_str(), per_area, area.c_str(), per_100.c_str());
    out << line;
  }
}

void print_glare(std::ostream& out, const GlareReport& g) {
  if (g.results.empty()) return;
  char line[320];
  std::snprintf(line, sizeof line, "\n%-32s %-24s %-10s %8s %6s %9s\n", "UGR observer", "looking",
                "view", "L_b cd/m2", "lums", "UGR");
  out << line;
  for (const auto& r : g.results) {
    // Appended, not a literal + temporary: GCC 12 at -O3 warns falsely of
    // overlapping copies in that operator.
    std::string dir = "[";
    dir.append(number(r.direction.x, "%.2g")).append(", ");
    dir.append(number(r.direction.y, "%.2g")).append(", ");
    dir.append(number(r.direction.z, "%.2g")).append("]");
    const std::string ugr = r.ugr ? number(rounded_ugr(*r.ugr), "%.1f") : "-";
    std::snprintf(line, sizeof line, "%-32.32s %-24.24s %-10s %8.1f %6zu %9s\n", r.observer.c_str(),
                  dir.c_str(), r.view.c_str(), r.background_luminance, r.sources.size(),
                  ugr.c_str());
    out << line;
  }
  out << "largest UGR: "
      << (g.largest ? number(rounded_ugr(*g.largest), "%.1f") + " (" +
                          g.results[g.largest_index].observer + ")"
                    : std::string("-"))
      << "; new luminaires; background from the " << g.background_source << "\n";
  if (!g.note.empty()) out << g.note << "\n";
}

}  // namespace

void print_summary(std::ostream& out, const Model& model, const std::vector<SurfaceResult>& results,
                   const RunInfo& info) {
  const Scene& scene = model.scene();
  const OutputUnits& u = info.units;
  char line[320];
  out << (scene.title.empty() ? scene.file : scene.title) << ": " << model.lights().size()
      << (model.lights().size() == 1 ? " light, " : " lights, ") << results.size()
      << (results.size() == 1 ? " surface" : " surfaces") << ", " << info.threads
      << (info.threads == 1 ? " thread, " : " threads, ") << number(info.seconds, "%.2f") << " s\n";
  if (!results.empty()) {
    out << "maintained values, " << maintenance_phrase(model) << "; new values in brackets\n";
    const std::string e = u.illuminance;
    std::snprintf(line, sizeof line, "\n%-34s %9s %7s %9s %9s %9s %9s %6s %10s\n", "surface",
                  "points", "masked", ("E min " + e).c_str(), ("E avg " + e).c_str(),
                  ("(new) " + e).c_str(), ("E max " + e).c_str(), "U0", "Emin/Emax");
    out << line;
    for (const auto& r : results) {
      const std::string grid = r.grid.is_point_list() || !r.grid.outline.empty()
                                   ? std::to_string(r.stats.counted)
                                   : std::to_string(r.grid.nu) + "x" + std::to_string(r.grid.nv);
      std::string fresh = "(";
      fresh.append(number(u.illuminance_of(r.stats_new.avg), "%.1f")).append(")");
      std::snprintf(line, sizeof line, "%-34.34s %9s %7zu %9.1f %9.1f %9s %9.1f %6.2f %10.2f\n",
                    r.name.c_str(), grid.c_str(), r.stats.masked, u.illuminance_of(r.stats.min),
                    u.illuminance_of(r.stats.avg), fresh.c_str(), u.illuminance_of(r.stats.max),
                    r.stats.u0, r.stats.min_over_max);
      out << line;
    }
  }
  print_cylindrical(out, info.cylindrical, u);
  if (info.glare) print_glare(out, *info.glare);
  print_verdict(out, info.verdict, u);
  print_power(out, model, info);
  if (!info.flux.empty()) {
    std::snprintf(line, sizeof line, "\n%-24s %-10s %10s %12s %12s %9s\n", "light", "shape",
                  "photons", "stated lm", "photon lm", "diff");
    out << line;
    for (size_t l = 0; l < model.lights().size(); ++l) {
      const Light& light = model.lights()[l];
      for (const auto& f : info.flux) {
        if (f.light != light.name) continue;
        const std::string stated = f.stated ? number(*f.stated, "%.1f") : "-";
        const std::string diff =
            f.stated && *f.stated != 0
                ? number(100.0 * (f.measured - *f.stated) / *f.stated, "%+.2f") + "%"
                : "-";
        std::snprintf(line, sizeof line, "%-24.24s %-10s %10d %12s %12.1f %9s\n",
                      light.name.c_str(), light.shape.c_str(), f.photons, stated.c_str(),
                      f.measured, diff.c_str());
        out << line;
      }
    }
  }
  print_interreflection(out, model, results, info);
  for (const auto& light : model.lights()) {
    for (const auto& n : light.notes) out << "light \"" << light.name << "\": " << n << "\n";
    for (const auto& c : light.caveats)
      out << "note: light \"" << light.name << "\": " << c << "\n";
  }
}

}  // namespace lux
