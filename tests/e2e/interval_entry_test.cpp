// Whatever lands in the interval box, the program stays up: numbers the
// interval cannot take are refused with the interval in force kept, the rest
// are read as the box's rules say. All entries go to one running program, and
// a timed hold at the end shows it still works after all of them.
#include <X11/keysym.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "harness/clipboard.h"

namespace tollmere::e2e {
namespace {

// How an entry reaches the box; each replaces the whole text in one change
// except typing, which goes through the shorter prefixes first.
enum class How { kType, kPaste, kClear };

struct Entry {
  const char* name;
  std::string text;
  How how;
  std::optional<int> taken;       // the interval it sets, or nullopt if refused
  const char* refusal = nullptr;  // the start of the explanation if refused
};

constexpr const char* kTooLarge = "Too large:";
constexpr const char* kNegative = "Can't be negative:";

// The interval in force before every entry.
constexpr int kBefore = 300;

std::vector<Entry> Entries() {
  return {
      {"empty", "", How::kClear, 0},
      {"letters only", "abc", How::kType, 0},
      {"blanks only", "  \t  ", How::kPaste, 0},
      {"hexadecimal over 32 bits", "&HFFFFFFFFF", How::kPaste, std::nullopt, kTooLarge},
      {"hexadecimal just over 32 bits", "&H100000000", How::kPaste, std::nullopt, kTooLarge},
      {"hexadecimal all ones is -1", "&HFFFFFFFF", How::kPaste, std::nullopt, kNegative},
      {"octal over 32 bits", "&O77777777777", How::kPaste, std::nullopt, kTooLarge},
      {"decimal over 32 bits", "99999999999", How::kPaste, std::nullopt, kTooLarge},
      {"half rounding past the maximum", "2147483647.5", How::kPaste, std::nullopt, kTooLarge},
      {"exponent past a double", "1e400", How::kPaste, std::nullopt, kTooLarge},
      {"five-digit exponent", "1e99999", How::kPaste, std::nullopt, kTooLarge},
      {"negative", "-250", How::kPaste, std::nullopt, kNegative},
      {"10000 digits", std::string(10000, '9'), How::kPaste, std::nullopt, kTooLarge},
      {"10000 characters of leading zeros", std::string(9997, '0') + "250", How::kPaste, 250},
      {"full-width digits", "\xEF\xBC\x95\xEF\xBC\x90\xEF\xBC\x90", How::kPaste, 0},  // ５００
      {"Arabic-Indic digits", "\xD9\xA3\xD9\xA0\xD9\xA0", How::kPaste, 0},            // ٣٠٠
      {"two lines", "12\n34", How::kPaste, 1234},
      // A carriage return is not a blank to the box: the number ends there.
      {"two lines CRLF", "12\r\n34", How::kPaste, 12},
      {"tab", "1\t2", How::kPaste, 12},
  };
}

std::string Describe(const std::vector<TraceEvent>& events) {
  std::string out;
  for (const TraceEvent& e : events) out += "  " + e.event + " " + e.arg + "\n";
  return out.empty() ? "  (none)\n" : out;
}

class IntervalEntry : public TollmereOnXvfb {
 protected:
  void SetUp() override {
    TollmereOnXvfb::SetUp();
    clipboard_ = std::make_unique<ClipboardOwner>(xvfb_->name());
  }

  // Number of trace events with this name and argument so far.
  int Count(const std::string& event, const std::string& arg) const {
    int n = 0;
    for (const TraceEvent& e : app_->Trace()) n += e.event == event && e.arg == arg;
    return n;
  }

  // Selects the whole box and types `text` over it; returns once the
  // program has taken `interval_ms`.
  void Retype(const std::string& text, int interval_ms) {
    const int seen = Count("interval", std::to_string(interval_ms));
    driver_->Chord(XK_Control_L, XK_a);
    driver_->Type(text);
    ASSERT_TRUE(app_->WaitForTrace("interval", std::to_string(interval_ms), 5s, seen + 1))
        << "interval " << interval_ms << " not taken; stderr:\n"
        << app_->Stderr();
  }

  // Whether the box's change after trace event number `mark` has been handled.
  bool Handled(std::size_t mark) const {
    const auto trace = app_->Trace();
    for (std::size_t i = mark; i < trace.size(); ++i) {
      if (trace[i].event == "interval" || trace[i].event == "interval-problem") return true;
    }
    return false;
  }

