#include "pathlist/uri_list.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <utility>

namespace clipfiles {
namespace {

enum class EntryKind { file, skipped, malformed };

struct Entry {
  EntryKind kind;
  std::string path;
};

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

// Decodes the percent-escapes of a path into raw bytes. Nothing when an escape is cut short
// or not hexadecimal, or decodes to NUL (no file name holds it) or "/" (it would split a name).
std::optional<std::string> percentDecode(std::string_view encoded) {
  std::string decoded;
  decoded.reserve(encoded.size());
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      decoded += encoded[i];
      continue;
    }
    if (i + 2 >= encoded.size()) return std::nullopt;
    const int high = hexValue(encoded[i + 1]);
    const int low = hexValue(encoded[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const char byte = static_cast<char>(high * 16 + low);
    if (byte == '\0' || byte == '/') return std::nullopt;
    decoded += byte;
    i += 2;
  }
  return decoded;
}

// One line of a list: a file URI (file:///p, file:/p, file://localhost/p, file://host/p).
Entry decodeEntry(std::string_view uri, std::string_view hostName) {
  if (std::ranges::any_of(
          uri, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return {EntryKind::malformed, {}};
  }
  const std::size_t scheme = schemeLength(uri);
  if (scheme == 0) return {EntryKind::malformed, {}};
  if (!equalsIgnoringCase(uri.substr(0, scheme), "file")) return {EntryKind::skipped, {}};

  std::string_view rest = uri.substr(scheme + 1);
  rest = rest.substr(0, rest.find_first_of("?#"));  // the query and fragment name no part of a path
  if (rest.starts_with("//")) {
    const std::size_t pathStart = rest.find('/', 2);
    if (pathStart == std::string_view::npos) return {EntryKind::malformed, {}};
    const std::string_view host = rest.substr(2, pathStart - 2);
    if (!host.empty() && !equalsIgnoringCase(host, "localhost") &&
        !equalsIgnoringCase(host, hostName)) {
      return {EntryKind::skipped, {}};
    }
    rest.remove_prefix(pathStart);
  }
  if (!rest.starts_with('/')) return {EntryKind::malformed, {}};

  std::optional<std::string> path = percentDecode(rest);
  if (!path) return {EntryKind::malformed, {}};
  // A directory's URI may end in "/"; its path does not, unless it is the root.
  while (path->size() > 1 && path->back() == '/') path->pop_back();
  return {EntryKind::file, std::move(*path)};
}

}  // namespace

std::optional<std::vector<FileURL>> decodeFileList(std::string_view text, ListFormat format,
                                                   std::string_view hostName) {
  if (text.ends_with('\0')) text.remove_suffix(1);  // some owners send a C string

  std::vector<FileURL> urls;
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

    Entry entry = decodeEntry(line, hostName);
    if (entry.kind == EntryKind::malformed) return std::nullopt;
    if (entry.kind == EntryKind::file) urls.push_back(FileURL{std::move(entry.path)});
  }
  return urls;
}

std::optional<std::vector<FileURL>> decodeFileList(std::string_view text, ListFormat format) {
  std::array<char, HOST_NAME_MAX + 1> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) name[0] = '\0';  // only localhost then
  return decodeFileList(text, format, name.data());
}

}  // namespace clipfiles
