// The reference host's probe and shadow rays: exact distances to every kind
// of geometry, instancing, and shadows that multiply transparencies.
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "refhost/trace.h"
#include "tests/host_fixture.h"

namespace {

using refhost::Geometry;
using zeltest::HostTest;

class Trace : public HostTest {};

Geometry plane(miVector center, miVector normal) {
  Geometry g;
  g.kind = Geometry::Plane;
  g.center = center;
  g.normal = normal;
  return g;
}
Geometry rectangle(miVector center, miVector u, miVector v) {
  Geometry g;
  g.kind = Geometry::Rectangle;
  g.center = center;
  g.u = u;
  g.v = v;
  return g;
}
Geometry disc(miVector center, miVector normal, float radius) {
  Geometry g;
  g.kind = Geometry::Disc;
  g.center = center;
  g.normal = normal;
  g.radius = radius;
  return g;
}
Geometry sphere(miVector center, float radius) {
  Geometry g;
  g.kind = Geometry::Sphere;
  g.center = center;
  g.radius = radius;
  return g;
}
Geometry box(miVector lo, miVector hi) {
  Geometry g;
  g.kind = Geometry::Box;
  g.min = lo;
  g.max = hi;
  return g;
}
Geometry with_transparency(Geometry g, miColor t) {
  g.transparency = t;
  return g;
}

struct Probe {
  bool hit;
  double dist;
  miTag instance;
  miVector point;
};

Probe probe(miState& state, miVector origin, miVector direction) {
  const bool hit = mi_trace_probe(&state, &direction, &origin) != 0;
  return {hit, state.probe.dist, state.probe.instance, state.probe.point};
}

// A light ray from `from` (on the light) to `to` (the illuminated point).
miState light_ray(refhost::ThreadContext& thread, miVector from, miVector to) {
  miState s = refhost::make_state(nullptr, &thread, miRAY_LIGHT);
  const double dx = double(to.x) - double(from.x);
  const double dy = double(to.y) - double(from.y);
  const double dz = double(to.z) - double(from.z);
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  s.org = from;
  s.point = to;
  s.dir = {float(dx / length), float(dy / length), float(dz / length)};
  s.dist = length;
  return s;
}

struct Shadow {
  bool lit;
  miColor colour;
};

Shadow shadow(refhost::ThreadContext& thread, miVector from, miVector to) {
  miState s = light_ray(thread, from, to);
  miColor c{1, 1, 1, 1};
  const bool lit = mi_trace_shadow(&c, &s) != 0;
  return {lit, c};
}

TEST_F(Trace, ProbeFindsTheExactDistanceToEachKindOfGeometry) {
  struct Case {
    const char* what;
    Geometry geometry;
    miVector origin, direction;
    bool hit;
    double dist;
  };
  const Case cases[] = {
      {"plane below", plane({0, 0, -5}, {0, 0, 1}), {0, 0, 0}, {0, 0, -1}, true, 5},
      {"plane seen from its back", plane({0, 0, -5}, {0, 0, 1}), {0, 0, -9}, {0, 0, 1}, true, 4},
      {"plane parallel to the ray", plane({0, 0, -5}, {0, 0, 1}), {0, 0, 0}, {1, 0, 0}, false, 0},
      {"plane behind the origin", plane({0, 0, -5}, {0, 0, 1}), {0, 0, 0}, {0, 0, 1}, false, 0},
      {"rectangle inside its corner",
       rectangle({0, 0, -3}, {1, 0, 0}, {0, 2, 0}),
       {0.9f, 1.9f, 0},
       {0, 0, -1},
       true,
       3},
      {"rectangle beside its edge",
       rectangle({0, 0, -3}, {1, 0, 0}, {0, 2, 0}),
       {1.1f, 0, 0},
       {0, 0, -1},
       false,
       0},
      {"rectangle with skewed edges",
       rectangle({0, 0, -3}, {1, 0, 0}, {1, 1, 0}),
       {1.5f, 0.9f, 0},
       {0, 0, -1},
       true,
       3},
      {"outside a skewed rectangle",
       rectangle({0, 0, -3}, {1, 0, 0}, {1, 1, 0}),
       {-1.5f, 0.9f, 0},
       {0, 0, -1},
       false,
       0},
      {"disc inside its rim", disc({0, 0, -4}, {0, 0, 1}, 2), {1.9f, 0, 0}, {0, 0, -1}, true, 4},
      {"disc beyond its rim",
       disc({0, 0, -4}, {0, 0, 1}, 2),
       {1.5f, 1.5f, 0},
       {0, 0, -1},
       false,
       0},
      {"tilted disc", disc({0, 0, -4}, {0, 1, 1}, 1), {0, 0, 0}, {0, 0, -1}, true, 4},
      {"sphere ahead", sphere({0, 0, -10}, 2), {0, 0, 0}, {0, 0, -1}, true, 8},
      {"sphere from inside", sphere({0, 0, -10}, 2), {0, 0, -10}, {0, 0, -1}, true, 2},
      {"sphere off the ray", sphere({0, 0, -10}, 2), {2.5f, 0, 0}, {0, 0, -1}, false, 0},
      {"sphere along a diagonal", sphere({3, 4, 0}, 1), {0, 0, 0}, {0.6f, 0.8f, 0}, true, 4},
      {"box ahead", box({-1, -1, -7}, {1, 1, -6}), {0, 0, 0}, {0, 0, -1}, true, 6},
      {"box from inside", box({-1, -1, -7}, {1, 1, -6}), {0, 0, -6.5f}, {1, 0, 0}, true, 1},
      {"box beside the ray", box({-1, -1, -7}, {1, 1, -6}), {1.5f, 0, 0}, {0, 0, -1}, false, 0},
      {"direction of length 3", sphere({0, 0, -10}, 2), {0, 0, 0}, {0, 0, -3}, true, 8},
  };
  for (const Case& c : cases) {
    refhost::reset();
    refhost::add_object("object", c.geometry);
    miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE);
    const Probe p = probe(state, c.origin, c.direction);
    EXPECT_EQ(p.hit, c.hit) << c.what;
    if (!c.hit || !p.hit) continue;
    EXPECT_NEAR(p.dist, c.dist, 1e-14 * c.dist) << c.what;
    const miVector& o = c.origin;
    const miVector& d = c.direction;
    const double length = std::sqrt(double(d.x) * double(d.x) + double(d.y) * double(d.y) +
                                    double(d.z) * double(d.z));
    const double step = c.dist / length;
    EXPECT_FLOAT_EQ(p.point.x, float(double(o.x) + step * double(d.x))) << c.what;
    EXPECT_FLOAT_EQ(p.point.y, float(double(o.y) + step * double(d.y))) << c.what;
    EXPECT_FLOAT_EQ(p.point.z, float(double(o.z) + step * double(d.z))) << c.what;
    EXPECT_EQ(p.instance, 0u) << c.what << ": an object used directly has no instance";
  }
}

