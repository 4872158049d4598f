// Reads the file URLs on the macOS general pasteboard through AppKit.
//
// Correct with and without ARC: every object here is autoreleased and lives inside the pool,
// and nothing is retained or released by hand.
#import <AppKit/AppKit.h>

#include "clipboard/backends.h"

namespace clipfiles {

std::optional<FileURLList> readPasteboardFileURLs() {
  @autoreleasepool {
    NSPasteboard* pasteboard = [NSPasteboard generalPasteboard];
    if (pasteboard == nil) return std::nullopt;

    NSArray<Class>* classes = @[ [NSURL class] ];
    NSDictionary<NSPasteboardReadingOptionKey, id>* options =
        @{NSPasteboardURLReadingFileURLsOnlyKey : @YES};
    NSArray* objects = [pasteboard readObjectsForClasses:classes options:options];
    if (objects == nil) return std::nullopt;

    FileURLList urls;
    for (id object in objects) {
      // A list with anything but URLs in it is not taken at all.
      if (![object isKindOfClass:[NSURL class]]) return std::nullopt;
      NSURL* url = object;
      // The path's text as UTF-8. Should it have none, the raw file-system bytes go on, and
      // the JSON writer reports them rather than print an altered path.
      const char* path = url.path.UTF8String;
      if (path == nullptr) path = url.fileSystemRepresentation;
      if (path == nullptr) return std::nullopt;
      urls.add(path);
    }
    return urls;
  }
}

}  // namespace clipfiles
