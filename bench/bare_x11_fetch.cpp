// A floor for the benchmarks: fetches the CLIPBOARD as text/uri-list the plain way, into a
// property of an unmapped window, following INCR when the owner sends it in chunks, and drops
// the bytes (with --print it writes them to standard output, so that bench/run can check that
// they are the whole list). No decoding, no JSON and no idle timeouts: an alarm only keeps a
// stuck run from hanging a benchmark.
//   bare_x11_fetch [--print]
// Exits 0 with the data, 1 if the display fails, 2 if there is no owner or it refuses.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

xcb_connection_t* connection = nullptr;
bool print = false;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The next event of `type` (its code without the sent-event bit); exits if the display fails.
Reply<xcb_generic_event_t> waitFor(std::uint8_t type) {
  for (;;) {
    Reply<xcb_generic_event_t> event(xcb_wait_for_event(connection), &std::free);
    if (!event) std::exit(1);
    if ((event->response_type & 0x7f) == type) return event;
  }
}

// Reads the whole property and deletes it.
Reply<xcb_get_property_reply_t> take(xcb_window_t window, xcb_atom_t property) {
  Reply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(connection,
                             xcb_get_property(connection, 1, window, property,
                                              XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
                             nullptr),
      &std::free);
  if (!reply) std::exit(1);
  return reply;
}

// Drops the property's bytes, or with --print writes them out; returns how many there were.
int emit(const xcb_get_property_reply_t& reply) {
  const int length = xcb_get_property_value_length(&reply);
  if (print) {
    const char* data = static_cast<const char*>(xcb_get_property_value(&reply));
    for (int done = 0; done < length;) {
      const ssize_t written = write(STDOUT_FILENO, data + done, static_cast<size_t>(length - done));
      if (written <= 0) std::exit(1);
      done += static_cast<int>(written);
    }
  }
  return length;
}

}  // namespace

int main(int argc, char** argv) {
  print = argc > 1 && std::strcmp(argv[1], "--print") == 0;
  alarm(60);

  int screenNumber = 0;
  connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection) != 0) return 1;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
  const xcb_screen_t* screen = screens.data;

  // The atoms, asked for together so that they cost one round trip.
  const char* names[] = {"CLIPBOARD", "text/uri-list", "INCR", "BARE_X11_FETCH"};
  xcb_intern_atom_cookie_t cookies[4];
  for (int i = 0; i < 4; ++i) {
    cookies[i] =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]);
  }
  xcb_atom_t atoms[4];
  for (int i = 0; i < 4; ++i) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr),
                                         &std::free);
    if (!reply) return 1;
    atoms[i] = reply->atom;
  }
  const auto [clipboard, uriList, incr, property] = atoms;

  // An input-only window that is never mapped; it hears of changes to its properties, which INCR
  // needs.
  const xcb_window_t window = xcb_generate_id(connection);
  const std::uint32_t eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                    &eventMask);
  xcb_convert_selection(connection, window, clipboard, uriList, property, XCB_CURRENT_TIME);
  xcb_flush(connection);

  const auto notify = waitFor(XCB_SELECTION_NOTIFY);
  if (reinterpret_cast<xcb_selection_notify_event_t*>(notify.get())->property == XCB_NONE) return 2;

  const auto first = take(window, property);
  if (first->type != incr) {
    emit(*first);
  } else {
    // Deleting the INCR property asked for the first chunk; each later one arrives as a new
    // value of the property, and an empty one ends the transfer.
    for (;;) {
      const auto event = waitFor(XCB_PROPERTY_NOTIFY);
      const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
      if (change->atom != property || change->state != XCB_PROPERTY_NEW_VALUE) continue;
      if (emit(*take(window, property)) == 0) break;
    }
  }
  xcb_disconnect(connection);
  return 0;
}
