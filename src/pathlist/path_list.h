// From the clipboard's file URLs to the bytes the tool prints.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pathlist/buffer.h"

namespace clipfiles {

// A file URL as a clipboard reader hands it over. The tool uses only the path it names: the
// file-system path with percent-escapes decoded, as raw bytes, which the list that holds the
// URL owns.
struct FileURL {
  std::string_view path;
};

// An ordered list of file URLs. It keeps the bytes of their paths back to back in blocks that
// never move, so a clipboard of 100,000 files takes a few allocations rather than one per path.
class FileURLList {
 public:
  // Makes room for `count` URLs whose paths total up to `bytes` bytes.
  void reserve(std::size_t count, std::size_t bytes);
  // Adds a URL naming `path`; the list keeps its own copy of the bytes.
  void add(std::string_view path);

  [[nodiscard]] std::size_t size() const { return urls_.size(); }
  [[nodiscard]] bool empty() const { return urls_.empty(); }
  [[nodiscard]] const FileURL& operator[](std::size_t i) const { return urls_[i]; }
  [[nodiscard]] auto begin() const { return urls_.begin(); }
  [[nodiscard]] auto end() const { return urls_.end(); }

 private:
  // Opens a block of `blockBytes` unless the last one has room for `bytes` more.
  void makeRoom(std::size_t bytes, std::size_t blockBytes);

  std::vector<LargeBuffer> blocks_;
  std::vector<FileURL> urls_;
};

// One path per URL, same order, duplicates kept. The views point into `urls`.
std::vector<std::string_view> makePathList(const FileURLList& urls);

// The compact JSON array of the paths, with every "/" written as "\/" and no byte after "]".
// Throws Failure (dataError) if a path is not valid UTF-8, as JSON text cannot carry it.
LargeBuffer encodePathList(std::span<const std::string_view> paths);

// `text` as one printable line for a message, such as a path or a name from the clipboard:
// well-formed UTF-8 as it is, other bytes and control characters as \xHH escapes, and "\" as
// "\\", so that it keeps to one line and cannot control the terminal.
std::string printableText(std::string_view text);

// Writes all of `data` to standard output. Throws Failure (ioError) if it cannot.
void writeStandardOutput(std::string_view data);
// Writes `line` to standard error as well as it can; a failure to write is ignored.
void writeStandardError(std::string_view line);

}  // namespace clipfiles