  void Enter(const Entry& entry, std::size_t mark) {
    switch (entry.how) {
      case How::kType:
        driver_->Chord(XK_Control_L, XK_a);
        driver_->Type(entry.text);
        break;
      case How::kClear:
        driver_->Chord(XK_Control_L, XK_a);
        driver_->PressKey(XK_BackSpace);
        driver_->ReleaseKey(XK_BackSpace);
        break;
      case How::kPaste: {
        clipboard_->Offer(entry.text);
        const int served = clipboard_->texts_served();
        driver_->Chord(XK_Control_L, XK_a);
        driver_->Chord(XK_Control_L, XK_v);
        // The program waits on us for the text; serve until it has used it.
        EXPECT_TRUE(clipboard_->Serve(
            [&] { return clipboard_->texts_served() > served && Handled(mark); }, 10s))
            << "the paste was not taken (" << clipboard_->texts_served() - served
            << " text requests answered)";
        break;
      }
    }
  }

  // The events `entry` caused: from `mark` up to the first one of the
  // retyping of kBefore that follows it ("3", its first keystroke).
  // `cleared` tells whether that retyping took a problem message away.
  std::vector<TraceEvent> EventsOf(const Entry& entry, bool& cleared) {
    const std::size_t mark = app_->Trace().size();
    Enter(entry, mark);
    Retype(std::to_string(kBefore), kBefore);
    const auto trace = app_->Trace();
    std::vector<TraceEvent> out;
    std::size_t i = mark;
    for (; i < trace.size() && !(trace[i].event == "interval" && trace[i].arg == "3"); ++i) {
      out.push_back(trace[i]);
    }
    cleared = false;
    for (; i < trace.size(); ++i) cleared = cleared || trace[i].event == "interval-ok";
    return out;
  }

  std::unique_ptr<ClipboardOwner> clipboard_;
};

TEST_F(IntervalEntry, EveryKindOfTextLeavesTheProgramWorking) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  driver_->Focus(window_);
  Retype(std::to_string(kBefore), kBefore);
  ASSERT_FALSE(HasFatalFailure());

  const std::string kept = "Keeping " + std::to_string(kBefore) + " ms.";
  for (const Entry& entry : Entries()) {
    SCOPED_TRACE(entry.name);
    bool cleared = false;
    const std::vector<TraceEvent> events = EventsOf(entry, cleared);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(app_->Running()) << "the program ended; stderr:\n" << app_->Stderr();

    std::vector<std::string> intervals, problems;
    for (const TraceEvent& e : events) {
      if (e.event == "interval") intervals.push_back(e.arg);
      if (e.event == "interval-problem") problems.push_back(e.arg);
    }
    if (entry.taken) {
      // Typing goes through each prefix of the text: every one must give it.
      const std::size_t changes = entry.how == How::kType ? entry.text.size() : 1;
      EXPECT_EQ(intervals, std::vector<std::string>(changes, std::to_string(*entry.taken)))
          << "events:\n"
          << Describe(events);
      EXPECT_TRUE(problems.empty()) << "refused a valid entry:\n" << Describe(events);
    } else {
      EXPECT_TRUE(intervals.empty()) << "the interval changed:\n" << Describe(events);
      ASSERT_EQ(problems.size(), 1u) << "events:\n" << Describe(events);
      EXPECT_EQ(problems[0].rfind(entry.refusal, 0), 0u) << problems[0];
      EXPECT_NE(problems[0].find(kept), std::string::npos) << problems[0];
    }
    EXPECT_EQ(cleared, !entry.taken) << "a valid entry after it should clear the message exactly "
                                        "when there was one";
  }

  // A good interval, then a refused entry over it: the hold must follow the
  // good one.
  constexpr int kLast = 400;
  Retype(std::to_string(kLast), kLast);
  ASSERT_FALSE(HasFatalFailure());
  const std::size_t before_refusal = app_->Trace().size();
  Enter({"refused after the last good one", "99999999999", How::kPaste, std::nullopt, kTooLarge},
        before_refusal);
  ASSERT_TRUE(Handled(before_refusal));
  const auto trace = app_->Trace();
  for (std::size_t i = before_refusal; i < trace.size(); ++i) {
    EXPECT_NE(trace[i].event, "interval") << "the refused entry changed the interval";
  }

  const std::uint32_t click = ClickStart();
  probe_->TakeFocus();
  const std::size_t mark = probe_->events().size();
  ASSERT_TRUE(
      probe_->WaitForKeys(2, 4s + 2 * std::chrono::milliseconds(kLast) + 3s, kSpaceKeysym, mark))
      << "no full keystroke at the probe; stderr:\n"
      << app_->Stderr();
  const auto keys = probe_->Transitions(kSpaceKeysym, mark);
  ASSERT_TRUE(keys[0].press && !keys[1].press);
  const double hold = ServerSpan(keys[0].server_ms, keys[1].server_ms);
  std::printf("[ timing   ] countdown %.0f ms (4000), hold %.0f ms (%d)\n",
              static_cast<double>(ServerSpan(click, keys[0].server_ms)), hold, 2 * kLast);
  EXPECT_NEAR(hold, 2.0 * kLast, kToleranceMs) << "hold length";

  CloseAndExpectCleanExit();
}

}  // namespace
}  // namespace tollmere::e2e
