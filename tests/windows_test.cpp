// The tool end to end on Windows (under Wine in CI). This program is the clipboard's owner: for
// each case it puts data on the clipboard from a window of its own, runs the real clipfiles.exe
// and checks the exact bytes it prints, its exit status and its standard error, or the text a
// console shows for them.
//
//   windows_tests PATH\TO\clipfiles.exe
//
// Prints one line per failed check and a summary; exits 0 only if every check passed.
// tests/run_under_wine.sh runs it in a Wine prefix and server of its own.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: shlobj.h and shellapi.h need its types.
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- Checks -----------------------------------------------------------------------------------

int failures = 0;
int checks = 0;
std::string currentCase;

// Bytes as one printable line: printable ASCII as it is, everything else as \xHH.
std::string printable(std::string_view bytes) {
  std::string shown;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      shown += c;
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    }
  }
  return shown;
}

void check(bool passed, const std::string& what) {
  ++checks;
  if (passed) return;
  ++failures;
  std::printf("FAILED %s: %s\n", currentCase.c_str(), what.c_str());
}

void checkBytes(std::string_view actual, std::string_view expected, const char* what) {
  check(actual == expected, std::string(what) + " is \"" + printable(actual) + "\", expected \"" +
                                printable(expected) + "\"");
}

// ---- The clipboard's owner --------------------------------------------------------------------

struct Format {
  UINT id;
  std::string bytes;
};

// A global memory block holding `bytes`, as the clipboard takes its data.
HGLOBAL globalCopy(const std::string& bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  void* data = memory == nullptr ? nullptr : GlobalLock(memory);
  if (data == nullptr) {
    std::printf("cannot allocate %zu bytes\n", bytes.size());
    std::exit(2);
  }
  std::memcpy(data, bytes.data(), bytes.size());
  GlobalUnlock(memory);
  return memory;
}

// A message-only window of this program, for the clipboard to belong to. It can also offer a
// format without its data and render it when a reader asks, as Explorer does through the OLE
// clipboard, taking its time if told to; it answers only while runTool waits for the tool with
// `ownerAnswers` set.
class OwnerWindow {
 public:
  OwnerWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"clipfiles test owner";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, windowClass.hInstance, nullptr);
    if (window_ == nullptr) {
      std::printf("cannot create the owner window (error %lu)\n", GetLastError());
      std::exit(2);
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;
  ~OwnerWindow() { DestroyWindow(window_); }

  [[nodiscard]] HWND get() const { return window_; }

  // What to do when a reader asks for the format offered without data: render `format` after
  // `delay`, or, if nothing, render nothing.
  void renderOnRequest(std::optional<Format> format, std::chrono::milliseconds delay = 0ms) {
    onRequest_ = std::move(format);
    renderDelay_ = delay;
  }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<OwnerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_RENDERFORMAT && self != nullptr && self->onRequest_ &&
        self->onRequest_->id == wParam) {
      std::this_thread::sleep_for(self->renderDelay_);
      SetClipboardData(self->onRequest_->id, globalCopy(self->onRequest_->bytes));
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
  std::optional<Format> onRequest_;
  std::chrono::milliseconds renderDelay_{0};
};

// The clipboard opened by the owner window until destroyed.
class OpenedClipboard {
 public:
  explicit OpenedClipboard(const OwnerWindow& owner) {
    if (OpenClipboard(owner.get()) == 0) {
      std::printf("cannot open the clipboard (error %lu)\n", GetLastError());
      std::exit(2);
    }
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  ~OpenedClipboard() { close(); }

  void close() {
    if (open_) CloseClipboard();
    open_ = false;
  }

 private:
  bool open_ = true;
};

// Empties the clipboard and puts `formats` on it, each in a block of exactly its size. A
// format with no bytes is offered without data, for the owner to render on request.
void putOnClipboard(const OwnerWindow& owner, const std::vector<Format>& formats) {
  const OpenedClipboard clipboard(owner);
  EmptyClipboard();
  for (const Format& format : formats) {
    HGLOBAL memory = format.bytes.empty() ? nullptr : globalCopy(format.bytes);
    if (SetClipboardData(format.id, memory) == nullptr && memory != nullptr) {
      GlobalFree(memory);
      std::printf("cannot put format %u on the clipboard (error %lu)\n", format.id, GetLastError());
      std::exit(2);
    }
  }
}

std::string bytesOf(std::wstring_view text) {
  return {reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)};
}

