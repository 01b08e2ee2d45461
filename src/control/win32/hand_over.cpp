#include "control/win32/hand_over.h"

#include "control/command_line.h"
#include "control/hotkeys/hotkey_text.h"
#include "hold_sequencer/hold_settings.h"

namespace tollmere::control {

namespace {

constexpr std::string_view kInterval = "interval=";
constexpr std::string_view kHotkey = "hotkey=";
constexpr std::string_view kActivate = "activate";
// Long enough for a window busy with a dialog; a hung one must not hang
// this command too.
constexpr UINT kAnswerTimeoutMs = 5000;

// Sends one part; false if the window does not answer in time.
bool Send(HWND window, const std::string& part, DWORD_PTR& answer) {
  COPYDATASTRUCT data{kRequestTag, static_cast<DWORD>(part.size()), const_cast<char*>(part.data())};
  answer = kRequestIgnored;
  return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                             SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerTimeoutMs, &answer) != 0;
}

// The top-level windows of the class, on this desktop.
std::vector<HWND> ClassWindows() {
  std::vector<HWND> out;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kWindowClass, nullptr)) != nullptr;)
    out.push_back(w);
  return out;
}

}  // namespace

void MarkAsRunning(HWND window) { SetPropW(window, kRunningMark, window); }

HWND FindRunningWindow() {
  for (HWND w : ClassWindows()) {
    if (GetPropW(w, kRunningMark) != nullptr) return w;
  }
  return nullptr;
}

bool IsIntervalText(std::string_view text) {
  if (text.size() > kMaxIntervalText) return false;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

std::vector<std::string> EncodeRequest(const Request& request) {
  std::vector<std::string> out;
  if (request.interval) {
    out.push_back(std::string(kInterval) + request.interval->substr(0, kMaxIntervalText));
  }
  for (const auto& [name, text] : request.settings) out.push_back(name + "=" + text);
  if (request.hotkey) out.push_back(std::string(kHotkey) + *request.hotkey);
  if (request.raise) out.emplace_back(kActivate);
  switch (request.action) {
    case Action::kNone: break;
    case Action::kStart: out.emplace_back("start"); break;
    case Action::kStop: out.emplace_back("stop"); break;
    case Action::kToggle: out.emplace_back("toggle"); break;
  }
  return out;
}

std::optional<Request> DecodeRequest(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kMaxRequestBytes) return std::nullopt;
  Request request;
  if (bytes == "start") {
    request.action = Action::kStart;
  } else if (bytes == "stop") {
    request.action = Action::kStop;
  } else if (bytes == "toggle") {
    request.action = Action::kToggle;
  } else if (bytes == kActivate) {
    request.raise = true;
  } else if (bytes.starts_with(kInterval)) {
    const std::string_view text = bytes.substr(kInterval.size());
    if (!IsIntervalText(text)) return std::nullopt;
    request.interval = std::string(text);
  } else if (bytes.starts_with(kHotkey)) {
    const std::string_view text = bytes.substr(kHotkey.size());
    // Whether it uses the key held is the window's to say: it knows the key.
    if (!ParseHotkey(text, 0).hotkey) return std::nullopt;
    request.hotkey = std::string(text);
  } else {
    // "key=A", "hold=until-stopped": a setting and text it takes.
    const std::size_t equals = bytes.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string name(bytes.substr(0, equals));
    const std::string_view text = bytes.substr(equals + 1);
    hold_sequencer::HoldSettings scratch;
    if (!IsIntervalText(text) || !hold_sequencer::ApplySetting(scratch, name, text).empty()) {
      return std::nullopt;
    }
    request.settings.emplace_back(name, text);
  }
  return request;
}

HandOver HandOverToRunning(const Request& request) {
  using Outcome = HandOver::Outcome;
  HWND window = FindRunningWindow();
  if (window == nullptr) return {};
  if (request.raise) {
    // Only the process the user just started may take the foreground; the
    // window may have it only if this one passes it on.
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    AllowSetForegroundWindow(process != 0 ? process : ASFW_ANY);
  }
  std::vector<std::string> parts = EncodeRequest(request);
  // A stop goes to every window, below, as none of them may keep holding.
  if (request.action == Action::kStop) parts.pop_back();
  for (const std::string& part : parts) {
    DWORD_PTR answer = kRequestIgnored;
    if (!Send(window, part, answer)) {
      const DWORD error = GetLastError();
      // Closed just now: then this one opens a window of its own.
      if (&part == &parts.front() && !IsWindow(window)) return {};
      return SendFailure(error);
    }
    if (static_cast<std::intptr_t>(answer) != kRequestDone) {
      // A part is its option without the dashes.
      const std::string asked = part == kActivate ? "to come forward" : "--" + part;
      return {Outcome::kRefused, "the open Tollmere window refused " + asked + "; it shows why"};
    }
  }
  if (request.action == Action::kStop) return StopEveryWindow();
  return {Outcome::kDone, request.raise ? "brought the running Tollmere forward" : ""};
}

HandOver StopEveryWindow() {
  // Every window is asked, however many fail: one hung window must not
  // keep the others holding.
  int unanswered = 0;
  DWORD error = 0;
  for (HWND window : ClassWindows()) {
    DWORD_PTR ignored = kRequestIgnored;
    if (!Send(window, "stop", ignored) && IsWindow(window)) {
      error = GetLastError();
      ++unanswered;
    }
  }
  if (unanswered == 0) return {HandOver::Outcome::kDone, ""};
  HandOver failure = SendFailure(error);
  if (unanswered > 1) {
    failure.message += " (" + std::to_string(unanswered) + " Tollmere windows did not answer)";
  }
  failure.message += "; the others were stopped";
  return failure;
}

HandOver SendFailure(DWORD error) {
  if (error == ERROR_ACCESS_DENIED) {
    return {HandOver::Outcome::kBlocked,
            "the open Tollmere window runs as administrator, and Windows keeps this "
            "command's request from it; run the command as administrator too"};
  }
  return {HandOver::Outcome::kNoAnswer, "the open Tollmere window does not answer"};
}

std::function<std::optional<LRESULT>(UINT, WPARAM, LPARAM)> HandOverReceiver(
    HWND window, RequestTarget& target) {
  // Each part is checked below, whoever sends it. Nothing to do where the
  // sender's level is no lower, so a failure here changes nothing then.
  ChangeWindowMessageFilterEx(window, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
  return [&target](UINT message, WPARAM, LPARAM lparam) -> std::optional<LRESULT> {
    if (message != WM_COPYDATA) return std::nullopt;
    // Any process can send this: only a well-formed part is taken.
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (data == nullptr || data->dwData != kRequestTag || data->lpData == nullptr ||
        data->cbData > kMaxRequestBytes) {
      return kRequestIgnored;
    }
    const std::optional<Request> request =
        DecodeRequest({static_cast<const char*>(data->lpData), data->cbData});
    if (!request) return kRequestIgnored;
    return ApplyRequest(target, *request).empty() ? kRequestDone : kRequestRefused;
  };
}

}  // namespace tollmere::control
