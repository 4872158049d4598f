// The buffer that large clipboard data and output are built in.
#include "pathlist/buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using clipfiles::LargeBuffer;

// Growing keeps the data, doubles the capacity as needed, and stops at the limit.
TEST(LargeBuffer, GrowKeepsDataAndRespectsTheLimit) {
  struct Step {
    std::size_t needed;
    std::size_t limit;
    std::size_t capacity;  // expected after growing
  };
  const Step steps[] = {
      {10, 1000, 16},     // from 8, doubled once
      {16, 1000, 16},     // room enough already
      {100, 1000, 128},   // doubled three times
      {900, 1000, 1000},  // doubling would pass the limit
      {std::size_t{5} << 20, std::size_t{6} << 20, std::size_t{6} << 20},  // huge-page sized
  };
  LargeBuffer buffer(8);
  std::string expected;
  char next = 'a';
  for (const Step& step : steps) {
    buffer.grow(step.needed, step.limit);
    EXPECT_EQ(buffer.capacity(), step.capacity) << "needed " << step.needed;
    const std::string more(buffer.capacity() - buffer.size() > 3 ? 3 : 0, next++);
    buffer.append(more);
    expected += more;
    EXPECT_EQ(buffer.view(), expected);
  }
}

}  // namespace
