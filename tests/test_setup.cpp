// Set-up and tear-down of the area light, through the loaded plug-in: the
// instance record init builds, the profile it resolves, the warnings it
// gives, and exit leaving nothing allocated or pinned.
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>

#include "refhost/profiles.h"
#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr const char* kNotFound = "Zel_lumenfield: Light profile name not found";
constexpr const char* kTooLong = "Zel_lumenfield: Light profile name too long";
constexpr const char* kEulumdat =
    "Zel_lumenfield: Cannot use absolute intensity mode with Eulumdat profiles";
constexpr const char* kImplausible =
    "Zel_lumenfield error: Physically incorrect configuration (area spot + cosine + lumens/watts)";

float cos_deg(double degrees) { return static_cast<float>(std::cos(degrees * kPi / 180.0)); }

// A light-profile element as the host keeps it: the format code in the
// record's second word.
miTag profile_element(int format, const std::string& name = {}) {
  const miTag tag = refhost::db_add(miSCENE_LIGHTPROFILE, refhost::kProfileRecordSize, name);
  const int32_t word = format;
  std::memcpy(static_cast<char*>(refhost::db_data(tag)) + refhost::kProfileFormatOffset, &word,
              sizeof word);
  return tag;
}

class Setup : public zeltest::HostTest {
 protected:
  // An area light instance attached to a light described by `desc`.
  refhost::ShaderInstance& light(const refhost::LightDesc& desc = {},
                                 const refhost::Matrix& place = refhost::identity()) {
    light_instance_ = add_light_instance(desc, place);
    return lumenfield();
  }
  lumenfield_user* init(refhost::ShaderInstance& s) {
    state_ = refhost::make_state(&s, &thread_, miRAY_LIGHT, light_instance_);
    s.init(&state_);
    return static_cast<lumenfield_user*>(s.user());
  }
  template <typename Fn>
  Fn entry(const std::string& name) {
    return reinterpret_cast<Fn>(zeltest::plugin().symbol(name));
  }
  miTag light_instance_ = 0;
  miState state_{};
};

using InitFn = void (*)(miState*, void*, miBoolean*);
using ExitFn = void (*)(miState*, void*);

TEST_F(Setup, GlobalInitAsksForInstancesAndAllocatesNothing) {
  auto init = entry<InitFn>("zel_lumenfield_init");
  auto exit = entry<ExitFn>("zel_lumenfield_exit");
  ASSERT_NE(init, nullptr);
  ASSERT_NE(exit, nullptr);
  miState state{};
  miBoolean wants = 0;
  const uint64_t before = refhost::allocation_count();
  init(&state, nullptr, &wants);
  EXPECT_EQ(wants, 1);
  exit(&state, nullptr);
  EXPECT_EQ(refhost::allocation_count(), before);
  EXPECT_TRUE(refhost::messages().empty());
}

TEST_F(Setup, NullArgumentsFromTheHostAreSurvived) {
  auto init = entry<InitFn>("zel_lumenfield_init");
  auto exit = entry<ExitFn>("zel_lumenfield_exit");
  refhost::ShaderInstance& s = light();
  miState no_shader{};  // no running shader: no user-pointer slot
  miBoolean wants = 0;
  const uint64_t before = refhost::allocation_count();
  init(nullptr, nullptr, nullptr);
  init(nullptr, nullptr, &wants);
  EXPECT_EQ(wants, 1);
  init(nullptr, s.params(), &wants);
  init(&no_shader, s.params(), &wants);
  exit(nullptr, s.params());
  exit(nullptr, nullptr);
  exit(&no_shader, s.params());
  EXPECT_EQ(refhost::allocation_count(), before);
  EXPECT_EQ(s.user(), nullptr);
  // A state naming no light instance: the host's queries give no answers,
  // and the record keeps its zeros.
  miState lightless = refhost::make_state(&s, &thread_, miRAY_LIGHT, 0);
  init(&lightless, s.params(), &wants);
  const auto* u = static_cast<const lumenfield_user*>(s.user());
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->light, 0u);
  EXPECT_EQ(u->area_shape, 0);
  EXPECT_EQ(u->origin.x, 0.0f);
  EXPECT_EQ(u->area_vector_a, nullptr);
  exit(&lightless, s.params());
  EXPECT_EQ(s.user(), nullptr);
  // Exit of an instance that never had an init finds no record.
  miState state = refhost::make_state(&s, &thread_, miRAY_LIGHT, light_instance_);
  exit(&state, s.params());
  EXPECT_TRUE(refhost::messages().empty());
}

