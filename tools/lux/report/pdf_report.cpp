#include "tools/lux/report/pdf_report.h"

#include <cairo-pdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>

#include "refhost/profiles.h"
#include "tools/lux/model/photometry.h"
#include "tools/lux/report/pdf_plan.h"
#include "tools/lux/report/picture.h"
#include "tools/lux/report/polar.h"

namespace lux {

namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string number(double v, const char* format) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}
// Uniformities, to a hundredth.
std::string ratio_text(double v) { return number(v, "%.2f"); }
std::string length_text(double v) { return number(v, "%.3g"); }

// Figures as the report prints them, in the run's output units: an
// illuminance to a tenth, lengths to three figures.
struct Printed {
  const OutputUnits& u;
  std::string lux(double v) const { return number(u.illuminance_of(v), "%.1f"); }
  std::string length(double v) const { return length_text(u.length_of(v)); }
  std::string point(Vec3 p) const {
    return "(" + length(p.x) + ", " + length(p.y) + ", " + length(p.z) + ")";
  }
  // The illuminance unit in a column heading: lx, fc or relative.
  std::string e() const { return u.illuminance; }
  std::string e_words() const {
    if (u.relative) return "relative units (not lux)";
    return u.footcandles ? "footcandles" : "lux";
  }
};

// The scene's description of a light, by name: its shader fields, and its
// place when it is a luminaire (object lights have a solid instead).
struct LightSource {
  const ShaderFields* fields = nullptr;
  const LightDesc* luminaire = nullptr;
  const ObjectLightDesc* object = nullptr;
};
LightSource source_of(const Scene& scene, const std::string& name) {
  for (const auto& l : scene.lights)
    if (l.name == name) return {&l.shader, &l};
  for (const auto& o : scene.object_lights)
    if (o.name == name) return {&o.shader, nullptr, &o};
  return {};
}

std::optional<std::string> string_field(const ShaderFields* f, const std::string& name) {
  if (f == nullptr || !f->fields.contains(name) || !f->fields.at(name).is_string())
    return std::nullopt;
  return f->fields.at(name).get<std::string>();
}
bool flag_field(const ShaderFields* f, const std::string& name) {
  if (f == nullptr || !f->fields.contains(name)) return false;
  const auto& v = f->fields.at(name);
  return v.is_boolean() ? v.get<bool>() : (v.is_number() && v.get<double>() != 0);
}

std::optional<std::string> profile_of(const ShaderFields* fields) {
  if (!flag_field(fields, "use_profile")) return std::nullopt;
  return string_field(fields, "profile_name");
}

std::optional<double> photon_flux(const RunInfo& info, const std::string& light) {
  for (const auto& f : info.flux)
    if (f.light == light) return f.measured;
  return std::nullopt;
}

// The middle of a solid, where the schedule places an object light.
Vec3 centre_of(const SolidDesc& solid) {
  switch (solid.kind) {
    case SolidDesc::Rectangle:
      return solid.corner + solid.u * 0.5 + solid.v * 0.5;
    case SolidDesc::Disc:
    case SolidDesc::Sphere:
      return solid.center;
    case SolidDesc::Box:
      return (solid.min + solid.max) * 0.5;
  }
  return solid.center;
}

