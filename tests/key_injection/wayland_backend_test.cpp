#include "key_injection/backends/wayland_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

// Without a compositor, binding fails with words that say what is missing.
// (A real compositor is exercised end to end under sway.)
TEST(WaylandBinding, SaysWhatIsMissing) {
  const char* saved = std::getenv("WAYLAND_DISPLAY");
  const std::string restore = saved == nullptr ? "" : saved;
  auto error_of = [] {
    try {
      OpenWaylandBackend();
    } catch (const runtime::Error& e) {
      EXPECT_EQ(e.number(), runtime::ErrorNumber::kKeystrokeFacilityUnavailable);
      return std::string(e.what());
    }
    return std::string("bound");
  };

  unsetenv("WAYLAND_DISPLAY");
  EXPECT_NE(error_of().find("Not a Wayland session"), std::string::npos);

  setenv("WAYLAND_DISPLAY", "/nonexistent/tollmere-test-wayland", 1);
  EXPECT_NE(error_of().find(
                "Cannot connect to the Wayland compositor \"/nonexistent/tollmere-test-wayland\""),
            std::string::npos);

  if (saved == nullptr) {
    unsetenv("WAYLAND_DISPLAY");
  } else {
    setenv("WAYLAND_DISPLAY", restore.c_str(), 1);
  }
}

}  // namespace
}  // namespace tollmere::key_injection
