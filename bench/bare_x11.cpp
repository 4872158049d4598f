// A floor for the benchmarks: connects to the X display and disconnects, nothing else.
#include <xcb/xcb.h>

int main() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const int error = xcb_connection_has_error(connection);
  xcb_disconnect(connection);
  return error == 0 ? 0 : 1;
}
