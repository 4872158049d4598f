// libxcb, opened when an X11 read first needs it, with its functions under their usual names
// for the reader's code.
#pragma once

#include <xcb/xcb.h>

#include <string>

namespace clipfiles {

// The functions of libxcb that the X11 reader calls.
struct XcbLibrary {
  decltype(&::xcb_connect) connect;
  decltype(&::xcb_connection_has_error) connectionHasError;
  decltype(&::xcb_convert_selection) convertSelection;
  decltype(&::xcb_create_window) createWindow;
  decltype(&::xcb_disconnect) disconnect;
  decltype(&::xcb_flush) flush;
  decltype(&::xcb_generate_id) generateId;
  decltype(&::xcb_get_file_descriptor) getFileDescriptor;
  decltype(&::xcb_get_property) getProperty;
  decltype(&::xcb_get_property_reply) getPropertyReply;
  decltype(&::xcb_get_property_value) getPropertyValue;
  decltype(&::xcb_get_property_value_length) getPropertyValueLength;
  decltype(&::xcb_get_selection_owner) getSelectionOwner;
  decltype(&::xcb_get_selection_owner_reply) getSelectionOwnerReply;
  decltype(&::xcb_get_setup) getSetup;
  decltype(&::xcb_intern_atom) internAtom;
  decltype(&::xcb_intern_atom_reply) internAtomReply;
  decltype(&::xcb_poll_for_event) pollForEvent;
  decltype(&::xcb_screen_next) screenNext;
  decltype(&::xcb_setup_roots_iterator) setupRootsIterator;
};

// Opens libxcb.so.1 at the first call; nothing if it cannot be opened, and `why` says why.
const XcbLibrary* loadXcbLibrary(std::string& why);
// The library, once loadXcbLibrary has opened it.
const XcbLibrary& xcbLibrary();

}  // namespace clipfiles

// Calls to libxcb by name go to the opened library.
#define xcb_connect ::clipfiles::xcbLibrary().connect
#define xcb_connection_has_error ::clipfiles::xcbLibrary().connectionHasError
#define xcb_convert_selection ::clipfiles::xcbLibrary().convertSelection
#define xcb_create_window ::clipfiles::xcbLibrary().createWindow
#define xcb_disconnect ::clipfiles::xcbLibrary().disconnect
#define xcb_flush ::clipfiles::xcbLibrary().flush
#define xcb_generate_id ::clipfiles::xcbLibrary().generateId
#define xcb_get_file_descriptor ::clipfiles::xcbLibrary().getFileDescriptor
#define xcb_get_property ::clipfiles::xcbLibrary().getProperty
#define xcb_get_property_reply ::clipfiles::xcbLibrary().getPropertyReply
#define xcb_get_property_value ::clipfiles::xcbLibrary().getPropertyValue
#define xcb_get_property_value_length ::clipfiles::xcbLibrary().getPropertyValueLength
#define xcb_get_selection_owner ::clipfiles::xcbLibrary().getSelectionOwner
#define xcb_get_selection_owner_reply ::clipfiles::xcbLibrary().getSelectionOwnerReply
#define xcb_get_setup ::clipfiles::xcbLibrary().getSetup
#define xcb_intern_atom ::clipfiles::xcbLibrary().internAtom
#define xcb_intern_atom_reply ::clipfiles::xcbLibrary().internAtomReply
#define xcb_poll_for_event ::clipfiles::xcbLibrary().pollForEvent
#define xcb_screen_next ::clipfiles::xcbLibrary().screenNext
#define xcb_setup_roots_iterator ::clipfiles::xcbLibrary().setupRootsIterator
