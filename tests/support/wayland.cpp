#include "support/wayland.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace testing_support {
namespace {

// A compositor's own environment: no display of the test's, its own runtime directory.
Environment compositorEnvironment(const std::string& runtime) {
  return Environment::current()
      .unset("DISPLAY")
      .unset("WAYLAND_DISPLAY")
      .set("XDG_RUNTIME_DIR", runtime);
}

// The first wayland-N socket that appears in `directory`, as a path.
std::string waitForSocket(const std::string& directory) {
  std::string socket;
  const auto appeared = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("wayland-") && !name.ends_with(".lock") && entry.is_socket()) {
        socket = entry.path().string();
        return true;
      }
    }
    return false;
  };
  if (!waitUntil(appeared, std::chrono::seconds(10), std::chrono::milliseconds(10))) {
    throw std::runtime_error("no compositor socket appeared in " + directory);
  }
  return socket;
}

}  // namespace

bool waitForCompositor(const std::string& socket) {
  const auto answers = [&] {
    wl_display* display = wl_display_connect(socket.c_str());
    if (display == nullptr) return false;
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_display_disconnect(display);
    return answered;
  };
  return waitUntil(answers, std::chrono::seconds(10), std::chrono::milliseconds(10));
}

// sway refuses to run as root; as root, it runs as nobody, in a runtime directory of nobody's.
// Clients running as root can still connect to its socket.
Sway::Sway() {
  const std::string config = runtime_.write("config", "xwayland disable\n");
  Environment environment = compositorEnvironment(runtime_.path())
                                .set("WLR_BACKENDS", "headless")
                                .set("WLR_LIBINPUT_NO_DEVICES", "1")
                                .set("WLR_RENDERER", "pixman");
  std::vector<std::string> argv{"sway", "-c", config};
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr ||
        ::chown(runtime_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      throw std::runtime_error("cannot hand the runtime directory to nobody");
    }
    argv.insert(argv.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    environment.set("HOME", runtime_.path());
  }
  server_.emplace(argv, environment);
  socket_ = waitForSocket(runtime_.path());
  if (!waitForCompositor(socket_)) throw std::runtime_error("sway does not answer");
}

Weston::Weston() {
  server_.emplace(std::vector<std::string>{"weston", "--backend=headless-backend.so",
                                           "--socket=wayland-0", "--idle-time=0"},
                  compositorEnvironment(runtime_.path()));
  socket_ = waitForSocket(runtime_.path());
  if (!waitForCompositor(socket_)) throw std::runtime_error("weston does not answer");
}

Background startWlCopy(const Environment& environment, const std::string& type,
                       const std::string& file) {
  Background owner({"wl-copy", "--foreground", "-t", type}, environment, std::nullopt, file);
  // wl-copy sets the selection some time after it starts: a read before then races it.
  const auto offered = [&] {
    return run({"wl-paste", "-l"}, environment).out.find(type + "\n") != std::string::npos;
  };
  if (!waitUntil(offered, std::chrono::seconds(10), std::chrono::milliseconds(10))) {
    throw std::runtime_error("wl-copy never set the selection");
  }
  return owner;
}

}  // namespace testing_support
