// The tool end to end against a real KDE Plasma desktop: KWin's Wayland session with Xwayland,
// and Dolphin copying and cutting real folders through its own actions.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "clipboard_cases.h"
#include "support/desktop.h"
#include "support/plasma.h"
#include "support/process.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

RunResult runTool(const Environment& environment) {
  return run({CLIPFILES_BINARY}, environment);
}

// Whether Xwayland's CLIPBOARD offers a file list within 30 seconds: KWin hands the clipboard
// to Xwayland some time after an X11 window gets active. Only the small list of targets is
// asked for: KWin mixes up a large transfer that starts while it still counts an earlier one
// as going on, so the tool's read must be the only one.
bool waitForX11List(const Environment& x11) {
  return waitUntil(
      [&] {
        const RunResult targets =
            run({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"}, x11);
        return targets.status == 0 && targets.out.find("text/uri-list\n") != std::string::npos;
      },
      30s);
}

// One desktop for all the suite's cases that run in one process: KWin and Xwayland take
// seconds to start.
class PlasmaDesktop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files = std::make_unique<TemporaryDirectory>();
    awkward = awkwardFolder(*files);
    large = largeFolder(*files);
    plasma = std::make_unique<Plasma>();
  }
  static void TearDownTestSuite() {
    plasma.reset();
    files.reset();
  }

  static Environment waylandOnly() { return plasma->environment().unset("DISPLAY"); }
  static Environment x11Only() { return plasma->environment().unset("WAYLAND_DISPLAY"); }

  static inline std::unique_ptr<TemporaryDirectory> files;
  static inline CopiedFolder awkward;
  static inline CopiedFolder large;
  static inline std::unique_ptr<Plasma> plasma;
};

// What Dolphin puts on the clipboard, read through KWin's data-control. With DISPLAY set as
// well the tool must still take Wayland's: Xwayland's clipboard is empty while no X11 window
// is active.
struct DataControlCase {
  const char* name;
  bool cut;
  bool withDisplay;
};
void PrintTo(const DataControlCase& c, std::ostream* os) {
  *os << c.name;
}

const DataControlCase dataControlCases[] = {
    {"CopyWaylandOnly", false, false},
    {"CopyWithDisplayToo", false, true},
    {"CutWaylandOnly", true, false},
};

class PlasmaDataControl : public PlasmaDesktop,
                          public ::testing::WithParamInterface<DataControlCase> {};

TEST_P(PlasmaDataControl, AwkwardFolderFromDolphin) {
  plasma->copyFolder(awkward.path, 8, GetParam().cut);
  expectOutput(runTool(GetParam().withDisplay ? plasma->environment() : waylandOnly()),
               awkward.json);
}

INSTANTIATE_TEST_SUITE_P(Dolphin, PlasmaDataControl, ::testing::ValuesIn(dataControlCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Through Xwayland alone the list, far larger than one piece, arrives by INCR. On a busy
// machine KWin 5.27 sometimes sends part of its first piece again, after the second: every
// X11 reader gets those bytes (xclip too), and no reader can tell them from a list. So the
// tool is given three reads to see the list as Dolphin gave it; each must end cleanly.
TEST_F(PlasmaDesktop, LargeFolderThroughXwayland) {
  plasma->copyFolder(large.path, 2000);
  const Background window = plasma->activateX11Window();
  ASSERT_TRUE(waitForX11List(x11Only()));
  RunResult result;
  int reads = 0;
  while (reads < 3 && result.out != large.json) {
    result = runTool(x11Only());
    ++reads;
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(result.err, "");
  }
  EXPECT_EQ(result.out, large.json);
  RecordProperty("reads", reads);
}

// Dolphin owns what it copied: once it has quit, KWin's clipboard is empty.
TEST_F(PlasmaDesktop, DolphinQuittingTakesTheListAway) {
  plasma->copyFolder(awkward.path, 8);
  expectOutput(runTool(waylandOnly()), awkward.json);
  plasma->quitDolphin();
  expectOutput(runTool(waylandOnly()), "[]");
}

}  // namespace
