#include "clipboard/wayland_library.h"

#include "clipboard/shared_library.h"

namespace clipfiles {
namespace {

const OpenedLibrary<WaylandLibrary>& opened() {
  static const OpenedLibrary<WaylandLibrary> once = openLibrary<WaylandLibrary>(
      "libwayland-client.so.0", [](SharedLibrary& library, WaylandLibrary& f) {
        library.find(f.displayConnect, "wl_display_connect");
        library.find(f.displayDisconnect, "wl_display_disconnect");
        library.find(f.displayGetFd, "wl_display_get_fd");
        library.find(f.displayDispatchPending, "wl_display_dispatch_pending");
        library.find(f.displayPrepareRead, "wl_display_prepare_read");
        library.find(f.displayReadEvents, "wl_display_read_events");
        library.find(f.displayCancelRead, "wl_display_cancel_read");
        library.find(f.displayFlush, "wl_display_flush");
        library.find(f.displayGetError, "wl_display_get_error");
        library.find(f.logSetHandlerClient, "wl_log_set_handler_client");
        library.find(f.proxyMarshalFlags, "wl_proxy_marshal_flags");
        library.find(f.proxyAddListener, "wl_proxy_add_listener");
        library.find(f.proxyDestroy, "wl_proxy_destroy");
        library.find(f.proxyGetVersion, "wl_proxy_get_version");
        library.find(f.proxyGetUserData, "wl_proxy_get_user_data");
        library.find(f.proxySetUserData, "wl_proxy_set_user_data");
      });
  return once;
}

}  // namespace

const WaylandLibrary* loadWaylandLibrary(std::string& why) {
  if (opened().error.empty()) return &opened().functions;
  why = opened().error;
  return nullptr;
}

const WaylandLibrary& waylandLibrary() {
  return opened().functions;
}

}  // namespace clipfiles
