// Shared by the calculator's tests: scenes written as JSON text, built in a
// fresh host scene through the loaded plug-in.
#pragma once

#include <memory>
#include <string>

#include "tests/host_fixture.h"
#include "tools/lux/model/model.h"
#include "tools/lux/scene/scene.h"
#include "tools/lux/transport/calc.h"

namespace zeltest {

class LuxTest : public HostTest {
 protected:
  // Reads `text` as a scene file named "test.json" and builds it in a fresh
  // host scene; the model lives until the next build or the test's end.
  lux::Model& build(const std::string& text) {
    model_.reset();
    refhost::reset();
    refhost::reset_editing();
    refhost::clear_messages();
    scene_ = std::make_unique<lux::Scene>(lux::parse_scene(text, "test.json", ZEL_SOURCE_DIR));
    model_ = std::make_unique<lux::Model>(plugin(), *scene_);
    return *model_;
  }
  void TearDown() override {
    model_.reset();
    HostTest::TearDown();
  }
  std::unique_ptr<lux::Scene> scene_;
  std::unique_ptr<lux::Model> model_;
};

}  // namespace zeltest