// A DROPFILES header with the list at `offset`, followed by `list` at that offset.
std::string dropFilesBlock(std::string_view list, bool wide, DWORD offset = sizeof(DROPFILES)) {
  DROPFILES header{};
  header.pFiles = offset;
  header.fWide = wide ? TRUE : FALSE;
  std::string block(reinterpret_cast<const char*>(&header), sizeof header);
  block.resize(offset, '\0');
  block += list;
  return block;
}

// A CF_HDROP list as Explorer writes it: UTF-16 names, each ended by NUL, then an empty name.
std::string dropFiles(const std::vector<std::wstring>& names, DWORD offset = sizeof(DROPFILES)) {
  std::wstring list;
  for (const std::wstring& name : names) list += name + L'\0';
  list += L'\0';
  return dropFilesBlock(bytesOf(list), true, offset);
}

// The same in the ANSI code page, as old programs write it.
std::string ansiDropFiles(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += name + '\0';
  list += '\0';
  return dropFilesBlock(list, false);
}

std::string unicodeText(std::wstring_view text) {
  return bytesOf(std::wstring(text) + L'\0');
}

// ---- Handles and pipes --------------------------------------------------------------------------

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  void reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }
  [[nodiscard]] HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A pipe whose writing end the tool inherits.
struct Pipe {
  Handle read;
  Handle write;
  Pipe() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (CreatePipe(&r, &w, &inherit, 0) == 0) {
      std::printf("cannot create a pipe (error %lu)\n", GetLastError());
      std::exit(2);
    }
    SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
    read.reset(r);
    write.reset(w);
  }
};

// Reads `from` to its end on a thread of its own.
std::thread drainInto(std::string& into, HANDLE from) {
  return std::thread([&into, from] {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) {
      into.append(buffer, got);
    }
  });
}

// ---- A console --------------------------------------------------------------------------------

std::string utf8Of(std::wstring_view text) {
  const auto size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

// The console the tool writes to in the console cases, shared with a copy of this program that
// holds it. Wine without a display cannot open a console window, but, as Windows does, gives a
// program started with CREATE_NO_WINDOW a console without one. The copy says when it runs, then
// keeps its console until its standard input, a pipe from here, is closed.
class SharedConsole {
 public:
  SharedConsole() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --hold-console";
    Pipe running;
    SetHandleInformation(hold_.read.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(hold_.write.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = hold_.read.get();
    startup.hStdOutput = running.write.get();
    startup.hStdError = running.write.get();
    PROCESS_INFORMATION process{};
    if (CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process) == 0) {
      std::printf("cannot start a copy of this program (error %lu)\n", GetLastError());
      std::exit(2);
    }
    holder_.reset(process.hProcess);
    CloseHandle(process.hThread);
    hold_.read.reset();
    running.write.reset();
    char said = 0;
    DWORD got = 0;
    ReadFile(running.read.get(), &said, 1, &got, nullptr);
    FreeConsole();
    attached_ = AttachConsole(process.dwProcessId) != 0;
    if (!attached_) error_ = GetLastError();
  }
  SharedConsole(const SharedConsole&) = delete;
  SharedConsole& operator=(const SharedConsole&) = delete;
  ~SharedConsole() {
    FreeConsole();
    for (const auto& [which, handle] : standardHandles_) SetStdHandle(which, handle);
    hold_.write.reset();
    WaitForSingleObject(holder_.get(), 10000);
  }

  [[nodiscard]] bool attached() const { return attached_; }
  [[nodiscard]] DWORD error() const { return error_; }

 private:
  // Attaching sets the standard handles to the console's; the C runtime keeps its own.
  const std::pair<DWORD, HANDLE> standardHandles_[3] = {
      {STD_INPUT_HANDLE, GetStdHandle(STD_INPUT_HANDLE)},
      {STD_OUTPUT_HANDLE, GetStdHandle(STD_OUTPUT_HANDLE)},
      {STD_ERROR_HANDLE, GetStdHandle(STD_ERROR_HANDLE)},
  };
  Pipe hold_;
  Handle holder_;
  bool attached_ = false;
  DWORD error_ = 0;
};

// The copy of this program that SharedConsole starts.
int holdConsole() {
  DWORD done = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "r", 1, &done, nullptr);
  char byte = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &done, nullptr) != 0 && done > 0) {
  }
  return 0;
}

