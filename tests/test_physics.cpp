// Physical checks of the area light end to end, through the loaded plug-in
// and the reference host's light-sampling loop: illuminance against closed
// forms, luminance of the visible surface against the light it casts, and
// the flux carried by photons.
#include <cmath>
#include <string>
#include <vector>

#include "refhost/lightloop.h"
#include "refhost/refhost.h"
#include "tests/host_fixture.h"

namespace {

using zeltest::HostTest;
using zeltest::near_rel;

constexpr double kPi = 3.141592653589793;

// Configuration factor from a differential area to a parallel rectangle of
// sides x and y, the element facing the rectangle opposite one corner at
// distance c. Signed sides give the signed parts used to build any
// rectangle from four corner rectangles.
double corner_factor(double x, double y, double c) {
  const double X = std::fabs(x) / c, Y = std::fabs(y) / c;
  const double sx = std::sqrt(1 + X * X), sy = std::sqrt(1 + Y * Y);
  const double f = (X / sx * std::atan(Y / sx) + Y / sy * std::atan(X / sy)) / (2 * kPi);
  return (x < 0) != (y < 0) ? -f : f;
}

// Factor from an element at (px, py), a distance c below a rectangle
// [x0, x1] × [y0, y1] parallel to it and facing it.
double rectangle_factor(double px, double py, double x0, double x1, double y0, double y1,
                        double c) {
  return corner_factor(x1 - px, y1 - py, c) - corner_factor(x0 - px, y1 - py, c) -
         corner_factor(x1 - px, y0 - py, c) + corner_factor(x0 - px, y0 - py, c);
}

// Factor from an element on the axis of a parallel disc of radius r.
double disc_factor(double r, double c) { return r * r / (r * r + c * c); }

miVector unit(miVector v) {
  const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x / l, v.y / l, v.z / l};
}

class Physics : public HostTest {
 protected:
  refhost::SceneLight light(refhost::ShaderInstance& s, miTag instance) {
    miState st = refhost::make_state(&s, &thread_, miRAY_EYE, instance);
    s.init(&st);
    return {&s, instance};
  }
  // A Lambertian emitter (cosine law, exponent 1) of `lumens`, facing down
  // from `height` above the floor.
  refhost::ShaderInstance& lambertian(float lumens) {
    refhost::ShaderInstance& s = lumenfield();
    s.set_float("intensity", lumens);
    s.set_int("intensity_unit", 1);
    s.set_int("cosine_distribution", 1);
    s.set_float("cosine_exponent", 1);
    return s;
  }
  static refhost::Matrix facing_down(float height) {
    return refhost::multiply(refhost::rotate_xyz(180, 0, 0), refhost::translate(0, 0, height));
  }
};

// A light without extent of I candela gives I·cosθ/d² lux at a point at
// distance d whose normal makes the angle θ with the direction to the
// light, whether I is given in candela or as the lumens 4π·I of an
// isotropic source.
TEST_F(Physics, IsotropicLightFollowsInverseSquareAndCosine) {
  struct Receiver {
    miVector point, normal;
  };
  const std::vector<Receiver> receivers = {
      {{0, 0, -2}, {0, 0, 1}},        {{3, 0, -4}, {0, 0, 1}},    {{3, 0, -4}, unit({-3, 0, 4})},
      {{1, 2, 2}, unit({0, -1, -1})}, {{0.1f, 0, 0}, {-1, 0, 0}}, {{-20, 5, 1}, unit({1, 0.2f, 0})},
  };
  const miVector at{0.5f, -1, 2};
  refhost::LightDesc desc;
  const miTag inst = add_light_instance(desc, refhost::translate(at.x, at.y, at.z));
  for (const int unit_code : {0, 1}) {
    const float candela = 250;
    refhost::ShaderInstance& s = lumenfield();
    s.set_int("intensity_unit", unit_code);
    s.set_float("intensity", unit_code == 0 ? candela : float(4 * kPi * double(candela)));
    const refhost::SceneLight l = light(s, inst);
    for (const Receiver& r : receivers) {
      const miVector p{r.point.x + at.x, r.point.y + at.y, r.point.z + at.z};
      SCOPED_TRACE("unit " + std::to_string(unit_code) + " point " + std::to_string(p.x) + ", " +
                   std::to_string(p.y) + ", " + std::to_string(p.z));
      const double dx = double(at.x) - double(p.x), dy = double(at.y) - double(p.y),
                   dz = double(at.z) - double(p.z);
      const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
      const double cos_theta =
          (dx * double(r.normal.x) + dy * double(r.normal.y) + dz * double(r.normal.z)) / d;
      const double expected = double(candela) * cos_theta / (d * d);
      const miColor e = refhost::illuminance(l, p, r.normal, 1, thread_);
      EXPECT_TRUE(near_rel(double(e.r), expected, 1e-5)) << e.r << " lux, expected " << expected;
      EXPECT_TRUE(near_rel(double(e.g), expected, 1e-5));
      EXPECT_TRUE(near_rel(double(e.b), expected, 1e-5));
    }
  }
}

