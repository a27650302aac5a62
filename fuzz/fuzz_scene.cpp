// Arbitrary bytes as a scene file: the calculator's reader must refuse what
// it cannot use with an Error, and never crash, overflow its stack, wrap a
// number round or read out of bounds on the way to a checked scene.
#include <cstdint>
#include <string>

#include "tools/lux/scene/scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // may hold NULs
  try {
    const lux::Scene scene = lux::parse_scene(text, "fuzz.json", ".");
    // A scene that is accepted is whole: it has lights, and something to
    // calculate on; a fixed sample count is never negative (0 means the
    // accuracy decides) and every grid has a spacing or the standard rule.
    if (scene.lights.empty() && scene.object_lights.empty()) __builtin_trap();
    if (scene.surfaces.empty() && scene.point_lists.empty() && !scene.view) __builtin_trap();
    if (scene.samples < 0) __builtin_trap();
    for (const auto& s : scene.surfaces)
      if (!(s.spacing > 0) && !s.standard_spacing) __builtin_trap();
  } catch (const lux::Error&) {
  }
  return 0;
}
