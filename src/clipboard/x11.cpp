// Reads the CLIPBOARD selection of an X11 display through libxcb.
//
// The reader has the selection's owner convert the clipboard to a file-list target, into a
// property of the reader's own unmapped window, and reads it back, following the INCR protocol
// when the owner sends the data in chunks. It never takes ownership of a selection, so the
// clipboard stays as it was.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "clipboard/backends.h"
#include "clipboard/file_descriptor.h"
#include "clipboard/limits.h"
#include "clipboard/uri_list.h"
#include "clipboard/xcb_library.h"
#include "pathlist/path_list.h"

namespace clipfiles {
namespace {

using Clock = ReadDeadline::Clock;

struct FreeDeleter {
  void operator()(void* memory) const noexcept { std::free(memory); }
};
template <typename T>
using XcbPointer = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
  void operator()(xcb_connection_t* connection) const noexcept { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

enum AtomName : std::size_t {
  clipboardAtom,
  targetsAtom,
  incrAtom,
  firstFileListAtom,  // one atom for each of fileListTypes, in their order
  transferAtom = firstFileListAtom + fileListTypes.size(),  // our window's property for the data
  atomCount,
};
constexpr std::array<std::string_view, atomCount> atomNames{
    "CLIPBOARD",
    "TARGETS",
    "INCR",
    fileListTypes[0].name,
    fileListTypes[1].name,
    fileListTypes[2].name,
    "CLIPFILES_TRANSFER",
};
static_assert(std::ranges::none_of(atomNames, [](std::string_view name) { return name.empty(); }),
              "every atom, file-list types included, needs its name here");

struct Session {
  Connection connection;
  const ReadDeadline& deadline;
  xcb_window_t window = XCB_NONE;
  std::array<xcb_atom_t, atomCount> atoms{};

  [[nodiscard]] xcb_connection_t* get() const { return connection.get(); }
};

// How the owner labelled the data it sent: its type, and its format (8, 16 or 32-bit items).
struct Label {
  xcb_atom_t type = XCB_NONE;
  std::uint8_t format = 0;
};

[[noreturn]] void throwConnectionLost() {
  throw ClipboardError(ClipboardError::Cause::connectionLost,
                       "lost the connection to the X display");
}

// Standard error sent into a pipe until destroyed, so that what a library writes there can be
// read back rather than reach the user.
class CapturedStandardError {
 public:
  CapturedStandardError() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd_.fd = fds[0];
    saved_.fd = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_.fd < 0 || ::dup2(fds[1], STDERR_FILENO) < 0) {
      ::close(saved_.fd);
      saved_.fd = -1;
    }
    ::close(fds[1]);
  }
  CapturedStandardError(const CapturedStandardError&) = delete;
  CapturedStandardError& operator=(const CapturedStandardError&) = delete;
  ~CapturedStandardError() { restore(); }

