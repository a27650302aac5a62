// Host locks: the 64-bit lock value holds the address of a mutex.
#include <atomic>
#include <mutex>

#include "refhost/refhost.h"

namespace {
std::atomic<uint64_t> g_locks_taken{0};
std::mutex* as_mutex(miLock lock) { return reinterpret_cast<std::mutex*>(lock.word); }
}  // namespace

namespace refhost {
uint64_t locks_taken() { return g_locks_taken.load(); }
}  // namespace refhost

extern "C" {

void mi_init_lock(miLock* lock) { lock->word = reinterpret_cast<uint64_t>(new std::mutex); }

void mi_lock(miLock lock) {
  g_locks_taken.fetch_add(1, std::memory_order_relaxed);
  as_mutex(lock)->lock();
}

void mi_unlock(miLock lock) { as_mutex(lock)->unlock(); }

void mi_delete_lock(miLock* lock) {
  delete as_mutex(*lock);
  lock->word = 0;
}

}  // extern "C"
