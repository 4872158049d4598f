#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

[[noreturn]] void throwSystemError(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throwSystemError("pipe");
    read = fds[0];
    write = fds[1];
  }
};

// posix_spawn's arguments, owned for the length of the call.
class SpawnFiles {
 public:
  SpawnFiles() { posix_spawn_file_actions_init(&actions_); }
  SpawnFiles(const SpawnFiles&) = delete;
  SpawnFiles& operator=(const SpawnFiles&) = delete;
  ~SpawnFiles() { posix_spawn_file_actions_destroy(&actions_); }
  void open(int fd, const char* path, int flags) {
    posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0);
  }
  void dup(int from, int to) { posix_spawn_file_actions_adddup2(&actions_, from, to); }
  void close(int fd) { posix_spawn_file_actions_addclose(&actions_, fd); }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

pid_t spawn(const std::vector<std::string>& argv, const Environment& environment,
            const SpawnFiles& files) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> entries = environment.entries();
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, args[0], files.get(), nullptr, args.data(), envp.data());
  if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
  return pid;
}

// Reaps `pid`; returns its exit status, or -1 with `signal` set if a signal ended it.
int waitFor(pid_t pid, int& signal, long* peakKiB = nullptr) {
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (peakKiB != nullptr) *peakKiB = usage.ru_maxrss;
  if (WIFSIGNALED(status)) {
    signal = WTERMSIG(status);
    return -1;
  }
  return WEXITSTATUS(status);
}

// Appends what is readable on `fd`, up to `most` bytes; false once the writer has closed it.
bool drain(int fd, std::string& into, std::size_t most = 65536) {
  char buffer[65536];
  const ssize_t got = ::read(fd, buffer, std::min(most, sizeof buffer));
  if (got > 0) into.append(buffer, static_cast<std::size_t>(got));
  return got > 0 || (got < 0 && errno == EINTR);
}

}  // namespace

Environment Environment::current() {
  Environment environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    environment.entries_.emplace_back(*entry);
  return environment;
}

Environment& Environment::unset(const std::string& name) {
  std::erase_if(entries_, [&](const std::string& entry) { return entry.starts_with(name + "="); });
  return *this;
}

Environment& Environment::set(const std::string& name, const std::string& value) {
  unset(name);
  entries_.push_back(name + "=" + value);
  return *this;
}

RunResult run(const std::vector<std::string>& argv, const Environment& environment, Output output,
              milliseconds limit, std::optional<int> extraFd) {
  Pipe out;
  Pipe err;
  SpawnFiles files;
  files.open(STDIN_FILENO, "/dev/null", O_RDONLY);
  switch (output) {
    case Output::capture: files.dup(out.write, STDOUT_FILENO); break;
    case Output::closed: files.close(STDOUT_FILENO); break;
    case Output::devFull: files.open(STDOUT_FILENO, "/dev/full", O_WRONLY); break;
    case Output::brokenPipe:
      ::close(std::exchange(out.read, -1));  // gone before the program can write
      files.dup(out.write, STDOUT_FILENO);
      break;
    case Output::slowPipe: files.dup(out.write, STDOUT_FILENO); break;
  }
  files.dup(err.write, STDERR_FILENO);
  if (extraFd) files.dup(*extraFd, 3);

  const Clock::time_point start = Clock::now();
  const pid_t pid = spawn(argv, environment, files);
  ::close(out.write);
  ::close(err.write);

  RunResult result;
  std::vector<pollfd> open{{err.read, POLLIN, 0}};
  if (out.read >= 0) open.push_back({out.read, POLLIN, 0});
  while (!open.empty()) {
    const auto left = std::chrono::duration_cast<milliseconds>(start + limit - Clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      waitFor(pid, result.signal);
      for (const pollfd& fd : open) ::close(fd.fd);
      throw std::runtime_error(argv[0] + " was still running after " +
                               std::to_string(limit.count()) + " ms");
    }
    if (::poll(open.data(), open.size(), static_cast<int>(left.count())) <= 0) continue;
    for (std::size_t i = open.size(); i-- > 0;) {
      if (open[i].revents == 0) continue;
      const bool isOut = open[i].fd == out.read;
      if (isOut && output == Output::slowPipe) std::this_thread::sleep_for(milliseconds(1));
      if (!drain(open[i].fd, isOut ? result.out : result.err,
                 isOut && output == Output::slowPipe ? 512 : 65536)) {
        ::close(open[i].fd);
        open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  result.status = waitFor(pid, result.signal, &result.peakKiB);
  result.elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  return result;
}

Background::Background(const std::vector<std::string>& argv, const Environment& environment,
                       std::optional<int> extraFd, const std::string& input) {
  Pipe out;
  SpawnFiles files;
  files.open(STDIN_FILENO, input.c_str(), O_RDONLY);
  files.dup(out.write, STDOUT_FILENO);
  files.open(STDERR_FILENO, "/dev/null", O_WRONLY);
  if (extraFd) files.dup(*extraFd, 3);
  pid_ = spawn(argv, environment, files);
  ::close(out.write);
  out_ = out.read;
}

Background::Background(Background&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      out_(std::exchange(other.out_, -1)),
      pending_(std::move(other.pending_)) {}

Background::~Background() {
  stop();
}

void Background::stop() {
  if (pid_ > 0) {
    // A polite stop first, so servers remove their sockets and lock files.
    ::kill(pid_, SIGTERM);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(milliseconds(5));
    }
    pid_ = -1;
  }
  if (out_ >= 0) ::close(std::exchange(out_, -1));
}

std::optional<std::string> Background::readLine(milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    pollfd out{out_, POLLIN, 0};
    if (out_ < 0 || left.count() <= 0 || ::poll(&out, 1, static_cast<int>(left.count())) <= 0) {
      return std::nullopt;
    }
    if (!drain(out_, pending_)) return std::nullopt;
  }
}

bool waitUntil(const std::function<bool()>& condition, milliseconds limit, milliseconds interval) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(interval);
  }
  return condition();
}

SessionBus::SessionBus(const Environment& environment)
    : daemon_({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, environment) {
  // A busy machine may take long to start it.
  address_ = daemon_.readLine(std::chrono::seconds(60)).value_or("");
  if (address_.empty()) throw std::runtime_error("the session bus did not start");
}

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "clipfiles-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throwSystemError("mkdtemp");
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TemporaryDirectory::write(const std::string& name, const std::string& content) const {
  const std::string file = path_ + "/" + name;
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

std::string TemporaryDirectory::write(const std::string& content) const {
  return write("file-" + std::to_string(++written_), content);
}

}  // namespace testing_support
