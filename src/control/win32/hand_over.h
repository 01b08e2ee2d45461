#pragma once
// How one Tollmere process hands a request to the window of another on
// Windows: WM_COPYDATA to the window of its class that bears the mark.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/request.h"

namespace tollmere::control {

// The Tollmere window's class: the window registers it, others find it by it.
inline constexpr wchar_t kWindowClass[] = L"TollmereForm1";
// Held by the one process per session whose window takes the requests, from
// its start-up on; "Local\\" is this session's namespace.
inline constexpr wchar_t kInstanceMutex[] = L"Local\\Tollmere.TollmereForm1";
// The property that marks that window among those of its class (windows
// opened with --new-window have none until they take over).
inline constexpr wchar_t kRunningMark[] = L"Tollmere.TakesRequests";

void MarkAsRunning(HWND window);
// The marked window, or none.
HWND FindRunningWindow();

// A request travels as one WM_COPYDATA per part: dwData kRequestTag, the
// bytes one of "interval=TEXT", "NAME=TEXT" for a setting ("key=A"),
// "hotkey=KEY", "activate", "start", "stop", "toggle", no terminator. Any
// process may send WM_COPYDATA, so the receiver takes nothing else.
inline constexpr std::uintptr_t kRequestTag = 0x544C4D31;  // "TLM1"
// The interval's text goes as typed, up to one character more than the box
// takes, so that the window's own "Too long" refusal answers it; beyond
// that the sender cuts it.
inline constexpr std::size_t kMaxIntervalText = 32768;
inline constexpr std::size_t kMaxRequestBytes = 9 + kMaxIntervalText;  // "interval=" and the text
// Any characters but control characters: the box judges the rest.
bool IsIntervalText(std::string_view text);

// What the receiver answers (SendMessage's result). 0 is also what a window
// that does not know the message returns.
inline constexpr std::intptr_t kRequestIgnored = 0;
inline constexpr std::intptr_t kRequestDone = 1;
inline constexpr std::intptr_t kRequestRefused = 2;

// In the order they are carried out: the interval, the settings, the
// hotkey, then "activate" or the action.
std::vector<std::string> EncodeRequest(const Request& request);

// Nothing unless `bytes` is exactly one well-formed part.
std::optional<Request> DecodeRequest(std::string_view bytes);

struct HandOver {
  enum class Outcome {
    kNoWindow,  // none is open: this process opens its own
    kDone,
    kRefused,   // the window shows why
    kNoAnswer,  // it hangs; it may still act later
    kBlocked,   // Windows kept the request from it: it runs as administrator
  };
  Outcome outcome = Outcome::kNoWindow;
  std::string message;  // for standard error, without "tollmere: "
};

// "stop" to every Tollmere window; each that does not answer is reported.
HandOver StopEveryWindow();

// Hands `request` to the marked Tollmere window, if there is one, stopping
// at the first part it refuses. A stop goes to the other windows of the
// class too, as none of them may keep holding.
HandOver HandOverToRunning(const Request& request);

// What a failed send of a part tells, by SendMessageTimeout's error.
HandOver SendFailure(DWORD error);

// The receiving window's message hook: carries out each well-formed part on
// `target` and answers kRequestDone or kRequestRefused, anything else
// kRequestIgnored. `window` takes WM_COPYDATA from programs of a lower
// integrity level too, which Windows would otherwise drop while Tollmere
// runs as administrator.
std::function<std::optional<LRESULT>(UINT, WPARAM, LPARAM)> HandOverReceiver(HWND window,
                                                                             RequestTarget& target);

}  // namespace tollmere::control
