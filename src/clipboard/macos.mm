// Reads the file URLs on the macOS general pasteboard through AppKit.
//
// Correct with and without ARC: every object here is autoreleased and lives inside the pool,
// and nothing is retained or released by hand; an object whose bytes are handed on is held
// __autoreleasing, so that ARC, too, keeps it until the pool is drained. No C++ exception is
// thrown inside the pool: a failure is kept and thrown once the pool has been drained, since a
// pool that an exception unwinds is never drained.
#import <AppKit/AppKit.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "clipboard/backends.h"
#include "clipboard/uri_list.h"
#include "pathlist/path_list.h"

namespace clipfiles {
namespace {

// What a read of the pasteboard came to: the file URLs, or nothing when the pasteboard holds
// no well-formed file list; or a failure to throw.
struct PasteboardRead {
  std::optional<FileURLPaths> urls;
  std::optional<ClipboardError> failure;
};

// The UTF-8 bytes of `text`, with their length, so that a NUL in the text does not end them.
// Nothing when `text` is nil or has no UTF-8 form (an unpaired surrogate). The bytes last as
// long as the pool.
std::optional<std::string_view> utf8Bytes(NSString* text) {
  NSData* __autoreleasing data = [text dataUsingEncoding:NSUTF8StringEncoding];
  if (data == nil) return std::nullopt;
  return std::string_view(static_cast<const char*>(data.bytes), data.length);
}

// `text` as one printable line for a message.
std::string describe(NSString* text) {
  const std::optional<std::string_view> bytes = utf8Bytes(text);
  return bytes ? printableText(*bytes) : "(none)";
}

// The URL's path with its percent-escapes still in place, from the same parse that gives its
// decoded path; nil when the URL has no path.
NSString* escapedPath(NSURL* url) {
  return CFBridgingRelease(CFURLCopyPath((__bridge CFURLRef)url));
}

PasteboardRead readURLs() {
  NSPasteboard* pasteboard = [NSPasteboard generalPasteboard];
  if (pasteboard == nil) return {};

  NSArray<Class>* classes = @[ [NSURL class] ];
  NSDictionary<NSPasteboardReadingOptionKey, id>* options =
      @{NSPasteboardURLReadingFileURLsOnlyKey : @YES};
  NSArray* objects = [pasteboard readObjectsForClasses:classes options:options];
  if (objects == nil) return {};

  PasteboardRead read{FileURLPaths{}, std::nullopt};
  NSUInteger position = 0;
  for (id object in objects) {
    ++position;
    // A list with anything but URLs in it is not taken at all.
    if (![object isKindOfClass:[NSURL class]]) return {};
    NSURL* url = [object absoluteURL];
    // Nor is one with an escape in a path that decodes to another file, as on Linux: the
    // decoded path would cut a name at "%00" or split it at "%2F".
    const std::optional<std::string_view> escaped = utf8Bytes(escapedPath(url));
    if (!escaped || !hasValidPathEscapes(*escaped)) return {};
    if (read.failure) continue;  // only a malformed entry further on still counts

    // The path's text as UTF-8. Should it have none, the raw file-system bytes go on, and the
    // JSON writer reports them rather than print an altered path; they are a C string, and
    // no NUL can be part of them, since an escaped one is refused above.
    std::optional<std::string_view> path = utf8Bytes(url.path);
    if (!path) {
      const char* bytes = url.fileSystemRepresentation;
      if (bytes != nullptr) path = bytes;
    }
    if (!path) {
      // A copied file is not no file: say which one could not be found.
      read.failure.emplace(ClipboardError::Cause::badData,
                           "the pasteboard's file URL " + std::to_string(position) + " (" +
                               describe(url.absoluteString) +
                               ") names no path; was the file moved or deleted after it was "
                               "copied?");
      continue;
    }
    // No file name holds a NUL; a path with one is refused with its list, as an escaped one is.
    if (path->find('\0') != std::string_view::npos) return {};
    read.urls->add(*path);
  }
  return read;
}

// AppKit raises NSPasteboardCommunicationException when the pasteboard server cannot be
// reached or goes away during the read; anything else it raises is an internal error.
struct PasteboardException {
  bool unreachable;
  std::string message;
};

PasteboardException describeException(NSException* exception) {
  const std::string what = describe(exception.name) + ": " + describe(exception.reason);
  if ([exception.name isEqual:NSPasteboardCommunicationException]) {
    return {true, "cannot read the pasteboard: the pasteboard server could not be reached or "
                  "went away (" +
                      what + ")"};
  }
  return {false, "AppKit failed to read the pasteboard (" + what + ")"};
}

}  // namespace

std::optional<FileURLPaths> readPasteboardFileURLs() {
  PasteboardRead read;
  std::optional<PasteboardException> raised;
  @autoreleasepool {
    @try {
      read = readURLs();
    } @catch (NSException* exception) {
      raised = describeException(exception);
    }
  }
  if (raised && raised->unreachable) {
    throw ClipboardError(ClipboardError::Cause::unavailable, raised->message);
  }
  if (raised) throw std::runtime_error(raised->message);
  if (read.failure) throw *read.failure;
  return std::move(read.urls);
}

}  // namespace clipfiles
