// The tool end to end against real Wayland compositors: headless sway with wl-copy and an owner
// of our own, a fixture server for the ext protocol, Weston for a compositor without
// data-control; and the choice between Wayland and X11.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "clipboard_cases.h"
#include "support/process.h"
#include "support/wayland.h"
#include "support/x11.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

RunResult runTool(const Environment& environment, std::vector<std::string> args = {}) {
  args.insert(args.begin(), CLIPFILES_BINARY);
  return run(args, environment);
}

class SwayClipboard : public ::testing::Test {
 protected:
  Environment environment() const {
    return Environment::current().unset("DISPLAY").set("WAYLAND_DISPLAY", sway.socket());
  }

  Background ownWithWlCopy(const std::string& type, const std::string& content) {
    return startWlCopy(environment(), type, files.write(content));
  }

  // Our own owner: offers exactly the given types.
  Background ownWithOwner(const std::vector<std::pair<std::string, std::string>>& offers,
                          const std::vector<std::string>& flags = {}) {
    return startOwner(WAYLAND_OWNER_BINARY, environment(), files, offers, flags);
  }

  Sway sway;
  TemporaryDirectory files;
};

// A client that a compositor starts with a connection of its own reads through it.
TEST_F(SwayClipboard, InheritedConnection) {
  const Background owner = ownWithWlCopy("text/uri-list", typicalList);
  const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(sway.socket().size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, sway.socket().data(), sway.socket().size());
  ASSERT_EQ(::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const RunResult result =
      run({CLIPFILES_BINARY}, environment().unset("WAYLAND_DISPLAY").set("WAYLAND_SOCKET", "3"),
          Output::capture, 60s, connection);
  ::close(connection);
  expectOutput(result, typicalJson);
}

class SwayFileLists : public SwayClipboard, public ::testing::WithParamInterface<ListCase> {};

TEST_P(SwayFileLists, UriListFromWlCopy) {
  const Background owner = ownWithWlCopy("text/uri-list", GetParam().uriList);
  expectOutput(runTool(environment()), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Lists, SwayFileLists, ::testing::ValuesIn(listCases),
                         [](const auto& info) { return std::string(info.param.name); });

class SwayOffers : public SwayClipboard, public ::testing::WithParamInterface<OfferCase> {};

TEST_P(SwayOffers, ChoosesTheFileListType) {
  const Background owner = ownWithOwner(GetParam().offers);
  expectOutput(runTool(environment()), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Types, SwayOffers, ::testing::ValuesIn(offerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SwayClipboard, NoSelectionGivesEmptyList) {
  expectOutput(runTool(environment()), "[]");
}

TEST_F(SwayClipboard, TextFromWlCopyIsNotAFileList) {
  const Background owner = ownWithWlCopy("text/plain", "file:///etc/passwd\n");
  expectOutput(runTool(environment()), "[]");
}

TEST_F(SwayClipboard, LargeList) {
  const auto [list, json] = largeFileList();
  const Background owner = ownWithWlCopy("text/uri-list", list);
  expectOutput(runTool(environment()), json);
}

TEST_F(SwayClipboard, ArgumentsIgnoredRunsRepeatableSelectionUnchanged) {
  const Background owner = ownWithWlCopy("text/uri-list", typicalList);
  const std::string types = run({"wl-paste", "-l"}, environment()).out;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"--help"}, {"-x", "y"}}) {
    expectOutput(runTool(environment(), args), typicalJson);
  }
  EXPECT_EQ(run({"wl-paste", "-l"}, environment()).out, types);
  EXPECT_EQ(run({"wl-paste", "-n", "-t", "text/uri-list"}, environment()).out, typicalList);
}

TEST_F(SwayClipboard, PathNotUtf8IsAnError) {
  const Background owner =
      ownWithWlCopy("text/uri-list", "file:///tmp/ok\r\nfile:///tmp/caf%E9\r\n");
  expectFailure(runTool(environment()), 65, R"(the path "/tmp/caf\xe9" is not valid UTF-8)");
}

const HostileCase hostileCases[] = {
    {"NeverWrites", {"--silent"}, 75, "did not send the file list within 2 seconds"},
    {"WritesForever", {"--endless"}, 65, "more than 256 MiB"},
    {"ClosesEarly", {"--close-early"}, 0, "[]"},
    {"Trickles", {"--trickle"}, 75, wholeReadMessage, true, wholeReadTimeBound},
};

class SwayHostileOwners : public SwayClipboard,
                          public ::testing::WithParamInterface<HostileCase> {};

TEST_P(SwayHostileOwners, EndInBoundedTimeAndLeaveTheSelection) {
  const Background owner = ownWithOwner({{"text/uri-list", typicalList}}, GetParam().flags);
  const std::string types = run({"wl-paste", "-l"}, environment()).out;
  expectEnding(runTool(environment()), GetParam());
  EXPECT_EQ(run({"wl-paste", "-l"}, environment()).out, types);
}

INSTANTIATE_TEST_SUITE_P(Owners, SwayHostileOwners, ::testing::ValuesIn(hostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The ext protocol over a real socket, served by our fixture server. Its arguments name the
// offered types' contents as {list}, {copied} and {text}.
const HostileCase extCases[] = {
    {"TypicalCopy", {"text/plain={text}", "text/uri-list={list}"}, 0, typicalJson},
    {"CopiedFilesOnly", {"x-special/gnome-copied-files={copied}"}, 0, R"(["\/tmp\/g"])"},
    {"NoSelection", {}, 0, "[]"},
    {"NeverWrites", {"--silent", "text/uri-list={list}"}, 75, "did not send the file list"},
    {"NoSeat",
     {"--no-seat", "text/uri-list={list}"},
     69,
     "has no seat, so it has no clipboard, and DISPLAY is not set for X11"},
};

class ExtDataControl : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ExtDataControl, ReadsTheSelection) {
  const TemporaryDirectory runtime;
  const TemporaryDirectory files;
  const std::pair<std::string, std::string> contents[] = {
      {"{list}", typicalList}, {"{copied}", "copy\nfile:///tmp/g"}, {"{text}", "not a list"}};
  std::vector<std::string> argv{WAYLAND_EXT_SERVER_BINARY, "wayland-ext"};
  for (std::string arg : GetParam().flags) {
    for (const auto& [placeholder, content] : contents) {
      if (const auto at = arg.find(placeholder); at != std::string::npos) {
        arg.replace(at, placeholder.size(), files.write(placeholder.substr(1, 4), content));
      }
    }
    argv.push_back(arg);
  }
  Background server(argv, Environment::current().set("XDG_RUNTIME_DIR", runtime.path()));
  ASSERT_EQ(server.readLine(5s), "ready");
  expectEnding(runTool(Environment::current().unset("DISPLAY").set(
                   "WAYLAND_DISPLAY", runtime.path() + "/wayland-ext")),
               GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtDataControl, ::testing::ValuesIn(extCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Which clipboard is read when WAYLAND_DISPLAY and DISPLAY say different things.
class BackendChoice : public ::testing::Test {
 protected:
  // X11's clipboard holds /x11, so a run that prints it has read X11.
  BackendChoice()
      : xclip(startXclip(Environment::current(), xvfb.display(), "text/uri-list",
                         files.write("x11", "file:///x11\r\n"))) {}

  Environment environment(const std::string& wayland, bool withX11) const {
    Environment environment = Environment::current().set("WAYLAND_DISPLAY", wayland);
    return withX11 ? environment.set("DISPLAY", xvfb.display()) : environment.unset("DISPLAY");
  }

  TemporaryDirectory files;
  Xvfb xvfb;
  Background xclip;
  const std::string deadSocket = files.path() + "/wayland-gone";
};

TEST_F(BackendChoice, WaylandWithDataControlComesFirst) {
  const Sway sway;
  const Background owner = startWlCopy(environment(sway.socket(), false), "text/uri-list",
                                       files.write("wayland", "file:///wayland\r\n"));
  expectOutput(runTool(environment(sway.socket(), true)), R"(["\/wayland"])");
}

TEST_F(BackendChoice, X11WhenWaylandIsUnreachable) {
  expectOutput(runTool(environment(deadSocket, true)), R"(["\/x11"])");
  expectFailure(runTool(environment(deadSocket, false)), 69,
                "cannot connect to the Wayland display \"" + deadSocket +
                    "\", and DISPLAY is not set for X11");
}

// A compositor with data-control but no seat has no clipboard to read.
TEST_F(BackendChoice, X11WhenTheCompositorHasNoSeat) {
  const TemporaryDirectory runtime;
  Background server({WAYLAND_EXT_SERVER_BINARY, "wayland-ext", "--no-seat"},
                    Environment::current().set("XDG_RUNTIME_DIR", runtime.path()));
  ASSERT_EQ(server.readLine(5s), "ready");
  expectOutput(runTool(environment(runtime.path() + "/wayland-ext", true)), R"(["\/x11"])");
}

// What libwayland would print itself, here that XDG_RUNTIME_DIR is not set, stays out of the
// tool's output; a name that would forge a line is shown escaped.
TEST_F(BackendChoice, OnlyTheToolSpeaksOnStandardError) {
  expectOutput(runTool(environment("wayland-nowhere", true).unset("XDG_RUNTIME_DIR")),
               R"(["\/x11"])");
  expectFailure(runTool(environment("wayland-0\nclipfiles: forged", false)), 69,
                R"(cannot connect to the Wayland display "wayland-0\x0aclipfiles: forged")");
}

// The tool opens libxcb and libwayland-client only when a read needs one: a system without
// libwayland reads X11, and a missing library is named. A private mount namespace puts an
// empty file over each copy of the library, whatever the architecture, for one run.
std::vector<std::string> withoutLibrary(const std::string& soname) {
  std::vector<std::string> argv{"unshare", "--mount"};
  if (::geteuid() != 0) argv.emplace_back("--map-root-user");
  argv.insert(argv.end(),
              {"sh", "-c",
               "for copy in /lib/*/\"$0\" /usr/lib/*/\"$0\"; do"
               "  if [ -e \"$copy\" ]; then mount --bind /dev/null \"$copy\" || exit; fi;"
               "done; exec \"$1\"",
               soname, CLIPFILES_BINARY});
  return argv;
}

TEST_F(BackendChoice, WithoutADisplayLibrary) {
  expectFailure(
      run(withoutLibrary("libxcb.so.1"), environment(deadSocket, true)), 69,
      "cannot load libxcb.so.1, which reading the X display \"" + xvfb.display() + "\" needs: ");
  const std::vector<std::string> noWayland = withoutLibrary("libwayland-client.so.0");
  expectOutput(run(noWayland, environment(deadSocket, true).unset("WAYLAND_DISPLAY")),
               R"(["\/x11"])");
  expectOutput(run(noWayland, environment(deadSocket, true)), R"(["\/x11"])");
  expectFailure(run(noWayland, environment(deadSocket, false)), 69,
                "cannot load libwayland-client.so.0, which reading the Wayland display \"" +
                    deadSocket + "\" needs: ");
}

// GNOME's compositor offers no data-control; its clipboard reaches X11 clients through XWayland.
TEST_F(BackendChoice, X11WhenTheCompositorHasNoDataControl) {
  const Weston weston;
  expectOutput(runTool(environment(weston.socket(), true)), R"(["\/x11"])");
  expectFailure(runTool(environment(weston.socket(), false)), 69,
                "does not let programs without a window read the clipboard (it has no "
                "data-control protocol), and DISPLAY is not set for X11");
}

// A program started outside the session's environment has neither display variable; like
// libwayland, the tool then looks for wayland-0 in XDG_RUNTIME_DIR before it gives up.
Environment withoutDisplays(const std::string& runtime) {
  return Environment::current()
      .unset("WAYLAND_DISPLAY")
      .unset("WAYLAND_SOCKET")
      .unset("DISPLAY")
      .set("XDG_RUNTIME_DIR", runtime);
}

TEST(DefaultWaylandDisplay, ReadWhenNoDisplayIsSet) {
  const Sway sway;
  const TemporaryDirectory runtime;
  const TemporaryDirectory files;
  ASSERT_EQ(::symlink(sway.socket().c_str(), (runtime.path() + "/wayland-0").c_str()), 0);
  const Background owner =
      startWlCopy(withoutDisplays(runtime.path()), "text/uri-list", files.write(typicalList));
  expectOutput(runTool(withoutDisplays(runtime.path())), typicalJson);
}

TEST(DefaultWaylandDisplay, SaysWhatItTried) {
  const Weston weston;  // listens at wayland-0, without data-control
  const std::string westonRuntime = weston.socket().substr(0, weston.socket().rfind('/'));
  expectFailure(runTool(withoutDisplays(westonRuntime)), 69,
                "the compositor at the default Wayland display \"" + weston.socket() +
                    "\" does not let programs without a window read the clipboard");
  const TemporaryDirectory empty;
  expectFailure(runTool(withoutDisplays(empty.path())), 69,
                "neither WAYLAND_DISPLAY nor DISPLAY is set, and no compositor answers at the "
                "default Wayland display \"" +
                    empty.path() + "/wayland-0\"");
}

}  // namespace
