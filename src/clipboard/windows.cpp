// Reads the files on the Windows clipboard: the CF_HDROP list that Explorer and other programs
// put there when files are copied.
//
// The list is a DROPFILES header, then NUL-terminated names, ended by an empty name. The names
// are UTF-16, or from old programs in the ANSI code page. The data comes from whichever program
// owns the clipboard, so the reader takes a name only from inside the memory block. It walks
// the list once instead of calling DragQueryFileW per name, which starts from the first name on
// every call and takes seconds for a list of tens of thousands of files.
//
// An owner may put the list on the clipboard only when asked for it, as Explorer does through
// the OLE clipboard; GetClipboardData then waits for it without a limit. The read runs on a
// thread of its own, so that an owner that does not answer ends the run with an error; the
// process's exit ends the thread. Each wait has its own limit, timed from when that wait
// starts: opening the clipboard from the first attempt, the owner from the request for the
// list. The tool's own start-up and the opening never count against the owner.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: shlobj.h needs its types.
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "clipboard/backends.h"
#include "clipboard/limits.h"
#include "pathlist/file_urls.h"

namespace clipfiles {
namespace {

using Clock = std::chrono::steady_clock;

// Another program may have the clipboard open for a moment while it reads or writes it. One
// that keeps it open this long is busy or hung.
constexpr auto openLimit = std::chrono::seconds(1);
constexpr auto openRetryDelay = std::chrono::milliseconds(10);

// The clipboard, open to this thread until destroyed. Given up on once an attempt begun at
// least openLimit after the first refusal is refused too, so that the clipboard was seen held
// for that long however late this thread got to run.
class OpenClipboardSession {
 public:
  OpenClipboardSession() {
    std::optional<Clock::time_point> deadline;
    for (;;) {
      const Clock::time_point attempt = Clock::now();
      if (OpenClipboard(nullptr) != 0) return;
      const DWORD error = GetLastError();
      if (!deadline) {
        deadline = Clock::now() + openLimit;
      } else if (attempt >= *deadline) {
        const auto seconds = openLimit.count();
        throw ClipboardError(ClipboardError::Cause::contended,
                             "another program kept the clipboard open for " +
                                 std::to_string(seconds) + (seconds == 1 ? " second" : " seconds") +
                                 " (Windows error " + std::to_string(error) + ")");
      }
      std::this_thread::sleep_for(openRetryDelay);
    }
  }
  OpenClipboardSession(const OpenClipboardSession&) = delete;
  OpenClipboardSession& operator=(const OpenClipboardSession&) = delete;
  ~OpenClipboardSession() { CloseClipboard(); }
};

// A global memory block, locked for reading until destroyed.
class LockedMemory {
 public:
  explicit LockedMemory(HGLOBAL memory) : memory_(memory), data_(GlobalLock(memory)) {}
  LockedMemory(const LockedMemory&) = delete;
  LockedMemory& operator=(const LockedMemory&) = delete;
  ~LockedMemory() {
    if (data_ != nullptr) GlobalUnlock(memory_);
  }

  [[nodiscard]] const void* data() const { return data_; }

 private:
  HGLOBAL memory_;
  void* data_;
};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += {static_cast<char>(0xc0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3f))};
  } else if (c < 0x10000) {
    out += {static_cast<char>(0xe0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3f)),
            static_cast<char>(0x80 | (c & 0x3f))};
  } else {
    out += {static_cast<char>(0xf0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3f)),
            static_cast<char>(0x80 | ((c >> 6) & 0x3f)), static_cast<char>(0x80 | (c & 0x3f))};
  }
}

// A UTF-16 name as UTF-8. Windows allows an unpaired surrogate in a name, and UTF-8 has no form
// for one: it is written as the three bytes its code point would take, which the JSON writer
// refuses as not UTF-8, so such a name ends the run with an error instead of printed altered.
std::string utf8FromUtf16(std::wstring_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (c >= 0xd800 && c <= 0xdbff && i + 1 < name.size() && name[i + 1] >= 0xdc00 &&
        name[i + 1] <= 0xdfff) {
      c = 0x10000 + ((c - 0xd800) << 10) + (name[++i] - 0xdc00);
    }
    appendUtf8(out, c);
  }
  return out;
}

// A name in the ANSI code page, as UTF-16. Nothing if the code page has no reading of it.
std::optional<std::wstring> utf16FromAnsi(std::string_view name) {
  const auto size = static_cast<int>(name.size());
  const int length =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, wide.data(), length) !=
      length) {
    return std::nullopt;
  }
  return wide;
}

// Hands each name of a list of NUL-terminated names ended by an empty one to `take`, in order.
// False, with none taken, when the list runs to the end of `text` without its empty name.
template <typename Char, typename Take>
bool forEachName(std::basic_string_view<Char> text, Take take) {
  std::size_t end = 0;
  for (std::size_t nul = 0; (nul = text.find(Char{0}, end)) != end; end = nul + 1) {
    if (nul == std::basic_string_view<Char>::npos) return false;
  }
  for (std::basic_string_view<Char> names = text.substr(0, end); !names.empty();) {
    const std::size_t nul = names.find(Char{0});
    take(names.substr(0, nul));
    names.remove_prefix(nul + 1);
  }
  return true;
}

