// A progress bar on standard error for long calculations. It draws only
// when standard error is a terminal and the work has run for half a second,
// so short runs and logs stay clean.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace lux {

class Progress {
 public:
  // `enabled` false: counts, never draws.
  Progress(std::string label, uint64_t total, bool enabled);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Counts work done by worker `thread`: each worker counts on its own
  // cache line, so counting does not make the workers wait for each other.
  void add(uint64_t done, int thread = 0) {
    counts_[size_t(thread) % kCountLines].n.fetch_add(done, std::memory_order_relaxed);
  }
  uint64_t done() const {
    uint64_t sum = 0;
    for (const Count& c : counts_) sum += c.n.load(std::memory_order_relaxed);
    return sum;
  }

  // Whether standard error is a terminal.
  static bool stderr_is_terminal();

 private:
  void run();
  void draw(double seconds);

  std::string label_;
  uint64_t total_;
  static constexpr size_t kCountLines = 16;
  struct alignas(64) Count {
    std::atomic<uint64_t> n{0};
  };
  Count counts_[kCountLines];
  bool drawn_ = false;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::chrono::steady_clock::time_point start_;
  std::thread thread_;
};

}  // namespace lux
