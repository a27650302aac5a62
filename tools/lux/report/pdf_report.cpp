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
// Illuminance as printed everywhere in the report: lux to a tenth.
std::string lux_text(double v) { return number(v, "%.1f"); }
// Uniformities, to a hundredth.
std::string ratio_text(double v) { return number(v, "%.2f"); }
std::string length_text(double v) { return number(v, "%.3g"); }
std::string point_text(Vec3 p) {
  return "(" + length_text(p.x) + ", " + length_text(p.y) + ", " + length_text(p.z) + ")";
}

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
std::optional<double> number_field(const ShaderFields* f, const std::string& name) {
  if (f == nullptr || !f->fields.contains(name) || !f->fields.at(name).is_number())
    return std::nullopt;
  return f->fields.at(name).get<double>();
}
bool flag_field(const ShaderFields* f, const std::string& name) {
  if (f == nullptr || !f->fields.contains(name)) return false;
  const auto& v = f->fields.at(name);
  return v.is_boolean() ? v.get<bool>() : (v.is_number() && v.get<double>() != 0);
}

// The electrical power of a light, in watt, when its parameters give its
// output that way (intensity unit 4: watt at the stated efficacy).
constexpr int kWattUnit = 4;
std::optional<double> power_of(const ShaderFields* fields) {
  if (flag_field(fields, "use_profile")) return std::nullopt;
  if (number_field(fields, "intensity_unit").value_or(0) != kWattUnit) return std::nullopt;
  return number_field(fields, "intensity").value_or(1);
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

// The flux of one luminaire: stated, else measured, else unknown.
std::optional<double> flux_of(const Light& light, const RunInfo& info) {
  if (light.stated_flux) return light.stated_flux;
  return photon_flux(info, light.name);
}

// The flux of a luminaire for the schedule: the one its parameters state,
// else the one its photons measured.
std::string flux_text(const Light& light, const RunInfo& info) {
  if (light.stated_flux) return number(*light.stated_flux, "%.0f");
  if (const auto f = photon_flux(info, light.name)) return number(*f, "%.0f") + " (photons)";
  return "-";
}

// Luminaires of one type: the same shape, size and shader fields.
struct LuminaireType {
  std::string key;
  std::vector<size_t> lights;  // indices into the model's lights
};
std::string type_key(const Light& light, const LightSource& source) {
  std::string key = light.shape;
  if (source.luminaire != nullptr) {
    const LightDesc& d = *source.luminaire;
    key += "|" + number(d.width, "%.9g") + "|" + number(d.height, "%.9g") + "|" +
           number(d.radius, "%.9g") + "|" + number(d.length, "%.9g") + "|" +
           number(d.cone_angle, "%.9g") + (d.spot ? "|spot" : "");
  }
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

std::string size_text(const Light& light, const LightSource& source, const std::string& unit) {
  if (source.luminaire == nullptr) return "-";
  const LightDesc& d = *source.luminaire;
  switch (d.shape) {
    case Shape::Point:
      return "-";
    case Shape::Rectangle:
      return length_text(d.width) + " x " + length_text(d.height) + " " + unit;
    case Shape::Disc:
    case Shape::Sphere:
      return "r " + length_text(d.radius) + " " + unit;
    case Shape::Cylinder:
      return "r " + length_text(d.radius) + ", l " + length_text(d.length) + " " + unit;
  }
  (void)light;
  return "-";
}

// The size of a surface's grid for the tables: "nu x nv", or the number
// of points of a point list.
std::string grid_text(const Grid& grid) {
  if (grid.is_point_list()) return std::to_string(grid.points.size()) + " points";
  return std::to_string(grid.nu) + " x " + std::to_string(grid.nv);
}

// --- Title page -----------------------------------------------------------

void title_page(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
                const ReportContent& content) {
  const Scene& scene = model.scene();
  doc.title(scene.title.empty() ? scene.file : scene.title);
  doc.paragraph("Lighting calculation report", 12);
  doc.skip(6);
  doc.fields({{"Scene file", scene.file},
              {"Date", content.date},
              {"Length unit", scene.unit.name},
              {"Maintenance factor", ratio_text(content.maintenance_factor)},
              {"Luminaires", std::to_string(model.lights().size())},
              {"Calculation surfaces", std::to_string(results.size())}});

  doc.heading("Summary of the calculation surfaces");
  bool any_limits = false;
  for (const auto& l : content.limits) any_limits = any_limits || l.min_avg_lux || l.min_u0;
  std::vector<Column> columns{{"Surface", 0},  {"Grid", 1},      {"E avg lx", 1}, {"E min lx", 1},
                              {"E max lx", 1}, {"Emin/Eavg", 1}, {"Emin/Emax", 1}};
  if (any_limits) {
    columns.push_back({"Required", 0});
    columns.push_back({"Met", 0});
  }
  Rows rows;
  for (size_t s = 0; s < results.size(); ++s) {
    const SurfaceResult& r = results[s];
    std::vector<std::string> row{r.name,
                                 grid_text(r.grid),
                                 lux_text(r.stats.avg),
                                 lux_text(r.stats.min),
                                 lux_text(r.stats.max),
                                 ratio_text(r.stats.u0),
                                 ratio_text(r.stats.min_over_max)};
    if (any_limits) {
      std::string required, met = "-";
      if (s < content.limits.size()) {
        const SurfaceLimits& l = content.limits[s];
        bool ok = true;
        if (l.min_avg_lux) {
          required += "E avg >= " + number(*l.min_avg_lux, "%.0f") + " lx";
          ok = ok && r.stats.avg >= *l.min_avg_lux;
        }
        if (l.min_u0) {
          required += std::string(required.empty() ? "" : ", ") + "U0 >= " + ratio_text(*l.min_u0);
          ok = ok && r.stats.u0 >= *l.min_u0;
        }
        if (l.min_avg_lux || l.min_u0) met = ok ? "yes" : "NO";
      }
      row.push_back(required.empty() ? "-" : required);
      row.push_back(met);
    }
    rows.push_back(row);
  }
  doc.table(columns, rows);
  doc.paragraph(
      "E avg, E min and E max: the mean, least and greatest illuminance over the surface's grid "
      "points, lux, maintained (initial values times the maintenance factor). Emin/Eavg is the "
      "uniformity U0 a lighting design is usually checked against; Emin/Emax the ratio of the "
      "extremes.",
      8);

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

void luminaire_schedule(Document& doc, const Model& model, const RunInfo& info) {
  const Scene& scene = model.scene();
  doc.new_page();
  doc.heading("Luminaire schedule");
  const auto types = luminaire_types(model);
  Rows type_rows;
  std::vector<std::string> profiles_used;
  for (size_t t = 0; t < types.size(); ++t) {
    const Light& first = model.lights()[types[t].lights.front()];
    const LightSource source = source_of(scene, first.name);
    const auto profile = profile_of(source.fields);
    if (profile &&
        std::find(profiles_used.begin(), profiles_used.end(), *profile) == profiles_used.end())
      profiles_used.push_back(*profile);
    const auto power = power_of(source.fields);
    const double count = double(types[t].lights.size());
    // The type's total flux, when every luminaire of it has one.
    std::optional<double> total = 0.0;
    for (const size_t l : types[t].lights) {
      const auto f = flux_of(model.lights()[l], info);
      total = total && f ? std::optional<double>(*total + *f) : std::nullopt;
    }
    const std::string total_flux = total ? number(*total, "%.0f") : "-";
    type_rows.push_back({type_name(t), std::to_string(types[t].lights.size()),
                         first.shape + (source.luminaire && source.luminaire->spot ? " spot" : ""),
                         size_text(first, source, scene.unit.symbol), profile.value_or("-"),
                         flux_text(first, info), total_flux, power ? number(*power, "%.1f") : "-",
                         power ? number(*power * count, "%.1f") : "-"});
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
      "Flux: what a luminaire's parameters state, or, marked \"photons\", what photon emission "
      "measured (--photons). Power: given where the parameters state the output in watt.",
      8);

  doc.heading("Luminaires");
  Rows rows;
  for (size_t t = 0; t < types.size(); ++t)
    for (const size_t l : types[t].lights) {
      const Light& light = model.lights()[l];
      const LightSource source = source_of(scene, light.name);
      std::string place = "-", aim = "-";
      if (source.luminaire != nullptr) {
        place = point_text(source.luminaire->position);
        aim = point_text(source.luminaire->aim);
      } else if (source.object != nullptr) {
        place = point_text(centre_of(source.object->solid));
      }
      const auto photons = photon_flux(info, light.name);
      rows.push_back({light.name, type_name(t), place, aim,
                      light.stated_flux ? number(*light.stated_flux, "%.0f") : "-",
                      photons ? number(*photons, "%.0f") : "-"});
    }
  doc.table({{"Luminaire", 0},
             {"Type", 0},
             {"Position " + scene.unit.symbol, 0},
             {"Aim", 0},
             {"Stated lm", 1},
             {"Photon lm", 1}},
            rows);

  std::vector<const ProfileDesc*> profiles;
  for (const auto& name : profiles_used)
    for (const auto& p : scene.profiles)
      if (p.name == name) profiles.push_back(&p);
  if (!profiles.empty()) {
    doc.heading("Photometric profiles");
    profile_diagrams(doc, profiles);
  }
}

// --- Surface pages --------------------------------------------------------

// The map is drawn at this nominal size (the longer side of its plot, in
// the figure's own units, where its labels are 10–14 units high) and then
// scaled to the page.
constexpr double kMapNominal = 420;
constexpr double kMapMaxHeight = 400;    // points on the page
constexpr double kRasterPerPoint = 2.5;  // colour-field pixels per point: 180 per inch

void surface_map(Document& doc, const SurfaceResult& r, const std::string& unit) {
  const MapExtent extent = false_colour_extent(r.grid, kMapNominal);
  const double f = std::min(doc.width() / extent.width, kMapMaxHeight / extent.height);
  doc.figure(extent.height * f + 6, [&](double x, double y) {
    cairo_t* cr = doc.cr();
    cairo_translate(cr, x + (doc.width() - extent.width * f) / 2, y);
    cairo_scale(cr, f, f);
    draw_false_colour(cr, for_display(r, {}), unit, kMapNominal, kRasterPerPoint * f);
  });
}

// Beyond this many luminaires a surface's shares are given per type.
constexpr size_t kMostShareRows = 8;

void surface_statistics(Document& doc, const Model& model, const SurfaceResult& r,
                        double maintenance_factor) {
  doc.table({{"Quantity", 0}, {"Value", 1}, {"", 0}},
            {{"E avg", lux_text(r.stats.avg), "lx"},
             {"E min", lux_text(r.stats.min), "lx"},
             {"E max", lux_text(r.stats.max), "lx"},
             {"Emin/Eavg", ratio_text(r.stats.u0), ""},
             {"Emin/Emax", ratio_text(r.stats.min_over_max), ""},
             {"Maintenance factor", ratio_text(maintenance_factor), ""}});
  if (r.avg_by_light.size() <= 1) return;
  Rows shares;
  const auto share = [&](const std::string& name, double avg) {
    shares.push_back(
        {name, lux_text(avg), r.stats.avg > 0 ? number(100 * avg / r.stats.avg, "%.1f") : "-"});
  };
  const size_t lights = std::min(r.avg_by_light.size(), model.lights().size());
  if (lights <= kMostShareRows) {
    for (size_t l = 0; l < lights; ++l) share(model.lights()[l].name, r.avg_by_light[l]);
    doc.table({{"Luminaire", 0}, {"E avg lx", 1}, {"Share %", 1}}, shares);
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
  doc.table({{"Luminaire type", 0}, {"E avg lx", 1}, {"Share %", 1}}, shares);
}

// Decimals of a coordinate in the point table: enough to tell apart the
// centres of neighbouring cells, half a cell apart at the edges.
int coordinate_decimals(const Grid& grid) {
  const double half_cell = 0.5 * std::min(grid.du, grid.dv);
  if (!(half_cell > 0)) return 3;
  return std::clamp(static_cast<int>(std::ceil(-std::log10(half_cell))) + 1, 0, 6);
}

// The grid points and their illuminance, in blocks side by side, each
// page's share of the points read down its blocks in turn. Points outside a
// polygon area are not part of the surface and are left out.
void point_table(Document& doc, const SurfaceResult& r, const std::string& unit) {
  constexpr double kSize = 7;
  constexpr size_t kBlocks = 3;
  std::vector<size_t> points;
  for (size_t p = 0; p < r.lux.size(); ++p)
    if (r.grid.counts(p)) points.push_back(p);
  const size_t n = points.size();
  doc.new_page();
  doc.heading(r.name + ": grid points");
  doc.paragraph("Coordinates in " + unit +
                    ", illuminance E in lux; point (i, j) is the i-th along u and the j-th along "
                    "v, from 0.",
                8);
  char format[16];
  std::snprintf(format, sizeof format, "%%.%df", coordinate_decimals(r.grid));
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
        const size_t p = points[start + b * down + k];
        const Vec3 x = r.grid.points[p];
        if (b > 0) row.push_back("");
        for (const std::string& s :
             {std::to_string(p % size_t(r.grid.nu)), std::to_string(p / size_t(r.grid.nu)),
              number(x.x, format), number(x.y, format), number(x.z, format), lux_text(r.lux[p])})
          row.push_back(s);
      }
      rows.push_back(row);
    }
    doc.table(columns, rows, kSize);
    start += count;
  }
}

// A point list's points, each with its name and normal, on the list's page.
void point_list_table(Document& doc, const SurfaceResult& r, const std::string& unit) {
  Rows rows;
  for (size_t p = 0; p < r.grid.points.size() && p < r.lux.size(); ++p)
    rows.push_back({p < r.grid.labels.size() && !r.grid.labels[p].empty() ? r.grid.labels[p]
                                                                          : std::to_string(p + 1),
                    point_text(r.grid.points[p]), point_text(r.grid.normal_at(p)),
                    lux_text(r.lux[p])});
  doc.table({{"Point", 0}, {"Position " + unit, 0}, {"Normal", 0}, {"E lx", 1}}, rows);
}

void surface_pages(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
                   const ReportContent& content) {
  const Scene& scene = model.scene();
  for (size_t s = 0; s < results.size(); ++s) {
    const SurfaceResult& r = results[s];
    doc.new_page();
    doc.heading((r.grid.is_point_list() ? "Points: " : "Surface: ") + r.name);
    if (r.grid.is_point_list()) {
      doc.fields({{"Points", std::to_string(r.grid.points.size())}});
      surface_statistics(doc, model, r, content.maintenance_factor);
      point_list_table(doc, r, scene.unit.symbol);
      continue;
    }
    const SurfaceDesc* desc = nullptr;
    for (const auto& d : scene.surfaces)
      if (d.name == r.name) desc = &d;
    std::vector<std::pair<std::string, std::string>> geometry;
    if (desc != nullptr) {
      geometry.push_back({"Corner", point_text(desc->corner) + " " + scene.unit.symbol});
      geometry.push_back({"Edges u, v", point_text(desc->u) + ", " + point_text(desc->v)});
    }
    geometry.push_back({"Normal", point_text(r.grid.normal)});
    geometry.push_back({"Grid", std::to_string(r.grid.nu) + " x " + std::to_string(r.grid.nv) +
                                    " points, cells " + length_text(r.grid.du) + " x " +
                                    length_text(r.grid.dv) + " " + scene.unit.symbol});
    if (!r.grid.inside.empty())
      geometry.push_back({"Polygon", std::to_string(counted(r.grid, r.lux).size()) +
                                         " points inside its outline"});
    doc.fields(geometry);
    surface_map(doc, r, scene.unit.symbol);
    surface_statistics(doc, model, r, content.maintenance_factor);
    point_table(doc, r, scene.unit.symbol);
  }
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
  if (!info.messages.empty()) {
    doc.heading("Messages of the calculation");
    for (const auto& m : info.messages) doc.paragraph(m, 8);
  }
}

void draw_report(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
                 const RunInfo& info, const ReportContent& content) {
  title_page(doc, model, results, content);
  luminaire_schedule(doc, model, info);
  surface_pages(doc, model, results, content);
  further_sections(doc, content.sections);
  settings_page(doc, model, info, content);
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
