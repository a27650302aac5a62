#include "tools/lux/metrics.h"

#include <algorithm>
#include <limits>

namespace lux {

namespace {

void finish(Stats& st, double sum) {
  if (st.counted == 0) {
    st.min = st.max = 0;
    return;
  }
  st.avg = sum / double(st.counted);
  st.u0 = st.avg > 0 ? st.min / st.avg : 0;
  st.min_over_max = st.max > 0 ? st.min / st.max : 0;
}

}  // namespace

Stats stats_of(const std::vector<double>& values) {
  return stats_of(values, std::vector<PointState>(values.size(), PointState::Counted));
}

Stats stats_of(const std::vector<double>& values, const std::vector<PointState>& state) {
  Stats st;
  st.min = std::numeric_limits<double>::infinity();
  st.max = -std::numeric_limits<double>::infinity();
  double sum = 0;
  for (size_t k = 0; k < values.size(); ++k) {
    const PointState s = k < state.size() ? state[k] : PointState::Counted;
    if (s == PointState::Masked) ++st.masked;
    if (s != PointState::Counted) continue;
    ++st.counted;
    st.min = std::min(st.min, values[k]);
    st.max = std::max(st.max, values[k]);
    sum += values[k];
  }
  finish(st, sum);
  return st;
}

OutputUnits output_units(bool footcandles, const SceneUnit& scene_unit) {
  OutputUnits u;
  u.length = scene_unit.symbol;
  if (!footcandles) return u;
  u.footcandles = true;
  u.lux_per_unit = kLuxPerFootcandle;
  u.illuminance = "fc";
  u.length = "ft";
  u.scene_to_length = scene_unit.metres / 0.3048;
  return u;
}

}  // namespace lux