TEST_F(Setup, RecordDescribesTheLight) {
  refhost::LightDesc desc;
  desc.type = miLIGHT_SPOT;
  desc.origin = {1, 2, 3};
  desc.direction = {0, 0.6f, -0.8f};
  desc.spread = cos_deg(35);
  desc.exponent = 1.5f;
  desc.energy = {0.2f, 0.4f, 0.8f, 1};
  refhost::ShaderInstance& s = light(desc, refhost::translate(10, 0, -4));
  const lumenfield_user* u = init(s);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->light, refhost::find("light0"));
  EXPECT_EQ(u->light_type, miLIGHT_SPOT);
  EXPECT_EQ(u->area_shape, miLIGHT_NONE);
  EXPECT_EQ(u->exponent, 1.5f);
  EXPECT_EQ(u->energy.b, 0.8f);
  EXPECT_EQ(u->spot_direction.y, 0.6f);
  EXPECT_EQ(u->spot_direction.z, -0.8f);
  EXPECT_EQ(u->spread, desc.spread);
  // The origin is moved into internal space by the instance.
  EXPECT_EQ(u->origin.x, 11.0f);
  EXPECT_EQ(u->origin.y, 2.0f);
  EXPECT_EQ(u->origin.z, -1.0f);
  EXPECT_EQ(u->focus_found, 0);
  EXPECT_EQ(u->focus_distance, 0.0f);
  EXPECT_EQ(u->profile, 0u);
  EXPECT_EQ(u->profile_candela, 0.0f);
  EXPECT_EQ(u->temperature_color, nullptr);
}

TEST_F(Setup, WithoutProfileTheModeIsAbsolute) {
  for (const int requested : {0, 1}) {
    refhost::ShaderInstance& s = light();
    s.set_int("use_profile", 0);
    s.set_int("absolute_intensity", requested);
    s.set_int("scene_unit", 2);
    const lumenfield_user* u = init(s);
    EXPECT_EQ(u->absolute_intensity, 1) << "parameter " << requested;
    EXPECT_EQ(u->unit_factor, 10000.0f);
  }
}

TEST_F(Setup, SceneUnitFactors) {
  struct Case {
    int unit;
    float factor;
  };
  const Case cases[] = {{0, 1.0f},      {1, 100.0f}, {2, 10000.0f}, {3, 1000000.0f}, {4, 10.76391f},
                        {5, 1550.003f}, {6, 100.0f}, {-1, 100.0f},  {1000, 100.0f}};
  for (const Case& c : cases) {
    refhost::ShaderInstance& s = light();
    s.set_int("scene_unit", c.unit);
    EXPECT_EQ(init(s)->unit_factor, c.factor) << "scene unit " << c.unit;
  }
  // A foot is 0.3048 m, an inch 0.0254 m.
  EXPECT_NEAR(10.76391, 1 / (0.3048 * 0.3048), 1e-5);
  EXPECT_NEAR(1550.003, 1 / (0.0254 * 0.0254), 1e-3);
}

// Parameters are read through the host's reading rule: a connected one
// yields the connected shader's value.
TEST_F(Setup, ConnectedParametersAreEvaluated) {
  refhost::ShaderInstance& s = light({.shape = miLIGHT_RECTANGLE});
  s.set_int("scene_unit", 0);
  s.connect("scene_unit", [](miState*, void* out) {
    const int32_t unit = 3;
    std::memcpy(out, &unit, sizeof unit);
  });
  s.connect("cosine_distribution", [](miState*, void* out) {
    const int32_t on = 1;
    std::memcpy(out, &on, sizeof on);
  });
  const lumenfield_user* u = init(s);
  EXPECT_EQ(u->unit_factor, 1000000.0f);
  EXPECT_EQ(u->cosine_distribution, 1);
}

