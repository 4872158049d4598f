#include "clipboard/clipboard.h"

#include "clipboard/backends.h"

namespace clipfiles {

// The one place where the platform's reader is chosen.
std::optional<std::vector<FileURL>> readFileURLs() {
#if defined(__APPLE__) || defined(CLIPFILES_PASTEBOARD_READER)
  return readPasteboardFileURLs();
#else
  return readX11FileURLs();
#endif
}

}  // namespace clipfiles
