// Reading the file URLs that the user copied.
#pragma once

#include <optional>
#include <vector>

#include "pathlist/path_list.h"

namespace clipfiles {

// The file URLs on the desktop's clipboard, in the clipboard's order. Nothing when the clipboard
// holds something other than a well-formed file list. Never changes the clipboard. Throws Failure
// when there is no clipboard to read, or its owner fails to deliver.
std::optional<FileURLList> readFileURLs();

}  // namespace clipfiles
