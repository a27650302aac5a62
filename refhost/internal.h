// Private structures of the reference host shared between its modules.
#pragma once

#include <atomic>
#include <deque>
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
  std::deque<std::unique_ptr<Element>> elements;  // tag t at index t - 1
  std::unordered_map<std::string, miTag> names;
  std::atomic<uint64_t> lookups{0};
  std::atomic<uint64_t> queries[256] = {};
  miTag base_name_tag = 0;
  std::vector<miTag> geoshader_results;
};

Database& db();
// The element of `tag`, or null for 0 or an unknown tag.
Element* element(miTag tag);
miTag add_element(int type, size_t size, const std::string& name);

// The instance record's matrices.
const float* instance_local_to_world(miTag instance);
const float* instance_world_to_local(miTag instance);

// Takes over a name string that the library handed to the host.
std::string take_name(char* name);

}  // namespace refhost::detail
