// Fuzzes the JSON writer with lists of arbitrary byte strings. Either every path is valid
// UTF-8 and an independent decoder reads the output back as exactly those paths, with no bare
// "/" and nothing after the "]"; or some path is not, and the writer refuses it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "pathlist/path_list.h"

namespace {

// Valid UTF-8, by the independent decoder's own judgement.
bool isUtf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

// True when every "/" in `json` has an odd run of backslashes before it.
bool slashesEscaped(std::string_view json) {
  for (std::size_t at = json.find('/'); at != std::string_view::npos; at = json.find('/', at + 1)) {
    std::size_t backslashes = 0;
    while (backslashes < at && json[at - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<std::string> paths;
  while (provider.remaining_bytes() > 0 && paths.size() < 64) {
    paths.push_back(provider.ConsumeRandomLengthString(512));
  }
  clipfiles::FileURLPaths urls;
  bool allValid = true;
  for (std::string& path : paths) {
    std::erase(path, '\0');  // no path holds one
    allValid = allValid && isUtf8(path);
    urls.add(path);
  }

  std::string json;
  try {
    json = clipfiles::encodePathList(clipfiles::makePathList(urls)).view();
  } catch (const clipfiles::InvalidPathError&) {
    if (allValid) __builtin_trap();
    return 0;
  }
  if (!allValid || json.empty() || json.back() != ']' || !slashesEscaped(json)) __builtin_trap();
  if (nlohmann::json::parse(json).get<std::vector<std::string>>() != paths) __builtin_trap();
  return 0;
}
