// clipfiles: prints the paths of the files on the clipboard as one compact JSON array.
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "clipboard/clipboard.h"
#include "pathlist/path_list.h"

namespace {

// The exit statuses, from the list that the man page is made from too.
enum class ExitStatus : int {
#define CLIPFILES_EXIT_STATUS(name, value, cause) name = (value),
#include "tool/exit_statuses.def"
#undef CLIPFILES_EXIT_STATUS
};

// The run's two results, each set once: the clipboard's file URLs, then the JSON bytes.
clipfiles::FileURLPaths urls;
clipfiles::JsonText data;

// What each reason the clipboard could not be read means to a caller.
ExitStatus exitStatus(clipfiles::ClipboardError::Cause cause) {
  using Cause = clipfiles::ClipboardError::Cause;
  switch (cause) {
    case Cause::unavailable: return ExitStatus::unavailable;
    case Cause::connectionLost: return ExitStatus::ioError;
    case Cause::timedOut:
    case Cause::contended: return ExitStatus::tempFail;
    case Cause::badData:
    case Cause::tooLarge: return ExitStatus::dataError;
  }
  return ExitStatus::software;
}

#if defined(_WIN32)
// Windows keeps the standard handles apart from the handle table's free slots, and the reader
// opens no files: there is nothing to hold.
void holdClosedStandardDescriptors() {}
#else
// A closed standard descriptor would be handed to the next file the process opens, such as
// its display connection, and output meant for it would land there. Hold each closed slot
// with /dev/null opened read-only, so that writing to it still fails as it would have.
void holdClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDONLY);
  }
}
#endif

// The line goes out in one write, as text for a console or bytes for a pipe or a file. Without
// the memory to build it, its three parts go out one after another.
int fail(ExitStatus status, std::string_view message) {
  try {
    clipfiles::writeStandardError("clipfiles: " + std::string(message) + "\n");
  } catch (const std::bad_alloc&) {
    clipfiles::writeStandardError("clipfiles: ");
    clipfiles::writeStandardError(message);
    clipfiles::writeStandardError("\n");
  }
  return static_cast<int>(status);
}

}  // namespace

// Arguments are not read: the tool has no options, and whatever a caller passes is ignored.
int main() {
  using namespace clipfiles;
  try {
    holdClosedStandardDescriptors();
    urls = readFileURLs().value_or(FileURLPaths{});
    data = encodePathList(makePathList(urls));
    writeStandardOutput(data.view());
    return static_cast<int>(ExitStatus::success);
  } catch (const ClipboardError& error) {
    return fail(exitStatus(error.cause()), error.what());
  } catch (const InvalidPathError& error) {
    return fail(ExitStatus::dataError, error.what());
  } catch (const OutputError& error) {
    return fail(ExitStatus::ioError, error.what());
  } catch (const std::bad_alloc&) {
    return fail(ExitStatus::software, "out of memory");
  } catch (const std::exception& error) {
    return fail(ExitStatus::software, error.what());
  }
}
