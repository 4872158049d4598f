// Failures that end a run, and the exit statuses they end it with.
#pragma once

#include <stdexcept>
#include <string>

namespace clipfiles {

// Exit statuses follow sysexits(3), so scripts can tell the causes apart.
enum class ExitStatus : int {
  success = 0,
  dataError = 65,    // the clipboard's file list cannot be written as JSON, or is too large
  unavailable = 69,  // no clipboard can be reached: no display, or one that shares no clipboard
  software = 70,     // an internal error, such as running out of memory
  ioError = 74,      // the display connection broke, or standard output cannot be written
  tempFail = 75,     // the clipboard's owner stopped answering; trying again may work
};

// An error that ends the run: main prints its message on standard error and exits with its status.
class Failure : public std::runtime_error {
 public:
  Failure(ExitStatus status, const std::string& message)
      : std::runtime_error(message), status_(status) {}

  [[nodiscard]] ExitStatus status() const noexcept { return status_; }

 private:
  ExitStatus status_;
};

}  // namespace clipfiles