  // Points standard error back where it was; returns what was written meanwhile.
  std::string restore() {
    if (saved_.fd >= 0) {
      ::dup2(saved_.fd, STDERR_FILENO);
      ::close(saved_.fd);
      saved_.fd = -1;
    }
    std::string text;
    std::array<char, 1024> chunk{};
    ssize_t got = 0;
    while (readEnd_.fd >= 0 && (got = ::read(readEnd_.fd, chunk.data(), chunk.size())) > 0) {
      text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return text;
  }

 private:
  FileDescriptor readEnd_{-1};
  FileDescriptor saved_{-1};
};

ClipboardError unavailable(const std::string& message) {
  return {ClipboardError::Cause::unavailable, message};
}

std::string describeDisplay() {
  const char* display = std::getenv("DISPLAY");
  return "the X display \"" + printableText(display != nullptr ? display : "") + "\"";
}

// What libxcb wrote of the server's refusal, as the end of a message: ": REASON", or nothing.
std::string refusalReason(std::string_view written) {
  while (!written.empty() && (written.back() == '\n' || written.back() == ' ')) {
    written.remove_suffix(1);
  }
  return written.empty() ? std::string() : ": " + printableText(written);
}

// xcb_connect waits for the server's setup reply without a limit, and writes the reason for a
// refusal straight to standard error. So it runs on a thread of its own, with standard error
// caught meanwhile: the run gives up on a server that does not answer within the idle limit,
// and a refusal's reason goes into the tool's own message. A thread left waiting on a silent
// server ends with the process.
Connection connect(int& screenNumber, const ReadDeadline& deadline) {
  struct Attempt {
    xcb_connection_t* connection = nullptr;
    int screen = 0;
  };
  std::promise<Attempt> promise;
  std::future<Attempt> result = promise.get_future();
  CapturedStandardError captured;
  std::thread connecting([promise = std::move(promise)]() mutable {
    Attempt attempt;
    attempt.connection = xcb_connect(nullptr, &attempt.screen);
    promise.set_value(attempt);
  });
  if (result.wait_until(deadline.waitEnd()) == std::future_status::timeout) {
    connecting.detach();
    captured.restore();
    throwSilent(deadline, describeDisplay(), "did not answer");
  }
  connecting.join();
  const std::string written = captured.restore();
  const Attempt attempt = result.get();
  Connection connection(attempt.connection);
  screenNumber = attempt.screen;
  const int error = xcb_connection_has_error(connection.get());
  if (error == 0) return connection;
  const std::string name = "cannot connect to " + describeDisplay();
  switch (error) {
    case XCB_CONN_CLOSED_PARSE_ERR:
      throw unavailable(name + ": the name is not a valid display name");
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      throw unavailable(name + ": the display has no such screen");
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT: throw std::bad_alloc();
    default:
      if (!written.empty()) {
        throw unavailable(name + ": the server refused the connection" + refusalReason(written));
      }
      throw unavailable(name + " (is the server running, and may this user connect to it?)");
  }
}

Session openSession(const ReadDeadline& deadline) {
  int screenNumber = 0;
  Session session{connect(screenNumber, deadline), deadline};
  xcb_connection_t* c = session.get();

  std::array<xcb_intern_atom_cookie_t, atomCount> cookies{};
  for (std::size_t i = 0; i < atomCount; ++i) {
    cookies[i] =
        xcb_intern_atom(c, 0, static_cast<std::uint16_t>(atomNames[i].size()), atomNames[i].data());
  }

  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) throw unavailable("the X display has no such screen");

  // An unmapped input-only window: the owner needs one to deliver the data to, and
  // PropertyChange events on it pace the chunks of an incremental transfer.
  session.window = xcb_generate_id(c);
  const std::uint32_t eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, session.window, screens.data->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                    &eventMask);

  for (std::size_t i = 0; i < atomCount; ++i) {
    XcbPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
    if (!reply) throwConnectionLost();
    session.atoms[i] = reply->atom;
  }
  return session;
}

// Waits for the first event that `matches`, dropping others. Throws if the owner stays silent
// for the idle limit, with `silence` saying what it failed to do, or the read's time is up.
template <typename Match>
XcbPointer<xcb_generic_event_t> waitForEvent(const Session& session, Match matches,
                                             const char* silence) {
  xcb_connection_t* c = session.get();
  const Clock::time_point waitEnd = session.deadline.waitEnd();
  xcb_flush(c);
  for (;;) {
    while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
      XcbPointer<xcb_generic_event_t> event(raw);
      if (matches(*event)) return event;
    }
    if (xcb_connection_has_error(c) != 0) throwConnectionLost();
    if (!waitUntilReadable(xcb_get_file_descriptor(c), waitEnd)) {
      throwOwnerSilent(session.deadline, silence);
    }
  }
}

// Each request for the transfer property takes at most this much of it, so that a large
// property never sits in memory whole.
constexpr std::uint32_t pieceSize = std::uint32_t{1} << 20;

