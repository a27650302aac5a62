#include "tools/lux/metrics/units.h"

namespace lux {

OutputUnits output_units(bool footcandles, const SceneUnit& scene_unit, bool relative) {
  constexpr double kMetresPerFoot = 0.3048;
  OutputUnits u;
  u.length = scene_unit.symbol;
  if (footcandles) {
    u.footcandles = true;
    u.lux_per_unit = kLuxPerFootcandle;
    u.illuminance = "fc";
    u.length = "ft";
    u.scene_to_length = scene_unit.metres / kMetresPerFoot;
  }
  if (relative) {
    u.relative = true;
    u.lux_per_unit = 1;
    u.illuminance = "relative";
  }
  return u;
}

}  // namespace lux
