#include "session/session_bus.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace tollmere::session {

namespace {

// libdbus gives the daemon no deadline when it connects: with a stopped
// daemon it waits for ever, and Qt's one D-Bus thread with it, so every later
// use of the bus, and the program's exit, would wait too. Connecting from a
// thread we give up on therefore does not help; asking the daemon ourselves
// first, with a deadline, does, for one round trip on a local socket.

std::string silence;

// A value of a D-Bus address with its %XX escapes undone.
std::string Unescaped(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    unsigned char byte = 0;
    const char* hex = value.data() + i + 1;
    if (value[i] == '%' && i + 2 < value.size() &&
        std::from_chars(hex, hex + 2, byte, 16).ptr == hex + 2) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

// The socket that one entry of a D-Bus address names, if it is a local one:
// "unix:path=/run/user/1000/bus" or "unix:abstract=/tmp/dbus-x,guid=...".
std::optional<std::pair<sockaddr_un, socklen_t>> UnixSocket(std::string_view entry) {
  constexpr std::string_view kUnix = "unix:";
  if (!entry.starts_with(kUnix)) return std::nullopt;
  entry.remove_prefix(kUnix.size());
  while (!entry.empty()) {
    const std::size_t comma = entry.find(',');
    const std::string_view pair = entry.substr(0, comma);
    entry = comma == std::string_view::npos ? std::string_view() : entry.substr(comma + 1);
    const std::size_t equals = pair.find('=');
    const std::string_view key = pair.substr(0, equals);
    if (equals == std::string_view::npos || (key != "path" && key != "abstract")) continue;
    const std::string name = Unescaped(pair.substr(equals + 1));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // An abstract name starts with a nul byte.
    const std::size_t start = key == "abstract" ? 1 : 0;
    if (start + name.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path + start, name.data(), name.size());
    return std::pair{address,
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + start + name.size())};
  }
  return std::nullopt;
}

enum class Answer { kYes, kNo, kUnknown };

// Whether the daemon at `address` answers within `within`. kUnknown when it
// names no local socket that takes a connection: then libdbus fails at once
// too, or it connects in a way this cannot ask (tcp, autolaunch).
Answer Ask(std::string_view address, std::chrono::milliseconds within) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (!address.empty()) {
    const std::size_t semicolon = address.find(';');
    const auto socket_address = UnixSocket(address.substr(0, semicolon));
    address =
        semicolon == std::string_view::npos ? std::string_view() : address.substr(semicolon + 1);
    if (!socket_address) continue;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Answer::kUnknown;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&socket_address->first),
                socket_address->second) != 0) {
      const int error = errno;
      close(fd);
      // Its queue of connections is full: it is not taking them.
      if (error == EAGAIN) return Answer::kNo;
      continue;
    }
    // The opening nul byte and a bare AUTH ask which ways of authenticating
    // the daemon offers; a working one replies at once, whoever asks.
    static constexpr char kQuestion[] = "\0AUTH\r\n";
    constexpr auto kSize = static_cast<ssize_t>(sizeof kQuestion - 1);
    Answer answer = Answer::kUnknown;
    if (send(fd, kQuestion, kSize, MSG_NOSIGNAL) == kSize) {
      pollfd reply{fd, POLLIN, 0};
      int ready = 0;
      do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ready = poll(&reply, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
      } while (ready < 0 && errno == EINTR);
      // A reply, or hanging up, shows that it runs.
      answer = ready > 0 ? Answer::kYes : Answer::kNo;
    }
    close(fd);
    return answer;
  }
  return Answer::kUnknown;
}

}  // namespace

std::string AvoidSilentSessionBus() {
  // Where libdbus looks when the variable is not set, short of autolaunch.
  std::string address;
  if (const char* set = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    address = set;
  } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
    address = std::string("unix:path=") + runtime + "/bus";
  }
  if (Ask(address, std::chrono::milliseconds(kBusAnswerWithinMs)) != Answer::kNo) return {};
  // An address libdbus refuses at once, for Qt's connections as for ours.
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  silence =
      "the session bus did not answer within " + std::to_string(kBusAnswerWithinMs / 1000) + " s";
  return silence;
}

const std::string& SessionBusSilence() { return silence; }

bool SessionBusDisabled() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address != nullptr && std::string_view(address) == "disabled:";
}

QDBusConnection SessionBus() { return QDBusConnection::sessionBus(); }

}  // namespace tollmere::session
