#include "tools/lux/grid/stats.h"

#include <algorithm>
#include <limits>

namespace lux {

StatsSum::StatsSum()
    : min(std::numeric_limits<double>::infinity()), max(-std::numeric_limits<double>::infinity()) {}

void StatsSum::add(double value, PointState state) {
  if (state == PointState::Masked) ++masked;
  if (state != PointState::Counted) return;
  ++counted;
  min = std::min(min, value);
  max = std::max(max, value);
  sum += value;
}

void StatsSum::merge(const StatsSum& other) {
  min = std::min(min, other.min);
  max = std::max(max, other.max);
  sum += other.sum;
  counted += other.counted;
  masked += other.masked;
}

Stats StatsSum::finished() const {
  Stats st;
  st.counted = counted;
  st.masked = masked;
  if (counted == 0) return st;
  st.min = min;
  st.max = max;
  st.avg = sum / double(counted);
  st.u0 = st.avg > 0 ? st.min / st.avg : 0;
  st.min_over_max = st.max > 0 ? st.min / st.max : 0;
  return st;
}

Stats stats_of(const std::vector<double>& values) {
  return stats_of(values, std::vector<PointState>(values.size(), PointState::Counted));
}

Stats stats_of(const std::vector<double>& values, const std::vector<PointState>& state) {
  StatsSum sum;
  for (size_t k = 0; k < values.size(); ++k)
    sum.add(values[k], k < state.size() ? state[k] : PointState::Counted);
  return sum.finished();
}

}  // namespace lux
