// The reference host's light-sampling loop: where emitter points lie and how
// evenly, the areas of object lights (query 125), and the per-thread sample
// sequences of mi_sample.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <thread>
#include <vector>

#include "refhost/internal.h"
#include "refhost/lightloop.h"
#include "tests/host_fixture.h"

namespace {

using refhost::Geometry;
using refhost::LightDesc;
using refhost::Matrix;
using zeltest::HostTest;

constexpr double kPi = 3.141592653589793;

class LightLoop : public HostTest {};

// A placement that turns, stretches nothing and moves: what a lamp in a
// scene typically has.
Matrix placed() {
  return refhost::multiply(refhost::rotate_xyz(30, -50, 70), refhost::translate(4, -2, 7));
}

miVector back_to_light_space(const miVector& p, const Matrix& local_to_world) {
  return refhost::transform_point(p, refhost::inverse(local_to_world));
}

double len(double x, double y, double z) { return std::sqrt(x * x + y * y + z * z); }

TEST_F(LightLoop, EmitterPointsLieOnEachShape) {
  const miVector o{1, 2, 3};
  struct Case {
    const char* what;
    LightDesc desc;
    // Distance of a light-space offset from the shape (0 on it).
    double (*off_shape)(double x, double y, double z);
  };
  auto make = [&](int shape) {
    LightDesc d;
    d.shape = shape;
    d.origin = o;
    return d;
  };
  LightDesc rect = make(miLIGHT_RECTANGLE);
  rect.edge_u = {0, 0, 2};        // lengths count, not directions: x within ±2
  rect.edge_v = {0.6f, 0.8f, 0};  // y within ±1
  LightDesc disc = make(miLIGHT_DISC);
  disc.radius = 1.5f;
  LightDesc ball = make(miLIGHT_SPHERE);
  ball.radius = 2;
  LightDesc tube = make(miLIGHT_CYLINDER);
  tube.radius = 0.5f;
  tube.axis = {0, 0, 2};
  const Case cases[] = {
      {"rectangle", rect,
       [](double x, double y, double z) {
         return std::max({std::fabs(z), std::fabs(x) - 2.0, std::fabs(y) - 1.0, 0.0});
       }},
      {"disc", disc,
       [](double x, double y, double z) {
         return std::max({std::fabs(z), std::hypot(x, y) - 1.5, 0.0});
       }},
      {"sphere", ball, [](double x, double y, double z) { return std::fabs(len(x, y, z) - 2.0); }},
      {"cylinder", tube,
       [](double x, double y, double z) {
         return std::max(std::fabs(std::hypot(x, y) - 0.5), std::max(std::fabs(z) - 2.0, 0.0));
       }},
      {"point light", make(miLIGHT_NONE),
       [](double x, double y, double z) { return len(x, y, z); }},
  };
  for (const Case& c : cases) {
    const miTag inst = add_light_instance(c.desc, placed());
    std::vector<miVector> points;
    refhost::emitter_points(inst, 37, points);
    ASSERT_EQ(points.size(), 37u) << c.what;
    double worst = 0.0;
    for (const miVector& p : points) {
      const miVector q = back_to_light_space(p, placed());
      worst = std::max(worst, c.off_shape(double(q.x) - double(o.x), double(q.y) - double(o.y),
                                          double(q.z) - double(o.z)));
    }
    EXPECT_LT(worst, 2e-5) << c.what;
  }
}

// For a power-of-two count the pattern is a net: every cell of the square
// of area 1/n, however it is cut into columns and rows, holds one point.
TEST_F(LightLoop, StratificationCoversTheRectangleEvenly) {
  LightDesc rect;
  rect.shape = miLIGHT_RECTANGLE;
  rect.edge_u = {2, 0, 0};
  rect.edge_v = {0, 0.5f, 0};
  const miTag inst = add_light_instance(rect);
  for (const int log_n : {4, 6, 8}) {
    const int n = 1 << log_n;
    std::vector<miVector> points;
    refhost::emitter_points(inst, n, points);
    ASSERT_EQ(points.size(), size_t(n));
    for (int col_bits = 0; col_bits <= log_n; ++col_bits) {
      const int cols = 1 << col_bits, rows = n / cols;
      std::vector<int> count(size_t(n), 0);
      for (const miVector& p : points) {
        const int i = std::clamp(int((double(p.x) + 2.0) / 4.0 * cols), 0, cols - 1);
        const int j = std::clamp(int((double(p.y) + 0.5) / 1.0 * rows), 0, rows - 1);
        ++count[size_t(j * cols + i)];
      }
      EXPECT_EQ(*std::min_element(count.begin(), count.end()), 1)
          << n << " points in " << cols << " × " << rows;
      EXPECT_EQ(*std::max_element(count.begin(), count.end()), 1)
          << n << " points in " << cols << " × " << rows;
    }
  }
  // Any count: the columns are even, the rows nearly so.
  std::vector<miVector> points;
  refhost::emitter_points(inst, 100, points);
  std::vector<int> columns(10, 0), rows(4, 0);
  for (const miVector& p : points) {
    ++columns[size_t(std::clamp(int((double(p.x) + 2.0) / 4.0 * 10), 0, 9))];
    ++rows[size_t(std::clamp(int((double(p.y) + 0.5) * 4), 0, 3))];
  }
  for (int c : columns) EXPECT_EQ(c, 10);
  for (int r : rows) EXPECT_NEAR(r, 25, 1);
}

// The curved shapes spread their points evenly by area: equal areas get
// equal shares.
TEST_F(LightLoop, CurvedEmittersSpreadPointsEvenlyByArea) {
  constexpr int kN = 1024;
  std::vector<miVector> points;

  LightDesc disc;
  disc.shape = miLIGHT_DISC;
  disc.radius = 2;
  refhost::emitter_points(add_light_instance(disc), kN, points);
  // The inner disc of radius 2/√2 has half the area; each quadrant a quarter.
  int inner = 0, quadrant = 0;
  for (const miVector& p : points) {
    inner += std::hypot(p.x, p.y) < 2.0f / std::sqrt(2.0f);
    quadrant += p.x > 0 && p.y > 0;
  }
  EXPECT_NEAR(inner, kN / 2, kN / 100);
  EXPECT_NEAR(quadrant, kN / 4, kN / 100);

  LightDesc ball;
  ball.shape = miLIGHT_SPHERE;
  ball.radius = 1;
  refhost::emitter_points(add_light_instance(ball), kN, points);
  // Archimedes: a zone of the sphere has the area of its height; each octant
  // an eighth.
  int zone = 0, octant = 0;
  double mean[3] = {0, 0, 0};
  for (const miVector& p : points) {
    zone += p.z > 0.5f;
    octant += p.x > 0 && p.y > 0 && p.z > 0;
    mean[0] += double(p.x) / kN;
    mean[1] += double(p.y) / kN;
    mean[2] += double(p.z) / kN;
  }
  EXPECT_NEAR(zone, kN / 4, kN / 100);
  EXPECT_NEAR(octant, kN / 8, kN / 100);
  for (double m : mean) EXPECT_NEAR(m, 0.0, 0.01);
}

TEST_F(LightLoop, EmitterPointsAreTheSameOnEveryCallAndThread) {
  LightDesc ball;
  ball.shape = miLIGHT_SPHERE;
  ball.radius = 3;
  const miTag inst = add_light_instance(ball, placed());
  std::vector<miVector> first, again;
  refhost::emitter_points(inst, 50, first);
  refhost::emitter_points(inst, 50, again);
  ASSERT_EQ(first.size(), again.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].x, again[i].x);
    EXPECT_EQ(first[i].y, again[i].y);
    EXPECT_EQ(first[i].z, again[i].z);
  }
  std::vector<std::vector<miVector>> per_thread(3);
  std::vector<std::thread> threads;
  for (auto& out : per_thread)
    threads.emplace_back([&out, inst] { refhost::emitter_points(inst, 50, out); });
  for (auto& t : threads) t.join();
  for (const auto& out : per_thread) {
    ASSERT_EQ(out.size(), first.size());
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].x, first[i].x);
  }
  refhost::emitter_points(inst, 0, again);
  EXPECT_TRUE(again.empty());
  refhost::emitter_points(0, 5, again);
  EXPECT_TRUE(again.empty()) << "no light, no points";
}

