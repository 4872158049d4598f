#include "clipboard/clipboard.h"

#include "clipboard/backends.h"

namespace clipfiles {

// The one place where the platform's reader is chosen.
std::optional<std::vector<FileURL>> readFileURLs() {
#if defined(__APPLE__)
  return readPasteboardFileURLs();
#elif defined(_WIN32)
  return readWindowsFileURLs();
#else
  return readX11FileURLs();
#endif
}

}  // namespace clipfiles
