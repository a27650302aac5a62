// Colour of the light from a colour temperature: the Planckian locus (a
// black body integrated against the CIE 1931 2° observer) or the CIE
// daylight locus, as CIE XYZ normalised to a luminance Y and converted by the
// host into the render colour space. Runs once per instance, at set-up.
#include <cmath>

#include "shaders/constants.h"
#include "shaders/lumenfield.h"

namespace {

// Spectral radiance of a black body up to constant factors, in terms of the
// inverse wavelength u = 1/λ (nm⁻¹) and inverse temperature t = 1/T:
// u⁵ / (exp(c₂·u·t) − 1). Very cold bodies underflow to 0 at every
// wavelength; the exponential is evaluated in double, the rest in single.
float planck_term(float t, float u) {
  const float exponent = zel::kPlanckC2 * u * t;
  const auto e = static_cast<float>(std::exp(double(exponent)));
  return (u * u * u * u * u) / (e - 1.0f);
}

// A new colour from the host allocator holding CIE XYZ with alpha 1,
// converted in place into the render colour space.
miColor* make_render_color(float x, float y, float z) {
  auto* c = static_cast<miColor*>(mi_mem_int_allocate(__FILE__, __LINE__, sizeof(miColor)));
  *c = miColor{x, y, z, 1.0f};
  mi_colorprofile_ciexyz_to_render(c);
  return c;
}

// Integral sums of one colour matching function against the Planck terms.
struct Tristimulus {
  float x, y, z;
};

}  // namespace

miColor* zel_blackbody(float temperature_kelvin, float luminance) {
  // CIE 1931 2° standard observer x̄, ȳ, z̄ and the wavelength in nm, every
  // 10 nm from 380 to 780 nm.
  static constexpr float ciexyz31_10[41][4] = {
      {0.001368f, 0.000039f, 0.00645f, 380.0f},
      {0.004243f, 0.00012f, 0.02005f, 390.0f},
      {0.01431f, 0.000396f, 0.06785f, 400.0f},
      {0.04351f, 0.00121f, 0.2074f, 410.0f},
      {0.13438f, 0.004f, 0.6456f, 420.0f},
      {0.2839f, 0.0116f, 1.3856f, 430.0f},
      {0.34828f, 0.023f, 1.74706f, 440.0f},
      {0.3362f, 0.038f, 1.77211f, 450.0f},
      {0.2908f, 0.06f, 1.6692f, 460.0f},
      {0.19536f, 0.09098f, 1.28764f, 470.0f},
      {0.09564f, 0.13902f, 0.81295f, 480.0f},
      {0.03201f, 0.20802f, 0.46518f, 490.0f},
      {0.0049f, 0.323f, 0.272f, 500.0f},
      {0.0093f, 0.503f, 0.1582f, 510.0f},
      {0.06327f, 0.71f, 0.07825f, 520.0f},
      {0.1655f, 0.862f, 0.04216f, 530.0f},
      {0.2904f, 0.954f, 0.0203f, 540.0f},
      {0.43345f, 0.99495f, 0.00875f, 550.0f},
      {0.5945f, 0.995f, 0.0039f, 560.0f},
      {0.7621f, 0.952f, 0.0021f, 570.0f},
      {0.9163f, 0.87f, 0.00165f, 580.0f},
      {1.0263f, 0.757f, 0.0011f, 590.0f},
      {1.0622f, 0.631f, 0.0008f, 600.0f},
      {1.0026f, 0.503f, 0.00034f, 610.0f},
      {0.85445f, 0.381f, 0.00019f, 620.0f},
      {0.6424f, 0.265f, 0.00005f, 630.0f},
      {0.4479f, 0.175f, 0.00002f, 640.0f},
      {0.2835f, 0.107f, 0.0f, 650.0f},
      {0.1649f, 0.061f, 0.0f, 660.0f},
      {0.0874f, 0.032f, 0.0f, 670.0f},
      {0.04677f, 0.017f, 0.0f, 680.0f},
      {0.0227f, 0.00821f, 0.0f, 690.0f},
      {0.0113592f, 0.004102f, 0.0f, 700.0f},
      {0.00579035f, 0.002091f, 0.0f, 710.0f},
      {0.00289933f, 0.001047f, 0.0f, 720.0f},
      {0.00143997f, 0.00052f, 0.0f, 730.0f},
      {0.000690079f, 0.0002492f, 0.0f, 740.0f},
      {0.000332301f, 0.00012f, 0.0f, 750.0f},
      {0.00016615f, 0.00006f, 0.0f, 760.0f},
      {0.0000830753f, 0.00003f, 0.0f, 770.0f},
      {0.0000415099f, 0.00001499f, 0.0f, 780.0f},
  };
  constexpr int kLast = 40;

  const float temperature =
      temperature_kelvin == 0.0f ? zel::kBlackbodyDefaultKelvin : temperature_kelvin;
  const float target = luminance == 0.0f ? 1.0f : luminance;
  const auto t = static_cast<float>(1.0 / double(temperature));

  // Trapezoidal rule without the constant step width: the end points carry
  // half weight (those products formed in double), the inner ones full.
  auto half = [](float p, float cmf) { return static_cast<float>(0.5 * double(p) * double(cmf)); };
  const float* first = ciexyz31_10[0];
  const float* last = ciexyz31_10[kLast];
  const float p_first = planck_term(t, 1.0f / first[3]);
  const float p_last = planck_term(t, 1.0f / last[3]);
  Tristimulus sum{half(p_first, first[0]), half(p_first, first[1]), half(p_first, first[2])};
  for (int i = 1; i < kLast; ++i) {
    const float* row = ciexyz31_10[i];
    const float p = planck_term(t, 1.0f / row[3]);
    sum.x += p * row[0];
    sum.y += p * row[1];
    sum.z += p * row[2];
  }
  sum.x += half(p_last, last[0]);
  sum.y += half(p_last, last[1]);
  sum.z += half(p_last, last[2]);

  const float k = target / sum.y;
  const miColor xyz{k * sum.x, k * sum.y, k * sum.z, 1.0f};
  if (sum.y > 0.0f && std::isfinite(xyz.r) && std::isfinite(xyz.g) && std::isfinite(xyz.b))
    return make_render_color(xyz.r, xyz.g, xyz.b);

  // No usable spectrum. Below about 340 K the Planck terms leave the normal
  // range of floats and below about 208 K they all underflow: k = L / Y has
  // no finite value. As T falls to 0 the visible part of the spectrum
  // narrows onto the longest tabulated wavelength, so such a body gets that
  // limit colour (780 nm, Y = luminance), continuous with the coldest
  // temperatures that still integrate. A negative, infinite or NaN
  // temperature describes no body: black, so that nothing undefined reaches
  // the renderer.
  if (temperature > 0.0f && std::isfinite(temperature))
    return make_render_color(target * last[0] / last[1], target, target * last[2] / last[1]);
  return make_render_color(0.0f, 0.0f, 0.0f);
}

