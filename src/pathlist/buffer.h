// A byte buffer for results of many megabytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace clipfiles {

// Room for up to `capacity` bytes, of which the first size() hold data. The room is not
// initialised, and a large buffer starts on a huge-page boundary and asks the kernel for
// transparent huge pages: filling megabytes then costs a handful of page faults rather than
// thousands, which is most of the time a large clipboard takes otherwise.
class LargeBuffer {
 public:
  LargeBuffer() = default;
  explicit LargeBuffer(std::size_t capacity);

  [[nodiscard]] char* data() { return data_; }
  [[nodiscard]] const char* data() const { return data_; }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] std::size_t capacity() const { return capacity_; }
  [[nodiscard]] std::string_view view() const { return {data_, size_}; }

  // Marks the first `size` bytes, at most capacity(), as data.
  void setSize(std::size_t size) { size_ = size; }
  // Copies `bytes` after the data; they must fit in the capacity.
  void append(std::string_view bytes);
  // Makes room for at least `needed` bytes in all, keeping the data: the capacity doubles as
  // often as that takes, but goes no further than `limit`.
  void grow(std::size_t needed, std::size_t limit);

 private:
  std::unique_ptr<char[]> block_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace clipfiles