// A Lambertian rectangle of Φ lumens and area A has the exitance Φ/A; a
// point below it receives Φ/A times the configuration factor of the
// rectangle seen from there. The rectangle's edge vectors reach from its
// centre to its sides. A disc of the same light obeys the same law.
TEST_F(Physics, LambertianEmittersMatchTheConfigurationFactor) {
  const float lumens = 1000, height = 1.25f;
  const double ha = 1, hb = 0.5;  // half-extents
  refhost::LightDesc rect;
  rect.shape = miLIGHT_RECTANGLE;
  rect.edge_u = {float(ha), 0, 0};
  rect.edge_v = {0, float(hb), 0};
  const refhost::SceneLight r =
      light(lambertian(lumens), add_light_instance(rect, facing_down(height)));
  const double area = 4 * ha * hb;

  struct Point {
    double x, y;
  };
  const std::vector<Point> points = {{0, 0}, {0.5, 0.3}, {-0.9, -0.45}, {1.5, 0}, {2, -1}, {0, 3}};
  for (const Point& p : points) {
    SCOPED_TRACE("point " + std::to_string(p.x) + ", " + std::to_string(p.y));
    // The light turned about x mirrors its y: the rectangle is symmetric.
    const double expected =
        double(lumens) / area * rectangle_factor(p.x, p.y, -ha, ha, -hb, hb, double(height));
    const miColor e =
        refhost::illuminance(r, {float(p.x), float(p.y), 0}, {0, 0, 1}, 10000, thread_);
    EXPECT_TRUE(near_rel(double(e.r), expected, 0.01)) << e.r << " lux, expected " << expected;
  }

  const float radius = 0.8f;
  refhost::LightDesc disc;
  disc.shape = miLIGHT_DISC;
  disc.radius = radius;
  disc.normal = {0, 0, 1};
  const refhost::SceneLight d =
      light(lambertian(lumens), add_light_instance(disc, facing_down(height)));
  const double disc_area = kPi * double(radius) * double(radius);
  for (const float h : {height, 0.5f * height}) {
    SCOPED_TRACE("disc, distance " + std::to_string(h));
    const double expected = double(lumens) / disc_area * disc_factor(double(radius), double(h));
    const miColor e = refhost::illuminance(d, {0, 0, height - h}, {0, 0, 1}, 10000, thread_);
    EXPECT_TRUE(near_rel(double(e.r), expected, 0.01)) << e.r << " lux, expected " << expected;
  }
}