// A new screen buffer of the attached console, wider than any line the tool writes, for a
// child to inherit.
constexpr SHORT screenWidth = 200;
constexpr SHORT screenHeight = 300;

HANDLE newScreen() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE screen =
      CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (screen == INVALID_HANDLE_VALUE ||
      SetConsoleScreenBufferSize(screen, {screenWidth, screenHeight}) == 0) {
    std::printf("cannot make a console screen buffer (error %lu)\n", GetLastError());
    std::exit(2);
  }
  return screen;
}

// What `screen` shows, with "#" written where its cursor was: each row without the blanks that
// end it, and a line break after each row not filled to its end.
std::string screenText(HANDLE screen) {
  DWORD done = 0;
  WriteConsoleW(screen, L"#", 1, &done, nullptr);
  std::wstring text;
  for (SHORT row = 0; row < screenHeight; ++row) {
    std::wstring cells(screenWidth, L' ');
    ReadConsoleOutputCharacterW(screen, cells.data(), screenWidth, {0, row}, &done);
    cells.resize(done);
    const std::size_t last = cells.find_last_not_of(L' ');
    const std::size_t shown = last == std::wstring::npos ? 0 : last + 1;
    text.append(cells, 0, shown);
    if (shown != cells.size()) text += L'\n';
  }
  text.erase(text.find_last_not_of(L'\n') + 1);
  return utf8Of(text);
}

// ---- Running the tool -------------------------------------------------------------------------

std::wstring toolPath;

// Where the tool's standard output goes. With `console`, its standard error too: a new screen
// buffer of the console this program is attached to (see SharedConsole).
enum class Output { capture, closed, closedPipe, fullDevice, console };

struct RunOptions {
  Output output = Output::capture;
  std::function<void()> meanwhile;  // runs once the tool has started
  bool ownerAnswers = true;         // the owner window handles messages while the tool runs
};

struct RunResult {
  DWORD status = 0;
  std::string out;
  std::string err;
  std::string screen;  // with Output::console: what it shows, as UTF-8 (see screenText)
  std::chrono::milliseconds elapsed{0};
};

// How long `process`, which has ended, ran: from its creation to its exit.
std::chrono::milliseconds lifetime(HANDLE process) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  GetProcessTimes(process, &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME time) {
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  };
  using Ticks = std::chrono::duration<ULONGLONG, std::ratio<1, 10000000>>;  // 100 ns
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      Ticks(ticks(exited) - ticks(created)));
}

// Waits for `process` to end, handling the owner window's messages if `answer`. False if it
// is still running at `deadline`.
bool waitForExit(HANDLE process, bool answer, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const auto timeout =
        static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    const DWORD woken = answer ? MsgWaitForMultipleObjects(1, &process, FALSE, timeout, QS_ALLINPUT)
                               : WaitForSingleObject(process, timeout);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0) DispatchMessageW(&message);
  }
}

