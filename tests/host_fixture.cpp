#include "tests/host_fixture.h"

#include <cmath>

namespace zeltest {

refhost::Plugin& plugin() {
  static auto* p = new refhost::Plugin(refhost::default_plugin_path());
  return *p;
}

void HostTest::SetUp() {
  refhost::reset();
  refhost::reset_editing();
  refhost::clear_messages();
  refhost::clear_photons();
  refhost::set_echo(false);
  refhost::set_xyz_to_render(true);
}

void HostTest::TearDown() {
  for (auto& i : instances_) i->exit();
  instances_.clear();
  if (leak_check_ == 0) return;
  for (const auto& b : refhost::live_blocks())
    ADD_FAILURE() << "block of " << b.size << " bytes from " << b.file << ":" << b.line
                  << " still allocated";
  EXPECT_EQ(refhost::total_pins(), 0) << "tags left pinned";
}

refhost::ShaderInstance& HostTest::make(const std::string& shader) {
  instances_.push_back(std::make_unique<refhost::ShaderInstance>(plugin(), shader));
  return *instances_.back();
}

miTag HostTest::add_light_instance(const refhost::LightDesc& desc,
                                   const refhost::Matrix& local_to_world, const std::string& name) {
  const std::string n =
      name.empty() ? "light" + std::to_string(refhost::elements_of_type(miSCENE_LIGHT).size())
                   : name;
  const miTag light = refhost::add_light(n, desc);
  return refhost::add_instance(n + "_inst", light, local_to_world);
}

refhost::ShaderInstance& HostTest::lumenfield() {
  refhost::ShaderInstance& s = make("zel_lumenfield");
  s.set_color("color", {1, 1, 1, 1});
  s.set_float("relative_intensity", 1);
  s.set_float("intensity_multiplier", 1);
  s.set_float("photon_multiplier", 1);
  s.set_float("shadow_transparency", 0);
  s.set_float("cosine_exponent", 1);
  s.set_float("visible_multiplier", 1);
  s.set_int("output_scale_mode", 3);
  s.set_color("output_scale_color", {1, 1, 1, 1});
  s.set_float("intensity", 1);
  s.set_float("efficacy", 683);
  s.set_float("profile_efficacy", 683);
  s.set_float("visible_falloff_exponent", 1);
  return s;
}

bool near_rel(double a, double b, double rel) {
  return std::fabs(a - b) <= rel * std::max(std::fabs(a), std::fabs(b));
}

}  // namespace zeltest
