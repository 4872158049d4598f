// The platform readers behind readFileURLs. Each is compiled only where its platform exists.
#pragma once

#include <optional>
#include <vector>

#include "pathlist/path_list.h"

namespace clipfiles {

std::optional<FileURLList> readPasteboardFileURLs();  // macOS general pasteboard
std::optional<FileURLList> readX11FileURLs();         // X11 CLIPBOARD selection
std::optional<FileURLList> readWindowsFileURLs();     // Windows clipboard, CF_HDROP

// How far a Wayland read got: the selection was read, or why it could not be.
enum class WaylandAccess {
  read,
  notSet,         // WAYLAND_DISPLAY is not set
  unreachable,    // no compositor answers at WAYLAND_DISPLAY
  noDataControl,  // the compositor opens its clipboard to no client without a window
};
struct WaylandRead {
  WaylandAccess access;
  std::optional<FileURLList> urls;  // when read
};
WaylandRead readWaylandFileURLs();  // Wayland compositor with data-control

}  // namespace clipfiles
