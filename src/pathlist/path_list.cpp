#include "pathlist/path_list.h"

namespace clipfiles {

std::vector<std::string_view> makePathList(std::span<const FileURL> urls) {
  std::vector<std::string_view> paths;
  paths.reserve(urls.size());
  for (const FileURL& url : urls) paths.emplace_back(url.path);
  return paths;
}

}  // namespace clipfiles
