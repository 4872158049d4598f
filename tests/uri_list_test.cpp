// Decoding clipboard file lists into paths.
#include "clipboard/uri_list.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using clipfiles::decodeFileList;
using clipfiles::FileListDecoder;
using clipfiles::FileURLPaths;
using clipfiles::hasValidPathEscapes;
using clipfiles::ListFormat;
using Paths = std::optional<std::vector<std::string>>;

constexpr const char* host = "workstation";

struct DecodeCase {
  const char* name;
  std::string text;
  ListFormat format;
  Paths paths;  // nothing: the list is not taken
};
void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.name;
}

const DecodeCase decodeCases[] = {
    // URI forms and hosts
    {"ThreeSlashes", "file:///tmp/a.txt", ListFormat::uriList, {{"/tmp/a.txt"}}},
    {"OneSlash", "file:/tmp/a.txt", ListFormat::uriList, {{"/tmp/a.txt"}}},
    {"Localhost", "file://localhost/tmp/a", ListFormat::uriList, {{"/tmp/a"}}},
    {"ThisHostAnyCase", "FILE://WorkStation/tmp/a", ListFormat::uriList, {{"/tmp/a"}}},
    {"OtherHostSkipped", "file://server/share/a\nfile:///b", ListFormat::uriList, {{"/b"}}},
    {"OtherSchemesSkipped",
     "https://x.org/a\nsmb://s/a\ntrash:/a\nfile:///b",
     ListFormat::uriList,
     {{"/b"}}},
    {"Root", "file:///", ListFormat::uriList, {{"/"}}},
    {"DirectorySlashDropped", "file:///home/u/Music/", ListFormat::uriList, {{"/home/u/Music"}}},
    {"RepeatedSlashesDropped", "file:///a//\nfile:////", ListFormat::uriList, {{"/a", "/"}}},

    // percent-decoding
    {"Space", "file:///tmp/b%20c.txt", ListFormat::uriList, {{"/tmp/b c.txt"}}},
    {"PercentSign", "file:///100%25", ListFormat::uriList, {{"/100%"}}},
    {"Utf8Name", "file:///caf%C3%A9/%e6%97%a5", ListFormat::uriList, {{"/café/日"}}},
    {"RawBytesKept", "file:///latin%E9", ListFormat::uriList, {{"/latin\xe9"}}},
    {"HashAndQuestionMarkInName", "file:///a%23b%3Fc", ListFormat::uriList, {{"/a#b?c"}}},
    // File managers escape both, so a raw "?" is part of the name and starts no query.
    {"RawQuestionMarkInName",
     "file:///tmp/what?.txt\nfile:///a?x=1",
     ListFormat::uriList,
     {{"/tmp/what?.txt", "/a?x=1"}}},
    {"HashInOtherSchemeSkipped", "https://x.org/a#top\nfile:///b", ListFormat::uriList, {{"/b"}}},
    {"UnescapedSpaceAndUtf8Accepted", "file:///b c/é", ListFormat::uriList, {{"/b c/é"}}},
    // Long enough for the decoder's blocks.
    {"LongPaths",
     "file:///home/user/Documents/Projects/caf%C3%A9%20notes/report%20final.txt\r\n"
     "file://localhost/srv/data/0123456789abcdefghijklmnop/",
     ListFormat::uriList,
     {{"/home/user/Documents/Projects/café notes/report final.txt",
       "/srv/data/0123456789abcdefghijklmnop"}}},

    // list structure
    {"CrlfCommentsBlankLines",
     "# from a file manager\r\nfile:///a\r\n\r\nfile:///b\r\n",
     ListFormat::uriList,
     {{"/a", "/b"}}},
    {"NoFinalNewline", "file:///a\nfile:///b", ListFormat::uriList, {{"/a", "/b"}}},
    {"OrderAndDuplicates",
     "file:///b\nfile:///a\nfile:///b",
     ListFormat::uriList,
     {{"/b", "/a", "/b"}}},
    {"TrailingNul", std::string("file:///a\r\n\0", 12), ListFormat::uriList, {{"/a"}}},
    {"CrThenTrailingNul",
     std::string("file:///a\nhttps://x.org/b\r\0", 27),
     ListFormat::uriList,
     {{"/a"}}},
    {"Empty", "", ListFormat::uriList, {std::vector<std::string>{}}},

    // malformed entries: the whole list is refused
    {"TruncatedEscape", "file:///a\nfile:///b%2", ListFormat::uriList, std::nullopt},
    {"NonHexEscape", "file:///a%zz", ListFormat::uriList, std::nullopt},
    {"EncodedNul", "file:///a%00b", ListFormat::uriList, std::nullopt},
    {"EncodedSlash", "file:///a%2Fb", ListFormat::uriList, std::nullopt},
    // Cutting at a raw "#" would name another file, often a parent folder.
    {"RawHash", "file:///ok\nfile:///home/u/C#/notes.txt", ListFormat::uriList, std::nullopt},
    {"RawHashOnOtherHost", "file:///ok\nfile://server/a#b", ListFormat::uriList, std::nullopt},
    {"EmptyPath", "file://", ListFormat::uriList, std::nullopt},
    {"HostWithoutPath", "file://localhost", ListFormat::uriList, std::nullopt},
    {"RelativePath", "file:tmp/a", ListFormat::uriList, std::nullopt},
    {"NotAUri", "/tmp/a.txt", ListFormat::uriList, std::nullopt},
    {"ControlCharacter", "file:///a\tb", ListFormat::uriList, std::nullopt},
    {"RawHashFarIntoAPath", "file:///home/user/Documents/Projects/C#/notes.txt",
     ListFormat::uriList, std::nullopt},
    {"DeleteFarIntoAPath",
     "file:///home/user/Documents/Projects/a\x7f"
     "b/notes.txt",
     ListFormat::uriList, std::nullopt},
    {"NulInsideList", std::string("file:///a\0\nfile:///b", 20), ListFormat::uriList, std::nullopt},

    // the copied-files format of GNOME and MATE file managers
    {"CopiedFiles",
     "copy\nfile:///tmp/a.txt\nfile:///tmp/b%20c.txt",
     ListFormat::copiedFiles,
     {{"/tmp/a.txt", "/tmp/b c.txt"}}},
    {"CutFiles", "cut\nfile:///a\n", ListFormat::copiedFiles, {{"/a"}}},
    {"CopyWithoutFiles", "copy", ListFormat::copiedFiles, {std::vector<std::string>{}}},
    {"UnknownOperation", "move\nfile:///a", ListFormat::copiedFiles, std::nullopt},
    {"UriListIsNotCopiedFiles", "file:///a\nfile:///b", ListFormat::copiedFiles, std::nullopt},
};