// Runs the tool to its end. A tool still running after 10 seconds is ended and the case fails.
// The time taken is the tool's own, as the system counts it, however long the owner window
// takes to handle its messages.
RunResult runTool(const RunOptions& options = {}) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Pipe out;
  Pipe err;
  Handle input(CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr));
  Handle device;
  Handle screen;
  HANDLE standardOutput = out.write.get();
  HANDLE standardError = err.write.get();
  switch (options.output) {
    case Output::capture: break;
    case Output::closed: standardOutput = nullptr; break;
    case Output::closedPipe:
      out.read.reset();  // nobody will read: the pipe is closed at the far end
      break;
    case Output::fullDevice:
      // Wine maps drive Z: to the Unix root, and writes to /dev/full fail with ENOSPC.
      device.reset(
          CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
      standardOutput = device.get();
      break;
    case Output::console:
      screen.reset(newScreen());
      standardOutput = screen.get();
      standardError = screen.get();
      break;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = standardOutput;
  startup.hStdError = standardError;
  std::wstring commandLine = L"\"" + toolPath + L"\"";
  PROCESS_INFORMATION process{};
  const Clock::time_point start = Clock::now();
  if (CreateProcessW(toolPath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process) == 0) {
    std::printf("cannot start %ls (error %lu)\n", toolPath.c_str(), GetLastError());
    std::exit(2);
  }
  const Handle processHandle(process.hProcess);
  const Handle threadHandle(process.hThread);
  out.write.reset();
  err.write.reset();

  RunResult result;
  std::thread outReader;
  if (out.read.get() != nullptr) outReader = drainInto(result.out, out.read.get());
  std::thread errReader = drainInto(result.err, err.read.get());
  if (options.meanwhile) options.meanwhile();
  if (!waitForExit(process.hProcess, options.ownerAnswers, start + 10s)) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    check(false, "the tool was still running after 10 seconds");
  }
  result.elapsed = lifetime(process.hProcess);
  GetExitCodeProcess(process.hProcess, &result.status);
  if (screen.get() != nullptr) result.screen = screenText(screen.get());
  if (outReader.joinable()) outReader.join();
  errReader.join();
  return result;
}

void checkOutput(const RunResult& result, std::string_view json) {
  checkBytes(result.out, json, "standard output");
  check(result.status == 0, "exit status " + std::to_string(result.status) + ", expected 0");
  checkBytes(result.err, "", "standard error");
}

// A failed run: the status, one line on standard error containing `message`, nothing printed.
void checkFailure(const RunResult& result, DWORD status, std::string_view message) {
  check(result.status == status,
        "exit status " + std::to_string(result.status) + ", expected " + std::to_string(status));
  checkBytes(result.out, "", "standard output");
  const std::string& err = result.err;
  check(err.starts_with("clipfiles: ") && err.find(message) != std::string::npos &&
            err.find('\n') == err.size() - 1,
        "standard error is \"" + printable(err) + "\", expected one line with \"" +
            printable(message) + "\"");
}

// ---- Cases ------------------------------------------------------------------------------------

// Runs the tool on a clipboard holding `formats` and expects `json`, with the clipboard left as
// it was.
void expectList(const OwnerWindow& owner, const std::vector<Format>& formats,
                std::string_view json) {
  putOnClipboard(owner, formats);
  const DWORD sequence = GetClipboardSequenceNumber();
  checkOutput(runTool(), json);
  check(GetClipboardSequenceNumber() == sequence, "the tool changed the clipboard");
}

struct ListCase {
  const char* name;
  std::vector<std::wstring> names;
  std::string json;
};

// A path of 523 characters: Windows' old limit was 260.
const std::wstring longDirectory = [] {
  std::wstring path = L"C:\\Users\\me";
  for (int i = 0; i < 20; ++i) path += L"\\a directory with a long name";
  return path;
}();
const std::string longDirectoryJson = [] {
  std::string path = R"(C:\\Users\\me)";
  for (int i = 0; i < 20; ++i) path += R"(\\a directory with a long name)";
  return path;
}();

