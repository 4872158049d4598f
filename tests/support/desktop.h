// Folders for a real file manager to copy, and the output the tool must give for each. Names
// start with a digit so that every file manager's name order is the order below, and the
// sub-folder sorts first, as it does where folders come first.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"

namespace testing_support {

struct CopiedFolder {
  std::string path;
  std::string json;  // what the tool prints once all of the folder is copied
};

namespace detail {

inline std::string jsonPath(const std::string& folder, const std::string& escapedName) {
  std::string json = "\"";
  for (const char c : folder) json += c == '/' ? std::string("\\/") : std::string(1, c);
  return json + "\\/" + escapedName + "\"";
}

inline void makeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path);
  std::fclose(file);
}

}  // namespace detail

// A folder of names that are hard on URIs, JSON and terminals, each with its JSON as the tool
// must write it: a space, UTF-8, "#" and "%" (escaped by file managers), quotes, a newline, a
// tab, and a sub-folder.
inline CopiedFolder awkwardFolder(const TemporaryDirectory& parent) {
  const std::string path = parent.path() + "/awkward";
  const std::vector<std::pair<std::string, std::string>> entries{
      {"0 sub-folder", "0 sub-folder"},
      {"1 with space.txt", "1 with space.txt"},
      {"2 ünïcødé 日本.txt", "2 ünïcødé 日本.txt"},
      {"3 C# notes.txt", "3 C# notes.txt"},
      {"4 100% done.txt", "4 100% done.txt"},
      {"5 \"double\" 'single'.txt", "5 \\\"double\\\" 'single'.txt"},
      {"6 new\nline.txt", "6 new\\nline.txt"},
      {"7 tab\there.txt", "7 tab\\there.txt"},
  };
  if (::mkdir(path.c_str(), 0755) != 0) throw std::runtime_error("cannot create " + path);
  std::string json = "[";
  for (const auto& [name, escaped] : entries) {
    const std::string file = path + "/" + name;
    if (name == entries.front().first) {
      if (::mkdir(file.c_str(), 0755) != 0) throw std::runtime_error("cannot create " + file);
    } else {
      detail::makeFile(file);
    }
    json += (json.size() > 1 ? "," : "") + detail::jsonPath(path, escaped);
  }
  return {path, json + "]"};
}

// A folder of `count` files with long names: its list, about 100 bytes a file, needs many
// pieces to cross an X11 connection.
inline CopiedFolder largeFolder(const TemporaryDirectory& parent, int count = 2000) {
  const std::string path = parent.path() + "/large";
  if (::mkdir(path.c_str(), 0755) != 0) throw std::runtime_error("cannot create " + path);
  std::string json = "[";
  for (int i = 0; i < count; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%05d", i);
    const std::string name =
        std::string("file-") + number + "-with-a-name-long-enough-to-fill-the-list.txt";
    detail::makeFile(path + "/" + name);
    json += (i > 0 ? "," : "") + detail::jsonPath(path, name);
  }
  return {path, json + "]"};
}

}  // namespace testing_support
