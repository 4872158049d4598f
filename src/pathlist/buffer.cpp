#include "pathlist/buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace clipfiles {
namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;

}  // namespace

LargeBuffer::LargeBuffer(std::size_t capacity) : capacity_(capacity) {
#if defined(MADV_HUGEPAGE)
  if (capacity >= hugePage) {
    // The slack lets the data start on a huge-page boundary and end within whole huge pages,
    // so that every page it fills can be a huge one.
    const std::size_t pages = (capacity + hugePage - 1) & ~(hugePage - 1);
    block_ = std::make_unique_for_overwrite<char[]>(pages + hugePage);
    const auto start = reinterpret_cast<std::uintptr_t>(block_.get());
    data_ = block_.get() + (hugePage - start % hugePage) % hugePage;
    ::madvise(data_, pages, MADV_HUGEPAGE);
    return;
  }
#endif
  block_ = std::make_unique_for_overwrite<char[]>(capacity);
  data_ = block_.get();
}

void LargeBuffer::grow(std::size_t needed, std::size_t limit) {
  if (needed <= capacity_) return;
  std::size_t capacity = std::max<std::size_t>(capacity_, 1);
  while (capacity < needed) capacity *= 2;
  LargeBuffer larger(std::max(needed, std::min(capacity, limit)));
  larger.append(view());
  *this = std::move(larger);
}

void LargeBuffer::append(std::string_view bytes) {
  if (!bytes.empty()) std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
}

}  // namespace clipfiles
