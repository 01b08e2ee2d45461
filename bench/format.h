#pragma once
// Numbers as text for the report and the progress lines, and the progress
// lines themselves (on stderr, so stdout carries only the report).

#include <cstdio>
#include <string>

#include "harness/monotonic.h"

namespace tollmere::bench {

inline std::string Format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

inline void Progress(const std::string& text) {
  std::fprintf(stderr, "[bench %6.1f s] %s\n", e2e::MonotonicMs() / 1000.0, text.c_str());
}

}  // namespace tollmere::bench
