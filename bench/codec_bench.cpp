// Throughput of the list decoder and the JSON writer on a realistic 100,000-file list:
// nested directories, some spaces and non-ASCII names.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "clipboard/uri_list.h"
#include "pathlist/path_list.h"

namespace {

std::string realisticList(int count) {
  std::string list;
  for (int i = 0; i < count; ++i) {
    list += "file:///home/user/Documents/Projects/project-" + std::to_string(i % 97) +
            (i % 3 == 0 ? "/Caf%C3%A9%20notes/" : "/src/module-") + std::to_string(i % 13) +
            "/file%20" + std::to_string(i) + ".txt\r\n";
  }
  return list;
}

void decodeList(benchmark::State& state) {
  const std::string list = realisticList(100000);
  for (auto _ : state) {
    auto urls = clipfiles::decodeFileList(list, clipfiles::ListFormat::uriList, "host");
    benchmark::DoNotOptimize(urls);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * list.size()));
}
BENCHMARK(decodeList)->Unit(benchmark::kMillisecond);

void encodeList(benchmark::State& state) {
  const auto urls =
      clipfiles::decodeFileList(realisticList(100000), clipfiles::ListFormat::uriList, "host");
  const clipfiles::PathList paths = clipfiles::makePathList(*urls);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const clipfiles::JsonText json = clipfiles::encodePathList(paths);
    bytes = json.size;
    benchmark::DoNotOptimize(json.bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(encodeList)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
