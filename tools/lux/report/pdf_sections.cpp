#include "tools/lux/report/pdf_sections.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/lux/report/radiosity_report.h"
#include "tools/lux/transport/photon_trace.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

namespace {

constexpr double kPercent = 100.0;

std::string number(double v, const char* format) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}
std::string lux_text(double v) { return number(v, "%.1f"); }
std::string ratio_text(double v) { return number(v, "%.2f"); }
std::string lumen_text(double v) { return number(v, "%.1f"); }
std::string length_text(double v) { return number(v, "%.3g"); }
std::string point_text(Vec3 p, const OutputUnits& u) {
  return "(" + length_text(u.length_of(p.x)) + ", " + length_text(u.length_of(p.y)) + ", " +
         length_text(u.length_of(p.z)) + ")";
}
// The name of the illuminance unit in a sentence.
std::string unit_words(const OutputUnits& u) {
  if (u.relative) return "relative units (not lux)";
  return u.footcandles ? "footcandles" : "lux";
}

std::string ugr_text(const std::optional<double>& ugr) {
  return ugr ? number(rounded_ugr(*ugr), "%.1f") : "-";
}

// A horizontal direction as a reader names it: "+x", "-y" along an axis,
// else its components.
std::string direction_text(Vec3 d) {
  constexpr double kOnAxis = 1e-9;
  const std::pair<double, const char*> axes[] = {{d.x, "x"}, {d.y, "y"}};
  for (size_t k = 0; k < 2; ++k) {
    const double other = k == 0 ? d.y : d.x;
    if (std::fabs(other) < kOnAxis && std::fabs(d.z) < kOnAxis && axes[k].first != 0)
      return std::string(axes[k].first > 0 ? "+" : "-") + axes[k].second;
  }
  return "(" + number(d.x, "%.2f") + ", " + number(d.y, "%.2f") + ", " + number(d.z, "%.2f") + ")";
}

// Facing of a semi-cylinder, named as its direction.
std::string facing_text(size_t k) { return direction_text(semi_cylinder_facings()[k]); }

double sum_of(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return sum;
}

// A share of the emitted flux in percent, when the emitted flux is known.
std::string share_text(double lumen, const std::optional<double>& emitted) {
  return emitted && *emitted > 0 ? number(kPercent * lumen / *emitted, "%.1f") : "-";
}

}  // namespace

std::vector<ReportSection> glare_sections(const GlareReport& glare, const OutputUnits& units) {
  std::vector<ReportSection> sections;
  ReportSection ratings;
  ratings.heading = "Discomfort glare (UGR)";
  ratings.notes.push_back(
      "Unified Glare Rating for each observer's eye and horizontal viewing direction, of new "
      "luminaires (maintenance factor " +
      ratio_text(glare.maintenance_factor) +
      "): UGR = 8 log\u2081\u2080(0.25 / Lb \u00b7 \u03a3 L\u00b2\u03c9 / p\u00b2) over the "
      "luminaires in the field of view, Lb the background luminance at the eye.");
  if (glare.background_source == "room estimate")
    ratings.notes.push_back("Background from the room estimate: mean reflectance " +
                            ratio_text(glare.room_reflectance) + ", luminaire flux " +
                            number(glare.room_flux, "%.0f") + " lm.");
  else
    ratings.notes.push_back("Background from the " + glare.background_source + ".");
  ratings.notes.push_back(
      glare.largest ? "Largest UGR: " + ugr_text(glare.largest) + ", observer \"" +
                          glare.results[glare.largest_index].observer + "\"."
                    : "No luminaire is in any observer's field of view: there is no glare to "
                      "rate.");
  ratings.table.columns = {{"Observer", 0}, {"Eye " + units.length, 0}, {"Looking", 0},
                           {"View", 0},     {"Lb cd/m\u00b2", 1},       {"Luminaires", 1},
                           {"UGR", 1}};
  for (const UgrResult& r : glare.results)
    ratings.table.rows.push_back({r.observer, point_text(r.position, units),
                                  direction_text(r.direction), r.view,
                                  number(r.background_luminance, "%.1f"),
                                  std::to_string(r.sources.size()), ugr_text(r.ugr)});
  sections.push_back(ratings);

  if (glare.largest && glare.largest_index < glare.results.size()) {
    const UgrResult& worst = glare.results[glare.largest_index];
    ReportSection sources;
    sources.heading =
        "Luminaires seen by \"" + worst.observer + "\", looking " + direction_text(worst.direction);
    sources.notes.push_back(
        "Each luminaire's intensity I towards the eye, its projected area A, luminance L, solid "
        "angle \u03c9 and Guth position index p; its term L\u00b2\u03c9 / p\u00b2 in the "
        "rating.");
    sources.table.columns = {{"Luminaire", 0},
                             {"I cd", 1},
                             {"A m\u00b2", 1},
                             {"L cd/m\u00b2", 1},
                             {"\u03c9 sr", 1},
                             {"p", 1},
                             {"L\u00b2\u03c9 / p\u00b2", 1}};
    for (const GlareSource& s : worst.sources)
      sources.table.rows.push_back({s.light, number(s.intensity, "%.1f"),
                                    number(s.projected_area, "%.4f"), number(s.luminance, "%.0f"),
                                    number(s.solid_angle, "%.2e"), number(s.position_index, "%.2f"),
                                    number(s.term, s.term >= 100 ? "%.0f" : "%.3g")});
    sections.push_back(sources);
  }
  return sections;
}

