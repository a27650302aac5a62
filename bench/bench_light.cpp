// The cost of a light sample. Each case builds one light in the reference
// host, loads the plug-in as a renderer does and measures one shader call.
// The baseline computes case (a)'s physics as one plain inline function, so
// the library's overhead is a ratio within one run.
//
//   zel_bench                       Google Benchmark, all cases
//   zel_bench --calls N --case C    N calls of case C and nothing else (for
//                                   instruction counts under callgrind)
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "refhost/profiles.h"
#include "refhost/refhost.h"

namespace {

refhost::Plugin& plugin() {
  static auto* p = new refhost::Plugin(refhost::default_plugin_path());
  return *p;
}

// One light and the rays a render thread would ask it about.
struct Case {
  std::unique_ptr<refhost::ShaderInstance> shader;
  miTag instance = 0;
  int ray_type = miRAY_LIGHT;
  std::vector<miState> states;  // a few rays, cycled
  std::vector<refhost::ThreadContext> threads;

  void make_rays(int threads_count) {
    threads.clear();
    for (int t = 0; t < threads_count; ++t) threads.emplace_back(t, 7);
  }

  miState ray(int thread, unsigned i) {
    // Points on a floor 2 units below the light, around its axis.
    const float x = float(int(i % 7) - 3) * 0.35f;
    const float y = float(int(i % 5) - 2) * 0.4f;
    miState s = refhost::make_state(shader.get(), &threads[size_t(thread)], ray_type, instance);
    const miVector org{0.05f, -0.05f, 2.0f};
    const miVector p{x, y, 0.0f};
    const miVector d{p.x - org.x, p.y - org.y, p.z - org.z};
    const float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    s.org = org;
    s.dir = {d.x / len, d.y / len, d.z / len};
    s.dist = double(len);
    s.point = ray_type == miRAY_LIGHT ? p : org;
    s.normal = {0, 0, ray_type == miRAY_LIGHT ? 1.0f : -1.0f};
    return s;
  }

