#include "clipboard/uri_list.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "pathlist/byte_block.h"

namespace clipfiles {
namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return lower(x) == lower(y); });
}

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

bool isSchemeCharacter(char c) {
  return isAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte an escape's two digits stand for; -1 when they are not hexadecimal, or stand for
// NUL or "/".
int escapedNameByte(char high, char low) {
  const int h = hexValue(high);
  const int l = hexValue(low);
  if (h < 0 || l < 0) return -1;
  const int byte = h * 16 + l;
  return byte == 0 || byte == '/' ? -1 : byte;
}

// Host names are at most 255 bytes: a longer one is another machine's.
constexpr std::size_t hostNameLimit = 255;

// Nearly every entry starts so; it goes straight to its path.
constexpr std::string_view localFilePrefix = "file:///";

}  // namespace

bool hasValidPathEscapes(std::string_view encodedPath) {
  for (std::size_t escape = encodedPath.find('%'); escape != std::string_view::npos;
       escape = encodedPath.find('%', escape + 3)) {
    if (escape + 2 >= encodedPath.size() ||
        escapedNameByte(encodedPath[escape + 1], encodedPath[escape + 2]) < 0) {
      return false;
    }
  }
  return true;
}

FileListDecoder::FileListDecoder(ListFormat format, std::string_view hostName)
    : format_(format),
      hostName_(hostName),
      state_(format == ListFormat::copiedFiles ? State::operation : State::lineStart) {}

FileListDecoder::FileListDecoder(ListFormat format) : FileListDecoder(format, {}) {
  std::array<char, hostNameLimit + 1> name{};
  if (::gethostname(name.data(), hostNameLimit) == 0) hostName_ = name.data();
}

void FileListDecoder::add(std::string_view bytes) {
  received_ += bytes.size();
  if (state_ == State::malformed || bytes.empty()) return;
  // A piece decodes to at most one byte more than its own size: the "/" held back after
  // "file:/". Blocks are copied whole, and need room for one beyond that.
  paths_.reserve(used_ + bytes.size() + 1 + ByteBlock::size, used_);
  for (std::size_t i = 0; i < bytes.size() && state_ != State::malformed;) {
    if (!carriageReturn_ && !nul_) {
      if (state_ == State::lineStart && bytes.substr(i).starts_with(localFilePrefix)) {
        i += localFilePrefix.size();
        startPath();
        write('/');
        state_ = State::path;
        continue;
      }
      if (state_ == State::path) {
        i = decodePath(bytes.data(), bytes.size(), i);
        if (i == bytes.size()) break;
        // The line's end, LF or CR LF, when both bytes are here.
        const std::size_t lineEnd = bytes.substr(i).starts_with("\r\n") ? 2 : bytes[i] == '\n';
        if (lineEnd != 0) {
          endLine();
          i += lineEnd;
          continue;
        }
      } else if (state_ == State::comment) {
        const std::size_t end = bytes.find('\n', i);
        if (end == std::string_view::npos) break;
        i = end;
      } else if (state_ == State::skip || (state_ == State::scheme && word_.size() > 4)) {
        // The rest of a skipped entry, or of a scheme known not to be "file", only needs
        // checking: a runaway owner that sends one endless line takes no step per byte.
        i = skipChecked(bytes.data(), bytes.size(), i);
        if (i == bytes.size()) break;
      }
    }
    step(bytes[i++]);
  }
}

// Copies the path's plain bytes a block at a time, and decodes whole escapes on the way, up
// to the first byte that needs a step of its own; returns where that byte is.
std::size_t FileListDecoder::decodePath(const char* bytes, std::size_t size, std::size_t at) {
  for (;;) {
    while (size - at >= ByteBlock::size) {
      const ByteBlock block(bytes + at);
      const ByteMask special =
          block.equal('%') | block.equal('#') | block.control() | block.equal('\x7f');
      std::memcpy(paths_.data() + used_, bytes + at, ByteBlock::size);
      const unsigned run = special == 0 ? ByteBlock::size : firstByte(special);
      used_ += run;
      at += run;
      if (special != 0) break;
    }
    while (at < size && !isControl(bytes[at]) && bytes[at] != '%' && bytes[at] != '#') {
      write(bytes[at++]);
    }
    if (at + 2 >= size || bytes[at] != '%') return at;
    const int byte = escapedNameByte(bytes[at + 1], bytes[at + 2]);
    if (byte < 0) return at;
    write(static_cast<char>(byte));
    at += 3;
  }
}

// Passes over the bytes that change nothing in the skip state, or in a scheme beyond its first
// letters; returns where the first byte that does is.
std::size_t FileListDecoder::skipChecked(const char* bytes, std::size_t size,
                                         std::size_t at) const {
  if (state_ == State::scheme) {
    while (at < size && isSchemeCharacter(bytes[at])) ++at;
    return at;
  }
  while (size - at >= ByteBlock::size) {
    const ByteBlock block(bytes + at);
    const ByteMask special = block.control() | block.equal('\x7f') | block.equal('#');
    if (special != 0) return at + firstByte(special);
    at += ByteBlock::size;
  }
  while (at < size && !isControl(bytes[at]) && bytes[at] != '#') ++at;
  return at;
}

