// Standard output on Windows. WriteFile on the standard output handle sends the bytes as they
// are: the C runtime's text mode, which would turn "\n" into "\r\n", never applies. It also
// reports the system's own error, which the C runtime would blur into EINVAL for a closed pipe.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "pathlist/path_list.h"
#include "tool/failure.h"

namespace clipfiles {
namespace {

std::string describeWriteError(DWORD error) {
  switch (error) {
    case ERROR_INVALID_HANDLE: return "it is not open";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:             // Windows: the reader has closed its end
    case ERROR_PIPE_NOT_CONNECTED:  // Wine: the same
      return "the program reading it has closed the pipe";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "no space left on the device";
    default: return "Windows error " + std::to_string(error);
  }
}

}  // namespace

void writeStandardOutput(std::string_view data) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) {
    throw Failure(ExitStatus::ioError, "cannot write to standard output: it is not open");
  }
  constexpr std::size_t chunkLimit = std::size_t{1} << 30;  // WriteFile counts in a DWORD
  while (!data.empty()) {
    const auto chunk = static_cast<DWORD>(std::min(data.size(), chunkLimit));
    DWORD written = 0;
    if (WriteFile(output, data.data(), chunk, &written, nullptr) == 0) {
      throw Failure(ExitStatus::ioError,
                    "cannot write to standard output: " + describeWriteError(GetLastError()));
    }
    // Nothing taken and no error, as the C runtime also reads it: the device is full.
    if (written == 0) {
      throw Failure(ExitStatus::ioError,
                    "cannot write to standard output: " + describeWriteError(ERROR_DISK_FULL));
    }
    data.remove_prefix(written);
  }
}

}  // namespace clipfiles
