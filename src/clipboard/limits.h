// The bounds every clipboard reader keeps, so that a misbehaving owner can neither hang the
// tool nor make it grow without end.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "tool/failure.h"

namespace clipfiles {

// An owner that sends nothing for this long has stopped answering.
inline constexpr auto idleLimit = std::chrono::seconds(2);
// No file list comes near this; a larger transfer is a runaway owner.
inline constexpr std::size_t sizeLimit = std::size_t{256} << 20;

// `what` the owner failed to do, e.g. "did not answer".
[[noreturn]] inline void throwOwnerSilent(const std::string& what) {
  throw Failure(ExitStatus::tempFail, "the program that owns the clipboard " + what + " within " +
                                          std::to_string(idleLimit.count()) + " seconds");
}

[[noreturn]] inline void throwTooLarge() {
  throw Failure(ExitStatus::dataError, "the clipboard holds more than " +
                                           std::to_string(sizeLimit >> 20) +
                                           " MiB of file-list data");
}

}  // namespace clipfiles
