/* The X11 floor: the space bar through XTest, flushed on the press and
 * synced on the release, as Tollmere's XTest back end sends it. */
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "floor_clock.h"

static int send_key(void* context, int down) {
  Display* display = context;
  static KeyCode space;
  if (space == 0) space = XKeysymToKeycode(display, XK_space);
  XTestFakeKeyEvent(display, space, down ? True : False, CurrentTime);
  (void)(down ? XFlush(display) : XSync(display, False));
  return 0;
}

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "xtest-floor: cannot open the display\n");
    return 1;
  }
  return floor_run(argc, argv, send_key, display);
}