// Reads the transfer property of our window a piece at a time, handing each piece to `take`,
// and deletes it with its last piece. Deleting it is what asks an incremental owner for its
// next chunk. `received` counts the bytes of the whole transfer, against the size limit.
template <typename Take>
Label takeTransferProperty(const Session& session, std::size_t& received, Take take) {
  xcb_connection_t* c = session.get();
  for (std::uint32_t offset = 0;;) {
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 1, session.window, session.atoms[transferAtom],
                         XCB_GET_PROPERTY_TYPE_ANY, offset, pieceSize / 4);
    xcb_generic_error_t* error = nullptr;
    const XcbPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, &error));
    const XcbPointer<xcb_generic_error_t> errorHolder(error);
    if (!reply) {
      if (error != nullptr) {
        throw ClipboardError(ClipboardError::Cause::connectionLost,
                             "the X server refused to hand over the clipboard data (X error " +
                                 std::to_string(error->error_code) + ")");
      }
      throwConnectionLost();
    }
    const std::string_view piece(
        static_cast<const char*>(xcb_get_property_value(reply.get())),
        static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    if (piece.size() > sizeLimit - received ||
        reply->bytes_after > sizeLimit - received - piece.size()) {
      throwTooLarge();
    }
    received += piece.size();
    const Label label{reply->type, reply->format};
    if (!piece.empty()) take(label, piece);
    if (reply->bytes_after == 0) return label;
    offset += static_cast<std::uint32_t>(piece.size() / 4);
  }
}

// Asks the owner to convert the clipboard to `target`, and hands the data to `take` piece by
// piece as it arrives, following the INCR protocol when the owner sends it in chunks: each is
// taken and let go at once. Returns the data's label, or nothing if the owner refuses. An
// incremental transfer that ends before its first chunk has no label: it is empty.
template <typename Take>
std::optional<Label> convert(const Session& session, xcb_atom_t target, Take take) {
  const xcb_atom_t clipboard = session.atoms[clipboardAtom];
  const xcb_atom_t property = session.atoms[transferAtom];
  xcb_convert_selection(session.get(), session.window, clipboard, target, property,
                        XCB_CURRENT_TIME);
  XcbPointer<xcb_generic_event_t> event = waitForEvent(
      session,
      [&](const xcb_generic_event_t& candidate) {
        if ((candidate.response_type & 0x7f) != XCB_SELECTION_NOTIFY) return false;
        const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(candidate);
        return notify.requestor == session.window && notify.selection == clipboard &&
               notify.target == target;
      },
      "did not answer");
  if (reinterpret_cast<const xcb_selection_notify_event_t&>(*event).property == XCB_NONE) {
    return std::nullopt;
  }

  std::size_t received = 0;
  bool incremental = false;
  std::uint32_t announced = 0;
  const Label label =
      takeTransferProperty(session, received, [&](const Label& first, std::string_view bytes) {
        if (first.type != session.atoms[incrAtom]) return take(first, bytes);
        incremental = true;
        if (first.format == 32 && bytes.size() >= 4) std::memcpy(&announced, bytes.data(), 4);
      });
  if (!incremental && label.type != session.atoms[incrAtom]) return label;
  // The INCR property holds a lower bound of the size: refuse an oversized transfer early.
  if (announced > sizeLimit) throwTooLarge();
  received = 0;
  std::optional<Label> chunks;
  for (;;) {
    waitForEvent(
        session,
        [&](const xcb_generic_event_t& candidate) {
          if ((candidate.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
          const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(candidate);
          return notify.window == session.window && notify.atom == property &&
                 notify.state == XCB_PROPERTY_NEW_VALUE;
        },
        "stopped sending data");
    const std::size_t before = received;
    takeTransferProperty(session, received, [&](const Label& chunk, std::string_view bytes) {
      if (!chunks) {
        chunks = chunk;
      } else if (chunk.type != chunks->type || chunk.format != chunks->format) {
        throw ClipboardError(
            ClipboardError::Cause::badData,
            "the program that owns the clipboard changed the data's type mid-transfer");
      }
      take(chunk, bytes);
    });
    if (received == before) return chunks.value_or(Label{});
  }
}

// The targets the owner offers, or nothing if it does not answer TARGETS in the usual form.
std::optional<std::vector<xcb_atom_t>> offeredTargets(const Session& session) {
  std::string bytes;
  const std::optional<Label> label =
      convert(session, session.atoms[targetsAtom],
              [&](const Label&, std::string_view piece) { bytes.append(piece); });
  if (!label || label->format != 32 ||
      (label->type != XCB_ATOM_ATOM && label->type != session.atoms[targetsAtom])) {
    return std::nullopt;
  }
  std::vector<xcb_atom_t> targets(bytes.size() / sizeof(xcb_atom_t));
  std::copy_n(bytes.data(), targets.size() * sizeof(xcb_atom_t),
              reinterpret_cast<char*>(targets.data()));
  return targets;
}

// The window that owns the clipboard now, or XCB_NONE.
xcb_window_t selectionOwner(const Session& session) {
  xcb_connection_t* c = session.get();
  const XcbPointer<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
      c, xcb_get_selection_owner(c, session.atoms[clipboardAtom]), nullptr));
  if (!reply) throwConnectionLost();
  return reply->owner;
}

