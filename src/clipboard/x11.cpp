// Reads the CLIPBOARD selection of an X11 display through libxcb.
//
// The reader has the selection's owner convert the clipboard to a file-list target, into a
// property of the reader's own unmapped window, and reads it back, following the INCR protocol
// when the owner sends the data in chunks. It never takes ownership of a selection, so the
// clipboard stays as it was.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "clipboard/backends.h"
#include "clipboard/file_descriptor.h"
#include "clipboard/limits.h"
#include "clipboard/xcb_library.h"
#include "pathlist/buffer.h"
#include "pathlist/path_list.h"
#include "pathlist/uri_list.h"
#include "tool/failure.h"

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

// Data the owner delivered: its type and format as labelled, and the bytes, either in the one
// reply they came in or joined from the chunks of an incremental transfer.
struct Transfer {
  xcb_atom_t type = XCB_NONE;
  std::uint8_t format = 0;
  XcbPointer<xcb_get_property_reply_t> reply;
  LargeBuffer joined;

  [[nodiscard]] std::string_view bytes() const;
};

[[noreturn]] void throwConnectionLost() {
  throw Failure(ExitStatus::ioError, "lost the connection to the X display");
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
      throw Failure(ExitStatus::unavailable, name + ": the name is not a valid display name");
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      throw Failure(ExitStatus::unavailable, name + ": the display has no such screen");
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
      throw Failure(ExitStatus::software, name + ": out of memory");
    default:
      if (!written.empty()) {
        throw Failure(ExitStatus::unavailable,
                      name + ": the server refused the connection" + refusalReason(written));
      }
      throw Failure(ExitStatus::unavailable,
                    name + " (is the server running, and may this user connect to it?)");
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
  if (screens.rem == 0) throw Failure(ExitStatus::unavailable, "the X display has no such screen");

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
    const int left = ReadDeadline::millisecondsUntil(waitEnd);
    if (left == 0) throwOwnerSilent(session.deadline, silence);
    pollfd display{xcb_get_file_descriptor(c), POLLIN, 0};
    ::poll(&display, 1, left);
  }
}

// Reads and deletes the transfer property of our window. Deleting it is what asks an
// incremental owner for its next chunk.
XcbPointer<xcb_get_property_reply_t> takeTransferProperty(const Session& session) {
  xcb_connection_t* c = session.get();
  // Long enough to hold more than the size limit, so one request takes the whole property.
  const auto longLength = static_cast<std::uint32_t>(sizeLimit / 4 + 1);
  const xcb_get_property_cookie_t cookie = xcb_get_property(
      c, 1, session.window, session.atoms[transferAtom], XCB_GET_PROPERTY_TYPE_ANY, 0, longLength);
  xcb_generic_error_t* error = nullptr;
  XcbPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, &error));
  XcbPointer<xcb_generic_error_t> errorHolder(error);
  if (!reply) {
    if (error != nullptr) {
      throw Failure(ExitStatus::ioError,
                    "the X server refused to hand over the clipboard data "
                    "(X error " +
                        std::to_string(error->error_code) + ")");
    }
    throwConnectionLost();
  }
  if (reply->bytes_after != 0 ||
      static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) > sizeLimit) {
    throwTooLarge();
  }
  return reply;
}

std::string_view propertyBytes(xcb_get_property_reply_t* reply) {
  return {static_cast<const char*>(xcb_get_property_value(reply)),
          static_cast<std::size_t>(xcb_get_property_value_length(reply))};
}

std::string_view Transfer::bytes() const {
  return reply ? propertyBytes(reply.get()) : joined.view();
}