// The flux a luminaire's photometric file integrates to, for a light that
// takes its candela as they stand (not scaled, not relative).
std::optional<double> file_flux(const Light& light, const LightSource& source, const Scene& scene) {
  const auto profile = profile_of(source.fields);
  if (!profile || light.relative || light.photometry.contains("flux")) return std::nullopt;
  for (const auto& p : scene.profiles) {
    if (p.name != *profile) continue;
    try {
      return summarise(read_photometric_file(p.file, p.format)).flux;
    } catch (const Error&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// The flux of one luminaire: stated, else measured, else its file's.
std::optional<double> flux_of(const Light& light, const RunInfo& info, const Scene& scene) {
  if (light.stated_flux) return light.stated_flux;
  if (const auto f = photon_flux(info, light.name)) return f;
  return file_flux(light, source_of(scene, light.name), scene);
}

// The flux of a luminaire for the schedule: the one its parameters state,
// else the one its photons measured, else the one its file's table holds.
std::string flux_text(const Light& light, const RunInfo& info, const Scene& scene) {
  if (light.stated_flux) return number(*light.stated_flux, "%.0f");
  if (const auto f = photon_flux(info, light.name)) return number(*f, "%.0f") + " (photons)";
  if (const auto f = file_flux(light, source_of(scene, light.name), scene))
    return number(*f, "%.0f") + " (file)";
  return "-";
}

// Luminaires of one type: the same shape, size and shader fields.
struct LuminaireType {
  std::string key;
  std::vector<size_t> lights;  // indices into the model's lights
};
std::string type_key(const Light& light, const LightSource& source) {
  std::string key = light.shape;
  const Emitter& e = light.emitter;
  key += "|" + number(e.half_u, "%.9g") + "|" + number(e.half_v, "%.9g") + "|" +
         number(e.radius, "%.9g") + "|" + number(e.half_length, "%.9g");
  if (source.luminaire != nullptr)
    key += "|" + number(source.luminaire->cone_angle, "%.9g") +
           (source.luminaire->spot ? "|spot" : "");
  if (source.fields != nullptr) key += "|" + source.fields->fields.dump();
  return key;
}
std::vector<LuminaireType> luminaire_types(const Model& model) {
  std::vector<LuminaireType> types;
  for (size_t l = 0; l < model.lights().size(); ++l) {
    const Light& light = model.lights()[l];
    const std::string key = type_key(light, source_of(model.scene(), light.name));
    auto it = std::find_if(types.begin(), types.end(),
                           [&](const LuminaireType& t) { return t.key == key; });
    if (it == types.end()) {
      types.push_back({key, {}});
      it = types.end() - 1;
    }
    it->lights.push_back(l);
  }
  return types;
}
std::string type_name(size_t index) { return "T" + std::to_string(index + 1); }

// The emitting shape's size as built (from the scene, or from the
// luminaire's file when the scene gave none).
std::string size_text(const Light& light, const Printed& p) {
  const Emitter& e = light.emitter;
  const std::string unit = " " + p.u.length;
  switch (e.kind) {
    case Emitter::None:
    case Emitter::Solid:
      return "-";
    case Emitter::Rectangle:
      return p.length(2 * e.half_u) + " x " + p.length(2 * e.half_v) + unit;
    case Emitter::Disc:
    case Emitter::Sphere:
      return "r " + p.length(e.radius) + unit;
    case Emitter::Cylinder:
      return "r " + p.length(e.radius) + ", l " + p.length(2 * e.half_length) + unit;
  }
  return "-";
}

// The size of a surface's grid for the tables: "nu x nv", or the number
// of points of a point list.
std::string grid_text(const Grid& grid) {
  if (grid.is_point_list()) return std::to_string(grid.points.size()) + " points";
  return std::to_string(grid.nu) + " x " + std::to_string(grid.nv);
}

// --- Requirements ---------------------------------------------------------

std::string target_text(const Requirement& r, const Printed& p) {
  const bool ratio = r.quantity == "U0";
  std::string t =
      std::string(r.at_most ? "\u2264 " : "\u2265 ") + number(r.target, ratio ? "%.2f" : "%.1f");
  return r.illuminance ? t + " " + p.e() : t;
}
std::string value_text(const Requirement& r, const Printed& p) {
  if (!r.value) return "none in view";
  const std::string v = number(*r.value, r.quantity == "U0" ? "%.2f" : "%.1f");
  return r.illuminance ? v + " " + p.e() : v;
}
std::string margin_text(const Requirement& r) {
  if (!r.value) return "-";
  return number(r.margin, r.quantity == "U0" ? "%+.2f" : "%+.1f");
}
// The quantity as the standard writes it.
std::string quantity_text(const std::string& q) {
  if (q == "Em") return "\u0112m";
  if (q == "Ez") return "\u0112z";
  if (q == "U0") return "U\u2080";
  if (q == "UGR") return "UGR";
  return q;
}

void requirement_table(Document& doc, const std::vector<Requirement>& list, const Printed& p,
                       bool with_area) {
  Rows rows;
  for (const auto& r : list) {
    std::vector<std::string> row;
    if (with_area) row.push_back(r.area);
    for (const std::string& cell :
         {quantity_text(r.quantity), target_text(r, p), value_text(r, p), margin_text(r),
          std::string(r.pass ? "pass" : "FAIL"), r.source})
      row.push_back(cell);
    rows.push_back(row);
  }
  std::vector<Column> columns;
  if (with_area) columns.push_back({"Area", 0});
  for (const Column& c : std::vector<Column>{{"Requirement", 0},
                                             {"Target", 1},
                                             {"Result", 1},
                                             {"Margin", 1},
                                             {"Verdict", 0},
                                             {"From", 0}})
    columns.push_back(c);
  doc.table(columns, rows);
}

// --- Title page -----------------------------------------------------------

void title_page(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
                const RunInfo& info, const ReportContent& content) {
  const Scene& scene = model.scene();
  const Printed p{info.units};
  doc.title(scene.title.empty() ? scene.file : scene.title);
  doc.paragraph("Lighting calculation report", 12);
  doc.skip(4);
  std::vector<std::pair<std::string, std::string>> fields{
      {"Scene file", scene.file},
      {"Date", content.date},
      {"Units", p.e_words() + ", lengths in " + info.units.length},
      {"Maintenance factor", ratio_text(content.maintenance_factor)},
      {"Luminaires", std::to_string(model.lights().size())}};
  if (info.installed_watts)
    fields.push_back({"Installed power", number(*info.installed_watts, "%.1f") + " W"});
  doc.fields(fields);

  doc.heading("Verdict");
  const Verdict& v = info.verdict;
  if (v.requirements.empty()) {
    doc.paragraph(
        "The scene states no targets: nothing is checked. An area, task area, cylindrical area "
        "or observer with \"targets\" (figures, or a task of the built-in " +
            std::string(kTaskEdition) + " table) is given its verdict here.",
        8.5);
  } else {
    requirement_table(doc, v.requirements, p, true);
    doc.paragraph(v.complies() ? "The design meets all " + std::to_string(v.requirements.size()) +
                                     " requirements."
                               : "The design fails " + std::to_string(v.failed()) + " of " +
                                     std::to_string(v.requirements.size()) + " requirements.",
                  10);
    doc.paragraph(
        "Target and result are compared as printed (illuminance to a tenth, uniformity to a "
        "hundredth, UGR to a tenth); the margin is how far the result lies on the right side of "
        "the target, negative where it fails. Illuminances are maintained values.",
        7.5);
  }

  doc.heading("Key figures");
  const std::string e = p.e();
  std::vector<Column> columns{{"Area", 0},       {"Grid", 1},       {"E avg " + e, 1},
                              {"E min " + e, 1}, {"E max " + e, 1}, {"Emin/Eavg", 1},
                              {"Emin/Emax", 1}};
  Rows rows;
  for (const auto& r : results)
    rows.push_back({r.name, grid_text(r.grid), p.lux(r.stats.avg), p.lux(r.stats.min),
                    p.lux(r.stats.max), ratio_text(r.stats.u0), ratio_text(r.stats.min_over_max)});
  doc.table(columns, rows);
  std::vector<std::pair<std::string, std::string>> more;
  if (info.glare && info.glare->largest)
    more.push_back({"Largest UGR", number(rounded_ugr(*info.glare->largest), "%.1f") + " (" +
                                       info.glare->results[info.glare->largest_index].observer +
                                       ")"});
  for (const auto& c : info.cylindrical)
    more.push_back(
        {"Ez " + c.name + ", " + p.length(c.height) + " " + info.units.length,
         p.lux(c.ez_stats.avg) + " " + e + " (modelling " + ratio_text(c.modelling) + ")"});
  if (!more.empty()) doc.fields(more);
  if (info.installed_watts && !info.power_density.empty()) {
    const std::string area = info.units.area_unit();
    Rows power;
    for (const auto& d : info.power_density) {
      const double a = info.units.area_of(d.area_m2);
      const double per_area = *info.installed_watts / a;
      const double avg = info.units.illuminance_of(d.avg_lux);
      std::vector<std::string> row{d.area, number(a, "%.1f"), number(per_area, "%.2f")};
      if (!info.units.relative)
        row.push_back(avg > 0 ? number(per_area / (avg / 100), "%.2f") : "-");
      power.push_back(row);
    }
    std::vector<Column> power_columns{{"Power over", 0}, {"Area " + area, 1}, {"W/" + area, 1}};
    if (!info.units.relative) power_columns.push_back({"W/" + area + " per 100 " + e, 1});
    doc.table(power_columns, power);
  }
  doc.paragraph(
      "E avg, E min and E max: the mean, least and greatest illuminance over the area's grid "
      "points, in " +
          p.e_words() +
          ", maintained (initial values times the maintenance factor). Emin/Eavg is the "
          "uniformity U0 a lighting design is usually checked against; Emin/Emax the ratio of the "
          "extremes.",
      7.5);

  std::vector<std::string> caveats;
  for (const auto& light : model.lights())
    for (const auto& c : light.caveats) caveats.push_back(light.name + ": " + c);
  if (!caveats.empty()) {
    doc.heading("Notes");
    for (const auto& c : caveats) doc.paragraph(c);
  }
}

// --- Luminaire schedule ---------------------------------------------------

// The polar diagrams of the profiles the luminaires use, two to a row,
// both principal planes of each in cd/klm (see profile_polar), with the
// file, its format and the unit in words beneath.
constexpr double kPolarHeight = 250;  // points, with title and legend
constexpr double kCaptionLine = 10;   // points per caption line
constexpr int kCaptionLines = 3;

void profile_diagrams(Document& doc, const std::vector<const ProfileDesc*>& profiles) {
  const double gap = 20;
  const double box_w = (doc.width() - gap) / 2;
  for (size_t k = 0; k < profiles.size(); k += 2) {
    doc.figure(kPolarHeight + kCaptionLines * kCaptionLine + 8, [&](double x, double y) {
      for (size_t m = k; m < profiles.size() && m < k + 2; ++m) {
        const ProfileDesc& p = *profiles[m];
        const double bx = x + double(m - k) * (box_w + gap);
        std::vector<std::string> caption{p.file.filename().string() + ", " +
                                         (p.format == 2 ? "EULUMDAT" : "IES LM-63")};
        try {
          const PhotometricFile file = read_photometric_file(p.file, p.format);
          const ProfileSummary summary = summarise(file);
          const ProfilePolar polar = profile_polar(file, summary);
          draw_polar(doc.cr(), polar.curves, p.name, {bx, y, box_w, kPolarHeight});
          caption.push_back(polar.unit_note);
          caption.push_back("peak " + number(summary.peak_cd, "%.0f") + " cd, " +
                            number(summary.flux, "%.0f") + " lm integrated");
        } catch (const Error& e) {
          cairo_set_source_rgb(doc.cr(), 0, 0, 0);
          doc.text(bx + box_w / 2, y + kPolarHeight / 2, p.name + ": cannot be drawn", 8, false,
                   0.5);
          caption.push_back(e.what());
        }
        cairo_set_source_rgb(doc.cr(), 0.3, 0.3, 0.3);
        for (size_t line = 0; line < caption.size(); ++line)
          doc.text(bx + box_w / 2, y + kPolarHeight + 10 + double(line) * kCaptionLine,
                   doc.fitted(caption[line], box_w, 7.5), 7.5, false, 0.5);
      }
    });
  }
}

// What the file says of a luminaire: maker and product, for the schedule.
std::string product_text(const LuminaireData& l) {
  std::string s = l.manufacturer;
  for (const std::string& part : {l.name, l.catalogue})
    if (!part.empty()) s += (s.empty() ? "" : ", ") + part;
  return s.empty() ? "-" : s;
}

void luminaire_schedule(Document& doc, const Model& model, const RunInfo& info,
                        const PlanLabels& labels) {
  const Scene& scene = model.scene();
  const Printed p{info.units};
  doc.new_page();
  doc.heading("Luminaire schedule");
  const auto types = luminaire_types(model);
  Rows type_rows, product_rows;
  std::vector<std::string> profiles_used;
  for (size_t t = 0; t < types.size(); ++t) {
    const Light& first = model.lights()[types[t].lights.front()];
    const LightSource source = source_of(scene, first.name);
    const auto profile = profile_of(source.fields);
    if (profile &&
        std::find(profiles_used.begin(), profiles_used.end(), *profile) == profiles_used.end())
      profiles_used.push_back(*profile);
    // The type's total flux and power, when every luminaire of it has one.
    std::optional<double> total = 0.0, watts = 0.0;
    for (const size_t l : types[t].lights) {
      const auto f = flux_of(model.lights()[l], info, scene);
      total = total && f ? std::optional<double>(*total + *f) : std::nullopt;
      const auto w = model.lights()[l].power;
      watts = watts && w ? std::optional<double>(*watts + *w) : std::nullopt;
    }
    type_rows.push_back({type_name(t), std::to_string(types[t].lights.size()),
                         first.shape + (source.luminaire && source.luminaire->spot ? " spot" : ""),
                         size_text(first, p), profile.value_or("-"), flux_text(first, info, scene),
                         total ? number(*total, "%.0f") : "-",
                         first.power ? number(*first.power, "%.1f") : "-",
                         watts ? number(*watts, "%.1f") : "-"});
    if (first.luminaire) {
      const LuminaireData& l = *first.luminaire;
      // The product's name gives way where the row would be too wide.
      constexpr double kProductWidth = 220;
      product_rows.push_back(
          {type_name(t), doc.fitted(product_text(l), kProductWidth, Document::kTable),
           doc.fitted(l.lamp.empty() ? "-" : l.lamp, kProductWidth / 2, Document::kTable),
           l.colour_temperature.empty() ? "-" : l.colour_temperature,
           l.colour_rendering.empty() ? "-" : l.colour_rendering,
           l.watts ? number(*l.watts, "%.1f") : "-"});
    }
  }
  doc.table({{"Type", 0},
             {"Count", 1},
             {"Shape", 0},
             {"Size", 0},
             {"Profile", 0},
             {"Flux lm", 1},
             {"Total lm", 1},
             {"Power W", 1},
             {"Total W", 1}},
            type_rows);
  doc.paragraph(
      "Flux: what a luminaire's parameters state, or, marked \"photons\", what photon "
      "emission measured (--photons), or, marked \"file\", what its photometric file's table "
      "integrates to. Power: the input power its photometric file "
      "states, or its output when given in watt. Size: the emitting shape, the file's luminous "
      "opening where the scene gives none.",
      8);
  if (!product_rows.empty()) {
    doc.heading("Products");
    doc.table({{"Type", 0},
               {"Manufacturer, product", 0},
               {"Lamp", 0},
               {"CCT", 0},
               {"CRI", 0},
               {"File W", 1}},
              product_rows);
  }

  doc.heading("Luminaires");
  const bool numbered = labels.numbered;
  Rows rows;
  for (size_t t = 0; t < types.size(); ++t)
    for (const size_t l : types[t].lights) {
      const Light& light = model.lights()[l];
      const LightSource source = source_of(scene, light.name);
      std::string place = "-", aim = "-";
      if (source.luminaire != nullptr) {
        place = p.point(source.luminaire->position);
        aim = "(" + number(source.luminaire->aim.x, "%.3g") + ", " +
              number(source.luminaire->aim.y, "%.3g") + ", " +
              number(source.luminaire->aim.z, "%.3g") + ")";
      } else if (source.object != nullptr) {
        place = p.point(centre_of(source.object->solid));
      }
      const auto photons = photon_flux(info, light.name);
      std::vector<std::string> row;
      if (numbered) row.push_back(labels.text[l]);
      for (const std::string& cell :
           {light.name, type_name(t), place, aim,
            light.stated_flux ? number(*light.stated_flux, "%.0f") : std::string("-"),
            photons ? number(*photons, "%.0f") : std::string("-")})
        row.push_back(cell);
      rows.push_back(row);
    }
  std::vector<Column> columns;
  if (numbered) columns.push_back({"No.", 1});
  for (const Column& c : std::vector<Column>{{"Luminaire", 0},
                                             {"Type", 0},
                                             {"Position " + info.units.length, 0},
                                             {"Aim", 0},
                                             {"Stated lm", 1},
                                             {"Photon lm", 1}})
    columns.push_back(c);
  doc.table(columns, rows);

  std::vector<const ProfileDesc*> profiles;
  for (const auto& name : profiles_used)
    for (const auto& pr : scene.profiles)
      if (pr.name == name) profiles.push_back(&pr);
  if (!profiles.empty()) {
    doc.heading("Photometric profiles");
    profile_diagrams(doc, profiles);
  }
}

// --- Area pages -----------------------------------------------------------

// The map is drawn at this nominal size (the longer side of its plot, in
// the figure's own units, where its labels are 10–14 units high) and then
// scaled to the page.
constexpr double kMapNominal = 420;
constexpr double kMapMaxHeight = 340;    // points on the page
constexpr double kRasterPerPoint = 2.5;  // colour-field pixels per point: 180 per inch

void surface_map(Document& doc, const SurfaceResult& r, const std::string& unit,
                 const OutputUnits& units) {
  const MapExtent extent = false_colour_extent(r.grid, kMapNominal);
  const double f = std::min(doc.width() / extent.width, kMapMaxHeight / extent.height);
  doc.figure(extent.height * f + 6, [&](double x, double y) {
    cairo_t* cr = doc.cr();
    cairo_translate(cr, x + (doc.width() - extent.width * f) / 2, y);
    cairo_scale(cr, f, f);
    draw_false_colour(cr, for_display(r, units), unit, kMapNominal, kRasterPerPoint * f, units);
  });
}

// Beyond this many luminaires a surface's shares are given per type.
constexpr size_t kMostShareRows = 8;

void surface_statistics(Document& doc, const Model& model, const SurfaceResult& r,
                        double maintenance_factor, const Printed& p) {
  doc.table({{"Quantity", 0}, {"Value", 1}, {"", 0}},
            {{"E avg", p.lux(r.stats.avg), p.e()},
             {"E min", p.lux(r.stats.min), p.e()},
             {"E max", p.lux(r.stats.max), p.e()},
             {"Emin/Eavg", ratio_text(r.stats.u0), ""},
             {"Emin/Emax", ratio_text(r.stats.min_over_max), ""},
             {"Maintenance factor", ratio_text(maintenance_factor), ""}});
  if (r.avg_by_light.size() <= 1) return;
  Rows shares;
  const auto share = [&](const std::string& name, double avg) {
    shares.push_back(
        {name, p.lux(avg), r.stats.avg > 0 ? number(100 * avg / r.stats.avg, "%.1f") : "-"});
  };
  const size_t lights = std::min(r.avg_by_light.size(), model.lights().size());
  if (lights <= kMostShareRows) {
    for (size_t l = 0; l < lights; ++l) share(model.lights()[l].name, r.avg_by_light[l]);
    doc.table({{"Luminaire", 0}, {"E avg " + p.e(), 1}, {"Share %", 1}}, shares);
    return;
  }
  // Many luminaires: their shares by type, as the schedule counts them.
  const auto types = luminaire_types(model);
  for (size_t t = 0; t < types.size(); ++t) {
    double avg = 0;
    for (const size_t l : types[t].lights)
      if (l < lights) avg += r.avg_by_light[l];
    share(type_name(t) + " (" + std::to_string(types[t].lights.size()) + " luminaires)", avg);
  }
  doc.table({{"Luminaire type", 0}, {"E avg " + p.e(), 1}, {"Share %", 1}}, shares);
}

// Decimals of a coordinate in the point table: enough to tell apart the
// centres of neighbouring cells, half a cell apart at the edges.
int coordinate_decimals(const Grid& grid, const OutputUnits& units) {
  const double half_cell = 0.5 * units.length_of(std::min(grid.du, grid.dv));
  if (!(half_cell > 0)) return 3;
  return std::clamp(static_cast<int>(std::ceil(-std::log10(half_cell))) + 1, 0, 6);
}

// The grid points and their illuminance, in blocks side by side, each
// page's share of the points read down its blocks in turn. Points outside a
// polygon area are not part of the surface and are left out.
void point_table(Document& doc, const SurfaceResult& r, const Printed& p) {
  constexpr double kSize = 7;
  constexpr size_t kBlocks = 3;
  std::vector<size_t> points;
  for (size_t k = 0; k < r.lux.size(); ++k)
    if (r.grid.counts(k)) points.push_back(k);
  const size_t n = points.size();
  doc.new_page();
  doc.heading(r.name + ": grid points");
  doc.paragraph("Coordinates in " + p.u.length + ", illuminance E in " + p.e_words() +
                    "; point (i, j) is the i-th along u and the j-th along v, from 0.",
                8);
  char format[16];
  std::snprintf(format, sizeof format, "%%.%df", coordinate_decimals(r.grid, p.u));
  std::vector<Column> columns;
  for (size_t b = 0; b < kBlocks; ++b) {
    if (b > 0) columns.push_back({"", 0});  // a gap between the blocks
    for (const char* c : {"i", "j", "x", "y", "z", "E"}) columns.push_back({c, 1});
  }
  // Rows that fit below the cursor, with the header, leaving a row spare.
  const double row_h = Document::row_height(kSize);
  const auto rows_fitting = [&] {
    return std::max<size_t>(1, static_cast<size_t>((doc.room() - 3 * row_h - 2) / row_h));
  };
  for (size_t start = 0; start < n;) {
    if (start > 0) doc.new_page();
    const size_t count = std::min(rows_fitting() * kBlocks, n - start);
    const size_t down = (count + kBlocks - 1) / kBlocks;
    Rows rows;
    for (size_t k = 0; k < down; ++k) {
      std::vector<std::string> row;
      for (size_t b = 0; b < kBlocks && b * down + k < count; ++b) {
        const size_t q = points[start + b * down + k];
        const Vec3 x = r.grid.points[q];
        if (b > 0) row.push_back("");
        for (const std::string& s :
             {std::to_string(q % size_t(r.grid.nu)), std::to_string(q / size_t(r.grid.nu)),
              number(p.u.length_of(x.x), format), number(p.u.length_of(x.y), format),
              number(p.u.length_of(x.z), format), p.lux(r.lux[q])})
          row.push_back(s);
      }
      rows.push_back(row);
    }
    doc.table(columns, rows, kSize);
    start += count;
  }
}

// A point list's points, each with its name and normal, on the list's page.
void point_list_table(Document& doc, const SurfaceResult& r, const Printed& p) {
  Rows rows;
  for (size_t k = 0; k < r.grid.points.size() && k < r.lux.size(); ++k)
    rows.push_back({k < r.grid.labels.size() && !r.grid.labels[k].empty() ? r.grid.labels[k]
                                                                          : std::to_string(k + 1),
                    p.point(r.grid.points[k]),
                    "(" + number(r.grid.normal_at(k).x, "%.3g") + ", " +
                        number(r.grid.normal_at(k).y, "%.3g") + ", " +
                        number(r.grid.normal_at(k).z, "%.3g") + ")",
                    p.lux(r.lux[k])});
  doc.table({{"Point", 0}, {"Position " + p.u.length, 0}, {"Normal", 0}, {"E " + p.e(), 1}}, rows);
}

void area_pages(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
                const RunInfo& info, const ReportContent& content) {
  const Scene& scene = model.scene();
  const Printed p{info.units};
  // The areas held to targets first, in the scene's order, then the rest.
  std::vector<const SurfaceResult*> order;
  for (const bool held : {true, false})
    for (const SurfaceResult& r : results) {
      const bool has =
          std::any_of(info.verdict.requirements.begin(), info.verdict.requirements.end(),
                      [&](const Requirement& q) { return q.area == r.name; });
      if (has == held) order.push_back(&r);
    }
  for (const SurfaceResult* area : order) {
    const SurfaceResult& r = *area;
    doc.new_page();
    doc.heading((r.grid.is_point_list() ? "Points: " : "Surface: ") + r.name);
    std::vector<Requirement> own;
    for (const auto& q : info.verdict.requirements)
      if (q.area == r.name) own.push_back(q);
    if (r.grid.is_point_list()) {
      doc.fields({{"Points", std::to_string(r.grid.points.size())}});
      surface_statistics(doc, model, r, content.maintenance_factor, p);
      point_list_table(doc, r, p);
      continue;
    }
    const SurfaceDesc* desc = nullptr;
    for (const auto& d : scene.surfaces)
      if (d.name == r.name) desc = &d;
    std::vector<std::pair<std::string, std::string>> geometry;
    if (desc != nullptr) {
      geometry.push_back({"Corner", p.point(desc->corner) + " " + info.units.length});
      geometry.push_back({"Edges u, v", p.point(desc->u) + ", " + p.point(desc->v)});
    }
    geometry.push_back({"Normal", "(" + number(r.grid.normal.x, "%.3g") + ", " +
                                      number(r.grid.normal.y, "%.3g") + ", " +
                                      number(r.grid.normal.z, "%.3g") + ")"});
    geometry.push_back({"Grid", std::to_string(r.grid.nu) + " x " + std::to_string(r.grid.nv) +
                                    " points, cells " + p.length(r.grid.du) + " x " +
                                    p.length(r.grid.dv) + " " + info.units.length});
    if (!r.grid.inside.empty())
      geometry.push_back({"Polygon", std::to_string(counted(r.grid, r.lux).size()) +
                                         " points inside its outline"});
    doc.fields(geometry);
    surface_map(doc, r, scene.unit.symbol, info.units);
    surface_statistics(doc, model, r, content.maintenance_factor, p);
    if (!own.empty()) requirement_table(doc, own, p, false);
  }
}

// --- The view ---------------------------------------------------------------

void view_page(Document& doc, const Image& image) {
  if (image.width <= 0 || image.height <= 0) return;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height);
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const auto& px = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
      *(reinterpret_cast<uint32_t*>(data + y * stride) + x) =
          uint32_t(px[0]) << 16 | uint32_t(px[1]) << 8 | uint32_t(px[2]);
    }
  cairo_surface_mark_dirty(surface);
  doc.new_page();
  doc.heading("View");
  doc.paragraph(
      "The scene's camera view, the emitters showing their visible radiance and the surfaces "
      "their reflected light.",
      8);
  const double f = std::min(doc.width() / image.width, (doc.room() - 10) / image.height);
  doc.figure(image.height * f + 6, [&](double x, double y) {
    cairo_t* cr = doc.cr();
    cairo_translate(cr, x + (doc.width() - image.width * f) / 2, y);
    cairo_scale(cr, f, f);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
  });
  cairo_surface_destroy(surface);
}

// --- Further results and settings -----------------------------------------

// About how tall a section is drawn: its heading, its notes wrapped at
// the text width, its table's header and rows.
double section_height(const Document& doc, const ReportSection& section) {
  constexpr double kHeading = 32;
  double height = kHeading;
  for (const auto& note : section.notes) {
    const double lines = std::ceil(doc.text_width(note, Document::kBody) / doc.width() + 0.1);
    height += lines * Document::kBody * Document::kLineSpacing + Document::kBody * 0.4;
  }
  if (!section.table.columns.empty())
    height += double(section.table.rows.size() + 1) * Document::row_height(Document::kTable) +
              Document::kTable;
  return height;
}

// The sections one after another; one that fits on a page is not split
// between two.
void further_sections(Document& doc, const std::vector<ReportSection>& sections) {
  if (sections.empty()) return;
  doc.new_page();
  for (const auto& section : sections) {
    doc.need(std::min(section_height(doc, section), doc.page_room()));
    doc.heading(section.heading);
    for (const auto& note : section.notes) doc.paragraph(note);
    if (!section.table.columns.empty()) doc.table(section.table.columns, section.table.rows);
  }
}

void settings_page(Document& doc, const Model& model, const RunInfo& info,
                   const ReportContent& content) {
  doc.new_page();
  doc.heading("Calculation settings");
  std::vector<std::pair<std::string, std::string>> rows{
      {"Scene file", model.scene().file},
      {"Threads", std::to_string(info.threads)},
      {"Calculation time", number(info.seconds, "%.2f") + " s"},
      {"Paper", content.paper == Paper::Letter ? "Letter" : "A4"}};
  rows.insert(rows.end(), content.settings.begin(), content.settings.end());
  doc.fields(rows);
  // Per luminaire only when they differ or photons were traced.
  bool alike = info.flux.empty();
  for (const auto& light : model.lights())
    alike = alike && light.samples == model.lights().front().samples &&
            light.accuracy == model.lights().front().accuracy;
  Rows lights;
  for (const auto& light : model.lights()) {
    int photons = 0;
    for (const auto& f : info.flux)
      if (f.light == light.name) photons = f.photons;
    lights.push_back({light.name,
                      light.samples > 0 ? std::to_string(light.samples) + " points"
                                        : "error " + number(100 * light.accuracy, "%g") + " %",
                      photons > 0 ? std::to_string(photons) : "-"});
  }
  if (!alike)
    doc.table({{"Luminaire", 0}, {"Emitter sampling per point", 1}, {"Photons", 1}}, lights);
  std::vector<std::string> notes;
  for (const auto& light : model.lights())
    for (const auto& n : light.notes) notes.push_back(light.name + ": " + n);
  if (!notes.empty()) {
    doc.heading("Luminaires' photometry");
    for (const auto& n : notes) doc.paragraph(n, 8);
  }
  if (!info.messages.empty()) {
    doc.heading("Messages of the calculation");
    for (const auto& m : info.messages) doc.paragraph(m, 8);
  }
}

void appendix(Document& doc, const std::vector<SurfaceResult>& results, const RunInfo& info) {
  const Printed p{info.units};
  for (const SurfaceResult& r : results)
    if (!r.grid.is_point_list()) point_table(doc, r, p);
}

void draw_report(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
                 const RunInfo& info, const ReportContent& content) {
  const PlanLayout layout = plan_layout(model, doc.width(), plan_room(doc));
  const PlanLabels labels = plan_labels(doc, model, layout);
  title_page(doc, model, results, info, content);
  luminaire_schedule(doc, model, info, labels);
  plan_page(doc, model, results, info.units, layout, labels);
  area_pages(doc, model, results, info, content);
  if (content.view != nullptr) view_page(doc, *content.view);
  further_sections(doc, content.sections);
  settings_page(doc, model, info, content);
  if (content.point_tables) appendix(doc, results, info);
}

cairo_status_t discard(void*, const unsigned char*, unsigned int) { return CAIRO_STATUS_SUCCESS; }

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

// Draws the report on `surface` with `pages` in the footers; returns the
// number of pages drawn and the surface's status once finished.
std::pair<int, cairo_status_t> render(cairo_surface_t* surface, const Model& model,
                                      const std::vector<SurfaceResult>& results,
                                      const RunInfo& info, const ReportContent& content,
                                      int pages) {
  const Scene& scene = model.scene();
  const std::string name = scene.title.empty() ? scene.file : scene.title;
  int drawn = 0;
  {
    const std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface));
    Document doc(cr.get(), page_size(content.paper), "zel-lux report: " + name, pages);
    draw_report(doc, model, results, info, content);
    drawn = doc.pages();
  }
  cairo_surface_finish(surface);
  return {drawn, cairo_surface_status(surface)};
}

}  // namespace