  // The 64 rays a thread cycles through, made before the timing starts.
  std::vector<miState> rays(int thread) {
    std::vector<miState> out;
    for (unsigned i = 0; i < 64; ++i) out.push_back(ray(thread, i));
    return out;
  }
};

constexpr int kMaxThreads = 2;  // the threaded variants' widest

refhost::ShaderInstance* new_light_shader() {
  auto* s = new refhost::ShaderInstance(plugin(), "zel_lumenfield");
  s->set_color("color", {1, 0.9f, 0.8f, 1});
  s->set_float("relative_intensity", 1);
  s->set_float("intensity_multiplier", 1);
  s->set_float("photon_multiplier", 1);
  s->set_float("visible_multiplier", 1);
  s->set_int("output_scale_mode", 3);
  s->set_color("output_scale_color", {1, 1, 1, 1});
  s->set_float("efficacy", 683);
  s->set_float("profile_efficacy", 683);
  s->set_float("visible_falloff_exponent", 1);
  s->set_float("cosine_exponent", 1);
  return s;
}

// One scene holds every case: all are built before any benchmark runs, so
// that no thread ever sees a case being built or torn down.
void prepare_scene() {
  refhost::reset();
  refhost::set_echo(false);
  refhost::set_photon_recording(false);
}

std::unique_ptr<Case> build(const std::string& name) {
  auto c = std::make_unique<Case>();
  refhost::LightDesc desc;
  c->shader.reset(new_light_shader());
  refhost::ShaderInstance& s = *c->shader;
  if (name == "rect_cosine_lumen" || name == "rect_shadow" || name == "visible_rect") {
    desc.shape = miLIGHT_RECTANGLE;
    desc.edge_u = {0.3f, 0, 0};
    desc.edge_v = {0, -0.3f, 0};  // a × b points down: the panel faces the floor
    s.set_int("cosine_distribution", 1);
    s.set_float("intensity", 3000);
    s.set_int("intensity_unit", 1);
    if (name == "rect_shadow") {
      s.set_int("shadows", 1);
      refhost::Geometry wall;  // an occluder beside the light's field
      wall.kind = refhost::Geometry::Rectangle;
      wall.center = {10, 0, 1};
      wall.u = {0, 1, 0};
      wall.v = {0, 0, 1};
      refhost::add_instance("wall_i_" + name, refhost::add_object("wall_" + name, wall),
                            refhost::identity());
    }
    if (name == "visible_rect") c->ray_type = miRAY_EYE;
  } else if (name == "spot_cone_candela") {
    desc.type = miLIGHT_SPOT;
    desc.shape = miLIGHT_DISC;
    desc.radius = 0.05f;
    desc.spread = std::cos(30.0f * 0.01745329f);
    s.set_float("intensity", 1200);
    s.set_int("intensity_unit", 0);
    s.set_float("falloff_angle", 40);
  } else if (name == "profile") {
    refhost::ProfileTable t;
    for (int v = 0; v <= 180; v += 5) t.vertical.push_back(v);
    for (int h = 0; h < 360; h += 15) t.horizontal.push_back(h);
    for (size_t h = 0; h < t.horizontal.size(); ++h)
      for (double v : t.vertical)
        t.candela.push_back(float(1000.0 * std::max(0.0, std::cos(v * 0.0174533))));
    s.set_int("use_profile", 1);
    s.set_int("absolute_intensity", 1);
    s.set_tag("profile", refhost::add_profile("profile_" + name, t, 1));
    desc.shape = miLIGHT_RECTANGLE;
    desc.edge_u = {0.3f, 0, 0};
    desc.edge_v = {0, -0.3f, 0};  // a × b points down: the panel faces the floor
  } else if (name == "photon_disc" || name == "photon_sphere") {
    desc.shape = name == "photon_disc" ? miLIGHT_DISC : miLIGHT_SPHERE;
    desc.radius = 0.2f;
    s.set_float("intensity", 1000);
    s.set_int("intensity_unit", 1);
    c->ray_type = 8;
  } else if (name == "visible_sphere") {
    desc.shape = miLIGHT_SPHERE;
    desc.radius = 0.2f;
    s.set_float("intensity", 1000);
    s.set_int("intensity_unit", 1);
    s.set_float("visible_falloff", 0.5f);
    c->ray_type = miRAY_EYE;
  }
  c->instance = refhost::add_instance("light_i_" + name, refhost::add_light("light_" + name, desc),
                                      refhost::translate(0, 0, 2));
  c->make_rays(kMaxThreads);
  miState st = c->ray(0, 0);
  s.init(&st);
  return c;
}

const std::vector<std::string> kCases = {"rect_cosine_lumen", "spot_cone_candela", "rect_shadow",
                                         "profile",           "photon_disc",       "photon_sphere",
                                         "visible_rect",      "visible_sphere"};

// Case (a)'s physics as one inline function: a Lambertian emitter of Φ lumen
// has a peak intensity Φ/π; the inverse-square law and the cosine law give
// the light reaching the point, carried by the colour's strongest channel.
inline miColor baseline_rect(const miVector& dir, double dist, const miColor& color, float lumen) {
  const float peak = lumen / 3.14159265f;
  const float cos_emit = -dir.z;
  if (cos_emit <= 0.0f) return {0, 0, 0, color.a};
  const float d = static_cast<float>(dist);
  const float value = peak * cos_emit / (d * d);
  const float m = std::max(color.r, std::max(color.g, color.b));
  const float k = value / m;
  return {color.r * k, color.g * k, color.b * k, color.a};
}

std::map<std::string, std::unique_ptr<Case>>& all_cases() {
  static auto* cases = new std::map<std::string, std::unique_ptr<Case>>;
  return *cases;
}

void run_case(benchmark::State& bs, Case* c) {
  const std::vector<miState> rays = c->rays(bs.thread_index());
  miColor result;
  for (auto _ : bs) {
    for (const miState& ray : rays) {
      miState s = ray;  // the photon path moves the ray; every call starts afresh
      c->shader->call(&result, &s);
      benchmark::DoNotOptimize(result);
    }
  }
  bs.SetItemsProcessed(bs.iterations() * 64);
}

// The baseline runs over the same prepared rays as case (a), each handed
// over as a copy of its state just as the shader's calls get theirs.
void run_baseline(benchmark::State& bs, Case* rect) {
  const std::vector<miState> rays = rect->rays(bs.thread_index());
  const miColor color{1, 0.9f, 0.8f, 1};
  for (auto _ : bs) {
    for (const miState& ray : rays) {
      miState s = ray;
      benchmark::DoNotOptimize(s);
      const miColor r = baseline_rect(s.dir, s.dist, color, 3000);
      benchmark::DoNotOptimize(r);
    }
  }
  bs.SetItemsProcessed(bs.iterations() * 64);
}

// The profile-sampling shader on a profile of its own, set up beforehand.
struct UtilityCase {
  std::unique_ptr<refhost::ShaderInstance> shader;
  miTag instance = 0;
};

UtilityCase build_utility() {
  UtilityCase u;
  refhost::ProfileTable t{{0, 90, 180}, {0}, {100, 50, 0}};
  const miTag profile = refhost::add_profile("utility_profile", t, 1);
  u.instance = refhost::add_instance("utility_light_i", refhost::add_light("utility_light", {}),
                                     refhost::identity());
  u.shader = std::make_unique<refhost::ShaderInstance>(plugin(), "zel_lightprofile_utility");
  u.shader->set_tag("profile", profile);
  refhost::ThreadContext th(0, 1);
  miState st = refhost::make_state(u.shader.get(), &th, 0, u.instance);
  u.shader->init(&st);
  return u;
}

void run_utility(benchmark::State& bs, const UtilityCase* u) {
  refhost::ThreadContext th(bs.thread_index(), 3);
  for (auto _ : bs) {
    miState s = refhost::make_state(u->shader.get(), &th, 0, u->instance);
    s.dir = {0.3f, 0.1f, -0.9f};
    float v;
    for (int k = 0; k < 64; ++k) {
      u->shader->call(&v, &s);
      benchmark::DoNotOptimize(v);
    }
  }
  bs.SetItemsProcessed(bs.iterations() * 64);
}

// What one counted call does, behind a function pointer so that the loop
// around it compiles the same for every mode.
using CountedCall = void (*)(Case*, miState*, miColor*);

[[gnu::noinline]] void call_shader(Case* c, miState* s, miColor* result) {
  c->shader->call(result, s);
}
[[gnu::noinline]] void call_baseline(Case*, miState* s, miColor* result) {
  *result = baseline_rect(s->dir, s->dist, {1, 0.9f, 0.8f, 1}, 3000);
}
[[gnu::noinline]] void call_nothing(Case*, miState* s, miColor* result) {
  benchmark::DoNotOptimize(s);
  benchmark::DoNotOptimize(result);
}

// N calls of one case, for instruction counting. Every mode runs the same
// loop, which hands each call a copy of one of 64 prepared states;
// "harness" calls nothing, and the counting script takes its count off the
// others so that they show the call alone.
int count_calls(const std::string& name, long calls) {
  const bool plain = name == "baseline" || name == "harness";
  prepare_scene();
  auto c = build(plain ? "rect_cosine_lumen" : name);
  const std::vector<miState> rays = c->rays(0);
  CountedCall call = call_shader;
  if (name == "baseline") call = call_baseline;
  if (name == "harness") call = call_nothing;
  benchmark::DoNotOptimize(call);
  miColor result;
  for (long i = 0; i < calls; ++i) {
    miState s = rays[size_t(i) & 63];
    call(c.get(), &s, &result);
    benchmark::DoNotOptimize(result);
  }
  c->shader->exit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 3 < argc + 1; ++i) {
    if (std::strcmp(argv[i], "--calls") == 0 && i + 3 < argc + 1 &&
        std::strcmp(argv[i + 2], "--case") == 0)
      return count_calls(argv[i + 3], std::atol(argv[i + 1]));
  }
  prepare_scene();
  for (const auto& name : kCases) all_cases()[name] = build(name);
  static const UtilityCase utility = build_utility();

  // The baseline on two threads as well: pure arithmetic that shares
  // nothing, so its scaling is what this machine itself allows.
  benchmark::RegisterBenchmark("baseline/rect_cosine_lumen", run_baseline,
                               all_cases().at("rect_cosine_lumen").get())
      ->Threads(1)
      ->Threads(kMaxThreads)
      ->UseRealTime();
  for (const auto& name : kCases) {
    benchmark::RegisterBenchmark(("light/" + name).c_str(), run_case, all_cases().at(name).get())
        ->Threads(1)
        ->Threads(kMaxThreads)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("utility/profile", run_utility, &utility)
      ->Threads(1)
      ->Threads(kMaxThreads)
      ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
