// The tool end to end against a real X server (Xvfb) and real clipboard owners.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "clipboard_cases.h"
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

  Background ownWithXclip(const std::string& type, const std::string& content) {
    return startXclip(environment(), server.display(), type, files.write(content));
  }

  // Our own owner: offers exactly the given types.
  Background ownWithOwner(const std::vector<std::pair<std::string, std::string>>& offers,
                          const std::vector<std::string>& flags = {}) {
    return startOwner(X11_OWNER_BINARY, environment(), files, offers, flags);
  }

  Xvfb server;
  TemporaryDirectory files;
};

class X11FileLists : public X11Clipboard, public ::testing::WithParamInterface<ListCase> {};

TEST_P(X11FileLists, UriListFromXclip) {
  const Background owner = ownWithXclip("text/uri-list", GetParam().uriList);
  expectOutput(runTool(), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Lists, X11FileLists, ::testing::ValuesIn(listCases),
                         [](const auto& info) { return std::string(info.param.name); });

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
  const auto [list, json] = largeFileList();
  ASSERT_GT(list.size(), std::size_t{1} << 20);
  {
    const Background owner = ownWithXclip("text/uri-list", list);
    expectOutput(runTool(), json);
  }
  const Background owner = ownWithOwner({{"text/uri-list", list}});
  expectOutput(runTool(), json);
}

TEST_F(X11Clipboard, ArgumentsIgnoredRunsRepeatableClipboardUnchanged) {
  const Background owner = ownWithXclip("text/uri-list", typicalList);
  const std::uint32_t ownerWindow = clipboardOwner(server.display());
  const std::vector<std::vector<std::string>> argumentSets{{}, {"--help"}, {"-o", "x", "--"}};
  for (const auto& args : argumentSets) expectOutput(runTool(args), typicalJson);
  EXPECT_EQ(clipboardOwner(server.display()), ownerWindow);
  const RunResult readBack =
      run({"xclip", "-o", "-selection", "clipboard", "-t", "text/uri-list"}, environment());
  EXPECT_EQ(readBack.out, typicalList);
}

TEST_F(X11Clipboard, PathNotUtf8IsAnError) {
  const Background owner =
      ownWithXclip("text/uri-list", "file:///tmp/ok\r\nfile:///tmp/caf%E9\r\n");
  expectFailure(runTool(), 65, R"(the path "/tmp/caf\xe9" is not valid UTF-8)");
}

// Output is written whole or the run fails: nothing is lost and no failure looks like success.
TEST_F(X11Clipboard, OutputFaults) {
  const auto [list, json] = largeFileList(2000);  // more than a pipe holds
  const Background owner = ownWithXclip("text/uri-list", list);
  expectFailure(runTool({}, Output::closed), 74,
                "cannot write to standard output: Bad file descriptor");
  expectFailure(runTool({}, Output::devFull), 74,
                "cannot write to standard output: No space left on device");
  // A reader that has gone ends the run by SIGPIPE, as in any pipeline.
  const RunResult broken = runTool({}, Output::brokenPipe);
  EXPECT_EQ(broken.signal, SIGPIPE);
  EXPECT_EQ(broken.err, "");
  expectOutput(runTool({}, Output::slowPipe), json);
}

const HostileCase hostileCases[] = {
    {"NeverAnswers", {"--silent"}, 75, "did not answer within 2 seconds"},
    {"SixteenBitItems", {"--format=16"}, 65, "sent text/uri-list as 16-bit items"},
    {"AtomData", {"--type=ATOM", "--format=32"}, 65, "sent text/uri-list as 32-bit items"},
    {"IncrStalls", {"--incr=stall"}, 75, "stopped sending data within 2 seconds"},
    {"IncrEndless", {"--incr=endless"}, 65, "more than 256 MiB"},
    {"IncrOwnerDies", {"--incr=die"}, 75, "stopped sending data within 2 seconds", false},
    {"AnnouncesGiganticSize", {"--announce=4294967295"}, 65, "more than 256 MiB"},
    {"JunkTargetsThenValidData", {"--junk-targets"}, 0, typicalJson},
    {"TextLabelOnListedTarget", {"--type=UTF8_STRING"}, 0, typicalJson},
    {"IncrTrickles", {"--incr=trickle"}, 75, wholeReadMessage, true, wholeReadTimeBound},
};

