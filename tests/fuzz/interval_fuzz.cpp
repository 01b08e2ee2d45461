// From typed text to the hold timer's interval: Val, the rounding conversion
// and the interval handler, with its refusal path. Whatever the text, the
// only error allowed out of the conversions is an overflow, and the handler
// never lets one escape: it either sets the interval it computed or shows a
// reason and keeps the previous one.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hold_sequencer/hold_sequencer.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/timer.h"

namespace {

namespace hs = tollmere::hold_sequencer;
namespace rt = tollmere::runtime;

class NullTimer final : public rt::Timer {
 public:
  NullTimer() : Timer(0, false) {}
  void Arm(std::int32_t) override {}
  void Disarm() override {}
};

struct Form final : hs::FormControls, hs::KeyProcedures {
  NullTimer timer1;
  std::string text;
  std::string problem;
  void SetCommand1Caption(const std::string&) override { std::abort(); }
  void SetTimerEnabled(hs::TimerId, bool) override { std::abort(); }
  void SetTimer1Interval(std::int32_t ms) override { timer1.SetInterval(ms); }
  std::string TxtIntervalText() override { return text; }
  void ShowIntervalProblem(const std::string& m) override { problem = m; }
  void PressKey(std::int32_t) override { std::abort(); }
  void ReleaseKey(std::int32_t) override { std::abort(); }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  bool convertible = true;
  std::int32_t expected = 0;
  try {
    expected = rt::FpI4(rt::Val(text));
  } catch (const rt::Error& e) {
    Check(e.number() == rt::ErrorNumber::kOverflow);
    convertible = false;
  }

  static Form form;
  static hs::HoldSequencer sequencer(form, form);
  const std::int32_t before = form.timer1.Interval();
  form.text = text;
  try {
    sequencer.txtInterval_Change();
  } catch (...) {
    std::abort();  // a bad entry must never end the program
  }
  if (convertible && expected >= 0) {
    Check(form.timer1.Interval() == expected);
    Check(form.problem.empty());
  } else {
    Check(form.timer1.Interval() == before);
    Check(!form.problem.empty());
  }
  return 0;
}
