// The platform readers behind readFileURLs. Each is compiled only where its platform exists.
#pragma once

#include <optional>
#include <vector>

#include "pathlist/path_list.h"

namespace clipfiles {

std::optional<std::vector<FileURL>> readPasteboardFileURLs();  // macOS general pasteboard
std::optional<std::vector<FileURL>> readX11FileURLs();         // X11 CLIPBOARD selection
std::optional<std::vector<FileURL>> readWindowsFileURLs();     // Windows clipboard, CF_HDROP

}  // namespace clipfiles
