#include "harness/form1_points.h"

#include "window/form1_layout.h"

namespace tollmere::e2e {

namespace mw = tollmere::window;

namespace {

Point Centre(const mw::TwipsRect& control, double dpi) {
  const mw::PixelRect r = mw::ToPixels(control, dpi, dpi);
  return {r.x + r.width / 2, r.y + r.height / 2};
}

}  // namespace

Point StartButtonCentre(double dpi) { return Centre(mw::kCommand1, dpi); }

Point IntervalBoxCentre(double dpi) { return Centre(mw::kTxtInterval, dpi); }

}  // namespace tollmere::e2e
