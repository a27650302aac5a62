// The host's light-profile service: bilinear lookups in the light's space,
// the record's settings, the reference intensity, and the table cache.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "refhost/profiles.h"
#include "tests/host_fixture.h"

namespace {

using refhost::profile_direction;
using refhost::ProfileTable;
using refhost::sample_table;

// Four planes a quarter turn apart, γ 0, 45 and 90 degrees; every value
// distinct so that a wrong index shows.
ProfileTable quarter_table() {
  ProfileTable t;
  t.vertical = {0, 45, 90};
  t.horizontal = {0, 90, 180, 270};
  t.candela = {100, 80, 10,   // C0
               100, 60, 20,   // C90
               100, 40, 30,   // C180
               100, 20, 40};  // C270
  return t;
}

void set_word(miTag tag, size_t offset, int32_t value) {
  std::memcpy(static_cast<unsigned char*>(refhost::db_data(tag)) + offset, &value, sizeof value);
}

class ProfileService : public zeltest::HostTest {};

TEST(ProfileTableSampling, BilinearInGammaAndC) {
  const ProfileTable t = quarter_table();
  struct Case {
    double gamma, c, expected;
  } cases[] = {{0, 0, 100},       {45, 0, 80},   {90, 90, 20},   {45, 180, 40},
               {22.5, 0, 90},     {45, 45, 70},  {67.5, 90, 40}, {45, 315, 50},  // wrap 270 → 360
               {90, 359.999, 10}, {0, 123, 100}, {45, 270, 20},  {67.5, 135, 37.5}};
  for (const Case& k : cases)
    EXPECT_NEAR(sample_table(t, profile_direction(k.gamma, k.c)), k.expected, 1e-3)
        << "γ " << k.gamma << " C " << k.c;
}

TEST(ProfileTableSampling, OutsideTheTabulatedGammaIsDark) {
  const ProfileTable t = quarter_table();
  for (double gamma : {90.5, 120.0, 180.0})
    EXPECT_EQ(sample_table(t, profile_direction(gamma, 30)), 0.0f) << "γ " << gamma;
  // Direction length does not matter; a zero or non-finite direction is dark.
  const miVector d = profile_direction(45, 0);
  EXPECT_NEAR(sample_table(t, {d.x * 7, d.y * 7, d.z * 7}), 80, 1e-3);
  EXPECT_EQ(sample_table(t, {0, 0, 0}), 0.0f);
  EXPECT_EQ(sample_table(t, {NAN, 0, -1}), 0.0f);
}

TEST(ProfileTableSampling, OnePlaneIsRotationallySymmetric) {
  ProfileTable t;
  t.vertical = {0, 90, 180};
  t.horizontal = {0};
  t.candela = {10, 20, 30};
  for (double c : {0.0, 77.0, 181.0, 300.0})
    EXPECT_NEAR(sample_table(t, profile_direction(135, c)), 25, 1e-4) << "C " << c;
}

TEST(ProfileTableSampling, SettingsShapeTheLookup) {
  const ProfileTable t = quarter_table();
  refhost::ProfileSettings nearest;
  nearest.nearest = true;
  EXPECT_NEAR(sample_table(t, profile_direction(30, 50), nearest), 60, 1e-4);
  refhost::ProfileSettings clockwise;
  clockwise.clockwise = true;  // the file's C90 lies along −y
  EXPECT_NEAR(sample_table(t, profile_direction(90, 270), clockwise), 20, 1e-4);
  refhost::ProfileSettings turned;
  turned.c_turn = 90;  // the file's C0 lies along +y
  EXPECT_NEAR(sample_table(t, profile_direction(90, 90), turned), 10, 1e-4);
  refhost::ProfileSettings doubled;
  doubled.multiplier = 2;
  EXPECT_NEAR(sample_table(t, profile_direction(45, 0), doubled), 160, 1e-3);
}

// A light instance whose −z axis points along world +x: the profile's
// downward direction is then the world's +x.
TEST_F(ProfileService, SampleTurnsTheRayIntoLightSpace) {
  const miTag profile = refhost::add_profile("p", quarter_table());
  refhost::LightDesc desc;
  const miTag inst = add_light_instance(desc, refhost::rotate_xyz(0, -90, 0));
  miState state = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, inst);
  // Light space −z maps to world +x under a −90° turn about y (row vectors).
  const miVector down = refhost::transform_vector({0, 0, -1}, refhost::rotate_xyz(0, -90, 0));
  ASSERT_NEAR(down.x, 1.0, 1e-6);
  state.dir = {1, 0, 0};
  EXPECT_NEAR(mi_lightprofile_sample(&state, profile, 0), 100, 1e-3);
  EXPECT_NEAR(mi_lightprofile_sample(&state, profile, 1), 1.0, 1e-6);
  state.dir = {-1, 0, 0};  // straight up in light space: outside the table
  EXPECT_EQ(mi_lightprofile_sample(&state, profile, 0), 0.0f);

