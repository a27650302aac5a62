// zel_lightprofile_utility: which profile an instance chooses at init, what
// it answers per call (candela, relative, or 1.0 without a profile), and
// that exit leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "refhost/profiles.h"
#include "tests/host_fixture.h"

namespace {

using refhost::profile_direction;
using refhost::ProfileTable;

// A downward lobe, peak 400 cd straight down, quadrant-free so that every
// direction of the test has its own value.
ProfileTable lobe() {
  ProfileTable t;
  t.vertical = {0, 30, 60, 90};
  t.horizontal = {0, 90, 180, 270};
  t.candela = {400, 300, 100, 0,  //
               400, 250, 80,  0,  //
               400, 200, 60,  0,  //
               400, 150, 40,  0};
  return t;
}

class LightProfileUtility : public zeltest::HostTest {
 protected:
  refhost::ShaderInstance& utility(miTag profile, const char* name, int absolute) {
    refhost::ShaderInstance& u = make("zel_lightprofile_utility");
    u.set_tag("profile", profile);
    if (name != nullptr) u.set_string("profile_name", name);
    u.set_int("absolute_intensity", absolute);
    return u;
  }
  void init(refhost::ShaderInstance& u) {
    miState state = refhost::make_state(&u, &thread_, miRAY_EYE);
    u.init(&state);
  }
  float sample(refhost::ShaderInstance& u, const miVector& dir) {
    miState state = refhost::make_state(&u, &thread_, miRAY_EYE);
    state.dir = dir;
    float result = -1.0f;
    EXPECT_TRUE(u.call(&result, &state));
    return result;
  }
  static size_t lookups_of(const std::string& name) {
    const auto log = refhost::edit_log();
    return size_t(std::count(log.begin(), log.end(), "lightprofile_lookup(" + name + ")"));
  }
};

// How the instance's profile is chosen, and what each choice says.
TEST_F(LightProfileUtility, ChoosesTheProfileOnceAtInit) {
  const miVector down_c90 = profile_direction(30, 90);  // 250 cd
  struct Case {
    const char* what;
    bool give_tag;       // the profile itself in `profile`
    bool give_string;    // a string element in `profile` instead
    const char* name;    // null: no name tag
    const char* define;  // name under which the profile is registered
    float expected;
    const char* warning;  // null: none
  } cases[] = {
      {"tag without a name", true, false, nullptr, "zel_lightprofile::x", 250, nullptr},
      {"tag wins over a name", true, false, "nowhere", "zel_lightprofile::x", 250, nullptr},
      {"name", false, false, "lobby", "zel_lightprofile::lobby", 250, nullptr},
      {"not a profile, then the name", false, true, "lobby", "zel_lightprofile::lobby", 250,
       nullptr},
      {"empty name", false, false, "", "zel_lightprofile::", 250, nullptr},
      {"neither", false, false, nullptr, "zel_lightprofile::x", 1.0f,
       "Zel_lightprofile_utility: No light profile selected"},
      {"unknown name", false, false, "lobby", "zel_lightprofile::hall", 1.0f,
       "Zel_lightprofile_utility: Profile name not found"},
      {"name of another kind of element", false, false, "lamp", nullptr, 1.0f,
       "Zel_lightprofile_utility: Profile name not found"},
  };
  for (const Case& k : cases) {
    refhost::reset();
    refhost::clear_messages();
    refhost::clear_edit_log();
    miTag profile = 0;
    if (k.define != nullptr)
      profile = refhost::add_profile(k.define, lobe());
    else
      refhost::add_string("a string", "zel_lightprofile::lamp");
    const miTag given = k.give_tag ? profile : k.give_string ? refhost::add_string("x") : 0;
    refhost::ShaderInstance& u = utility(given, k.name, 1);
    init(u);
    EXPECT_FLOAT_EQ(sample(u, down_c90), k.expected) << k.what;
    const auto w = refhost::warnings();
    if (k.warning == nullptr) {
      EXPECT_TRUE(w.empty()) << k.what << ": " << w.front();
    } else {
      ASSERT_EQ(w.size(), 1u) << k.what;
      EXPECT_EQ(w[0], k.warning) << k.what;
    }
    if (k.name != nullptr && !k.give_tag) {
      EXPECT_EQ(lookups_of(std::string("zel_lightprofile::") + k.name), 1u) << k.what;
    }
    if (k.give_tag) {
      EXPECT_EQ(lookups_of("zel_lightprofile::nowhere"), 0u) << k.what;
    }
    EXPECT_EQ(refhost::total_pins(), 0) << k.what;
    u.exit();
  }
}

// absolute_intensity 1 asks the host for candela, every other value for the
// fraction of the profile's reference intensity (its 400 cd peak).
TEST_F(LightProfileUtility, AbsoluteIntensitySelectsTheSamplingFlag) {
  const miTag profile = refhost::add_profile("p", lobe());
  const struct {
    int absolute;
    float expected;  // at γ 30, C 180: 200 cd
  } cases[] = {{1, 200.0f}, {0, 0.5f}, {2, 0.5f}, {-1, 0.5f}};
  for (const auto& k : cases) {
    refhost::ShaderInstance& u = utility(profile, nullptr, k.absolute);
    init(u);
    EXPECT_FLOAT_EQ(sample(u, profile_direction(30, 180)), k.expected)
        << "absolute_intensity " << k.absolute;
  }
}

// absolute_intensity is evaluated on every call.
TEST_F(LightProfileUtility, AbsoluteIntensityIsEvaluatedPerCall) {
  const miTag profile = refhost::add_profile("p", lobe());
  refhost::ShaderInstance& u = utility(profile, nullptr, 0);
  int32_t connected = 1;
  u.connect("absolute_intensity", [&](miState*, void* out) { std::memcpy(out, &connected, 4); });
  init(u);
  EXPECT_FLOAT_EQ(sample(u, profile_direction(60, 0)), 100.0f);
  connected = 0;
  EXPECT_FLOAT_EQ(sample(u, profile_direction(60, 0)), 0.25f);
}

// The sample is taken in the light's space of the state's light instance.
TEST_F(LightProfileUtility, SamplesInTheLightsSpace) {
  const miTag profile = refhost::add_profile("p", lobe());
  const miTag inst = add_light_instance({}, refhost::rotate_xyz(180, 0, 0));  // facing up
  refhost::ShaderInstance& u = utility(profile, nullptr, 1);
  init(u);
  miState state = refhost::make_state(&u, &thread_, miRAY_EYE, inst);
  state.dir = {0, 0, 1};
  float result = 0;
  u.call(&result, &state);
  EXPECT_FLOAT_EQ(result, 400.0f);
  state.dir = {0, 0, -1};
  u.call(&result, &state);
  EXPECT_FLOAT_EQ(result, 0.0f);
}

TEST_F(LightProfileUtility, WithoutInitTheAnswerIsOne) {
  const miTag profile = refhost::add_profile("p", lobe());
  refhost::ShaderInstance& u = utility(profile, nullptr, 1);
  EXPECT_EQ(u.user(), nullptr);
  EXPECT_EQ(sample(u, profile_direction(0, 0)), 1.0f);
}

// Init allocates one record; exit frees it and clears the slot, so that a
// late call answers 1.0 and a second exit frees nothing twice.
TEST_F(LightProfileUtility, ExitLeavesNothingBehind) {
  const miTag profile = refhost::add_profile("p", lobe());
  const size_t before = refhost::live_blocks_from("lightprofile_utility");
  refhost::ShaderInstance& u = utility(profile, nullptr, 1);
  init(u);
  EXPECT_EQ(refhost::live_blocks_from("lightprofile_utility"), before + 1);
  u.exit();
  EXPECT_EQ(refhost::live_blocks_from("lightprofile_utility"), before);
  EXPECT_EQ(u.user(), nullptr);
  EXPECT_EQ(sample(u, profile_direction(0, 0)), 1.0f);
  using ExitFn = void (*)(miState*, void*);
  auto exit_fn =
      reinterpret_cast<ExitFn>(zeltest::plugin().symbol("zel_lightprofile_utility_exit"));
  ASSERT_NE(exit_fn, nullptr);
  miState state = refhost::make_state(&u, &thread_, miRAY_EYE);
  exit_fn(&state, u.params());
  exit_fn(&state, nullptr);  // the global exit does nothing
  EXPECT_TRUE(refhost::errors().empty()) << refhost::errors().front();
}

// The composed name must fit 256 bytes: names up to 237 characters are
// looked up whole, longer ones refused with a warning, not cut short.
TEST_F(LightProfileUtility, NamesThatDoNotFitAreRefused) {
  const struct {
    size_t length;
    bool looked_up;
  } cases[] = {{237, true}, {238, false}, {4000, false}};
  for (const auto& k : cases) {
    refhost::clear_messages();
    refhost::clear_edit_log();
    const std::string name(k.length, 'q');
    refhost::add_profile("zel_lightprofile::" + name, lobe());
    refhost::ShaderInstance& u = utility(0, name.c_str(), 1);
    init(u);
    EXPECT_EQ(lookups_of("zel_lightprofile::" + name), k.looked_up ? 1u : 0u) << k.length;
    EXPECT_FLOAT_EQ(sample(u, profile_direction(0, 0)), k.looked_up ? 400.0f : 1.0f) << k.length;
    const auto w = refhost::warnings();
    if (k.looked_up) {
      EXPECT_TRUE(w.empty()) << k.length;
    } else {
      ASSERT_EQ(w.size(), 1u) << k.length;
      EXPECT_EQ(w[0], "Zel_lightprofile_utility: Profile name too long");
    }
  }
}

TEST_F(LightProfileUtility, GlobalInitAsksForInstanceInits) {
  using InitFn = void (*)(miState*, void*, miBoolean*);
  auto init_fn =
      reinterpret_cast<InitFn>(zeltest::plugin().symbol("zel_lightprofile_utility_init"));
  ASSERT_NE(init_fn, nullptr);
  miState state{};
  miBoolean wants = 0;
  const uint64_t allocations = refhost::allocation_count();
  init_fn(&state, nullptr, &wants);
  EXPECT_EQ(wants, 1);
  EXPECT_EQ(refhost::allocation_count(), allocations);
}

}  // namespace
