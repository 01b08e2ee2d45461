#include "cpu_hog.h"

#include <cstdint>

namespace tollmere::bench {

CpuHog::CpuHog(unsigned threads) {
  if (threads == 0) threads = 1;
  for (unsigned i = 0; i < threads; ++i) {
    threads_.emplace_back([this, i] {
      // A xorshift the compiler cannot drop: the result goes to memory.
      volatile std::uint64_t sink = 0;
      std::uint64_t x = 0x9E3779B97F4A7C15ull + i;
      while (!stop_.load(std::memory_order_relaxed)) {
        for (int k = 0; k < 4096; ++k) {
          x ^= x << 13;
          x ^= x >> 7;
          x ^= x << 17;
        }
        sink = x;
      }
      (void)sink;
    });
  }
}

CpuHog::~CpuHog() {
  stop_ = true;
  for (std::thread& t : threads_) t.join();
}

}  // namespace tollmere::bench