  float peak = -1;
  EXPECT_EQ(mi_query(miQ_LIGHTPROFILE_MAXVAL, &state, profile, &peak), 1);
  EXPECT_EQ(peak, 100.0f);
}

TEST_F(ProfileService, RelativeFlagDividesByThePeakAndTheMultiplierCancels) {
  const miTag profile = refhost::add_profile("p", quarter_table());
  set_word(profile, refhost::kProfileMultiplierOffset, 250);
  miState state = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, 0);
  const miVector d = profile_direction(45, 90);
  state.dir = d;
  EXPECT_NEAR(mi_lightprofile_sample(&state, profile, 0), 150, 1e-3);
  EXPECT_NEAR(mi_lightprofile_sample(&state, profile, 1), 0.6, 1e-6);
  float peak = 0;
  mi_query(miQ_LIGHTPROFILE_MAXVAL, &state, profile, &peak);
  EXPECT_EQ(peak, 250.0f);
  // Negative percentages are refused, once, and read as 100 %.
  set_word(profile, refhost::kProfileMultiplierOffset, -5);
  EXPECT_NEAR(mi_lightprofile_sample(&state, profile, 0), 60, 1e-3);
  EXPECT_NEAR(mi_lightprofile_sample(&state, profile, 0), 60, 1e-3);
  EXPECT_EQ(refhost::warnings().size(), 1u);
}

TEST_F(ProfileService, RecordSettingsReachTheSampler) {
  const miTag profile = refhost::add_profile("p", quarter_table());
  set_word(profile, refhost::kProfileInterpolationOffset, 1);
  set_word(profile, refhost::kProfileCDirectionOffset, 1);
  set_word(profile, refhost::kProfileCTurnOffset, 30);
  const refhost::ProfileSettings s = refhost::profile_settings(profile);
  EXPECT_TRUE(s.nearest);
  EXPECT_TRUE(s.clockwise);
  EXPECT_EQ(s.c_turn, 30.0);
  EXPECT_EQ(s.multiplier, 1.0);
  // The table handed over stays through a change of settings.
  ASSERT_NE(refhost::profile_table(profile), nullptr);
  EXPECT_EQ(refhost::profile_table(profile)->candela.size(), 12u);
}