Geometry object_of(Geometry::Kind kind) {
  Geometry g;
  g.kind = kind;
  switch (kind) {
    case Geometry::Rectangle:
      g.center = {1, 0, 0};
      g.u = {1, 0, 0};
      g.v = {0, 2, 0};
      break;
    case Geometry::Disc:
      g.center = {0, 1, 0};
      g.normal = {0, 1, 1};
      g.radius = 2;
      break;
    case Geometry::Sphere:
      g.center = {0, 0, 1};
      g.radius = 1.5f;
      break;
    case Geometry::Box:
      g.min = {-1, -1, -2};
      g.max = {0, 1, 2};
      break;
    case Geometry::Plane:
    case Geometry::Mesh:
      break;
  }
  return g;
}

// Distance of an object-space point from the object's surface.
double off_surface(const Geometry& g, const miVector& q) {
  const double x = double(q.x), y = double(q.y), z = double(q.z);
  const double cx = double(g.center.x), cy = double(g.center.y), cz = double(g.center.z);
  switch (g.kind) {
    case Geometry::Rectangle:
      return std::max({std::fabs(z - cz), std::fabs(x - cx) - 1.0, std::fabs(y - cy) - 2.0, 0.0});
    case Geometry::Disc: {
      const double dy = y - cy, dz = z - cz;
      const double height = (dy + dz) / std::sqrt(2.0);  // along the normal (0, 1, 1)/√2
      const double r = len(x - cx, dy - height / std::sqrt(2.0), dz - height / std::sqrt(2.0));
      return std::max(std::fabs(height), std::max(r - 2.0, 0.0));
    }
    case Geometry::Sphere:
      return std::fabs(len(x - cx, y - cy, z - cz) - 1.5);
    case Geometry::Box: {
      const double outside =
          std::max({std::fabs(x + 0.5) - 0.5, std::fabs(y) - 1.0, std::fabs(z) - 2.0});
      return std::fabs(outside);
    }
    case Geometry::Plane:
    case Geometry::Mesh:
      break;
  }
  return 0.0;
}

