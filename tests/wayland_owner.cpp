// A Wayland clipboard owner for the tests, through wlroots data-control. Unlike wl-copy it
// offers exactly the types it is given, and it can misbehave on request.
//
//   wayland_owner [--silent | --endless | --trickle | --close-early] TYPE=FILE...
//
// Sets the seat's selection to a source that offers each TYPE with the bytes of FILE.
// Prints "ready" once the selection is set; exits when another client replaces it.
//   --silent       keep every request's pipe open and never write to it
//   --endless      write to every request's pipe for as long as it is read
//   --trickle      write a short line to every request's pipe every 1.5 seconds, for as long
//                  as it is read
//   --close-early  close every request's pipe without writing
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

struct Owner {
  enum class Mode { normal, silent, endless, trickle, closeEarly } mode = Mode::normal;
  std::map<std::string, std::string> data;  // by mime type
  std::vector<int> heldPipes;
  bool cancelled = false;
};

struct Globals {
  wl_seat* seat = nullptr;
  zwlr_data_control_manager_v1* manager = nullptr;
};

void writeAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) return;  // the reader went away
    done += static_cast<std::size_t>(written);
  }
}

const zwlr_data_control_source_v1_listener sourceListener{
    [](void* data, zwlr_data_control_source_v1*, const char* mimeType, int fd) {
      auto& owner = *static_cast<Owner*>(data);
      if (owner.mode == Owner::Mode::silent) {
        owner.heldPipes.push_back(fd);
        return;
      }
      if (owner.mode == Owner::Mode::endless) {
        const std::string lines(1 << 16, 'x');
        while (::write(fd, lines.data(), lines.size()) > 0) {
        }
      } else if (owner.mode == Owner::Mode::trickle) {
        const std::string line = "file:///x\r\n";
        while (::write(fd, line.data(), line.size()) > 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        }
      } else if (const auto found = owner.data.find(mimeType);
                 found != owner.data.end() && owner.mode == Owner::Mode::normal) {
        writeAll(fd, found->second);
      }
      ::close(fd);
    },
    [](void* data, zwlr_data_control_source_v1*) { static_cast<Owner*>(data)->cancelled = true; }};

const wl_registry_listener registryListener{
    [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
      auto& globals = *static_cast<Globals*>(data);
      if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals.seat == nullptr) {
        globals.seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
      } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        globals.manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
      }
    },
    [](void*, wl_registry*, uint32_t) {}};

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a reader that goes away must not end the owner
  Owner owner;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // At the last "=": a type may hold one (text/plain;charset=utf-8), these file names do not.
    const std::size_t eq = arg.rfind('=');
    if (arg == "--silent") {
      owner.mode = Owner::Mode::silent;
    } else if (arg == "--endless") {
      owner.mode = Owner::Mode::endless;
    } else if (arg == "--trickle") {
      owner.mode = Owner::Mode::trickle;
    } else if (arg == "--close-early") {
      owner.mode = Owner::Mode::closeEarly;
    } else if (eq != std::string::npos) {
      std::ifstream in(arg.substr(eq + 1), std::ios::binary);
      owner.data[arg.substr(0, eq)] = {std::istreambuf_iterator<char>(in), {}};
    } else {
      std::fprintf(stderr, "wayland_owner: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }

  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "wayland_owner: cannot connect\n");
    return 2;
  }
  Globals globals;
  wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &globals);
  wl_display_roundtrip(display);
  if (globals.seat == nullptr || globals.manager == nullptr) {
    std::fprintf(stderr, "wayland_owner: no seat or no wlroots data-control\n");
    return 2;
  }
  zwlr_data_control_source_v1* source =
      zwlr_data_control_manager_v1_create_data_source(globals.manager);
  zwlr_data_control_source_v1_add_listener(source, &sourceListener, &owner);
  for (const auto& [type, bytes] : owner.data)
    zwlr_data_control_source_v1_offer(source, type.c_str());
  zwlr_data_control_device_v1* device =
      zwlr_data_control_manager_v1_get_data_device(globals.manager, globals.seat);
  zwlr_data_control_device_v1_set_selection(device, source);
  wl_display_roundtrip(display);
  std::puts("ready");
  std::fflush(stdout);

  while (!owner.cancelled && wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}
