#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "pathlist/path_list.h"

namespace clipfiles {

// Loops over short writes and interruptions. A non-blocking descriptor inherited from the
// caller is waited on rather than treated as an error. A reader that has gone raises SIGPIPE,
// whose default action ends the process as a pipeline expects.
void writeStandardOutput(std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, data.data(), data.size());
    if (written >= 0) {
      data.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&out, 1, -1);
      continue;
    }
    throw OutputError(std::string("cannot write to standard output: ") + std::strerror(errno));
  }
}

// Loops over short writes and interruptions; on any other error there is nowhere left to say so.
void writeStandardError(std::string_view line) {
  while (!line.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    if (written >= 0) {
      line.remove_prefix(static_cast<std::size_t>(written));
    } else if (errno != EINTR) {
      return;
    }
  }
}

}  // namespace clipfiles
