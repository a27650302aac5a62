// Arbitrary bytes as profile, scene-object and light names: the profile
// shader, the profile utility and the light object generator must bound
// every name they compose and never over-read a string.
#include <cstring>
#include <string>

#include "refhost/refhost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static refhost::Plugin plugin("");
  refhost::reset();
  refhost::reset_editing();
  refhost::set_echo(false);
  refhost::clear_messages();
  const std::string text(reinterpret_cast<const char*>(data), size);  // may hold NULs
  refhost::ThreadContext thread(0, 1);
  try {
    {
      refhost::ShaderInstance profile(plugin, "zel_lightprofile");
      profile.set_string("profile_name", text);
      profile.set_string("file_name", text);
      profile.set_int("format", 1);
      miState state = refhost::make_state(&profile, &thread, 0);
      int result = 0;
      profile.call(&result, &state);
    }
    {
      refhost::ShaderInstance util(plugin, "zel_lightprofile_utility");
      util.set_string("profile_name", text);
      miState state = refhost::make_state(&util, &thread, 0);
      util.init(&state);
      float value = 0;
      util.call(&value, &state);
      util.exit(&state);
    }
    {
      const miTag obj = refhost::add_object(text, refhost::Geometry{});
      refhost::add_instance(text + "i", obj, refhost::identity());
      refhost::set_base_name_tag(refhost::add_string(text, text + "base"));
      refhost::ShaderInstance lo(plugin, "zel_light_object");
      lo.set_string("source", text + "i");
      miState state = refhost::make_state(&lo, &thread, 0);
      lo.init(&state);
      int result = 0;
      lo.call(&result, &state);
      lo.exit(&state);
    }
  } catch (const std::exception&) {
    // A shader the build does not contain yet.
  }
  if (refhost::live_blocks_from("shaders/") != 0 || refhost::total_pins() != 0) __builtin_trap();
  return 0;
}
