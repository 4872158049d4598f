// A private X server for a test, and a look at who owns its clipboard.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"

namespace testing_support {

// Xvfb on a free display, ready when constructed and stopped when destroyed. -noreset keeps
// the server from resetting each time its last client leaves.
class Xvfb {
 public:
  explicit Xvfb(const std::vector<std::string>& extraArguments = {});
  const std::string& display() const { return display_; }

 private:
  std::optional<Background> server_;
  std::string display_;
};

// An X server that accepts connections and never answers: a listening socket at a free
// display's abstract address, where clients look first, that no one reads.
class SilentXServer {
 public:
  SilentXServer();
  SilentXServer(const SilentXServer&) = delete;
  SilentXServer& operator=(const SilentXServer&) = delete;
  ~SilentXServer();
  const std::string& display() const { return display_; }

 private:
  int socket_ = -1;
  std::string display_;
};

// Writes an authority file holding one MIT-MAGIC-COOKIE-1 for every display, as both Xvfb's
// -auth and clients read it, and returns its path.
std::string writeAuthorityFile(const TemporaryDirectory& directory);

// The window that owns CLIPBOARD on `display`, or 0 when nobody does.
std::uint32_t clipboardOwner(const std::string& display);

// Waits until CLIPBOARD has an owner other than `previous`; returns it, or 0 after `limit`.
std::uint32_t waitForClipboardOwner(const std::string& display, std::uint32_t previous = 0,
                                    std::chrono::milliseconds limit = std::chrono::seconds(5));

// xclip owning CLIPBOARD with the bytes of `file` as `type`, once it owns it. xclip answers a
// request for any target with this data, labelled with `type`.
Background startXclip(const Environment& environment, const std::string& display,
                      const std::string& type, const std::string& file);

}  // namespace testing_support
