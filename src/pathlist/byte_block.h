// Sixteen bytes looked at together, so that the codecs pass over long runs of plain text a
// block at a time rather than byte by byte.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace clipfiles {

// A mask has bit i set for byte i of the block.
using ByteMask = std::uint32_t;

#if defined(__SSE2__)

// Every x86-64 processor has SSE2.
class ByteBlock {
 public:
  static constexpr std::size_t size = 16;

  explicit ByteBlock(const char* bytes)
      : bytes_(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes))) {}

  [[nodiscard]] ByteMask equal(char c) const {
    return mask(_mm_cmpeq_epi8(bytes_, _mm_set1_epi8(c)));
  }
  // The bytes below 0x20: NUL and the other C0 controls.
  [[nodiscard]] ByteMask control() const {
    return mask(_mm_cmpeq_epi8(_mm_min_epu8(bytes_, _mm_set1_epi8(0x1f)), bytes_));
  }
  // The control bytes and those from 0x80 up, in one comparison: signed, they are all below 0x20.
  [[nodiscard]] ByteMask controlOrNonAscii() const {
    return mask(_mm_cmplt_epi8(bytes_, _mm_set1_epi8(0x20)));
  }

 private:
  static ByteMask mask(__m128i flags) { return static_cast<ByteMask>(_mm_movemask_epi8(flags)); }

  __m128i bytes_;
};

#else

// Two 64-bit words, each byte's answer in its top bit, gathered into a mask by multiplying.
// Each test is exact for every byte, as no addition carries from one byte into the next.
class ByteBlock {
 public:
  static constexpr std::size_t size = 16;

  static_assert(std::endian::native == std::endian::little, "byte i is bits 8i to 8i+7");

  explicit ByteBlock(const char* bytes) { std::memcpy(words_, bytes, sizeof words_); }

  [[nodiscard]] ByteMask equal(char c) const {
    const Word pattern = ones * static_cast<unsigned char>(c);
    return mask([&](Word w) { return zero(w ^ pattern); });
  }
  [[nodiscard]] ByteMask control() const {
    return mask([](Word w) { return ~((w & low7) + ones * 0x60) & ~w & tops; });
  }
  [[nodiscard]] ByteMask controlOrNonAscii() const {
    return mask([](Word w) { return (~((w & low7) + ones * 0x60) | w) & tops; });
  }

 private:
  using Word = std::uint64_t;
  static constexpr Word ones = 0x0101010101010101;
  static constexpr Word tops = 0x8080808080808080;
  static constexpr Word low7 = 0x7f7f7f7f7f7f7f7f;

  // The top bit of each byte that is zero.
  static Word zero(Word w) { return ~(((w & low7) + low7) | w) & tops; }
  // Eight top bits into the low eight bits of a mask.
  static ByteMask gather(Word tops) {
    return static_cast<ByteMask>(((tops >> 7) * 0x0102040810204080) >> 56);
  }
  template <typename Test>
  [[nodiscard]] ByteMask mask(Test test) const {
    return gather(test(words_[0])) | gather(test(words_[1])) << 8;
  }

  Word words_[2]{};
};

#endif

// The index of the first byte a non-zero mask marks.
inline unsigned firstByte(ByteMask mask) {
  return static_cast<unsigned>(std::countr_zero(mask));
}

}  // namespace clipfiles
