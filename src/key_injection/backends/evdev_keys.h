#pragma once

#include <cstdint>
#include <string>

namespace tollmere::key_injection {

// The Linux input-event code (KEY_*) of the key a virtual-key code names
// without a modifier, or 0 when no key on a standard keyboard has it. Back
// ends below the X server (Wayland's virtual keyboard, uinput) speak these.
std::uint16_t EvdevCodeFor(std::uint8_t vk);

// For KeystrokeBackend::KeyProblem of a back end that sends these codes: ""
// when `vk` has one, else why the key cannot be sent.
std::string EvdevKeyProblem(std::uint8_t vk);

}  // namespace tollmere::key_injection
