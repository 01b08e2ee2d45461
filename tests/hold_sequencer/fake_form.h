#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hold_sequencer/hold_sequencer.h"
#include "runtime/fatal.h"
#include "support/fake_clock.h"

namespace tollmere::testing {

struct KeyEvent {
  std::int64_t at;
  bool down;
  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// The window as the sequencer sees it, on a fake clock. Handlers run as the
// event loop runs them: an error ends "the program", which here means the
// form records it and stops its timers.
class FakeForm : public hold_sequencer::FormControls, public hold_sequencer::KeyProcedures {
 public:
  FakeForm() {
    timer2.SetOnTick([this] { Run([this] { seq.Timer2_Timer(); }); });
    timer1.SetOnTick([this] { Run([this] { seq.Timer1_Timer(); }); });
    runtime::SetFatalPolicy({
        .cleanup =
            [this] {
              timer1.SetEnabled(false);
              timer2.SetEnabled(false);
            },
        .report = [this](const runtime::Error& e) { fatal = runtime::Describe(e); },
        .exit = [](int) {},
    });
  }
  ~FakeForm() override { runtime::SetFatalPolicy({}); }

  void Click() {
    Run([this] { seq.Command1_Click(); });
  }
  void Type(const std::string& new_text) {
    text = new_text;
    Run([this] { seq.txtInterval_Change(); });
  }
  // Typing character by character, as a user does: one change each.
  void TypeEach(const std::string& chars) {
    for (char c : chars) Type(text + c);
  }

  void SetCommand1Caption(const std::string& c) override { caption = c; }
  void SetTimerEnabled(hold_sequencer::TimerId t, bool on) override {
    (t == hold_sequencer::TimerId::kTimer1 ? timer1 : timer2).SetEnabled(on);
  }
  void SetTimer1Interval(std::int32_t ms) override { timer1.SetInterval(ms); }
  std::string TxtIntervalText() override { return text; }
  void ShowIntervalProblem(const std::string& m) override { problem = m; }
  void PressKey(std::int32_t code) override {
    EXPECT_EQ(code, key);
    keys.push_back({clock.Now(), true});
  }
  void ReleaseKey(std::int32_t code) override {
    EXPECT_EQ(code, key);
    keys.push_back({clock.Now(), false});
  }
  void PrepareKeys() override { prepared.push_back(clock.Now()); }

  FakeClock clock;
  FakeTimer timer2{clock, 1000, false};
  FakeTimer timer1{clock, 0, false};
  hold_sequencer::HoldSequencer seq{*this, *this};
  std::string caption = "Start";
  std::string text;
  std::string problem;
  std::string fatal;
  std::vector<KeyEvent> keys;
  std::vector<std::int64_t> prepared;
  std::int32_t key = 32;  // the key every keystroke must name

 private:
  template <typename F>
  void Run(F f) {
    runtime::RunHandler(f);
  }
};

}  // namespace tollmere::testing
