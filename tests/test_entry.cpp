// The area light's entry: the instance record, the base colour, the scales
// of absolute intensity mode and the parameter reading rule.
#include <cmath>

#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace {

using zeltest::HostTest;

class Entry : public HostTest {};

TEST_F(Entry, MissingRecordIsFatalOnEveryCall) {
  refhost::ShaderInstance& s = lumenfield();
  miState state = refhost::make_state(&s, &thread_, miRAY_LIGHT);
  for (int i = 0; i < 3; ++i) {
    miColor result{7, 7, 7, 7};
    EXPECT_FALSE(s.call(&result, &state));
    EXPECT_EQ(result.r, 7.0f) << "result must stay untouched";
    EXPECT_EQ(result.a, 7.0f);
  }
  const auto errors = refhost::errors();
  ASSERT_EQ(errors.size(), 3u);
  for (const auto& e : errors) EXPECT_EQ(e, "Zel_lumenfield Fatal Error: No user pointer found");
}

TEST_F(Entry, NullPointersFromTheHostAreRefused) {
  using Fn = miBoolean (*)(miColor*, miState*, void*);
  auto fn = reinterpret_cast<Fn>(zeltest::plugin().symbol("zel_lumenfield"));
  ASSERT_NE(fn, nullptr);
  refhost::ShaderInstance& s = lumenfield();
  miState state = refhost::make_state(&s, &thread_, miRAY_EYE);
  miColor result{};
  EXPECT_EQ(fn(&result, nullptr, s.params()), 0);
  EXPECT_EQ(fn(&result, &state, nullptr), 0);
  EXPECT_EQ(fn(nullptr, &state, s.params()), 0);
}

TEST_F(Entry, VersionIsOne) {
  using Fn = int (*)();
  auto fn = reinterpret_cast<Fn>(zeltest::plugin().symbol("zel_lumenfield_version"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 1);
}

}  // namespace
