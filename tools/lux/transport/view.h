// A picture of the scene from a camera: emitters show the radiance the
// light shader gives a camera ray that hits them (its visible-surface path),
// diffuse surfaces the light they reflect. Calculation surfaces are
// imaginary planes, drawn only in scenes without reflecting surfaces.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "tools/lux/transport/calc.h"

namespace lux {

// An sRGB image, 8 bits per channel, rows top to bottom.
struct Image {
  int width = 0, height = 0;
  std::vector<std::array<unsigned char, 3>> pixels;
};
// What a camera ray meets first.
struct Hit {
  double t = 0;
  Vec3 point, normal;  // normal faces the ray's origin
  int light = -1;      // index of the emitting light, or -1
  double reflectance = 0;
};

// The first thing the ray origin + t·direction (t > `near`) meets: the
// emitters of the model's lights, its occluders and its surfaces.
std::optional<Hit> first_hit(const Model& model, Vec3 origin, Vec3 direction, double near);

struct ViewResult {
  Image image;
  double white = 0;  // the scene value shown as white (π × luminance)
};

// Renders the scene's view. Pixel values are π × luminance: ρ·E on diffuse
// surfaces, the shader's answer on emitters; `white` of them shows white.
// With `interreflection`, diffuse surfaces show the interreflected light
// too, from the patch under each pixel.
ViewResult render_view(const Model& model, const ViewDesc& view, const CalcOptions& options,
                       const RadiositySolution* interreflection = nullptr);

}  // namespace lux