const ListCase listCases[] = {
    {"TwoFiles",
     {LR"(C:\Users\me\a.txt)", LR"(C:\Users\me\b c.txt)"},
     R"(["C:\\Users\\me\\a.txt","C:\\Users\\me\\b c.txt"])"},
    {"NonAsciiAndOutsideTheBasicPlane",
     {L"C:\\Users\\José\\日本語\\📁 ünïcödé.txt"},
     R"(["C:\\Users\\José\\日本語\\📁 ünïcödé.txt"])"},
    {"RootsSharesOrderAndDuplicates",
     {LR"(D:\)", LR"(\\server\share\b)", LR"(C:\a)", LR"(\\server\share\b)"},
     R"(["D:\\","\\\\server\\share\\b","C:\\a","\\\\server\\share\\b"])"},
    {"LongerThanMaxPath",
     {longDirectory, LR"(\\?\)" + longDirectory + LR"(\file.txt)"},
     "[\"" + longDirectoryJson + R"(",")" + R"(\\\\?\\)" + longDirectoryJson + R"(\\file.txt"])"},
    {"EmptyList", {}, "[]"},
};

void fileLists(const OwnerWindow& owner) {
  for (const ListCase& c : listCases) {
    currentCase = std::string("FileList/") + c.name;
    expectList(owner, {{CF_HDROP, dropFiles(c.names)}}, c.json);
  }

  currentCase = "FileList/AlongsideOtherFormats";
  expectList(
      owner,
      {{CF_UNICODETEXT, unicodeText(LR"(C:\text.txt)")}, {CF_HDROP, dropFiles({LR"(C:\a.txt)"})}},
      R"(["C:\\a.txt"])");

  // The header says where the list starts; it need not follow the header directly, nor start
  // on an even address.
  currentCase = "FileList/AtAnOddOffset";
  expectList(owner, {{CF_HDROP, dropFiles({LR"(C:\a)", LR"(C:\b)"}, sizeof(DROPFILES) + 7)}},
             R"(["C:\\a","C:\\b"])");

  // The ANSI code page is 1252 here (the harness sets the locale).
  currentCase = "FileList/AnsiCodePage";
  check(GetACP() == 1252, "the ANSI code page is " + std::to_string(GetACP()) + ", not 1252");
  expectList(owner, {{CF_HDROP, ansiDropFiles({"C:\\caf\xe9.txt", "C:\\b"})}},
             R"(["C:\\café.txt","C:\\b"])");
}

// Many files at once: every one arrives, in order. A reader that walked the list again for each
// name, as DragQueryFileW does, would take far longer than runTool's 10-second limit.
void manyFiles(const OwnerWindow& owner) {
  currentCase = "FileList/ManyFiles";
  std::vector<std::wstring> names;
  std::string json = "[";
  for (int i = 0; i < 50000; ++i) {
    const std::string name = "C:\\Users\\me\\Pictures\\holiday " + std::to_string(i) + ".jpg";
    names.emplace_back(name.begin(), name.end());
    if (i != 0) json += ',';
    json += R"("C:\\Users\\me\\Pictures\\holiday )" + std::to_string(i) + R"(.jpg")";
  }
  json += ']';
  putOnClipboard(owner, {{CF_HDROP, dropFiles(names)}});
  const RunResult result = runTool();
  checkOutput(result, json);
  std::printf("the tool listed 50000 files in %lld ms, its start included\n",
              static_cast<long long>(result.elapsed.count()));
}

// A list that does not end inside its block is not taken: none of it is printed.
void malformedLists(const OwnerWindow& owner) {
  const std::string names = bytesOf(std::wstring_view(L"C:\\a\0C:\\b", 9));
  const std::pair<const char*, std::string> blocks[] = {
      {"NoEndingEmptyName", dropFilesBlock(names + std::string(2, '\0'), true)},
      {"LastNameRunsOffTheBlock", dropFilesBlock(names, true)},
      {"HalfAnEmptyName", dropFilesBlock(names + std::string(3, '\0'), true)},
      {"ListStartsPastTheBlock", dropFiles({LR"(C:\a)"}, 1000).substr(0, 40)},
      {"ShorterThanItsHeader", std::string(8, '\0')},
      {"AnsiWithoutEnd", dropFilesBlock(std::string("C:\\a\0C:\\b", 8), false)},
  };
  for (const auto& [name, block] : blocks) {
    currentCase = std::string("Malformed/") + name;
    expectList(owner, {{CF_HDROP, block}}, "[]");
  }
}

