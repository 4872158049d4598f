// A minimal Wayland server for the tests: one seat and ext_data_control_manager_v1, whose
// selection it serves itself. It lets the reader's ext path run over a real socket, as no
// compositor packaged for this system offers that protocol yet.
//
//   wayland_ext_server SOCKET [--silent] [--no-seat] [TYPE=FILE...]
//
// Listens on SOCKET (a name in XDG_RUNTIME_DIR). Each data device is told of a selection
// offering each TYPE with the bytes of FILE, or of no selection if no TYPE is given.
// --silent keeps every receive request's pipe open and never writes to it. --no-seat offers
// data-control but no seat, and so no clipboard.
// Prints "ready" once it accepts clients.
#include <unistd.h>
#include <wayland-server.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "ext-data-control-v1-server-protocol.h"

namespace {

struct Selection {
  bool silent = false;
  std::map<std::string, std::string> data;  // by mime type
  std::vector<int> heldPipes;
};

void destroyResource(wl_client*, wl_resource* resource) {
  wl_resource_destroy(resource);
}

void writeAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

const struct ext_data_control_offer_v1_interface offerImplementation {
  [](wl_client*, wl_resource* resource, const char* mimeType, int fd) {
    auto& selection = *static_cast<Selection*>(wl_resource_get_user_data(resource));
    if (selection.silent) {
      selection.heldPipes.push_back(fd);
      return;
    }
    if (const auto found = selection.data.find(mimeType); found != selection.data.end()) {
      writeAll(fd, found->second);
    }
    ::close(fd);
  },
      destroyResource
};

const struct ext_data_control_device_v1_interface deviceImplementation {
  [](wl_client*, wl_resource*, wl_resource*) {}, destroyResource,
      [](wl_client*, wl_resource*, wl_resource*) {}
};

const struct ext_data_control_source_v1_interface sourceImplementation {
  [](wl_client*, wl_resource*, const char*) {}, destroyResource
};

const struct ext_data_control_manager_v1_interface managerImplementation {
  [](wl_client* client, wl_resource* manager, uint32_t id) {
    wl_resource* source = wl_resource_create(client, &ext_data_control_source_v1_interface,
                                             wl_resource_get_version(manager), id);
    wl_resource_set_implementation(source, &sourceImplementation, nullptr, nullptr);
  },
      [](wl_client* client, wl_resource* manager, uint32_t id, wl_resource*) {
        auto* selection = static_cast<Selection*>(wl_resource_get_user_data(manager));
        const int version = wl_resource_get_version(manager);
        wl_resource* device =
            wl_resource_create(client, &ext_data_control_device_v1_interface, version, id);
        wl_resource_set_implementation(device, &deviceImplementation, nullptr, nullptr);
        if (selection->data.empty()) {
          ext_data_control_device_v1_send_selection(device, nullptr);
          return;
        }
        wl_resource* offer =
            wl_resource_create(client, &ext_data_control_offer_v1_interface, version, 0);
        wl_resource_set_implementation(offer, &offerImplementation, selection, nullptr);
        ext_data_control_device_v1_send_data_offer(device, offer);
        for (const auto& [type, bytes] : selection->data) {
          ext_data_control_offer_v1_send_offer(offer, type.c_str());
        }
        ext_data_control_device_v1_send_selection(device, offer);
      },
      destroyResource
};

const struct wl_seat_interface seatImplementation {
  [](wl_client*, wl_resource*, uint32_t) {}, [](wl_client*, wl_resource*, uint32_t) {},
      [](wl_client*, wl_resource*, uint32_t) {}, destroyResource
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: wayland_ext_server SOCKET [--silent] [--no-seat] [TYPE=FILE...]\n");
    return 2;
  }
  Selection selection;
  bool seat = true;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    // At the last "=": a type may hold one (text/plain;charset=utf-8), these file names do not.
    const std::size_t eq = arg.rfind('=');
    if (arg == "--silent") {
      selection.silent = true;
    } else if (arg == "--no-seat") {
      seat = false;
    } else if (eq != std::string::npos) {
      std::ifstream in(arg.substr(eq + 1), std::ios::binary);
      selection.data[arg.substr(0, eq)] = {std::istreambuf_iterator<char>(in), {}};
    } else {
      std::fprintf(stderr, "wayland_ext_server: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }

  wl_display* display = wl_display_create();
  if (wl_display_add_socket(display, argv[1]) != 0) {
    std::fprintf(stderr, "wayland_ext_server: cannot listen on %s\n", argv[1]);
    return 2;
  }
  if (seat) {
    wl_global_create(display, &wl_seat_interface, 1, nullptr,
                     [](wl_client* client, void*, uint32_t version, uint32_t id) {
                       wl_resource* seat = wl_resource_create(client, &wl_seat_interface,
                                                              static_cast<int>(version), id);
                       wl_resource_set_implementation(seat, &seatImplementation, nullptr, nullptr);
                     });
  }
  wl_global_create(display, &ext_data_control_manager_v1_interface, 1, &selection,
                   [](wl_client* client, void* data, uint32_t version, uint32_t id) {
                     wl_resource* manager =
                         wl_resource_create(client, &ext_data_control_manager_v1_interface,
                                            static_cast<int>(version), id);
                     wl_resource_set_implementation(manager, &managerImplementation, data, nullptr);
                   });
  std::puts("ready");
  std::fflush(stdout);
  wl_display_run(display);
  wl_display_destroy(display);
  return 0;
}
