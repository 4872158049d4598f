#include "support/x11.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace testing_support {

Xvfb::Xvfb(const std::vector<std::string>& extraArguments) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  // Xvfb writes its display number on descriptor 3 once it accepts connections.
  std::vector<std::string> argv{"Xvfb", "-displayfd", "3", "-noreset",  "-nolisten",
                                "tcp",  "-screen",    "0", "640x480x24"};
  argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
  server_.emplace(argv, Environment::current(), fds[1]);
  ::close(fds[1]);
  std::string number;
  char c = 0;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + number;
}

SilentXServer::SilentXServer() {
  for (int number = 4000 + ::getpid() % 1000; number < 6000; ++number) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
    std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: starts with NUL
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::listen(fd, 16) == 0) {
      socket_ = fd;
      display_ = ":" + std::to_string(number);
      return;
    }
    ::close(fd);
  }
  throw std::runtime_error("no free display number for a silent X server");
}

SilentXServer::~SilentXServer() {
  ::close(socket_);
}

std::string writeAuthorityFile(const TemporaryDirectory& directory) {
  // Each field is a 2-byte big-endian length and its bytes, after a 2-byte family; the
  // family 0xffff matches any address and an empty display number any display.
  const auto field = [](const std::string& bytes) {
    return std::string{static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size())} +
           bytes;
  };
  const std::string cookie = "clipfiles-cookie";  // 16 bytes, as the scheme expects
  return directory.write("Xauthority", std::string("\xff\xff") + field("") + field("") +
                                           field("MIT-MAGIC-COOKIE-1") + field(cookie));
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
  std::uint32_t owner = 0;
  waitUntil(
      [&] {
        owner = clipboardOwner(display);
        return owner != 0 && owner != previous;
      },
      limit, std::chrono::milliseconds(5));
  return owner == previous ? 0 : owner;
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