class DecodeFileList : public ::testing::TestWithParam<DecodeCase> {};

Paths pathsOf(const std::optional<FileURLPaths>& urls) {
  if (!urls) return std::nullopt;
  std::vector<std::string> paths;
  for (std::string_view joined = urls->joined(); !joined.empty();) {
    const std::size_t end = joined.find('\0');
    paths.emplace_back(joined.substr(0, end));
    joined.remove_prefix(end + 1);
  }
  EXPECT_EQ(paths.size(), urls->size());
  return paths;
}

TEST_P(DecodeFileList, GivesThePathsOrNothing) {
  EXPECT_EQ(pathsOf(decodeFileList(GetParam().text, GetParam().format, host)), GetParam().paths);
}

// The bytes arrive in pieces that end anywhere: in a scheme, a host, an escape, between a CR
// and its LF, before a final NUL. Every split of every case decodes as the whole list does.
TEST_P(DecodeFileList, GivesTheSameInAnyPieces) {
  const std::string& text = GetParam().text;
  for (std::size_t first = 0; first <= text.size(); ++first) {
    for (std::size_t second = first; second <= text.size(); ++second) {
      FileListDecoder decoder(GetParam().format, host);
      decoder.add(std::string_view(text).substr(0, first));
      decoder.add(std::string_view(text).substr(first, second - first));
      decoder.add(std::string_view(text).substr(second));
      EXPECT_EQ(pathsOf(std::move(decoder).finish()), GetParam().paths)
          << "pieces end at " << first << " and " << second;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeFileList, ::testing::ValuesIn(decodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The escape rule on its own, as the macOS reader applies it to a URL's escaped path: the same
// answer as decoding a list with that path gives.
struct EscapeCase {
  const char* name;
  std::string path;
  bool valid;
};
void PrintTo(const EscapeCase& c, std::ostream* os) {
  *os << c.name;
}

const EscapeCase escapeCases[] = {
    {"NoEscapes", "/tmp/a b/é", true},
    {"SpaceUtf8AndRawBytes", "/b%20c/caf%C3%a9/latin%E9", true},
    {"EscapedPercentSign", "/100%252F", true},
    {"EncodedNul", "/a%00b", false},
    {"EncodedSlash", "/a%2Fb", false},
    {"LowerCaseEncodedSlash", "/a%2fb", false},
    {"LaterEscapeChecked", "/a%20b%2F", false},
    {"TruncatedEscape", "/a%2", false},
    {"NonHexEscape", "/a%zz", false},
};

class PathEscapes : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(PathEscapes, AreValidWhenDecodingKeepsTheFile) {
  EXPECT_EQ(hasValidPathEscapes(GetParam().path), GetParam().valid);
  EXPECT_EQ(decodeFileList("file://" + GetParam().path, ListFormat::uriList, host).has_value(),
            GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathEscapes, ::testing::ValuesIn(escapeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
