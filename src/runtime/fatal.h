#pragma once

#include <functional>
#include <utility>

#include "runtime/error.h"

namespace tollmere::runtime {

// The exit status of a program ended by an error that no handler caught.
inline constexpr int kFatalExitStatus = 1;

// What happens to an error that no handler caught: clean up (release held
// keys before anything can block), tell the user, end the program. Each step
// is replaceable so tests never block on a dialog or leave the process.
struct FatalPolicy {
  std::function<void()> cleanup;
  std::function<void(const Error&)> report;
  std::function<void(int status)> exit;
};

// Installs `policy`; empty members fall back to: no clean-up, a line on
// standard error, std::exit.
void SetFatalPolicy(FatalPolicy policy);

// Ends the program for `error` under the installed policy. Returns only if an
// injected exit step returns.
void Fatal(const Error& error);

// Runs one event handler. An error leaves the handler at once and ends the
// program; nothing escapes into the event loop that called it.
template <typename Handler>
void RunHandler(Handler&& handler) noexcept {
  try {
    std::forward<Handler>(handler)();
  } catch (const Error& error) {
    Fatal(error);
  } catch (const std::bad_alloc&) {
    Fatal(Error(ErrorNumber::kInternal, "Out of memory"));
  } catch (const std::exception& e) {
    Fatal(Error(ErrorNumber::kInternal, e.what()));
  } catch (...) {
    Fatal(Error(ErrorNumber::kInternal, "Unknown failure"));
  }
}

}  // namespace tollmere::runtime
