// A clipboard owner for the tests, on libxcb. Unlike xclip it refuses the targets it does not
// offer, so readers' fallbacks can be exercised, and it misbehaves on request.
//
//   x11_owner [OPTION...] TYPE=FILE...
//
// Takes CLIPBOARD and offers each TYPE with the bytes of FILE, answering TARGETS with the list.
// Data above 64 KiB goes by the INCR protocol. Prints "ready" once it owns the clipboard;
// exits when another client takes it.
//
//   --silent        never answer a request
//   --format=N      label the data as N-bit items
//   --type=NAME     label the data with the type NAME rather than the target asked for
//   --junk-targets  answer TARGETS with text rather than a list of atoms
//   --any-target    answer a request for any target with the first TYPE's data, as xclip does
//   --incr=MODE     send all data by INCR, and then: always (as usual), stall (send no chunk),
//                   endless (send 1 MiB chunks for ever), die (exit after the first chunk),
//                   trickle (send a short line every 1.5 seconds, for ever)
//   --announce=N    the size that an INCR transfer announces; implies INCR
//   --hand-over=TYPE=FILE
//                   on the first request for data, start a second owner offering TYPE with
//                   the bytes of FILE, wait until it has taken the clipboard, then answer;
//                   given again, the second owner hands over to a third in the same way
#include <spawn.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

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

// How the owner behaves, from its options.
struct Options {
  bool silent = false;
  std::uint8_t format = 8;
  std::string type;  // empty: the target asked for
  bool junkTargets = false;
  bool anyTarget = false;
  enum class Incr { asNeeded, send, stall, endless, die, trickle } incr = Incr::asNeeded;
  std::optional<std::uint32_t> announce;
  std::vector<std::string> handOvers;                       // TYPE=FILE of each next owner
  std::vector<std::pair<std::string, std::string>> offers;  // type name, file
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // At the last "=": a type may hold one (text/plain;charset=utf-8), these file names do not.
    const std::size_t eq = arg.rfind('=');
    const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
    if (arg == "--silent") {
      options.silent = true;
    } else if (arg == "--junk-targets") {
      options.junkTargets = true;
    } else if (arg == "--any-target") {
      options.anyTarget = true;
    } else if (arg.starts_with("--hand-over=")) {
      options.handOvers.push_back(arg.substr(arg.find('=') + 1));
    } else if (arg.starts_with("--format=")) {
      options.format = static_cast<std::uint8_t>(std::stoi(value));
    } else if (arg.starts_with("--type=")) {
      options.type = value;
    } else if (arg.starts_with("--incr=")) {
      const std::map<std::string, Options::Incr> modes{{"always", Options::Incr::send},
                                                       {"stall", Options::Incr::stall},
                                                       {"endless", Options::Incr::endless},
                                                       {"die", Options::Incr::die},
                                                       {"trickle", Options::Incr::trickle}};
      options.incr = modes.at(value);
    } else if (arg.starts_with("--announce=")) {
      options.announce = static_cast<std::uint32_t>(std::stoul(value));
      if (options.incr == Options::Incr::asNeeded) options.incr = Options::Incr::send;
    } else if (eq != std::string::npos && !arg.starts_with("--")) {
      options.offers.emplace_back(arg.substr(0, eq), value);
    } else {
      std::fprintf(stderr, "x11_owner: unknown argument %s\n", arg.c_str());
      std::exit(2);
    }
  }
  return options;
}

// An INCR transfer in progress: the next chunk goes out when the requestor deletes the property.
struct Incremental {
  xcb_window_t requestor;
  xcb_atom_t property;
  xcb_atom_t type;
  const std::string* data;
  std::size_t offset = 0;
  int chunksSent = 0;
  bool finished = false;
};

