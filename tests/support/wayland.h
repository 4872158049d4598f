// Private Wayland compositors for a test: headless sway (wlroots data-control) and headless
// Weston (no data-control at all). Each is ready when constructed and stopped when destroyed.
#pragma once

#include <optional>
#include <string>

#include "support/process.h"

namespace testing_support {

class Sway {
 public:
  Sway();
  // The compositor's socket, as an absolute path that WAYLAND_DISPLAY accepts.
  const std::string& socket() const { return socket_; }

 private:
  TemporaryDirectory runtime_;
  std::optional<Background> server_;
  std::string socket_;
};

class Weston {
 public:
  Weston();
  const std::string& socket() const { return socket_; }

 private:
  TemporaryDirectory runtime_;
  std::optional<Background> server_;
  std::string socket_;
};

// Waits until a client can connect to `socket` and complete a roundtrip; false after 10 s.
bool waitForCompositor(const std::string& socket);

// wl-copy owning the selection with the bytes of `file` as `type`, once the selection shows it.
// Besides text/uri-list, wl-copy offers text types of its own.
Background startWlCopy(const Environment& environment, const std::string& type,
                       const std::string& file);

}  // namespace testing_support
