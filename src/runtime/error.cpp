#include "runtime/error.h"

namespace tollmere::runtime {

Error::Error(ErrorNumber number, const std::string& message)
    : std::runtime_error(message), number_(number) {}

void RaiseOverflow() { throw Error(ErrorNumber::kOverflow, "Overflow"); }

std::string Describe(const Error& error) {
  return "Error " + std::to_string(error.code()) + ": " + error.what();
}

}  // namespace tollmere::runtime