// Starts this program again as the next owner, of the first of `handOvers` (TYPE=FILE) and
// handing over to the rest, and waits until it owns the clipboard. It is left running.
void startNextOwner(const char* self, const std::vector<std::string>& handOvers) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(2);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> args{self};
  for (std::size_t i = 1; i < handOvers.size(); ++i) args.push_back("--hand-over=" + handOvers[i]);
  args.push_back(handOvers.front());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ) != 0) std::exit(2);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::string line;
  char c = 0;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(fds[0]);
  if (line != "ready") {
    std::fprintf(stderr, "x11_owner: the next owner did not start\n");
    std::exit(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c) != 0) {
    std::fprintf(stderr, "x11_owner: cannot connect to the display\n");
    return 2;
  }
  const xcb_atom_t clipboard = intern(c, "CLIPBOARD");
  const xcb_atom_t targets = intern(c, "TARGETS");
  const xcb_atom_t incr = intern(c, "INCR");
  const xcb_atom_t label = options.type.empty() ? XCB_NONE : intern(c, options.type);
  std::map<xcb_atom_t, std::string> data;
  std::vector<xcb_atom_t> offered{targets};
  for (const auto& [type, file] : options.offers) {
    const xcb_atom_t atom = intern(c, type);
    data[atom] = readFile(file);
    offered.push_back(atom);
  }
  std::string endless;
  for (std::size_t i = 0; endless.size() < (std::size_t{1} << 20); ++i) endless += "file:///x\r\n";
  const int bytesPerItem = options.format / 8;

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

  // Writes `length` bytes of `bytes` into the requestor's property, labelled as the options say.
  const auto put = [&](xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target,
                       const char* bytes, std::size_t length) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property,
                        label != XCB_NONE ? label : target, options.format,
                        static_cast<std::uint32_t>(length / bytesPerItem), bytes);
  };

  std::optional<Incremental> transfer;
  while (xcb_generic_event_t* raw = xcb_wait_for_event(c)) {
    std::unique_ptr<xcb_generic_event_t, FreeDeleter> event(raw);
    switch (event->response_type & 0x7f) {
      case XCB_SELECTION_CLEAR:
        // A round trip first: a client that leaves with events unread can have the server drop
        // the requests it sent last, such as its answer to a request it handled before this.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        return 0;

      case XCB_SELECTION_REQUEST: {
        if (options.silent) break;
        const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event.get());
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request->time;
        notify.requestor = request->requestor;
        notify.selection = request->selection;
        notify.target = request->target;
        notify.property = request->property == XCB_NONE ? request->target : request->property;
        auto found = data.find(request->target);
        if (found == data.end() && options.anyTarget && request->target != targets &&
            !options.offers.empty()) {
          found = data.find(intern(c, options.offers.front().first));
        }
        if (request->target != targets && !options.handOvers.empty()) {
          startNextOwner(argv[0], std::exchange(options.handOvers, {}));
        }
        if (request->target == targets && options.junkTargets) {
          xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, notify.property,
                              XCB_ATOM_STRING, 8, 4, "junk");
        } else if (request->target == targets) {
          xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, notify.property,
                              XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(offered.size()),
                              offered.data());
        } else if (found == data.end()) {
          notify.property = XCB_NONE;
        } else if (found->second.size() <= chunkSize && options.incr == Options::Incr::asNeeded) {
          put(request->requestor, notify.property, request->target, found->second.data(),
              found->second.size());
        } else {
          const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
          xcb_change_window_attributes(c, request->requestor, XCB_CW_EVENT_MASK, &mask);
          const std::uint32_t size =
              options.announce.value_or(static_cast<std::uint32_t>(found->second.size()));
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
        if (options.incr == Options::Incr::stall) break;
        if (options.incr == Options::Incr::die && transfer->chunksSent == 1) std::exit(0);
        if (options.incr == Options::Incr::trickle) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1500));
          const std::string line = "file:///x\r\n";
          put(transfer->requestor, transfer->property, transfer->type, line.data(), line.size());
          xcb_flush(c);
          break;
        }
        if (options.incr == Options::Incr::endless) {
          put(transfer->requestor, transfer->property, transfer->type, endless.data(),
              endless.size());
          xcb_flush(c);
          break;
        }
        // Each deletion asks for the next chunk; an empty chunk ends the transfer.
        const std::size_t length = std::min(chunkSize, transfer->data->size() - transfer->offset);
        put(transfer->requestor, transfer->property, transfer->type,
            transfer->data->data() + transfer->offset, length);
        transfer->offset += length;
        ++transfer->chunksSent;
        transfer->finished = length == 0;
        xcb_flush(c);
        break;
      }
    }
  }
  return 0;
}