std::vector<ReportSection> cylindrical_sections(const std::vector<CylindricalResult>& areas,
                                                const OutputUnits& units) {
  if (areas.empty()) return {};
  ReportSection cylindrical;
  cylindrical.heading = "Cylindrical illuminance and modelling";
  cylindrical.notes.push_back(
      "Ez: the mean illuminance on a small vertical cylinder at eye height, how well faces are "
      "lit from all round; Eh the horizontal illuminance at the same points; Ez/Eh the "
      "modelling ratio of their means. Maintained values in " +
      unit_words(units) + "; interreflected part: " + areas.front().interreflection + ".");
  cylindrical.table.columns = {{"Area", 0},   {"Height " + units.length, 1},
                               {"Points", 1}, {"Ez avg", 1},
                               {"Ez min", 1}, {"Ez min/avg", 1},
                               {"Eh avg", 1}, {"Ez/Eh", 1}};
  ReportSection semi;
  semi.heading = "Semi-cylindrical illuminance";
  semi.notes.push_back(
      "Esc: the mean illuminance on a vertical half cylinder facing the given direction, as a "
      "face turned that way sees the light. Maintained values in " +
      unit_words(units) + ".");
  semi.table.columns = {{"Area", 0},    {"Height " + units.length, 1},
                        {"Facing", 0},  {"Esc avg", 1},
                        {"Esc min", 1}, {"Esc max", 1},
                        {"min/avg", 1}};
  for (const CylindricalResult& c : areas) {
    const std::string height = number(units.length_of(c.height), "%.2f");
    const auto e = [&units](double lux) { return lux_text(units.illuminance_of(lux)); };
    cylindrical.table.rows.push_back(
        {c.name, height, std::to_string(c.nu) + " x " + std::to_string(c.nv), e(c.ez_stats.avg),
         e(c.ez_stats.min), ratio_text(c.ez_stats.u0), e(c.eh_stats.avg), ratio_text(c.modelling)});
    for (size_t k = 0; k < size_t(kFacings); ++k) {
      const Stats& s = c.esc_stats[k];
      semi.table.rows.push_back(
          {c.name, height, facing_text(k), e(s.avg), e(s.min), e(s.max), ratio_text(s.u0)});
    }
  }
  return {cylindrical, semi};
}

