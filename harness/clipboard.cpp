#include "harness/clipboard.h"

#include <X11/Xatom.h>
#include <poll.h>

#include <stdexcept>
#include <vector>

#include "harness/x_connection.h"

namespace tollmere::e2e {

using Clock = std::chrono::steady_clock;

ClipboardOwner::ClipboardOwner(const std::string& display_name)
    : x_(std::make_unique<XConnection>(display_name)) {
  Display* d = x_->get();
  // Unmapped: a selection owner needs a window, not a visible one.
  window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  XSync(d, False);
}

ClipboardOwner::~ClipboardOwner() = default;

void ClipboardOwner::Offer(const std::string& utf8) {
  Display* d = x_->get();
  text_ = utf8;
  for (const char* name : {"CLIPBOARD", "PRIMARY"}) {
    const Atom selection = XInternAtom(d, name, False);
    XSetSelectionOwner(d, selection, window_, CurrentTime);
    if (XGetSelectionOwner(d, selection) != window_) {
      throw std::runtime_error(std::string("could not own the ") + name + " selection");
    }
  }
  x_->SyncAndTakeError();
}

void ClipboardOwner::Answer(const void* xevent) {
  const XSelectionRequestEvent& req = static_cast<const XEvent*>(xevent)->xselectionrequest;
  Display* d = x_->get();
  const Atom targets = XInternAtom(d, "TARGETS", False);
  const Atom utf8_string = XInternAtom(d, "UTF8_STRING", False);
  const Atom text_plain_utf8 = XInternAtom(d, "text/plain;charset=utf-8", False);
  const Atom text_plain = XInternAtom(d, "text/plain", False);
  const Atom text = XInternAtom(d, "TEXT", False);

  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.display = d;
  reply.requestor = req.requestor;
  reply.selection = req.selection;
  reply.target = req.target;
  reply.time = req.time;
  // Obsolete clients name no property; the target stands in for it.
  reply.property = req.property != 0 ? req.property : req.target;

  if (req.target == targets) {
    const std::vector<Atom> offered = {targets,    utf8_string, text_plain_utf8,
                                       text_plain, text,        XA_STRING};
    XChangeProperty(d, req.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(offered.data()),
                    static_cast<int>(offered.size()));
  } else if (req.target == utf8_string || req.target == text_plain_utf8 ||
             req.target == text_plain || req.target == text || req.target == XA_STRING) {
    // Every text this owner offers in tests is ASCII or meant as UTF-8; a
    // STRING (Latin-1) reader of non-ASCII text gets the bytes as they are.
    const Atom type = req.target == text ? utf8_string : req.target;
    XChangeProperty(d, req.requestor, reply.property, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text_.data()),
                    static_cast<int>(text_.size()));
    ++texts_served_;
  } else {
    reply.property = 0;  // refused: a target we do not offer
  }
  XSendEvent(d, req.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
  // A requestor that vanished meanwhile is its own problem.
  x_->SyncAndTakeError();
}

bool ClipboardOwner::Serve(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  Display* d = x_->get();
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    while (!x_->lost() && XPending(d) > 0) {
      XEvent ev;
      XNextEvent(d, &ev);
      if (ev.type == SelectionRequest) Answer(&ev);
    }
    if (done()) return true;
    if (Clock::now() > deadline || x_->lost()) return false;
    pollfd pfd{ConnectionNumber(d), POLLIN, 0};
    poll(&pfd, 1, 20);
  }
}

}  // namespace tollmere::e2e
