// The JSON writer. No JSON library packaged by Debian writes "/" as "\/", so this small one is
// ours.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "pathlist/path_list.h"
#include "tool/failure.h"

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

// The size of `path` as a JSON string, quotes included. Throws if it is not valid UTF-8.
std::size_t stringSize(std::string_view path) {
  std::size_t size = path.size() + 2;
  for (std::size_t i = 0; i < path.size();) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte < 0x80) {
      size += escapes[byte].length == 0 ? 0 : escapes[byte].length - 1;
      ++i;
      continue;
    }
    const std::size_t length = utf8SequenceLength(path, i);
    if (length == 0) {
      throw Failure(ExitStatus::dataError, "cannot write the file list as JSON: the path \"" +
                                               printableText(path) + "\" is not valid UTF-8");
    }
    i += length;
  }
  return size;
}

// Writes `path`, already checked by stringSize, as a JSON string at `out`; returns its end.
// Each escape is copied whole, so `out` needs 4 bytes of room beyond the string's end.
char* writeString(char* out, std::string_view path) {
  *out++ = '"';
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80 && escapes[byte].length != 0) {
      std::memcpy(out, escapes[byte].text.data(), escapes[byte].text.size());
      out += escapes[byte].length;
    } else {
      *out++ = c;
    }
  }
  *out++ = '"';
  return out;
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

// Measures first, then writes into a buffer of the exact size: no growth, no copies.
LargeBuffer encodePathList(std::span<const std::string_view> paths) {
  std::size_t size = 2 + (paths.empty() ? 0 : paths.size() - 1);
  for (std::string_view path : paths) size += stringSize(path);
  constexpr std::size_t room = 4;
  LargeBuffer json(size + room);
  char* out = json.data();
  *out++ = '[';
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i != 0) *out++ = ',';
    out = writeString(out, paths[i]);
  }
  *out = ']';
  json.setSize(size);
  return json;
}

}  // namespace clipfiles
