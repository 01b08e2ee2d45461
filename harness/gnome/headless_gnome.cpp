#include "harness/gnome/headless_gnome.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tollmere::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

void End(pid_t pid) {
  kill(pid, SIGTERM);
  if (!WaitForPid(pid, 3s)) {
    kill(pid, SIGKILL);
    WaitForPid(pid, 10s);
  }
}

}  // namespace

std::string HeadlessGnome::Unavailable() {
  for (const char* program : {"mutter", "dbus-daemon", "dbus-send", "setsid"}) {
    if (!OnPath(program)) return std::string(program) + " is not installed";
  }
  // The bus starts the portal and its GNOME back end from these.
  for (const char* service :
       {"org.freedesktop.portal.Desktop", "org.freedesktop.impl.portal.desktop.gnome"}) {
    const std::string file = std::string("/usr/share/dbus-1/services/") + service + ".service";
    if (access(file.c_str(), R_OK) != 0) return std::string(service) + " is not installed";
  }
  return {};
}

HeadlessGnome::HeadlessGnome(std::chrono::milliseconds startup_timeout) {
  if (const std::string why = Unavailable(); !why.empty()) throw std::runtime_error(why);
  // mkdtemp makes it 0700, as a runtime directory must be.
  char dir_template[] = "/tmp/tollmere-gnome.XXXXXX";
  if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
  runtime_dir_ = dir_template;

  // A clean environment for the whole session, nothing of ours (DISPLAY,
  // WAYLAND_*) in it. The bus passes its own on to the portals it starts:
  // GNOME's portal back end is chosen by XDG_CURRENT_DESKTOP and opens its
  // dialog on WAYLAND_DISPLAY.
  const std::vector<std::string> session_env = {
      "env",
      "-i",
      "PATH=/usr/bin:/bin",
      "HOME=" + runtime_dir_,
      "XDG_RUNTIME_DIR=" + runtime_dir_,
      "XDG_CURRENT_DESKTOP=GNOME",
      "XDG_SESSION_TYPE=wayland",
      std::string("WAYLAND_DISPLAY=") + kDisplayName,
      // No accessibility bus and no dconf: neither is needed, both are slow.
      "NO_AT_BRIDGE=1",
      "GTK_A11Y=none",
      "GSETTINGS_BACKEND=memory",
  };
  try {
    log_fd_ = TempFile();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    SpawnOptions bus;
    // A session of its own, so the services the bus starts end with it.
    bus.argv = {"setsid"};
    bus.argv.insert(bus.argv.end(), session_env.begin(), session_env.end());
    bus.argv.insert(bus.argv.end(),
                    {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address",
                     "--address=unix:path=" + runtime_dir_ + "/bus"});
    bus.stdout_fd = out[1];
    bus.stderr_fd = log_fd_;
    try {
      bus_pid_ = Spawn(bus);
    } catch (...) {
      close(out[0]);
      close(out[1]);
      throw;
    }
    close(out[1]);
    const std::optional<std::string> address = ReadFirstLine(out[0], startup_timeout);
    close(out[0]);
    if (!address || address->empty()) throw std::runtime_error("dbus-daemon did not start");
    bus_address_ = *address;

    SpawnOptions mutter;
    mutter.argv = session_env;
    mutter.argv.insert(mutter.argv.end(),
                       {"DBUS_SESSION_BUS_ADDRESS=" + bus_address_, "mutter", "--headless",
                        "--wayland", "--no-x11", "--virtual-monitor", "1024x768",
                        std::string("--wayland-display=") + kDisplayName});
    mutter.stdout_fd = log_fd_;
    mutter.stderr_fd = log_fd_;
    mutter_pid_ = Spawn(mutter);
  } catch (...) {
    Stop();
    throw;
  }

  // Ready once the socket is there and mutter serves remote desktops on the
  // bus, which it does only after its monitor and seat are set up.
  const auto deadline = Clock::now() + startup_timeout;
  for (;;) {
    if (const auto status = WaitForPid(mutter_pid_, 0ms)) {
      mutter_pid_ = -1;
      const std::string why =
          "mutter " + DescribeWaitStatus(*status) + " while starting; its log:\n" + Log();
      Stop();
      throw GnomeCannotStart(why);
    }
    if (access(socket_path().c_str(), F_OK) == 0) {
      bool owned = false;
      try {
        owned =
            BusQuery({"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                      "org.freedesktop.DBus.NameHasOwner", "string:org.gnome.Mutter.RemoteDesktop"})
                .find("boolean true") != std::string::npos;
      } catch (...) {
        Stop();
        throw;
      }
      if (owned) break;
    }
    if (Clock::now() > deadline) {
      const std::string why = "mutter did not come up within " +
                              std::to_string(startup_timeout.count()) + " ms; its log:\n" + Log();
      Stop();
      throw std::runtime_error(why);
    }
    std::this_thread::sleep_for(20ms);
  }

  // The seat's keyboard.
  try {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    SpawnOptions keyboard;
    keyboard.argv = {TOLLMERE_MUTTER_KEYS, "--hold"};
    keyboard.env = ClientEnvironment();
    keyboard.stdout_fd = out[1];
    keyboard.stderr_fd = log_fd_;
    try {
      seat_keyboard_pid_ = Spawn(keyboard);
    } catch (...) {
      close(out[0]);
      close(out[1]);
      throw;
    }
    close(out[1]);
    const std::optional<std::string> ready = ReadFirstLine(out[0], 10s);
    close(out[0]);
    if (ready != "ready") throw std::runtime_error("no keyboard for the seat; log:\n" + Log());
  } catch (...) {
    Stop();
    throw;
  }
}

HeadlessGnome::~HeadlessGnome() { Stop(); }

std::string HeadlessGnome::BusQuery(std::vector<std::string> args) const {
  SpawnOptions query;
  query.argv = {"dbus-send", "--bus=" + bus_address_, "--print-reply"};
  query.argv.insert(query.argv.end(), args.begin(), args.end());
  const int out = TempFile();
  query.stdout_fd = out;
  std::string reply;
  try {
    const auto status = WaitForPid(Spawn(query), 10s);
    if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) reply = ReadTail(out, 4096);
  } catch (...) {
    close(out);
    throw;
  }
  close(out);
  return reply;
}

unsigned HeadlessGnome::RemoteDesktopVersion() const {
  const std::string reply =
      BusQuery({"--dest=org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                "org.freedesktop.DBus.Properties.Get",
                "string:org.freedesktop.portal.RemoteDesktop", "string:version"});
  const std::size_t at = reply.find("uint32 ");
  return at == std::string::npos ? 0 : static_cast<unsigned>(std::stoul(reply.substr(at + 7)));
}

void HeadlessGnome::Stop() {
  if (seat_keyboard_pid_ > 0) End(seat_keyboard_pid_);
  seat_keyboard_pid_ = -1;
  if (mutter_pid_ > 0) End(mutter_pid_);
  mutter_pid_ = -1;
  if (bus_pid_ > 0) {
    // The bus and every service it started: they share its session.
    kill(-bus_pid_, SIGTERM);
    End(bus_pid_);
    kill(-bus_pid_, SIGKILL);
  }
  bus_pid_ = -1;
  if (log_fd_ >= 0) close(log_fd_);
  log_fd_ = -1;
  if (runtime_dir_.empty()) return;
  // The document portal, which the bus starts, mounts a FUSE file system in
  // the runtime directory, and it stays when the portal is killed: unmount
  // whatever is mounted below, deepest first, before removing the folder.
  std::vector<std::string> mounts;
  std::ifstream table("/proc/mounts");
  for (std::string device, point, rest; table >> device >> point && std::getline(table, rest);) {
    if (point.starts_with(runtime_dir_ + "/")) mounts.push_back(point);
  }
  std::sort(mounts.rbegin(), mounts.rend());
  for (const std::string& point : mounts) umount2(point.c_str(), MNT_DETACH);
  std::error_code ignored;
  fs::remove_all(runtime_dir_, ignored);
}

std::vector<EnvChange> HeadlessGnome::ClientEnvironment() const {
  return {
      {"XDG_RUNTIME_DIR", runtime_dir_},
      // State such as a portal's restore token stays in this session.
      {"HOME", runtime_dir_},
      {"XDG_STATE_HOME", std::nullopt},
      {"WAYLAND_DISPLAY", socket_path()},
      // libwayland would take an inherited socket over WAYLAND_DISPLAY.
      {"WAYLAND_SOCKET", std::nullopt},
      {"DBUS_SESSION_BUS_ADDRESS", bus_address_},
      {"XDG_SESSION_TYPE", "wayland"},
      {"XDG_CURRENT_DESKTOP", "GNOME"},
      // Unset: the program picks Qt's Wayland platform by itself.
      {"QT_QPA_PLATFORM", std::nullopt},
      {"DISPLAY", std::nullopt},
  };
}

bool HeadlessGnome::RunMutterKeys(std::vector<std::string> args) const {
  SpawnOptions options;
  options.argv = {TOLLMERE_MUTTER_KEYS};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.env = ClientEnvironment();
  options.stdout_fd = log_fd_;
  options.stderr_fd = log_fd_;
  const pid_t pid = Spawn(options);
  const auto status = WaitForPid(pid, 60s);
  if (!status) {
    kill(pid, SIGKILL);
    WaitForPid(pid, 10s);
    return false;
  }
  return WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

bool HeadlessGnome::ApproveRemoteDesktopDialog(bool persistent) const {
  // The switch has the focus when the dialog opens; Alt+S is "Share". A
  // portal that can remember (version 2 on) opens it on a ticked "Remember
  // this selection" instead, which a Tab passes.
  if (persistent && RemoteDesktopVersion() >= 2)
    return RunMutterKeys({"--dialog", "Tab", "space", "Alt_L+s"});
  return RunMutterKeys({"--dialog", "space", "Alt_L+s"});
}

bool HeadlessGnome::RefuseRemoteDesktopDialog() const {
  return RunMutterKeys({"--dialog", "Escape"});
}

bool HeadlessGnome::PressKeys(const std::vector<std::string>& keys) const {
  return RunMutterKeys(keys);
}

std::string HeadlessGnome::Log() const { return log_fd_ >= 0 ? ReadTail(log_fd_, 8192) : ""; }

PortalKeyCalls::PortalKeyCalls(const HeadlessGnome& gnome) {
  out_fd_ = TempFile();
  SpawnOptions options;
  options.argv = {"dbus-monitor", "--address", gnome.bus_address(),
                  "type='method_call',interface='org.freedesktop.portal.RemoteDesktop',"
                  "member='NotifyKeyboardKeycode'"};
  options.stdout_fd = out_fd_;
  options.stderr_fd = out_fd_;
  try {
    pid_ = Spawn(options);
  } catch (...) {
    close(out_fd_);
    throw;
  }
  // It says so (its own name's signals) once the bus has made it a monitor.
  const auto deadline = Clock::now() + 5s;
  while (ReadTail(out_fd_, 4096).find("NameLost") == std::string::npos) {
    if (Clock::now() > deadline || WaitForPid(pid_, 0ms)) {
      const std::string output = ReadTail(out_fd_, 4096);
      kill(pid_, SIGKILL);
      WaitForPid(pid_, 5s);
      close(out_fd_);
      throw std::runtime_error("dbus-monitor did not start: " + output);
    }
    std::this_thread::sleep_for(10ms);
  }
}

PortalKeyCalls::~PortalKeyCalls() {
  End(pid_);
  close(out_fd_);
}

std::vector<PortalKeyCalls::Call> PortalKeyCalls::Calls() const {
  // Each call's arguments follow its header line: the session, the
  // options, then `int32 <keycode>` and `uint32 <state>`.
  std::istringstream in(ReadTail(out_fd_, 1 << 24));
  std::vector<Call> calls;
  std::string line;
  bool in_call = false;
  while (std::getline(in, line)) {
    if (line.starts_with("method call")) {
      in_call = line.find("member=NotifyKeyboardKeycode") != std::string::npos;
      if (in_call) calls.push_back({});
    } else if (in_call) {
      std::istringstream words(line);
      std::string type;
      long value = 0;
      if (!(words >> type >> value)) continue;
      if (type == "int32") calls.back().keycode = static_cast<int>(value);
      if (type == "uint32") calls.back().press = value != 0;
    } else if (!line.empty() && line[0] != ' ') {
      in_call = false;
    }
  }
  return calls;
}

}  // namespace tollmere::e2e