TEST_F(Setup, EulumdatProfilesAreRelative) {
  struct Case {
    int format;
    int absolute;
    int expected;
    bool warns;
  };
  const Case cases[] = {{miLP_STD_EULUMDAT, 1, 0, true},
                        {miLP_STD_EULUMDAT, 0, 0, false},
                        {miLP_STD_IES, 1, 1, false},
                        {miLP_STD_IES, 0, 0, false}};
  for (const Case& c : cases) {
    refhost::clear_messages();
    refhost::ShaderInstance& s = light();
    s.set_int("use_profile", 1);
    s.set_int("absolute_intensity", c.absolute);
    s.set_int("scene_unit", 1);
    const miTag profile = profile_element(c.format);
    s.set_tag("profile", profile);
    const lumenfield_user* u = init(s);
    EXPECT_EQ(u->profile, profile);
    EXPECT_EQ(u->profile_format, c.format);
    EXPECT_EQ(u->absolute_intensity, c.expected) << "format " << c.format;
    // The factor is set in every mode, so no path reads an unset field.
    EXPECT_EQ(u->unit_factor, 100.0f);
    const auto warnings = refhost::warnings();
    if (c.warns) {
      ASSERT_EQ(warnings.size(), 1u);
      EXPECT_EQ(warnings[0], kEulumdat);
    } else {
      EXPECT_TRUE(warnings.empty()) << "format " << c.format << ", absolute " << c.absolute;
    }
  }
}

TEST_F(Setup, FullIntensityCone) {
  struct Case {
    int from_spread;
    float spread;
    float angle;
    float expected;
  };
  const Case cases[] = {
      {0, -1.0f, 60, 0.8660254f},         // full apex angle 60°: half-angle 30°
      {0, cos_deg(40), 0, 1.0f},          // no inner cone
      {1, cos_deg(40), 10, cos_deg(30)},  // 10° in from the 40° edge
      {1, cos_deg(40), 50, 1.0f},         // wider than the cone: no band
      {1, cos_deg(40), 40, 1.0f},         // exactly the cone: no band
      {1, cos_deg(40), 0, cos_deg(40)},   // no band: inner cone = outer cone
      {1, 1.0000001f, 10, 1.0f},          // a spread a rounding step above 1: no cone
  };
  for (const Case& c : cases) {
    refhost::LightDesc desc;
    desc.type = miLIGHT_SPOT;
    desc.spread = c.spread;
    refhost::ShaderInstance& s = light(desc);
    s.set_int("falloff_from_spread", c.from_spread);
    s.set_float("falloff_angle", c.angle);
    EXPECT_NEAR(init(s)->falloff, c.expected, 2e-7)
        << "from spread " << c.from_spread << ", angle " << c.angle;
  }
}

