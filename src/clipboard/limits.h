// The bounds every clipboard reader keeps, so that a misbehaving owner can neither hang the
// tool nor make it grow without end.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>

#if !defined(_WIN32)
#include <poll.h>
#endif

#include "clipboard/clipboard.h"

namespace clipfiles {

// An owner that sends nothing for this long has stopped answering.
inline constexpr auto idleLimit = std::chrono::seconds(2);
// However steadily an owner keeps sending, a whole read ends by this.
inline constexpr auto readLimit = std::chrono::seconds(30);
// No file list comes near this; a larger transfer is a runaway owner.
inline constexpr std::size_t sizeLimit = std::size_t{256} << 20;

// The time bounds of one read, from its start: each wait ends after the idle limit, and none
// goes past the end of the whole read.
class ReadDeadline {
 public:
  using Clock = std::chrono::steady_clock;

  // When a wait that starts now must end.
  [[nodiscard]] Clock::time_point waitEnd() const {
    return std::min(Clock::now() + idleLimit, end_);
  }
  [[nodiscard]] bool expired() const { return Clock::now() >= end_; }
  // When the whole read must end.
  [[nodiscard]] Clock::time_point end() const { return end_; }

 private:
  Clock::time_point end_ = Clock::now() + readLimit;
};

#if !defined(_WIN32)
// Waits until `fd` has something to read, or is closed, or `waitEnd` passes; false then. Every
// bounded wait of the readers on a socket or a pipe is this one.
inline bool waitUntilReadable(int fd, ReadDeadline::Clock::time_point waitEnd) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(waitEnd - ReadDeadline::Clock::now());
    if (left.count() <= 0) return false;
    pollfd readable{fd, POLLIN, 0};
    // Rounded up, so that a wait never ends early; an interrupted wait goes on.
    if (::poll(&readable, 1, static_cast<int>(left.count())) > 0) return true;
  }
}
#endif

// A wait that ended without what it waited for: the whole read took too long, or `who` ("the
// program that owns the clipboard") failed to do `what` ("did not answer") in its idle limit.
[[noreturn]] inline void throwSilent(const ReadDeadline& deadline, const std::string& who,
                                     const std::string& what) {
  if (deadline.expired()) {
    throw ClipboardError(ClipboardError::Cause::timedOut,
                         who + " did not finish handing over the clipboard within " +
                             std::to_string(readLimit.count()) + " seconds");
  }
  throw ClipboardError(
      ClipboardError::Cause::timedOut,
      who + " " + what + " within " + std::to_string(idleLimit.count()) + " seconds");
}

[[noreturn]] inline void throwOwnerSilent(const ReadDeadline& deadline, const std::string& what) {
  throwSilent(deadline, "the program that owns the clipboard", what);
}

[[noreturn]] inline void throwTooLarge() {
  throw ClipboardError(ClipboardError::Cause::tooLarge, "the clipboard holds more than " +
                                                            std::to_string(sizeLimit >> 20) +
                                                            " MiB of file-list data");
}

}  // namespace clipfiles
