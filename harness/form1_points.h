#pragma once
// Where to click in the program's window, worked out from the layout the
// window itself is built from, so a moved control moves the clicks too.

namespace tollmere::e2e {

// The dpi the program lays its window out at on our Xvfb: no Xft.dpi is set
// there, and Qt then takes 96.
inline constexpr double kXvfbDpi = 96;

struct Point {
  int x = 0;
  int y = 0;
};

// Centres of the controls, in the window's client coordinates.
Point StartButtonCentre(double dpi = kXvfbDpi);
Point IntervalBoxCentre(double dpi = kXvfbDpi);

}  // namespace tollmere::e2e
