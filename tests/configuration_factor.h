// Configuration factors from a point to a flat Lambertian emitter, in
// closed form: the light a receiver gets from a uniformly bright polygon is
// E = π·L·F, so these are the exact answers that the calculator's tests and
// its accuracy benchmark hold the sampled illuminance to.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "tools/lux/scene/vec.h"

namespace zeltest {

constexpr double kFactorPi = 3.141592653589793;

// Configuration factor from a point to the parallel rectangle [0, a] × [0, b]
// at height h, the point below one corner.
inline double corner_factor(double a, double b, double h) {
  const double x = a / h, y = b / h;
  const double sx = std::sqrt(1 + x * x), sy = std::sqrt(1 + y * y);
  return (x / sx * std::atan(y / sx) + y / sy * std::atan(x / sy)) / (2 * kFactorPi);
}

// Configuration factor from a point to the parallel rectangle [x0, x1] ×
// [y0, y1] (coordinates relative to the point) at height h: the four corner
// rectangles, with signs.
inline double rectangle_factor(double x0, double x1, double y0, double y1, double h) {
  const auto f = [h](double x, double y) {
    const double s = (x < 0 ? -1 : 1) * (y < 0 ? -1 : 1);
    return s * corner_factor(std::fabs(x), std::fabs(y), h);
  };
  return f(x1, y1) - f(x0, y1) - f(x1, y0) + f(x0, y0);
}

// Configuration factor from a point P with unit normal n to a flat polygon
// wholly in front of it, in any orientation (Lambert's contour integral):
// F = 1/2π · Σ γ_i · n·(r_i × r_{i+1})/|r_i × r_{i+1}|, r_i the vectors
// from P to the corners and γ_i the angle between consecutive ones.
inline double polygon_factor(lux::Vec3 P, lux::Vec3 n, const std::vector<lux::Vec3>& corners) {
  double sum = 0;
  for (size_t i = 0; i < corners.size(); ++i) {
    const lux::Vec3 a = corners[i] - P, b = corners[(i + 1) % corners.size()] - P;
    const lux::Vec3 c = lux::cross(a, b);
    const double cl = lux::length(c);
    if (cl == 0) continue;
    sum += std::atan2(cl, lux::dot(a, b)) * lux::dot(n, c) / cl;
  }
  return std::fabs(sum) / (2 * kFactorPi);
}

}  // namespace zeltest
