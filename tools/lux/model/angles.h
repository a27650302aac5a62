// Angles and shares as the photometric tables state them: degrees of the
// C-planes and of γ, and percentages.
#pragma once

namespace lux::angles {

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kCircle = 360.0;
constexpr double kHalfCircle = 180.0;
constexpr double kQuarterCircle = 90.0;
constexpr double kPercent = 100.0;

}  // namespace lux::angles
