// Triangle meshes in the reference host: a mesh traces like the analytic
// shape it approximates exactly, the accelerated answers equal the
// triangle-by-triangle ones, and a malformed mesh is refused.
#include <cmath>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "refhost/embree.h"
#include "refhost/trace.h"
#include "tests/host_fixture.h"

namespace {

using refhost::Geometry;
using zeltest::HostTest;

class Mesh : public HostTest {};

struct Triangles {
  std::vector<float> vertices;
  std::vector<uint32_t> triangles;
};

// The surface of the box lo..hi as twelve triangles.
Triangles cube(miVector lo, miVector hi) {
  Triangles t;
  for (int k = 0; k < 8; ++k) {
    t.vertices.push_back((k & 1) != 0 ? hi.x : lo.x);
    t.vertices.push_back((k & 2) != 0 ? hi.y : lo.y);
    t.vertices.push_back((k & 4) != 0 ? hi.z : lo.z);
  }
  // Each face by its four corners in order around it.
  const uint32_t faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  for (const auto& f : faces)
    t.triangles.insert(t.triangles.end(), {f[0], f[1], f[2], f[0], f[2], f[3]});
  return t;
}

// A sphere of radius r as a latitude–longitude mesh.
Triangles globe(float r, uint32_t rings, uint32_t segments) {
  Triangles t;
  const double pi = std::acos(-1.0);
  for (uint32_t i = 0; i <= rings; ++i)
    for (uint32_t j = 0; j < segments; ++j) {
      const double theta = pi * i / rings, phi = 2 * pi * j / segments;
      t.vertices.push_back(float(double(r) * std::sin(theta) * std::cos(phi)));
      t.vertices.push_back(float(double(r) * std::sin(theta) * std::sin(phi)));
      t.vertices.push_back(float(double(r) * std::cos(theta)));
    }
  for (uint32_t i = 0; i < rings; ++i)
    for (uint32_t j = 0; j < segments; ++j) {
      const uint32_t a = i * segments + j, b = i * segments + (j + 1) % segments;
      const uint32_t c = a + segments, d = b + segments;
      t.triangles.insert(t.triangles.end(), {a, c, d, a, d, b});
    }
  return t;
}

miTag add(const std::string& name, const Triangles& t, miColor transparency = {0, 0, 0, 0}) {
  return refhost::add_mesh(name, t.vertices, t.triangles, transparency);
}

struct Probe {
  bool hit;
  double dist;
  miTag instance;
};

Probe probe(miState& state, miVector origin, miVector direction) {
  const bool hit = mi_trace_probe(&state, &direction, &origin) != 0;
  return {hit, state.probe.dist, state.probe.instance};
}

// Whether the light ray from `from` to `to` gets through, and in what part.
miColor through(refhost::ThreadContext& thread, miVector from, miVector to) {
  miState s = refhost::make_state(nullptr, &thread, miRAY_LIGHT);
  const double dx = double(to.x) - double(from.x), dy = double(to.y) - double(from.y),
               dz = double(to.z) - double(from.z);
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  s.org = from;
  s.point = to;
  s.dir = {float(dx / length), float(dy / length), float(dz / length)};
  s.dist = length;
  miColor c{1, 1, 1, 1};
  mi_trace_shadow(&c, &s);
  return c;
}

// Rays from around a box at it and past it: the mesh cube answers as the
// box does, placed directly or by an instance.
TEST_F(Mesh, CubeTracesLikeTheBox) {
  const miVector lo{-1, -2, 0}, hi{1, 2, 3};
  const refhost::Matrix place = refhost::translate(20, 0, 0);
  Geometry box;
  box.kind = Geometry::Box;
  box.min = lo;
  box.max = hi;
  const miTag box_object = refhost::add_object("box", box);
  refhost::add_instance("box_inst", box_object, refhost::identity());
  const miTag mesh_object = add("cube", cube(lo, hi));
  refhost::add_instance("cube_inst", mesh_object, place);

  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-1, 1);
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE);
  int hits = 0;
  for (int k = 0; k < 400; ++k) {
    const miVector origin{4 * u(rng), 5 * u(rng), 1.5f + 4 * u(rng)};
    const miVector direction{-origin.x + u(rng), -origin.y + u(rng), 1.5f - origin.z + u(rng)};
    const Probe a = probe(state, origin, direction);
    const Probe b = probe(state, {origin.x + 20, origin.y, origin.z}, direction);
    ASSERT_EQ(a.hit, b.hit) << "ray " << k;
    if (!a.hit) continue;
    ++hits;
    EXPECT_NEAR(a.dist, b.dist, 1e-4) << "ray " << k;
    const miVector end{origin.x + 2 * direction.x, origin.y + 2 * direction.y,
                       origin.z + 2 * direction.z};
    const miColor sa = through(thread_, origin, end);
    const miColor sb =
        through(thread_, {origin.x + 20, origin.y, origin.z}, {end.x + 20, end.y, end.z});
    EXPECT_EQ(sa.r, sb.r) << "shadow of ray " << k;
  }
  EXPECT_GT(hits, 100) << "the rays were meant to meet the box";
}

