#pragma once

#include <atomic>
#include <thread>
#include <vector>

namespace tollmere::bench {

// Keeps every core busy while it lives: one thread per core spinning on
// arithmetic at normal priority, as a compile or a game would.
class CpuHog {
 public:
  explicit CpuHog(unsigned threads = std::thread::hardware_concurrency());
  ~CpuHog();
  CpuHog(const CpuHog&) = delete;
  CpuHog& operator=(const CpuHog&) = delete;

  unsigned threads() const { return static_cast<unsigned>(threads_.size()); }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace tollmere::bench
