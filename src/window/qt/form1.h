#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "hold_sequencer/form_controls.h"
#include "hold_sequencer/hold_sequencer.h"
#include "window/form1_layout.h"
#include "window/qt/qt_timer.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace tollmere::window::qt {

// How long the caret in the interval box blinks after the last input there.
inline constexpr int kCaretBlinksForMs = 10000;

// The program's one window: the interval box, the "Start" button and the two
// timers, wired to the handlers of the hold sequencer.
class Form1 final : public QWidget,
                    private hold_sequencer::FormControls,
                    private hold_sequencer::KeyProcedures {
 public:
  explicit Form1(double logical_dpi);

  // Sends one complete space-bar keystroke before the window is first shown.
  // The keystroke binds the back end, so a missing one is reported before
  // the user does anything.
  void Form_Load();
  // The same keystroke with no window yet, before the toolkit connects to
  // the display.
  static void LoadKeystroke();

  // On the way out after an error: no more ticks, no more input.
  void StopEverything();

  // A word about how the program works here (say, that keystrokes reach
  // only some programs), shown below the controls while it holds. Each
  // `source` has one: a new message replaces its last, an empty one takes it
  // away, and the other sources' stay.
  void ShowNotice(const std::string& source, const std::string& message);

  // Requests from outside the window (another process, a hotkey), run as the
  // handlers are: the sequencer's Start, Stop and Toggle. Refused once
  // StopEverything has run: the program is on its way out and has let go of
  // its key. The refusal (also the sequencer's), or "" when done.
  std::string Start();
  std::string Stop();
  std::string Toggle();
  bool Busy() const { return sequencer_.Busy(); }
  // Brings the window forward and gives it the focus, as a second launch
  // asks; `token` is the desktop's activation token, if any.
  void Activate(const std::string& token);
  // Runs just before each key-down: whoever holds the keyboard (the
  // hotkey's grab) lets go of it, or the key would go to them.
  void SetBeforeKeyDown(std::function<void()> before) { before_key_down_ = std::move(before); }
  // Puts `text` in the interval box as if typed there, so the box's rules
  // decide; returns the refusal shown below the box, or "" if taken.
  std::string SetIntervalText(const std::string& text);
  // One of the sequencer's settings by name, for the next click; the
  // button's tooltip and description follow. The refusal, also shown in the
  // window, or "".
  std::string SetSetting(const std::string& name, const std::string& text);
  std::string Setting(const std::string& name) const;
  // Shows why a setting was not taken, and returns it.
  std::string Refuse(const std::string& why);
  // Where a setting chosen from the context menu goes, so that it meets the
  // same checks as from any other way of control; returns the refusal,
  // which it shows. Without one the window takes the setting itself.
  using SettingChosen =
      std::function<std::string(const std::string& name, const std::string& text)>;
  void SetOnSettingChosen(SettingChosen chosen) { setting_chosen_ = std::move(chosen); }
  // The settings, each showing the value in force, and "Stop now": the
  // window's context menu, and the box's after its edit actions.
  void AddSettingsTo(QMenu& menu);

  QLineEdit* txtInterval() const { return txt_interval_; }
  QPushButton* Command1() const { return command1_; }
  QLabel* IntervalProblem() const { return problem_; }
  QLabel* Notice() const { return notice_; }
  QtTimer& Timer1() { return timer1_; }
  QtTimer& Timer2() { return timer2_; }
  const hold_sequencer::HoldSequencer& Sequencer() const { return sequencer_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Right-click, Shift+F10 or the Menu key anywhere but in the box.
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void SetCommand1Caption(const std::string& caption) override;
  void SetTimerEnabled(hold_sequencer::TimerId timer, bool enabled) override;
  void SetTimer1Interval(std::int32_t interval_ms) override;
  std::string TxtIntervalText() override;
  void ShowIntervalProblem(const std::string& message) override;
  void PressKey(std::int32_t key_code) override;
  void ReleaseKey(std::int32_t key_code) override;
  void PrepareKeys() override;
  std::string KeyProblem(std::int32_t key_code) override;

  QtTimer& TimerFor(hold_sequencer::TimerId timer);
  void Choose(const std::string& name, const std::string& text);
  // The button tells what a click will do.
  void DescribeCommand1();
  void WakeCaret();
  // Stacks the visible messages below the controls and grows the window to
  // show them, or gives back what it grew by.
  void LayOutMessages();
  // Resizes the window for its messages, and remembers the height it had.
  void ResizeForMessages(int height);
  // Runs a stop or toggle; when it let the key up while "Start" had been
  // pressed by it, the coming release must not click the button again.
  std::string Ending(const std::function<void()>& request);

  QLineEdit* txt_interval_;
  QPushButton* command1_;
  QLabel* problem_;
  QLabel* notice_;
  std::map<std::string, std::string> notices_;  // by source
  QtTimer timer2_{1000, false};
  QtTimer timer1_{0, false};
  hold_sequencer::HoldSequencer sequencer_;
  int client_height_;
  int grown_by_ = 0;
  // The height before the last ResizeForMessages, the one it asked for, and
  // when that was.
  int replaced_height_ = 0;
  int asked_height_ = 0;
  QElapsedTimer resized_at_;
  bool painted_ = false;
  bool swallow_space_ = false;
  std::function<void()> before_key_down_;
  SettingChosen setting_chosen_;
  int caret_flash_ms_ = 0;
  QTimer caret_rest_;
};

}  // namespace tollmere::window::qt