TEST_F(Trace, ProbeTakesTheNearestOfSeveralSurfaces) {
  refhost::add_object("far", plane({0, 0, -20}, {0, 0, 1}));
  refhost::add_object("near", sphere({0, 0, -6}, 1));
  refhost::add_object("behind", sphere({0, 0, 6}, 1));
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE);
  const Probe p = probe(state, {0, 0, 0}, {0, 0, -1});
  ASSERT_TRUE(p.hit);
  EXPECT_EQ(p.dist, 5.0);
}

TEST_F(Trace, ProbeMissLeavesNoHitBehind) {
  refhost::add_object("ball", sphere({0, 0, -6}, 1));
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE);
  ASSERT_TRUE(probe(state, {0, 0, 0}, {0, 0, -1}).hit);
  const Probe miss = probe(state, {0, 0, 0}, {0, 0, 1});
  EXPECT_FALSE(miss.hit);
  EXPECT_EQ(miss.dist, -1.0);
  EXPECT_EQ(miss.instance, 0u);
  miVector zero{0, 0, 0}, origin{0, 0, 0};
  EXPECT_EQ(mi_trace_probe(&state, &zero, &origin), 0) << "a direction of no length";
}

TEST_F(Trace, ProbeStartsAtTheStateOriginWhenNoneIsGiven) {
  refhost::add_object("floor", plane({0, 0, 0}, {0, 0, 1}));
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE);
  state.org = {0, 0, 7};
  const miVector down{0, 0, -1};
  ASSERT_EQ(mi_trace_probe(&state, &down, nullptr), 1);
  EXPECT_EQ(state.probe.dist, 7.0);
}

