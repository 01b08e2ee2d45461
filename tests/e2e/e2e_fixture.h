#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "harness/app_process.h"
#include "harness/driver.h"
#include "harness/probe.h"
#include "harness/xvfb_server.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;

// Timing tolerance for key events against the X server's clock: the
// machines these run on are shared and noisy.
inline constexpr double kToleranceMs = 50;

// A fresh Xvfb with the probe window focused, ready to start the program.
class TollmereOnXvfb : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb_ = std::make_unique<XvfbServer>();
    probe_ = std::make_unique<Probe>(xvfb_->name());
    driver_ = std::make_unique<Driver>(xvfb_->name());
    probe_->TakeFocus();
  }

  virtual std::vector<EnvChange> AppEnvironment() const {
    return AppProcess::XEnvironment(xvfb_->name());
  }

  // Starts the program and waits until its window is up and the start-up
  // keystroke has reached the probe. `env` changes the program's environment.
  void Launch(std::vector<std::string> args = {"--trace"}, const std::vector<EnvChange>& env = {}) {
    std::vector<EnvChange> environment = AppEnvironment();
    environment.insert(environment.end(), env.begin(), env.end());
    app_ = std::make_unique<AppProcess>(TOLLMERE_BINARY, std::move(environment), std::move(args));
    window_ = driver_->WaitForWindow("Tollmere", 15s);
    ASSERT_NE(window_, 0u) << "no Tollmere window; stderr:\n" << app_->Stderr();
    ASSERT_TRUE(probe_->WaitForKeys(2, 5s)) << "start-up keystroke did not arrive";
  }

  // Focuses the program, types `text` into the interval box and waits until
  // the program has taken `interval_ms`.
  void EnterInterval(const std::string& text, int interval_ms) {
    driver_->Focus(window_);
    driver_->Type(text);
    ASSERT_TRUE(app_->WaitForTrace("interval", std::to_string(interval_ms), 5s))
        << "interval " << interval_ms << " not taken; stderr:\n"
        << app_->Stderr();
  }

  // Clicks "Start"; the server's time just after the click.
  std::uint32_t ClickStart() {
    driver_->Click(window_, StartButtonCentre());
    return probe_->ServerTime();
  }

  // Launches, enters the interval, clicks Start and gives the focus back to
  // the probe. Returns the click's server time; `mark` is set to the
  // probe's event count at that point.
  std::uint32_t StartCycle(const std::string& text, int interval_ms, std::size_t& mark) {
    Launch();
    if (HasFatalFailure()) return 0;
    EnterInterval(text, interval_ms);
    if (HasFatalFailure()) return 0;
    const std::uint32_t click = ClickStart();
    probe_->TakeFocus();
    mark = probe_->events().size();
    return click;
  }

  // Captions and keystrokes in the order the program traced them.
  std::vector<std::string> TracedSteps() const {
    std::vector<std::string> steps;
    for (const TraceEvent& e : app_->Trace()) {
      if (e.event == "caption" || e.event == "key-down" || e.event == "key-up") {
        steps.push_back(e.event + " " + e.arg);
      }
    }
    return steps;
  }

  void ExpectNoKeyDown(const char* when) {
    EXPECT_FALSE(probe_->AnyKeyDown()) << "keys down " << when << ": " << probe_->KeysDownText();
  }

  // Closes the window as a user would: the program must end cleanly and
  // leave no key down.
  void CloseAndExpectCleanExit() {
    driver_->RequestClose(window_);
    const ExitStatus status = app_->WaitForExit(5s);
    EXPECT_TRUE(status.Exited() && status.Code() == 0) << status.Describe() << "\n"
                                                       << app_->Stderr();
    ExpectNoKeyDown("after closing");
  }

  // Declared in destruction order's reverse: the program goes first, the
  // server last.
  std::unique_ptr<XvfbServer> xvfb_;
  std::unique_ptr<Probe> probe_;
  std::unique_ptr<Driver> driver_;
  std::unique_ptr<AppProcess> app_;
  unsigned long window_ = 0;
};

}  // namespace tollmere::e2e
