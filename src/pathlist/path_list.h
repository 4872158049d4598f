// From the clipboard's file URLs to the bytes the tool prints.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "pathlist/byte_buffer.h"
#include "pathlist/file_urls.h"

namespace clipfiles {

// One path per URL, same order, duplicates kept: a view of the URLs' own bytes, which must
// outlive it.
class PathList {
 public:
  explicit PathList(const FileURLPaths& urls) : joined_(urls.joined()), size_(urls.size()) {}

  // Every path followed by a NUL.
  [[nodiscard]] std::string_view joined() const { return joined_; }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  std::string_view joined_;
  std::size_t size_;
};

PathList makePathList(const FileURLPaths& urls);

// A path that JSON text cannot carry, as it is not valid UTF-8.
class InvalidPathError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// UTF-8 JSON text: the first `size` bytes of the buffer it was built in.
struct JsonText {
  ByteBuffer bytes;
  std::size_t size = 0;

  [[nodiscard]] std::string_view view() const { return {bytes.data(), size}; }
};

// The compact JSON array of the paths, with every "/" written as "\/" and no byte after "]".
// Throws InvalidPathError if a path is not valid UTF-8.
JsonText encodePathList(const PathList& paths);

// `text` as one printable line for a message, such as a path or a name from the clipboard:
// well-formed UTF-8 as it is, other bytes and control characters as \xHH escapes, and "\" as
// "\\", so that it keeps to one line and cannot control the terminal.
std::string printableText(std::string_view text);

// Standard output that cannot be written.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes all of `data` to standard output. Throws OutputError if it cannot.
void writeStandardOutput(std::string_view data);
// Writes `line` to standard error as well as it can; a failure to write is ignored.
void writeStandardError(std::string_view line);

}  // namespace clipfiles