std::vector<ReportSection> flux_balance_sections(const Model& model, const RunInfo& info) {
  const RadiositySolution* s = info.interreflection;
  if (s == nullptr) return {};
  const Scene& scene = model.scene();
  const std::optional<double> emitted = emitted_flux(model, info);
  // The patches carry maintained light; the luminaires' flux and the
  // photons are of new ones. The balance is drawn up in new lumen.
  const double to_new = s->new_over_maintained > 0 ? s->new_over_maintained : 1.0;
  const FluxBalance b = balance_in_new_lumen(*s);
  const double absorbed = sum_of(b.absorbed);

  ReportSection balance;
  balance.heading = "Flux balance of the interreflection";
  balance.notes.push_back(
      "Where the luminaires' light went, in lumen of new luminaires: what reaches the reflecting "
      "surfaces directly is partly absorbed there and partly reflected on; what is reflected "
      "away from every reflecting surface is lost, and what the iteration left unshot is "
      "neither.");
  const OutputUnits& u = info.units;
  balance.notes.push_back(
      std::to_string(s->patches.size()) + " patches of " + length_text(u.length_of(s->smallest)) +
      " to " + length_text(u.length_of(s->largest)) + " " + u.length + " (estimated error " +
      number(s->estimated_error, "%.2g") + " at an accuracy of " +
      number(scene.interreflection.accuracy, "%g") + "), " + std::to_string(s->sweeps) +
      " rounds to a residual of " + number(scene.interreflection.residual, "%g") +
      " of the direct flux" + (s->converged ? "." : ", stopped at the round cap before it."));
  if (to_new != 1.0)
    balance.notes.push_back(
        "The interreflection is worked out with maintained light; its lumen are divided by the "
        "maintenance factor here (times " +
        number(to_new, "%.4g") + ") to stand beside the luminaires' new flux.");
  if (!emitted)
    balance.notes.push_back(
        "The emitted flux is unknown (not every luminaire states it): measure it with "
        "--photons.");
  balance.table.columns = {{"Flux", 0}, {"lm", 1}, {"% of emitted", 1}};
  const auto row = [&](const std::string& label, double lumen) {
    balance.table.rows.push_back({label, lumen_text(lumen), share_text(lumen, emitted)});
  };
  balance.table.rows.push_back(
      {"Emitted by the luminaires", emitted ? lumen_text(*emitted) : "-", emitted ? "100.0" : "-"});
  row("Directly on reflecting surfaces", b.direct);
  row("Absorbed by reflecting surfaces", absorbed);
  row("Reflected and lost", b.reflected_lost);
  row("Left unshot", b.unshot);
  if (emitted) row("Escaped (emitted less absorbed)", *emitted - absorbed);

  ReportSection elements;
  elements.heading = "Light absorbed per reflecting element";
  const PhotonBalance* photons = info.photon_balance;
  elements.table.columns = {{"Element", 0},
                            {"Kind", 0},
                            {"Reflectance", 1},
                            {std::string("Area ") + u.area_unit(), 1},
                            {"Absorbed lm", 1}};
  if (photons != nullptr) {
    elements.notes.push_back("Beside each, what " + std::to_string(photons->photons) +
                             " traced photons left there: a second opinion.");
    elements.table.columns.push_back({"Photons lm", 1});
    elements.table.columns.push_back({"Difference %", 1});
  }
  for (size_t e = 0; e < s->elements.size() && e < b.absorbed.size(); ++e) {
    const ReflectingElement& el = s->elements[e];
    std::vector<std::string> cells{el.name, el.kind, ratio_text(el.reflectance),
                                   number(u.area_of(el.area / scene.unit.area_factor()), "%.2f"),
                                   lumen_text(b.absorbed[e])};
    if (photons != nullptr) {
      const double p = e < photons->absorbed.size() ? photons->absorbed[e] : 0.0;
      cells.push_back(lumen_text(p));
      cells.push_back(b.absorbed[e] > 0
                          ? number(kPercent * (p - b.absorbed[e]) / b.absorbed[e], "%+.2f")
                          : "-");
    }
    elements.table.rows.push_back(cells);
  }
  std::vector<ReportSection> out{balance, elements};
  if (photons != nullptr) {
    ReportSection traced;
    traced.heading = "Photons' account";
    traced.table.columns = {{"Flux", 0}, {"lm", 1}};
    traced.table.rows = {{"Emitted", lumen_text(photons->emitted)},
                         {"Absorbed by reflecting elements", lumen_text(sum_of(photons->absorbed))},
                         {"Absorbed elsewhere", lumen_text(photons->absorbed_elsewhere)},
                         {"Escaped", lumen_text(photons->escaped)}};
    out.push_back(traced);
  }
  return out;
}

