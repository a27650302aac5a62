// A scene object turned into a light by the light object generator, with the
// area light attached to the generated light: the area light finds its
// light, shape and place through the host as for any other light.
#include <cmath>
#include <string>

#include "refhost/refhost.h"
#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace {

constexpr double kPi = 3.141592653589793;

refhost::Matrix uniform_scale(float s) {
  refhost::Matrix m = refhost::identity();
  m.m[0] = m.m[5] = m.m[10] = s;
  return m;
}

class ObjectLightScene : public zeltest::HostTest {
 protected:
  // A ball of `radius` placed by `placement`, made a light by the generator
  // with the colour (r, g, b) × `scale`; returns the generated light instance.
  miTag glowing_ball(float radius, const refhost::Matrix& placement, miColor color, float scale) {
    refhost::set_base_name_tag(refhost::db_add(miSCENE_FUNCTION, 16, "glow"));
    refhost::Geometry ball;
    ball.kind = refhost::Geometry::Sphere;
    ball.radius = radius;
    refhost::add_instance("ball", refhost::add_object("ball_obj", ball), placement);

    refhost::ShaderInstance& generator = make("zel_light_object");
    generator.set_string("source", "ball");
    generator.set_tag("light_shader", refhost::db_add(miSCENE_FUNCTION, 16, "area_fn"));
    generator.set_color("color", color);
    generator.set_float("color_scale", scale);
    miState state = refhost::make_state(&generator, &thread_, miRAY_EYE);
    generator.init(&state);
    int result = 0;
    EXPECT_TRUE(generator.call(&result, &state));
    const auto added = refhost::geoshader_results();
    return added.size() == 1 ? added.front() : 0;
  }
};

TEST_F(ObjectLightScene, AreaLightFindsTheObjectLightWhereTheObjectStands) {
  const struct {
    const char* label;
    refhost::Matrix placement;
    miVector centre;
  } cases[] = {
      {"at the origin", refhost::identity(), {0, 0, 0}},
      {"moved", refhost::translate(2, -1, 3), {2, -1, 3}},
      {"turned and moved",
       refhost::multiply(refhost::rotate_xyz(0, 0, 90), refhost::translate(-4, 0.5f, 1)),
       {-4, 0.5f, 1}},
  };
  for (const auto& c : cases) {
    refhost::reset();
    refhost::reset_editing();
    const miTag light_instance = glowing_ball(0.5f, c.placement, {1, 0.5f, 0.25f, 1}, 4);
    ASSERT_NE(light_instance, 0u) << c.label;

    refhost::ShaderInstance& area = lumenfield();
    miState state = refhost::make_state(&area, &thread_, miRAY_LIGHT, light_instance);
    area.init(&state);
    const auto* user = static_cast<const lumenfield_user*>(area.user());
    ASSERT_NE(user, nullptr) << c.label;
    EXPECT_EQ(user->area_shape, miLIGHT_OBJECT) << c.label;
    EXPECT_EQ(user->area_vector_a, nullptr) << c.label;
    EXPECT_EQ(user->area_vector_b, nullptr) << c.label;
    // The light's own origin carried by its instance lands on the object's
    // centre, not on its mirror image through the world origin.
    EXPECT_NEAR(user->origin.x, c.centre.x, 1e-5f) << c.label;
    EXPECT_NEAR(user->origin.y, c.centre.y, 1e-5f) << c.label;
    EXPECT_NEAR(user->origin.z, c.centre.z, 1e-5f) << c.label;
    EXPECT_EQ(user->energy.r, 4.0f) << c.label;
    EXPECT_EQ(user->energy.g, 2.0f) << c.label;
    EXPECT_EQ(user->energy.b, 1.0f) << c.label;
    EXPECT_TRUE(refhost::warnings().empty()) << c.label << ": " << refhost::warnings().front();
    for (auto& i : instances_) i->exit();
    instances_.clear();
  }
}

// Seen by a camera ray, the generated light's surface has the radiance of
// its intensity spread over the object's own area: π·I/A, with A the area
// of the ball as placed (radius 1, or 2 once scaled up), from the host.
TEST_F(ObjectLightScene, VisibleSurfaceSpreadsTheIntensityOverTheObjectsArea) {
  const float candela = 100;
  const struct {
    const char* label;
    refhost::Matrix placement;
    double placed_radius;
  } cases[] = {
      {"unit ball at the origin", refhost::identity(), 1},
      {"unit ball moved and turned",
       refhost::multiply(refhost::rotate_xyz(30, 0, 45), refhost::translate(3, 1, -2)), 1},
      {"ball scaled to radius 2", refhost::multiply(uniform_scale(2), refhost::translate(0, 5, 0)),
       2},
  };
  for (const auto& c : cases) {
    refhost::reset();
    refhost::reset_editing();
    const miTag light_instance = glowing_ball(1.0f, c.placement, {1, 1, 1, 1}, 1);
    ASSERT_NE(light_instance, 0u) << c.label;

    refhost::ShaderInstance& area = lumenfield();
    area.set_float("intensity", candela);  // unit 0: candela; scene in metres
    miState state = refhost::make_state(&area, &thread_, miRAY_EYE, light_instance);
    area.init(&state);

    // A camera on the ball's x axis looking at its nearest point.
    const miVector centre = refhost::transform_point({0, 0, 0}, c.placement);
    const auto r = static_cast<float>(c.placed_radius);
    state.org = {centre.x + 10, centre.y, centre.z};
    state.dir = {-1, 0, 0};
    state.point = {centre.x + r, centre.y, centre.z};
    state.normal = {1, 0, 0};
    state.dist = double(10 - r);
    miColor seen{};
    ASSERT_TRUE(area.call(&seen, &state)) << c.label;

    const double placed_area = 4 * kPi * c.placed_radius * c.placed_radius;
    const double radiance = kPi * double(candela) / placed_area;
    EXPECT_TRUE(zeltest::near_rel(double(seen.r), radiance, 1e-5))
        << c.label << ": " << seen.r << ", expected " << radiance;
    EXPECT_EQ(seen.g, seen.r) << c.label;
    EXPECT_EQ(seen.b, seen.r) << c.label;
    EXPECT_TRUE(refhost::warnings().empty()) << c.label << ": " << refhost::warnings().front();
    for (auto& i : instances_) i->exit();
    instances_.clear();
  }
}

}  // namespace