TEST_F(LightLoop, ObjectLightsEmitFromTheSurfaceOfTheirObject) {
  const Matrix m = refhost::multiply(refhost::rotate_xyz(10, 20, 30), refhost::translate(-3, 5, 1));
  for (const auto kind : {Geometry::Rectangle, Geometry::Disc, Geometry::Sphere, Geometry::Box}) {
    refhost::reset();
    const Geometry g = object_of(kind);
    const miTag obj = refhost::add_object("body", g);
    const miTag body = refhost::add_instance("body_inst", obj, m);
    LightDesc desc;
    desc.shape = miLIGHT_OBJECT;
    desc.origin = {100, 100, 100};  // not where an object light emits
    desc.obj_instance = body;
    const miTag light = add_light_instance(desc, refhost::translate(50, 0, 0));
    std::vector<miVector> points;
    refhost::emitter_points(light, 64, points);
    ASSERT_EQ(points.size(), 64u);
    double worst = 0.0;
    for (const miVector& p : points)
      worst = std::max(worst, off_surface(g, back_to_light_space(p, m)));
    EXPECT_LT(worst, 2e-5) << "geometry kind " << int(kind);
  }
}

TEST_F(LightLoop, BoxEmittersShareTheirPointsByFaceArea) {
  Geometry g = object_of(Geometry::Box);  // 1 × 2 × 4: faces of 8, 4 and 2
  const miTag obj = refhost::add_object("box", g);
  const miTag body = refhost::add_instance("box_inst", obj, refhost::identity());
  LightDesc desc;
  desc.shape = miLIGHT_OBJECT;
  desc.obj_instance = body;
  std::vector<miVector> points;
  constexpr int kN = 280;  // total area 28
  refhost::emitter_points(add_light_instance(desc), kN, points);
  int on_x_faces = 0, on_y_faces = 0, on_z_faces = 0;
  for (const miVector& p : points) {
    if (p.x == -1.0f || p.x == 0.0f)
      ++on_x_faces;
    else if (p.y == -1.0f || p.y == 1.0f)
      ++on_y_faces;
    else if (p.z == -2.0f || p.z == 2.0f)
      ++on_z_faces;
  }
  EXPECT_NEAR(on_x_faces, 160, 1);  // 2 × 8 of 28
  EXPECT_NEAR(on_y_faces, 80, 1);   // 2 × 4
  EXPECT_NEAR(on_z_faces, 40, 1);   // 2 × 2
}

// Surface area of the ellipsoid with semi-axes a, b, c by the midpoint rule
// over its parametrisation by latitude and longitude.
double ellipsoid_area_numerically(double a, double b, double c) {
  constexpr int kTheta = 600, kPhi = 1200;
  double area = 0.0;
  for (int i = 0; i < kTheta; ++i) {
    const double t = (i + 0.5) * kPi / kTheta;
    for (int j = 0; j < kPhi; ++j) {
      const double p = (j + 0.5) * 2.0 * kPi / kPhi;
      // |∂r/∂θ × ∂r/∂φ| for r = (a sinθ cosφ, b sinθ sinφ, c cosθ)
      const double st = std::sin(t), ct = std::cos(t), sp = std::sin(p), cp = std::cos(p);
      const double nx = b * c * st * st * cp, ny = a * c * st * st * sp, nz = a * b * st * ct;
      area += len(nx, ny, nz);
    }
  }
  return area * (kPi / kTheta) * (2.0 * kPi / kPhi);
}