std::string report_date() {
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    const long long t = std::strtoll(epoch, &end, 10);
    if (end != nullptr && *end == '\0' && t >= 0) now = static_cast<std::time_t>(t);
  }
  std::tm utc{};
  gmtime_r(&now, &utc);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M UTC", &utc);
  return buffer;
}

void write_pdf_report(const Model& model, const std::vector<SurfaceResult>& results,
                      const RunInfo& info, const ReportContent& content,
                      const std::filesystem::path& file) {
  release_font_caches_at_exit();
  const PageSize size = page_size(content.paper);
  // First pass: count the pages, for "page N of M".
  int pages = 0;
  {
    const std::unique_ptr<cairo_surface_t, SurfaceDeleter> counting(
        cairo_pdf_surface_create_for_stream(discard, nullptr, size.width, size.height));
    pages = render(counting.get(), model, results, info, content, 0).first;
  }
  const std::unique_ptr<cairo_surface_t, SurfaceDeleter> pdf(
      cairo_pdf_surface_create(file.c_str(), size.width, size.height));
  const Scene& scene = model.scene();
  cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_TITLE,
                                 (scene.title.empty() ? scene.file : scene.title).c_str());
  cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_SUBJECT,
                                 "Lighting calculation report");
  cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATOR, "zel-lux");
  const cairo_status_t status = render(pdf.get(), model, results, info, content, pages).second;
  if (status != CAIRO_STATUS_SUCCESS)
    throw Error(file.string() + ": cannot write the report: " + cairo_status_to_string(status));
}

}  // namespace lux
