#include "tools/lux/report/radiosity_report.h"

#include <cstdio>

#include "shaders/constants.h"
#include "tools/lux/transport/photon_trace.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

namespace {

using json = nlohmann::ordered_json;

json stats_json(const Stats& s) {
  return {{"min", s.min},
          {"avg", s.avg},
          {"max", s.max},
          {"min_over_avg", s.u0},
          {"min_over_max", s.min_over_max}};
}

double mean(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return v.empty() ? 0 : sum / double(v.size());
}

double sum_of(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return sum;
}

// Mean luminance of a diffuse surface that reflects ρ of the illuminance E:
// L = ρE/π.
double luminance(double reflectance, double lux) { return reflectance * lux / zel::kPi; }

// The scene surface an area of the results lies on; null for a point list.
const SurfaceDesc* surface_of(const Scene& scene, const SurfaceResult& r) {
  if (r.role == "points") return nullptr;
  for (const SurfaceDesc& d : scene.surfaces)
    if (d.name == r.surface) return &d;
  return nullptr;
}

}  // namespace

FluxBalance balance_in_new_lumen(const RadiositySolution& solution) {
  const double to_new = solution.new_over_maintained > 0 ? solution.new_over_maintained : 1.0;
  FluxBalance b = solution.balance;
  b.direct *= to_new;
  b.reflected_lost *= to_new;
  b.unshot *= to_new;
  for (double& a : b.absorbed) a *= to_new;
  return b;
}

std::optional<double> emitted_flux(const Model& model, const RunInfo& info) {
  double measured = 0, stated = 0;
  bool all_measured = !model.lights().empty(), all_stated = !model.lights().empty();
  for (const Light& light : model.lights()) {
    bool found = false;
    for (const FluxResult& f : info.flux)
      if (f.light == light.name) {
        measured += f.measured;
        found = true;
      }
    all_measured = all_measured && found;
    all_stated = all_stated && light.stated_flux.has_value();
    if (light.stated_flux) stated += *light.stated_flux;
  }
  if (all_measured) return measured;
  if (all_stated) return stated;
  return std::nullopt;
}

std::vector<std::string> unlit_notes(const std::vector<SurfaceResult>& results) {
  std::vector<std::string> notes;
  for (const SurfaceResult& r : results)
    if (!r.direct.empty() && r.direct_stats.max == 0)
      notes.push_back("surface \"" + r.name +
                      "\" receives no direct light: it faces away from every light or is hidden "
                      "from them");
  return notes;
}

void add_interreflection_stats(json& entry, const Model& model, const SurfaceResult& r) {
  entry["direct_lux"] = stats_json(r.direct_stats);
  entry["interreflected_avg_lux"] = mean(r.interreflected);
  const SurfaceDesc* d = surface_of(model.scene(), r);
  if (d == nullptr) return;
  const bool reflecting = d->role == SurfaceRole::Reflecting;
  entry["surface_kind"] = reflecting ? "reflecting" : "calculation";
  entry["direct_share"] = r.stats.avg > 0 ? json(r.direct_stats.avg / r.stats.avg) : json();
  entry["reflectance"] = reflecting ? json(d->reflectance) : json();
  entry["mean_luminance_cd_m2"] =
      reflecting ? json(luminance(d->reflectance, r.stats.avg)) : json();
}

json interreflection_json(const Model& model, const RunInfo& info) {
  const RadiositySolution* s = info.interreflection;
  if (s == nullptr) return json();
  const Scene& scene = model.scene();
  json j;
  j["accuracy"] = scene.interreflection.accuracy;
  j["patch_size"] =
      scene.interreflection.patch_size > 0 ? json(scene.interreflection.patch_size) : json();
  j["residual"] = scene.interreflection.residual;
  j["patches"] = s->patches.size();
  j["pieces"] = s->tree.size();
  j["links"] = s->links;
  j["smallest_patch"] = s->smallest;
  j["largest_patch"] = s->largest;
  j["estimated_error"] = s->estimated_error;
  j["sweeps"] = s->sweeps;
  j["converged"] = s->converged;
  j["seconds"] = {{"direct", s->direct_seconds},
                  {"links", s->form_factor_seconds},
                  {"solve", s->solve_seconds}};
  const FluxBalance b = balance_in_new_lumen(*s);
  const PhotonBalance* photons = info.photon_balance;
  json elements = json::array();
  for (size_t e = 0; e < s->elements.size(); ++e) {
    const ReflectingElement& el = s->elements[e];
    json x;
    x["name"] = el.name;
    x["kind"] = el.kind;
    x["reflectance"] = el.reflectance;
    x["area"] = el.area;
    x["absorbed_lm"] = b.absorbed[e];
    x["photon_absorbed_lm"] = photons != nullptr ? json(photons->absorbed.at(e)) : json();
    x["photon_standard_error_lm"] =
        photons != nullptr ? json(photons->absorbed_error.at(e)) : json();
    elements.push_back(x);
  }
  j["elements"] = elements;
  const std::optional<double> emitted = emitted_flux(model, info);
  const double absorbed = sum_of(b.absorbed);
  j["flux_balance_lm"] = {{"emitted", emitted ? json(*emitted) : json()},
                          {"direct_on_reflecting_surfaces", b.direct},
                          {"absorbed", absorbed},
                          {"reflected_and_lost", b.reflected_lost},
                          {"unshot", b.unshot},
                          {"escaped", emitted ? json(*emitted - absorbed) : json()}};
  if (photons != nullptr)
    j["photons"] = {{"photons", photons->photons},
                    {"emitted_lm", photons->emitted},
                    {"absorbed_lm", sum_of(photons->absorbed)},
                    {"absorbed_elsewhere_lm", photons->absorbed_elsewhere},
                    {"escaped_lm", photons->escaped}};
  return j;
}

