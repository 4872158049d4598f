// The file lists that Linux clipboards carry, and their decoding into paths.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "pathlist/byte_buffer.h"
#include "pathlist/file_urls.h"

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
// path is then the file the URI names. The decoder refuses a list with any other escape; the
// macOS reader applies the same rule to the pasteboard's URLs.
bool hasValidPathEscapes(std::string_view encodedPath);

// Decodes a file list as its bytes arrive, in pieces of any size, into the paths of its file
// URIs, in order, duplicates kept. URIs of other schemes, and file URIs that name another host,
// are skipped. A list is taken whole or not at all: once any entry is not a well-formed URI,
// the rest is only counted. Only the paths are kept, never the list's own bytes.
class FileListDecoder {
 public:
  // `hostName` is the name that counts as this machine.
  FileListDecoder(ListFormat format, std::string_view hostName);
  // With this machine's host name.
  explicit FileListDecoder(ListFormat format);

  // Decodes the next piece of the list.
  void add(std::string_view bytes);
  // How many bytes of the list have been added.
  [[nodiscard]] std::size_t received() const { return received_; }
  // Once the whole list has been added: its paths, or nothing when an entry was malformed.
  std::optional<FileURLPaths> finish() &&;

 private:
  enum class State : unsigned char {
    operation,    // the first line of copiedFiles: "copy" or "cut"
    lineStart,    // nothing of this line yet
    scheme,       // in the scheme, before its ":"
    afterScheme,  // after "file:"
    afterSlash,   // after "file:/"
    host,         // after "file://", up to the "/" that starts the path
    path,         // in a local file's path, which is decoded as it comes
    escape,       // after a "%" in the path
    skip,         // in an entry that is skipped: it is still checked for control characters
    comment,      // in a comment line, which is not checked at all
    malformed,    // an entry was malformed: nothing more is decoded
  };

  std::size_t decodePath(const char* bytes, std::size_t size, std::size_t at);
  [[nodiscard]] std::size_t skipChecked(const char* bytes, std::size_t size, std::size_t at) const;
  void step(char c);
  void endLine();
  void startPath();
  void fail();
  void write(char c) { paths_.data()[used_++] = c; }

  ListFormat format_;
  std::string hostName_;
  State state_;
  ByteBuffer paths_;  // the decoded paths each ended by NUL, and room for the piece at hand
  std::size_t used_ = 0;
  std::size_t count_ = 0;
  std::size_t received_ = 0;
  std::size_t pathStart_ = 0;  // where the path being decoded starts in paths_
  std::string word_;           // the scheme, host or operation read so far, as far as needed
  bool fileScheme_ = false;    // the entry being skipped is a file URI: a raw "#" refuses it
  int escapeDigits_ = 0;
  int escapeValue_ = 0;
  bool carriageReturn_ = false;  // a CR was the last byte: it ends the line if LF follows
  bool nul_ = false;             // a NUL was the last byte: harmless only as the list's last
};

// The paths of a whole list at once.
std::optional<FileURLPaths> decodeFileList(std::string_view text, ListFormat format,
                                           std::string_view hostName);

}  // namespace clipfiles
