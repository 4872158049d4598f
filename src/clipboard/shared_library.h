// Display libraries opened at run time, as GLFW and SDL open theirs: one binary then runs on any
// distribution that has the library a run needs, and an X11-only system needs no libwayland.
#pragma once

#include <dlfcn.h>

#include <string>

#include "pathlist/path_list.h"

namespace clipfiles {

// A library opened for the rest of the run, and its functions looked up by name. It is never
// closed: the run ends soon after, and a library may still have work left at exit.
class SharedLibrary {
 public:
  explicit SharedLibrary(const char* soname) : handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) error_ = lastError();
  }

  // Points `function` at the library's function `name`. Once a lookup has failed, or the
  // library did not open, error() says why.
  template <typename Function>
  void find(Function& function, const char* name) {
    if (!error_.empty()) return;
    void* address = ::dlsym(handle_, name);
    if (address == nullptr) {
      error_ = lastError();
      return;
    }
    // POSIX guarantees that a function's address from dlsym converts back to the function.
    function = reinterpret_cast<Function>(address);
  }

  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  static std::string lastError() {
    const char* error = ::dlerror();
    return printableText(error != nullptr ? error : "unknown error");
  }

  void* handle_;
  std::string error_;
};

// A library's table of functions, filled once by `fill(library, functions)`; `error` says why
// that failed, if it did.
template <typename Functions>
struct OpenedLibrary {
  Functions functions{};
  std::string error;
};

template <typename Functions, typename Fill>
OpenedLibrary<Functions> openLibrary(const char* soname, Fill fill) {
  SharedLibrary library(soname);
  OpenedLibrary<Functions> opened;
  fill(library, opened.functions);
  opened.error = library.error();
  return opened;
}

}  // namespace clipfiles
