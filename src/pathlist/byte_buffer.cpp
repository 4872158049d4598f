#include "pathlist/byte_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace clipfiles {

void ByteBuffer::grow(std::size_t capacity, std::size_t used) {
  capacity = std::max(capacity, 2 * capacity_);
  char* larger = nullptr;
#if defined(MADV_HUGEPAGE)
  // A large room starts on a huge-page boundary and fills whole huge pages, which the kernel
  // gives only to a range advised so.
  constexpr std::size_t hugePage = std::size_t{2} << 20;
  if (capacity >= hugePage) {
    capacity = (capacity + hugePage - 1) & ~(hugePage - 1);
    larger = static_cast<char*>(std::aligned_alloc(hugePage, capacity));
    if (larger != nullptr) ::madvise(larger, capacity, MADV_HUGEPAGE);
  } else {
    larger = static_cast<char*>(std::malloc(capacity));
  }
#else
  larger = static_cast<char*>(std::malloc(capacity));
#endif
  if (larger == nullptr) throw std::bad_alloc();
  if (used != 0) std::memcpy(larger, bytes_.get(), used);
  bytes_.reset(larger);
  capacity_ = capacity;
}

}  // namespace clipfiles
