// Fuzzes the decoding of clipboard file lists. The first byte picks the list format. Beyond
// crashes and undefined behaviour, it checks that
// - every path decoded is absolute, holds no NUL, and comes back unchanged when written as a
//   file URI and decoded again;
// - a list decodes as its entries do one by one: not at all when any entry is malformed, else
//   their paths in order;
// - each entry decodes as GLib's g_filename_from_uri, the decoder GTK programs use, reads it,
//   but for the deliberate departures named in compareWithGlib.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/uri_list.h"

namespace {

using clipfiles::decodeFileList;
using clipfiles::FileListDecoder;
using clipfiles::FileURLPaths;
using clipfiles::ListFormat;

constexpr std::string_view host = "fuzzhost";

enum class Outcome { file, skipped, malformed };

// What the decoder makes of one entry: a file and its path, an entry it skips, or a malformed
// one that refuses the whole list.
struct Entry {
  Outcome outcome = Outcome::malformed;
  std::string path;
};

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::file: return "file";
    case Outcome::skipped: return "skipped";
    case Outcome::malformed: return "malformed";
  }
  return "?";
}

// Reports the input (an entry, or a whole list) that broke a property, and what the decoder
// made of it when known, then stops.
[[noreturn]] void fail(std::string_view input, const char* why, const Entry* ours = nullptr) {
  std::fprintf(stderr, "uri_list_fuzz: %s\n  input: \"%.*s\"\n", why,
               static_cast<int>(input.size()), input.data());
  if (ours != nullptr) {
    std::fprintf(stderr, "  ours: %s \"%s\"\n", outcomeName(ours->outcome), ours->path.c_str());
  }
  __builtin_trap();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The names that count as this machine; host names compare without regard to case.
bool isLocalHost(std::string_view name) {
  return name.empty() || equalsIgnoringCase(name, "localhost") || equalsIgnoringCase(name, host);
}

bool hasControlCharacter(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// True when `text` starts with a URI scheme and its ":" (ALPHA *( ALPHA / DIGIT / "+" / "-" /
// "." ) ":").
bool hasScheme(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos || !g_ascii_isalpha(text[0])) return false;
  for (const char c : text.substr(1, colon - 1)) {
    if (!g_ascii_isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

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

// The entries of a list, split as the decoder splits it: a line ends at LF, less a CR before
// it; blank lines, and "#" comment lines in text/uri-list, hold none; a copied-files list
// starts with its operation. Nothing when that operation is not "copy" or "cut".
std::optional<std::vector<std::string_view>> splitEntries(std::string_view text,
                                                          ListFormat format) {
  if (text.ends_with('\0')) text.remove_suffix(1);
  std::vector<std::string_view> entries;
  bool firstLine = format == ListFormat::copiedFiles;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (firstLine) {
      if (line != "copy" && line != "cut") return std::nullopt;
      firstLine = false;
    } else if (!line.empty() && !(format == ListFormat::uriList && line.starts_with('#'))) {
      entries.push_back(line);
    }
  }
  return entries;
}

// The decoded paths one by one.
std::vector<std::string_view> split(const FileURLPaths& urls) {
  std::vector<std::string_view> paths;
  for (std::string_view joined = urls.joined(); !joined.empty();) {
    const std::size_t end = joined.find('\0');
    paths.push_back(joined.substr(0, end));
    joined.remove_prefix(end + 1);
  }
  return paths;
}

// One entry decoded as the only one of a copied-files list. The CR LF after it keeps a CR or
// NUL that ends the entry from being taken for the end of the line or of a C string.
Entry decodeAlone(std::string_view entry) {
  std::string text = "copy\n";
  text += entry;
  text += "\r\n";
  const auto urls = decodeFileList(text, ListFormat::copiedFiles, host);
  if (!urls) return {Outcome::malformed, {}};
  if (urls->empty()) return {Outcome::skipped, {}};
  if (urls->size() != 1) fail(entry, "one entry gave several paths");
  return {Outcome::file, std::string(split(*urls)[0])};
}

// What g_filename_from_uri makes of `uri`: nothing when it refuses it, else the path and the
// host named (empty for none).
struct GlibReading {
  std::string path;
  std::string host;
};
std::optional<GlibReading> readWithGlib(const std::string& uri) {
  gchar* hostName = nullptr;
  gchar* path = g_filename_from_uri(uri.c_str(), &hostName, nullptr);
  std::optional<GlibReading> reading;
  if (path != nullptr) reading = GlibReading{path, hostName != nullptr ? hostName : ""};
  // The host name is set even when the path then turns out malformed.
  g_free(path);
  g_free(hostName);
  return reading;
}

// GLib 2.78 began to read a raw "?" in a file URI as the start of a query and a raw "#" as a
// fragment's, and to drop both. Earlier versions, like this decoder, keep a "?" in the name and
// refuse a "#": a file manager escapes both, so in a copied list neither is a query or a
// fragment, and cutting the path there would name another file, often a parent folder. With
// those versions, the "?" reaches GLib escaped and an entry with a "#" must be refused.
const bool glibCutsQueryAndFragment = glib_check_version(2, 78, 0) == nullptr;

std::string escapeQuestionMarks(std::string_view uri) {
  std::string escaped;
  for (const char c : uri) {
    if (c == '?') {
      escaped += "%3F";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// Checks what the decoder made of `entry` against GLib's reading of it.
void compareWithGlib(std::string_view entry, const Entry& ours) {
  const auto expect = [&](bool holds, const char* why) {
    if (!holds) fail(entry, why, &ours);
  };

  // Departure: any raw control character (C0 or DEL) makes an entry malformed, whatever its
  // scheme; GLib reads them into the path, and a NUL would end its string early. File managers
  // escape them, and a raw CR or tab is more likely a damaged line than part of a name.
  if (hasControlCharacter(entry)) {
    expect(ours.outcome == Outcome::malformed, "a control character was not refused");
    return;
  }
  // Departure: a URI of another scheme (https:, smb:, trash:) is skipped, while GLib refuses
  // all but file URIs. A copied list may mix them with files; they name no local file, and
  // refusing them would lose the files beside them. A line with no scheme is malformed.
  if (!startsWithIgnoringCase(entry, "file:")) {
    expect(ours.outcome == (hasScheme(entry) ? Outcome::skipped : Outcome::malformed),
           "another scheme was not skipped, or a line without one was not refused");
    return;
  }

  const std::string_view afterScheme = entry.substr(5);
  if (glibCutsQueryAndFragment && afterScheme.find('#') != std::string_view::npos) {
    expect(ours.outcome == Outcome::malformed, "a raw # was not refused");
    return;
  }
  const std::optional<GlibReading> glib =
      readWithGlib(glibCutsQueryAndFragment ? escapeQuestionMarks(entry) : std::string(entry));

  // Departure: the URI of another host is skipped whatever its host name and path hold (only a
  // raw "#" refuses it, as in any file URI); GLib refuses a host name that is not a valid DNS
  // name and a path with a bad escape. Such a URI names no file here either way, and skipping
  // it keeps the list's local files.
  if (afterScheme.starts_with("//")) {
    const std::size_t pathStart = afterScheme.find('/', 2);
    const std::string_view hostPart = afterScheme.substr(2, pathStart - 2);
    if (pathStart != std::string_view::npos && !isLocalHost(hostPart)) {
      expect(ours.outcome != Outcome::file, "another host's file was taken");
      if (glib) {
        expect(glib->host == hostPart, "GLib names another host than the URI");
        expect(ours.outcome == Outcome::skipped, "another host's file was not skipped");
      }
      return;
    }
  }

  if (!glib) {
    expect(ours.outcome == Outcome::malformed, "taken, but GLib refuses it");
    return;
  }
  expect(isLocalHost(glib->host), "GLib names a host that the URI does not");
  // Departure: a directory's trailing slashes are dropped, but for the root's, so that the
  // same folder is always written the same way; GLib keeps them.
  std::string path = glib->path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  expect(ours.outcome == Outcome::file, "refused or skipped, but GLib reads a file");
  expect(ours.path == path, "the path differs from GLib's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto format = (data[0] & 1) != 0 ? ListFormat::copiedFiles : ListFormat::uriList;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto urls = decodeFileList(text, format, host);

  // The same list in two pieces, split where the rest of the first byte says.
  FileListDecoder decoder(format, host);
  const std::size_t cut = (data[0] >> 1) % (text.size() + 1);
  decoder.add(text.substr(0, cut));
  decoder.add(text.substr(cut));
  const auto pieces = std::move(decoder).finish();
  if (pieces.has_value() != urls.has_value() || (urls && pieces->joined() != urls->joined())) {
    fail(text, "the list decodes otherwise in two pieces");
  }

  // The list, entry by entry.
  const auto entries = splitEntries(text, format);
  std::vector<std::string> paths;
  bool malformed = !entries;
  for (const std::string_view entry : entries.value_or(std::vector<std::string_view>{})) {
    const Entry ours = decodeAlone(entry);
    compareWithGlib(entry, ours);
    if (ours.outcome == Outcome::malformed) malformed = true;
    if (ours.outcome == Outcome::file) paths.push_back(ours.path);
  }
  if (malformed != !urls) fail(text, "the list and its entries disagree on refusing it");
  if (!urls) return 0;
  if (urls->size() != paths.size()) fail(text, "the list and its entries differ in number");

  const std::vector<std::string_view> decoded = split(*urls);
  if (decoded.size() != urls->size()) fail(text, "the list miscounts its paths");
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const std::string_view path = decoded[i];
    if (path != paths[i]) fail(text, "an entry decodes otherwise on its own");
    if (!path.starts_with('/') || path.find('\0') != std::string::npos) {
      fail(path, "not an absolute path without NUL");
    }
    const auto again = decodeFileList(fileUri(path), ListFormat::uriList, host);
    if (!again || again->size() != 1 || split(*again)[0] != path) {
      fail(path, "the path does not come back from its URI");
    }
  }
  return 0;
}
