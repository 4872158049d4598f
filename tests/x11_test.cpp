// The tool end to end against a real X server (Xvfb) and real clipboard owners.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/x11.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class X11Clipboard : public ::testing::Test {
 protected:
  Environment environment() const {
    return Environment::current().set("DISPLAY", server.display()).unset("WAYLAND_DISPLAY");
  }

  RunResult runTool(std::vector<std::string> args = {}, Output output = Output::capture) const {
    args.insert(args.begin(), CLIPFILES_BINARY);
    return run(args, environment(), output);
  }

  // xclip owning the clipboard with `content` as `type`. xclip answers a request for any
  // target with this data, labelled with `type`.
  Background ownWithXclip(const std::string& type, const std::string& content) {
    const std::string file = files.write("xclip-" + std::to_string(++written), content);
    const std::uint32_t before = clipboardOwner(server.display());
    Background owner({"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i", file},
                     environment());
    if (waitForClipboardOwner(server.display(), before) == 0) ADD_FAILURE() << "xclip never owned";
    return owner;
  }

  // Our own owner: offers exactly the given types and refuses the rest.
  Background ownWithOwner(const std::vector<std::pair<std::string, std::string>>& offers,
                          std::vector<std::string> flags = {}) {
    std::vector<std::string> argv{X11_OWNER_BINARY};
    argv.insert(argv.end(), flags.begin(), flags.end());
    for (const auto& [type, content] : offers) {
      argv.push_back(type + "=" + files.write("offer-" + std::to_string(++written), content));
    }
    Background owner(argv, environment());
    if (owner.readLine(5s) != "ready") ADD_FAILURE() << "x11_owner did not start";
    return owner;
  }

  static void expectOutput(const RunResult& result, const std::string& json) {
    EXPECT_EQ(result.out, json);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
  }

  // A failed run: the status, one line on standard error containing `message`, nothing printed.
  static void expectFailure(const RunResult& result, int status, const std::string& message) {
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("clipfiles: ")) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  }

  Xvfb server;
  TemporaryDirectory files;
  int written = 0;
};

struct ListCase {
  const char* name;
  const char* uriList;
  const char* json;
};
void PrintTo(const ListCase& c, std::ostream* os) {
  *os << c.name;
}

const ListCase listCases[] = {
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
};

class X11FileLists : public X11Clipboard, public ::testing::WithParamInterface<ListCase> {};

