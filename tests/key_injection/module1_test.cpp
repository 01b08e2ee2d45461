#include "key_injection/module1.h"

#include <gtest/gtest.h>

#include "runtime/error.h"
#include "support/recording_backend.h"

namespace tollmere::key_injection {
namespace {

using Log = RecordingBackend::Log;

struct Module1Test : ::testing::Test {
  std::shared_ptr<Log> log = std::make_shared<Log>();
  int binds = 0;
  Module1 module{[this] {
    ++binds;
    return std::make_unique<RecordingBackend>(log);
  }};
};

TEST_F(Module1Test, BindsOnTheFirstKeystrokeOnlyAndSendsEachEventAsked) {
  EXPECT_FALSE(module.IsBound());
  module.PressKey(32);
  module.PressKey(32);  // two presses are two key-downs: nothing is suppressed
  module.ReleaseKey(32);
  module.ReleaseKey(65);  // a release without a press still goes out
  EXPECT_EQ(binds, 1);
  EXPECT_EQ(*log, (Log{{32, true, {}}, {32, true, {}}, {32, false, {}}, {65, false, {}}}));
}

TEST_F(Module1Test, OutOfRangeKeyCodesAreOverflowsAndInjectNothing) {
  for (std::int32_t code : {256, -1, 100000}) {
    try {
      module.PressKey(code);
      FAIL() << code << " was accepted";
    } catch (const runtime::Error& e) {
      EXPECT_EQ(e.number(), runtime::ErrorNumber::kOverflow);
    }
    EXPECT_THROW(module.ReleaseKey(code), runtime::Error);
  }
  EXPECT_TRUE(log->empty());
  EXPECT_EQ(binds, 0);  // the code is checked before anything is bound
  module.PressKey(255);
  module.ReleaseKey(0);
  EXPECT_EQ(log->size(), 2u);
}

TEST_F(Module1Test, ReleasesExactlyTheKeysStillHeld) {
  module.PressKey(32);
  module.PressKey(65);
  module.ReleaseKey(65);
  module.PressKey(13);
  log->clear();
  module.ReleaseHeldKeys();
  EXPECT_EQ(*log, (Log{{13, false, {}}, {32, false, {}}}));
  EXPECT_FALSE(module.IsHeld(32));
  log->clear();
  module.ReleaseHeldKeys();  // every way out may call it again
  EXPECT_TRUE(log->empty());
}

TEST(Module1Binding, AFailedBindingInjectsNothingAndIsRaised) {
  Module1 module([]() -> std::unique_ptr<KeystrokeBackend> {
    throw runtime::Error(runtime::ErrorNumber::kKeystrokeFacilityUnavailable, "no X server");
  });
  try {
    module.PressKey(32);
    FAIL();
  } catch (const runtime::Error& e) {
    EXPECT_EQ(e.number(), runtime::ErrorNumber::kKeystrokeFacilityUnavailable);
    EXPECT_STREQ(e.what(), "no X server");
  }
  EXPECT_FALSE(module.IsBound());
  EXPECT_FALSE(module.IsHeld(32));
  module.ReleaseHeldKeys();  // nothing bound, nothing to do, no throw
}

TEST(Module1Binding, NeverReleasesTwiceThroughABrokenBackEnd) {
  struct Broken final : KeystrokeBackend {
    int* ups;
    explicit Broken(int* u) : ups(u) {}
    void KeyDown(std::uint8_t) override {}
    void KeyUp(std::uint8_t) override {
      ++*ups;
      throw std::runtime_error("connection lost");
    }
    std::string_view Name() const override { return "broken"; }
  };
  int ups = 0;
  Module1 module([&ups] { return std::make_unique<Broken>(&ups); });
  module.PressKey(32);
  module.ReleaseHeldKeys();
  module.ReleaseHeldKeys();
  EXPECT_EQ(ups, 1);
}

// A back end let go with a key down would leave it down: the module puts
// its keys up first, whether it is rebound or destroyed.
TEST(Module1Lifetime, KeysComeUpBeforeTheBackEndGoes) {
  auto log = std::make_shared<Log>();
  {
    Module1 module([log] { return std::make_unique<RecordingBackend>(log); });
    module.PressKey(32);
    module.PressKey('A');
    module.Rebind([log] { return std::make_unique<RecordingBackend>(log); });
    EXPECT_FALSE(module.IsBound());
    EXPECT_FALSE(module.IsHeld(32));
    module.PressKey(32);
  }
  EXPECT_EQ(*log, (Log{{32, true, {}},
                       {'A', true, {}},
                       {32, false, {}},
                       {'A', false, {}},
                       {32, true, {}},
                       {32, false, {}}}));
}

TEST(ProcessWideModule, ProceduresUseTheInstalledBinder) {
  auto log = std::make_shared<Log>();
  InstallModule1([log] { return std::make_unique<RecordingBackend>(log); });
  PressKey(32);
  ReleaseKey(32);
  EXPECT_EQ(*log, (Log{{32, true, {}}, {32, false, {}}}));
  EXPECT_EQ(TheModule1().Backend()->Name(), "recording");
}

}  // namespace
}  // namespace tollmere::key_injection