// The accelerated search finds the same nearest triangle as testing every
// one of them, for rays from outside, inside and along the surface.
TEST_F(Mesh, AcceleratedCrossingsEqualTheExhaustiveOnes) {
  const Triangles t = globe(2.0f, 24, 48);
  const refhost::TriangleMesh mesh(t.vertices, t.triangles);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1, 1);
  int hits = 0;
  for (int k = 0; k < 2000; ++k) {
    const double reach = k % 2 == 0 ? 1.5 : 4.0;  // inside and outside the globe
    const refhost::Vec3d o{reach * u(rng), reach * u(rng), reach * u(rng)};
    const refhost::Vec3d d{u(rng), u(rng), u(rng)};
    const double exact = refhost::mesh_first_crossing_exhaustive(mesh, o, d, 1e-6, 1e30);
    const double fast = refhost::mesh_first_crossing(mesh, o, d, 1e-6, 1e30);
    const bool any = refhost::mesh_crossed(mesh, o, d, 1e-6, 1e30);
    ASSERT_EQ(std::isfinite(exact), std::isfinite(fast)) << "ray " << k;
    EXPECT_EQ(any, std::isfinite(exact)) << "ray " << k;
    if (!std::isfinite(exact)) continue;
    ++hits;
    EXPECT_NEAR(fast, exact, 1e-5 * (1 + exact)) << "ray " << k;
    // The triangle met lies where the ray crosses.
    refhost::MeshHit hit;
    ASSERT_TRUE(refhost::mesh_first_hit(mesh, o, d, 1e-6, 1e30, hit)) << "ray " << k;
    const refhost::Vec3d n = refhost::triangle_normal(mesh, hit.triangle);
    const float* a = &t.vertices[size_t(t.triangles[size_t(hit.triangle) * 3]) * 3];
    const refhost::Vec3d at{o.x + hit.t * d.x - double(a[0]), o.y + hit.t * d.y - double(a[1]),
                            o.z + hit.t * d.z - double(a[2])};
    EXPECT_NEAR(at.x * n.x + at.y * n.y + at.z * n.z, 0.0, 1e-5) << "ray " << k;
    // A ray that ends before the first crossing meets nothing.
    EXPECT_FALSE(refhost::mesh_crossed(mesh, o, d, 1e-6, 0.99 * exact)) << "ray " << k;
  }
  EXPECT_GT(hits, 1000);
}

// A see-through mesh lets its transparency through once however many of its
// triangles the ray crosses; many threads get the same answers.
TEST_F(Mesh, ShadowsOfAMeshFromManyThreads) {
  add("glass", cube({-1, -1, 2}, {1, 1, 3}), {0.5f, 0.25f, 1, 1});
  constexpr int kThreads = 3, kRays = 600;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&wrong, t] {
      refhost::ThreadContext ctx(t, 3);
      for (int i = 0; i < kRays; ++i) {
        const float x = float(i % 30) * 0.1f - 1.45f;  // never grazing the sides
        const miColor c = through(ctx, {x, 0.3f, 10}, {x, 0.3f, 0});
        const bool inside = std::fabs(x) < 1.0f;
        if (c.r != (inside ? 0.5f : 1.0f) || c.g != (inside ? 0.25f : 1.0f)) ++wrong[size_t(t)];
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[size_t(t)], 0) << "thread " << t;
}

TEST_F(Mesh, MalformedMeshesAreRefused) {
  const Triangles good = cube({0, 0, 0}, {1, 1, 1});
  struct Case {
    const char* what;
    std::vector<float> vertices;
    std::vector<uint32_t> triangles;
  };
  const Case cases[] = {
      {"no triangles", good.vertices, {}},
      {"an index past the last vertex", good.vertices, {0, 1, 8}},
      {"indices not in threes", good.vertices, {0, 1, 2, 3}},
      {"coordinates not in threes", {0, 0, 0, 1, 0, 0, 0, 1}, {0, 1, 2}},
  };
  for (const Case& c : cases)
    EXPECT_THROW(refhost::add_mesh("bad", c.vertices, c.triangles), std::invalid_argument)
        << c.what;
}

}  // namespace