double oblate_spheroid_area(double a, double c) {  // c < a
  const double e = std::sqrt(1.0 - c * c / (a * a));
  return 2.0 * kPi * a * a * (1.0 + (1.0 - e * e) / e * std::atanh(e));
}

double prolate_spheroid_area(double a, double c) {  // c > a
  const double e = std::sqrt(1.0 - a * a / (c * c));
  return 2.0 * kPi * a * a * (1.0 + c / (a * e) * std::asin(e));
}

Matrix scale(float x, float y, float z) {
  Matrix m = refhost::identity();
  m.m[0] = x;
  m.m[5] = y;
  m.m[10] = z;
  return m;
}

TEST_F(LightLoop, ObjectAreaOfEachGeometry) {
  const Matrix turn = refhost::rotate_xyz(25, 40, -15);
  struct Case {
    const char* what;
    Geometry::Kind kind;
    Matrix place;
    double area;
    double tolerance;
  };
  const Case cases[] = {
      {"rectangle", Geometry::Rectangle, refhost::translate(3, 4, 5), 8.0, 1e-7},
      {"rectangle stretched", Geometry::Rectangle, scale(2, 3, 5), 48.0, 1e-7},
      {"rectangle turned", Geometry::Rectangle, turn, 8.0, 1e-6},
      {"disc", Geometry::Disc, refhost::identity(), 4.0 * kPi, 1e-7},
      {"disc turned and moved", Geometry::Disc,
       refhost::multiply(turn, refhost::translate(1, 1, 1)), 4.0 * kPi, 1e-6},
      // The disc's plane holds x and (0, 1, −1)/√2; stretched by 2 and 3 in
      // x and y its area grows by 2 × |(0, 3, −1)|/√2.
      {"disc stretched", Geometry::Disc, scale(2, 3, 1), 4.0 * kPi * 2.0 * std::sqrt(5.0), 1e-6},
      {"sphere", Geometry::Sphere, refhost::identity(), 9.0 * kPi, 1e-7},
      {"sphere scaled evenly and turned", Geometry::Sphere, refhost::multiply(scale(2, 2, 2), turn),
       36.0 * kPi, 1e-6},
      {"oblate spheroid", Geometry::Sphere, scale(2, 2, 1), oblate_spheroid_area(3.0, 1.5), 1e-6},
      {"prolate spheroid turned", Geometry::Sphere, refhost::multiply(scale(1, 1, 3), turn),
       prolate_spheroid_area(1.5, 4.5), 1e-6},
      {"ellipsoid", Geometry::Sphere, refhost::multiply(turn, scale(2, 1, 0.5f)),
       ellipsoid_area_numerically(3.0, 1.5, 0.75), 1e-5},
      {"box", Geometry::Box, refhost::identity(), 28.0, 1e-7},
      {"box turned", Geometry::Box, turn, 28.0, 1e-6},
      {"box stretched", Geometry::Box, scale(3, 1, 0.5f), 2.0 * (3 * 2 + 2 * 2 + 3 * 2), 1e-7},
  };
  for (const Case& c : cases) {
    refhost::reset();
    const miTag obj = refhost::add_object("body", object_of(c.kind));
    const miTag body = refhost::add_instance("body_inst", obj, c.place);
    EXPECT_NEAR(double(refhost::object_area(body)), c.area, c.area * c.tolerance) << c.what;
  }
}

TEST_F(LightLoop, QueryAnswersTheAreaOfTheLightsEmittingObject) {
  const miTag obj = refhost::add_object("ball", object_of(Geometry::Sphere));
  const miTag body = refhost::add_instance("ball_inst", obj, scale(2, 2, 2));
  LightDesc desc;
  desc.shape = miLIGHT_OBJECT;
  desc.obj_instance = body;
  const miTag light = add_light_instance(desc);
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE, light);

  float area = -1.0f;
  ASSERT_EQ(mi_query(miQ_LIGHT_OBJ_AREA, &state, light, &area), 1);
  EXPECT_FLOAT_EQ(area, float(36.0 * kPi));
  EXPECT_EQ(area, refhost::object_area(body));

  refhost::add_object("floor", Geometry{});  // a plane
  const miTag floor_inst =
      refhost::add_instance("floor_inst", refhost::find("floor"), refhost::identity());
  LightDesc on_floor = desc;
  on_floor.obj_instance = floor_inst;
  const miTag floor_light = add_light_instance(on_floor);
  area = -1.0f;
  EXPECT_EQ(mi_query(miQ_LIGHT_OBJ_AREA, &state, floor_light, &area), 0) << "a plane is endless";
  EXPECT_EQ(area, -1.0f);
  EXPECT_TRUE(std::isinf(refhost::object_area(floor_inst)));

  const miTag point_light = add_light_instance(LightDesc{});
  EXPECT_EQ(mi_query(miQ_LIGHT_OBJ_AREA, &state, point_light, &area), 0) << "no emitting object";
  EXPECT_EQ(area, -1.0f);
}

