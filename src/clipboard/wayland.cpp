// Reads the clipboard of a Wayland compositor through its data-control protocol.
//
// A client without a window has no keyboard focus, so the ordinary data device never shows it
// the selection. Compositors open the clipboard to such clients through data-control: the
// standard ext_data_control_manager_v1, or its wlroots predecessor
// zwlr_data_control_manager_v1. Both have the same shape, so one reader serves both, given the
// generated functions of each as a traits type. The reader takes the seat's current selection
// offer, asks it for a file-list type through a pipe and reads the pipe to its end. It never
// sets a selection and creates no surface.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/backends.h"
#include "clipboard/file_descriptor.h"
#include "clipboard/limits.h"
#include "clipboard/uri_list.h"
#include "clipboard/wayland_library.h"
#include "ext-data-control-v1-client-protocol.h"
#include "pathlist/path_list.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace clipfiles {
namespace {

using Clock = ReadDeadline::Clock;

// Owns a Wayland object, destroying it with the function its protocol gives.
template <auto destroy>
struct Destroyer {
  template <typename T>
  void operator()(T* object) const noexcept {
    destroy(object);
  }
};
template <typename T, auto destroy>
using Owned = std::unique_ptr<T, Destroyer<destroy>>;

// libwayland's own functions are not constants here: they are looked up when it is opened.
struct Disconnect {
  void operator()(wl_display* display) const noexcept { wl_display_disconnect(display); }
};
using Display = std::unique_ptr<wl_display, Disconnect>;
using Registry = Owned<wl_registry, wl_registry_destroy>;
using Seat = Owned<wl_seat, wl_seat_destroy>;
using Callback = Owned<wl_callback, wl_callback_destroy>;

struct ExtDataControl {
  using Manager = ext_data_control_manager_v1;
  using Device = ext_data_control_device_v1;
  using Offer = ext_data_control_offer_v1;
  using DeviceListener = ext_data_control_device_v1_listener;
  using OfferListener = ext_data_control_offer_v1_listener;
  static constexpr const wl_interface* manager = &ext_data_control_manager_v1_interface;
  static constexpr auto destroyManager = ext_data_control_manager_v1_destroy;
  static constexpr auto destroyDevice = ext_data_control_device_v1_destroy;
  static constexpr auto destroyOffer = ext_data_control_offer_v1_destroy;
  static constexpr auto getDataDevice = ext_data_control_manager_v1_get_data_device;
  static constexpr auto addDeviceListener = ext_data_control_device_v1_add_listener;
  static constexpr auto addOfferListener = ext_data_control_offer_v1_add_listener;
  static constexpr auto receive = ext_data_control_offer_v1_receive;
};

struct WlrDataControl {
  using Manager = zwlr_data_control_manager_v1;
  using Device = zwlr_data_control_device_v1;
  using Offer = zwlr_data_control_offer_v1;
  using DeviceListener = zwlr_data_control_device_v1_listener;
  using OfferListener = zwlr_data_control_offer_v1_listener;
  static constexpr const wl_interface* manager = &zwlr_data_control_manager_v1_interface;
  static constexpr auto destroyManager = zwlr_data_control_manager_v1_destroy;
  static constexpr auto destroyDevice = zwlr_data_control_device_v1_destroy;
  static constexpr auto destroyOffer = zwlr_data_control_offer_v1_destroy;
  static constexpr auto getDataDevice = zwlr_data_control_manager_v1_get_data_device;
  static constexpr auto addDeviceListener = zwlr_data_control_device_v1_add_listener;
  static constexpr auto addOfferListener = zwlr_data_control_offer_v1_add_listener;
  static constexpr auto receive = zwlr_data_control_offer_v1_receive;
};

// The connection to the compositor, what messages call it, and the read's time bounds.
struct Compositor {
  Display display;
  std::string where;  // e.g. the Wayland display "wayland-1"
  const ReadDeadline& deadline;

