// Fuzzes the decoding of clipboard file lists. The first byte picks the list format. Beyond
// crashes and undefined behaviour, it checks that every path decoded is absolute, holds no
// NUL, and comes back unchanged when written as a file URI and decoded again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pathlist/uri_list.h"

namespace {

constexpr std::string_view host = "fuzzhost";

// The path as a file URI with every byte but unreserved characters and "/" percent-encoded.
std::string fileUri(std::string_view path) {
  constexpr char hex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                       c == '~' || c == '/';
    if (plain) {
      uri += c;
    } else {
      uri += {'%', hex[byte >> 4], hex[byte & 15]};
    }
  }
  return uri;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto format =
      (data[0] & 1) != 0 ? clipfiles::ListFormat::copiedFiles : clipfiles::ListFormat::uriList;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto urls = clipfiles::decodeFileList(text, format, host);
  if (!urls) return 0;
  for (const clipfiles::FileURL& url : *urls) {
    if (!url.path.starts_with('/') || url.path.find('\0') != std::string::npos) __builtin_trap();
    const auto again =
        clipfiles::decodeFileList(fileUri(url.path), clipfiles::ListFormat::uriList, host);
    if (!again || again->size() != 1 || (*again)[0].path != url.path) __builtin_trap();
  }
  return 0;
}
