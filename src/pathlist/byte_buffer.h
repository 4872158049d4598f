// Room for bytes built in place, for lists and texts of many megabytes.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace clipfiles {

// The room is not initialised, so that only the bytes written are ever touched. On Linux a
// large room asks the kernel for transparent huge pages, so that filling megabytes costs a
// handful of page faults rather than thousands: with a list of 100,000 files, a third of the
// run.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::size_t capacity) { grow(capacity, 0); }

  [[nodiscard]] char* data() { return bytes_.get(); }
  [[nodiscard]] const char* data() const { return bytes_.get(); }
  [[nodiscard]] std::size_t capacity() const { return capacity_; }

  // Makes room for at least `capacity` bytes in all, keeping the first `used`. Growing at
  // least doubles the room, so that growing piece by piece takes few steps. Throws
  // std::bad_alloc without the memory.
  void reserve(std::size_t capacity, std::size_t used) {
    if (capacity > capacity_) grow(capacity, used);
  }

 private:
  void grow(std::size_t capacity, std::size_t used);

  struct Free {
    void operator()(char* bytes) const noexcept { std::free(bytes); }
  };
  std::unique_ptr<char, Free> bytes_;
  std::size_t capacity_ = 0;
};

}  // namespace clipfiles
