#include "key_injection/backends/xtest_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

// Binding without a usable X server must fail with words that say what is
// missing, not crash or hang. (A real server is exercised end to end.)
class XTestBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
      if (const char* v = std::getenv(name)) saved_.emplace_back(name, v);
      unsetenv(name);
    }
  }
  void TearDown() override {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }
  static std::string BindError() {
    try {
      OpenXTestBackend();
    } catch (const runtime::Error& e) {
      EXPECT_EQ(e.number(), runtime::ErrorNumber::kKeystrokeFacilityUnavailable);
      return e.what();
    }
    return "bound";
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(XTestBindingTest, SaysWhatIsMissing) {
  EXPECT_NE(BindError().find("DISPLAY is not set"), std::string::npos);

  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_NE(BindError().find("Wayland session has no X server"), std::string::npos);

  setenv("DISPLAY", ":197", 1);  // nothing listens there
  EXPECT_NE(BindError().find("Cannot connect to the X display \":197\""), std::string::npos);
}

}  // namespace
}  // namespace tollmere::key_injection
