#include "runtime/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace tollmere::runtime {
namespace {

FatalPolicy& Policy() {
  static FatalPolicy policy;
  return policy;
}

// A failing clean-up or reporter must not stop the program from ending.
template <typename F>
void Guarded(F&& step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

void SetFatalPolicy(FatalPolicy policy) { Policy() = std::move(policy); }

void Fatal(const Error& error) {
  // Copy: a step may install another policy while it runs.
  const FatalPolicy policy = Policy();
  if (policy.cleanup) Guarded(policy.cleanup);
  if (policy.report) {
    Guarded([&] { policy.report(error); });
  } else {
    std::fprintf(stderr, "tollmere: %s\n", Describe(error).c_str());
  }
  if (policy.exit) {
    policy.exit(kFatalExitStatus);
  } else {
    std::exit(kFatalExitStatus);
  }
}

}  // namespace tollmere::runtime
