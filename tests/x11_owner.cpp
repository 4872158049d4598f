// A clipboard owner for the tests, on libxcb. Unlike xclip it refuses the targets it does not
// offer, so readers' fallbacks can be exercised, and it can misbehave on request.
//
//   x11_owner [--silent] TYPE=FILE...
//
// Takes CLIPBOARD and offers each TYPE with the bytes of FILE, answering TARGETS with the list.
// Data above 64 KiB goes by the INCR protocol. --silent takes the clipboard and never answers.
// Prints "ready" once it owns the clipboard; exits when another client takes it.
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t chunkSize = 64 * 1024;

struct FreeDeleter {
  void operator()(void* memory) const noexcept { std::free(memory); }
};

xcb_atom_t intern(xcb_connection_t* c, const std::string& name) {
  std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
  if (!reply) {
    std::fprintf(stderr, "x11_owner: cannot intern %s\n", name.c_str());
    std::exit(2);
  }
  return reply->atom;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "x11_owner: cannot read %s\n", path.c_str());
    std::exit(2);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An INCR transfer in progress: the next chunk goes out when the requestor deletes the property.
struct Incremental {
  xcb_window_t requestor;
  xcb_atom_t property;
  xcb_atom_t type;
  const std::string* data;
  std::size_t offset = 0;
  bool finished = false;
};

}  // namespace

int main(int argc, char** argv) {
  bool silent = false;
  std::vector<std::pair<std::string, std::string>> offers;  // type name, file
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--silent") {
      silent = true;
    } else if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      offers.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
    } else {
      std::fprintf(stderr, "usage: x11_owner [--silent] TYPE=FILE...\n");
      return 2;
    }
  }

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c) != 0) {
    std::fprintf(stderr, "x11_owner: cannot connect to the display\n");
    return 2;
  }
  const xcb_atom_t clipboard = intern(c, "CLIPBOARD");
  const xcb_atom_t targets = intern(c, "TARGETS");
  const xcb_atom_t incr = intern(c, "INCR");
  std::map<xcb_atom_t, std::string> data;
  std::vector<xcb_atom_t> offered{targets};
  for (const auto& [type, file] : offers) {
    const xcb_atom_t atom = intern(c, type);
    data[atom] = readFile(file);
    offered.push_back(atom);
  }

  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
  std::unique_ptr<xcb_get_selection_owner_reply_t, FreeDeleter> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
  if (!owner || owner->owner != window) {
    std::fprintf(stderr, "x11_owner: could not take the clipboard\n");
    return 2;
  }
  std::puts("ready");
  std::fflush(stdout);

  std::optional<Incremental> transfer;
  while (xcb_generic_event_t* raw = xcb_wait_for_event(c)) {
    std::unique_ptr<xcb_generic_event_t, FreeDeleter> event(raw);
    switch (event->response_type & 0x7f) {
      case XCB_SELECTION_CLEAR:
        return 0;

      case XCB_SELECTION_REQUEST: {
        if (silent) break;
        const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event.get());
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request->time;
        notify.requestor = request->requestor;
        notify.selection = request->selection;
        notify.target = request->target;
        notify.property = request->property == XCB_NONE ? request->target : request->property;
        const auto found = data.find(request->target);
        if (request->target == targets) {
          xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, notify.property,
                              XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(offered.size()),
                              offered.data());
        } else if (found == data.end()) {
          notify.property = XCB_NONE;
        } else if (found->second.size() <= chunkSize) {
          xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, notify.property,
                              request->target, 8, static_cast<std::uint32_t>(found->second.size()),
                              found->second.data());
        } else {
          const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
          xcb_change_window_attributes(c, request->requestor, XCB_CW_EVENT_MASK, &mask);
          const auto size = static_cast<std::uint32_t>(found->second.size());
          xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, notify.property, incr,
                              32, 1, &size);
          transfer =
              Incremental{request->requestor, notify.property, request->target, &found->second};
        }
        xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(c);
        break;
      }

      case XCB_PROPERTY_NOTIFY: {
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
        if (!transfer || transfer->finished || notify->state != XCB_PROPERTY_DELETE ||
            notify->window != transfer->requestor || notify->atom != transfer->property) {
          break;
        }
        // Each deletion asks for the next chunk; an empty chunk ends the transfer.
        const std::size_t length = std::min(chunkSize, transfer->data->size() - transfer->offset);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, transfer->requestor, transfer->property,
                            transfer->type, 8, static_cast<std::uint32_t>(length),
                            transfer->data->data() + transfer->offset);
        transfer->offset += length;
        transfer->finished = length == 0;
        xcb_flush(c);
        break;
      }
    }
  }
  return 0;
}