TEST_F(Setup, ShapeBlocks) {
  struct Case {
    int shape;
    bool a, b;
    miVector expect_a, expect_b;
  };
  refhost::LightDesc desc;
  desc.edge_u = {2, 0, 0};
  desc.edge_v = {0, 3, 0};
  desc.normal = {0, 0.6f, 0.8f};
  desc.axis = {0, 0, 4};
  desc.radius = 1.25f;
  const Case cases[] = {
      {miLIGHT_RECTANGLE, true, true, {2, 0, 0}, {0, 3, 0}},
      {miLIGHT_DISC, true, true, {0, 0.6f, 0.8f}, {1.25f, 0, 0}},
      {miLIGHT_SPHERE, true, false, {1.25f, 0, 0}, {}},
      {miLIGHT_CYLINDER, true, true, {0, 0, 4}, {1.25f, 0, 0}},
      {miLIGHT_OBJECT, false, false, {}, {}},
      {miLIGHT_NONE, false, false, {}, {}},
  };
  for (const Case& c : cases) {
    desc.shape = c.shape;
    refhost::ShaderInstance& s = light(desc);
    const size_t before = refhost::live_blocks_from("lumenfield_setup");
    const lumenfield_user* u = init(s);
    ASSERT_EQ(u->area_vector_a != nullptr, c.a) << "shape " << c.shape;
    ASSERT_EQ(u->area_vector_b != nullptr, c.b) << "shape " << c.shape;
    if (c.a) {
      EXPECT_EQ(u->area_vector_a->x, c.expect_a.x) << "shape " << c.shape;
      EXPECT_EQ(u->area_vector_a->y, c.expect_a.y) << "shape " << c.shape;
      EXPECT_EQ(u->area_vector_a->z, c.expect_a.z) << "shape " << c.shape;
    }
    if (c.b) {
      EXPECT_EQ(u->area_vector_b->x, c.expect_b.x) << "shape " << c.shape;
      EXPECT_EQ(u->area_vector_b->y, c.expect_b.y) << "shape " << c.shape;
      EXPECT_EQ(u->area_vector_b->z, c.expect_b.z) << "shape " << c.shape;
    }
    // The record and its blocks; exit releases exactly those.
    const size_t blocks = 1 + size_t(c.a) + size_t(c.b);
    EXPECT_EQ(refhost::live_blocks_from("lumenfield_setup") - before, blocks);
    s.exit(&state_);
    EXPECT_EQ(refhost::live_blocks_from("lumenfield_setup"), before) << "shape " << c.shape;
    EXPECT_EQ(s.user(), nullptr) << "exit clears the slot";
  }
}

TEST_F(Setup, CosineLawOnlyForFlatEmitters) {
  for (const int shape : {miLIGHT_NONE, miLIGHT_RECTANGLE, miLIGHT_DISC, miLIGHT_SPHERE,
                          miLIGHT_CYLINDER, miLIGHT_OBJECT}) {
    for (const int on : {0, 1}) {
      refhost::ShaderInstance& s = light({.shape = shape});
      s.set_int("cosine_distribution", on);
      const bool flat = shape == miLIGHT_RECTANGLE || shape == miLIGHT_DISC;
      EXPECT_EQ(init(s)->cosine_distribution, flat ? on : 0) << "shape " << shape;
    }
  }
}

TEST_F(Setup, TemperatureChoice) {
  refhost::set_xyz_to_render(false);
  // The colour an instance gets for (temperature, custom temperature, mode).
  auto colour = [this](int kelvin, float custom, int mode) {
    refhost::ShaderInstance& s = light();
    s.set_int("use_temperature", 1);
    s.set_int("temperature", kelvin);
    s.set_float("custom_temperature", custom);
    s.set_int("temperature_mode", mode);
    const lumenfield_user* u = init(s);
    EXPECT_NE(u->temperature_color, nullptr);
    return u->temperature_color != nullptr ? *u->temperature_color : miColor{};
  };
  auto same = [](const miColor& a, const miColor& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
  };
  EXPECT_TRUE(same(colour(0, 2700, 2), colour(2700, 9000, 2)));
  EXPECT_TRUE(same(colour(-5, 5000, 1), colour(5000, 1, 1)));
  EXPECT_FALSE(same(colour(0, 2700, 2), colour(0, 5000, 2)));
  // 2700 K on the Planckian locus.
  const miColor warm = colour(2700, 0, 2);
  EXPECT_NEAR(warm.r / (warm.r + warm.g + warm.b), 0.4599, 1e-4);

  // A positive temperature is used as it is: the custom one is not read.
  refhost::ShaderInstance& s = light();
  s.set_int("use_temperature", 1);
  s.set_int("temperature", 6500);
  s.set_int("temperature_mode", 1);
  int custom_reads = 0;
  s.connect("custom_temperature", [&custom_reads](miState*, void* out) {
    ++custom_reads;
    const float t = 2000;
    std::memcpy(out, &t, sizeof t);
  });
  const lumenfield_user* u = init(s);
  EXPECT_EQ(custom_reads, 0);
  ASSERT_NE(u->temperature_color, nullptr);
  EXPECT_TRUE(same(*u->temperature_color, colour(0, 6500.0f, 1)));

  // No temperature colour unless asked for.
  refhost::ShaderInstance& off = light();
  off.set_int("use_temperature", 0);
  off.set_int("temperature", 3000);
  EXPECT_EQ(init(off)->temperature_color, nullptr);
}

