// What every clipboard backend is tested against: file lists as owners put them on a
// clipboard with the exact output each must give, and what a run must look like.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

#include "support/process.h"

namespace {

struct ListCase {
  const char* name;
  const char* uriList;
  const char* json;
};
void PrintTo(const ListCase& c, std::ostream* os) {
  *os << c.name;
}

const ListCase listCases[] = {
    {"TypicalCopy", "file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt\r\n",
     R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])"},
    {"QuotesBackslashesNonAscii",
     "file:///tmp/say%20%22hi%22/back%5Cslash/caf%C3%A9/%E6%97%A5%E6%9C%AC%20%F0%9F%93%81\r\n",
     R"(["\/tmp\/say \"hi\"\/back\\slash\/café\/日本 📁"])"},
    {"OrderAndDuplicatesKept", "file:///b\r\nfile:///a\r\nfile:///b\r\n", R"(["\/b","\/a","\/b"])"},
    {"LfCommentsOtherSchemesDirectories",
     "# copied\nhttp://example.com/x\nfile://localhost/home/u/Documents/\nfile:/etc/hosts\n",
     R"(["\/home\/u\/Documents","\/etc\/hosts"])"},
    {"MalformedEntryDropsWholeList", "file:///ok\r\nfile:///bad%zz\r\n", "[]"},
    {"OnlyOtherSchemes", "https://example.com/a\r\n", "[]"},
};

// A list of 20,000 files, over 1 MiB: large enough that owners send it in chunks.
std::pair<std::string, std::string> largeFileList() {
  std::string list;
  std::string json = "[";
  for (int i = 0; i < 20000; ++i) {
    const std::string path = "/home/user/Projects/project " + std::to_string(i % 97) +
                             "/src/fichier-" + std::to_string(i) + ".txt";
    list += "file://";
    json += i == 0 ? "\"" : ",\"";
    for (char c : path) {
      list += c == ' ' ? std::string("%20") : std::string(1, c);
      json += c == '/' ? std::string("\\/") : std::string(1, c);
    }
    list += "\r\n";
    json += "\"";
  }
  return {list, json + "]"};
}

using testing_support::RunResult;

void expectOutput(const RunResult& result, const std::string& json) {
  EXPECT_EQ(result.out, json);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

// A failed run: the status, one line on standard error containing `message`, nothing printed.
void expectFailure(const RunResult& result, int status, const std::string& message) {
  EXPECT_EQ(result.status, status);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(result.err.starts_with("clipfiles: ")) << result.err;
  EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
}

}  // namespace
