// Failures that end a run, and the exit statuses they end it with.
#pragma once

#include <stdexcept>
#include <string>

namespace clipfiles {

// The exit statuses, from the list that the man page is made from too.
enum class ExitStatus : int {
#define CLIPFILES_EXIT_STATUS(name, value, cause) name = (value),
#include "tool/exit_statuses.def"
#undef CLIPFILES_EXIT_STATUS
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
