#include "support/x11.h"

#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>

namespace testing_support {

Xvfb::Xvfb() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  // Xvfb writes its display number on descriptor 3 once it accepts connections.
  server_.emplace(std::vector<std::string>{"Xvfb", "-displayfd", "3", "-noreset", "-nolisten",
                                           "tcp", "-screen", "0", "640x480x24"},
                  Environment::current(), fds[1]);
  ::close(fds[1]);
  std::string number;
  char c = 0;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + number;
}

std::uint32_t clipboardOwner(const std::string& display) {
  const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
      xcb_connect(display.c_str(), nullptr), xcb_disconnect);
  xcb_connection_t* c = connection.get();
  if (xcb_connection_has_error(c) != 0) throw std::runtime_error("cannot connect to " + display);
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 9, "CLIPBOARD"), nullptr), std::free);
  const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr), std::free);
  return owner->owner;
}

std::uint32_t waitForClipboardOwner(const std::string& display, std::uint32_t previous,
                                    std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::uint32_t owner = clipboardOwner(display);
    if ((owner != 0 && owner != previous) || std::chrono::steady_clock::now() > deadline) {
      return owner == previous ? 0 : owner;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

Background startXclip(const Environment& environment, const std::string& display,
                      const std::string& type, const std::string& file) {
  const std::uint32_t before = clipboardOwner(display);
  Background owner({"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i", file},
                   Environment(environment).set("DISPLAY", display));
  if (waitForClipboardOwner(display, before) == 0) throw std::runtime_error("xclip never owned");
  return owner;
}

}  // namespace testing_support
