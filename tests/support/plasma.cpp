#include "support/plasma.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "support/wayland.h"

namespace testing_support {
namespace {

using namespace std::chrono_literals;

// Startup, listing and copying are quick on an idle machine; the bounds allow for a loaded one.
constexpr auto startLimit = 60s;

// The standard output of a short run that ended well, or nothing. wl-paste waits for ever on
// a KWin clipboard that nobody owns, so every run here is bounded.
std::optional<std::string> outputOf(const std::vector<std::string>& argv,
                                    const Environment& environment) {
  try {
    const RunResult result = run(argv, environment, Output::capture, 2s);
    if (result.status == 0) return result.out;
  } catch (const std::runtime_error&) {
  }
  return std::nullopt;
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t found = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++found;
  }
  return found;
}

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

// Whether `pid` has exited: it is a zombie, waiting for us to reap it.
bool hasExited(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = stat.rfind(')');
  return end == std::string::npos || stat.substr(end + 2, 1) == "Z";
}

// The program KWin runs as its session: it tells us Xwayland's display through a file, then
// stays connected to Xwayland, so that it ends with the session whichever way KWin stops.
std::string writeSessionScript(const TemporaryDirectory& directory, const std::string& found) {
  const std::string script = directory.write(
      "session.sh", "#!/bin/sh\nprintf '%s\\n' \"$DISPLAY\" > '" + found + ".new'\nmv '" + found +
                        ".new' '" + found + "'\nexec xprop -root -spy _CLIPFILES_NONE\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  return script;
}

}  // namespace

// KWin's binary carries a file capability that an unprivileged container cannot grant, so it
// cannot start; a plain copy of it can.
Plasma::Plasma() {
  bus_.emplace(Environment::current());

  const std::string kwin = home_.path() + "/kwin_wayland";
  std::filesystem::copy_file("/usr/bin/kwin_wayland", kwin);
  const std::string found = home_.path() + "/display";
  kwin_.emplace(
      std::vector<std::string>{kwin, "--virtual", "--xwayland", "--no-lockscreen", "--socket",
                               "wayland-plasma", "--width", "1280", "--height", "800",
                               "--exit-with-session", writeSessionScript(home_, found)},
      sessionEnvironment());
  if (!waitUntil([&] { return std::filesystem::exists(found); }, startLimit)) {
    throw std::runtime_error("KWin did not start its session");
  }
  display_ = readFile(found);
  display_.erase(display_.find_last_not_of('\n') + 1);
  socket_ = runtime_.path() + "/wayland-plasma";
  if (display_.empty() || !waitForCompositor(socket_)) {
    throw std::runtime_error("KWin does not answer");
  }
}

Plasma::~Plasma() = default;

// A session of its own: no display of the test's, its own runtime directory, D-Bus and home,
// so that no saved settings change how Dolphin shows a folder.
Environment Plasma::sessionEnvironment() const {
  return Environment::current()
      .unset("DISPLAY")
      .unset("WAYLAND_DISPLAY")
      .unset("WAYLAND_SOCKET")
      .unset("XAUTHORITY")
      .unset("XDG_CONFIG_HOME")
      .unset("XDG_DATA_HOME")
      .unset("XDG_CACHE_HOME")
      .unset("XDG_STATE_HOME")
      .unset("SUDO_USER")
      .set("HOME", home_.path())
      .set("XDG_RUNTIME_DIR", runtime_.path())
      .set("DBUS_SESSION_BUS_ADDRESS", bus_->address());
}

Environment Plasma::environment() const {
  return sessionEnvironment().set("WAYLAND_DISPLAY", socket_).set("DISPLAY", display_);
}

void Plasma::startDolphin(const std::string& folder) {
  dolphin_.reset();
  // Qt decodes file names by the locale, so a UTF-8 one keeps names that are not ASCII.
  dolphin_.emplace(
      std::vector<std::string>{"dolphin", "--new-window", folder},
      environment().unset("DISPLAY").set("QT_QPA_PLATFORM", "wayland").set("LC_ALL", "C.UTF-8"));
  // KWin takes a selection only from the window that has the keyboard.
  const std::string service = "org.kde.dolphin-" + std::to_string(dolphin_->pid());
  const auto active = [&] {
    return outputOf({"qdbus", service, "/dolphin/Dolphin_1",
                     "org.kde.dolphin.MainWindow.isActiveWindow"},
                    environment()) == "true\n";
  };
  if (!waitUntil(active, startLimit)) throw std::runtime_error("Dolphin's window never got active");
}

void Plasma::triggerDolphinAction(const std::string& action) const {
  const std::string service = "org.kde.dolphin-" + std::to_string(dolphin_->pid());
  if (!outputOf({"qdbus", service, "/dolphin/Dolphin_1/actions/" + action,
                 "org.qtproject.Qt.QAction.trigger"},
                environment())) {
    throw std::runtime_error("Dolphin did not take the action " + action);
  }
}

// Dolphin lists a folder after its window shows: a copy before then takes less, and is done
// again.
void Plasma::copyFolder(const std::string& folder, std::size_t entries, bool cut) {
  startDolphin(folder);
  const Environment wayland = environment().unset("DISPLAY");
  const auto copied = [&] {
    const std::string types = outputOf({"wl-paste", "-l"}, wayland).value_or("");
    if (cut != (types.find("application/x-kde-cutselection\n") != std::string::npos)) {
      return false;
    }
    return count(outputOf({"wl-paste", "-n", "-t", "text/uri-list"}, wayland).value_or(""),
                 "file://") == entries;
  };
  const auto copy = [&] {
    triggerDolphinAction("edit_select_all");
    triggerDolphinAction(cut ? "edit_cut" : "edit_copy");
    return waitUntil(copied, 2s);
  };
  if (!waitUntil(copy, startLimit)) {
    throw std::runtime_error("Dolphin never put the " + std::to_string(entries) + " entries of " +
                             folder + " on the clipboard");
  }
}

void Plasma::quitDolphin() {
  const pid_t pid = dolphin_->pid();
  triggerDolphinAction("file_quit");
  if (!waitUntil([&] { return hasExited(pid); }, startLimit)) {
    throw std::runtime_error("Dolphin did not quit");
  }
  dolphin_.reset();
  // A roundtrip of a client that connects after Dolphin has gone ends after KWin has seen it go.
  if (!waitForCompositor(socket_)) throw std::runtime_error("KWin does not answer");
}

Background Plasma::activateX11Window() {
  const Environment x11 = environment().unset("WAYLAND_DISPLAY");
  Background window({"xmessage", "-name", "clipfiles-window", "clipfiles"}, x11);
  const auto active = [&] {
    const std::optional<std::string> id = outputOf({"xdotool", "getactivewindow"}, x11);
    const std::optional<std::string> ours =
        outputOf({"xdotool", "search", "--classname", "^clipfiles-window$"}, x11);
    return id && ours && !id->empty() && ("\n" + *ours).find("\n" + *id) != std::string::npos;
  };
  if (!waitUntil(active, startLimit)) throw std::runtime_error("the X11 window never got active");
  return window;
}

}  // namespace testing_support
