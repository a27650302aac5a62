// A small demonstration: loads the plug-in as a host does, sets up one area
// light and prints what it answers for a few rays.
#include <cmath>
#include <cstdio>
#include <exception>

#include "refhost/refhost.h"

int main() try {
  refhost::Plugin plugin(refhost::default_plugin_path());
  refhost::LightDesc desc;
  desc.shape = miLIGHT_RECTANGLE;
  desc.edge_u = {0.5f, 0, 0};
  desc.edge_v = {0, 0.5f, 0};
  desc.origin = {0, 0, 0};
  const miTag light = refhost::add_light("panel", desc);
  const miTag inst = refhost::add_instance("panel_inst", light, refhost::translate(0, 0, 3));

  refhost::ShaderInstance shader(plugin, "zel_lumenfield");
  shader.set_color("color", {1, 1, 1, 1});
  shader.set_float("intensity", 1000);
  shader.set_int("intensity_unit", 1);  // lumen
  shader.set_int("cosine_distribution", 1);
  shader.set_float("cosine_exponent", 1);
  shader.set_float("intensity_multiplier", 1);
  shader.set_float("photon_multiplier", 1);
  shader.set_float("visible_multiplier", 1);
  shader.set_int("output_scale_mode", 3);
  shader.set_color("output_scale_color", {1, 1, 1, 1});
  shader.set_float("efficacy", 683);

  refhost::ThreadContext thread(0, 1);
  miState state = refhost::make_state(&shader, &thread, miRAY_LIGHT, inst);
  shader.init(&state);

  std::printf("1000 lm Lambertian panel (1 m x 1 m) 3 m above the floor, facing down\n");
  std::printf("%8s %8s %12s\n", "x (m)", "d (m)", "lux");
  for (float x : {0.0f, 1.0f, 2.0f, 4.0f}) {
    const miVector p{x, 0, 0};
    const miVector o{0, 0, 3};
    miVector d{p.x - o.x, p.y - o.y, p.z - o.z};
    const float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    state = refhost::make_state(&shader, &thread, miRAY_LIGHT, inst);
    state.org = o;
    state.dir = {d.x / len, d.y / len, d.z / len};
    state.dist = double(len);
    state.point = p;
    state.normal = {0, 0, 1};
    miColor result{};
    const bool lit = shader.call(&result, &state);
    const float cos_at_floor = -state.dir.z;
    std::printf("%8.2f %8.3f %12.4f%s\n", double(x), double(len),
                lit ? double(result.g * cos_at_floor) : 0.0,
                lit ? "" : "  (no light)");
  }
  shader.exit(&state);
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "zel-demo: %s\n", e.what());
  return 1;
}
