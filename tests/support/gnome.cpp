#include "support/gnome.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace testing_support {
namespace {

using namespace std::chrono_literals;

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

// What `display`'s screen shows, as one number that changes when the picture does.
std::size_t screenContent(const std::string& display) {
  const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
      xcb_connect(display.c_str(), nullptr), xcb_disconnect);
  xcb_connection_t* c = connection.get();
  if (xcb_connection_has_error(c) != 0) throw std::runtime_error("cannot connect to " + display);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
      xcb_get_image_reply(c,
                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                                        screen->width_in_pixels, screen->height_in_pixels, ~0U),
                          nullptr),
      std::free);
  if (!image) throw std::runtime_error("cannot read the screen of " + display);
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(xcb_get_image_data(image.get())),
                       static_cast<std::size_t>(xcb_get_image_data_length(image.get()))));
}

// Where Nautilus's file view is, in its window in the middle of mutter's.
constexpr int viewX = 400;
constexpr int viewY = 350;

// One key chord, pressed slowly: Nautilus loses chords whose keys come all at once.
void pressChord(const std::string& hostDisplay, const std::string& modifier,
                const std::string& key) {
  run({"xdotool", "keydown", modifier, "sleep", "0.05", "keydown", key, "sleep", "0.05", "keyup",
       key, "sleep", "0.05", "keyup", modifier},
      Environment::current().set("DISPLAY", hostDisplay));
}

}  // namespace

// The hierarchies where systemd keeps its units: the named v1 one and the unified one (v2).
Gnome::UnitCgroup::UnitCgroup() {
  static int made = 0;
  const std::string unit = "user.slice/user-" + std::to_string(::getuid()) + ".slice/user@" +
                           std::to_string(::getuid()) + ".service/app.slice/clipfiles-test-" +
                           std::to_string(::getpid()) + "-" + std::to_string(++made) + ".service";
  for (const char* root : {"/sys/fs/cgroup/systemd", "/sys/fs/cgroup/unified", "/sys/fs/cgroup"}) {
    const std::filesystem::path procs = std::filesystem::path(root) / "cgroup.procs";
    if (!std::filesystem::exists(procs)) continue;
    const std::string path = std::string(root) + "/" + unit;
    std::filesystem::create_directories(path);
    paths_.push_back(path);
  }
  if (paths_.empty()) throw std::runtime_error("no cgroup hierarchy to run mutter in as a unit");
}

Gnome::UnitCgroup::~UnitCgroup() {
  for (const std::string& path : paths_) {
    // Emptied by mutter's exit; walk up through the parents this made.
    for (std::filesystem::path dir = path; dir.filename() != "user.slice";
         dir = dir.parent_path()) {
      if (::rmdir(dir.c_str()) != 0) break;
    }
  }
}

std::vector<std::string> Gnome::UnitCgroup::enter(std::vector<std::string> command) const {
  std::string script;
  for (const std::string& path : paths_) script += "echo $$ > '" + path + "/cgroup.procs' && ";
  command.insert(command.begin(), {"sh", "-c", script + "exec \"$@\"", "sh"});
  return command;
}

Gnome::Gnome(XwaylandStart start) : host_({"-screen", "0", "1024x768x24"}) {
  // Tracker's miner can fail on a fresh database and take Nautilus down with it at start-up;
  // the session's bus starts a stand-in that exits at once.
  const std::string services = home_.path() + "/data/dbus-1/services";
  std::filesystem::create_directories(services);
  std::ofstream(services + "/org.freedesktop.Tracker3.Miner.Files.service")
      << "[D-BUS Service]\nName=org.freedesktop.Tracker3.Miner.Files\nExec=/bin/false\n";

  bus_.emplace(Environment::current().set("XDG_DATA_HOME", home_.path() + "/data"));

  // mutter names its Xwayland on standard error: "Using public X11 display :1, (using :2 for
  // managed services)".
  std::vector<std::string> command{
      "sh",     "-c",       "exec \"$@\" 2>&1", "sh",
      "mutter", "--nested", "--wayland",        "--wayland-display=wayland-0"};
  if (start == XwaylandStart::onDemand) command = cgroup_.emplace().enter(command);
  mutter_.emplace(command, environment().set("DISPLAY", host_.display()));
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

bool Gnome::xwaylandRunning() const {
  return run({"pgrep", "-f", "Xwayland .*-auth " + xauthority_}, Environment::current()).status ==
         0;
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
      .set("DBUS_SESSION_BUS_ADDRESS", bus_->address())
      // Settings in memory and no accessibility bus: fewer services for a short session.
      .set("GSETTINGS_BACKEND", "memory")
      .set("NO_AT_BRIDGE", "1")
      .set("GTK_A11Y", "none");
}

Nautilus::Nautilus(const Gnome& gnome, const std::string& folder) : gnome_(gnome), folder_(folder) {
  const std::size_t empty = screenContent(gnome.hostDisplay());
  process_.emplace(std::vector<std::string>{"nautilus", "--new-window", folder},
                   gnome.environment()
                       .set("GDK_BACKEND", "wayland")
                       .set("WAYLAND_DISPLAY", gnome.waylandSocket()));
  // Nautilus takes keys once its window shows the folder: when the screen has changed, and
  // then stays the same for half a second.
  std::size_t shown = empty;
  int still = 0;
  const bool settled = waitUntil(
      [&] {
        const std::size_t now = screenContent(gnome.hostDisplay());
        still = now == shown ? still + 1 : 0;
        shown = now;
        return shown != empty && still >= 10;
      },
      20s);
  if (!settled) throw std::runtime_error("Nautilus showed no window");
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

void Nautilus::typeSelectAllAnd(Gesture gesture) const {
  run({"xdotool", "mousemove", std::to_string(viewX), std::to_string(viewY), "click", "1", "sleep",
       "0.3"},
      Environment::current().set("DISPLAY", gnome_.hostDisplay()));
  pressChord(gnome_.hostDisplay(), "ctrl", "a");
  pressChord(gnome_.hostDisplay(), "ctrl", gesture == Gesture::copy ? "c" : "x");
}

void Nautilus::selectAllAnd(Gesture gesture) const {
  const std::string expected =
      (gesture == Gesture::copy ? "copy\n" : "cut\n") + std::string("file://") + folder_ + "/";
  const bool copied = waitUntil(
      [&] {
        typeSelectAllAnd(gesture);
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
