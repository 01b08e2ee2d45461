#include "key_injection/backends/uinput_backend.h"

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
  EXPECT_TRUE(Has(missing, "`echo uinput | sudo tee /etc/modules-load.d/uinput.conf`")) << missing;

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

// Whatever the cause, the user is told what the access gives away.
TEST(UinputOpenProblemTest, WarnsWhatTheAccessGivesAway) {
  for (const auto& [errno_value, exists] :
       {std::pair{ENOENT, false}, {EACCES, true}, {EPERM, true}, {EIO, true}}) {
    const std::string text = UinputOpenProblem(errno_value, exists);
    SCOPED_TRACE(text);
    EXPECT_TRUE(Has(text, "read all keystrokes"));
    EXPECT_TRUE(Has(text, "type its own into any window"));
  }
}

// Each way opening fails becomes the facility's error with its own reason;
// no real keyboard is made here (the VM test does that).
TEST(UinputBindingTest, EachFailureSaysWhy) {
  const auto reason = [](std::initializer_list<const char*> nodes) -> std::string {
    try {
      OpenUinputBackend(std::span(nodes.begin(), nodes.size()));
    } catch (const runtime::Error& e) {
      EXPECT_EQ(e.number(), runtime::ErrorNumber::kKeystrokeFacilityUnavailable);
      return e.what();
    }
    ADD_FAILURE() << "opened";
    return {};
  };
  // No node at all: the module is missing.
  EXPECT_TRUE(
      Has(reason({"/nonexistent/uinput", "/nonexistent/input/uinput"}), "`sudo modprobe uinput`"));
  // A node that refuses to open: the system's words, not the module's remedy.
  const std::string refused = reason({"/nonexistent/uinput", "/"});
  EXPECT_TRUE(Has(refused, "Is a directory")) << refused;
  EXPECT_FALSE(Has(refused, "modprobe")) << refused;
  // It opens but is no uinput device: creating the keyboard fails.
  const std::string not_uinput = reason({"/dev/null"});
  EXPECT_TRUE(Has(not_uinput, "Cannot create a uinput keyboard")) << not_uinput;
}

}  // namespace
}  // namespace tollmere::key_injection