// A name with an unpaired surrogate has no UTF-8 form: an error, never an altered path.
void unpairedSurrogates(const OwnerWindow& owner) {
  const std::pair<const char*, std::wstring> names[] = {
      {"HighAtTheEnd", L"C:\\x\xD83D"},
      {"LowAlone",
       L"C:\\\xDC00"
       L"b.txt"},
      {"HighBeforeAnotherCharacter",
       L"C:\\\xD83D"
       L".txt"},
      {"Reversed", L"C:\\\xDE01\xD83D"},
  };
  const char* shown[] = {
      R"(the path "C:\\x\xed\xa0\xbd" is not valid UTF-8)",
      R"(the path "C:\\\xed\xb0\x80b.txt" is not valid UTF-8)",
      R"(the path "C:\\\xed\xa0\xbd.txt" is not valid UTF-8)",
      R"(the path "C:\\\xed\xb8\x81\xed\xa0\xbd" is not valid UTF-8)",
  };
  for (std::size_t i = 0; i < std::size(names); ++i) {
    currentCase = std::string("UnpairedSurrogate/") + names[i].first;
    putOnClipboard(owner, {{CF_HDROP, dropFiles({LR"(C:\fine.txt)", names[i].second})}});
    checkFailure(runTool(), 65, shown[i]);
  }
}

void otherClipboards(const OwnerWindow& owner) {
  currentCase = "Clipboard/Empty";
  expectList(owner, {}, "[]");

  currentCase = "Clipboard/TextOnly";
  expectList(owner, {{CF_UNICODETEXT, unicodeText(LR"(C:\Users\me\a.txt)")}}, "[]");
}

// Another program with the clipboard open: the tool waits for it a little, then gives up.
void heldClipboard(const OwnerWindow& owner) {
  putOnClipboard(owner, {{CF_HDROP, dropFiles({LR"(C:\a.txt)"})}});

  currentCase = "Held/Briefly";
  {
    OpenedClipboard held(owner);
    checkOutput(runTool({.meanwhile =
                             [&] {
                               std::this_thread::sleep_for(300ms);
                               held.close();
                             }}),
                R"(["C:\\a.txt"])");
  }

  currentCase = "Held/Throughout";
  const OpenedClipboard held(owner);
  const RunResult result = runTool();
  checkFailure(result, 75, "another program kept the clipboard open for 1 second");
  check(result.elapsed < 10s, "the tool took " + std::to_string(result.elapsed.count()) + " ms");
}

// An owner that renders the list only when a reader asks for it.
void renderedOnRequest(OwnerWindow& owner) {
  const Format list{CF_HDROP, dropFiles({LR"(C:\a.txt)", LR"(C:\b.txt)"})};

  currentCase = "OnRequest/Rendered";
  owner.renderOnRequest(list);
  putOnClipboard(owner, {{CF_HDROP, ""}});
  checkOutput(runTool(), R"(["C:\\a.txt","C:\\b.txt"])");

  currentCase = "OnRequest/NothingRendered";
  owner.renderOnRequest(std::nullopt);
  putOnClipboard(owner, {{CF_HDROP, ""}});
  checkOutput(runTool(), "[]");

  // The owner has 2 seconds from the request alone: a list it renders within them is read. One
  // rendered later, even within the 3 seconds that opening and the owner once shared, or never,
  // ends the run soon after the 2 seconds with the owner named.
  struct SlowOwner {
    const char* name;
    std::optional<std::chrono::milliseconds> rendersAfter;  // never, if nothing
    bool read;
  };
  const SlowOwner slowOwners[] = {
      {"RendersAfter1200ms", 1200ms, true},
      {"RendersAfter2700ms", 2700ms, false},
      {"RendersAfter3500ms", 3500ms, false},
      {"OwnerNotAnswering", std::nullopt, false},
  };
  for (const SlowOwner& c : slowOwners) {
    currentCase = std::string("OnRequest/") + c.name;
    owner.renderOnRequest(list, c.rendersAfter.value_or(0ms));
    putOnClipboard(owner, {{CF_HDROP, ""}});
    const RunResult result = runTool(
        {.output = Output::capture, .meanwhile = {}, .ownerAnswers = c.rendersAfter.has_value()});
    if (c.read) {
      checkOutput(result, R"(["C:\\a.txt","C:\\b.txt"])");
    } else {
      checkFailure(result, 75,
                   "the program that owns the clipboard did not hand over the file list within 2 "
                   "seconds");
    }
    check(result.elapsed < 10s, "the tool took " + std::to_string(result.elapsed.count()) + " ms");
    std::printf("%s: the tool ended after %lld ms, its start included\n", currentCase.c_str(),
                static_cast<long long>(result.elapsed.count()));
  }
  owner.renderOnRequest(std::nullopt);
}

