// Private structures of the reference host shared between its modules.
#pragma once

#include <atomic>
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

}  // namespace refhost::detail
