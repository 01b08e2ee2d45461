#include "key_injection/backends/uinput_backend.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "key_injection/backends/evdev_keys.h"
#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

namespace rt = tollmere::runtime;

// Debian and most others make the node /dev/uinput; a few older systems put
// it under /dev/input.
constexpr const char* kNodes[] = {"/dev/uinput", "/dev/input/uinput"};

// Long enough for udev to tag a new keyboard and the compositor or X server
// to open it; paid once, when the back end is bound.
constexpr std::chrono::milliseconds kSettle{300};

// How long the keyboard outlives its last event. Once it is removed, readers
// get ENODEV even for events they had not yet read, so a release sent just
// before would be lost.
constexpr std::chrono::milliseconds kDrain{100};

std::string ErrnoText(int errno_value) { return std::generic_category().message(errno_value); }

struct EvdevFree {
  void operator()(libevdev* dev) const { libevdev_free(dev); }
};
struct UinputDestroy {
  void operator()(libevdev_uinput* uidev) const { libevdev_uinput_destroy(uidev); }
};
struct FdClose {
  int fd = -1;
  ~FdClose() {
    if (fd >= 0) close(fd);
  }
};

class UinputBackend final : public KeystrokeBackend {
 public:
  UinputBackend(FdClose&& fd, std::unique_ptr<libevdev, EvdevFree> dev,
                std::unique_ptr<libevdev_uinput, UinputDestroy> uidev)
      : fd_(fd.fd), dev_(std::move(dev)), uidev_(std::move(uidev)) {
    fd.fd = -1;
  }

  // Module1 released what was still down before closing us, so the
  // release is an ordinary event rather than left to how each reader treats
  // a keyboard that vanishes; readers get kDrain to take it. (Should the
  // process die instead, closing the descriptor removes the keyboard and the
  // kernel puts its keys up.)
  ~UinputBackend() override {
    std::this_thread::sleep_until(last_event_ + kDrain);
    uidev_.reset();
    dev_.reset();
    close(fd_);
  }

  void KeyDown(std::uint8_t vk) override { Send(CodeFor(vk), 1); }
  void KeyUp(std::uint8_t vk) override { Send(CodeFor(vk), 0); }

  std::string_view Name() const override { return "uinput"; }
  // The keyboard declares every code the key table has (see below).
  std::string KeyProblem(std::uint8_t vk) override { return EvdevKeyProblem(vk); }

 private:
  static std::uint16_t CodeFor(std::uint8_t vk) {
    const std::uint16_t code = EvdevCodeFor(vk);
    if (code == 0) throw KeyNotOnKeyboard(vk);
    return code;
  }

  // A write to uinput reaches every reader of the keyboard before it
  // returns, so the event is delivered when this does.
  void Send(std::uint16_t code, int value) {
    int rc = libevdev_uinput_write_event(uidev_.get(), EV_KEY, code, value);
    if (rc == 0) rc = libevdev_uinput_write_event(uidev_.get(), EV_SYN, SYN_REPORT, 0);
    last_event_ = std::chrono::steady_clock::now();
    if (rc < 0) {
      throw FacilityUnavailable("Cannot send a key event through uinput: " + ErrnoText(-rc) + ".");
    }
  }

  int fd_;
  std::unique_ptr<libevdev, EvdevFree> dev_;
  std::unique_ptr<libevdev_uinput, UinputDestroy> uidev_;
  std::chrono::steady_clock::time_point last_event_{};
};

}  // namespace

std::string UinputOpenProblem(int errno_value, bool node_exists) {
  static const std::string kWarning =
      " Be aware that this access lets every program this user runs read all "
      "keystrokes and type its own into any window; grant it only where you "
      "trust them all.";
  if (!node_exists) {
    return "Cannot send keystrokes through uinput: /dev/uinput does not exist, so "
           "the kernel's uinput module is not loaded. Load it with "
           "`sudo modprobe uinput`, and have it loaded at every start with "
           "`echo uinput | sudo tee /etc/modules-load.d/uinput.conf`." +
           kWarning;
  }
  if (errno_value == EACCES || errno_value == EPERM) {
    return "Cannot send keystrokes through uinput: this user may not open "
           "/dev/uinput. Give the group \"input\" access with a udev rule: "
           "`echo 'KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\", "
           "OPTIONS+=\"static_node=uinput\"' | "
           "sudo tee /etc/udev/rules.d/60-tollmere-uinput.rules`, apply it with "
           "`sudo udevadm control --reload && sudo udevadm trigger`, join the group "
           "with `sudo usermod -aG input $USER`, then log out and in again." +
           kWarning;
  }
  return "Cannot send keystrokes through uinput: opening /dev/uinput failed: " +
         ErrnoText(errno_value) + "." + kWarning;
}

std::unique_ptr<KeystrokeBackend> OpenUinputBackend() { return OpenUinputBackend(kNodes); }

std::unique_ptr<KeystrokeBackend> OpenUinputBackend(std::span<const char* const> nodes) {
  FdClose fd;
  bool node_exists = false;
  int open_errno = ENOENT;
  for (const char* node : nodes) {
    fd.fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd.fd >= 0) break;
    if (errno == ENOENT) continue;
    // The node is there but refused us: that is the reason to give.
    node_exists = true;
    open_errno = errno;
    break;
  }
  if (fd.fd < 0) throw FacilityUnavailable(UinputOpenProblem(open_errno, node_exists));

  std::unique_ptr<libevdev, EvdevFree> dev(libevdev_new());
  if (!dev) throw FacilityUnavailable("Cannot describe a uinput keyboard: out of memory.");
  const std::string name(kUinputKeyboardName);
  libevdev_set_name(dev.get(), name.c_str());
  libevdev_set_id_bustype(dev.get(), BUS_VIRTUAL);
  libevdev_enable_event_type(dev.get(), EV_SYN);
  libevdev_enable_event_type(dev.get(), EV_KEY);
  // Every key of the key table, modifiers and keypad included: a keyboard
  // without the key would have the kernel drop its events silently.
  for (unsigned vk = 0; vk < 256; ++vk) {
    if (const std::uint16_t code = EvdevCodeFor(static_cast<std::uint8_t>(vk))) {
      libevdev_enable_event_code(dev.get(), EV_KEY, code, nullptr);
    }
  }

  libevdev_uinput* raw = nullptr;
  if (const int rc = libevdev_uinput_create_from_device(dev.get(), fd.fd, &raw); rc < 0) {
    throw FacilityUnavailable("Cannot create a uinput keyboard: " + ErrnoText(-rc) + ".");
  }
  std::unique_ptr<libevdev_uinput, UinputDestroy> uidev(raw);
  std::this_thread::sleep_for(kSettle);
  return std::make_unique<UinputBackend>(std::move(fd), std::move(dev), std::move(uidev));
}

}  // namespace tollmere::key_injection
