// What every clipboard backend is tested against: file lists as owners put them on a
// clipboard with the exact output each must give, and what a run must look like.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"

namespace testing_support {

struct ListCase {
  const char* name;
  std::string uriList;
  std::string json;
};
inline void PrintTo(const ListCase& c, std::ostream* os) {
  *os << c.name;
}

inline const ListCase listCases[] = {
    {"TypicalCopy", "file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt\r\n",
     R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])"},
    {"QuotesBackslashesNonAscii",
     "file:///tmp/say%20%22hi%22/back%5Cslash/caf%C3%A9/%E6%97%A5%E6%9C%AC%20%F0%9F%93%81\r\n",
     R"(["\/tmp\/say \"hi\"\/back\\slash\/café\/日本 📁"])"},
    {"OrderAndDuplicatesKept", "file:///b\r\nfile:///a\r\nfile:///b\r\n", R"(["\/b","\/a","\/b"])"},
    {"LfCommentsOtherSchemesDirectories",
     "# copied\nhttp://example.com/x\nfile://localhost/home/u/Documents/\nfile:/etc/hosts\n",
     R"(["\/home\/u\/Documents","\/etc\/hosts"])"},
    {"MalformedEntryDropsWholeList", "file:///ok\r\nfile:///bad%zz\r\n", "[]"},
    {"OnlyOtherSchemes", "https://example.com/a\r\n", "[]"},
    // Names that are hard on JSON and on terminals are written so they decode back exactly.
    {"ControlCharactersAndLineBreaks", "file:///tmp/line%0Abreak/tab%09bell%07/cr%0D\r\n",
     R"(["\/tmp\/line\nbreak\/tab\tbell\u0007\/cr\r"])"},
    {"LineSeparatorKeptRaw", "file:///a%E2%80%A8b\r\n", "[\"\\/a\u2028b\"]"},
    {"VeryLongName", "file:///long/" + std::string(5000, 'n') + "\r\n",
     R"(["\/long\/)" + std::string(5000, 'n') + R"("])"},
    // A name that no file can have refuses the whole list.
    {"EncodedNulRefused", "file:///fine\r\nfile:///a%00b\r\n", "[]"},
    {"EncodedSlashRefused", "file:///fine\r\nfile:///a%2Fb\r\n", "[]"},
    // File managers escape "#" and "?": raw, neither ends the path early.
    {"RawHashRefused", "file:///fine\r\nfile:///home/u/C#/notes.txt\r\n", "[]"},
    {"RawQuestionMarkKept", "file:///tmp/what?.txt\r\n", R"(["\/tmp\/what?.txt"])"},
};

// The typical copy: two files, one with a space in its name.
inline const std::string typicalList = "file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt\r\n";
inline const std::string typicalJson = R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])";

// Owners that offer given types, each with its content, and the output each must give: the
// file-list types are preferred in order, and text is never taken for a list.
struct OfferCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> offers;
  const char* json;
};
inline void PrintTo(const OfferCase& c, std::ostream* os) {
  *os << c.name;
}

inline const OfferCase offerCases[] = {
    {"GnomeCopiedFilesOnly",
     {{"x-special/gnome-copied-files", "copy\nfile:///tmp/a.txt\nfile:///tmp/b%20c.txt"}},
     R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])"},
    {"MateCopiedFilesOnly",
     {{"x-special/mate-copied-files", "cut\nfile:///srv/x\n"}},
     R"(["\/srv\/x"])"},
    {"UriListPreferred",
     {{"x-special/gnome-copied-files", "copy\nfile:///gnome"},
      {"text/uri-list", "file:///uri\r\n"},
      {"text/plain", "file:///text"}},
     R"(["\/uri"])"},
    {"TrailingNulTolerated", {{"text/uri-list", std::string("file:///n\r\n\0", 12)}}, R"(["\/n"])"},
    {"TextOnly",
     {{"UTF8_STRING", "file:///etc/passwd"}, {"text/plain;charset=utf-8", "file:///etc/passwd"}},
     "[]"},
};

// A list of `count` files and its output. 100,000 files make 6 MiB, which owners send in many
// chunks.
inline std::pair<std::string, std::string> largeFileList(int count = 100000) {
  std::string list;
  std::string json = "[";
  for (int i = 0; i < count; ++i) {
    const std::string path = "/home/user/Projects/project " + std::to_string(i % 97) +
                             "/src/fichier-" + std::to_string(i) + ".txt";
    list += "file://";
    json += i == 0 ? "\"" : ",\"";
    for (char c : path) {
      list += c == ' ' ? std::string("%20") : std::string(1, c);
      json += c == '/' ? std::string("\\/") : std::string(1, c);
    }
    list += "\r\n";
    json += "\"";
  }
  return {list, json + "]"};
}

// Bounds that hold whatever an owner does: time well beyond the 2-second idle limit, and
// memory within twice the 256 MiB size cap plus the program itself (the buffer may double).
// AddressSanitizer keeps freed buffers resident for a while, so its builds get more room.
constexpr std::chrono::seconds hostileTimeBound{10};
#ifdef CLIPFILES_SANITIZED
constexpr long hostilePeakBoundKiB = (3 * 256 + 64) * 1024;
#else
constexpr long hostilePeakBoundKiB = (2 * 256 + 64) * 1024;
#endif
// An owner that keeps sending slowly is cut off by the 30-second bound of a whole read.
constexpr std::chrono::seconds wholeReadTimeBound{40};
inline const std::string wholeReadMessage =
    "did not finish handing over the clipboard within 30 seconds";

// A misbehaving owner, by the flags that make it so, and how a run must end: the exact output
// when the data it does send is valid, or the status and a part of the message.
struct HostileCase {
  const char* name;
  std::vector<std::string> flags;
  int status;
  std::string expected;
  bool ownerSurvives = true;
  std::chrono::seconds timeBound = hostileTimeBound;
};
inline void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.name;
}

inline void expectOutput(const RunResult& result, const std::string& json) {
  EXPECT_EQ(result.out, json);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

// A failed run: the status, one line on standard error containing `message`, nothing printed.
inline void expectFailure(const RunResult& result, int status, const std::string& message) {
  EXPECT_EQ(result.status, status);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(result.err.starts_with("clipfiles: ")) << result.err;
  EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
}

inline void expectEnding(const RunResult& result, const HostileCase& hostile) {
  if (hostile.status == 0) {
    expectOutput(result, hostile.expected);
  } else {
    expectFailure(result, hostile.status, hostile.expected);
  }
  EXPECT_LT(result.elapsed, hostile.timeBound);
  EXPECT_LT(result.peakKiB, hostilePeakBoundKiB);
  ::testing::Test::RecordProperty("elapsed_ms", static_cast<int>(result.elapsed.count()));
  ::testing::Test::RecordProperty("peak_kib", static_cast<int>(result.peakKiB));
}

// Starts `program`, one of our clipboard owners, offering each type with its content and
// with `flags`, and waits until it says that it owns the clipboard.
inline Background startOwner(const std::string& program, const Environment& environment,
                             const TemporaryDirectory& files,
                             const std::vector<std::pair<std::string, std::string>>& offers,
                             const std::vector<std::string>& flags) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), flags.begin(), flags.end());
  for (const auto& [type, content] : offers) argv.push_back(type + "=" + files.write(content));
  Background owner(argv, environment);
  if (owner.readLine(std::chrono::seconds(5)) != "ready")
    ADD_FAILURE() << program << " did not start";
  return owner;
}

}  // namespace testing_support
