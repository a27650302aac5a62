// Private structures of the reference host shared between its modules.
#pragma once

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "refhost/refhost.h"

namespace refhost::detail {

// How often render threads looked something up in the database and asked
// each query code. Every host call a shader makes per ray bumps one of
// these, so a single shared counter would make all threads fight over one
// cache line and the counting itself would stop them from scaling. Each
// thread counts into its own line instead (threads beyond kShards share
// lines, which is why the adds stay atomic); a read sums the lines.
class EventCounters {
 public:
  static constexpr int kQueryCodes = 256;

  void count_lookup() { bump(kLookupSlot); }
  void count_query(int code) {
    if (code >= 0 && code < kQueryCodes) bump(code);
  }
  uint64_t lookups() const { return total(kLookupSlot); }
  uint64_t queries(int code) const { return code >= 0 && code < kQueryCodes ? total(code) : 0; }
  void clear() {
    for (Shard& s : shards_)
      for (auto& n : s.n) n.store(0, std::memory_order_relaxed);
  }

 private:
  static constexpr int kLookupSlot = kQueryCodes;
  static constexpr int kShards = 32;
  struct alignas(64) Shard {
    std::atomic<uint64_t> n[kQueryCodes + 1] = {};
  };

  static int this_thread_shard() {
    thread_local int shard = -1;  // constant-initialised: no guard on every count
    if (shard < 0) [[unlikely]]
      shard = next_shard();
    return shard;
  }
  static int next_shard() {
    static std::atomic<int> next{0};
    return next.fetch_add(1, std::memory_order_relaxed) % kShards;
  }
  void bump(int slot) {
    shards_[this_thread_shard()].n[slot].fetch_add(1, std::memory_order_relaxed);
  }
  uint64_t total(int slot) const {
    uint64_t sum = 0;
    for (const Shard& s : shards_) sum += s.n[slot].load(std::memory_order_relaxed);
    return sum;
  }

