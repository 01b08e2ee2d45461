#include "key_injection/uinput_backend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Each way of being refused must come with the commands that fix it, word
// for word: the user is meant to paste them.
TEST(UinputOpenProblemTest, GivesTheRemedyForEachCause) {
  const std::string missing = UinputOpenProblem(ENOENT, false);
  EXPECT_TRUE(Has(missing, "`sudo modprobe uinput`")) << missing;
  EXPECT_TRUE(Has(missing, "`echo uinput | sudo tee /etc/modules-load.d/uinput.conf`"))
      << missing;

  for (const int refused : {EACCES, EPERM}) {
    const std::string text = UinputOpenProblem(refused, true);
    SCOPED_TRACE(text);
    EXPECT_TRUE(Has(text, R"(KERNEL=="uinput", GROUP="input", MODE="0660", )"
                          R"(OPTIONS+="static_node=uinput")"));
    EXPECT_TRUE(Has(text, "/etc/udev/rules.d/60-tollmere-uinput.rules"));
    EXPECT_TRUE(Has(text, "`sudo udevadm control --reload && sudo udevadm trigger`"));
    EXPECT_TRUE(Has(text, "`sudo usermod -aG input $USER`"));
    EXPECT_TRUE(Has(text, "log out and in"));
    EXPECT_FALSE(Has(text, "modprobe"));  // the module is there: do not send them off
  }

  // Anything else is passed on as the system words it.
  const std::string busy = UinputOpenProblem(EBUSY, true);
  EXPECT_TRUE(Has(busy, "Device or resource busy")) << busy;
  EXPECT_FALSE(Has(busy, "usermod")) << busy;
}

// Whatever the cause, the user is told what the access gives away, and is
// never steered to root privileges for the program itself.
TEST(UinputOpenProblemTest, WarnsAndNeverAdvisesRoot) {
  for (const auto& [errno_value, exists] :
       {std::pair{ENOENT, false}, {EACCES, true}, {EPERM, true}, {EIO, true}}) {
    const std::string text = UinputOpenProblem(errno_value, exists);
    SCOPED_TRACE(text);
    EXPECT_TRUE(Has(text, "read all keystrokes"));
    EXPECT_TRUE(Has(text, "type its own into any window"));
    for (const char* bad : {"as root", "sudo tollmere", "sudo ./tollmere", "setuid",
                            "chmod u+s", "chmod 666", "0666"}) {
      EXPECT_FALSE(Has(text, bad)) << bad;
    }
  }
}

// This machine may or may not have uinput; either way binding must end in
// a working back end or an error that names the facility, never a crash.
TEST(UinputBindingTest, BindsOrSaysWhy) {
  try {
    const auto backend = OpenUinputBackend();
    EXPECT_EQ(backend->Name(), "uinput");
  } catch (const runtime::Error& e) {
    EXPECT_EQ(e.number(), runtime::ErrorNumber::kKeystrokeFacilityUnavailable);
    EXPECT_TRUE(Has(e.what(), "uinput")) << e.what();
  }
}

}  // namespace
}  // namespace tollmere::key_injection