TEST_F(Setup, OutputScale) {
  struct Case {
    int mode;
    miColor expected;
  };
  const miColor custom{0.5f, 0.25f, 2.0f, 0.75f};
  const Case cases[] = {
      {1, {0.001f, 0.001f, 0.001f, 0}},
      {2, {0.0001f, 0.0001f, 0.0001f, 0}},
      {3, custom},
      {0, {0.318f, 0.318f, 0.318f, 0}},
      {7, {0.318f, 0.318f, 0.318f, 0}},
      {-1, {0.318f, 0.318f, 0.318f, 0}},
  };
  for (const Case& c : cases) {
    refhost::ShaderInstance& s = light();
    s.set_int("output_scale_mode", c.mode);
    s.set_color("output_scale_color", custom);
    const miColor got = init(s)->output_scale;
    EXPECT_EQ(got.r, c.expected.r) << "mode " << c.mode;
    EXPECT_EQ(got.g, c.expected.g) << "mode " << c.mode;
    EXPECT_EQ(got.b, c.expected.b) << "mode " << c.mode;
    if (c.mode == 3) {
      EXPECT_EQ(got.a, custom.a) << "all four components are copied";
    }
  }
}

TEST_F(Setup, ProfileRotationPresets) {
  struct Case {
    int orientation;
    float x, y, z;
  };
  const Case cases[] = {{1, 10, 20, 30}, {2, -90, 0, 0}, {5, -90, 0, 0}, {3, 90, 0, 0},
                        {4, 90, 0, 0},   {0, 0, 0, 0},   {6, 0, 0, 0},   {-2, 0, 0, 0}};
  for (const Case& c : cases) {
    refhost::ShaderInstance& s = light();
    s.set_int("profile_orientation", c.orientation);
    s.set_float("rotation_x", 10);
    s.set_float("rotation_y", 20);
    s.set_float("rotation_z", 30);
    const lumenfield_user* u = init(s);
    EXPECT_EQ(u->profile_orientation, c.orientation);
    EXPECT_EQ(u->profile_rotation[0], c.x) << "orientation " << c.orientation;
    EXPECT_EQ(u->profile_rotation[1], c.y) << "orientation " << c.orientation;
    EXPECT_EQ(u->profile_rotation[2], c.z) << "orientation " << c.orientation;
  }
}

TEST_F(Setup, PlausibilityWarning) {
  struct Case {
    int type, shape, cosine, use_profile, unit;
    bool warns;
  };
  const Case cases[] = {
      {miLIGHT_SPOT, miLIGHT_RECTANGLE, 1, 0, 4, true},
      {miLIGHT_SPOT, miLIGHT_RECTANGLE, 1, 0, 1, true},
      {miLIGHT_SPOT, miLIGHT_DISC, 1, 0, 1, true},
      {miLIGHT_SPOT, miLIGHT_RECTANGLE, 1, 1, 4, false},   // a profile
      {miLIGHT_SPOT, miLIGHT_RECTANGLE, 1, 0, 0, false},   // candela
      {miLIGHT_SPOT, miLIGHT_RECTANGLE, 1, 0, 2, false},   // lux
      {miLIGHT_SPOT, miLIGHT_RECTANGLE, 0, 0, 1, false},   // no cosine law
      {miLIGHT_POINT, miLIGHT_RECTANGLE, 1, 0, 1, false},  // not a spot
      {miLIGHT_SPOT, miLIGHT_SPHERE, 1, 0, 1, false},      // law off for spheres
  };
  for (const Case& c : cases) {
    refhost::clear_messages();
    refhost::ShaderInstance& s = light({.type = c.type, .shape = c.shape, .spread = cos_deg(30)});
    s.set_int("cosine_distribution", c.cosine);
    s.set_int("use_profile", c.use_profile);
    s.set_int("intensity_unit", c.unit);
    init(s);
    const auto warnings = refhost::warnings();
    if (c.warns) {
      ASSERT_EQ(warnings.size(), 1u);
      EXPECT_EQ(warnings[0], kImplausible);
    } else {
      EXPECT_TRUE(warnings.empty()) << "type " << c.type << ", shape " << c.shape << ", unit "
                                    << c.unit << ", profile " << c.use_profile;
    }
  }
}

