#include "runtime/trace.h"

#include <time.h>

#include <cstdio>

namespace tollmere::runtime {
namespace {
bool g_trace = false;
}

void EnableTrace(bool on) { g_trace = on; }

void Trace(const std::string& event) {
  if (!g_trace) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const double ms = static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
  std::fprintf(stderr, "trace %.3f %s\n", ms, event.c_str());
  std::fflush(stderr);
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

}  // namespace tollmere::runtime
