#include "key_injection/module1.h"

#include <utility>

#include "key_injection/key_table.h"
#include "runtime/convert.h"
#include "runtime/error.h"

namespace tollmere::key_injection {

namespace rt = tollmere::runtime;

Module1::Module1(BackendBinder binder) : binder_(std::move(binder)) {}

Module1::~Module1() { ReleaseHeldKeys(); }

void Module1::Rebind(BackendBinder binder) {
  ReleaseHeldKeys();
  backend_.reset();
  binder_ = std::move(binder);
}

KeystrokeBackend& Module1::Bound() {
  if (!backend_) {
    if (!binder_) {
      throw FacilityUnavailable("No keystroke facility is configured");
    }
    backend_ = binder_();
    if (!backend_) {
      throw FacilityUnavailable("The keystroke facility could not be opened");
    }
  }
  return *backend_;
}

void Module1::PressKey(std::int32_t key_code) {
  const std::uint8_t vk = rt::UI1I4(key_code);
  Bound().KeyDown(vk);
  held_.set(vk);
}

void Module1::ReleaseKey(std::int32_t key_code) {
  const std::uint8_t vk = rt::UI1I4(key_code);
  Bound().KeyUp(vk);
  held_.reset(vk);
}

void Module1::PrepareKeys() {
  if (backend_) backend_->Prepare();
}

std::string Module1::KeyProblem(std::int32_t key_code) {
  if (key_code < 0 || key_code > 255) return "key code " + std::to_string(key_code) + " is no key";
  return backend_ ? backend_->KeyProblem(static_cast<std::uint8_t>(key_code)) : std::string();
}

std::uint8_t Module1::HeldModifier() const noexcept {
  for (std::size_t vk = 0; vk < held_.size(); ++vk) {
    const std::optional<Key> key = KeyByVk(static_cast<std::uint8_t>(vk));
    if (held_.test(vk) && key && key->modifier) return key->vk;
  }
  return 0;
}

bool Module1::HoldsKeysym(std::uint32_t keysym) const noexcept {
  for (std::size_t vk = 0; vk < held_.size(); ++vk) {
    const std::optional<Key> key = KeyByVk(static_cast<std::uint8_t>(vk));
    if (held_.test(vk) && key && key->keysym == keysym) return true;
  }
  return false;
}

void Module1::ReleaseHeldKeys() noexcept {
  if (!backend_) return;
  for (std::size_t vk = 0; vk < held_.size(); ++vk) {
    if (!held_.test(vk)) continue;
    held_.reset(vk);  // first, so a failing back end is not asked twice
    try {
      backend_->KeyUp(static_cast<std::uint8_t>(vk));
    } catch (...) {
    }
  }
}

namespace {
// Never destroyed: it must outlive everything that may release keys on the
// way out, static destructors included.
Module1& Slot() {
  static Module1* module = new Module1(BackendBinder{});
  return *module;
}
}  // namespace

void InstallModule1(BackendBinder binder) { Slot().Rebind(std::move(binder)); }
Module1& TheModule1() { return Slot(); }

void PressKey(std::int32_t key_code) { Slot().PressKey(key_code); }
void ReleaseKey(std::int32_t key_code) { Slot().ReleaseKey(key_code); }
void PrepareKeys() { Slot().PrepareKeys(); }

}  // namespace tollmere::key_injection
