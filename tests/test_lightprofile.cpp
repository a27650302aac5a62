// zel_lightprofile: the profile it defines (name, record, file name), the
// redefinition of an existing profile, the scopes it passes through, and
// what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "refhost/editing.h"
#include "refhost/lightloop.h"
#include "refhost/profiles.h"
#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace {

std::string example_profile(const std::string& file) {
  return std::string(ZEL_SOURCE_DIR) + "/examples/profiles/" + file;
}

int32_t record_word(miTag profile, size_t offset) {
  int32_t w = 0;
  std::memcpy(&w, static_cast<const unsigned char*>(refhost::db_data(profile)) + offset, sizeof w);
  return w;
}

std::string string_text(miTag tag) {
  const char* p = static_cast<const char*>(refhost::db_data(tag));
  return p != nullptr ? std::string(p, strnlen(p, refhost::db_size(tag))) : std::string();
}

struct Definition {
  std::string name = "lobby";
  std::string file = "lobby.ies";
  int format = 1;
  int settings[4] = {0, 0, 0, 0};
};

class LightProfileShader : public zeltest::HostTest {
 protected:
  // Runs zel_lightprofile once; its answer, and `result` left for a look.
  bool run(const Definition& d, float* result = nullptr) {
    refhost::ShaderInstance& s = make("zel_lightprofile");
    s.set_string("profile_name", d.name);
    s.set_string("file_name", d.file);
    s.set_int("format", d.format);
    s.set_int("first_setting", d.settings[0]);
    s.set_int("second_setting", d.settings[1]);
    s.set_int("third_setting", d.settings[2]);
    s.set_int("fourth_setting", d.settings[3]);
    return call(s, result);
  }
  bool call(refhost::ShaderInstance& s, float* result = nullptr) {
    miState state = refhost::make_state(&s, &thread_, miRAY_EYE);
    s.init(&state);
    float scratch = 0;
    return s.call(result != nullptr ? result : &scratch, &state);
  }
  static size_t count(const std::vector<std::string>& log, const std::string& entry) {
    return size_t(std::count(log.begin(), log.end(), entry));
  }
};

TEST_F(LightProfileShader, DefinesTheProfileUnderTheComposedName) {
  Definition d;
  d.settings[0] = 1;
  d.settings[1] = 1;
  d.settings[2] = 45;
  d.settings[3] = 150;
  ASSERT_TRUE(run(d));
  const miTag profile = refhost::find("zel_lightprofile::lobby");
  ASSERT_NE(profile, 0u);
  EXPECT_EQ(mi_db_type(profile), miSCENE_LIGHTPROFILE);
  EXPECT_EQ(record_word(profile, refhost::kProfileSourceOffset), 1);
  EXPECT_EQ(record_word(profile, refhost::kProfileInterpolationOffset), 1);
  EXPECT_EQ(record_word(profile, refhost::kProfileCDirectionOffset), 1);
  EXPECT_EQ(record_word(profile, refhost::kProfileCTurnOffset), 45);
  EXPECT_EQ(record_word(profile, refhost::kProfileMultiplierOffset), 150);
  const auto file = static_cast<miTag>(record_word(profile, refhost::kProfileFileNameOffset));
  EXPECT_EQ(mi_db_type(file), miSCENE_STRING);
  EXPECT_EQ(string_text(file), "lobby.ies");
  EXPECT_EQ(refhost::pin_count(file), 0) << "the new string is let go of";
  EXPECT_TRUE(refhost::warnings().empty());
  EXPECT_TRUE(refhost::errors().empty());
}

TEST_F(LightProfileShader, FormatOneIsIesAndEveryOtherEulumdat) {
  const struct { int format, code; } cases[] = {{0, 2}, {1, 1}, {2, 2}, {3, 2}, {-1, 2}};
  for (const auto& k : cases) {
    Definition d;
    d.name = "f" + std::to_string(k.format);
    d.format = k.format;
    run(d);
    const miTag profile = refhost::find("zel_lightprofile::" + d.name);
    ASSERT_NE(profile, 0u) << d.name;
    EXPECT_EQ(record_word(profile, refhost::kProfileFormatOffset), k.code) << "format " << k.format;
  }
}