  [[nodiscard]] wl_display* get() const { return display.get(); }
};

[[noreturn]] void throwConnectionLost(const Compositor& compositor) {
  const int error = wl_display_get_error(compositor.get());
  throw ClipboardError(ClipboardError::Cause::connectionLost,
                       "lost the connection to " + compositor.where +
                           (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
}

// Sends what is queued, then dispatches events until `done()`. Throws if the compositor is
// silent for the idle limit, or the read's time is up.
template <typename Done>
void dispatchUntil(const Compositor& compositor, Done done) {
  wl_display* display = compositor.get();
  const Clock::time_point waitEnd = compositor.deadline.waitEnd();
  while (!done()) {
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) throwConnectionLost(compositor);
    }
    if (done()) {
      wl_display_cancel_read(display);
      break;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      throwConnectionLost(compositor);
    }
    if (!waitUntilReadable(wl_display_get_fd(display), waitEnd)) {
      wl_display_cancel_read(display);
      throwSilent(compositor.deadline, "the compositor at " + compositor.where, "did not answer");
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
      throwConnectionLost(compositor);
    }
  }
}

// Waits until the compositor has handled every request sent so far, and sent their events.
void roundtrip(const Compositor& compositor) {
  bool done = false;
  static constexpr wl_callback_listener listener{
      [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  const Callback callback(wl_display_sync(compositor.get()));
  wl_callback_add_listener(callback.get(), &listener, &done);
  dispatchUntil(compositor, [&] { return done; });
}

// The globals the reader binds: the first seat and the data-control managers, by their names.
struct Globals {
  std::uint32_t seat = 0;
  std::uint32_t ext = 0;
  std::uint32_t wlr = 0;
};

Globals listGlobals(wl_registry* registry, const Compositor& compositor) {
  Globals globals;
  static constexpr wl_registry_listener listener{
      [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t) {
        auto& found = *static_cast<Globals*>(data);
        const std::string_view offered = interface;
        if (offered == wl_seat_interface.name && found.seat == 0) found.seat = name;
        if (offered == ExtDataControl::manager->name) found.ext = name;
        if (offered == WlrDataControl::manager->name) found.wlr = name;
      },
      [](void*, wl_registry*, std::uint32_t) {}};
  wl_registry_add_listener(registry, &listener, &globals);
  roundtrip(compositor);
  return globals;
}

// Reads the list from `fd` to its end, decoding each piece as it arrives. Throws if the writer
// stays silent for the idle limit, the read's time is up, or it sends more than the size limit.
std::optional<FileURLPaths> readList(int fd, const ReadDeadline& deadline, ListFormat format) {
  // A larger pipe lets the owner write in fewer, larger pieces; the reads take as much.
  constexpr int pipeSize = 1 << 20;
#ifdef F_SETPIPE_SZ
  ::fcntl(fd, F_SETPIPE_SZ, pipeSize);
#endif
  const auto piece = std::make_unique_for_overwrite<char[]>(pipeSize);
  FileListDecoder decoder(format);
  Clock::time_point waitEnd = deadline.waitEnd();
  for (;;) {
    if (!waitUntilReadable(fd, waitEnd)) {
      throwOwnerSilent(deadline, decoder.received() == 0 ? "did not send the file list"
                                                         : "stopped sending data");
    }
    const ssize_t got = ::read(fd, piece.get(), pipeSize);
    if (got == 0) return std::move(decoder).finish();
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw ClipboardError(ClipboardError::Cause::connectionLost,
                           std::string("cannot read the clipboard data: ") + std::strerror(errno));
    }
    if (static_cast<std::size_t>(got) > sizeLimit - decoder.received()) throwTooLarge();
    decoder.add({piece.get(), static_cast<std::size_t>(got)});
    waitEnd = deadline.waitEnd();
  }
}

// What the data device has told about the selection, and the offers it announced.
template <typename Protocol>
struct DeviceState {
  struct Offer {
    Owned<typename Protocol::Offer, Protocol::destroyOffer> proxy;
    std::vector<std::string> mimeTypes;
  };
  std::vector<std::unique_ptr<Offer>> offers;  // boxed: listeners hold their addresses
  const Offer* selection = nullptr;
  bool finished = false;
};

template <typename Protocol>
std::optional<FileURLPaths> readSelection(const Compositor& compositor, wl_registry* registry,
                                          std::uint32_t managerName, wl_seat* seat) {
  using State = DeviceState<Protocol>;
  using Offer = typename State::Offer;
  static constexpr typename Protocol::OfferListener offerListener{
      [](void* data, typename Protocol::Offer*, const char* mimeType) {
        static_cast<Offer*>(data)->mimeTypes.emplace_back(mimeType);
      }};
  static constexpr typename Protocol::DeviceListener deviceListener{
      [](void* data, typename Protocol::Device*, typename Protocol::Offer* proxy) {
        auto& state = *static_cast<State*>(data);
        auto& offer = state.offers.emplace_back(std::make_unique<Offer>());
        offer->proxy.reset(proxy);
        Protocol::addOfferListener(proxy, &offerListener, offer.get());
      },
      [](void* data, typename Protocol::Device*, typename Protocol::Offer* proxy) {
        auto& state = *static_cast<State*>(data);
        state.selection = nullptr;
        for (const auto& offer : state.offers) {
          if (offer->proxy.get() == proxy) state.selection = offer.get();
        }
      },
      [](void* data, typename Protocol::Device*) { static_cast<State*>(data)->finished = true; },
      [](void*, typename Protocol::Device*, typename Protocol::Offer*) {}};

  const Owned<typename Protocol::Manager, Protocol::destroyManager> manager(
      static_cast<typename Protocol::Manager*>(
          wl_registry_bind(registry, managerName, Protocol::manager, 1)));
  State state;
  const Owned<typename Protocol::Device, Protocol::destroyDevice> device(
      Protocol::getDataDevice(manager.get(), seat));
  Protocol::addDeviceListener(device.get(), &deviceListener, &state);
  // A new data device is told the seat's current selection at once.
  roundtrip(compositor);
  if (state.finished) {
    throw ClipboardError(ClipboardError::Cause::unavailable,
                         "the Wayland compositor closed the clipboard device");
  }
  if (state.selection == nullptr) return FileURLPaths{};

  for (const FileListType& type : fileListTypes) {
    if (std::ranges::find(state.selection->mimeTypes, type.name) ==
        state.selection->mimeTypes.end()) {
      continue;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      throw ClipboardError(ClipboardError::Cause::connectionLost,
                           std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    const FileDescriptor readEnd{fds[0]};
    // The request carries a duplicate of the write end, so ours closes at once: the pipe then
    // ends when the owner closes its copy.
    Protocol::receive(state.selection->proxy.get(), std::string(type.name).c_str(), fds[1]);
    ::close(fds[1]);
    if (wl_display_flush(compositor.get()) < 0) throwConnectionLost(compositor);
    return readList(readEnd.fd, compositor.deadline, type.format);
  }
  return FileURLPaths{};
}

// The display that libwayland and wl-paste connect to when WAYLAND_DISPLAY is not set.
constexpr const char* defaultDisplay = "wayland-0";

// libwayland reports some failures on standard error itself, such as an XDG_RUNTIME_DIR that is
// not set; the tool says in its own words what went wrong.
void discardLibraryMessage(const char* /*format*/, va_list /*arguments*/) {}

// The compositor to read, as libwayland finds it: an inherited connection in WAYLAND_SOCKET
// first, then WAYLAND_DISPLAY; or the default display. Empty when there is none to try.
std::string describeCompositor(WaylandDisplay which) {
  const auto value = [](const char* name) -> std::string_view {
    const char* set = std::getenv(name);
    return set != nullptr ? set : "";
  };
  if (which == WaylandDisplay::fallback) {
    if (value("XDG_RUNTIME_DIR").empty()) return {};
    return "the default Wayland display \"" + printableText(value("XDG_RUNTIME_DIR")) + "/" +
           defaultDisplay + "\"";
  }
  if (!value("WAYLAND_SOCKET").empty()) {
    return "the Wayland connection inherited in WAYLAND_SOCKET (\"" +
           printableText(value("WAYLAND_SOCKET")) + "\")";
  }
  if (!value("WAYLAND_DISPLAY").empty()) {
    return "the Wayland display \"" + printableText(value("WAYLAND_DISPLAY")) + "\"";
  }
  return {};
}

}  // namespace

WaylandRead readWaylandFileURLs(const ReadDeadline& deadline, WaylandDisplay which) {
  std::string where = describeCompositor(which);
  if (where.empty()) return {WaylandAccess::notSet, std::nullopt, {}, {}};
  if (std::string why; loadWaylandLibrary(why) == nullptr) {
    return {WaylandAccess::noLibrary, std::nullopt, std::move(where), std::move(why)};
  }
  wl_log_set_handler_client(discardLibraryMessage);
  // libwayland takes WAYLAND_SOCKET out of the environment as it uses it, so `where` is named
  // before connecting.
  Display display(wl_display_connect(which == WaylandDisplay::fallback ? defaultDisplay : nullptr));
  if (!display) return {WaylandAccess::unreachable, std::nullopt, std::move(where), {}};
  const Compositor compositor{std::move(display), where, deadline};
  const Registry registry(wl_display_get_registry(compositor.get()));
  const Globals globals = listGlobals(registry.get(), compositor);
  if (globals.ext == 0 && globals.wlr == 0) {
    return {WaylandAccess::noDataControl, std::nullopt, std::move(where), {}};
  }
  if (globals.seat == 0) return {WaylandAccess::noSeat, std::nullopt, std::move(where), {}};
  const Seat seat(
      static_cast<wl_seat*>(wl_registry_bind(registry.get(), globals.seat, &wl_seat_interface, 1)));
  return {WaylandAccess::read,
          globals.ext != 0
              ? readSelection<ExtDataControl>(compositor, registry.get(), globals.ext, seat.get())
              : readSelection<WlrDataControl>(compositor, registry.get(), globals.wlr, seat.get()),
          std::move(where),
          {}};
}

}  // namespace clipfiles