// ---- profile resolution --------------------------------------------------------

class Profiles : public Setup {
 protected:
  refhost::ShaderInstance& profile_light() {
    refhost::ShaderInstance& s = light();
    s.set_int("use_profile", 1);
    s.set_int("absolute_intensity", 1);
    return s;
  }
};

TEST_F(Profiles, ATagWinsOverAName) {
  for (const char* text : {"named", "missing"}) {
    refhost::clear_messages();
    refhost::ShaderInstance& s = profile_light();
    const miTag direct = profile_element(miLP_STD_IES);
    profile_element(miLP_STD_IES, "zel_lightprofile::named");
    s.set_tag("profile", direct);
    const miTag name = s.set_string("profile_name", text);
    EXPECT_EQ(init(s)->profile, direct) << text;
    // The name is not looked at: a missing one gives no warning.
    EXPECT_TRUE(refhost::warnings().empty()) << text;
    EXPECT_EQ(refhost::pin_count(name), 0);
  }
}

TEST_F(Profiles, NameIsLookedUpUnderTheProfilePrefix) {
  refhost::ShaderInstance& s = profile_light();
  const miTag profile = profile_element(miLP_STD_IES, "zel_lightprofile::desk lamp");
  profile_element(miLP_STD_IES, "desk lamp");  // a namesake without the prefix
  const miTag name = s.set_string("profile_name", "desk lamp");
  EXPECT_EQ(init(s)->profile, profile);
  EXPECT_TRUE(refhost::warnings().empty());
  EXPECT_EQ(refhost::pin_count(name), 0);
}

// The profile's reference intensity and format come from the host's profile.
TEST_F(Profiles, ReferenceIntensityAndFormat) {
  const refhost::ProfileTable table{{0, 90, 180}, {0}, {120, 480, 30}};
  for (const int format : {miLP_STD_IES, miLP_STD_EULUMDAT}) {
    refhost::ShaderInstance& s = profile_light();
    s.set_int("absolute_intensity", 0);
    const miTag profile = refhost::add_profile("lamp" + std::to_string(format), table, format);
    s.set_tag("profile", profile);
    const lumenfield_user* u = init(s);
    EXPECT_EQ(u->profile, profile);
    EXPECT_EQ(u->profile_candela, 480.0f) << "format " << format;
    EXPECT_EQ(u->profile_format, format);
    EXPECT_EQ(refhost::pin_count(profile), 0);
  }
}

TEST_F(Profiles, UnknownNameWarns) {
  refhost::ShaderInstance& s = profile_light();
  profile_element(miLP_STD_IES, "zel_lightprofile::other");
  const miTag name = s.set_string("profile_name", "missing");
  const lumenfield_user* u = init(s);
  EXPECT_EQ(u->profile, 0u);
  EXPECT_EQ(u->profile_format, 0);
  EXPECT_EQ(u->profile_candela, 0.0f);
  EXPECT_EQ(u->absolute_intensity, 1);
  ASSERT_EQ(refhost::warnings().size(), 1u);
  EXPECT_EQ(refhost::warnings()[0], kNotFound);
  EXPECT_EQ(refhost::pin_count(name), 0);
}

TEST_F(Profiles, EmptyNameGivesNoProfileAndNoWarning) {
  refhost::ShaderInstance& s = profile_light();
  profile_element(miLP_STD_IES, "zel_lightprofile::");
  const miTag name = s.set_string("profile_name", "");
  EXPECT_EQ(init(s)->profile, 0u);
  EXPECT_TRUE(refhost::messages().empty());
  EXPECT_EQ(refhost::pin_count(name), 0);
}