// A second definition of a name replaces the first in place: the host is
// told to edit incrementally before it, and only then.
TEST_F(LightProfileShader, SecondRunRedefinesIncrementally) {
  Definition first;
  run(first);
  const auto log1 = refhost::edit_log();
  EXPECT_EQ(count(log1, "incremental(1)"), 0u);
  const miTag profile = refhost::find("zel_lightprofile::lobby");

  refhost::clear_edit_log();
  Definition second;
  second.file = "lobby_v2.ies";
  second.format = 2;
  run(second);
  const auto log2 = refhost::edit_log();
  const auto incremental = std::find(log2.begin(), log2.end(), "incremental(1)");
  const auto begin =
      std::find(log2.begin(), log2.end(), "lightprofile_begin(zel_lightprofile::lobby)");
  ASSERT_NE(incremental, log2.end());
  ASSERT_NE(begin, log2.end());
  EXPECT_LT(incremental - log2.begin(), begin - log2.begin());
  EXPECT_EQ(refhost::find("zel_lightprofile::lobby"), profile) << "redefined in place";
  EXPECT_EQ(record_word(profile, refhost::kProfileFormatOffset), 2);
  const auto file = static_cast<miTag>(record_word(profile, refhost::kProfileFileNameOffset));
  EXPECT_EQ(string_text(file), "lobby_v2.ies");
  EXPECT_TRUE(refhost::warnings().empty()) << refhost::warnings().front();
  EXPECT_TRUE(refhost::incremental_mode()) << "left as the shader set it";
}

// Built inside scope a: the shader leaves a, defines the profile inside the
// scope zel_lightprofile, and comes back to a.
TEST_F(LightProfileShader, LeavesTheCallersScopeAndComesBack) {
  refhost::enter_scope("a");
  run(Definition{});
  const std::vector<std::string> expected = {
      "name_lookup(zel_lightprofile::lobby)",
      "scope_apply()",
      "scope_end",
      "scope_begin(zel_lightprofile)",
      "lightprofile_begin(zel_lightprofile::lobby)",
      "lightprofile_end",
      "scope_end",
      "scope_begin(a)",
  };
  EXPECT_EQ(refhost::edit_log(), expected);
  EXPECT_EQ(refhost::scope_prefix(), "a::");
  EXPECT_NE(refhost::find("zel_lightprofile::lobby"), 0u) << "not a::zel_lightprofile::...";
  EXPECT_TRUE(refhost::errors().empty());
  refhost::leave_scope();
}

// At the top level there is no scope to leave or to return to; the profile
// is still defined in the scope zel_lightprofile.
TEST_F(LightProfileShader, AtTheTopLevelOpensOnlyItsOwnScope) {
  run(Definition{});
  const std::vector<std::string> expected = {
      "name_lookup(zel_lightprofile::lobby)",
      "scope_apply()",
      "scope_begin(zel_lightprofile)",
      "lightprofile_begin(zel_lightprofile::lobby)",
      "lightprofile_end",
      "scope_end",
  };
  EXPECT_EQ(refhost::edit_log(), expected);
  EXPECT_EQ(refhost::scope_depth(), 0u);
  EXPECT_NE(refhost::find("zel_lightprofile::lobby"), 0u);
  EXPECT_TRUE(refhost::errors().empty()) << refhost::errors().front();
}

TEST_F(LightProfileShader, ResultIsUntouchedAndTheAnswerIsSuccess) {
  float result = 12.5f;
  EXPECT_TRUE(run(Definition{}, &result));
  EXPECT_EQ(result, 12.5f);
}

// Names up to the buffer are defined whole; longer ones are refused with a
// warning instead of being cut to a different name.
TEST_F(LightProfileShader, NamesThatDoNotFitAreRefused) {
  const struct {
    size_t length;
    bool defined;
  } cases[] = {{0, true}, {1005, true}, {1006, false}, {5000, false}};
  for (const auto& k : cases) {
    refhost::clear_messages();
    refhost::clear_edit_log();
    Definition d;
    d.name = std::string(k.length, 'n');
    EXPECT_TRUE(run(d));
    EXPECT_EQ(refhost::find("zel_lightprofile::" + d.name) != 0, k.defined) << k.length;
    EXPECT_EQ(refhost::warnings().size(), k.defined ? 0u : 1u) << k.length;
    if (!k.defined) {
      EXPECT_EQ(refhost::warnings()[0],
                "Zel_lightprofile: Profile name too long, profile not defined");
      EXPECT_TRUE(refhost::edit_log().empty()) << "no scene call for a refused name";
    }
  }
}

