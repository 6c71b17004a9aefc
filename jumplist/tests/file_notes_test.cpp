#include "jumplist/file_notes.h"

#include <gtest/gtest.h>

#include "jumplist/lnk_record.h"

namespace vk {
namespace {

// One line per structure and cause, the first offset shown, repeats counted;
// a record's faults land at its base, and a full or repeated fault list of a
// record stays bounded.
TEST(FileNotes, OneLinePerStructureAndCause) {
  file_notes notes;
  EXPECT_FALSE(notes.any());
  notes.add("DestList entry", 0x20, "path length runs past the stream");
  notes.add("DestList entry", 0x90, "path length runs past the stream");
  notes.add("DestList entry", 0x100, "path length runs past the stream");
  lnk_record record;
  const parse_fault block{"extra-data block", 0x1c4, "declared size runs past the data"};
  for (int i = 0; i < 9; ++i) add_record_fault(record, block);
  add_record_fault(record, parse_fault{"shell item", 0x4e, "item size runs past the ID list"});
  add_record_fault(record, parse_fault{});
  EXPECT_EQ(record.m_fault_count, 2);
  notes.add_record(record, 0, "1a");
  notes.add_record(record, 0, "1b");
  ASSERT_TRUE(notes.any());
  EXPECT_EQ(notes.lines("/e/x.automaticDestinations-ms"),
            "not read in full: /e/x.automaticDestinations-ms (DestList entry at offset 0x20: "
            "path length runs past the stream; 3 times, the first shown)\n"
            "not read in full: /e/x.automaticDestinations-ms (extra-data block at offset 0x1c4 "
            "of stream 1a: declared size runs past the data; 2 times, the first shown)\n"
            "not read in full: /e/x.automaticDestinations-ms (shell item at offset 0x4e of "
            "stream 1a: item size runs past the ID list; 2 times, the first shown)\n");
  for (int i = 0; i < 8; ++i)
    add_record_fault(record, parse_fault{"block", static_cast<uint64_t>(i), i % 2 ? "a" : "b"});
  EXPECT_EQ(record.m_fault_count, record.m_faults.size());
  notes.clear();
  EXPECT_EQ(notes.lines("f"), "");
}

}  // namespace
}  // namespace vk
