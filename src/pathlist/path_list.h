// From the clipboard's file URLs to the bytes the tool prints.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace clipfiles {

// A file URL as a clipboard reader hands it over. The tool uses only the path it names: the
// file-system path with percent-escapes decoded, as raw bytes.
struct FileURL {
  std::string path;
};

// One path per URL, same order, duplicates kept. The views point into `urls`.
std::vector<std::string_view> makePathList(std::span<const FileURL> urls);

// The compact JSON array of the paths, with every "/" written as "\/" and no byte after "]".
// Throws Failure (dataError) if a path is not valid UTF-8, as JSON text cannot carry it.
std::string encodePathList(std::span<const std::string_view> paths);

// Writes all of `data` to standard output. Throws Failure (ioError) if it cannot.
void writeStandardOutput(std::string_view data);

}  // namespace clipfiles
