#pragma once
// tollmere.exe's options and the requests one Tollmere process hands to the
// window of another. Plain C++: main.cpp and the window do the Win32 part.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollmere::main_window {

enum class Action { kNone, kStart, kStop, kToggle };

struct CommandLine {
  Action action = Action::kNone;
  std::optional<std::string> interval;
  std::optional<std::string> hotkey;
  bool help = false;
  bool version = false;
  // Set when the options cannot be taken; the program says it and exits 2.
  std::string error;
};

// `args` without the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string Usage();

// A request travels as WM_COPYDATA: dwData kRequestTag, the bytes one of
// "start", "stop", "toggle", "interval=TEXT", "hotkey=KEY", no terminator.
// Any process may send WM_COPYDATA, so the receiver takes nothing else.
inline constexpr std::uintptr_t kRequestTag = 0x544C4D31;  // "TLM1"
inline constexpr std::size_t kMaxRequestBytes = 64;
// The box's text as a request carries it: short, printable ASCII.
inline constexpr std::size_t kMaxIntervalText = 32;

// What the receiver answers (SendMessage's result). 0 is also what a window
// that does not know the message returns.
inline constexpr std::intptr_t kRequestIgnored = 0;
inline constexpr std::intptr_t kRequestDone = 1;
inline constexpr std::intptr_t kRequestRefused = 2;

struct Request {
  enum class Kind { kStart, kStop, kToggle, kInterval, kHotkey };
  Kind kind;
  std::string text;  // the interval or the hotkey
};

// In the order they are carried out: the interval, the hotkey, the action.
std::vector<std::string> EncodeRequests(const CommandLine& command_line);

// Nothing unless `bytes` is exactly one well-formed request.
std::optional<Request> DecodeRequest(std::string_view bytes);

bool IsIntervalText(std::string_view text);

}  // namespace tollmere::main_window
