#include "tools/lux/metrics/compliance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lux {

namespace {

constexpr int kIlluminanceDecimals = 1;
constexpr int kRatioDecimals = 2;
constexpr int kUgrDecimals = 1;
constexpr double kUpwardCosine = 0.7071067811865476;  // cos 45°: a floor, a table, a work plane
constexpr double kPerHundredLux = 100.0;

double rounded(double v, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(v * scale) / scale;
}

// The area a ring encloses (shoelace), in square scene units.
double ring_area(const Ring& ring) {
  double twice = 0;
  for (size_t k = 0; k < ring.size(); ++k) {
    const auto& a = ring[k];
    const auto& b = ring[(k + 1) % ring.size()];
    twice += a[0] * b[1] - b[0] * a[1];
  }
  return std::fabs(twice) / 2;
}

double surface_area(const SurfaceDesc& s) {
  if (s.outline.empty()) return length(cross(s.u, s.v));
  double area = ring_area(s.outline.front());
  for (size_t k = 1; k < s.outline.size(); ++k) area -= ring_area(s.outline[k]);
  return area;
}

const SurfaceDesc* surface_named(const Scene& scene, const std::string& name) {
  for (const auto& s : scene.surfaces)
    if (s.name == name) return &s;
  return nullptr;
}

// The targets the scene states for one area of results.
const Targets* targets_of_result(const Scene& scene, const SurfaceResult& r) {
  const SurfaceDesc* s = surface_named(scene, r.surface);
  if (s == nullptr) return nullptr;
  if (r.role == "surface") return &s->targets;
  for (const auto& t : s->task_areas) {
    if (t.name != r.task) continue;
    if (r.role == "task") return &t.targets;
    if (r.role == "surrounding") return &t.surrounding_targets;
    if (r.role == "background") return &t.background_targets;
  }
  return nullptr;
}

const ObserverDesc* observer_named(const Scene& scene, const std::string& name) {
  for (const auto& o : scene.observers)
    if (o.name == name) return &o;
  return nullptr;
}

std::string height_text(double height, const OutputUnits& units) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %s", units.length_of(height), units.length.c_str());
  return text;
}

}  // namespace

size_t Verdict::failed() const {
  return size_t(std::count_if(requirements.begin(), requirements.end(),
                              [](const Requirement& r) { return !r.pass; }));
}

Requirement judge(const std::string& area, const std::string& quantity, const Target& target,
                  std::optional<double> value, bool at_most, bool illuminance, int decimals) {
  Requirement r;
  r.area = area;
  r.quantity = quantity;
  r.source = target.source;
  r.at_most = at_most;
  r.illuminance = illuminance;
  r.target = target.value;
  r.value = value;
  if (!value) {
    // Nothing to rate: no luminaire in the observer's view gives no glare.
    r.pass = at_most;
    return r;
  }
  const double reported = rounded(*value, decimals);
  const double wanted = rounded(target.value, decimals);
  r.margin = at_most ? wanted - reported : reported - wanted;
  r.pass = r.margin >= 0;
  r.margin = rounded(r.margin, decimals);
  return r;
}

Verdict check_targets(const Scene& scene, const std::vector<SurfaceResult>& results,
                      const std::vector<CylindricalResult>& cylindrical,
                      const std::optional<GlareReport>& glare, const OutputUnits& units) {
  Verdict v;
  const auto illuminance = [&](const std::string& area, const std::string& quantity,
                               const std::optional<Target>& target, double lux) {
    if (!target) return;
    Target in_units{units.illuminance_of(target->value), target->source};
    v.requirements.push_back(judge(area, quantity, in_units, units.illuminance_of(lux), false, true,
                                   kIlluminanceDecimals));
  };
  const auto ratio = [&](const std::string& area, const std::optional<Target>& target,
                         double value) {
    if (target)
      v.requirements.push_back(judge(area, "U0", *target, value, false, false, kRatioDecimals));
  };
  for (const auto& r : results) {
    const Targets* t = targets_of_result(scene, r);
    if (t == nullptr) continue;
    illuminance(r.name, "Em", t->em, r.stats.avg);
    ratio(r.name, t->u0, r.stats.u0);
  }
  for (const auto& c : cylindrical) {
    for (const auto& desc : scene.cylindrical) {
      if (desc.name != c.name) continue;
      const std::string area = c.name + ", " + height_text(c.height, units);
      illuminance(area, "Ez", desc.targets.ez, c.ez_stats.avg);
      ratio(area, desc.targets.u0, c.ez_stats.u0);
    }
  }
  if (glare) {
    // Each observer's largest rating over its viewing directions.
    std::vector<std::string> order;
    for (const auto& r : glare->results)
      if (std::find(order.begin(), order.end(), r.observer) == order.end())
        order.push_back(r.observer);
    for (const auto& name : order) {
      const ObserverDesc* given = observer_named(scene, name);
      const Targets& t = given != nullptr && given->targets.ugr
                             ? given->targets
                             : (scene.glare ? scene.glare->targets : Targets{});
      if (!t.ugr) continue;
      std::optional<double> largest;
      for (const auto& r : glare->results)
        if (r.observer == name && r.ugr) largest = std::max(largest.value_or(*r.ugr), *r.ugr);
      v.requirements.push_back(judge(name, "UGR", *t.ugr, largest, true, false, kUgrDecimals));
    }
  }
  return v;
}

std::optional<double> installed_power(const std::vector<std::optional<double>>& powers) {
  double sum = 0;
  for (const auto& p : powers) {
    if (!p) return std::nullopt;
    sum += *p;
  }
  return sum;
}

std::vector<PowerDensity> power_densities(const Scene& scene,
                                          const std::vector<SurfaceResult>& results,
                                          std::optional<double> watts) {
  // The areas facing up; where some are calculation surfaces (a work
  // plane), those, not the room's floor below them.
  std::vector<std::pair<const SurfaceResult*, const SurfaceDesc*>> areas;
  bool calculation = false;
  for (const auto& r : results) {
    if (r.role != "surface" || r.grid.is_point_list() || !(r.grid.normal.z > kUpwardCosine))
      continue;
    const SurfaceDesc* s = surface_named(scene, r.surface);
    if (s == nullptr) continue;
    areas.emplace_back(&r, s);
    calculation = calculation || s->role == SurfaceRole::Calculation;
  }
  std::vector<PowerDensity> out;
  for (const auto& [result, s] : areas) {
    if (calculation && s->role != SurfaceRole::Calculation) continue;
    const SurfaceResult& r = *result;
    PowerDensity d;
    d.area = r.name;
    d.area_m2 = surface_area(*s) / scene.unit.area_factor();
    d.avg_lux = r.stats.avg;
    d.watts = watts;
    if (watts && d.area_m2 > 0) {
      d.w_per_m2 = *watts / d.area_m2;
      if (d.avg_lux > 0) d.w_per_m2_per_100lx = *d.w_per_m2 / (d.avg_lux / kPerHundredLux);
    }
    out.push_back(d);
  }
  return out;
}

}  // namespace lux
