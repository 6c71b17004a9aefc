#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "foundation/vk_fault_sink.h"

namespace vk {
namespace {

// A sink keeps the first four distinct faults (structure and cause, texts
// compared, not pointers), counts the distinct ones past them, ignores an
// empty fault, and counts memory running out apart from the faults, whether
// said by its cause or directly. keep_if drops faults but not the counts.
TEST(FaultSink, KeepsFourDistinctCountsTheRestAndMemoryApart) {
  static_assert(std::is_trivially_copyable_v<fault_sink>);
  std::string cause_copy = "declared size runs past the data";
  const struct {
    parse_fault fault;
    size_t kept;
    uint32_t dropped, out_of_memory;
  } steps[] = {
      {{}, 0, 0, 0},
      {{"extra-data block", 0x1c4, "declared size runs past the data"}, 1, 0, 0},
      {{"extra-data block", 0x200, cause_copy.c_str()}, 1, 0, 0},
      {{"shell item", 0x4e, "declared size runs past the data"}, 2, 0, 0},
      {{"link", 0, k_fault_out_of_memory}, 2, 0, 1},
      {{"LinkInfo", 0x50, "lies past the data"}, 3, 0, 1},
      {{"StringData item", 0x90, "count runs past the data"}, 4, 0, 1},
      {{"terminal block", 0x99, "runs past the data"}, 4, 1, 1},
      {{"shell item", 0x4e, "declared size runs past the data"}, 4, 1, 1},
      {{"shell link", 0, k_fault_work_limit}, 4, 2, 1},
  };
  fault_sink sink;
  EXPECT_TRUE(sink.empty());
  for (const auto& s : steps) {
    SCOPED_TRACE(s.kept * 100 + s.dropped);
    sink.add(s.fault);
    EXPECT_EQ(sink.size(), s.kept);
    EXPECT_EQ(sink.dropped(), s.dropped);
    EXPECT_EQ(sink.out_of_memory_count(), s.out_of_memory);
  }
  EXPECT_EQ(sink[0].offset, 0x1c4u);
  EXPECT_STREQ(sink[3].structure, "StringData item");
  sink.add_out_of_memory();
  EXPECT_EQ(sink.out_of_memory_count(), 2u);
  sink.keep_if([](const parse_fault& f) { return f.offset >= 0x50 && f.offset < 0x100; });
  ASSERT_EQ(sink.size(), 2u);
  EXPECT_STREQ(sink[0].structure, "LinkInfo");
  EXPECT_EQ(sink.dropped(), 2u);
  EXPECT_TRUE(sink.out_of_memory());
  sink.clear();
  EXPECT_TRUE(sink.empty());
  EXPECT_FALSE(sink.out_of_memory());
}

}  // namespace
}  // namespace vk
