#include "clipboard/xcb_library.h"

#include "clipboard/shared_library.h"

namespace clipfiles {
namespace {

const OpenedLibrary<XcbLibrary>& opened() {
  static const OpenedLibrary<XcbLibrary> once =
      openLibrary<XcbLibrary>("libxcb.so.1", [](SharedLibrary& library, XcbLibrary& f) {
        library.find(f.connect, "xcb_connect");
        library.find(f.connectionHasError, "xcb_connection_has_error");
        library.find(f.convertSelection, "xcb_convert_selection");
        library.find(f.createWindow, "xcb_create_window");
        library.find(f.disconnect, "xcb_disconnect");
        library.find(f.flush, "xcb_flush");
        library.find(f.generateId, "xcb_generate_id");
        library.find(f.getFileDescriptor, "xcb_get_file_descriptor");
        library.find(f.getProperty, "xcb_get_property");
        library.find(f.getPropertyReply, "xcb_get_property_reply");
        library.find(f.getPropertyValue, "xcb_get_property_value");
        library.find(f.getPropertyValueLength, "xcb_get_property_value_length");
        library.find(f.getSelectionOwner, "xcb_get_selection_owner");
        library.find(f.getSelectionOwnerReply, "xcb_get_selection_owner_reply");
        library.find(f.getSetup, "xcb_get_setup");
        library.find(f.internAtom, "xcb_intern_atom");
        library.find(f.internAtomReply, "xcb_intern_atom_reply");
        library.find(f.pollForEvent, "xcb_poll_for_event");
        library.find(f.screenNext, "xcb_screen_next");
        library.find(f.setupRootsIterator, "xcb_setup_roots_iterator");
      });
  return once;
}

}  // namespace

const XcbLibrary* loadXcbLibrary(std::string& why) {
  if (opened().error.empty()) return &opened().functions;
  why = opened().error;
  return nullptr;
}

const XcbLibrary& xcbLibrary() {
  return opened().functions;
}

}  // namespace clipfiles