// Takes the chunks of an incremental transfer until the owner sends an empty one. Each chunk
// is copied and let go at once, so the memory of one is reused for the next.
void receiveIncrementally(const Session& session, Transfer& transfer) {
  bool first = true;
  for (;;) {
    waitForEvent(
        session,
        [&](const xcb_generic_event_t& event) {
          if ((event.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
          const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
          return notify.window == session.window && notify.atom == session.atoms[transferAtom] &&
                 notify.state == XCB_PROPERTY_NEW_VALUE;
        },
        "stopped sending data");
    const XcbPointer<xcb_get_property_reply_t> chunk = takeTransferProperty(session);
    const std::string_view bytes = propertyBytes(chunk.get());
    if (bytes.empty()) return;
    if (first) {
      transfer.type = chunk->type;
      transfer.format = chunk->format;
      first = false;
    } else if (chunk->type != transfer.type || chunk->format != transfer.format) {
      throw Failure(ExitStatus::dataError,
                    "the program that owns the clipboard changed the data's type mid-transfer");
    }
    if (bytes.size() > sizeLimit - transfer.joined.size()) throwTooLarge();
    transfer.joined.grow(transfer.joined.size() + bytes.size(), sizeLimit);
    transfer.joined.append(bytes);
  }
}

// Asks the owner to convert the clipboard to `target`. Nothing if the owner refuses.
std::optional<Transfer> convert(const Session& session, xcb_atom_t target) {
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

  XcbPointer<xcb_get_property_reply_t> reply = takeTransferProperty(session);
  if (reply->type != session.atoms[incrAtom]) {
    const xcb_atom_t type = reply->type;
    const std::uint8_t format = reply->format;
    return Transfer{type, format, std::move(reply), {}};
  }
  // The INCR property holds a lower bound of the size: refuse an oversized transfer early.
  if (reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4 &&
      *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())) > sizeLimit) {
    throwTooLarge();
  }
  Transfer transfer;
  receiveIncrementally(session, transfer);
  return transfer;
}

// The targets the owner offers, or nothing if it does not answer TARGETS in the usual form.
std::optional<std::vector<xcb_atom_t>> offeredTargets(const Session& session) {
  std::optional<Transfer> reply = convert(session, session.atoms[targetsAtom]);
  if (!reply || reply->format != 32 ||
      (reply->type != XCB_ATOM_ATOM && reply->type != session.atoms[targetsAtom])) {
    return std::nullopt;
  }
  const std::string_view bytes = reply->bytes();
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
std::optional<FileURLList> readFileList(const Session& session) {
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
    std::optional<Transfer> transfer = convert(session, target);
    if (!transfer) continue;
    // Some owners answer a request for any target with their one type of data (xclip does):
    // data labelled otherwise is a file list only if the owner lists the target. A listed
    // target that arrives as anything but text is the owner's fault, and is reported. An
    // incremental transfer that ends before its first chunk has no label: it is empty.
    if (transfer->type != target && !lists(target)) continue;
    if (transfer->bytes().empty()) return FileURLList{};
    if (transfer->format != 8) {
      throw Failure(ExitStatus::dataError,
                    "the program that owns the clipboard sent " + std::string(type.name) + " as " +
                        std::to_string(transfer->format) + "-bit items instead of text");
    }
    return decodeFileList(transfer->bytes(), type.format);
  }
  return FileURLList{};
}

}  // namespace

// The data and the TARGETS that vouch for it must come from one owner. Another program may take
// the clipboard between two requests, so the owner is looked at before and after: if another
// took it, the read starts over once, and a second change ends the run. An owner that gave up
// the clipboard as it answered (xclip -loops 1 does) was still the only one asked.
std::optional<FileURLList> readX11FileURLs(const ReadDeadline& deadline) {
  if (std::string why; loadXcbLibrary(why) == nullptr) {
    throw Failure(ExitStatus::unavailable,
                  "cannot load libxcb.so.1, which reading " + describeDisplay() + " needs: " + why);
  }
  const Session session = openSession(deadline);
  for (int attempt = 1;; ++attempt) {
    const xcb_window_t owner = selectionOwner(session);
    if (owner == XCB_NONE) return FileURLList{};
    const auto takenOver = [&] {
      const xcb_window_t now = selectionOwner(session);
      return now != owner && now != XCB_NONE;
    };
    std::optional<FileURLList> urls;
    try {
      urls = readFileList(session);
    } catch (const Failure&) {
      // An owner that lost the clipboard mid-read may stop answering or send a mix: the new
      // owner is asked instead.
      if (attempt == 2 || !takenOver()) throw;
      continue;
    }
    if (!takenOver()) return urls;
    if (attempt == 2) {
      throw Failure(ExitStatus::tempFail,
                    "the clipboard changed hands while it was being read, twice; trying again "
                    "may work");
    }
  }
}

}  // namespace clipfiles
