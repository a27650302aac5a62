// The fixture every test that runs shader instances shares: a fresh scene,
// the plug-in loaded once, and at the end a check that the library left no
// allocation and no pinned tag behind.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "refhost/refhost.h"

namespace zeltest {

refhost::Plugin& plugin();

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A shader instance owned by the test; exited before the leak check.
  refhost::ShaderInstance& make(const std::string& shader);
  // A light and an instance of it, placed by `local_to_world`.
  miTag add_light_instance(const refhost::LightDesc& desc,
                           const refhost::Matrix& local_to_world = refhost::identity(),
                           const std::string& name = {});
  // An area light instance with everyday defaults: white, 1 cd, metres,
  // output scale 1, no profile, no temperature.
  refhost::ShaderInstance& lumenfield();

  refhost::ThreadContext thread_{0, 1};
  std::vector<std::unique_ptr<refhost::ShaderInstance>> instances_;
  int leak_check_ = 1;
};

bool near_rel(double a, double b, double rel);

}  // namespace zeltest
