#include "support/gnome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Runs `check` until it holds; false after `limit`.
template <typename Check>
bool waitUntil(Check check, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (check()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

// The cookie that mutter writes for its Xwayland, .mutter-Xwaylandauth.XXXXXX.
std::string findXwaylandCookie(const std::string& runtime) {
  std::string cookie;
  waitUntil(
      [&] {
        for (const auto& entry : std::filesystem::directory_iterator(runtime)) {
          if (entry.path().filename().string().starts_with(".mutter-Xwaylandauth.")) {
            cookie = entry.path().string();
          }
        }
        return !cookie.empty();
      },
      10s);
  if (cookie.empty()) throw std::runtime_error("mutter wrote no cookie for its Xwayland");
  return cookie;
}

// One key chord, pressed slowly: Nautilus loses chords whose keys come all at once.
void pressChord(const std::string& hostDisplay, const std::string& modifier,
                const std::string& key) {
  run({"xdotool", "keydown", modifier, "sleep", "0.05", "keydown", key, "sleep", "0.05", "keyup",
       key, "sleep", "0.05", "keyup", modifier},
      Environment::current().set("DISPLAY", hostDisplay));
}

}  // namespace

Gnome::Gnome() : host_({"-screen", "0", "1024x768x24"}) {
  // Tracker's miner can fail on a fresh database and take Nautilus down with it at start-up;
  // the session's bus starts a stand-in that exits at once.
  const std::string services = home_.path() + "/data/dbus-1/services";
  std::filesystem::create_directories(services);
  std::ofstream(services + "/org.freedesktop.Tracker3.Miner.Files.service")
      << "[D-BUS Service]\nName=org.freedesktop.Tracker3.Miner.Files\nExec=/bin/false\n";

  bus_.emplace(
      std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"},
      Environment::current().set("XDG_DATA_HOME", home_.path() + "/data"));
  busAddress_ = bus_->readLine(10s).value_or("");
  if (busAddress_.empty()) throw std::runtime_error("the session bus did not start");

  // mutter names its Xwayland on standard error: "Using public X11 display :1, (using :2 for
  // managed services)".
  mutter_.emplace(std::vector<std::string>{"sh", "-c", "exec \"$@\" 2>&1", "sh", "mutter",
                                           "--nested", "--wayland", "--wayland-display=wayland-0"},
                  environment().set("DISPLAY", host_.display()));
  const std::string marker = "Using public X11 display ";
  while (x11Display_.empty()) {
    const std::optional<std::string> line = mutter_->readLine(20s);
    if (!line) throw std::runtime_error("mutter did not start its Xwayland");
    if (const auto at = line->find(marker); at != std::string::npos) {
      x11Display_ = line->substr(at + marker.size());
      x11Display_ = x11Display_.substr(0, x11Display_.find_first_of(", "));
    }
  }
  waylandSocket_ = runtime_.path() + "/wayland-0";
  xauthority_ = findXwaylandCookie(runtime_.path());
}

Environment Gnome::environment() const {
  return Environment::current()
      .unset("DISPLAY")
      .unset("WAYLAND_DISPLAY")
      .unset("WAYLAND_SOCKET")
      .unset("XAUTHORITY")
      .set("XDG_RUNTIME_DIR", runtime_.path())
      .set("HOME", home_.path())
      .set("XDG_DATA_HOME", home_.path() + "/data")
      .set("DBUS_SESSION_BUS_ADDRESS", busAddress_)
      // Settings in memory and no accessibility bus: fewer services for a short session.
      .set("GSETTINGS_BACKEND", "memory")
      .set("NO_AT_BRIDGE", "1")
      .set("GTK_A11Y", "none");
}

Nautilus::Nautilus(const Gnome& gnome, const std::string& folder) : gnome_(gnome), folder_(folder) {
  process_.emplace(std::vector<std::string>{"nautilus", "--new-window", folder},
                   gnome.environment()
                       .set("GDK_BACKEND", "wayland")
                       .set("WAYLAND_DISPLAY", gnome.waylandSocket()));
}

Nautilus::~Nautilus() {
  if (process_) quit();
}

namespace {

// What the X11 clipboard offers as `type`, read by xclip; empty when it offers nothing.
std::string x11Clipboard(const Gnome& gnome, const std::string& type) {
  const Environment environment = Environment::current()
                                      .unset("WAYLAND_DISPLAY")
                                      .set("DISPLAY", gnome.x11Display())
                                      .set("XAUTHORITY", gnome.xauthority());
  return run({"xclip", "-out", "-selection", "clipboard", "-target", type}, environment).out;
}

}  // namespace

void Nautilus::selectAllAnd(Gesture gesture) {
  const std::string expected =
      (gesture == Gesture::copy ? "copy\n" : "cut\n") + std::string("file://") + folder_ + "/";
  // Until its window is up, Nautilus takes no keys: click into its file view and type again
  // until the clipboard holds the folder.
  const bool copied = waitUntil(
      [&] {
        run({"xdotool", "mousemove", "400", "350", "click", "1"},
            Environment::current().set("DISPLAY", gnome_.hostDisplay()));
        pressChord(gnome_.hostDisplay(), "ctrl", "a");
        pressChord(gnome_.hostDisplay(), "ctrl", gesture == Gesture::copy ? "c" : "x");
        return waitUntil(
            [&] {
              return x11Clipboard(gnome_, "x-special/gnome-copied-files").starts_with(expected);
            },
            1s);
      },
      30s);
  if (!copied) throw std::runtime_error("Nautilus did not put " + folder_ + " on the clipboard");
}

void Nautilus::quit() {
  run({"nautilus", "--quit"}, gnome_.environment());
  // Its output closes as it exits.
  while (process_->readLine(5s)) {
  }
  process_.reset();
  const bool gone = waitUntil(
      [&] { return x11Clipboard(gnome_, "TARGETS").find("text/uri-list") == std::string::npos; },
      10s);
  if (!gone) ADD_FAILURE() << "the file list stayed on the clipboard after Nautilus quit";
}

}  // namespace testing_support