// A unit square in the object's x–y plane, turned 90° about x (so that it
// faces along y) and moved to y = 5 by its instance.
TEST_F(Trace, InstancesPlaceTheirObjectsInTheWorld) {
  const miTag square = refhost::add_object("square", rectangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}));
  const refhost::Matrix place =
      refhost::multiply(refhost::rotate_xyz(90, 0, 0), refhost::translate(0, 5, 2));
  const miTag inst = refhost::add_instance("square_inst", square, place);
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE);

  const Probe p = probe(state, {0.5f, 0, 2.5f}, {0, 1, 0});
  ASSERT_TRUE(p.hit);
  EXPECT_NEAR(p.dist, 5.0, 1e-6);
  EXPECT_EQ(p.instance, inst);
  EXPECT_NEAR(p.point.y, 5.0f, 1e-6f);
  EXPECT_FALSE(probe(state, {0.5f, 0, 3.5f}, {0, 1, 0}).hit) << "beyond the turned square";
  EXPECT_FALSE(probe(state, {0.5f, 0.5f, 1}, {0, 0, -1}).hit)
      << "the object is not also traced where it stands in its own space";
}

TEST_F(Trace, ProbeFromAnObjectLightPassesItsOwnEmitter) {
  const miTag ball = refhost::add_object("ball", sphere({0, 0, 0}, 1));
  const miTag ball_inst = refhost::add_instance("ball_inst", ball, refhost::identity());
  refhost::add_object("floor", plane({0, 0, -5}, {0, 0, 1}));
  refhost::LightDesc desc;
  desc.shape = miLIGHT_OBJECT;
  desc.obj_instance = ball_inst;
  const miTag light_inst = add_light_instance(desc);

  miState own = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, light_inst);
  const Probe from_light = probe(own, {0, 0, 0}, {0, 0, -1});
  ASSERT_TRUE(from_light.hit);
  EXPECT_EQ(from_light.dist, 5.0);

  miState other = refhost::make_state(nullptr, &thread_, miRAY_EYE);
  const Probe from_eye = probe(other, {0, 0, 0}, {0, 0, -1});
  ASSERT_TRUE(from_eye.hit);
  EXPECT_EQ(from_eye.dist, 1.0);
  EXPECT_EQ(from_eye.instance, ball_inst);
}

