#include "pathlist/path_list.h"

#include <algorithm>

namespace clipfiles {
namespace {

// Paths that come without a size announced ahead go into blocks of this size.
constexpr std::size_t blockSize = std::size_t{64} * 1024;

}  // namespace

void FileURLList::reserve(std::size_t count, std::size_t bytes) {
  urls_.reserve(urls_.size() + count);
  makeRoom(bytes, bytes);
}

void FileURLList::add(std::string_view path) {
  makeRoom(path.size(), std::max(blockSize, path.size()));
  LargeBuffer& block = blocks_.back();
  urls_.push_back(FileURL{{block.data() + block.size(), path.size()}});
  block.append(path);
}

void FileURLList::makeRoom(std::size_t bytes, std::size_t blockBytes) {
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < bytes) {
    blocks_.emplace_back(blockBytes);
  }
}

std::vector<std::string_view> makePathList(const FileURLList& urls) {
  std::vector<std::string_view> paths;
  paths.reserve(urls.size());
  for (const FileURL& url : urls) paths.push_back(url.path);
  return paths;
}

}  // namespace clipfiles
