#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "harness/child_process.h"

namespace tollmere::e2e {

// What swaymsg said: `ok` when it exited with 0 (sway ran every command),
// `output` its stdout and stderr together.
struct SwayReply {
  bool ok = false;
  std::string output;
};

// A private sway on the headless backend, one 800x600 output, no Xwayland.
// sway refuses to run as root, so it runs as nobody in a runtime directory
// of its own owned by nobody; we, as root, can still reach its sockets.
// Ready for clients when the constructor returns (it throws otherwise, with
// sway's log). The destructor ends it and removes the directory.
class HeadlessSway {
 public:
  explicit HeadlessSway(std::chrono::milliseconds startup_timeout = std::chrono::seconds(10));
  ~HeadlessSway();
  HeadlessSway(const HeadlessSway&) = delete;
  HeadlessSway& operator=(const HeadlessSway&) = delete;

  // Empty when sway can run here, else why not, for GTEST_SKIP.
  static std::string Unavailable();
  static bool Available() { return Unavailable().empty(); }

  const std::string& runtime_dir() const { return runtime_dir_; }  // sway's, owned by nobody
  const std::string& wayland_display() const { return wayland_display_; }  // e.g. "wayland-1"
  std::string socket_path() const { return runtime_dir_ + "/" + wayland_display_; }
  const std::string& ipc_socket() const { return ipc_socket_; }
  pid_t pid() const { return pid_; }

  // The environment for a client of this sway, Qt included; no X display.
  // WAYLAND_DISPLAY is the socket's full path and XDG_RUNTIME_DIR a
  // directory of the client's own, as Qt warns about one owned by nobody.
  std::vector<EnvChange> ClientEnvironment() const;

  // swaymsg with one command, e.g. `[app_id="x"] focus`.
  SwayReply Msg(const std::string& command) const;
  // swaymsg -t <type>, e.g. "get_tree".
  SwayReply Query(const std::string& type) const;

  // Whether a window with exactly this title is in the tree.
  bool WindowExists(const std::string& title) const;
  // Gives the keyboard focus to the window with exactly this title; false if
  // there is none.
  bool FocusWindow(const std::string& title) const;

  // A PNG of the whole output, by grim. Throws if grim fails.
  void Screenshot(const std::string& path) const;

  // sway's stderr so far, the end of it if long.
  std::string Log() const;

 private:
  SwayReply Run(std::vector<std::string> argv) const;
  void Stop();

  std::string runtime_dir_;
  std::string client_dir_;
  std::string wayland_display_;
  std::string ipc_socket_;
  pid_t pid_ = -1;
  int log_fd_ = -1;
};

}  // namespace tollmere::e2e
