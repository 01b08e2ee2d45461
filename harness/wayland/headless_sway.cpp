#include "harness/wayland/headless_sway.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tollmere::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// nobody: sway will not run as root, and any unprivileged user will do.
constexpr uid_t kSwayUid = 65534;
constexpr gid_t kSwayGid = 65534;

// A JSON string as sway writes it in its tree: json-c escapes '/' too.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\' || c == '/') out += '\\';
    out += c;
  }
  return out + "\"";
}

// An anchored criteria regex matching `text` literally. sway hands a
// backslash through to the regex, except before a quote, which it unescapes.
std::string ExactRegex(const std::string& text) {
  std::string out = "^";
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}\"").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out + "$";
}

}  // namespace

std::string HeadlessSway::Unavailable() {
  for (const char* program : {"sway", "swaymsg"}) {
    if (!OnPath(program)) return std::string(program) + " is not installed";
  }
  if (geteuid() == 0 && !OnPath("setpriv")) return "running as root and setpriv is not installed";
  return {};
}

HeadlessSway::HeadlessSway(std::chrono::milliseconds startup_timeout) {
  if (const std::string why = Unavailable(); !why.empty()) throw std::runtime_error(why);
  char dir_template[] = "/tmp/tollmere-sway.XXXXXX";
  if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
  runtime_dir_ = dir_template;
  char client_template[] = "/tmp/tollmere-client.XXXXXX";
  if (mkdtemp(client_template) == nullptr) {
    fs::remove_all(runtime_dir_);
    throw std::runtime_error("mkdtemp failed");
  }
  client_dir_ = client_template;
  const bool as_root = geteuid() == 0;
  const std::string config = runtime_dir_ + "/config";
  {
    std::ofstream out(config);
    out << "output HEADLESS-1 resolution 800x600\n"
           // Starts faster, and the program must not fall back to X.
           "xwayland disable\n";
  }
  if (as_root && (chown(runtime_dir_.c_str(), kSwayUid, kSwayGid) != 0 ||
                  chown(config.c_str(), kSwayUid, kSwayGid) != 0)) {
    Stop();
    throw std::runtime_error("cannot hand " + runtime_dir_ + " to nobody");
  }

  // A clean environment: nothing of ours (DISPLAY, WAYLAND_*) must leak in.
  SpawnOptions options;
  options.argv = {"env",
                  "-i",
                  "PATH=/usr/bin:/bin",
                  "HOME=" + runtime_dir_,
                  "XDG_RUNTIME_DIR=" + runtime_dir_,
                  "WLR_BACKENDS=headless",
                  "WLR_LIBINPUT_NO_DEVICES=1",
                  "WLR_RENDERER=pixman"};
  if (as_root) {
    // Changing the user clears the parent-death signal Spawn set; setpriv
    // sets it again afterwards.
    for (const char* arg :
         {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--pdeathsig", "KILL"}) {
      options.argv.emplace_back(arg);
    }
  }
  options.argv.insert(options.argv.end(), {"sway", "-c", config});
  try {
    log_fd_ = TempFile();
    options.stdout_fd = log_fd_;
    options.stderr_fd = log_fd_;
    pid_ = Spawn(options);
  } catch (...) {
    Stop();
    throw;
  }

  // Ready once both sockets are there and the output exists: a window mapped
  // before that would have nowhere to go.
  const auto deadline = Clock::now() + startup_timeout;
  std::string failure;
  for (;;) {
    if (const auto status = WaitForPid(pid_, 0ms)) {
      pid_ = -1;
      failure = "sway " + DescribeWaitStatus(*status);
      break;
    }
    if (wayland_display_.empty() || ipc_socket_.empty()) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(runtime_dir_, error)) {
        const std::string name = entry.path().filename();
        if (name.starts_with("wayland-") && !name.ends_with(".lock")) wayland_display_ = name;
        if (name.starts_with("sway-ipc.") && name.ends_with(".sock")) ipc_socket_ = entry.path();
      }
    } else if (Query("get_outputs").output.find("HEADLESS-1") != std::string::npos) {
      return;
    }
    if (Clock::now() > deadline) {
      failure = "sway did not come up within " + std::to_string(startup_timeout.count()) + " ms";
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  const std::string log = Log();
  Stop();
  throw std::runtime_error(failure + "; its log:\n" + log);
}

HeadlessSway::~HeadlessSway() { Stop(); }

void HeadlessSway::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (!WaitForPid(pid_, 3s)) {
      kill(pid_, SIGKILL);
      WaitForPid(pid_, 10s);
    }
    pid_ = -1;
  }
  if (log_fd_ >= 0) close(log_fd_);
  log_fd_ = -1;
  for (const std::string& dir : {runtime_dir_, client_dir_}) {
    std::error_code ignored;
    if (!dir.empty()) fs::remove_all(dir, ignored);
  }
}

std::vector<EnvChange> HeadlessSway::ClientEnvironment() const {
  return {
      {"XDG_RUNTIME_DIR", client_dir_},
      {"WAYLAND_DISPLAY", socket_path()},
      // libwayland would take an inherited socket over WAYLAND_DISPLAY.
      {"WAYLAND_SOCKET", std::nullopt},
      {"SWAYSOCK", ipc_socket_},
      {"XDG_SESSION_TYPE", "wayland"},
      // Unset: the program picks Qt's Wayland platform by itself.
      {"QT_QPA_PLATFORM", std::nullopt},
      {"DISPLAY", std::nullopt},
  };
}

SwayReply HeadlessSway::Run(std::vector<std::string> argv) const {
  SpawnOptions options;
  options.argv = std::move(argv);
  options.env = ClientEnvironment();
  const int out = TempFile();
  options.stdout_fd = out;
  options.stderr_fd = out;
  SwayReply reply;
  try {
    const pid_t pid = Spawn(options);
    auto status = WaitForPid(pid, 10s);
    if (!status) {
      kill(pid, SIGKILL);
      WaitForPid(pid, 10s);
      reply.output = options.argv[0] + " hung: ";
    } else {
      reply.ok = WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }
  } catch (...) {
    close(out);
    throw;
  }
  reply.output += ReadTail(out, 1 << 24);
  close(out);
  return reply;
}

SwayReply HeadlessSway::Msg(const std::string& command) const {
  return Run({"swaymsg", "-s", ipc_socket_, command});
}

SwayReply HeadlessSway::Query(const std::string& type) const {
  return Run({"swaymsg", "-s", ipc_socket_, "-t", type});
}

bool HeadlessSway::WindowExists(const std::string& title) const {
  const SwayReply tree = Query("get_tree");
  if (!tree.ok) throw std::runtime_error("swaymsg -t get_tree failed: " + tree.output);
  return tree.output.find("\"name\": " + JsonString(title)) != std::string::npos;
}

bool HeadlessSway::FocusWindow(const std::string& title) const {
  return Msg("[title=\"" + ExactRegex(title) + "\"] focus").ok;
}

void HeadlessSway::Screenshot(const std::string& path) const {
  const SwayReply reply = Run({"grim", path});
  if (!reply.ok) throw std::runtime_error("grim " + path + " failed: " + reply.output);
}

std::string HeadlessSway::Log() const { return log_fd_ >= 0 ? ReadTail(log_fd_, 4096) : ""; }

}  // namespace tollmere::e2e
