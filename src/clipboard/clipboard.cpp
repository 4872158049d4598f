#include "clipboard/clipboard.h"

#include <cstdlib>
#include <string>

#include "clipboard/backends.h"
#include "tool/failure.h"

namespace clipfiles {

// This file is the one place where the platform's reader is chosen.

#if defined(__APPLE__) || defined(CLIPFILES_PASTEBOARD_READER)

std::optional<FileURLList> readFileURLs() {
  return readPasteboardFileURLs();
}

#elif defined(_WIN32)

std::optional<FileURLList> readFileURLs() {
  return readWindowsFileURLs();
}

#else

namespace {

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

// A Wayland session's own clipboard comes first, when its compositor opens it through
// data-control; X11 otherwise, which also serves Wayland desktops whose compositor mirrors the
// clipboard to XWayland (GNOME).
std::optional<FileURLList> readFileURLs() {
  WaylandRead wayland = readWaylandFileURLs();
  if (wayland.access == WaylandAccess::read) return std::move(wayland.urls);
  if (isSet("DISPLAY")) return readX11FileURLs();

  const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
  const std::string name = waylandDisplay != nullptr ? waylandDisplay : "";
  switch (wayland.access) {
    case WaylandAccess::unreachable:
      throw Failure(ExitStatus::unavailable, "cannot connect to the Wayland display \"" + name +
                                                 "\", and DISPLAY is not set for X11");
    case WaylandAccess::noDataControl:
      throw Failure(ExitStatus::unavailable,
                    "the Wayland compositor at \"" + name +
                        "\" does not let programs without a window read the clipboard (it has no "
                        "data-control protocol), and DISPLAY is not set for X11");
    default:
      throw Failure(ExitStatus::unavailable,
                    "no display to read the clipboard from: neither WAYLAND_DISPLAY nor DISPLAY "
                    "is set");
  }
}

#endif

}  // namespace clipfiles
