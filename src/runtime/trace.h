#pragma once

#include <string>

namespace tollmere::runtime {

// With --trace the program writes what a user would see and feel to standard
// error, one line each, stamped with the monotonic clock in milliseconds so a
// recorder in another process can line them up with its own:
//   trace 12345.678 caption "Starting in 3"
//   trace 12345.678 key-down 32
void EnableTrace(bool on);
void Trace(const std::string& event);

// Double quotes and backslashes escaped, so each line parses back.
std::string Quoted(const std::string& text);

}  // namespace tollmere::runtime
