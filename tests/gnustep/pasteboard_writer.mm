// Test-only: puts data on GNUstep's general pasteboard the way GNUstep programs do, for the
// reader to find.
//
//   pasteboard_writer --wait            waits until the pasteboard server answers
//   pasteboard_writer --change-count    prints the pasteboard's change count
//   pasteboard_writer --kill-server-on-read PID
//   pasteboard_writer [file=NAME]... [text=STRING] [url=URL]
//
// --kill-server-on-read promises file names and prints "ready"; when the server (process PID)
// asks for them, because a reader wants them, it kills the server instead of answering, so
// that the server goes away in the middle of the read. It gives up after 60 seconds.
//
// The last form declares the types given, and only those: file names in order as
// NSFilenamesPboardType, text as NSStringPboardType, a URL as NSURLPboardType. With no
// arguments it empties the pasteboard. Exits with 1 when the server cannot be reached, 2 on
// bad usage.
#import <AppKit/AppKit.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The owner of promised data that kills the pasteboard server when asked for it.
@interface ServerKiller : NSObject {
 @public
  pid_t server;
}
@end

@implementation ServerKiller
- (void)pasteboard:(NSPasteboard*)pasteboard provideDataForType:(NSString*)type {
  (void)pasteboard;
  (void)type;
  ::kill(server, SIGKILL);
  ::_exit(0);
}
@end

namespace {

// The name GNUstep's pasteboard server, gpbs, registers under on this host.
NSString* const serverName = @"GNUstepGSPasteboardServer";

// Looks the server up by name only: asking NSPasteboard would start a gpbs of its own.
bool waitForServer() {
  for (int attempt = 0; attempt < 500; ++attempt) {
    @autoreleasepool {
      if ([NSConnection connectionWithRegisteredName:serverName host:nil] != nil) return true;
    }
    [NSThread sleepForTimeInterval:0.01];
  }
  return false;
}

int killServerOnRead(const char* pid) {
  char* end = nullptr;
  const long server = std::strtol(pid, &end, 10);
  if (*pid == '\0' || *end != '\0' || server <= 0) return 2;
  ServerKiller* owner = [[[ServerKiller alloc] init] autorelease];
  owner->server = static_cast<pid_t>(server);
  [[NSPasteboard generalPasteboard] declareTypes:@[ NSFilenamesPboardType ] owner:owner];
  std::printf("ready\n");
  std::fflush(stdout);
  [[NSRunLoop currentRunLoop] runUntilDate:[NSDate dateWithTimeIntervalSinceNow:60]];
  return 1;
}

int writePasteboard(int argc, char** argv) {
  NSMutableArray* files = [NSMutableArray array];
  NSString* text = nil;
  NSString* url = nil;
  for (int i = 1; i < argc; ++i) {
    const char* equals = std::strchr(argv[i], '=');
    if (equals == nullptr) return 2;
    NSString* key = [[[NSString alloc] initWithBytes:argv[i]
                                              length:static_cast<NSUInteger>(equals - argv[i])
                                            encoding:NSUTF8StringEncoding] autorelease];
    NSString* value = [NSString stringWithUTF8String:equals + 1];
    if (key == nil || value == nil) return 2;
    if ([key isEqual:@"file"]) {
      [files addObject:value];
    } else if ([key isEqual:@"text"]) {
      text = value;
    } else if ([key isEqual:@"url"]) {
      url = value;
    } else {
      return 2;
    }
  }

  NSMutableArray* types = [NSMutableArray array];
  if (files.count > 0) [types addObject:NSFilenamesPboardType];
  if (text != nil) [types addObject:NSStringPboardType];
  if (url != nil) [types addObject:NSURLPboardType];
  NSPasteboard* pasteboard = [NSPasteboard generalPasteboard];
  [pasteboard declareTypes:types owner:nil];
  bool written = true;
  if (files.count > 0) written &= [pasteboard setPropertyList:files forType:NSFilenamesPboardType];
  if (text != nil) written &= [pasteboard setString:text forType:NSStringPboardType];
  if (url != nil) [[NSURL URLWithString:url] writeToPasteboard:pasteboard];
  return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  @autoreleasepool {
    if (!waitForServer()) {
      std::fprintf(stderr, "pasteboard_writer: the pasteboard server does not answer\n");
      return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--wait") == 0) return 0;
    if (argc == 2 && std::strcmp(argv[1], "--change-count") == 0) {
      std::printf("%d\n", [[NSPasteboard generalPasteboard] changeCount]);
      return 0;
    }
    const int status = argc == 3 && std::strcmp(argv[1], "--kill-server-on-read") == 0
                           ? killServerOnRead(argv[2])
                           : writePasteboard(argc, argv);
    if (status == 2) std::fprintf(stderr, "pasteboard_writer: bad arguments\n");
    return status;
  }
}
