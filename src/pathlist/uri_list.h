// Decoding the file lists that Linux clipboards carry into file URLs.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pathlist/path_list.h"

namespace clipfiles {

enum class ListFormat {
  uriList,      // text/uri-list: one URI per line, CRLF or LF, "#" comment lines
  copiedFiles,  // x-special/gnome-copied-files and its MATE twin: "copy" or "cut", then URIs
};

// The clipboard types that carry file lists, in the readers' order of preference.
struct FileListType {
  std::string_view name;
  ListFormat format;
};
inline constexpr std::array<FileListType, 3> fileListTypes{{
    {"text/uri-list", ListFormat::uriList},
    {"x-special/gnome-copied-files", ListFormat::copiedFiles},
    {"x-special/mate-copied-files", ListFormat::copiedFiles},
}};

// True when every percent-escape in a URI's still-escaped path is whole, is hexadecimal and
// stands for neither NUL (no file name holds it) nor "/" (it would split a name): the decoded
// path is then the file the URI names. decodeFileList refuses a list with any other escape;
// the macOS reader applies the same rule to the pasteboard's URLs.
bool hasValidPathEscapes(std::string_view encodedPath);

// The file URLs that `text` lists, in order, duplicates kept. URIs of other schemes, and file
// URIs that name another host, are skipped. Nothing when any entry is not a well-formed URI:
// a list is taken whole or not at all. `hostName` is the name that counts as this machine.
std::optional<FileURLList> decodeFileList(std::string_view text, ListFormat format,
                                          std::string_view hostName);

// The same, with this machine's host name.
std::optional<FileURLList> decodeFileList(std::string_view text, ListFormat format);

}  // namespace clipfiles
