// The host allocator, with a record of every live block by source file and
// line so that tests can prove that nothing leaks and that per-ray calls
// allocate nothing.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "refhost/refhost.h"

namespace {

struct Ledger {
  std::mutex mutex;
  std::unordered_map<void*, refhost::BlockInfo> live;
  std::atomic<uint64_t> allocations{0};
};

Ledger& ledger() {
  static Ledger* l = new Ledger;  // outlives every static that releases memory
  return *l;
}

}  // namespace

namespace refhost {

std::vector<BlockInfo> live_blocks() {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  std::vector<BlockInfo> out;
  for (const auto& [p, info] : ledger().live) out.push_back(info);
  return out;
}

size_t live_blocks_from(std::string_view file_part) {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  size_t n = 0;
  for (const auto& [p, info] : ledger().live)
    if (info.file.find(file_part) != std::string::npos) ++n;
  return n;
}

uint64_t allocation_count() { return ledger().allocations.load(); }

}  // namespace refhost

extern "C" {

void* mi_mem_int_allocate(const char* file, int line, size_t size) {
  // Zeroed, as a host allocator hands out blocks.
  void* p = std::calloc(1, size == 0 ? 1 : size);
  if (p == nullptr) std::abort();
  Ledger& l = ledger();
  l.allocations.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(l.mutex);
  l.live.emplace(p, refhost::BlockInfo{file != nullptr ? file : "?", line, size});
  return p;
}

void mi_mem_int_release(const char* file, int line, void* block) {
  if (block == nullptr) return;
  Ledger& l = ledger();
  {
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.live.erase(block) == 0) {
      mi_error("host: release of a block the allocator does not know (%s:%d)",
               file != nullptr ? file : "?", line);
      return;
    }
  }
  std::free(block);
}

char* mi_mem_int_strdup(const char* file, int line, const char* text) {
  if (text == nullptr) return nullptr;
  const size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(mi_mem_int_allocate(file, line, n));
  std::memcpy(copy, text, n);
  return copy;
}

}  // extern "C"
