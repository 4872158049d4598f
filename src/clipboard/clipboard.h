// Reading the file URLs that the user copied.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "pathlist/file_urls.h"

namespace clipfiles {

// Why the clipboard could not be read.
class ClipboardError : public std::runtime_error {
 public:
  enum class Cause {
    unavailable,     // there is no clipboard to read: no display, no server, no way in
    connectionLost,  // the connection to the display, or the data's pipe, broke
    timedOut,        // the clipboard's owner or the server did not answer in time
    contended,       // other programs held or kept taking the clipboard during the read
    badData,         // the owner sent the list in a form no file list takes
    tooLarge,        // the owner sent more than any file list holds
  };

  ClipboardError(Cause cause, const std::string& message)
      : std::runtime_error(message), cause_(cause) {}

  [[nodiscard]] Cause cause() const noexcept { return cause_; }

 private:
  Cause cause_;
};

// The file URLs on the desktop's clipboard, in the clipboard's order. Nothing when the clipboard
// holds something other than a well-formed file list. Never changes the clipboard. Throws
// ClipboardError when there is no clipboard to read, or its owner fails to deliver.
std::optional<FileURLPaths> readFileURLs();

}  // namespace clipfiles
