// The file URLs a clipboard reader hands over, each as the path it names.
#pragma once

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "pathlist/byte_buffer.h"

namespace clipfiles {

// The paths of the clipboard's file URLs, in the clipboard's order, duplicates kept: the
// file-system paths with percent-escapes decoded, as raw bytes. They lie back to back in one
// buffer, each ended by a NUL, which no path can hold: a list of a million files costs a
// million bytes beyond its paths, and no array of entries.
class FileURLPaths {
 public:
  FileURLPaths() = default;
  // From `count` paths already joined that way in the first `size` bytes of `joined`, as a
  // decoder builds them.
  FileURLPaths(ByteBuffer joined, std::size_t size, std::size_t count)
      : joined_(std::move(joined)), bytes_(size), count_(count) {}

  // Adds `path` at the end. Throws std::invalid_argument if it holds a NUL.
  void add(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
      throw std::invalid_argument("a file path holds a NUL byte");
    }
    joined_.reserve(bytes_ + path.size() + 1, bytes_);
    if (!path.empty()) std::memcpy(joined_.data() + bytes_, path.data(), path.size());
    bytes_ += path.size();
    joined_.data()[bytes_++] = '\0';
    ++count_;
  }

  // Every path followed by its NUL.
  [[nodiscard]] std::string_view joined() const { return {joined_.data(), bytes_}; }
  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }

 private:
  ByteBuffer joined_;
  std::size_t bytes_ = 0;
  std::size_t count_ = 0;
};

}  // namespace clipfiles