TEST_P(X11FileLists, UriListFromXclip) {
  const Background owner = ownWithXclip("text/uri-list", GetParam().uriList);
  expectOutput(runTool(), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Lists, X11FileLists, ::testing::ValuesIn(listCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct OfferCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> offers;
  const char* json;
};
void PrintTo(const OfferCase& c, std::ostream* os) {
  *os << c.name;
}

const OfferCase offerCases[] = {
    {"GnomeCopiedFilesOnly",
     {{"x-special/gnome-copied-files", "copy\nfile:///tmp/a.txt\nfile:///tmp/b%20c.txt"}},
     R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])"},
    {"MateCopiedFilesOnly",
     {{"x-special/mate-copied-files", "cut\nfile:///srv/x\n"}},
     R"(["\/srv\/x"])"},
    {"UriListPreferred",
     {{"x-special/gnome-copied-files", "copy\nfile:///gnome"},
      {"text/uri-list", "file:///uri\r\n"}},
     R"(["\/uri"])"},
    {"TrailingNulTolerated", {{"text/uri-list", std::string("file:///n\r\n\0", 12)}}, R"(["\/n"])"},
    {"TextOnly",
     {{"UTF8_STRING", "file:///etc/passwd"}, {"text/plain", "file:///etc/passwd"}},
     "[]"},
};

class X11Offers : public X11Clipboard, public ::testing::WithParamInterface<OfferCase> {};

TEST_P(X11Offers, ChoosesTheFileListTarget) {
  const Background owner = ownWithOwner(GetParam().offers);
  expectOutput(runTool(), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Targets, X11Offers, ::testing::ValuesIn(offerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(X11Clipboard, NoOwnerGivesEmptyList) {
  expectOutput(runTool(), "[]");
}

// xclip labels whatever it is asked for with its own type: text that looks like a URI list
// must not be taken for one.
TEST_F(X11Clipboard, TextFromXclipIsNotAFileList) {
  const Background owner = ownWithXclip("UTF8_STRING", "file:///etc/passwd\n");
  expectOutput(runTool(), "[]");
}

// Both owners switch to INCR for data this large: xclip above its own threshold, ours above 64 KiB.
TEST_F(X11Clipboard, LargeListsArriveIncrementally) {
  std::string list;
  std::string json = "[";
  for (int i = 0; i < 20000; ++i) {
    const std::string dir = "/home/user/Projects/project " + std::to_string(i % 97) + "/src";
    const std::string name = "fichier-" + std::to_string(i) + ".txt";
    list += "file://" + dir + "/" + name + "\r\n";
    json += std::string(i == 0 ? "" : ",") + "\"";
    for (char ch : dir + "/" + name) json += ch == '/' ? std::string("\\/") : std::string(1, ch);
    json += "\"";
  }
  json += "]";
  for (std::size_t at; (at = list.find(' ')) != std::string::npos;) list.replace(at, 1, "%20");
  ASSERT_GT(list.size(), std::size_t{1} << 20);
  {
    const Background owner = ownWithXclip("text/uri-list", list);
    expectOutput(runTool(), json);
  }
  const Background owner = ownWithOwner({{"text/uri-list", list}});
  expectOutput(runTool(), json);
}

TEST_F(X11Clipboard, ArgumentsIgnoredRunsRepeatableClipboardUnchanged) {
  const std::string list = "file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt\r\n";
  const Background owner = ownWithXclip("text/uri-list", list);
  const std::uint32_t ownerWindow = clipboardOwner(server.display());
  const std::vector<std::vector<std::string>> argumentSets{{}, {"--help"}, {"-o", "x", "--"}};
  for (const auto& args : argumentSets) {
    expectOutput(runTool(args), R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])");
  }
  EXPECT_EQ(clipboardOwner(server.display()), ownerWindow);
  const RunResult readBack =
      run({"xclip", "-o", "-selection", "clipboard", "-t", "text/uri-list"}, environment());
  EXPECT_EQ(readBack.out, list);
}

TEST_F(X11Clipboard, PathNotUtf8IsAnError) {
  const Background owner =
      ownWithXclip("text/uri-list", "file:///tmp/ok\r\nfile:///tmp/caf%E9\r\n");
  expectFailure(runTool(), 65, R"(the path "/tmp/caf\xe9" is not valid UTF-8)");
}

TEST_F(X11Clipboard, OutputThatCannotBeWrittenIsAnError) {
  const Background owner = ownWithXclip("text/uri-list", "file:///tmp/a.txt\r\n");
  expectFailure(runTool({}, Output::closed), 74, "cannot write to standard output");
  expectFailure(runTool({}, Output::devFull), 74, "No space left on device");
}

TEST_F(X11Clipboard, SilentOwnerEndsTheRunInBoundedTime) {
  const Background owner = ownWithOwner({{"text/uri-list", "file:///a\r\n"}}, {"--silent"});
  const RunResult result = runTool();
  expectFailure(result, 75, "did not answer within 2 seconds");
  EXPECT_LT(result.elapsed, 10s);
}

struct DisplayCase {
  const char* name;
  const char* display;  // nullptr: unset
  const char* message;
};
void PrintTo(const DisplayCase& c, std::ostream* os) {
  *os << c.name;
}

const DisplayCase displayCases[] = {
    {"Unset", nullptr, "DISPLAY is not set"},
    {"Unreachable", ":4242", "cannot connect to the X display \":4242\""},
    {"NotADisplayName", "no-such-display", "not a valid display name"},
};

class X11DisplayErrors : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(X11DisplayErrors, NoDisplayIsAnError) {
  Environment environment = Environment::current().unset("WAYLAND_DISPLAY");
  if (GetParam().display == nullptr) {
    environment.unset("DISPLAY");
  } else {
    environment.set("DISPLAY", GetParam().display);
  }
  const RunResult result = run({CLIPFILES_BINARY}, environment);
  EXPECT_EQ(result.status, 69);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(Displays, X11DisplayErrors, ::testing::ValuesIn(displayCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
