// A design checked against what its areas must reach: each requirement
// the scene states (an area's maintained average illuminance Ēm and
// uniformity U0, a cylindrical area's Ēz, an observer's glare rating), the
// value the calculation reached, whether it passes and by how much; and
// the installed power of the luminaires over the areas they light.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/lux/metrics/glare.h"
#include "tools/lux/metrics/units.h"

namespace lux {

// One requirement and its verdict. Illuminances are in the output units;
// target and value are compared as they are reported: illuminance to a
// tenth, uniformity to a hundredth, UGR to a tenth.
struct Requirement {
  std::string area;      // "work plane", "room, 1.20 m", "seat at desk 2"
  std::string quantity;  // "Em", "U0", "Ez", "UGR"
  std::string source;    // "EN 12464-1:2021 6.36.1", "scene", ...
  bool at_most = false;  // the value may not exceed the target (UGR)
  bool illuminance = false;
  double target = 0;
  std::optional<double> value;  // none: nothing to rate (no luminaire in view)
  bool pass = false;
  double margin = 0;  // how far the value is on the right side of the target
};

struct Verdict {
  std::vector<Requirement> requirements;
  size_t failed() const;
  bool complies() const { return failed() == 0; }
};

// The requirement `quantity` of `area` against `value`, compared as
// reported; `decimals` are the digits the value is reported to.
Requirement judge(const std::string& area, const std::string& quantity, const Target& target,
                  std::optional<double> value, bool at_most, bool illuminance, int decimals);

// Every requirement of the scene against the results: the surfaces' and
// task areas' (with their surroundings and backgrounds), the cylindrical
// areas' at each height and each observer's largest rating, in that order.
Verdict check_targets(const Scene& scene, const std::vector<SurfaceResult>& results,
                      const std::vector<CylindricalResult>& cylindrical,
                      const std::optional<GlareReport>& glare, const OutputUnits& units);

// The luminaires' power over an area: W/m², and W/m² per 100 lx of the
// area's maintained average illuminance.
struct PowerDensity {
  std::string area;
  double area_m2 = 0;
  double avg_lux = 0;
  std::optional<double> watts;  // installed power; none when a luminaire states none
  std::optional<double> w_per_m2, w_per_m2_per_100lx;
};

// The installed power of luminaires of `powers` watt each (none where a
// luminaire states no power): their sum, or none when any is unknown.
std::optional<double> installed_power(const std::vector<std::optional<double>>& powers);

// The power density over every whole surface of the scene facing up that
// is a calculation surface (a work plane), or, where there is none, every
// one facing up (a floor): its area as the scene gives it (the polygon
// without its holes; the margin is part of the room), its maintained Ēm
// from the results.
std::vector<PowerDensity> power_densities(const Scene& scene,
                                          const std::vector<SurfaceResult>& results,
                                          std::optional<double> watts);

}  // namespace lux
