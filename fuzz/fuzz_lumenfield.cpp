// Fills the area light's parameter record with arbitrary bytes (any unit,
// shape and mode codes, NaN, infinities, huge and negative values) and runs
// init, a call of every ray type and exit. Whatever the parameters, no call
// may crash, leak, or hand the renderer a NaN or infinite colour when the
// parameters themselves are finite.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "refhost/refhost.h"

namespace {

bool finite_params(const unsigned char* bytes, size_t size) {
  for (size_t i = 0; i + 4 <= size; i += 4) {
    float f;
    std::memcpy(&f, bytes + i, 4);
    if (!std::isfinite(f)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static refhost::Plugin plugin("");
  refhost::reset();
  refhost::set_echo(false);
  refhost::clear_messages();
  refhost::clear_photons();

  // The first bytes choose the light; the rest is the parameter record.
  if (size < 8) return 0;
  refhost::LightDesc desc;
  desc.type = data[0] % 3;
  desc.shape = data[1] % 7;
  desc.edge_u = {0.5f, 0, 0};
  desc.edge_v = {0, 0.25f, 0};
  desc.radius = float(data[2] % 8) * 0.25f;
  desc.axis = {0, 0, 1};
  desc.spread = std::cos(float(data[3] % 90) * 0.0174533f);
  desc.exponent = float(data[4] % 4);
  const miTag light = refhost::add_light("l", desc);
  const miTag inst = refhost::add_instance("li", light, refhost::translate(0, 0, 2));
  refhost::add_object("floor", refhost::Geometry{});

  refhost::ShaderInstance shader(plugin, "zel_lumenfield");
  const size_t n = std::min(size - 8, shader.decl().size);
  std::memcpy(shader.params(), data + 8, n);
  // The tags in the record must name real elements or nothing.
  auto* tags = static_cast<unsigned char*>(shader.params());
  const miTag none = 0;
  std::memcpy(tags + shader.decl().field("profile")->offset, &none, 4);
  const miTag name = refhost::add_string("nowhere");
  std::memcpy(tags + shader.decl().field("profile_name")->offset, (data[5] & 1) ? &name : &none, 4);
  const bool finite =
      finite_params(static_cast<unsigned char*>(shader.params()), shader.decl().size);

  refhost::ThreadContext thread(0, data[6]);
  miState state = refhost::make_state(&shader, &thread, miRAY_LIGHT, inst);
  shader.init(&state);
  for (int type = 0; type <= 30; ++type) {
    state = refhost::make_state(&shader, &thread, type, inst);
    state.org = {0.1f, 0.2f, 2.0f};
    state.dir = {0.0f, 0.6f, -0.8f};
    state.dist = 2.5;
    state.point = {0.1f, 1.7f, 0.0f};
    state.normal = {0, 0, 1};
    miColor result{};
    const bool ok = shader.call(&result, &state);
    if (ok && finite &&
        !(std::isfinite(result.r) && std::isfinite(result.g) && std::isfinite(result.b))) {
      std::fprintf(stderr, "ray type %d: colour %g %g %g from finite parameters\n", type,
                   double(result.r), double(result.g), double(result.b));
      __builtin_trap();
    }
  }
  shader.exit(&state);
  if (refhost::live_blocks_from("shaders/") != 0 || refhost::total_pins() != 0) {
    std::fprintf(stderr, "leaked blocks or pins after exit\n");
    __builtin_trap();
  }
  return 0;
}
