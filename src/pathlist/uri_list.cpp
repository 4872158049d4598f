#include "pathlist/uri_list.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace clipfiles {
namespace {

enum class EntryKind { file, skipped, malformed };

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return lower(x) == lower(y);
  });
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the URI scheme at the start of `uri` (ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )),
// if one is there and a ":" follows it; otherwise 0.
std::size_t schemeLength(std::string_view uri) {
  const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (uri.empty() || !isAlpha(uri[0])) return 0;
  std::size_t i = 1;
  while (i < uri.size() && (isAlpha(uri[i]) || (uri[i] >= '0' && uri[i] <= '9') || uri[i] == '+' ||
                            uri[i] == '-' || uri[i] == '.')) {
    ++i;
  }
  return i < uri.size() && uri[i] == ':' ? i : 0;
}

// The byte that the escape "%XX" at the start of `escape` stands for; -1 when the escape is cut
// short or not hexadecimal, or stands for NUL or "/".
int escapedNameByte(std::string_view escape) {
  if (escape.size() < 3) return -1;
  const int high = hexValue(escape[1]);
  const int low = hexValue(escape[2]);
  if (high < 0 || low < 0) return -1;
  const int byte = high * 16 + low;
  return byte == 0 || byte == '/' ? -1 : byte;
}

// Decodes the percent-escapes of a path into raw bytes in `decoded`. False when an escape is
// not one that hasValidPathEscapes accepts.
bool percentDecode(std::string_view encoded, std::string& decoded) {
  decoded.clear();
  for (;;) {
    const std::size_t escape = encoded.find('%');
    decoded.append(encoded.substr(0, escape));
    if (escape == std::string_view::npos) return true;
    const int byte = escapedNameByte(encoded.substr(escape));
    if (byte < 0) return false;
    decoded += static_cast<char>(byte);
    encoded.remove_prefix(escape + 3);
  }
}

// True when `text` holds a control character (C0 or DEL). Written without an early exit so
// that the compiler can check many bytes at a time.
bool hasControlCharacter(std::string_view text) {
  unsigned found = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    found |= static_cast<unsigned>(byte < 0x20) | static_cast<unsigned>(byte == 0x7f);
  }
  return found != 0;
}

// One line of a list: a file URI (file:///p, file:/p, file://localhost/p, file://host/p).
// For a file, its path goes into `path`.
EntryKind decodeEntry(std::string_view uri, std::string_view hostName, std::string& path) {
  if (hasControlCharacter(uri)) return EntryKind::malformed;
  const std::size_t scheme = schemeLength(uri);
  if (scheme == 0) return EntryKind::malformed;
  if (!equalsIgnoringCase(uri.substr(0, scheme), "file")) return EntryKind::skipped;

  std::string_view rest = uri.substr(scheme + 1);
  // File managers escape "#" and "?" in names, so in a copied list neither starts a fragment or
  // a query. Cutting the path there would name a different file, often a parent folder: a raw
  // "#" makes the entry malformed, and a raw "?" is part of the name.
  if (rest.find('#') != std::string_view::npos) return EntryKind::malformed;
  if (rest.starts_with("//")) {
    const std::size_t pathStart = rest.find('/', 2);
    if (pathStart == std::string_view::npos) return EntryKind::malformed;
    const std::string_view host = rest.substr(2, pathStart - 2);
    if (!host.empty() && !equalsIgnoringCase(host, "localhost") &&
        !equalsIgnoringCase(host, hostName)) {
      return EntryKind::skipped;
    }
    rest.remove_prefix(pathStart);
  }
  if (!rest.starts_with('/') || !percentDecode(rest, path)) return EntryKind::malformed;
  // A directory's URI may end in "/"; its path does not, unless it is the root.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return EntryKind::file;
}

}  // namespace

bool hasValidPathEscapes(std::string_view encodedPath) {
  for (std::size_t escape = encodedPath.find('%'); escape != std::string_view::npos;
       escape = encodedPath.find('%', escape + 3)) {
    if (escapedNameByte(encodedPath.substr(escape)) < 0) return false;
  }
  return true;
}

std::optional<FileURLList> decodeFileList(std::string_view text, ListFormat format,
                                          std::string_view hostName) {
  if (text.ends_with('\0')) text.remove_suffix(1);  // some owners send a C string

  // Decoded paths are never longer than their lines: one block holds them all.
  FileURLList urls;
  urls.reserve(static_cast<std::size_t>(std::ranges::count(text, '\n')) + 1, text.size());
  std::string path;
  bool firstLine = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);

    if (format == ListFormat::copiedFiles && std::exchange(firstLine, false)) {
      if (line != "copy" && line != "cut") return std::nullopt;
      continue;
    }
    if (line.empty() || (format == ListFormat::uriList && line.starts_with('#'))) continue;

    const EntryKind kind = decodeEntry(line, hostName, path);
    if (kind == EntryKind::malformed) return std::nullopt;
    if (kind == EntryKind::file) urls.add(path);
  }
  return urls;
}

std::optional<FileURLList> decodeFileList(std::string_view text, ListFormat format) {
  std::array<char, 256> name{};  // host names are at most 255 bytes
  if (::gethostname(name.data(), name.size() - 1) != 0) name[0] = '\0';  // only localhost then
  return decodeFileList(text, format, name.data());
}

}  // namespace clipfiles
