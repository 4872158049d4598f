// Running programs from tests: one-shot runs with captured output, and background processes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// An environment to run a program in: this process's own, with changes.
class Environment {
 public:
  static Environment current();
  Environment& set(const std::string& name, const std::string& value);
  Environment& unset(const std::string& name);
  std::vector<std::string> entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;  // NAME=value
};

// Where a run's standard output goes: a pipe read at once, a closed descriptor, /dev/full, a
// pipe whose reader has gone, or a pipe read slowly in small pieces.
enum class Output { capture, closed, devFull, brokenPipe, slowPipe };

struct RunResult {
  int status = -1;  // the exit status, or -1 if a signal ended the process
  int signal = 0;   // the signal that ended it, if any
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
  long peakKiB = 0;  // the largest resident set the process reached
};

// Runs a program to its end. A program still running after `limit` is killed and the test fails.
// `extraFd`, if given, becomes the program's descriptor 3.
RunResult run(const std::vector<std::string>& argv, const Environment& environment,
              Output output = Output::capture,
              std::chrono::milliseconds limit = std::chrono::seconds(60),
              std::optional<int> extraFd = std::nullopt);

// A program left running while a test works; killed and reaped when it goes out of scope.
class Background {
 public:
  // The program reads the file `input`; `extraFd`, if given, becomes its descriptor 3.
  Background(const std::vector<std::string>& argv, const Environment& environment,
             std::optional<int> extraFd = std::nullopt, const std::string& input = "/dev/null");
  Background(Background&& other) noexcept;
  Background& operator=(Background&&) = delete;
  ~Background();

  pid_t pid() const { return pid_; }
  // The next line the program writes on standard output, without its newline; nothing if the
  // program closes its output or writes no line within `limit`.
  std::optional<std::string> readLine(std::chrono::milliseconds limit);
  void stop();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

// Checks `condition` every `interval` until it holds; false if it still does not after `limit`.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds interval = std::chrono::milliseconds(50));

// A session bus of its own for a desktop under test, stopped when destroyed. `environment`
// is the daemon's: its XDG_DATA_HOME may hold services for the bus to start.
class SessionBus {
 public:
  explicit SessionBus(const Environment& environment);
  const std::string& address() const { return address_; }

 private:
  Background daemon_;
  std::string address_;
};

// A directory that is removed with everything in it when it goes out of scope.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory();

  const std::string& path() const { return path_; }
  // Writes `content` to the file `name` in the directory and returns the file's path.
  std::string write(const std::string& name, const std::string& content) const;
  // The same, in a file of a new name.
  std::string write(const std::string& content) const;

 private:
  std::string path_;
  mutable int written_ = 0;
};

}  // namespace testing_support