// The file list of the clipboard's current owner, by the targets it offers.
std::optional<FileURLPaths> readFileList(const Session& session) {
  // The owner's TARGETS, asked for only when first needed; nothing when it does not answer
  // them in the usual form, and then every file-list target is asked for directly.
  std::optional<std::optional<std::vector<xcb_atom_t>>> targets;
  const auto offered = [&]() -> const std::optional<std::vector<xcb_atom_t>>& {
    if (!targets) targets = offeredTargets(session);
    return *targets;
  };
  const auto lists = [&](xcb_atom_t target) {
    return offered() && std::ranges::find(*offered(), target) != offered()->end();
  };

  for (std::size_t i = 0; i < fileListTypes.size(); ++i) {
    const FileListType& type = fileListTypes[i];
    const xcb_atom_t target = session.atoms[firstFileListAtom + i];
    // Owners of copied files nearly all offer text/uri-list, so it is asked for at once; the
    // other targets only when the owner lists them, or lists nothing.
    if (i != 0 && offered() && !lists(target)) continue;
    // Some owners answer a request for any target with their one type of data (xclip does):
    // data labelled otherwise is a file list only if the owner lists the target. It is decoded
    // as it arrives all the same, and the owner's targets asked for once it has ended. A listed
    // target that arrives as anything but text is the owner's fault, and is reported.
    FileListDecoder decoder(type.format);
    std::size_t received = 0;
    const auto notText = [&](const Label& label) {
      return ClipboardError(ClipboardError::Cause::badData,
                            "the program that owns the clipboard sent " + std::string(type.name) +
                                " as " + std::to_string(label.format) +
                                "-bit items instead of text");
    };
    const std::optional<Label> label =
        convert(session, target, [&](const Label& piece, std::string_view bytes) {
          received += bytes.size();
          if (piece.format == 8) {
            decoder.add(bytes);
          } else if (piece.type == target) {
            throw notText(piece);
          }
        });
    if (!label) continue;
    if (label->type != target && !lists(target)) continue;
    if (received == 0) return FileURLPaths{};
    if (label->format != 8) throw notText(*label);
    return std::move(decoder).finish();
  }
  return FileURLPaths{};
}

}  // namespace

// The data and the TARGETS that vouch for it must come from one owner. Another program may take
// the clipboard between two requests, so the owner is looked at before and after: if another
// took it, the read starts over once, and a second change ends the run. An owner that gave up
// the clipboard as it answered (xclip -loops 1 does) was still the only one asked.
std::optional<FileURLPaths> readX11FileURLs(const ReadDeadline& deadline) {
  if (std::string why; loadXcbLibrary(why) == nullptr) {
    throw unavailable("cannot load libxcb.so.1, which reading " + describeDisplay() +
                      " needs: " + why);
  }
  const Session session = openSession(deadline);
  for (int attempt = 1;; ++attempt) {
    const xcb_window_t owner = selectionOwner(session);
    if (owner == XCB_NONE) return FileURLPaths{};
    const auto takenOver = [&] {
      const xcb_window_t now = selectionOwner(session);
      return now != owner && now != XCB_NONE;
    };
    std::optional<FileURLPaths> urls;
    try {
      urls = readFileList(session);
    } catch (const ClipboardError&) {
      // An owner that lost the clipboard mid-read may stop answering or send a mix: the new
      // owner is asked instead.
      if (attempt == 2 || !takenOver()) throw;
      continue;
    }
    if (!takenOver()) return urls;
    if (attempt == 2) {
      throw ClipboardError(ClipboardError::Cause::contended,
                           "the clipboard changed hands while it was being read, twice; trying "
                           "again may work");
    }
  }
}

}  // namespace clipfiles
