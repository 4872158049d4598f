// The tool built with the macOS pasteboard reader on GNUstep, end to end: a private GNUstep
// pasteboard server (gpbs) per test, file names put on it the way GNUstep programs copy files,
// and the real binary reading them back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "clipboard_cases.h"
#include "support/process.h"

namespace {

using namespace testing_support;

class GnustepPasteboard : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(home());
    // gpbs and its clients meet through name files under GNUstep's temporary directory, taken
    // from TEMP or TMP: one of our own keeps this server apart from any other on the machine.
    server.emplace(std::vector<std::string>{"gpbs", "--no-fork"}, environment());
    const RunResult ready = runWriter({"--wait"});
    ASSERT_EQ(ready.status, 0) << ready.err;
  }

  std::string home() const { return directory.path() + "/home"; }

  Environment environment() const {
    return Environment::current()
        .set("HOME", home())
        .set("TEMP", directory.path())
        .set("TMP", directory.path())
        .set("TMPDIR", directory.path())
        .unset("DISPLAY")
        .unset("WAYLAND_DISPLAY");
  }

  RunResult runWriter(std::vector<std::string> args) const {
    args.insert(args.begin(), PASTEBOARD_WRITER_BINARY);
    return run(args, environment());
  }

  // Puts what `args` says on the general pasteboard; see pasteboard_writer.mm.
  void writePasteboard(const std::vector<std::string>& args) const {
    const RunResult written = runWriter(args);
    EXPECT_EQ(written.status, 0) << written.err;
  }

  std::string changeCount() const { return runWriter({"--change-count"}).out; }

  RunResult runTool() const { return run({CLIPFILES_BINARY}, environment()); }

  TemporaryDirectory directory;
  std::optional<Background> server;  // stopped by its PID when the test ends
};

// What is put on the pasteboard, and how a run must end: the exact output, or when `status`
// is not 0, that status and a part of the message.
struct PasteboardCase {
  const char* name;
  std::vector<std::string> written;  // pasteboard_writer's arguments
  const char* expected;
  int status = 0;
};
void PrintTo(const PasteboardCase& c, std::ostream* os) {
  *os << c.name;
}

const PasteboardCase pasteboardCases[] = {
    {"TypicalCopy",
     {"file=/tmp/a.txt", "file=/tmp/b c.txt"},
     R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])"},
    {"NonAsciiQuotesBackslashes",
     {"file=/tmp/café/日本 📁", R"(file=/tmp/say "hi"/back\slash)"},
     R"(["\/tmp\/café\/日本 📁","\/tmp\/say \"hi\"\/back\\slash"])"},
    {"OrderAndDuplicatesKept",
     {"file=/b", "file=/a", "file=/b", "file=/c"},
     R"(["\/b","\/a","\/b","\/c"])"},
    {"DirectoriesWithoutTrailingSlash", {"file=/", "file=/tmp"}, R"(["\/","\/tmp"])"},
    {"TextOnly", {"text=file:///etc/passwd"}, "[]"},
    {"FilesTakenOverText", {"text=/etc/passwd", "file=/tmp/a.txt"}, R"(["\/tmp\/a.txt"])"},
    {"FileUrl", {"url=file:///tmp/b%20c.txt"}, R"(["\/tmp\/b c.txt"])"},
    {"WebUrlIsNotAFile", {"url=https://example.com/a.txt"}, "[]"},
    {"EmptiedByAnotherProgram", {}, "[]"},
    // An escape that would name another file refuses the list, as on Linux; the same
    // characters unescaped in a name are just characters.
    {"EncodedNulRefused", {"url=file:///tmp/a%00b.txt"}, "[]"},
    {"EncodedSlashRefused", {"url=file:///tmp/a%2Fb.txt"}, "[]"},
    {"LowerCaseEncodedSlashRefused", {"url=file:///tmp/a%2fb.txt"}, "[]"},
    {"PercentSignsInNamesKept",
     {"file=/tmp/100%2F", "file=/tmp/a%00b"},
     R"(["\/tmp\/100%2F","\/tmp\/a%00b"])"},
    // A file URL that names no path (here its bytes are not UTF-8) is a copied file that
    // cannot be found, not an empty list.
    {"UrlWithoutPath",
     {"url=file:///tmp/%FF.txt"},
     "the pasteboard's file URL 1 (file:///tmp/%FF.txt) names no path",
     65},
};

class GnustepPasteboardCases : public GnustepPasteboard,
                               public ::testing::WithParamInterface<PasteboardCase> {};

TEST_P(GnustepPasteboardCases, PrintsTheCopiedFilesOrFails) {
  writePasteboard(GetParam().written);
  if (GetParam().status == 0) {
    expectOutput(runTool(), GetParam().expected);
  } else {
    expectFailure(runTool(), GetParam().status, GetParam().expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Pasteboards, GnustepPasteboardCases, ::testing::ValuesIn(pasteboardCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GnustepPasteboard, NothingEverCopiedGivesEmptyList) {
  expectOutput(runTool(), "[]");
}

// The pasteboard server dies while the tool waits for it to hand over the file names: AppKit
// raises, and the tool ends with its one line instead of aborting.
TEST_F(GnustepPasteboard, ServerLostDuringTheReadIsReported) {
  Background owner(
      {PASTEBOARD_WRITER_BINARY, "--kill-server-on-read", std::to_string(server->pid())},
      environment());
  ASSERT_EQ(owner.readLine(std::chrono::seconds(10)), "ready");
  expectFailure(runTool(), 69,
                "the pasteboard server could not be reached or went away "
                "(NSPasteboardCommunicationException: ");
}

TEST_F(GnustepPasteboard, ReadingLeavesThePasteboardAlone) {
  writePasteboard({"file=/tmp/a.txt", "text=a.txt"});
  const std::string before = changeCount();
  ASSERT_NE(before, "");
  for (int run = 0; run < 2; ++run) expectOutput(runTool(), R"(["\/tmp\/a.txt"])");
  EXPECT_EQ(changeCount(), before);
}

}  // namespace