miColor* zel_cie_d(float temperature_kelvin, float luminance) {
  const float target = luminance == 0.0f ? 1.0f : luminance;
  const float temperature = temperature_kelvin;

  // Reduced inverse temperature c = 10³ K / T. Small values are read in
  // hundreds of kelvin, and below that the daylight locus starts at 4000 K.
  // A temperature that is not a number is given the locus' start as well.
  float c = zel::kDaylightLowestReduced;
  if (temperature >= zel::kDaylightMinKelvin)
    c = static_cast<float>(1000.0 / double(temperature));
  else if (temperature >= zel::kDaylightHundredsMin)
    c = static_cast<float>(10.0 / double(temperature));

  // CIE daylight chromaticity polynomials in c, one for 4000 K to 7000 K
  // and one above 7000 K.
  const auto cd = double(c);
  const auto x = static_cast<float>(cd > zel::kDaylightPolynomialSwitch
                                        ? ((-4.607 * cd + 2.9678) * cd + 0.09911) * cd + 0.244063
                                        : ((-2.0064 * cd + 1.9018) * cd + 0.24748) * cd + 0.23704);
  const auto y = static_cast<float>((2.87 - 3.0 * double(x)) * double(x) - 0.275);

  const float s = target / y;
  return make_render_color(x * s, y * s, (1.0f - x - y) * s);
}

miColor* get_color_from_temp(float temperature_kelvin, int mode) {
  constexpr int kDaylight = 1;
  constexpr int kBlackbody = 2;
  if (mode == kBlackbody) return zel_blackbody(temperature_kelvin, 1.0f);
  if (mode == kDaylight) return zel_cie_d(temperature_kelvin, 1.0f);
  // Automatic: daylight where its locus is defined; NaN fails both tests
  // and goes to daylight too.
  if (temperature_kelvin < zel::kDaylightMinKelvin || temperature_kelvin > zel::kDaylightMaxKelvin)
    return zel_blackbody(temperature_kelvin, 1.0f);
  return zel_cie_d(temperature_kelvin, 1.0f);
}