// The paths of a CF_HDROP block. Nothing when the block is not a whole list.
std::optional<FileURLPaths> decodeDropFiles(std::string_view block) {
  DROPFILES header{};
  if (block.size() < sizeof header) return std::nullopt;
  std::memcpy(&header, block.data(), sizeof header);
  if (header.pFiles > block.size()) return std::nullopt;
  const std::string_view list = block.substr(header.pFiles);

  FileURLPaths urls;
  if (header.fWide != 0) {
    // Copied out, as the names need not start on a 2-byte boundary within the block.
    std::wstring units(list.size() / sizeof(wchar_t), L'\0');
    std::memcpy(units.data(), list.data(), units.size() * sizeof(wchar_t));
    const bool whole = forEachName(std::wstring_view(units),
                                   [&](std::wstring_view name) { urls.add(utf8FromUtf16(name)); });
    if (!whole) return std::nullopt;
  } else {
    const bool whole = forEachName(list, [&](std::string_view name) {
      const std::optional<std::wstring> wide = utf16FromAnsi(name);
      if (!wide) {
        throw ClipboardError(ClipboardError::Cause::badData,
                             "cannot write the file list as JSON: a name in it is not valid text "
                             "in the system's ANSI code page (" +
                                 std::to_string(GetACP()) + ")");
      }
      urls.add(utf8FromUtf16(*wide));
    });
    if (!whole) return std::nullopt;
  }
  return urls;
}

// How far the reader thread has got, shared with the thread that waits for it. A reader that
// is given up on keeps running until the process exits, so both threads own this.
class ReadProgress {
 public:
  enum class Stage {
    preparing,    // starting, opening the clipboard, seeing whether a list is offered
    askingOwner,  // waiting in GetClipboardData for the owner to render the list
    reading,      // the owner has answered; the list is being decoded
    finished,     // the list or the error is kept
  };

  void reach(Stage stage) {
    {
      const std::lock_guard lock(mutex_);
      stage_ = stage;
      if (stage == Stage::askingOwner) ownerAsked_ = Clock::now();
    }
    changed_.notify_all();
  }

  void finish(std::optional<FileURLPaths> urls, std::exception_ptr error) {
    {
      const std::lock_guard lock(mutex_);
      urls_ = std::move(urls);
      error_ = std::move(error);
      stage_ = Stage::finished;
    }
    changed_.notify_all();
  }

  // Waits for the read to end; false if the owner, once asked, took longer than idleLimit, or
  // the whole read took longer than readLimit. Before the request the wait has no shorter
  // limit of its own: the reader's only wait on another program then, for the clipboard to be
  // opened, is limited where it happens.
  bool waitForEnd(const ReadDeadline& deadline) {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline.end(), [&] { return stage_ != Stage::preparing; }) &&
           changed_.wait_until(lock, std::min(ownerAsked_ + idleLimit, deadline.end()),
                               [&] { return stage_ != Stage::askingOwner; }) &&
           changed_.wait_until(lock, deadline.end(), [&] { return stage_ == Stage::finished; });
  }

  // Once waitForEnd has returned true.
  std::optional<FileURLPaths> result() {
    if (error_) std::rethrow_exception(error_);
    return std::move(urls_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Stage stage_ = Stage::preparing;
  Clock::time_point ownerAsked_;
  std::optional<FileURLPaths> urls_;
  std::exception_ptr error_;
};

// The read itself, on the thread that opens the clipboard.
std::optional<FileURLPaths> readClipboard(ReadProgress& progress) {
  const OpenClipboardSession clipboard;
  if (IsClipboardFormatAvailable(CF_HDROP) == 0) return FileURLPaths{};
  progress.reach(ReadProgress::Stage::askingOwner);
  auto* const memory = static_cast<HGLOBAL>(GetClipboardData(CF_HDROP));
  progress.reach(ReadProgress::Stage::reading);
  // A program that announced a list and then fails to render it has no list to give.
  if (memory == nullptr) return std::nullopt;
  const std::size_t size = GlobalSize(memory);
  if (size > sizeLimit) throwTooLarge();
  const LockedMemory locked(memory);
  if (locked.data() == nullptr) return std::nullopt;
  return decodeDropFiles({static_cast<const char*>(locked.data()), size});
}

}  // namespace

std::optional<FileURLPaths> readWindowsFileURLs() {
  const ReadDeadline deadline;
  const auto progress = std::make_shared<ReadProgress>();
  std::thread reader([progress] {
    std::optional<FileURLPaths> urls;
    std::exception_ptr error;
    try {
      urls = readClipboard(*progress);
    } catch (...) {
      error = std::current_exception();
    }
    progress->finish(std::move(urls), error);
  });
  if (!progress->waitForEnd(deadline)) {
    reader.detach();
    throwOwnerSilent(deadline, "did not hand over the file list");
  }
  reader.join();
  return progress->result();
}

}  // namespace clipfiles
