#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "harness/form1_points.h"

namespace tollmere::e2e {

class XConnection;

// Plays the user: finds windows, moves the focus, types and clicks through
// XTest, and asks windows to close as a window manager would.
class Driver {
 public:
  explicit Driver(const std::string& display_name);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // A viewable window with this title (_NET_WM_NAME or WM_NAME) anywhere in
  // the tree, other than `other_than`; 0 if none appears within `timeout`.
  unsigned long WaitForWindow(const std::string& title, std::chrono::milliseconds timeout,
                              unsigned long other_than = 0);

  void Focus(unsigned long window);
  unsigned long FocusedWindow();

  // Printable ASCII only; Shift is held for characters on the shifted level.
  void Type(std::string_view text);

  // One key by keysym, down or up, with no modifiers.
  void PressKey(unsigned long keysym);
  void ReleaseKey(unsigned long keysym);
  // `keysym` pressed and released while `modifier` is held: Control+a.
  void Chord(unsigned long modifier, unsigned long keysym);

  // Whether the lock key with this keysym (Num_Lock, Caps_Lock) is on.
  bool LockOn(unsigned long keysym);

  // Grabs a key on the root window with any modifiers, as another program's
  // hotkey would; held until the driver goes.
  void GrabKey(unsigned long keysym);

  // Button 1 down and up at (x, y) in `window`'s coordinates. Returns once
  // the server has processed both.
  void Click(unsigned long window, int x, int y);
  void Click(unsigned long window, Point at) { Click(window, at.x, at.y); }

  // A WM_DELETE_WINDOW client message, as a window manager sends on close.
  void RequestClose(unsigned long window);

 private:
  unsigned long FindViewable(unsigned long under, const std::string& title,
                             unsigned long other_than);
  std::string Title(unsigned long window);
  void Key(unsigned keycode, bool down);

  std::unique_ptr<XConnection> x_;
};

}  // namespace tollmere::e2e
