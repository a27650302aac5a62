#include "tools/lux/transport/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace lux {

namespace {
constexpr auto kQuietStart = std::chrono::milliseconds(500);
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
}  // namespace

bool Progress::stderr_is_terminal() { return isatty(STDERR_FILENO) != 0; }

Progress::Progress(std::string label, uint64_t total, bool enabled)
    : label_(std::move(label)), total_(total), start_(std::chrono::steady_clock::now()) {
  if (enabled && total_ > 0) thread_ = std::thread([this] { run(); });
}

Progress::~Progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (drawn_) std::fprintf(stderr, "\r%*s\r", kBarWidth + 40 + int(label_.size()), "");
}

void Progress::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (wake_.wait_for(lock, kQuietStart, [this] { return stop_; })) return;
  while (!wake_.wait_for(lock, kRedraw, [this] { return stop_; })) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    draw(elapsed.count());
  }
}

void Progress::draw(double seconds) {
  const double fraction = std::min(1.0, double(done()) / double(total_));
  const int filled = static_cast<int>(fraction * kBarWidth);
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  const double left = fraction > 0 ? seconds * (1 - fraction) / fraction : 0;
  std::fprintf(stderr, "\r%s [%s] %3d%%  %.1f s, about %.0f s left ", label_.c_str(), bar,
               static_cast<int>(fraction * 100), seconds, left);
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace lux
