// Physical and numeric constants, each named once.
#pragma once

namespace zel {

inline constexpr double kPi = 3.141592653589793;         // π
inline constexpr double k2Pi = 6.283185307179586;        // 2π, the solid angle of a hemisphere
inline constexpr double k4Pi = 12.566370614359172;       // 4π = π × 4.0, the solid angle of a sphere
inline constexpr double kDegToRad = kPi / 180.0;         // degrees to radians
inline constexpr float kHalfPiF = 1.5707964f;            // π/2 rounded to single precision

// Second radiation constant of Planck's law, c₂ = hc/k, in nm·K.
inline constexpr float kPlanckC2 = 14387860.0f;

// Square scene units per square metre, by scene unit.
inline constexpr float kUnitFactorMetre = 1.0f;
inline constexpr float kUnitFactorDecimetre = 100.0f;
inline constexpr float kUnitFactorCentimetre = 10000.0f;
inline constexpr float kUnitFactorMillimetre = 1000000.0f;
inline constexpr float kUnitFactorFoot = 10.76391f;   // (1 m / 0.3048 m)²
inline constexpr float kUnitFactorInch = 1550.003f;   // (1 m / 0.0254 m)²
inline constexpr float kUnitFactorDefault = 100.0f;

// Output scale presets.
inline constexpr float kOutputScaleMilli = 0.001f;
inline constexpr float kOutputScaleTenthMilli = 0.0001f;
inline constexpr float kOutputScaleDefault = 0.318f;  // about 1/π: candela per m² to a display value

// Nearest distance the attenuation window lets through (close to 2⁻¹²).
inline constexpr float kMinAttenuationDistance = 0.00024414f;

// Bound of the rejection loops that pick photon start points.
inline constexpr int kMaxRejectionDraws = 1000;

// Visible rectangle falloff range, in edge lengths.
inline constexpr double kRectFalloffRange = 1.6;

// ---- set-up ------------------------------------------------------------------

// Capacity of the buffer in which a light profile's registered name is composed.
inline constexpr int kProfileNameCapacity = 1024;

// Profile orientation presets: the profile's nadir turned a quarter turn about x.
inline constexpr float kQuarterTurnDegrees = 90.0f;

// ---- colour from temperature ------------------------------------------------

// Automatic model choice: the CIE daylight locus is defined from 4000 K to
// 25000 K; outside it the Planckian locus is used.
inline constexpr float kDaylightMinKelvin = 4000.0f;
inline constexpr float kDaylightMaxKelvin = 25000.0f;
// Daylight temperatures below this are read in hundreds of kelvin (65 = 6500 K).
inline constexpr float kDaylightHundredsMin = 40.0f;
// Reduced inverse temperature 10³ K / T of the lowest daylight (4000 K).
inline constexpr float kDaylightLowestReduced = 0.25f;
// Reduced inverse temperature at 7000 K, where the daylight x(T) polynomial changes.
inline constexpr double kDaylightPolynomialSwitch = 0.1428571;
// A blackbody temperature of 0 K is read as 6500 K, a neutral white.
inline constexpr float kBlackbodyDefaultKelvin = 6500.0f;

// ---- units ---------------------------------------------------------------------

// Cosine of a cone that covers the whole sphere.
inline constexpr float kNoCone = -1.0f;

}  // namespace zel