// The luminance of a Lambertian emitter seen face-on is its peak intensity
// over its area, and π times it is the illuminance it casts per unit of
// configuration factor: the visible surface and the light it casts agree.
// A disc of the same area and lumens looks the same.
TEST_F(Physics, VisibleLuminanceAgreesWithCastLight) {
  const float lumens = 1000, height = 2;
  const double ha = 1, hb = 0.5;
  const double area = 4 * ha * hb;
  const float radius = float(std::sqrt(area / kPi));
  // Output scale 1/π reads the visible surface in cd/m².
  const float to_luminance = float(1 / kPi);

  refhost::LightDesc rect;
  rect.shape = miLIGHT_RECTANGLE;
  rect.edge_u = {float(ha), 0, 0};
  rect.edge_v = {0, float(hb), 0};
  refhost::LightDesc disc;
  disc.shape = miLIGHT_DISC;
  disc.radius = radius;

  std::vector<double> luminances;
  for (const refhost::LightDesc* desc : {&rect, &disc}) {
    SCOPED_TRACE(desc == &rect ? "rectangle" : "disc");
    refhost::ShaderInstance& s = lambertian(lumens);
    s.set_color("output_scale_color", {to_luminance, to_luminance, to_luminance, 1});
    const miTag inst = add_light_instance(*desc, facing_down(height));
    const refhost::SceneLight l = light(s, inst);

    miState eye = refhost::make_state(&s, &thread_, miRAY_EYE, inst);
    eye.org = {0.1f, 0.2f, 0};
    eye.dir = {0, 0, 1};
    eye.point = {0.1f, 0.2f, height};
    eye.normal = {0, 0, -1};  // the lit face, turned to the floor
    miColor seen{};
    ASSERT_TRUE(s.call(&seen, &eye));
    const double peak_intensity = double(lumens) / kPi;  // cd, cosine law
    EXPECT_TRUE(near_rel(double(seen.r), peak_intensity / area, 1e-5))
        << seen.r << " cd/m², expected " << peak_intensity / area;
    luminances.push_back(double(seen.r));

    if (desc == &rect) {
      const miColor e = refhost::illuminance(l, {0, 0, 0}, {0, 0, 1}, 10000, thread_);
      const double factor = rectangle_factor(0, 0, -ha, ha, -hb, hb, double(height));
      const double cast = double(e.r) / double(to_luminance);  // undo the output scale
      EXPECT_TRUE(near_rel(kPi * luminances.back() * factor, cast, 0.01))
          << "luminance " << luminances.back() << " casts " << cast;
    }
  }
  EXPECT_TRUE(near_rel(luminances[0], luminances[1], 1e-5));
}

// Photons carry the light's flux: their mean energy (lumens when the output
// scale is 1) is the luminous flux, for an isotropic point, an isotropic
// sphere and a cosine-law rectangle.
TEST_F(Physics, MeanPhotonEnergyIsTheFlux) {
  struct Case {
    std::string name;
    refhost::LightDesc desc;
    bool cosine;
    int photons;
  };
  refhost::LightDesc point;
  refhost::LightDesc sphere;
  sphere.shape = miLIGHT_SPHERE;
  sphere.radius = 0.3f;
  refhost::LightDesc rect;
  rect.shape = miLIGHT_RECTANGLE;
  rect.edge_u = {0.5f, 0, 0};
  rect.edge_v = {0, 0.25f, 0};
  const std::vector<Case> cases = {
      {"isotropic point", point, false, 2000},
      {"isotropic sphere", sphere, false, 2000},
      {"Lambertian rectangle", rect, true, 200000},
  };
  const float lumens = 1500;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    refhost::clear_photons();
    refhost::ShaderInstance& s = c.cosine ? lambertian(lumens) : lumenfield();
    if (!c.cosine) {
      s.set_float("intensity", lumens);
      s.set_int("intensity_unit", 1);
    }
    const miTag inst = add_light_instance(c.desc, facing_down(3));
    light(s, inst);
    miState st = refhost::make_state(&s, &thread_, 9, inst);
    for (int i = 0; i < c.photons; ++i) {
      miColor energy{};
      ASSERT_TRUE(s.call(&energy, &st));
    }
    double sum = 0;
    for (const refhost::Photon& p : refhost::photons()) sum += double(p.energy.r);
    const double mean = sum / c.photons;
    EXPECT_TRUE(near_rel(mean, double(lumens), 0.01)) << mean << " lm per photon";
  }
}

}  // namespace
