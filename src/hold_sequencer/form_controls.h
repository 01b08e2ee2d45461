#pragma once

#include <cstdint>
#include <string>

namespace tollmere::hold_sequencer {

enum class TimerId { kTimer1, kTimer2 };

// What the handlers may do to the window. Each call may fail by throwing
// runtime::Error.
class FormControls {
 public:
  virtual ~FormControls() = default;
  virtual void SetCommand1Caption(const std::string& caption) = 0;
  virtual void SetTimerEnabled(TimerId timer, bool enabled) = 0;
  virtual void SetTimer1Interval(std::int32_t interval_ms) = 0;
  virtual std::string TxtIntervalText() = 0;
  // Shows the user why the typed interval was not taken, next to the box;
  // an empty message takes it away.
  virtual void ShowIntervalProblem(const std::string& message) = 0;
};

// The two keystroke procedures.
class KeyProcedures {
 public:
  virtual ~KeyProcedures() = default;
  virtual void PressKey(std::int32_t key_code) = 0;
  virtual void ReleaseKey(std::int32_t key_code) = 0;
  // A key-down follows when the countdown ends; whatever sends it may get
  // ready now. Nothing to do by default.
  virtual void PrepareKeys() {}
  // Why `key_code` cannot be pressed here (no key of this keyboard types
  // it), or "". Asked when the key is chosen, so that a hold never fails on it.
  virtual std::string KeyProblem(std::int32_t /*key_code*/) { return {}; }
};

}  // namespace tollmere::hold_sequencer
