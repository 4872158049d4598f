// A private GNOME desktop for a test: mutter as a nested Wayland compositor in an Xvfb of its
// own, with its Xwayland and a session bus, and Nautilus as a Wayland client, driven by keys.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/x11.h"

namespace testing_support {

// When mutter starts Xwayland: with the desktop, or when the first X11 client connects, as in a
// real GNOME session, where mutter runs as a systemd user unit.
enum class XwaylandStart { atOnce, onDemand };

class Gnome {
 public:
  explicit Gnome(XwaylandStart start = XwaylandStart::atOnce);
  Gnome(const Gnome&) = delete;
  Gnome& operator=(const Gnome&) = delete;

  // mutter's runtime directory, where its Wayland socket is wayland-0.
  const std::string& runtimeDirectory() const { return runtime_.path(); }
  const std::string& waylandSocket() const { return waylandSocket_; }
  // mutter's Xwayland, and the cookie it takes.
  const std::string& x11Display() const { return x11Display_; }
  const std::string& xauthority() const { return xauthority_; }
  bool xwaylandRunning() const;
  // The X server that mutter's window is on, where keys are typed.
  const std::string& hostDisplay() const { return host_.display(); }
  // What the desktop's own programs see: its bus, runtime directory and home, no display.
  Environment environment() const;

 private:
  // A cgroup named like a systemd user unit's, for mutter to run in; removed once it is empty.
  class UnitCgroup {
   public:
    UnitCgroup();
    UnitCgroup(const UnitCgroup&) = delete;
    UnitCgroup& operator=(const UnitCgroup&) = delete;
    ~UnitCgroup();
    // Writes its own pid into the cgroup, then runs the command.
    std::vector<std::string> enter(std::vector<std::string> command) const;

   private:
    std::vector<std::string> paths_;  // one in each hierarchy that has systemd's
  };

  TemporaryDirectory runtime_;
  TemporaryDirectory home_;
  Xvfb host_;
  std::optional<UnitCgroup> cgroup_;
  std::optional<SessionBus> bus_;
  std::optional<Background> mutter_;
  std::string waylandSocket_;
  std::string x11Display_;
  std::string xauthority_;
};

enum class Gesture { copy, cut };

// Nautilus showing a folder in its window; it quits when destroyed.
class Nautilus {
 public:
  Nautilus(const Gnome& gnome, const std::string& folder);
  Nautilus(const Nautilus&) = delete;
  Nautilus& operator=(const Nautilus&) = delete;
  ~Nautilus();

  // Clicks into the file view, selects the whole folder and copies or cuts it with the keyboard,
  // as a user does. Keys typed before the window is up are lost.
  void typeSelectAllAnd(Gesture gesture) const;
  // The same, typed again until the clipboard holds the folder.
  void selectAllAnd(Gesture gesture) const;
  // Quits, and returns once the clipboard no longer offers the file list.
  void quit();

 private:
  const Gnome& gnome_;
  std::string folder_;
  std::optional<Background> process_;
};

}  // namespace testing_support
