#include "jumplist/file_notes.h"

#include <gtest/gtest.h>

#include "alloc_hook.h"
#include "jumplist/lnk_record.h"

namespace vk {
namespace {

// One line per structure and cause, the first offset shown, repeats counted;
// a record's faults land at its base, and a full or repeated fault list of a
// record stays bounded, the distinct faults past it counted and said; notes
// that memory runs out for are counted and said.
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
  EXPECT_EQ(record.m_faults.size(), 2u);
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
  // The names of a file and of its streams keep to the note's one line.
  file_notes named;
  named.add("link", 4, "damaged", "s\n\x1b");
  EXPECT_EQ(named.lines("d\re\xC2\x85\xFF.lnk"),
            "not read in full: d[CR]e[0x85]\\xFF.lnk (link at offset 0x4 of stream s[LF][0x1b]: "
            "damaged)\n");
  static const char* const causes[] = {"a", "b", "c", "d", "e"};
  for (int i = 0; i < 8; ++i)
    add_record_fault(record, parse_fault{"block", static_cast<uint64_t>(i), causes[i % 5]});
  EXPECT_EQ(record.m_faults.size(), fault_sink::k_kept);
  EXPECT_EQ(record.m_faults.dropped(), 4u);  // "c", "d", "e", "c" met after the list filled
  notes.clear();
  EXPECT_EQ(notes.lines("f"), "");
  notes.add_record(record, 0x10);
  EXPECT_NE(notes.lines("f").find("(link at offset 0x10: 4 more faults, not kept)\n"),
            std::string::npos)
      << notes.lines("f");

  // A carved link's memory running out is said first, when asked, at the
  // link's base; an automatic list's reader says it itself.
  lnk_record short_of_memory;
  short_of_memory.m_faults.add_out_of_memory();
  add_record_fault(short_of_memory, parse_fault{"ID list", 0x4c, "lies past the data"});
  for (const bool said : {true, false}) {
    notes.clear();
    notes.add_faults(short_of_memory.m_faults, 0x800, {}, said);
    EXPECT_EQ(notes.lines("f"),
              std::string(said ? "not read in full: f (link at offset 0x800: not read in full: "
                                 "out of memory)\n"
                               : "") +
                  "not read in full: f (ID list at offset 0x84c: lies past the data)\n");
  }

  notes.clear();
  {
    vesk_test::heap::scope watched;
    vesk_test::heap::fail_nth(0);
    notes.add("DestList entry", 0x20, "path length runs past the stream");
    vesk_test::heap::fail_nth(0);
    notes.add_numbered("DestList entry", 7, 0x20, "not read");
    vesk_test::heap::no_failure();
  }
  EXPECT_TRUE(notes.any());
  EXPECT_EQ(notes.lines("f"), "not read in full: f (2 notes lost: out of memory)\n");
}

}  // namespace
}  // namespace vk
