// Test-only: what appkit_shim.h declares, built on GNUstep's own pasteboard. Written without
// ARC, which Debian's Objective-C runtime lacks: every object made here is autoreleased.
#include "appkit_shim.h"

NSPasteboardReadingOptionKey const NSPasteboardURLReadingFileURLsOnlyKey =
    @"NSPasteboardURLReadingFileURLsOnlyKey";

@implementation NSPasteboard (ClipfilesReading)

- (NSArray*)readObjectsForClasses:(NSArray<Class>*)classArray
                          options:(NSDictionary<NSPasteboardReadingOptionKey, id>*)options {
  if (![classArray containsObject:[NSURL class]]) return nil;
  const BOOL fileURLsOnly =
      [[options objectForKey:NSPasteboardURLReadingFileURLsOnlyKey] boolValue];

  // GNUstep programs put copied files on the pasteboard as NSFilenamesPboardType, a property
  // list of path strings; a single URL goes as NSURLPboardType.
  NSString* type = [self availableTypeFromArray:@[ NSFilenamesPboardType, NSURLPboardType ]];
  NSMutableArray* objects = [NSMutableArray array];
  if ([type isEqual:NSFilenamesPboardType]) {
    id names = [self propertyListForType:NSFilenamesPboardType];
    if (![names isKindOfClass:[NSArray class]]) return nil;
    for (id path in names) {
      if (![path isKindOfClass:[NSString class]]) return nil;
      [objects addObject:[NSURL fileURLWithPath:path]];
    }
  } else if ([type isEqual:NSURLPboardType]) {
    NSURL* url = [NSURL URLFromPasteboard:self];
    if (url == nil) return nil;
    if (!fileURLsOnly || [url isFileURL]) [objects addObject:url];
  }
  // As AppKit documents it: nil when no object of the classes can be made.
  return objects.count > 0 ? objects : nil;
}

@end

@implementation NSURL (ClipfilesFileSystem)

- (const char*)fileSystemRepresentation {
  if (![self isFileURL]) return NULL;
  return [[self path] fileSystemRepresentation];
}

@end

// GNUstep's NSURL keeps the escaped form of its path, from the parse that -path decodes; this
// method of its own gives it.
@interface NSURL (GNUstepEscapedPath)
- (NSString*)_pathWithEscapes:(BOOL)withEscapes;
@end

CFStringRef CFURLCopyPath(CFURLRef url) {
  return (CFStringRef)[[(NSURL*)url _pathWithEscapes:YES] copy];
}
