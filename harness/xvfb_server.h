#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace tollmere::e2e {

// A private Xvfb on a display number of its own choosing (-displayfd), ready
// for connections when the constructor returns (it throws otherwise). The
// destructor ends and reaps it; the server also dies if we do.
class XvfbServer {
 public:
  explicit XvfbServer(std::chrono::milliseconds startup_timeout = std::chrono::seconds(15));
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  int number() const { return number_; }
  // Not ":" + ...: g++ 12 -O3 warns (-Wrestrict) about its own code for that.
  std::string name() const { return std::string(":").append(std::to_string(number_)); }
  pid_t pid() const { return pid_; }

  // Ends the server abruptly, as a crash would, and reaps it.
  void Kill();

 private:
  std::string LogTail() const;

  pid_t pid_ = -1;
  int number_ = -1;
  int log_fd_ = -1;
};

}  // namespace tollmere::e2e