void outputErrors(const OwnerWindow& owner) {
  putOnClipboard(owner, {{CF_HDROP, dropFiles({LR"(C:\a.txt)"})}});
  const std::tuple<const char*, Output, const char*> cases[] = {
      {"Closed", Output::closed, "cannot write to standard output: it is not open"},
      {"ClosedPipe", Output::closedPipe,
       "cannot write to standard output: the program reading it has closed the pipe"},
      {"FullDevice", Output::fullDevice,
       "cannot write to standard output: no space left on the device"},
  };
  for (const auto& [name, output, message] : cases) {
    currentCase = std::string("Output/") + name;
    checkFailure(runTool({.output = output, .meanwhile = {}, .ownerAnswers = true}), 74, message);
  }
}

// What a console shows of the tool's output and its error line: the names as they are, not
// their UTF-8 bytes read in the console's code page. "#" marks where the tool left the cursor.
void consoleOutput(const OwnerWindow& owner) {
  const SharedConsole console;
  currentCase = "Console";
  check(console.attached(), "cannot attach to the console of a copy of this program (error " +
                                std::to_string(console.error()) + ")");
  if (!console.attached()) return;

  // Tens of thousands of bytes of 4-byte characters, the first 6 bytes in, so that a piece of a
  // large write of any usual size ends inside one.
  std::wstring faces = L"C:\\";
  std::string facesJson = R"(["C:\\)";
  for (int i = 0; i < 6000; ++i) {
    faces += L"😀";
    facesJson += "😀";
  }
  facesJson += R"("])";

  const std::tuple<const char*, std::wstring, DWORD, std::string> cases[] = {
      {"Names", L"C:\\Users\\José\\😀.txt", 0, R"(["C:\\Users\\José\\😀.txt"]#)"},
      {"ErrorLine", L"C:\\Users\\José\\😀\xD83D.txt", 65,
       R"(clipfiles: cannot write the file list as JSON: the path "C:\\Users\\José\\😀\xed\xa0\xbd.txt" is not valid UTF-8)"
       "\n#"},
      {"LongerThanAPiece", faces, 0, facesJson + "#"},
  };
  for (const auto& [name, path, status, screen] : cases) {
    currentCase = std::string("Console/") + name;
    putOnClipboard(owner, {{CF_HDROP, dropFiles({path})}});
    const RunResult result =
        runTool({.output = Output::console, .meanwhile = {}, .ownerAnswers = true});
    check(result.status == status,
          "exit status " + std::to_string(result.status) + ", expected " + std::to_string(status));
    checkBytes(result.screen, screen, "the console");
  }
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) {
    std::printf("usage: windows_tests PATH\\TO\\clipfiles.exe\n");
    return 2;
  }
  if (std::wstring_view(argv[1]) == L"--hold-console") return holdConsole();
  toolPath = argv[1];
  LocalFree(argv);

  OwnerWindow owner;
  fileLists(owner);
  manyFiles(owner);
  malformedLists(owner);
  unpairedSurrogates(owner);
  otherClipboards(owner);
  heldClipboard(owner);
  renderedOnRequest(owner);
  outputErrors(owner);
  consoleOutput(owner);

  std::printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