// One byte, whatever the state.
void FileListDecoder::step(char c) {
  // A NUL or CR with more after it is a control character inside a line, but for a CR that
  // ends it.
  if (nul_) return fail();
  if (state_ == State::comment) {
    if (c == '\n') state_ = State::lineStart;
    return;
  }
  // A NUL goes before a pending CR: the list may end in CR NUL.
  if (c == '\0') {
    nul_ = true;
    return;
  }
  if (carriageReturn_) {
    carriageReturn_ = false;
    return c == '\n' ? endLine() : fail();
  }
  if (isControl(c)) {
    switch (c) {
      case '\n': return endLine();
      case '\r': carriageReturn_ = true; return;
      default: return fail();
    }
  }
  switch (state_) {
    case State::operation:
      if (word_.size() == 4) return fail();
      word_ += c;
      return;
    case State::lineStart:
      if (c == '#' && format_ == ListFormat::uriList) {
        state_ = State::comment;
        return;
      }
      if (!isAlpha(c)) return fail();
      word_.assign(1, lower(c));
      state_ = State::scheme;
      return;
    case State::scheme:
      if (c == ':') {
        fileScheme_ = word_ == "file";
        state_ = fileScheme_ ? State::afterScheme : State::skip;
        return;
      }
      if (!isSchemeCharacter(c)) return fail();
      if (word_.size() <= 4) word_ += lower(c);  // long enough to tell "file" from the rest
      return;
    case State::afterScheme:
      if (c != '/') return fail();
      state_ = State::afterSlash;
      return;
    case State::afterSlash:
      if (c == '/') {
        word_.clear();
        state_ = State::host;
        return;
      }
      startPath();  // "file:/p": the path starts at that "/"
      write('/');
      state_ = State::path;
      return step(c);
    case State::host:
      if (c == '#') return fail();
      if (c != '/') {
        if (word_.size() <= hostNameLimit) word_ += c;
        return;
      }
      if (word_.empty() || equalsIgnoringCase(word_, "localhost") ||
          (word_.size() <= hostNameLimit && equalsIgnoringCase(word_, hostName_))) {
        startPath();
        write('/');
        state_ = State::path;
      } else {
        state_ = State::skip;
      }
      return;
    case State::path:
      if (c == '#') return fail();
      if (c == '%') {
        escapeDigits_ = 0;
        escapeValue_ = 0;
        state_ = State::escape;
        return;
      }
      return write(c);
    case State::escape: {
      const int digit = hexValue(c);
      if (digit < 0) return fail();
      escapeValue_ = escapeValue_ * 16 + digit;
      if (++escapeDigits_ < 2) return;
      if (escapeValue_ == 0 || escapeValue_ == '/') return fail();
      write(static_cast<char>(escapeValue_));
      state_ = State::path;
      return;
    }
    case State::skip:
      if (c == '#' && fileScheme_) return fail();
      return;
    case State::comment:
    case State::malformed: return;
  }
}

// The end of a line, with its CR if it had one.
void FileListDecoder::endLine() {
  switch (state_) {
    case State::operation:
      if (word_ != "copy" && word_ != "cut") return fail();
      break;
    case State::afterSlash:  // "file:/" is the root
      startPath();
      write('/');
      [[fallthrough]];
    case State::path:
      // A directory's URI may end in "/"; its path does not, unless it is the root.
      while (used_ - pathStart_ > 1 && paths_.data()[used_ - 1] == '/') --used_;
      write('\0');
      ++count_;
      break;
    case State::lineStart:
    case State::skip:
    case State::comment: break;
    default: return fail();  // a line cut short in its scheme, host or an escape
  }
  state_ = State::lineStart;
}

void FileListDecoder::startPath() {
  pathStart_ = used_;
}

void FileListDecoder::fail() {
  state_ = State::malformed;
  paths_ = ByteBuffer();
  used_ = 0;
}

std::optional<FileURLPaths> FileListDecoder::finish() && {
  // A list sent as a C string ends in a NUL; a list of no bytes at all is empty, even where
  // its format would start with a line of its own.
  if (received_ == (nul_ ? 1 : 0)) return FileURLPaths{};
  nul_ = false;
  if (state_ != State::malformed) {
    carriageReturn_ = false;
    paths_.reserve(used_ + 2, used_);  // room for "file:/" as "/" and its NUL
    endLine();
  }
  if (state_ == State::malformed) return std::nullopt;
  return FileURLPaths(std::move(paths_), used_, count_);
}

std::optional<FileURLPaths> decodeFileList(std::string_view text, ListFormat format,
                                           std::string_view hostName) {
  FileListDecoder decoder(format, hostName);
  decoder.add(text);
  return std::move(decoder).finish();
}

}  // namespace clipfiles
