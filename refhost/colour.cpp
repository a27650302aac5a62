// The render colour space: linear sRGB primaries with a D65 white.
#include <atomic>

#include "refhost/refhost.h"

namespace {
std::atomic<bool> g_convert{true};
}

namespace refhost {
void set_xyz_to_render(bool on) { g_convert = on; }
}  // namespace refhost

extern "C" miBoolean mi_colorprofile_ciexyz_to_render(miColor* c) {
  if (c == nullptr) return 0;
  if (!g_convert) return 1;
  const float x = c->r, y = c->g, z = c->b;
  // IEC 61966-2-1 XYZ to linear sRGB (D65).
  c->r = 3.2404542f * x - 1.5371385f * y - 0.4985314f * z;
  c->g = -0.9692660f * x + 1.8760108f * y + 0.0415560f * z;
  c->b = 0.0556434f * x - 0.2040259f * y + 1.0572252f * z;
  return 1;
}
