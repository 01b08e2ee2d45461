#pragma once

#include <stdexcept>
#include <string>

namespace tollmere::runtime {

// Error numbers the program can raise. The values are stable so a user who
// reports "error 6" means the same thing in every version.
enum class ErrorNumber : int {
  kOverflow = 6,
  kInvalidPropertyValue = 380,
  kKeystrokeFacilityUnavailable = 453,
  kKeyNotOnKeyboard = 454,
  kInternal = 51,
};

class Error : public std::runtime_error {
 public:
  Error(ErrorNumber number, const std::string& message);

  ErrorNumber number() const noexcept { return number_; }
  int code() const noexcept { return static_cast<int>(number_); }

 private:
  ErrorNumber number_;
};

// The error that checked arithmetic and narrowing raise.
[[noreturn]] void RaiseOverflow();

// "Error 6: Overflow" — how an error is named to the user.
std::string Describe(const Error& error);

}  // namespace tollmere::runtime
