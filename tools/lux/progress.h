// A progress bar on standard error for long calculations. It draws only
// when standard error is a terminal and the work has run for half a second,
// so short runs and logs stay clean.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
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

  void add(uint64_t done) { done_.fetch_add(done, std::memory_order_relaxed); }
  uint64_t done() const { return done_.load(std::memory_order_relaxed); }

  // Whether standard error is a terminal.
  static bool stderr_is_terminal();

 private:
  void run();
  void draw(double seconds);

  std::string label_;
  uint64_t total_;
  std::atomic<uint64_t> done_{0};
  bool drawn_ = false;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::chrono::steady_clock::time_point start_;
  std::thread thread_;
};

}  // namespace lux