std::vector<ReportSection> report_sections(const Model& model, const RunInfo& info) {
  std::vector<ReportSection> sections;
  const auto append = [&sections](std::vector<ReportSection> more) {
    sections.insert(sections.end(), more.begin(), more.end());
  };
  if (info.glare) append(glare_sections(*info.glare, info.units));
  append(cylindrical_sections(info.cylindrical, info.units));
  append(flux_balance_sections(model, info));
  return sections;
}

std::vector<std::pair<std::string, std::string>> report_settings(const Model& model,
                                                                 const RunInfo& info,
                                                                 const RunChoices& choices) {
  const Scene& scene = model.scene();
  std::vector<std::pair<std::string, std::string>> rows;
  // Emitter sampling: one phrase when every light is sampled alike.
  std::string sampling;
  for (const Light& light : model.lights()) {
    const std::string phrase =
        light.samples > 0
            ? std::to_string(light.samples) + " emitter points per light and grid point"
            : "to a relative error of " + number(light.accuracy * kPercent, "%g") +
                  " % per light and grid point";
    sampling = sampling.empty() || sampling == phrase ? phrase : "per light (see below)";
  }
  rows.push_back({"Emitter sampling", sampling.empty() ? "-" : sampling});

  std::string interreflection;
  if (const RadiositySolution* s = info.interreflection) {
    interreflection = "radiosity, accuracy " + number(scene.interreflection.accuracy, "%g") +
                      ", residual " + number(scene.interreflection.residual, "%g") + " (" +
                      std::to_string(s->patches.size()) + " patches of " +
                      length_text(info.units.length_of(s->smallest)) + " to " +
                      length_text(info.units.length_of(s->largest)) + " " + info.units.length +
                      ", " + std::to_string(s->sweeps) + " rounds)";
  } else {
    interreflection = choices.direct_only ? "left out on request (--direct-only)"
                                          : "none: nothing in the scene reflects";
  }
  rows.push_back({"Interreflection", interreflection});
  int photons = 0;
  for (const FluxResult& f : info.flux) photons = std::max(photons, f.photons);
  rows.push_back({"Photons", photons > 0 ? std::to_string(photons) + " per light" : "none traced"});

  double lo = scene.maintenance_factor, hi = scene.maintenance_factor;
  for (const Light& light : model.lights()) {
    lo = std::min(lo, light.maintenance_factor);
    hi = std::max(hi, light.maintenance_factor);
  }
  rows.push_back({"Maintenance factor", ratio_text(scene.maintenance_factor) +
                                            (lo == hi ? std::string()
                                                      : " (per light " + ratio_text(lo) + " to " +
                                                            ratio_text(hi) + ")")});
  if (info.glare)
    rows.push_back({"Glare", std::to_string(info.glare->results.size()) +
                                 " ratings (observer and direction), background from the " +
                                 info.glare->background_source});
  if (!info.cylindrical.empty())
    rows.push_back(
        {"Cylindrical areas", std::to_string(info.cylindrical.size()) + " (area and eye height)"});
  rows.push_back({"Illuminance values",
                  "maintained: each light's new value times its "
                  "maintenance factor"});
  return rows;
}

}  // namespace lux