// A light shader instance that was never initialised answers every call
// with its fatal error and false: the count of errors is the count of light
// rays the loop handed to it.
TEST_F(LightLoop, IlluminanceAsksTheLightOncePerEmitterPointInFrontOfTheReceiver) {
  refhost::ShaderInstance& shader = lumenfield();
  LightDesc rect;
  rect.shape = miLIGHT_RECTANGLE;
  rect.edge_u = {1, 0, 0};
  rect.edge_v = {0, 1, 0};
  const refhost::SceneLight light{&shader, add_light_instance(rect, refhost::translate(0, 0, 2))};
  LightDesc point_desc;
  point_desc.shape = miLIGHT_DISC;  // of radius 0: every point at the origin
  const refhost::SceneLight dot{&shader, add_light_instance(point_desc)};
  const struct {
    const char* what;
    refhost::SceneLight light;
    miVector point, normal;
    size_t calls;
  } cases[] = {
      {"facing the light", light, {0, 0, 0}, {0, 0, 1}, 16},
      {"facing the light, normal not of unit length", light, {0, 0, 0}, {0, 0, 5}, 16},
      {"turned away", light, {0, 0, 0}, {0, 0, -1}, 0},
      {"edge-on in the light's plane, half in front", light, {0, 0, 2}, {1, 0, 0}, 8},
      {"on the emitter point itself", dot, {0, 0, 0}, {0, 0, 1}, 0},
      {"without a normal", light, {0, 0, 0}, {0, 0, 0}, 0},
  };
  for (const auto& c : cases) {
    refhost::clear_messages();
    const miColor e = refhost::illuminance(c.light, c.point, c.normal, 16, thread_);
    EXPECT_EQ(refhost::errors().size(), c.calls) << c.what;
    EXPECT_EQ(e.r, 0.0f) << c.what << ": false answers count as nothing";
  }
}

// An initialised area light as a point source of `candela` at (0, 0, 3).
refhost::SceneLight point_light(refhost::ShaderInstance& shader, float candela,
                                refhost::ThreadContext& thread) {
  shader.set_float("intensity", candela);
  const miTag inst = refhost::add_instance("point_inst", refhost::add_light("point", LightDesc{}),
                                           refhost::translate(0, 0, 3));
  miState init_state = refhost::make_state(&shader, &thread, miRAY_LIGHT, inst);
  shader.init(&init_state);
  return {&shader, inst};
}

// End to end: an isotropic point source of I candela lights a surface at
// distance d, its normal at θ to the direction of the source, with
// E = I·cosθ/d² lux: the inverse-square and cosine laws.
TEST_F(LightLoop, PointLightGivesInverseSquareCosineIlluminance) {
  constexpr float kCandela = 250.0f;
  const refhost::SceneLight light = point_light(lumenfield(), kCandela, thread_);
  const struct {
    miVector point, normal;
  } cases[] = {
      {{0, 0, 0}, {0, 0, 1}},          {{1, 0.5f, 0}, {0, 0, 1}}, {{-4, 2, 1}, {0, 0, 1}},
      {{1, 0.5f, 0}, {0.6f, 0, 0.8f}}, {{2, -1, 5}, {0, 0, -1}},
  };
  for (const auto& c : cases) {
    const double dx = -double(c.point.x), dy = -double(c.point.y), dz = 3.0 - double(c.point.z);
    const double d2 = dx * dx + dy * dy + dz * dz;
    const double cos_theta =
        (double(c.normal.x) * dx + double(c.normal.y) * dy + double(c.normal.z) * dz) /
        std::sqrt(d2);
    const double expected = double(kCandela) * cos_theta / d2;
    const miColor e = refhost::illuminance(light, c.point, c.normal, 4, thread_);
    EXPECT_TRUE(zeltest::near_rel(double(e.r), expected, 1e-5))
        << e.r << " lux, expected " << expected;
    EXPECT_EQ(e.g, e.r);
    EXPECT_EQ(e.b, e.r);
  }
}