TEST_F(Trace, ShadowMultipliesTheTransparencyOfEveryOccluder) {
  struct Case {
    const char* what;
    std::vector<Geometry> occluders;
    bool lit;
    miColor expected;
  };
  const miVector light{0, 0, 10}, point{0, 0, 0};
  const Geometry slab_a = rectangle({0, 0, 3}, {1, 0, 0}, {0, 1, 0});
  const Geometry slab_b = disc({0, 0, 6}, {0, 0, 1}, 1);
  const Case cases[] = {
      {"nothing in between", {}, true, {1, 1, 1, 1}},
      {"two grey occluders",
       {with_transparency(slab_a, {0.5f, 0.5f, 0.5f, 1}),
        with_transparency(slab_b, {0.4f, 0.4f, 0.4f, 1})},
       true,
       {0.2f, 0.2f, 0.2f, 1}},
      {"tinted occluders multiply per channel",
       {with_transparency(slab_a, {0.5f, 1, 0.25f, 1}),
        with_transparency(slab_b, {0.4f, 0.5f, 1, 1})},
       true,
       {0.2f, 0.5f, 0.25f, 1}},
      {"an opaque occluder", {slab_a}, false, {0, 0, 0, 1}},
      {"a sphere counts once though crossed twice",
       {with_transparency(sphere({0, 0, 5}, 2), {0.5f, 0.5f, 0.5f, 1})},
       true,
       {0.5f, 0.5f, 0.5f, 1}},
      {"a red filter",
       {with_transparency(box({-1, -1, 4}, {1, 1, 5}), {1, 0, 0, 1})},
       true,
       {1, 0, 0, 1}},
      {"complementary filters block everything",
       {with_transparency(slab_a, {1, 0, 0, 1}), with_transparency(slab_b, {0, 1, 1, 1})},
       false,
       {0, 0, 0, 1}},
      {"transparency above one lets through no more than all",
       {with_transparency(slab_a, {2, 2, 2, 1})},
       true,
       {1, 1, 1, 1}},
      {"occluder beside the ray", {sphere({3, 0, 5}, 1)}, true, {1, 1, 1, 1}},
      {"occluder below the receiver", {plane({0, 0, -1}, {0, 0, 1})}, true, {1, 1, 1, 1}},
      {"occluder behind the light", {sphere({0, 0, 12}, 1)}, true, {1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    refhost::reset();
    for (const Geometry& g : c.occluders) refhost::add_object("occluder", g);
    const Shadow s = shadow(thread_, light, point);
    EXPECT_EQ(s.lit, c.lit) << c.what;
    EXPECT_FLOAT_EQ(s.colour.r, c.expected.r) << c.what;
    EXPECT_FLOAT_EQ(s.colour.g, c.expected.g) << c.what;
    EXPECT_FLOAT_EQ(s.colour.b, c.expected.b) << c.what;
    EXPECT_EQ(s.colour.a, 1.0f) << c.what << ": alpha is not a transmission";
  }
}

TEST_F(Trace, ObjectsThatCastNoShadowAreIgnoredByShadowsButNotByProbes) {
  Geometry glass = rectangle({0, 0, 5}, {1, 0, 0}, {0, 1, 0});
  glass.casts_shadow = false;
  refhost::add_object("glass", glass);
  EXPECT_TRUE(shadow(thread_, {0, 0, 10}, {0, 0, 0}).lit);
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE);
  EXPECT_TRUE(probe(state, {0, 0, 10}, {0, 0, -1}).hit);
}

// The receiver and the emitter are surfaces themselves: a light ray ends on
// the one and starts on the other, and neither may shadow it.
TEST_F(Trace, TheSurfacesAtBothEndsOfTheRayCastNoShadow) {
  refhost::add_object("floor", plane({0, 0, 0}, {0, 0, 1}));
  refhost::add_object("lamp shade", disc({0, 0, 10}, {0, 0, 1}, 1));
  refhost::add_object("ball receiver", sphere({30, 0, 1}, 1));
  const struct {
    const char* what;
    miVector from, to;
  } cases[] = {
      {"straight down onto the floor", {0, 0, 10}, {0, 0, 0}},
      {"slanting onto the floor far away", {0.5f, 0, 10}, {1000, 250, 0}},
      {"onto the top of the ball", {30, 0, 10}, {30, 0, 2}},
      {"onto the floor far from the origin", {1e4f, 1e4f, 3}, {1e4f + 7, 1e4f, 0}},
  };
  for (const auto& c : cases) {
    const Shadow s = shadow(thread_, c.from, c.to);
    EXPECT_TRUE(s.lit) << c.what;
    EXPECT_EQ(s.colour.r, 1.0f) << c.what;
  }
  EXPECT_FALSE(shadow(thread_, {30, 0, 10}, {30, 0, 0}).lit) << "the ball shadows the floor";
}

TEST_F(Trace, ShadowsFollowInstances) {
  const miTag ball = refhost::add_object("ball", sphere({0, 0, 0}, 1));
  refhost::add_instance("ball_inst", ball, refhost::translate(10, 0, 5));
  EXPECT_TRUE(shadow(thread_, {0, 0, 10}, {0, 0, 0}).lit);
  EXPECT_FALSE(shadow(thread_, {10, 0, 10}, {10, 0, 0}).lit);
}

TEST_F(Trace, ShadowRaysFromManyThreadsAgree) {
  refhost::add_object("a", with_transparency(sphere({0, 0, 5}, 1), {0.5f, 0.25f, 1, 1}));
  refhost::add_object("b", with_transparency(box({-3, -3, 2}, {3, 3, 2.5f}), {0.5f, 1, 1, 1}));
  constexpr int kThreads = 4, kRays = 2000;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&wrong, t] {
      refhost::ThreadContext ctx(t, 7);
      for (int i = 0; i < kRays; ++i) {
        const float x = float(i % 40) * 0.1f - 1.95f;  // never grazing the ball
        const Shadow s = shadow(ctx, {x, 0, 10}, {x, 0, 0});
        const bool through_ball = std::fabs(x) < 1.0f;
        const float r = through_ball ? 0.25f : 0.5f;
        if (!s.lit || s.colour.r != r) ++wrong[size_t(t)];
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[size_t(t)], 0) << "thread " << t;
}

// The objects the rays see are gathered once per edit: every edit that
// changes them (a new object, an instance of it, an instance given another
// item, a reset) must show in the very next ray.
TEST_F(Trace, ShadowsFollowEveryEditOfTheScene) {
  const miVector above_origin{0, 0, 10}, origin{0, 0, 0};
  const miVector above_ten{10, 0, 10}, ten{10, 0, 0};
  EXPECT_TRUE(shadow(thread_, above_origin, origin).lit) << "empty scene";

  const miTag ball = refhost::add_object("ball", sphere({0, 0, 5}, 1));
  EXPECT_FALSE(shadow(thread_, above_origin, origin).lit) << "the ball where it stands";

  refhost::add_instance("ball_inst", ball, refhost::translate(10, 0, 0));
  EXPECT_TRUE(shadow(thread_, above_origin, origin).lit) << "an instanced object only by it";
  EXPECT_FALSE(shadow(thread_, above_ten, ten).lit) << "the instance's ball";

  // The instance redefined in place with a half-transparent pane as its
  // item: the ball stands on its own again, the pane takes its place.
  refhost::add_object("pane",
                      with_transparency(disc({0, 0, 5}, {0, 0, 1}, 1), {0.5f, 0.5f, 0.5f, 1}));
  EXPECT_EQ(shadow(thread_, above_origin, origin).colour.g, 0.5f) << "the pane where it stands";
  mi_api_incremental(1);
  mi_api_instance_begin(mi_mem_int_strdup(__FILE__, __LINE__, "ball_inst"));
  mi_api_instance_end(mi_mem_int_strdup(__FILE__, __LINE__, "pane"), 0, 0);
  mi_api_incremental(0);
  EXPECT_FALSE(shadow(thread_, above_origin, origin).lit) << "the ball on its own again";
  const Shadow through_pane = shadow(thread_, above_ten, ten);
  EXPECT_TRUE(through_pane.lit);
  EXPECT_EQ(through_pane.colour.g, 0.5f) << "the pane's transparency";

  refhost::reset();
  EXPECT_TRUE(shadow(thread_, above_origin, origin).lit) << "nothing after a reset";
  EXPECT_TRUE(shadow(thread_, above_ten, ten).lit) << "nothing after a reset";
}

// Every instance of an object places it once; objects nobody instances stand
// as they are; lights, groups and instances of lights add nothing.
TEST_F(Trace, EveryPlacementIsSeenOnceInTheDatabaseOrder) {
  constexpr int kInstanced = 60, kAlone = 25;
  std::vector<miTag> expected_instances;
  for (int i = 0; i < kInstanced; ++i) {
    const miTag o = refhost::add_object("o" + std::to_string(i), sphere({0, 0, 0}, 0.1f));
    for (int k = 0; k < 2; ++k)
      expected_instances.push_back(
          refhost::add_instance("o" + std::to_string(i) + "_" + std::to_string(k), o,
                                refhost::translate(float(i), float(k), 0)));
  }
  for (int i = 0; i < kAlone; ++i)
    refhost::add_object("a" + std::to_string(i), sphere({0, 0, 0}, 1));
  add_light_instance({});
  refhost::add_group("g", {expected_instances.front()});

  std::vector<refhost::Placement> placed;
  refhost::placed_objects(placed);
  ASSERT_EQ(placed.size(), size_t(2 * kInstanced + kAlone));
  for (size_t i = 0; i < expected_instances.size(); ++i) {
    EXPECT_EQ(placed[i].instance, expected_instances[i]) << i;
    ASSERT_NE(placed[i].local_to_world, nullptr) << i;
  }
  for (size_t i = expected_instances.size(); i < placed.size(); ++i) {
    EXPECT_EQ(placed[i].instance, 0u) << i;
    EXPECT_EQ(placed[i].world_to_local, nullptr) << i;
  }
}

// Shadow rays skip an object whose bounding sphere they pass by. Rays that
// graze a sphere, a disc's rim, a rectangle's corner and a box's corner,
// just inside and just outside, far from the world's origin and under
// stretching instances, must find exactly the crossings the probe (which
// tests every object) finds.
TEST_F(Trace, BoundingSpheresNeverHideACrossing) {
  refhost::Matrix stretch =
      refhost::multiply(refhost::rotate_xyz(20, 35, -50), refhost::translate(-3000, 1200, 40));
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) stretch.m[row * 4 + col] *= row == 0 ? 2.5f : 0.4f;
  struct Target {
    Geometry geometry;
    refhost::Matrix place;
    bool instanced;
    miVector edge;  // a point on the object's outline, in its own space
  } const targets[] = {
      {sphere({1000, -500, 20}, 2), refhost::identity(), false, {1000, -498, 20}},
      {sphere({0, 0, 0}, 1), stretch, true, {1, 0, 0}},
      {disc({7, 7, 7}, {0.3f, 0.4f, 0.866f}, 0.5f), stretch, true, {7.5f, 7, 7}},
      {rectangle({-40, 3, 9}, {1, 0, 0}, {0, 2, 0}), stretch, true, {-39, 5, 9}},
      {box({-1, -2, -3}, {1, 2, 3}), stretch, true, {1, 2, 3}},
  };
  int checked = 0, crossing = 0;
  for (const Target& t : targets) {
    refhost::reset();
    const miTag object = refhost::add_object("target", t.geometry);
    if (t.instanced) refhost::add_instance("target_inst", object, t.place);
    const refhost::Matrix place = t.instanced ? t.place : refhost::identity();
    const miVector edge = refhost::transform_point(t.edge, place);
    const miVector centre = refhost::transform_point(
        t.geometry.kind == Geometry::Box ? miVector{0, 0, 0} : t.geometry.center, place);
    miState eye = refhost::make_state(nullptr, &thread_, miRAY_EYE);
    for (const float scale : {0.999999f, 0.9999999f, 1.0f, 1.0000001f, 1.000001f})
      for (int k = 0; k < 24; ++k) {
        // Through the outline point moved radially by `scale`, from 30
        // units away on either side in one of 24 directions.
        const miVector aim{centre.x + (edge.x - centre.x) * scale,
                           centre.y + (edge.y - centre.y) * scale,
                           centre.z + (edge.z - centre.z) * scale};
        const double a = 0.26 * k, b = 0.7 * k + 0.3;
        const miVector along{float(std::cos(a) * std::sin(b)), float(std::sin(a) * std::sin(b)),
                             float(std::cos(b))};
        const miVector from{aim.x - 30 * along.x, aim.y - 30 * along.y, aim.z - 30 * along.z};
        const miVector to{aim.x + 30 * along.x, aim.y + 30 * along.y, aim.z + 30 * along.z};
        const Probe p = probe(eye, from, light_ray(thread_, from, to).dir);  // the same ray
        const Shadow sh = shadow(thread_, from, to);
        const double length =
            std::hypot(double(to.x) - double(from.x), double(to.y) - double(from.y),
                       double(to.z) - double(from.z));
        const bool probe_crosses = p.hit && p.dist < length;
        ++checked;
        crossing += probe_crosses;
        EXPECT_EQ(sh.lit, !probe_crosses)
            << "target " << (&t - targets) << ", scale " << scale << ", direction " << k;
      }
  }
  EXPECT_GT(crossing, checked / 10) << "the rays must graze, some crossing";
  EXPECT_LT(crossing, checked * 9 / 10) << "the rays must graze, some missing";
}

TEST_F(Trace, RaysWithoutLengthOrDirectionAreNotShadowed) {
  refhost::add_object("wall", plane({0, 0, 5}, {0, 0, 1}));
  miState s = light_ray(thread_, {0, 0, 10}, {0, 0, 0});
  s.dist = 0;
  miColor c{1, 1, 1, 1};
  EXPECT_TRUE(mi_trace_shadow(&c, &s));
  s = light_ray(thread_, {0, 0, 10}, {0, 0, 0});
  s.dist = std::nan("");
  EXPECT_TRUE(mi_trace_shadow(&c, &s));
  // Without a direction the ray runs from its origin towards its point.
  s = light_ray(thread_, {0, 0, 10}, {0, 0, 0});
  s.dir = {0, 0, 0};
  EXPECT_FALSE(mi_trace_shadow(&c, &s));
}

}  // namespace
