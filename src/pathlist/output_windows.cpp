// Standard output and standard error on Windows. To a pipe or a file, WriteFile sends the bytes
// as they are: the C runtime's text mode, which would turn "\n" into "\r\n", never applies. It
// also reports the system's own error, which the C runtime would blur into EINVAL for a closed
// pipe. A console would show those bytes in its code page, not as UTF-8, so text for a console
// goes to it as UTF-16 through WriteConsoleW.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "pathlist/path_list.h"

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

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// Writes UTF-8 `text` to `console` as UTF-16, a piece at a time so that neither a large write
// nor its conversion needs memory of its own. Each piece ends between characters. The error
// is left for GetLastError if the console refuses.
bool writeConsole(HANDLE console, std::string_view text) {
  constexpr std::size_t pieceLimit = 8192;
  // One UTF-16 unit at most for each byte of UTF-8.
  std::array<wchar_t, pieceLimit> wide{};
  while (!text.empty()) {
    std::size_t piece = std::min(text.size(), pieceLimit);
    // Back off the continuation bytes (10xxxxxx) of a character cut in two: at most three.
    for (int back = 0; back < 3 && piece < text.size() &&
                       (static_cast<unsigned char>(text[piece]) & 0xc0) == 0x80;
         ++back) {
      --piece;
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(piece),
                                           wide.data(), static_cast<int>(wide.size()));
    if (length <= 0) return false;
    for (auto left = static_cast<DWORD>(length); left > 0;) {
      DWORD written = 0;
      if (WriteConsoleW(console, wide.data() + (length - left), left, &written, nullptr) == 0) {
        return false;
      }
      if (written == 0) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
      }
      left -= written;
    }
    text.remove_prefix(piece);
  }
  return true;
}

// Writes all of `data` to `file`; false with the error for GetLastError if it cannot.
bool writeFile(HANDLE file, std::string_view data) {
  constexpr std::size_t chunkLimit = std::size_t{1} << 30;  // WriteFile counts in a DWORD
  while (!data.empty()) {
    const auto chunk = static_cast<DWORD>(std::min(data.size(), chunkLimit));
    DWORD written = 0;
    if (WriteFile(file, data.data(), chunk, &written, nullptr) == 0) return false;
    // Nothing taken and no error, as the C runtime also reads it: the device is full.
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

// Writes all of `text` to `handle`, as text to a console or as bytes to anything else.
bool writeAll(HANDLE handle, std::string_view text) {
  return isConsole(handle) ? writeConsole(handle, text) : writeFile(handle, text);
}

}  // namespace

void writeStandardOutput(std::string_view data) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) {
    throw OutputError("cannot write to standard output: it is not open");
  }
  if (!writeAll(output, data)) {
    throw OutputError("cannot write to standard output: " + describeWriteError(GetLastError()));
  }
}

void writeStandardError(std::string_view line) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  writeAll(error, line);  // on failure there is nowhere left to say so
}

}  // namespace clipfiles