// The scope text the host gives may be up to 1023 characters; a longer one
// is refused before any scope is left.
TEST_F(LightProfileShader, ScopeTextsThatDoNotFitAreRefused) {
  const struct {
    size_t length;  // of the scope's name; its prefix text is 2 longer
    bool defined;
  } cases[] = {{1021, true}, {1022, false}};
  for (const auto& k : cases) {
    refhost::clear_messages();
    const std::string scope(k.length, 's');
    refhost::enter_scope(scope);
    Definition d;
    d.name = "in_scope_" + std::to_string(k.length);
    run(d);
    EXPECT_EQ(refhost::find("zel_lightprofile::" + d.name) != 0, k.defined) << k.length;
    if (!k.defined) {
      EXPECT_EQ(refhost::warnings().at(0),
                "Zel_lightprofile: Scope name too long, profile not defined");
    }
    EXPECT_EQ(refhost::scope_prefix(), scope + "::") << "back in the caller's scope";
    EXPECT_EQ(refhost::warnings().size(), k.defined ? 0u : 1u) << k.length;
    EXPECT_TRUE(refhost::errors().empty()) << k.length;
    refhost::leave_scope();
  }
}

// No name tag at all reads as the empty name; no string is accessed.
TEST_F(LightProfileShader, MissingNameAndFileTagsReadAsEmpty) {
  refhost::ShaderInstance& s = make("zel_lightprofile");
  s.set_int("format", 1);
  EXPECT_TRUE(call(s));
  const miTag profile = refhost::find("zel_lightprofile::");
  ASSERT_NE(profile, 0u);
  const auto file = static_cast<miTag>(record_word(profile, refhost::kProfileFileNameOffset));
  EXPECT_EQ(string_text(file), "");
  EXPECT_TRUE(refhost::errors().empty()) << refhost::errors().front();
}

// The file name, format and settings are evaluated: connected to another
// shader, its values are the ones stored. The name is read in place.
TEST_F(LightProfileShader, ConnectedParametersAreEvaluated) {
  refhost::ShaderInstance& s = make("zel_lightprofile");
  s.set_string("profile_name", "lobby");
  s.set_string("file_name", "direct.ies");
  const miTag connected_file = refhost::add_string("connected.ldt");
  s.connect("file_name", [&](miState*, void* out) { std::memcpy(out, &connected_file, 4); });
  s.connect("format", [](miState*, void* out) {
    const int32_t one = 1;
    std::memcpy(out, &one, 4);
  });
  s.connect("fourth_setting", [](miState*, void* out) {
    const int32_t v = 300;
    std::memcpy(out, &v, 4);
  });
  call(s);
  const miTag profile = refhost::find("zel_lightprofile::lobby");
  ASSERT_NE(profile, 0u);
  EXPECT_EQ(record_word(profile, refhost::kProfileFormatOffset), 1);
  EXPECT_EQ(record_word(profile, refhost::kProfileMultiplierOffset), 300);
  const auto file = static_cast<miTag>(record_word(profile, refhost::kProfileFileNameOffset));
  EXPECT_EQ(string_text(file), "connected.ldt");
}

// The profile defined from a file samples to that file's candela, through
// the utility shader that finds it by the same name.
TEST_F(LightProfileShader, TheUtilityFindsTheProfileByName) {
  for (const char* file : {"wide_batwing.ies", "wide_batwing.ldt"}) {
    Definition d;
    d.name = std::string("batwing_") + (std::strstr(file, ".ies") ? "ies" : "ldt");
    d.file = example_profile(file);
    d.format = std::strstr(file, ".ies") ? 1 : 2;
    run(d);

    refhost::ShaderInstance& u = make("zel_lightprofile_utility");
    u.set_string("profile_name", d.name);
    u.set_int("absolute_intensity", 1);
    miState state = refhost::make_state(&u, &thread_, miRAY_EYE);
    u.init(&state);
    ASSERT_TRUE(refhost::warnings().empty()) << refhost::warnings().front();

    refhost::ProfileTable table;
    std::string error;
    ASSERT_TRUE(refhost::read_profile_file(d.file, d.format, table, error)) << error;
    for (const double g : {0.0, 30.0, 50.0, 89.0, 120.0})
      for (const double c : {0.0, 40.0, 90.0, 200.0}) {
        state.dir = refhost::profile_direction(g, c);
        float cd = 0;
        u.call(&cd, &state);
        EXPECT_EQ(cd, refhost::sample_table(table, state.dir)) << file << " γ " << g << " C " << c;
      }
    state.dir = refhost::profile_direction(50, 0);
    float peak_cd = 0;
    u.call(&peak_cd, &state);
    EXPECT_GT(peak_cd, 790.0f) << "the batwing's peak near 50 degrees";
  }
}