void print_interreflection(std::ostream& out, const Model& model,
                           const std::vector<SurfaceResult>& results, const RunInfo& info) {
  char line[256];
  const RadiositySolution* s = info.interreflection;
  const Scene& scene = model.scene();
  if (s != nullptr && !results.empty()) {
    std::snprintf(line, sizeof line, "\n%-24s %11s %11s %8s %6s %9s\n", "surface", "direct lx",
                  "interrefl lx", "direct", "rho", "L cd/m2");
    out << line;
    for (const SurfaceResult& r : results) {
      const SurfaceDesc* d = surface_of(scene, r);
      const bool reflecting = d != nullptr && d->role == SurfaceRole::Reflecting;
      const std::string share =
          r.stats.avg > 0 ? std::to_string(int(100 * r.direct_stats.avg / r.stats.avg + 0.5)) + "%"
                          : "-";
      char rho[16] = "-", lum[16] = "-";
      if (reflecting) {
        std::snprintf(rho, sizeof rho, "%.2f", d->reflectance);
        std::snprintf(lum, sizeof lum, "%.1f", luminance(d->reflectance, r.stats.avg));
      }
      std::snprintf(line, sizeof line, "%-24.24s %11.1f %11.1f %8s %6s %9s\n", r.name.c_str(),
                    r.direct_stats.avg, mean(r.interreflected), share.c_str(), rho, lum);
      out << line;
    }
  }
  if (s != nullptr) {
    std::snprintf(line, sizeof line,
                  "\ninterreflection: %zu patches of %.3g to %.3g %s, %zu links, estimated error "
                  "%.2g (accuracy %g), %d rounds%s; direct light %.2f s, links %.2f s, solve "
                  "%.2f s\n",
                  s->patches.size(), s->smallest, s->largest, scene.unit.symbol.c_str(), s->links,
                  s->estimated_error, scene.interreflection.accuracy, s->sweeps,
                  s->converged ? "" : " (NOT CONVERGED: stopped at the round cap)",
                  s->direct_seconds, s->form_factor_seconds, s->solve_seconds);
    out << line;
    const PhotonBalance* photons = info.photon_balance;
    std::snprintf(line, sizeof line, "%-24s %6s %10s %14s %14s %8s %9s\n", "absorbed by", "rho",
                  "area", "radiosity lm", "photons lm", "diff", "in sigma");
    out << line;
    const FluxBalance b = balance_in_new_lumen(*s);
    for (size_t e = 0; e < s->elements.size(); ++e) {
      const ReflectingElement& el = s->elements[e];
      std::string ph = "-", diff = "-", sigmas = "-";
      if (photons != nullptr) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f", photons->absorbed[e]);
        ph = buf;
        if (b.absorbed[e] > 0) {
          std::snprintf(buf, sizeof buf, "%+.2f%%",
                        100 * (photons->absorbed[e] - b.absorbed[e]) / b.absorbed[e]);
          diff = buf;
        }
        // How many of the photons' standard errors the two differ by.
        if (photons->absorbed_error[e] > 0) {
          std::snprintf(buf, sizeof buf, "%+.1f",
                        (b.absorbed[e] - photons->absorbed[e]) / photons->absorbed_error[e]);
          sigmas = buf;
        }
      }
      std::snprintf(line, sizeof line, "%-24.24s %6.2f %10.2f %14.1f %14s %8s %9s\n",
                    el.name.c_str(), el.reflectance, el.area / scene.unit.area_factor(),
                    b.absorbed[e], ph.c_str(), diff.c_str(), sigmas.c_str());
      out << line;
    }
    const std::optional<double> emitted = emitted_flux(model, info);
    const double absorbed = sum_of(b.absorbed);
    out << "flux balance:";
    if (emitted) {
      std::snprintf(line, sizeof line, " emitted %.1f lm,", *emitted);
      out << line;
    }
    std::snprintf(line, sizeof line,
                  " on reflecting surfaces directly %.1f lm, absorbed %.1f lm, reflected and "
                  "lost %.1f lm, not yet passed on %.1f lm%s",
                  b.direct, absorbed, b.reflected_lost, b.unshot,
                  s->converged ? "" : " (the iteration stopped at its cap)");
    out << line;
    if (emitted) {
      std::snprintf(line, sizeof line, "; emitted less absorbed %.1f lm (%.2f%%)",
                    *emitted - absorbed,
                    *emitted > 0 ? 100 * (*emitted - absorbed) / *emitted : 0.0);
      out << line;
    } else {
      out << " (emitted flux unknown: measure it with --photons)";
    }
    out << "\n";
    if (photons != nullptr) {
      std::snprintf(line, sizeof line,
                    "photons: %lld emitted %.1f lm = absorbed %.1f lm + elsewhere %.1f lm + "
                    "escaped %.1f lm\n",
                    photons->photons, photons->emitted, sum_of(photons->absorbed),
                    photons->absorbed_elsewhere, photons->escaped);
      out << line;
    }
  }
  for (const std::string& n : unlit_notes(results)) out << "note: " << n << "\n";
}

}  // namespace lux
