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

struct Database {
  std::mutex mutex;  // guards edits; rendering reads without it
  // Tag t at index t - 1. Edited only while the scene is built; rendering
  // threads read it without a lock.
  std::vector<std::unique_ptr<Element>> elements;
  std::unordered_map<std::string, miTag> names;
  std::atomic<uint64_t> lookups{0};
  std::atomic<uint64_t> queries[256] = {};
  miTag base_name_tag = 0;
  std::vector<miTag> geoshader_results;
};

inline Database& db() {
  static Database* d = new Database;  // never destroyed: outlives every static user
  return *d;
}
// The element of `tag`, or null for 0 or an unknown tag. Inline: every
// transformation into a light's space looks its instance up.
inline Element* element(miTag tag) {
  const auto& elements = db().elements;
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

}  // namespace refhost::detail
