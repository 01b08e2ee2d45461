#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// The program's only contact with the keyboard. The back end is bound on the
// first PressKey or ReleaseKey and kept in one slot that both share.
//
// The module also remembers which keys it has pressed and not yet released,
// so that every way out of the program can release them: a key injected
// down and never released stays down after the program is gone.
class Module1 {
 public:
  explicit Module1(BackendBinder binder);
  // Releases the keys it holds, then closes the back end.
  ~Module1();
  Module1(const Module1&) = delete;
  Module1& operator=(const Module1&) = delete;

  // Releases the keys it holds, closes the bound back end and binds through
  // `binder` on the next keystroke.
  void Rebind(BackendBinder binder);

  // One key-down / key-up for `key_code`, narrowed to a byte with a range
  // check: outside 0 to 255 is an overflow error and nothing is injected.
  // Binding failures are raised the same way, before anything is injected.
  void PressKey(std::int32_t key_code);
  void ReleaseKey(std::int32_t key_code);
  // A key-down follows soon: the bound back end gets ready for it. Binds
  // nothing; with no back end bound yet the key-down binds as usual.
  void PrepareKeys();

  // Why `key_code` cannot be pressed through the bound back end, or "";
  // with none bound yet, "": the key-down binds and reports as usual.
  std::string KeyProblem(std::int32_t key_code);

  // Releases every key this module holds down. Never throws; safe to call on
  // any way out, any number of times.
  void ReleaseHeldKeys() noexcept;

  bool IsBound() const noexcept { return backend_ != nullptr; }
  bool IsHeld(std::uint8_t vk) const noexcept { return held_.test(vk); }
  bool AnyHeld() const noexcept { return held_.any(); }
  // A modifier key this module holds down (its code), or 0.
  std::uint8_t HeldModifier() const noexcept;
  // Whether a key this module holds down has X keysym `keysym`: a key event
  // with it may be this module's own, autorepeats included.
  bool HoldsKeysym(std::uint32_t keysym) const noexcept;
  KeystrokeBackend* Backend() const noexcept { return backend_.get(); }

 private:
  KeystrokeBackend& Bound();

  BackendBinder binder_;
  std::unique_ptr<KeystrokeBackend> backend_;
  std::bitset<256> held_;
};

// The process-wide module that the handlers use. InstallModule1 sets how its
// back end is bound; it must be called before the first keystroke.
void InstallModule1(BackendBinder binder);
Module1& TheModule1();

// The procedures as the handlers call them, on the process-wide module.
void PressKey(std::int32_t key_code);
void ReleaseKey(std::int32_t key_code);
void PrepareKeys();

}  // namespace tollmere::key_injection