  Shard shards_[kShards];
};

struct Element {
  int type = 0;
  std::unique_ptr<std::max_align_t[]> storage;
  size_t size = 0;
  std::string name;
  std::atomic<int> pins{0};
  Geometry geometry;           // objects
  std::vector<miTag> members;  // groups
  // What the host derives from the element on first use (a light profile's
  // table): the latest is published through `derived` and read without a
  // lock; every one ever published is owned here until the element goes, so
  // a reader never holds a dangling pointer.
  std::atomic<const void*> derived{nullptr};
  std::vector<std::shared_ptr<const void>> derived_owners;
  unsigned char* bytes() { return reinterpret_cast<unsigned char*>(storage.get()); }
  const unsigned char* bytes() const {
    return reinterpret_cast<const unsigned char*>(storage.get());
  }
};

// What the scene's rays see, gathered from the elements once (trace.cpp).
struct TraceView;

struct Database {
  std::mutex mutex;  // guards edits; rendering reads without it
  // Tag t at index t - 1. Edited only while the scene is built; rendering
  // threads read it without a lock.
  std::vector<std::unique_ptr<Element>> elements;
  std::unordered_map<std::string, miTag> names;
  miTag base_name_tag = 0;
  std::vector<miTag> geoshader_results;
  // Moves on with every edit that can change what rays see (a new element,
  // an object's geometry, an instance's item); a trace view built at another
  // count is out of date. The latest view is published through
  // `trace_view` and read without a lock; every view ever built is owned
  // here until the scene is reset, so a reader never holds a dangling one.
  std::atomic<uint64_t> generation{0};
  std::atomic<const TraceView*> trace_view{nullptr};
  std::vector<std::shared_ptr<const TraceView>> trace_view_owners;
};

// Marks the scene as edited: views derived from it are rebuilt on next use.
inline void scene_edited(Database& d) { d.generation.fetch_add(1, std::memory_order_acq_rel); }

// Counted from the first host call on, whether or not a scene exists yet;
// constant-initialised, so counting never has to build anything.
inline constinit EventCounters g_counters{};
inline EventCounters& counters() { return g_counters; }

// Built on first use and never destroyed, so it outlives every static user.
// db() sits on every host call a ray makes: once built, it is one load.
inline std::atomic<Database*> g_database{nullptr};
[[gnu::cold, gnu::noinline]] Database& make_database();
inline Database& db() {
  Database* d = g_database.load(std::memory_order_acquire);
  return d != nullptr ? *d : make_database();
}
// The element of `tag`, or null for 0 or an unknown tag. Inline: every
// transformation into a light's space looks its instance up. Looking up
// never builds the database: before it exists there is no element.
inline Element* element(miTag tag) {
  const Database* d = g_database.load(std::memory_order_acquire);
  if (d == nullptr) return nullptr;
  const auto& elements = d->elements;
  return tag != 0 && tag <= elements.size() ? elements[tag - 1].get() : nullptr;
}
miTag add_element(int type, size_t size, const std::string& name);

// The instance record's matrices.
inline const float* instance_matrix(miTag instance, size_t offset) {
  Element* e = element(instance);
  if (e == nullptr || e->type != miSCENE_INSTANCE) return nullptr;
  return reinterpret_cast<const float*>(e->bytes() + offset);
}
inline const float* instance_local_to_world(miTag instance) {
  return instance_matrix(instance, kInstanceLocalToGlobal);
}
inline const float* instance_world_to_local(miTag instance) {
  return instance_matrix(instance, kInstanceGlobalToLocal);
}

// Takes over a name string that the library handed to the host.
std::string take_name(char* name);

// The point at angle φ (radians, within [0, 2π)) on the circle of radius r
// (within [0, 1]), as the floats r·cos φ and r·sin φ (the products in double
// precision, rounded once): the same floats as the C library's cos and sin
// give, without their cost on every photon.
void circle_point(double r, double phi, float& x, float& y);

// atan2 by reduction to a table: t, the tangent of the angle from the
// nearer axis (0 to 1), lies within 1/64 of a tabulated tk = k/32, whose
// arctangent is stored correctly rounded; the rest is the arctangent of
// (t − tk)/(1 + t·tk), at most 1/64, whose series stops at the ninth power
// with the next term below 2^-66. t − tk is exact (the two are within a
// factor two), so the result stays within a few units in the last place,
// relative to the angle near the axes. Not for y = x = 0. Inline: the light
// profiles take two arctangents a sample.
inline double quick_atan2(double y, double x) {
  static constexpr double kAtan[33] = {0x0.0p+0,
                                       0x1.ffd55bba97625p-6,
                                       0x1.ff55bb72cfdeap-5,
                                       0x1.7ee182602f10fp-4,
                                       0x1.fd5ba9aac2f6ep-4,
                                       0x1.3d6eee8c6626cp-3,
                                       0x1.7b97b4bce5b02p-3,
                                       0x1.b90d7529260a2p-3,
                                       0x1.f5b75f92c80ddp-3,
                                       0x1.18bf5a30bf178p-2,
                                       0x1.362773707ebccp-2,
                                       0x1.530ad9951cd4ap-2,
                                       0x1.6f61941e4def1p-2,
                                       0x1.8b24d394a1b25p-2,
                                       0x1.a64eec3cc23fdp-2,
                                       0x1.c0db4c94ec9f0p-2,
                                       0x1.dac670561bb4fp-2,
                                       0x1.f40dd0b541418p-2,
                                       0x1.0657e94db30d0p-1,
                                       0x1.1255d9bfbd2a9p-1,
                                       0x1.1e00babdefeb4p-1,
                                       0x1.2958e59308e31p-1,
                                       0x1.345f01cce37bbp-1,
                                       0x1.3f13fb89e96f4p-1,
                                       0x1.4978fa3269ee1p-1,
                                       0x1.538f57b89061fp-1,
                                       0x1.5d58987169b18p-1,
                                       0x1.66d663923e087p-1,
                                       0x1.700a7c5784634p-1,
                                       0x1.78f6bbd5d315ep-1,
                                       0x1.819d0b7158a4dp-1,
                                       0x1.89ff5ff57f1f8p-1,
                                       0x1.921fb54442d18p-1};
  constexpr double kHalfPi = 0x1.921fb54442d18p+0;
  constexpr double kPiD = 0x1.921fb54442d18p+1;
  const double ax = std::fabs(x), ay = std::fabs(y);
  const bool steep = ay > ax;
  const double t = steep ? ax / ay : ay / ax;
  const int k = static_cast<int>(t * 32.0 + 0.5);
  const double tk = k * (1.0 / 32.0);
  const double r = (t - tk) / (1.0 + t * tk);
  const double r2 = r * r;
  double a =
      kAtan[k] + (r + r * r2 * (-1.0 / 3 + r2 * (1.0 / 5 + r2 * (-1.0 / 7 + r2 * (1.0 / 9)))));
  if (steep) a = kHalfPi - a;
  if (x < 0.0) a = kPiD - a;
  return std::copysign(a, y);
}

}  // namespace refhost::detail