// The light's shadow rays see the scene: a pane that lets half through
// halves the illuminance, an opaque one leaves the shadow transparency.
TEST_F(LightLoop, OccludersBetweenLightAndPointShadeTheIlluminance) {
  refhost::ShaderInstance& shader = lumenfield();
  shader.set_int("shadows", 1);
  shader.set_float("shadow_transparency", 0.1f);
  const refhost::SceneLight light = point_light(shader, 250.0f, thread_);
  const miVector point{0, 0, 0}, normal{0, 0, 1};
  const double open = double(refhost::illuminance(light, point, normal, 4, thread_).r);
  EXPECT_TRUE(zeltest::near_rel(open, 250.0 / 9.0, 1e-5));

  Geometry pane;
  pane.kind = Geometry::Disc;
  pane.center = {0, 0, 1.5f};
  pane.radius = 0.5f;
  pane.transparency = {0.5f, 0.5f, 0.5f, 1};
  refhost::add_object("pane", pane);
  EXPECT_TRUE(zeltest::near_rel(double(refhost::illuminance(light, point, normal, 4, thread_).r),
                                open * (0.5 * 0.9 + 0.1), 1e-6));
  // Beside the pane the light arrives unshaded: d² = 18, cosθ = 3/√18.
  EXPECT_TRUE(
      zeltest::near_rel(double(refhost::illuminance(light, {3, 0, 0}, normal, 4, thread_).r),
                        250.0 * 3.0 / (18.0 * std::sqrt(18.0)), 1e-5));

  Geometry wall = pane;
  wall.transparency = {0, 0, 0, 0};
  wall.center = {0, 0, 2};
  refhost::add_object("wall", wall);
  EXPECT_TRUE(zeltest::near_rel(double(refhost::illuminance(light, point, normal, 4, thread_).r),
                                open * 0.1, 1e-6));
}

TEST_F(LightLoop, IlluminanceIsTheSameOnEveryThread) {
  const refhost::SceneLight light = point_light(lumenfield(), 250.0f, thread_);
  const miVector point{1, 0.5f, 0}, normal{0.6f, 0, 0.8f};
  const miColor reference = refhost::illuminance(light, point, normal, 8, thread_);
  EXPECT_GT(reference.r, 0.0f);
  std::vector<int> differing(4, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < differing.size(); ++t)
    threads.emplace_back([&, t] {
      refhost::ThreadContext ctx(int(t) + 1, 3);
      for (int i = 0; i < 200; ++i)
        differing[t] += refhost::illuminance(light, point, normal, 8, ctx).r != reference.r;
    });
  for (auto& th : threads) th.join();
  for (int d : differing) EXPECT_EQ(d, 0);
}

TEST(RefhostSample, SequencesAreDeterministicPerThreadContext) {
  auto draw = [](refhost::ThreadContext& ctx, int dims, int count) {
    miState s = refhost::make_state(nullptr, &ctx, miRAY_PHOTON_FIRST);
    std::vector<double> out;
    double v[3];
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(mi_sample(v, nullptr, &s, dims, nullptr), 1);
      out.insert(out.end(), v, v + dims);
    }
    return out;
  };
  refhost::ThreadContext a(0, 42), b(0, 42), other_seed(0, 43), other_thread(1, 42);
  const auto first = draw(a, 3, 200);
  EXPECT_EQ(first, draw(b, 3, 200));
  EXPECT_NE(first, draw(other_seed, 3, 200));
  EXPECT_NE(first, draw(other_thread, 3, 200));
  for (double x : first) {
    EXPECT_GE(x, 0.0);
    EXPECT_LT(x, 1.0);
  }
  double unused[2];
  miState s = refhost::make_state(nullptr, &a, miRAY_PHOTON_FIRST);
  EXPECT_EQ(mi_sample(unused, nullptr, &s, 0, nullptr), 0);
  EXPECT_EQ(mi_sample(nullptr, nullptr, &s, 2, nullptr), 0);
}

// The radical inverse of n in base b: its digits mirrored about the radix
// point, the k-th lowest digit worth b^−k, summed in extended precision.
double exact_radical_inverse(uint64_t n, uint64_t b) {
  long double value = 0, weight = 1;
  for (; n > 0; n /= b) {
    weight /= static_cast<long double>(b);
    value += static_cast<long double>(n % b) * weight;
  }
  return static_cast<double>(value);
}

// Distance of a and b on the unit circle.
double circular_distance(double a, double b) {
  const double d = std::fabs(a - b);
  return std::min(d, 1.0 - d);
}