// The area light finds a profile defined from a file by the same name; its
// reference intensity is the table's peak, and an EULUMDAT profile turns
// absolute intensity mode off with the light's warning.
TEST_F(LightProfileShader, TheAreaLightFindsTheProfileByName) {
  const struct {
    const char* file;
    int format;
    int absolute;
    const char* warning;
  } cases[] = {
      {"narrow_downlight.ies", 1, 1, nullptr},
      {"narrow_downlight.ldt", 2, 0,
       "Zel_lumenfield: Cannot use absolute intensity mode with Eulumdat profiles"},
  };
  for (const auto& k : cases) {
    refhost::clear_messages();
    Definition d;
    d.name = std::string("downlight ") + k.file;
    d.file = example_profile(k.file);
    d.format = k.format;
    run(d);

    const miTag instance = add_light_instance({});
    refhost::ShaderInstance& light = lumenfield();
    light.set_int("use_profile", 1);
    light.set_int("absolute_intensity", 1);
    light.set_string("profile_name", d.name);
    miState state = refhost::make_state(&light, &thread_, miRAY_LIGHT, instance);
    light.init(&state);
    const auto* user = static_cast<const lumenfield_user*>(light.user());
    ASSERT_NE(user, nullptr);

    refhost::ProfileTable table;
    std::string error;
    ASSERT_TRUE(refhost::read_profile_file(d.file, d.format, table, error)) << error;
    const float peak = *std::max_element(table.candela.begin(), table.candela.end());
    EXPECT_EQ(user->profile, refhost::find("zel_lightprofile::" + d.name)) << k.file;
    EXPECT_EQ(user->profile_format, k.format) << k.file;
    EXPECT_EQ(user->profile_candela, peak) << k.file;
    // A cosⁿ lobe of flux Φ peaks at Φ (n + 1) / 2π: 1000 lm, n = 30.
    const double lobe_peak = 1000.0 * 31.0 / (2.0 * 3.141592653589793);
    EXPECT_NEAR(peak, lobe_peak, 0.02 * lobe_peak) << k.file;
    EXPECT_EQ(user->absolute_intensity, k.absolute) << k.file;
    const auto w = refhost::warnings();
    ASSERT_EQ(w.size(), k.warning != nullptr ? 1u : 0u) << k.file;
    if (k.warning != nullptr) {
      EXPECT_EQ(w[0], k.warning);
    }
  }
}

// End to end: a point light following the wall-washer's profile, 3 m up
// and facing down, lights each point with E = I(γ, C)·cos θ / d², the
// intensity read from the file towards that point.
TEST_F(LightProfileShader, AProfiledLightObeysTheInverseSquareLaw) {
  Definition d;
  d.name = "washer";
  d.file = example_profile("wall_washer.ies");
  run(d);
  refhost::ProfileTable table;
  std::string error;
  ASSERT_TRUE(refhost::read_profile_file(d.file, 1, table, error)) << error;

  const miTag instance = add_light_instance({}, refhost::translate(0, 0, 3));
  refhost::ShaderInstance& light = lumenfield();
  light.set_int("use_profile", 1);
  light.set_int("absolute_intensity", 1);
  light.set_string("profile_name", d.name);
  miState state = refhost::make_state(&light, &thread_, miRAY_LIGHT, instance);
  light.init(&state);
  const refhost::SceneLight scene_light{&light, instance};

  const struct {
    miVector point, normal;
  } cases[] = {
      {{0, 0, 0}, {0, 0, 1}},    {{2, 0, 0}, {0, 0, 1}},     {{-2, 0, 0}, {0, 0, 1}},
      {{1, 1.5f, 0}, {0, 0, 1}}, {{3, 0, 1.5f}, {-1, 0, 0}},
  };
  for (const auto& c : cases) {
    const miVector to_point{c.point.x, c.point.y, c.point.z - 3.0f};
    const double x = double(to_point.x), y = double(to_point.y), z = double(to_point.z);
    const double d2 = x * x + y * y + z * z;
    const double cos_theta =
        -(double(c.normal.x) * x + double(c.normal.y) * y + double(c.normal.z) * z) / std::sqrt(d2);
    const double expected = double(refhost::sample_table(table, to_point)) * cos_theta / d2;
    const miColor e = refhost::illuminance(scene_light, c.point, c.normal, 1, thread_);
    EXPECT_TRUE(zeltest::near_rel(double(e.r), expected, 1e-5))
        << "at (" << c.point.x << ", " << c.point.y << ", " << c.point.z << "): " << e.r
        << " lux, expected " << expected;
  }
  // Thrown towards +x (C0): the floor 2 m that way is far brighter.
  const miColor wall_side = refhost::illuminance(scene_light, {2, 0, 0}, {0, 0, 1}, 1, thread_);
  const miColor back_side = refhost::illuminance(scene_light, {-2, 0, 0}, {0, 0, 1}, 1, thread_);
  EXPECT_GT(wall_side.r, 5 * back_side.r);
}

}  // namespace
