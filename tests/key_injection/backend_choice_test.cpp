#include "key_injection/backend_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

namespace rt = tollmere::runtime;

class NamedBackend final : public KeystrokeBackend {
 public:
  explicit NamedBackend(std::string name) : name_(std::move(name)) {}
  void KeyDown(std::uint8_t) override {}
  void KeyUp(std::uint8_t) override {}
  std::string_view Name() const override { return name_; }

 private:
  std::string name_;
};

// Fake back ends that either open (named) or fail with a reason, and a log
// of which were tried, in order.
class ChoiceTest : public ::testing::Test {
 protected:
  BackendBinder Opens(std::string name) {
    return [this, name] {
      tried.push_back(name);
      return std::make_unique<NamedBackend>(name);
    };
  }
  BackendBinder Fails(std::string name, std::string reason) {
    return [this, name, reason]() -> std::unique_ptr<KeystrokeBackend> {
      tried.push_back(name);
      throw rt::Error(rt::ErrorNumber::kKeystrokeFacilityUnavailable, reason);
    };
  }
  std::string Bind(BackendRequest request, SessionFacts session, BackendOpeners openers) {
    auto backend = ChooseBackend(request, session, std::move(openers),
                                 [this](const std::string& text) { notices.push_back(text); })();
    return std::string(backend->Name());
  }
  std::string BindError(BackendRequest request, SessionFacts session, BackendOpeners openers) {
    try {
      Bind(request, session, std::move(openers));
    } catch (const rt::Error& error) {
      EXPECT_EQ(error.number(), rt::ErrorNumber::kKeystrokeFacilityUnavailable);
      return error.what();
    }
    ADD_FAILURE() << "bound";
    return {};
  }
  BackendOpeners AllOpen() {
    return {Opens("xtest"), Opens("wayland"), Opens("uinput"), Opens("portal")};
  }

  std::vector<std::string> tried;
  std::vector<std::string> notices;
};

constexpr SessionFacts kX11{.wayland = false, .x11 = true};
constexpr SessionFacts kWayland{.wayland = true, .x11 = false};
constexpr SessionFacts kWaylandWithXwayland{.wayland = true, .x11 = true};

TEST_F(ChoiceTest, AutomaticOrderFollowsTheSession) {
  EXPECT_EQ(Bind(BackendRequest::kAuto, kX11, AllOpen()), "xtest");
  EXPECT_EQ(tried, (std::vector<std::string>{"xtest"}));  // X11 never probes the others

  tried.clear();
  EXPECT_EQ(Bind(BackendRequest::kAuto, kWaylandWithXwayland, AllOpen()), "wayland");

  tried.clear();
  EXPECT_EQ(
      Bind(BackendRequest::kAuto, kWaylandWithXwayland,
           {Opens("xtest"), Fails("wayland", "no protocol"), Opens("uinput"), Opens("portal")}),
      "uinput");
  EXPECT_EQ(tried, (std::vector<std::string>{"wayland", "uinput"}));

  tried.clear();
  EXPECT_EQ(Bind(BackendRequest::kAuto, kWaylandWithXwayland,
                 {Opens("xtest"), Fails("wayland", "no protocol"), Fails("uinput", "denied"),
                  Opens("portal")}),
            "portal");
  EXPECT_EQ(tried, (std::vector<std::string>{"wayland", "uinput", "portal"}));
  EXPECT_TRUE(notices.empty())
      << "uinput and the portal reach every program: nothing to warn about";
}

TEST_F(ChoiceTest, XwaylandFallbackWarnsOnce) {
  EXPECT_EQ(Bind(BackendRequest::kAuto, kWaylandWithXwayland,
                 {Opens("xtest"), Fails("wayland", "no protocol"), Fails("uinput", "denied"),
                  Fails("portal", "no portal")}),
            "xtest");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("Only X11 programs"), std::string::npos) << notices[0];

  // A build without the Wayland back ends falls through the same way.
  notices.clear();
  EXPECT_EQ(Bind(BackendRequest::kAuto, kWaylandWithXwayland, {Opens("xtest"), {}, {}, {}}),
            "xtest");
  EXPECT_EQ(notices.size(), 1u);
}

TEST_F(ChoiceTest, NothingFitsListsEveryAttemptAndTheWayOut) {
  const std::string message =
      BindError(BackendRequest::kAuto, kWayland,
                {Opens("xtest"), Fails("wayland", "offers no virtual keyboard"),
                 Fails("uinput", "permission denied"), Fails("portal", "no portal runs")});
  // No DISPLAY: XTest not tried.
  EXPECT_EQ(tried, (std::vector<std::string>{"wayland", "uinput", "portal"}));
  for (const char* part : {"Wayland virtual keyboard: offers no virtual keyboard",
                           "uinput (kernel virtual keyboard): permission denied",
                           "RemoteDesktop portal (GNOME, KDE): no portal runs",
                           "XTest (X11): no Xwayland", "sway", "/dev/uinput", "enable Xwayland"}) {
    EXPECT_NE(message.find(part), std::string::npos) << part << " missing from:\n" << message;
  }
  EXPECT_EQ(message.find("above"), std::string::npos) << "a dialog has no above:\n" << message;
  EXPECT_TRUE(notices.empty());

  EXPECT_NE(
      BindError(BackendRequest::kAuto, {}, AllOpen()).find("neither WAYLAND_DISPLAY nor DISPLAY"),
      std::string::npos);
}

TEST_F(ChoiceTest, ARequestBindsThatBackEndOrSaysWhyNot) {
  // Forced back ends ignore the session: the user knows better.
  EXPECT_EQ(Bind(BackendRequest::kWayland, kX11, AllOpen()), "wayland");
  EXPECT_EQ(Bind(BackendRequest::kUinput, kX11, AllOpen()), "uinput");
  EXPECT_EQ(Bind(BackendRequest::kXTest, kWaylandWithXwayland, AllOpen()), "xtest");
  EXPECT_EQ(Bind(BackendRequest::kPortal, kX11, AllOpen()), "portal");
  EXPECT_TRUE(notices.empty());

  // Its own reason, not a fallback.
  tried.clear();
  EXPECT_EQ(
      BindError(BackendRequest::kWayland, kWaylandWithXwayland,
                {Opens("xtest"), Fails("wayland", "refused"), Opens("uinput"), Opens("portal")}),
      "refused");
  EXPECT_EQ(tried, (std::vector<std::string>{"wayland"}));

  EXPECT_NE(BindError(BackendRequest::kUinput, kX11, {Opens("xtest"), {}, {}, {}})
                .find("has no uinput (kernel virtual keyboard) back end"),
            std::string::npos);
}

TEST(BackendNames, ParseOnlyExactNames) {
  EXPECT_EQ(ParseBackendName("xtest"), BackendRequest::kXTest);
  EXPECT_EQ(ParseBackendName("wayland"), BackendRequest::kWayland);
  EXPECT_EQ(ParseBackendName("uinput"), BackendRequest::kUinput);
  EXPECT_EQ(ParseBackendName("portal"), BackendRequest::kPortal);
  for (const char* bad : {"", "XTest", "x11", "wayland ", "auto"}) {
    EXPECT_FALSE(ParseBackendName(bad).has_value()) << bad;
  }
  EXPECT_EQ(BackendNames(), "xtest|wayland|uinput|portal");
}

}  // namespace
}  // namespace tollmere::key_injection
