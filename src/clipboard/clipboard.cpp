#include "clipboard/clipboard.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "clipboard/backends.h"

namespace clipfiles {

// This file is the one place where the platform's reader is chosen.

#if defined(__APPLE__) || defined(CLIPFILES_PASTEBOARD_READER)

std::optional<FileURLPaths> readFileURLs() {
  return readPasteboardFileURLs();
}

#elif defined(_WIN32)

std::optional<FileURLPaths> readFileURLs() {
  return readWindowsFileURLs();
}

#else

namespace {

ClipboardError unavailable(const std::string& message) {
  return {ClipboardError::Cause::unavailable, message};
}

}  // namespace

// A Wayland session's own clipboard comes first, when its compositor opens it through
// data-control; X11 otherwise, which also serves Wayland desktops whose compositor mirrors the
// clipboard to XWayland (GNOME). With neither display named, as in a program started outside
// the session's environment, the default Wayland display is tried, as libwayland and wl-paste
// do. Every reader keeps to the one deadline of the whole read.
std::optional<FileURLPaths> readFileURLs() {
  const ReadDeadline deadline;
  WaylandRead wayland = readWaylandFileURLs(deadline, WaylandDisplay::named);
  if (wayland.access == WaylandAccess::read) return std::move(wayland.urls);
  const char* x11Display = std::getenv("DISPLAY");
  if (x11Display != nullptr && *x11Display != '\0') return readX11FileURLs(deadline);

  const std::string noDisplay =
      "no display to read the clipboard from: neither WAYLAND_DISPLAY nor DISPLAY is set";
  if (wayland.access == WaylandAccess::notSet) {
    wayland = readWaylandFileURLs(deadline, WaylandDisplay::fallback);
    if (wayland.access == WaylandAccess::read) return std::move(wayland.urls);
    if (wayland.access == WaylandAccess::unreachable) {
      throw unavailable(noDisplay + ", and no compositor answers at " + wayland.where);
    }
  }
  const std::string noX11 = ", and DISPLAY is not set for X11";
  switch (wayland.access) {
    case WaylandAccess::unreachable:
      throw unavailable("cannot connect to " + wayland.where + noX11);
    case WaylandAccess::noDataControl:
      throw unavailable("the compositor at " + wayland.where +
                        " does not let programs without a window read the clipboard (it has no "
                        "data-control protocol)" +
                        noX11);
    case WaylandAccess::noLibrary:
      throw unavailable("cannot load libwayland-client.so.0, which reading " + wayland.where +
                        " needs: " + wayland.libraryError + noX11);
    case WaylandAccess::noSeat:
      throw unavailable("the compositor at " + wayland.where +
                        " has no seat, so it has no clipboard" + noX11);
    default: throw unavailable(noDisplay);
  }
}

#endif

}  // namespace clipfiles
