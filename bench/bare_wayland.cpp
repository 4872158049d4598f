// A floor for the benchmarks: connects to the Wayland display, makes one roundtrip (as any
// client must to learn the globals) and disconnects.
#include <wayland-client.h>

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return 1;
  const int result = wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return result < 0 ? 1 : 0;
}
