// The JSON writer. No JSON library packaged by Debian writes "/" as "\/", so this small one is
// ours.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "pathlist/byte_block.h"
#include "pathlist/path_list.h"

namespace clipfiles {
namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// Length of the well-formed UTF-8 sequence that starts at text[at], or 0 if none does there.
// Rejects overlong forms, surrogates and code points above U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) -> unsigned {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0x100;
  };
  const auto inRange = [](unsigned b, unsigned low, unsigned high) {
    return b >= low && b <= high;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  if (inRange(lead, 0xc2, 0xdf)) return inRange(byte(1), 0x80, 0xbf) ? 2 : 0;
  if (inRange(lead, 0xe0, 0xef)) {
    const unsigned low = lead == 0xe0 ? 0xa0 : 0x80;
    const unsigned high = lead == 0xed ? 0x9f : 0xbf;
    return inRange(byte(1), low, high) && inRange(byte(2), 0x80, 0xbf) ? 3 : 0;
  }
  if (inRange(lead, 0xf0, 0xf4)) {
    const unsigned low = lead == 0xf0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xf4 ? 0x8f : 0xbf;
    return inRange(byte(1), low, high) && inRange(byte(2), 0x80, 0xbf) &&
                   inRange(byte(3), 0x80, 0xbf)
               ? 4
               : 0;
  }
  return 0;
}

// The escape that JSON text needs for each ASCII byte; length 0 for one that stands for itself.
// Bytes from 0x80 up stand for themselves too, once checked to be well-formed UTF-8.
struct Escape {
  std::uint8_t length;
  std::array<char, 6> text;
};

constexpr std::array<Escape, 0x80> escapes = [] {
  std::array<Escape, 0x80> table{};
  for (std::size_t byte = 0; byte < 0x20; ++byte) {
    table[byte] = {6, {'\\', 'u', '0', '0', hexDigits[byte >> 4], hexDigits[byte & 15]}};
  }
  const auto named = [&](char byte, char name) { table[byte] = {2, {'\\', name}}; };
  named('\b', 'b');
  named('\f', 'f');
  named('\n', 'n');
  named('\r', 'r');
  named('\t', 't');
  named('"', '"');
  named('\\', '\\');
  named('/', '/');
  return table;
}();

// Blocks are taken only while this many bytes are left: an escaped "/" copies a block from
// where it stands, which must lie inside the paths.
constexpr std::size_t blockReach = 2 * ByteBlock::size;
// The room one step of the writer may write into: its text, and what its block copies spill.
constexpr std::size_t stepRoom = 4 * ByteBlock::size;

[[noreturn]] void throwNotUtf8(std::string_view joined, std::size_t at) {
  const std::size_t previousEnd = joined.rfind('\0', at);
  const std::size_t start = previousEnd == std::string_view::npos ? 0 : previousEnd + 1;
  const std::string_view path = joined.substr(start, joined.find('\0', at) - start);
  throw InvalidPathError("cannot write the file list as JSON: the path \"" + printableText(path) +
                         "\" is not valid UTF-8");
}

// The plain bytes of a block up to `run`, with a backslash before each "/" that `slashes`
// marks: the block goes out whole, and again from each "/" on, one byte further along each
// time. Returns the end of the run's text.
char* writeRun(char* out, const char* block, ByteMask slashes, unsigned run) {
  std::memcpy(out, block, ByteBlock::size);
  unsigned shift = 0;
  for (; slashes != 0; slashes &= slashes - 1, ++shift) {
    const unsigned at = firstByte(slashes);
    out[at + shift] = '\\';
    std::memcpy(out + at + shift + 1, block + at, ByteBlock::size);
  }
  return out + run + shift;
}

}  // namespace

// Well-formed UTF-8 is kept, every other byte and every control character (C0, DEL and C1)
// becomes \xHH, and "\" is doubled, so that a name can't garble the terminal.
std::string printableText(std::string_view text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = utf8SequenceLength(text, i);
    const bool c1Control =
        length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0;
    if (c1Control) length = 0;  // shown byte by byte
    if (length == 0 || byte < 0x20 || byte == 0x7f || byte == '\\') {
      shown += byte == '\\' ? "\\\\"
                            : std::string{'\\', 'x', hexDigits[byte >> 4], hexDigits[byte & 15]};
      ++i;
    } else {
      shown.append(text, i, length);
      i += length;
    }
  }
  return shown;
}

PathList makePathList(const FileURLPaths& urls) {
  return PathList(urls);
}

// One pass over the paths, each ended by a NUL, checking that they are UTF-8 as it goes.
JsonText encodePathList(const PathList& paths) {
  const std::string_view joined = paths.joined();
  const char* bytes = joined.data();
  const std::size_t size = joined.size();
  // Enough for paths of ordinary names, with a "\" for every eighth byte; more takes growing.
  JsonText text{ByteBuffer(size + size / 8 + 2 * paths.size() + stepRoom), 0};
  char* out = text.bytes.data();
  char* roomEnd = out + text.bytes.capacity() - stepRoom;  // where a step may still start
  *out++ = '[';
  if (size != 0) *out++ = '"';
  for (std::size_t i = 0; i < size;) {
    if (out > roomEnd) [[unlikely]] {
      const auto used = static_cast<std::size_t>(out - text.bytes.data());
      text.bytes.reserve(used + stepRoom, used);
      out = text.bytes.data() + used;
      roomEnd = text.bytes.data() + text.bytes.capacity() - stepRoom;
    }
    if (size - i >= blockReach) {
      const ByteBlock block(bytes + i);
      const ByteMask special = block.controlOrNonAscii() | block.equal('"') | block.equal('\\');
      const unsigned run = special == 0 ? ByteBlock::size : firstByte(special);
      out = writeRun(out, bytes + i, block.equal('/') & ((ByteMask{1} << run) - 1), run);
      i += run;
      if (special == 0) continue;
    }
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == 0) {
      // The end of a path: the last one closes the array.
      std::memcpy(out, i + 1 == size ? "\"]" : "\",\"", 3);
      out += i + 1 == size ? 2 : 3;
      ++i;
    } else if (byte < 0x80 && escapes[byte].length != 0) {
      std::memcpy(out, escapes[byte].text.data(), escapes[byte].text.size());
      out += escapes[byte].length;
      ++i;
    } else if (byte < 0x80) {
      *out++ = bytes[i++];
    } else {
      const std::size_t length = utf8SequenceLength(joined, i);
      if (length == 0) throwNotUtf8(joined, i);
      std::memcpy(out, bytes + i, length);
      out += length;
      i += length;
    }
  }
  if (size == 0) *out++ = ']';
  text.size = static_cast<std::size_t>(out - text.bytes.data());
  return text;
}

}  // namespace clipfiles