TEST_F(Profiles, TagOfAnotherKindWithoutANameGivesNoProfile) {
  refhost::ShaderInstance& s = profile_light();
  s.set_tag("profile", refhost::add_string("not a profile"));
  EXPECT_EQ(init(s)->profile, 0u);
  EXPECT_TRUE(refhost::messages().empty());
}

// The composed name is bounded by its 1024-byte buffer: a name that fits is
// looked up; one that would not fit is refused with a warning, never cut
// short into the name of another profile.
TEST_F(Profiles, NameTooLongIsRefused) {
  const std::string prefix = "zel_lightprofile::";
  const std::string fits(1023 - prefix.size(), 'a');  // 1023 characters and the terminator
  const std::string too_long = fits + "b";
  const miTag fitting = profile_element(miLP_STD_IES, prefix + fits);

  refhost::ShaderInstance& ok = profile_light();
  ok.set_string("profile_name", fits);
  EXPECT_EQ(init(ok)->profile, fitting);
  EXPECT_TRUE(refhost::warnings().empty());

  for (const std::string& name : {too_long, std::string(5000, 'x')}) {
    refhost::clear_messages();
    refhost::clear_edit_log();
    refhost::ShaderInstance& s = profile_light();
    const miTag tag = s.set_string("profile_name", name);
    EXPECT_EQ(init(s)->profile, 0u) << name.size() << " characters";
    ASSERT_EQ(refhost::warnings().size(), 1u);
    EXPECT_EQ(refhost::warnings()[0], kTooLong);
    EXPECT_EQ(refhost::pin_count(tag), 0);
    for (const std::string& edit : refhost::edit_log())
      EXPECT_EQ(edit.find("lightprofile_lookup"), std::string::npos) << "no look-up: " << edit;
  }
}

// A profile defined by the profile shader under a user's name is found by
// the light under the same name.
TEST_F(Profiles, FindsAProfileTheProfileShaderDefined) {
  const std::string path = ::testing::TempDir() + "/setup_lamp.ies";
  std::ofstream(path) << "IESNA:LM-63-2002\n[TEST] lamp\nTILT=NONE\n"
                         "1 -1 1 3 1 1 2 0.1 0.1 0\n1 1 10\n0 90 180\n0\n250 100 20\n";
  refhost::ShaderInstance& definer = make("zel_lightprofile");
  definer.set_string("file_name", path);
  definer.set_string("profile_name", "desk lamp");
  definer.set_int("format", miLP_STD_IES);
  miState state = refhost::make_state(&definer, &thread_, miRAY_EYE);
  definer.init(&state);
  ASSERT_TRUE(definer.call(nullptr, &state));

  refhost::ShaderInstance& s = profile_light();
  s.set_string("profile_name", "desk lamp");
  const lumenfield_user* u = init(s);
  EXPECT_NE(u->profile, 0u);
  EXPECT_EQ(u->profile_format, miLP_STD_IES);
  EXPECT_EQ(u->profile_candela, 250.0f);
  EXPECT_TRUE(refhost::warnings().empty());
}

TEST_F(Profiles, NameOfAnotherKindOfElementIsNotRead) {
  refhost::ShaderInstance& s = profile_light();
  s.set_tag("profile_name", profile_element(miLP_STD_IES));
  EXPECT_EQ(init(s)->profile, 0u);
  EXPECT_TRUE(refhost::messages().empty());
}

TEST_F(Profiles, NoProfileWithoutUseProfile) {
  refhost::ShaderInstance& s = light();
  s.set_int("use_profile", 0);
  s.set_tag("profile", profile_element(miLP_STD_IES));
  const miTag name = s.set_string("profile_name", "missing");
  EXPECT_EQ(init(s)->profile, 0u);
  EXPECT_TRUE(refhost::warnings().empty());
  EXPECT_EQ(refhost::pin_count(name), 0);
}

}  // namespace
