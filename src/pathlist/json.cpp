// The JSON writer. No JSON library packaged by Debian writes "/" as "\/", so this small one is
// ours.
#include <cstddef>
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

// The path as one printable line for an error message: well-formed UTF-8 as it is, every
// other byte and every control character as \xHH, so a name can't garble the terminal.
std::string describePath(std::string_view path) {
  std::string shown;
  for (std::size_t i = 0; i < path.size();) {
    const auto byte = static_cast<unsigned char>(path[i]);
    const std::size_t length = utf8SequenceLength(path, i);
    if (length == 0 || byte < 0x20 || byte == 0x7f || byte == '\\') {
      shown += byte == '\\' ? "\\\\"
                            : std::string{'\\', 'x', hexDigits[byte >> 4], hexDigits[byte & 15]};
      ++i;
    } else {
      shown.append(path, i, length);
      i += length;
    }
  }
  return shown;
}

// Appends `path` as a JSON string. Bytes that need no escape are copied in runs.
void appendString(std::string& out, std::string_view path) {
  out += '"';
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < path.size();) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte >= 0x80) {
      const std::size_t length = utf8SequenceLength(path, i);
      if (length == 0) {
        throw Failure(ExitStatus::dataError, "cannot write the file list as JSON: the path \"" +
                                                 describePath(path) + "\" is not valid UTF-8");
      }
      i += length;
      continue;
    }
    if (byte >= 0x20 && byte != '"' && byte != '\\' && byte != '/') {
      ++i;
      continue;
    }
    out.append(path, runStart, i - runStart);
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += {'\\', 'u', '0', '0', hexDigits[byte >> 4], hexDigits[byte & 15]};
    }
    runStart = ++i;
  }
  out.append(path, runStart);
  out += '"';
}

}  // namespace

std::string encodePathList(std::span<const std::string_view> paths) {
  // Room for the common case: a few "\/" per path besides quotes and commas.
  std::size_t estimate = 2;
  for (std::string_view path : paths) estimate += path.size() + path.size() / 4 + 3;
  std::string out;
  out.reserve(estimate);
  out += '[';
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i != 0) out += ',';
    appendString(out, paths[i]);
  }
  out += ']';
  return out;
}

}  // namespace clipfiles
