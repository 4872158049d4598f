// The tool end to end on a real GNOME desktop: mutter with its Xwayland, and Nautilus copying
// a folder with the keyboard. mutter opens its clipboard to no client without a window, so
// the tool reads the copy as X11, from the clipboard that mutter mirrors to Xwayland.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "clipboard_cases.h"
#include "support/desktop.h"
#include "support/gnome.h"
#include "support/process.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class GnomeDesktop : public ::testing::Test {
 protected:
  // The desktop takes seconds to start: one serves all the suite's cases that run in one
  // process.
  static void SetUpTestSuite() { gnome = std::make_unique<Gnome>(); }
  static void TearDownTestSuite() { gnome.reset(); }

  static RunResult runTool(const Environment& environment) {
    return run({CLIPFILES_BINARY}, environment);
  }
  // The tool as a program of the session finds it: with DISPLAY, WAYLAND_DISPLAY, both or
  // neither.
  static Environment withX11(Environment environment) {
    return environment.set("DISPLAY", gnome->x11Display()).set("XAUTHORITY", gnome->xauthority());
  }
  static Environment withWayland(Environment environment) {
    return environment.set("WAYLAND_DISPLAY", gnome->waylandSocket());
  }

  static inline std::unique_ptr<Gnome> gnome;
  TemporaryDirectory files;
};

const std::string noDataControl =
    " does not let programs without a window read the clipboard (it has no data-control "
    "protocol), and DISPLAY is not set for X11";

TEST_F(GnomeDesktop, CopyReadThroughXwayland) {
  const CopiedFolder folder = awkwardFolder(files);
  Nautilus nautilus(*gnome, folder.path);
  nautilus.selectAllAnd(Gesture::copy);
  const Environment session = gnome->environment();
  expectOutput(runTool(withX11(session)), folder.json);
  expectOutput(runTool(withWayland(withX11(session))), folder.json);
  // Without X11 the clipboard is out of reach, and the tool says why.
  expectFailure(
      runTool(withWayland(session)), 69,
      "the compositor at the Wayland display \"" + gnome->waylandSocket() + "\"" + noDataControl);
  expectFailure(runTool(session), 69,
                "the compositor at the default Wayland display \"" + gnome->waylandSocket() + "\"" +
                    noDataControl);
}

TEST_F(GnomeDesktop, CutReadsTheSameList) {
  const CopiedFolder folder = awkwardFolder(files);
  Nautilus nautilus(*gnome, folder.path);
  nautilus.selectAllAnd(Gesture::cut);
  expectOutput(runTool(withWayland(withX11(gnome->environment()))), folder.json);
}

TEST_F(GnomeDesktop, LargeList) {
  const CopiedFolder folder = largeFolder(files);
  Nautilus nautilus(*gnome, folder.path);
  nautilus.selectAllAnd(Gesture::copy);
  expectOutput(runTool(withX11(gnome->environment())), folder.json);
}

// mutter keeps the copy's text once Nautilus has quit, but not its file list.
TEST_F(GnomeDesktop, FileManagerQuits) {
  const CopiedFolder folder = awkwardFolder(files);
  Nautilus nautilus(*gnome, folder.path);
  nautilus.selectAllAnd(Gesture::copy);
  nautilus.quit();
  expectOutput(runTool(withX11(gnome->environment())), "[]");
}

// In a real GNOME session mutter starts Xwayland when the first X11 client connects, and
// hands it the clipboard: the tool's first read is that client.
TEST(GnomeSession, FirstReadStartsXwayland) {
  const Gnome gnome(XwaylandStart::onDemand);
  const TemporaryDirectory files;
  const CopiedFolder folder = awkwardFolder(files);
  const Nautilus nautilus(gnome, folder.path);
  const Environment environment =
      gnome.environment().set("DISPLAY", gnome.x11Display()).set("XAUTHORITY", gnome.xauthority());
  // Nothing may use X11 before the tool does, so nothing can tell when the keys have reached
  // Nautilus: they are typed a few times, the first of which it sometimes misses.
  for (int i = 0; i < 3; ++i) nautilus.typeSelectAllAnd(Gesture::copy);
  std::this_thread::sleep_for(500ms);
  ASSERT_FALSE(gnome.xwaylandRunning());
  const RunResult result = run({CLIPFILES_BINARY}, environment);
  expectOutput(result, folder.json);
  EXPECT_TRUE(gnome.xwaylandRunning());
  RecordProperty("elapsed_ms", static_cast<int>(result.elapsed.count()));
}

}  // namespace
