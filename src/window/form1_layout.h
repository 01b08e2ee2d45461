#pragma once
// Where Form1's controls sit, shared by the Qt and the Win32 window and by
// the harness that clicks them; so no toolkit headers here.

#include <cmath>

namespace tollmere::window {

// Lengths on the window are stored in twips (1/1440 inch), whatever the
// screen; they become pixels at its dpi, each edge rounded on its own.
struct TwipsRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

inline constexpr TwipsRect kClientArea{0, 0, 2940, 885};
inline constexpr TwipsRect kTxtInterval{120, 360, 1215, 285};
inline constexpr TwipsRect kCommand1{1560, 240, 1215, 495};
// Between the messages stacked below the controls.
inline constexpr int kMessageGapTwips = 60;

// Halves round away from zero.
inline int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

inline PixelRect ToPixels(const TwipsRect& r, double dpi_x, double dpi_y) {
  return {TwipsToPixels(r.left, dpi_x), TwipsToPixels(r.top, dpi_y), TwipsToPixels(r.width, dpi_x),
          TwipsToPixels(r.height, dpi_y)};
}

}  // namespace tollmere::window