// Each dimension of the samples is the Halton sequence in its prime base,
// shifted modulo 1 by a fixed amount of the thread's: from the first point
// on, every later one sits where the digits of its position put it, far
// into the sequence (where a shortcut over the low digits would show) and
// at positions of many digits.
TEST(RefhostSample, DimensionsAreShiftedRadicalInverses) {
  const uint64_t bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53};
  constexpr int kDims = 16;
  refhost::ThreadContext ctx(2, 11);
  miState s = refhost::make_state(nullptr, &ctx, miRAY_PHOTON_FIRST);
  double first[kDims];
  ASSERT_EQ(mi_sample(first, nullptr, &s, kDims, nullptr), 1);  // position 1
  double shift[kDims];
  for (int d = 0; d < kDims; ++d) shift[d] = first[d] - exact_radical_inverse(1, bases[d]);
  auto check_next = [&](const char* where) {
    const uint64_t n = ctx.sample_index + 1;
    double v[kDims];
    ASSERT_EQ(mi_sample(v, nullptr, &s, kDims, nullptr), 1);
    for (int d = 0; d < kDims; ++d) {
      double expected = exact_radical_inverse(n, bases[d]) + shift[d];
      expected -= std::floor(expected);
      ASSERT_LT(circular_distance(v[d], expected), 1e-12)
          << where << ": position " << n << ", base " << bases[d];
    }
  };
  for (int i = 0; i < 3000; ++i) check_next("consecutive");
  for (const uint64_t start : {uint64_t(531440), uint64_t(1) << 40, (uint64_t(1) << 53) - 3,
                               (uint64_t(1) << 60) + 12345}) {
    ctx.sample_index = start;
    for (int i = 0; i < 4; ++i) check_next("far");
  }
}

// mi_sample as first written: each radical inverse summed digit by digit
// from the lowest up, in double precision, and the thread's shifts drawn
// afresh on every call. The host's tables and caches must give these
// numbers to the last bit.
class PlainSampler {
 public:
  explicit PlainSampler(refhost::ThreadContext& ctx) : ctx_(ctx) {}

  void sample(double* out, int dimension) {
    static constexpr uint64_t kBases[] = {2,  3,  5,  7,  11, 13, 17, 19,
                                          23, 29, 31, 37, 41, 43, 47, 53};
    if (ctx_.sample_index == 0) ctx_.sample_shift = next(ctx_.rng);
    const uint64_t index = ++ctx_.sample_index;
    const int halton = std::min(dimension, 16);
    for (int d = 0; d < halton; ++d) {
      const double shift = unit_interval(mix(ctx_.sample_shift + uint64_t(d + 1) * kStep));
      const double v = radical_inverse(index, kBases[d]) + shift;
      out[d] = v >= 1.0 ? v - 1.0 : v;
    }
    for (int d = halton; d < dimension; ++d) out[d] = unit_interval(next(ctx_.rng));
  }

 private:
  static constexpr uint64_t kStep = 0x9E3779B97F4A7C15ull;
  static uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  static uint64_t next(uint64_t& s) { return mix(s += kStep); }
  static double unit_interval(uint64_t bits) {
    return double(bits >> 11) * (1.0 / 9007199254740992.0);
  }
  static double radical_inverse(uint64_t i, uint64_t base) {
    const double step = 1.0 / double(base);
    double scale = step, value = 0.0;
    for (; i > 0; i /= base, scale *= step) value += double(i % base) * scale;
    return value;
  }
  refhost::ThreadContext& ctx_;
};

// Every dimension count a shader may ask for, consecutive positions and
// positions far into the sequence, two threads' contexts taking turns (so
// that the host's per-thread memory of the last shift is put to the test),
// and a context reset as the calculator resets its threads: all bit for bit
// as the plain sums give them.
TEST(RefhostSample, SamplesAreThePlainDigitSumsToTheBit) {
  refhost::ThreadContext a(1, 17), b(4, 99), plain_a(1, 17), plain_b(4, 99);
  miState sa = refhost::make_state(nullptr, &a, miRAY_PHOTON_FIRST);
  miState sb = refhost::make_state(nullptr, &b, miRAY_PHOTON_FIRST);
  PlainSampler ref_a(plain_a), ref_b(plain_b);
  const int dimension_counts[] = {1, 2, 3, 2, 4, 3, 16, 2, 20, 3};
  auto compare = [](miState& s, PlainSampler& ref, int dims, const char* where) {
    double got[20], want[20];
    ASSERT_EQ(mi_sample(got, nullptr, &s, dims, nullptr), 1);
    ref.sample(want, dims);
    for (int d = 0; d < dims; ++d)
      ASSERT_EQ(std::bit_cast<uint64_t>(got[d]), std::bit_cast<uint64_t>(want[d]))
          << where << ": dimension " << d << " of " << dims;
  };
  for (size_t i = 0; i < 20000; ++i) {
    const int dims = dimension_counts[i % std::size(dimension_counts)];
    compare(sa, ref_a, dims, "consecutive, thread a");
    if (i % 3 == 0) compare(sb, ref_b, dims, "consecutive, thread b");
  }
  for (const uint64_t start :
       {uint64_t(531440), uint64_t(1) << 24, uint64_t(1) << 40, (uint64_t(1) << 53) - 3,
        (uint64_t(1) << 60) + 12345, ~uint64_t(0) - 8}) {
    a.sample_index = plain_a.sample_index = start;
    for (int i = 0; i < 8; ++i) compare(sa, ref_a, dimension_counts[i], "far");
  }
  a.sample_index = plain_a.sample_index = 0;  // a fresh shift, as a new task draws
  for (int i = 0; i < 50; ++i) compare(sa, ref_a, 3, "after a reset");
}