// The service finds a direction's place in its table from the angle's
// proportion of the range, checked against the neighbours; on unevenly
// spaced angles, exactly on tabulated ones and past the last plane, with
// and without the record's settings, it must land where a plain search of
// the table lands, to the last bit.
TEST_F(ProfileService, LookUpsLandWhereASearchOfTheTableLands) {
  ProfileTable t;
  t.vertical = {0, 2.5, 5, 10, 20, 35, 50, 65, 80, 90};
  t.horizontal = {0, 15, 30, 60, 90, 180, 270, 345};
  for (size_t h = 0; h < t.horizontal.size(); ++h)
    for (size_t v = 0; v < t.vertical.size(); ++v)
      t.candela.push_back(float(1000 - 7 * v * v + 13 * h + (h * v) % 5));
  const miTag profile = refhost::add_profile("uneven", t);
  miState state = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, 0);
  struct Settings {
    int nearest, clockwise, turn;
  } const settings[] = {{0, 0, 0}, {0, 1, 30}, {1, 0, -400}, {0, 0, 725}};
  for (const Settings& k : settings) {
    set_word(profile, refhost::kProfileInterpolationOffset, k.nearest);
    set_word(profile, refhost::kProfileCDirectionOffset, k.clockwise);
    set_word(profile, refhost::kProfileCTurnOffset, k.turn);
    const refhost::ProfileSettings with = refhost::profile_settings(profile);
    int differing = 0, checked = 0;
    for (double g = 0; g <= 92; g += 0.5)
      for (double c = -20; c <= 380; c += 2.5) {
        state.dir = profile_direction(g, c);
        differing += mi_lightprofile_sample(&state, profile, 0) != sample_table(t, state.dir, with);
        ++checked;
      }
    EXPECT_EQ(differing, 0) << "of " << checked << " with turn " << k.turn;
  }
}

TEST_F(ProfileService, UnreadableFileWarnsOnceAndIsDark) {
  const miTag profile = refhost::db_add(miSCENE_LIGHTPROFILE, refhost::kProfileRecordSize, "gone");
  const miTag file = refhost::add_string("/nonexistent/lobby.ies");
  set_word(profile, refhost::kProfileFormatOffset, 1);
  set_word(profile, refhost::kProfileSourceOffset, 1);
  set_word(profile, refhost::kProfileFileNameOffset, static_cast<int32_t>(file));
  miState state = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, 0);
  state.dir = {0, 0, -1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(mi_lightprofile_sample(&state, profile, 0), 0.0f);
    EXPECT_EQ(mi_lightprofile_sample(&state, profile, 1), 0.0f);
  }
  float peak = -1;
  EXPECT_EQ(mi_query(miQ_LIGHTPROFILE_MAXVAL, &state, profile, &peak), 0);
  EXPECT_EQ(peak, 0.0f);
  EXPECT_EQ(refhost::profile_table(profile), nullptr);
  const auto w = refhost::warnings();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find("/nonexistent/lobby.ies"), std::string::npos) << w[0];
}

TEST_F(ProfileService, NotAProfileSamplesToZero) {
  const miTag text = refhost::add_string("x");
  miState state = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, 0);
  state.dir = {0, 0, -1};
  EXPECT_EQ(mi_lightprofile_sample(&state, text, 0), 0.0f);
  EXPECT_EQ(mi_lightprofile_sample(&state, 0, 0), 0.0f);
  EXPECT_EQ(mi_lightprofile_sample(nullptr, 0, 0), 0.0f);
  EXPECT_EQ(refhost::profile_table(text), nullptr);
}

// First use from several render threads at once builds one table that all
// of them see.
TEST_F(ProfileService, ThreadsShareOneTable) {
  const miTag profile = refhost::add_profile("p", quarter_table());
  set_word(profile, refhost::kProfileMultiplierOffset, 200);  // forces a rebuild on first use
  std::vector<std::thread> threads;
  std::vector<float> got(4, 0.0f);
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      refhost::ThreadContext ctx(i, 1);
      miState state = refhost::make_state(nullptr, &ctx, miRAY_LIGHT, 0);
      state.dir = profile_direction(45, 180);
      float sum = 0;
      for (int k = 0; k < 1000; ++k) sum += mi_lightprofile_sample(&state, profile, 0);
      got[size_t(i)] = sum / 1000;
    });
  for (auto& t : threads) t.join();
  for (float g : got) EXPECT_NEAR(g, 80, 1e-3);
}

}  // namespace
