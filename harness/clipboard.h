#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tollmere::e2e {

class XConnection;

// Owns the CLIPBOARD and PRIMARY selections with a text of ours, so a paste
// can put text into the program that typing through XTest cannot produce
// (line feeds, non-ASCII) or that would take too long to type. The owner
// answers only while Serve runs: paste, then serve until the paste shows.
class ClipboardOwner {
 public:
  explicit ClipboardOwner(const std::string& display_name);
  ~ClipboardOwner();
  ClipboardOwner(const ClipboardOwner&) = delete;
  ClipboardOwner& operator=(const ClipboardOwner&) = delete;

  // Takes both selections, offering `utf8` as text.
  void Offer(const std::string& utf8);

  // Answers selection requests until `done` returns true or `timeout`
  // passes; returns the last answer of `done`.
  bool Serve(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Requests for the text itself (not for the list of targets) answered so far.
  int texts_served() const { return texts_served_; }

 private:
  void Answer(const void* request);

  std::unique_ptr<XConnection> x_;
  unsigned long window_ = 0;
  std::string text_;
  int texts_served_ = 0;
};

}  // namespace tollmere::e2e
