// The platform readers behind readFileURLs. Each is compiled only where its platform exists.
#pragma once

#include <optional>
#include <string>

#include "clipboard/limits.h"

namespace clipfiles {

std::optional<FileURLPaths> readPasteboardFileURLs();  // macOS general pasteboard
std::optional<FileURLPaths> readX11FileURLs(const ReadDeadline& deadline);  // X11 CLIPBOARD
std::optional<FileURLPaths> readWindowsFileURLs();  // Windows clipboard, CF_HDROP

// How far a Wayland read got: the selection was read, or why it could not be.
enum class WaylandAccess {
  read,
  notSet,         // neither WAYLAND_SOCKET nor WAYLAND_DISPLAY is set (nor XDG_RUNTIME_DIR, for
                  // the default display)
  unreachable,    // no compositor answers there
  noDataControl,  // the compositor opens its clipboard to no client without a window
  noSeat,         // the compositor has no seat, and so no clipboard
  noLibrary,      // libwayland-client cannot be loaded
};
struct WaylandRead {
  WaylandAccess access;
  std::optional<FileURLPaths> urls;  // when read
  std::string where;                 // the compositor, for messages: the Wayland display "NAME"
  std::string libraryError;          // why libwayland-client cannot be loaded
};
// Which compositor to read: the one that WAYLAND_SOCKET or WAYLAND_DISPLAY names, or, for a
// program started outside the session's environment (a user service, cron), libwayland's
// default display, wayland-0 in XDG_RUNTIME_DIR.
enum class WaylandDisplay { named, fallback };
// The selection of a compositor with data-control.
WaylandRead readWaylandFileURLs(const ReadDeadline& deadline, WaylandDisplay which);

}  // namespace clipfiles
