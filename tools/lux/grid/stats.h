// Figures of a set of illuminance values as lighting standards define them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/lux/grid/grids.h"

namespace lux {

// Statistics of the counted points of an area. The uniformity is
// U0 = Emin / Eavg; Emin / Emax is kept beside it under its own name. Both
// are 0 on an unlit area, and everything is 0 when no point counts.
struct Stats {
  double min = 0, avg = 0, max = 0;
  double u0 = 0;            // Emin / Eavg
  double min_over_max = 0;  // Emin / Emax
  size_t counted = 0;       // points in the figures
  size_t masked = 0;        // points inside or under solid objects, left out
};

// The running figures behind Stats, gathered over parts of an area (rows,
// on whichever thread) and merged in a fixed order: the same figures for any
// number of threads.
struct StatsSum {
  double min, max, sum = 0;
  size_t counted = 0, masked = 0;
  StatsSum();
  void add(double value, PointState state);
  void merge(const StatsSum& other);
  Stats finished() const;
};

// Every value counts.
Stats stats_of(const std::vector<double>& values);
// Only the points whose state is Counted; Masked ones are counted apart,
// Outside ones ignored.
Stats stats_of(const std::vector<double>& values, const std::vector<PointState>& state);

}  // namespace lux
