// libwayland-client, opened when a Wayland read first needs it, with its functions under their
// usual names for the reader's code and for the protocol functions that wayland-scanner writes.
// The interfaces of the core protocol, which the library would also export, are compiled into
// the tool from wayland.xml.
#pragma once

#include <wayland-client-core.h>

#include <string>

namespace clipfiles {

// The functions of libwayland-client that the Wayland reader and the protocol code call.
struct WaylandLibrary {
  decltype(&::wl_display_connect) displayConnect;
  decltype(&::wl_display_disconnect) displayDisconnect;
  decltype(&::wl_display_get_fd) displayGetFd;
  decltype(&::wl_display_dispatch_pending) displayDispatchPending;
  decltype(&::wl_display_prepare_read) displayPrepareRead;
  decltype(&::wl_display_read_events) displayReadEvents;
  decltype(&::wl_display_cancel_read) displayCancelRead;
  decltype(&::wl_display_flush) displayFlush;
  decltype(&::wl_display_get_error) displayGetError;
  decltype(&::wl_log_set_handler_client) logSetHandlerClient;
  decltype(&::wl_proxy_marshal_flags) proxyMarshalFlags;
  decltype(&::wl_proxy_add_listener) proxyAddListener;
  decltype(&::wl_proxy_destroy) proxyDestroy;
  decltype(&::wl_proxy_get_version) proxyGetVersion;
  decltype(&::wl_proxy_get_user_data) proxyGetUserData;
  decltype(&::wl_proxy_set_user_data) proxySetUserData;
};

// Opens libwayland-client.so.0 at the first call; nothing if it cannot be opened, and `why`
// says why.
const WaylandLibrary* loadWaylandLibrary(std::string& why);
// The library, once loadWaylandLibrary has opened it.
const WaylandLibrary& waylandLibrary();

}  // namespace clipfiles

// Calls to libwayland-client by name go to the opened library.
#define wl_display_connect ::clipfiles::waylandLibrary().displayConnect
#define wl_display_disconnect ::clipfiles::waylandLibrary().displayDisconnect
#define wl_display_get_fd ::clipfiles::waylandLibrary().displayGetFd
#define wl_display_dispatch_pending ::clipfiles::waylandLibrary().displayDispatchPending
#define wl_display_prepare_read ::clipfiles::waylandLibrary().displayPrepareRead
#define wl_display_read_events ::clipfiles::waylandLibrary().displayReadEvents
#define wl_display_cancel_read ::clipfiles::waylandLibrary().displayCancelRead
#define wl_display_flush ::clipfiles::waylandLibrary().displayFlush
#define wl_display_get_error ::clipfiles::waylandLibrary().displayGetError
#define wl_log_set_handler_client ::clipfiles::waylandLibrary().logSetHandlerClient
#define wl_proxy_marshal_flags ::clipfiles::waylandLibrary().proxyMarshalFlags
#define wl_proxy_add_listener ::clipfiles::waylandLibrary().proxyAddListener
#define wl_proxy_destroy ::clipfiles::waylandLibrary().proxyDestroy
#define wl_proxy_get_version ::clipfiles::waylandLibrary().proxyGetVersion
#define wl_proxy_get_user_data ::clipfiles::waylandLibrary().proxyGetUserData
#define wl_proxy_set_user_data ::clipfiles::waylandLibrary().proxySetUserData

#include <wayland-client-protocol.h>  // its inline functions call the library through the above
