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
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/backends.h"
#include "clipboard/limits.h"
#include "ext-data-control-v1-client-protocol.h"
#include "pathlist/buffer.h"
#include "pathlist/uri_list.h"
#include "tool/failure.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace clipfiles {
namespace {

using Clock = std::chrono::steady_clock;

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

struct FileDescriptor {
  int fd;
  explicit FileDescriptor(int owned) : fd(owned) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { ::close(fd); }
};

using Display = Owned<wl_display, wl_display_disconnect>;
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

const char* displayName() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr ? name : "";
}

[[noreturn]] void throwConnectionLost(wl_display* display) {
  const int error = wl_display_get_error(display);
  throw Failure(ExitStatus::ioError,
                std::string("lost the connection to the Wayland display \"") + displayName() +
                    "\"" + (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
}

// Sends what is queued, then dispatches events until `done()`. Throws if the compositor is
// silent for the idle limit.
template <typename Done>
void dispatchUntil(wl_display* display, Done done) {
  const Clock::time_point deadline = Clock::now() + idleLimit;
  while (!done()) {
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) throwConnectionLost(display);
    }
    if (done()) {
      wl_display_cancel_read(display);
      break;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      throwConnectionLost(display);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd compositor{wl_display_get_fd(display), POLLIN, 0};
    if (left <= 0 || ::poll(&compositor, 1, static_cast<int>(left)) <= 0) {
      wl_display_cancel_read(display);
      if (left <= 0) {
        throw Failure(ExitStatus::tempFail, std::string("the Wayland compositor at \"") +
                                                displayName() + "\" did not answer within " +
                                                std::to_string(idleLimit.count()) + " seconds");
      }
      continue;
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
      throwConnectionLost(display);
    }
  }
}

// Waits until the compositor has handled every request sent so far, and sent their events.
void roundtrip(wl_display* display) {
  bool done = false;
  static constexpr wl_callback_listener listener{
      [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  const Callback callback(wl_display_sync(display));
  wl_callback_add_listener(callback.get(), &listener, &done);
  dispatchUntil(display, [&] { return done; });
}

// The globals the reader binds: the first seat and the data-control managers, by their names.
struct Globals {
  std::uint32_t seat = 0;
  std::uint32_t ext = 0;
  std::uint32_t wlr = 0;
};

Globals listGlobals(wl_registry* registry, wl_display* display) {
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
  roundtrip(display);
  return globals;
}

// Reads `fd` to its end. Throws if the writer stays silent for the idle limit or sends more
// than the size limit.
LargeBuffer readToEnd(int fd) {
  // A larger pipe lets the owner write in fewer, larger pieces.
  constexpr int pipeSize = 1 << 20;
#ifdef F_SETPIPE_SZ
  ::fcntl(fd, F_SETPIPE_SZ, pipeSize);
#endif
  LargeBuffer data(pipeSize);
  Clock::time_point deadline = Clock::now() + idleLimit;
  for (;;) {
    if (data.size() == data.capacity() && data.size() < sizeLimit) {
      data.grow(data.size() + 1, sizeLimit);
    }
    // With the buffer full at the limit, one byte more tells that the data exceeds it.
    char probe = 0;
    const bool atLimit = data.size() == data.capacity();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd pipe{fd, POLLIN, 0};
    const int ready = left > 0 ? ::poll(&pipe, 1, static_cast<int>(left)) : 0;
    if (ready == 0) {
      throwOwnerSilent(data.size() == 0 ? "did not send the file list" : "stopped sending data");
    }
    if (ready < 0) continue;  // interrupted
    const ssize_t got = atLimit
                            ? ::read(fd, &probe, 1)
                            : ::read(fd, data.data() + data.size(), data.capacity() - data.size());
    if (got == 0) return data;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw Failure(ExitStatus::ioError,
                    std::string("cannot read the clipboard data: ") + std::strerror(errno));
    }
    if (atLimit) throwTooLarge();
    data.setSize(data.size() + static_cast<std::size_t>(got));
    deadline = Clock::now() + idleLimit;
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
std::optional<FileURLList> readSelection(wl_display* display, wl_registry* registry,
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
  roundtrip(display);
  if (state.finished) {
    throw Failure(ExitStatus::unavailable, "the Wayland compositor closed the clipboard device");
  }
  if (state.selection == nullptr) return FileURLList{};

  for (const FileListType& type : fileListTypes) {
    if (std::ranges::find(state.selection->mimeTypes, type.name) ==
        state.selection->mimeTypes.end()) {
      continue;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      throw Failure(ExitStatus::ioError,
                    std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    const FileDescriptor readEnd{fds[0]};
    // The request carries a duplicate of the write end, so ours closes at once: the pipe then
    // ends when the owner closes its copy.
    Protocol::receive(state.selection->proxy.get(), std::string(type.name).c_str(), fds[1]);
    ::close(fds[1]);
    if (wl_display_flush(display) < 0) throwConnectionLost(display);
    return decodeFileList(readToEnd(readEnd.fd).view(), type.format);
  }
  return FileURLList{};
}

}  // namespace

WaylandRead readWaylandFileURLs() {
  if (*displayName() == '\0') return {WaylandAccess::notSet, std::nullopt};
  const Display display(wl_display_connect(nullptr));
  if (!display) return {WaylandAccess::unreachable, std::nullopt};
  const Registry registry(wl_display_get_registry(display.get()));
  const Globals globals = listGlobals(registry.get(), display.get());
  if (globals.ext == 0 && globals.wlr == 0) return {WaylandAccess::noDataControl, std::nullopt};
  if (globals.seat == 0) {
    throw Failure(ExitStatus::unavailable, std::string("the Wayland compositor at \"") +
                                               displayName() +
                                               "\" has no seat, so it has no clipboard");
  }
  const Seat seat(
      static_cast<wl_seat*>(wl_registry_bind(registry.get(), globals.seat, &wl_seat_interface, 1)));
  return {
      WaylandAccess::read,
      globals.ext != 0
          ? readSelection<ExtDataControl>(display.get(), registry.get(), globals.ext, seat.get())
          : readSelection<WlrDataControl>(display.get(), registry.get(), globals.wlr, seat.get())};
}

}  // namespace clipfiles