class X11HostileOwners : public X11Clipboard, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(X11HostileOwners, EndInBoundedTimeAndLeaveTheClipboard) {
  const Background owner = ownWithOwner({{"text/uri-list", typicalList}}, GetParam().flags);
  const std::uint32_t ownerWindow = clipboardOwner(server.display());
  expectEnding(runTool(), GetParam());
  if (GetParam().ownerSurvives) {
    EXPECT_EQ(clipboardOwner(server.display()), ownerWindow);
  }
}

INSTANTIATE_TEST_SUITE_P(Owners, X11HostileOwners, ::testing::ValuesIn(hostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An empty list is the same whether it comes in one piece or by INCR.
TEST_F(X11Clipboard, EmptyListByIncr) {
  const Background owner = ownWithOwner({{"text/uri-list", ""}}, {"--incr=always"});
  expectOutput(runTool(), "[]");
  const Background small = ownWithOwner({{"text/uri-list", typicalList}}, {"--incr=always"});
  expectOutput(runTool(), typicalJson);
}

// The data and the TARGETS that vouch for it must come from one owner. Here the first owner
// holds only text, which it labels as whatever is asked for, as xclip does; as it answers,
// another program takes the clipboard with a real file list.
TEST_F(X11Clipboard, OwnerChangesMidRead) {
  const std::vector<std::pair<std::string, std::string>> text{
      {"UTF8_STRING", "file:///etc/passwd\n"}};
  const std::string handOver = "--hand-over=text/uri-list=" + files.write(typicalList);
  {
    const Background owner = ownWithOwner(text, {"--any-target", "--type=UTF8_STRING", handOver});
    expectOutput(runTool(), typicalJson);
  }
  // A clipboard that changes hands again while it is read anew is not read at all.
  const std::uint32_t before = clipboardOwner(server.display());
  const Background owner =
      ownWithOwner(text, {"--any-target", "--type=UTF8_STRING", handOver, handOver});
  ASSERT_NE(clipboardOwner(server.display()), before);
  expectFailure(runTool(), 75, "the clipboard changed hands while it was being read, twice");
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
    {"Unset", nullptr, "neither WAYLAND_DISPLAY nor DISPLAY is set"},
    {"Unreachable", ":4242", "cannot connect to the X display \":4242\""},
    {"NotADisplayName", "no-such-display", "not a valid display name"},
    // A name that would forge a second line is shown escaped.
    {"LineBreakInName", ":4242\nclipfiles: forged", R"(X display ":4242\x0aclipfiles: forged")"},
};

class X11DisplayErrors : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(X11DisplayErrors, NoDisplayIsAnError) {
  // Without XDG_RUNTIME_DIR there is no default Wayland display to try either.
  Environment environment = Environment::current()
                                .unset("WAYLAND_DISPLAY")
                                .unset("WAYLAND_SOCKET")
                                .unset("XDG_RUNTIME_DIR");
  if (GetParam().display == nullptr) {
    environment.unset("DISPLAY");
  } else {
    environment.set("DISPLAY", GetParam().display);
  }
  expectFailure(run({CLIPFILES_BINARY}, environment), 69, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Displays, X11DisplayErrors, ::testing::ValuesIn(displayCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A server that accepts the connection and never answers it, as an X server hung while it
// starts does, is given up on like any silent owner.
TEST(X11Server, SilentServerIsGivenUpOn) {
  const SilentXServer silent;
  const RunResult result =
      run({CLIPFILES_BINARY},
          Environment::current().unset("WAYLAND_DISPLAY").set("DISPLAY", silent.display()));
  expectFailure(result, 75,
                "the X display \"" + silent.display() + "\" did not answer within 2 seconds");
  EXPECT_LT(result.elapsed, hostileTimeBound);
}

// A server that refuses a client without its cookie: the server's reason is in the tool's one
// line, and nothing else reaches standard error.
TEST(X11Server, RefusalReasonInTheOneLine) {
  const TemporaryDirectory files;
  const std::string cookie = writeAuthorityFile(files);
  const Xvfb server({"-auth", cookie});
  const Environment environment =
      Environment::current().unset("WAYLAND_DISPLAY").set("DISPLAY", server.display());
  expectOutput(run({CLIPFILES_BINARY}, Environment(environment).set("XAUTHORITY", cookie)), "[]");
  expectFailure(run({CLIPFILES_BINARY},
                    Environment(environment).set("XAUTHORITY", files.path() + "/no-such-file")),
                69,
                "cannot connect to the X display \"" + server.display() +
                    "\": the server refused the connection: Authorization required");
}

}  // namespace