// Photon directions are drawn with the host's own cosine and sine, which
// must round to the very floats the C library's give: checked on a grid of
// angles over the whole turn, on the angles next to every multiple of π/2
// (where one of the two products nears zero and the shortcut runs out of
// accuracy first), over radii from the full circle down to none, and on the
// directions mi_scattering_dir_diffuse hands out for one thread's stream.
TEST(RefhostSample, CirclePointsAreTheLibraryProductsToTheBit) {
  constexpr double kTwoPi = 6.283185307179586;
  auto check = [](double r, double phi) {
    float x = 0, y = 0;
    refhost::detail::circle_point(r, phi, x, y);
    const float want_x = static_cast<float>(r * std::cos(phi));
    const float want_y = static_cast<float>(r * std::sin(phi));
    return std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(want_x) &&
           std::bit_cast<uint32_t>(y) == std::bit_cast<uint32_t>(want_y);
  };
  const double radii[] = {
      1.0, 0.9999999999999999, 0.7071067811865476, 0.5, 0.123456789, 1e-3, 1e-30, 0.0};
  long differing = 0;
  constexpr int kSteps = 200000;
  for (int i = 0; i < kSteps; ++i) {
    const double phi = kTwoPi * (double(i) + 0.37) / kSteps;
    for (const double r : radii) differing += !check(r, phi);
  }
  for (int k = 0; k <= 4; ++k) {
    const double centre = k * (kTwoPi / 4);
    double below = centre, above = centre;
    for (int n = 0; n < 2000; ++n) {
      if (below > 0) differing += !check(1.0, below) + !check(0.3, below);
      if (above < kTwoPi) differing += !check(1.0, above) + !check(0.3, above);
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, 10.0);
    }
  }
  EXPECT_EQ(differing, 0);

  // The same stream drawn as the direction was first written.
  refhost::ThreadContext ctx(3, 21);
  uint64_t plain = ctx.rng;
  auto uniform = [&plain] {
    plain += 0x9E3779B97F4A7C15ull;
    uint64_t z = plain;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return double(z >> 11) * (1.0 / 9007199254740992.0);
  };
  miState s = refhost::make_state(nullptr, &ctx, miRAY_PHOTON_FIRST);
  long stream_differing = 0;
  for (int i = 0; i < 200000; ++i) {
    miVector d;
    ASSERT_EQ(mi_scattering_dir_diffuse(&d, &s), 1);
    const double z = 1.0 - 2.0 * uniform();
    const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
    const double phi = kTwoPi * uniform();
    const miVector want{static_cast<float>(r * std::cos(phi)),
                        static_cast<float>(r * std::sin(phi)), static_cast<float>(z)};
    stream_differing += std::memcmp(&d, &want, sizeof d) != 0;
  }
  EXPECT_EQ(stream_differing, 0);
}

// Independent uniform numbers put 16 ± 4 (one standard deviation) of 1024
// points into each of 64 cells; all 64 cells land within 16 ± 5 only about
// once in a hundred thousand. A low-discrepancy sequence always does.
TEST(RefhostSample, PointsSpreadEvenlyOverTheSquare) {
  for (const int thread : {0, 1, 5}) {
    refhost::ThreadContext ctx(thread, 9);
    miState s = refhost::make_state(nullptr, &ctx, miRAY_PHOTON_FIRST);
    std::vector<int> cells(64, 0);
    for (int i = 0; i < 1024; ++i) {
      double v[2];
      mi_sample(v, nullptr, &s, 2, nullptr);
      ++cells[size_t(int(v[1] * 8) * 8 + int(v[0] * 8))];
    }
    const auto [lo, hi] = std::minmax_element(cells.begin(), cells.end());
    EXPECT_GE(*lo, 11) << "thread " << thread;
    EXPECT_LE(*hi, 21) << "thread " << thread;
  }
}

}  // namespace
