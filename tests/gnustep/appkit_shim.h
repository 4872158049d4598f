// Test-only. Force-included ahead of src/clipboard/macos.mm in the GNUstep check build (the
// `gnustep` preset), never in the product build. It supplies the few AppKit and Foundation
// declarations that the reader uses and that GNUstep (gui 0.29, base 1.28) lacks, so that the
// reader compiles unchanged; appkit_shim.mm implements them on top of GNUstep's own pasteboard
// and URLs.
#pragma once

#import <AppKit/AppKit.h>

// GCC's objc/objc.h defines YES as `(BOOL)1`, after which `@YES` reads as a cast instead of a
// boxed literal. Apple's headers define the two as clang's BOOL literals; so do we.
#undef YES
#undef NO
#define YES __objc_yes
#define NO __objc_no

typedef NSString* NSPasteboardReadingOptionKey;

// With @YES, URLs that are not file URLs are left out of what readObjectsForClasses: returns.
APPKIT_EXPORT NSPasteboardReadingOptionKey const NSPasteboardURLReadingFileURLsOnlyKey;

@interface NSPasteboard (ClipfilesReading)
// The objects on the pasteboard that the classes can be made from: here NSURL alone, from the
// file names of NSFilenamesPboardType, else from the one URL of NSURLPboardType. Other classes
// yield nothing. Nil when no object can be made, or the file names are not a list of strings.
- (NSArray*)readObjectsForClasses:(NSArray<Class>*)classArray
                          options:(NSDictionary<NSPasteboardReadingOptionKey, id>*)options;
@end

@interface NSURL (ClipfilesFileSystem)
// The file URL's path in the file system's encoding; NULL for other URLs.
@property(readonly) const char* fileSystemRepresentation;
@end

// The little of Core Foundation that the reader uses, which GNUstep has none of. As toll-free
// bridging makes them on macOS, a CFURLRef here is an NSURL and a CFStringRef an NSString.
typedef const void* CFTypeRef;
typedef const struct ClipfilesCFString* CFStringRef;
typedef const struct ClipfilesCFURL* CFURLRef;

// The URL's path with its percent-escapes left as they are; NULL when it has none. The caller
// owns the result.
extern "C" CFStringRef CFURLCopyPath(CFURLRef url);

// Hands an object the caller owns to the autorelease pool (this build has no ARC).
inline id CFBridgingRelease(CFTypeRef object) {
  return [(id)object autorelease];
}
