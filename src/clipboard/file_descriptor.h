// A file descriptor owned by the POSIX readers.
#pragma once

#include <unistd.h>

namespace clipfiles {

// Owns a file descriptor and closes it when destroyed; -1 owns nothing.
struct FileDescriptor {
  int fd;
  explicit FileDescriptor(int owned) : fd(owned) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace clipfiles
