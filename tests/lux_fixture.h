// Shared by the calculator's tests: scenes written as JSON text, built in a
// fresh host scene through the loaded plug-in.
#pragma once

#include <memory>
#include <ostream>
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

// Writes a closed box, faces outwards, to an OBJ stream whose vertices so
// far number `first`, and counts its vertices in.
inline void write_box(std::ostream& obj, lux::Vec3 lo, lux::Vec3 hi, int& first) {
  for (int k = 0; k < 8; ++k)
    obj << "v " << ((k & 1) != 0 ? hi.x : lo.x) << " " << ((k & 2) != 0 ? hi.y : lo.y) << " "
        << ((k & 4) != 0 ? hi.z : lo.z) << "\n";
  const int faces[6][4] = {{1, 3, 4, 2}, {5, 6, 8, 7}, {1, 2, 6, 5},
                           {3, 7, 8, 4}, {1, 5, 7, 3}, {2, 4, 8, 6}};
  for (const auto& f : faces)
    obj << "f " << first + f[0] << " " << first + f[1] << " " << first + f[2] << " " << first + f[3]
        << "\n";
  first += 8;
}

}  // namespace zeltest
