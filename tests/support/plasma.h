// A private KDE Plasma desktop for a test: KWin's Wayland session with its Xwayland, on a D-Bus
// of its own, and Dolphin copying folders through its own actions. Ready when constructed and
// stopped when destroyed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "support/process.h"

namespace testing_support {

class Plasma {
 public:
  Plasma();
  Plasma(const Plasma&) = delete;
  Plasma& operator=(const Plasma&) = delete;
  ~Plasma();

  // KWin's socket, as an absolute path that WAYLAND_DISPLAY accepts, and Xwayland's display.
  const std::string& socket() const { return socket_; }
  const std::string& display() const { return display_; }
  // The environment of a client in the session: its runtime directory and D-Bus, with both
  // WAYLAND_DISPLAY and DISPLAY set.
  Environment environment() const;

  // Opens `folder` in a new Dolphin, selects everything in it and copies it (or cuts it), and
  // returns once the Wayland clipboard lists its `entries` entries.
  void copyFolder(const std::string& folder, std::size_t entries, bool cut = false);
  // Quits Dolphin from its menu action, and returns once it has gone and KWin has seen it go.
  void quitDolphin();

  // A small X11 window, mapped and active in KWin until it is destroyed. KWin hands the
  // clipboard to Xwayland's clients only while one of their windows is active.
  Background activateX11Window();

 private:
  void startDolphin(const std::string& folder);
  void triggerDolphinAction(const std::string& action) const;
  Environment sessionEnvironment() const;

  TemporaryDirectory runtime_;
  TemporaryDirectory home_;
  std::optional<SessionBus> bus_;
  std::optional<Background> kwin_;
  std::string socket_;
  std::string display_;
  std::optional<Background> dolphin_;
};

}  // namespace testing_support
