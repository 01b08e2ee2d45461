// A fatal error: the error is named on stderr, shown in a dialog, and the
// program ends with status 1 once the dialog is dismissed, with no key
// down. (That the key comes up before the dialog shows is the fatal path's
// own rule, tested on the runtime: no way the user has can reach an error
// during a hold any more.)
#include <X11/keysym.h>

#include <algorithm>

#include "e2e_fixture.h"

namespace tollmere::e2e {
namespace {

constexpr const char* kFatalLine =
    "tollmere: Error 453: Not a Wayland session: WAYLAND_DISPLAY is not set.";

using FatalError = TollmereOnXvfb;

// A back end asked for by name that this session lacks fails at start-up.
TEST_F(FatalError, IsNamedShownInADialogThenEndsWithStatusOne) {
  const std::size_t mark = probe_->events().size();
  app_ = std::make_unique<AppProcess>(TOLLMERE_BINARY, AppEnvironment(),
                                      std::vector<std::string>{"--trace", "--backend=wayland"});
  const unsigned long dialog = driver_->WaitForWindow("Tollmere", 15s);
  ASSERT_NE(dialog, 0u) << "no error dialog; stderr:\n" << app_->Stderr();
  ExpectNoKeyDown("while the error dialog shows");
  ASSERT_TRUE(app_->Running()) << "ended before the dialog was dismissed";

  // Dismissed the way a user would: Return on its default button.
  driver_->Focus(dialog);
  driver_->PressKey(XK_Return);
  driver_->ReleaseKey(XK_Return);
  const ExitStatus status = app_->WaitForExit(10s);
  EXPECT_TRUE(status.Exited() && status.Code() == 1) << status.Describe() << "; stderr:\n"
                                                     << app_->Stderr();
  const auto lines = app_->StderrLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kFatalLine), 1) << app_->Stderr();
  probe_->Collect(300ms);
  EXPECT_TRUE(probe_->Transitions(kSpaceKeysym, mark).empty()) << "a key reached the probe";
  ExpectNoKeyDown("after the program ended");
}

}  // namespace
}  // namespace tollmere::e2e
