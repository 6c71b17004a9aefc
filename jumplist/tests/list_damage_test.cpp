// Damaged automatic lists: every DestList entry read and every link stream
// ends as a record or in a note, whatever was damaged. The expected counts
// were taken once from pyolecf and pylnk reading the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "alloc_hook.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "idlist_writer.h"
#include "jumplist/file_drivers.h"
#include "lnk_writer.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;
using failure = lnk::useropts::failure;
using bytes = std::vector<uint8_t>;

struct outcome {
  bool ok = false;
  uint64_t records = 0;
  std::string text, notes;
  failure why = failure::none;
};

outcome run_file(const temp_tree& tree, const std::string& name, const bytes& data,
                 bool bodyfile = false, int64_t fail_at = -1) {
  tree.file(name, std::string(data.begin(), data.end()));
  vesk_options options;
  options.m_status_messages = 0;
  options.m_bodyfile = bodyfile;
  options.m_source_path = tree.path(name);
  std::ostringstream text;
  outcome o;
  if (fail_at >= 0) heap::fail_nth(fail_at);
  o.ok = process_jumplist_file(text, options.m_source_path, options);
  heap::no_failure();
  o.records = options.m_records_written;
  o.text = text.str();
  o.notes = options.m_notes.lines("F");
  o.why = options.m_failure;
  return o;
}

// Runs the file with the at-th allocation failing, for each at below limit,
// and gives each outcome to check with its at; a run whose failure came
// before the file was taken on (the main loop says so) is skipped.
template <class F>
void each_memory_cut(const temp_tree& tree, const std::string& name, const bytes& data,
                     int64_t limit, F&& check) {
  for (int64_t at = 0; at < limit; ++at) {
    outcome o;
    try {
      o = run_file(tree, name, data, false, at);
    } catch (const std::bad_alloc&) {
      continue;
    }
    check(o, at);
  }
}

std::vector<std::string> values(const std::string& text, const std::string& label) {
  std::vector<std::string> found;
  for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
    found.push_back(text.substr(at + 26, text.find('\n', at) - at - 26));
  return found;
}

// A link with an ID list, so that its ID list can be damaged.
bytes listed_link() {
  lnk_spec s;
  s.attributes = 0x20;
  s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                     file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, "e.txt")});
  lnk_link_info li;
  li.local_base_path = "C:\\d\\e.txt";
  s.link_info = li;
  return write_lnk(s);
}

std::vector<destlist_test_entry> three_entries() {
  std::vector<destlist_test_entry> entries(3);
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].entry_num = i + 1;
    entries[i].access_count = static_cast<uint32_t>(i + 1);
    entries[i].path = u"C:\\d\\e" + std::u16string(1, static_cast<char16_t>(u'1' + i)) + u".txt";
    entries[i].host = "HOST" + std::to_string(i + 1);
  }
  return entries;
}

// Entries 1, 2 and 3 with streams "1", "2" and "3" (stream 2 as given, none
// when absent), and any further streams.
bytes three_entry_list(const std::optional<bytes>& second,
                       const std::vector<std::pair<std::u16string, bytes>>& more = {},
                       const std::optional<bytes>& destlist = std::nullopt,
                       const std::u16string& destlist_name = u"DestList") {
  cfb_writer w;
  w.stream(u"1", listed_link());
  if (second) w.stream(u"2", *second);
  w.stream(u"3", listed_link());
  for (const auto& [name, data] : more) w.stream(name, data);
  w.stream(destlist_name, destlist ? *destlist : build_destlist(4, three_entries()));
  return w.build();
}

// Offset of the directory entry of a stream name in a built file.
size_t dir_entry_of(const bytes& file, const std::u16string& name) {
  for (size_t at = 512; at + 128 <= file.size(); at += 128) {
    if (load_le16(file.data() + at + 64) != 2 * (name.size() + 1)) continue;
    bool same = true;
    for (size_t i = 0; i < name.size(); ++i) same &= load_le16(file.data() + at + 2 * i) == name[i];
    if (same) return at;
  }
  return 0;
}

// Item: an entry whose link is missing or unreadable stays a record, with
// its DestList cells and path, and one note names it, its stream and why.
// pylnk opens none of the damaged links (bit 15, cut, header byte).
TEST(ListDamage, EntriesWhoseLinkIsLostStayRecords) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  bytes bit15 = listed_link(), cut = listed_link(), header = listed_link();
  bit15[77] |= 0x80;
  cut.resize(90);
  header[0] = 0x4D;
  const struct {
    const char* label;
    std::optional<bytes> second;
    const char* cause;
  } rows[] = {
      {"missing", std::nullopt, "link stream 2 missing"}, {"empty", bytes{}, "link stream 2 empty"},
      {"bit15", bit15, "link stream 2 unparseable"},      {"cut", cut, "link stream 2 unparseable"},
      {"header", header, "link stream 2 no link header"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.label);
    const outcome o = run_file(tree, std::string(r.label) + ".automaticDestinations-ms",
                               three_entry_list(r.second));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.records, 3u);
    EXPECT_EQ(values(o.text, "MRU/MFU index:"), (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_EQ(values(o.text, "stream #:"), (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_EQ(values(o.text, "Interaction count:"), (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_EQ(values(o.text, "NETBIOS name:"),
              (std::vector<std::string>{"HOST3", "HOST2", "HOST1"}));
    EXPECT_EQ(values(o.text, "DestList path:"), std::vector<std::string>{"C:\\d\\e2.txt"});
    EXPECT_EQ(values(o.text, "Local base path:").size(), 2u);
    EXPECT_NE(o.notes.find("(DestList entry 2 at offset 0xbc of stream DestList: " +
                           std::string(r.cause)),
              std::string::npos)
        << o.notes;
    EXPECT_NE(o.notes.find("reported without link data)"), std::string::npos);
  }
  // The path is the body file's target; a list whose only link is lost is
  // no list without entries.
  const outcome body =
      run_file(tree, "b.automaticDestinations-ms", three_entry_list(std::nullopt), true);
  EXPECT_NE(body.text.find("|C:\\d\\e2.txt (LNK TARGET) <- "), std::string::npos) << body.text;
  destlist_test_entry only;
  cfb_writer w;
  w.stream(u"DestList", build_destlist(4, {only}));
  const outcome lone = run_file(tree, "l.automaticDestinations-ms", w.build());
  EXPECT_EQ(lone.records, 1u);
  EXPECT_NE(lone.why, failure::no_entries);
  EXPECT_NE(lone.notes, "");
}

// Item: every link stream that no entry read names is reported after the
// entries, without DestList data, and one note says why and how many.
// pyolecf finds four streams named by numbers in each file. DestList
// entries that repeat a stream, or that contradict the header's
// pinned-entry count or last entry number, keep every row and say each
// contradiction; counts the entries agree with say nothing (entries of
// removed streams leave the last number above the highest entry's).
// pyolecf finds streams 1, 2 and 3 in each file without "7f"; entries 1
// to 3 start at 32, 188 and 344 of the version-4 DestList (156 bytes each).
TEST(ListDamage, StreamsNoEntryNamesAreReported) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  namespace H = vk::destlist::header;
  const std::vector<std::pair<std::u16string, bytes>> extra = {{u"7f", listed_link()}};
  auto with_7f = [&](const bytes& destlist, const std::u16string& name = u"DestList") {
    return three_entry_list(listed_link(), extra, destlist, name);
  };
  auto alone = [](const bytes& destlist) { return three_entry_list(listed_link(), {}, destlist); };
  auto edited = [](bytes destlist, size_t at, uint8_t value) {
    destlist[at] = value;
    return destlist;
  };
  const bytes sound = build_destlist(4, three_entries());
  bytes cut = sound;
  cut.resize(sound.size() - 60);
  auto swallowing = three_entries();
  swallowing[0].length_override = static_cast<int32_t>(
      swallowing[0].path.size() + destlist_entry_bytes(swallowing[1], false).size() / 2);
  auto repeated = three_entries();
  repeated[2].entry_num = 2;  // streams 1, 2, 2: stream 3 named by none
  auto pinned = three_entries();
  pinned[0].pin_status = 0;
  pinned[2].pin_status = 1;
  const bytes pins = build_destlist(4, pinned);
  const struct {
    const char* label;
    bytes file;
    std::vector<std::string> streams;  // as reported, highest position first
    std::string notes;                 // in full, or (when part) a part of them
    bool part = false;
  } rows[] = {
      {"sound",
       with_7f(sound),
       {"127", "3", "2", "1"},
       "(DestList at offset 0x0 of stream DestList: 1 of 1 link streams that no entry names "
       "reported without DestList data)",
       true},
      {"cut",
       with_7f(cut),
       {"127", "3", "2", "1"},
       "entry 3 cut: 96 bytes left, fewer than an entry holds; 2 of 2 link streams",
       true},
      {"swallow",
       with_7f(build_destlist(4, swallowing)),
       {"127", "2", "3", "1"},
       "says 3 entries, 2 were read",
       true},
      {"count",
       with_7f(edited(sound, 4, 5)),
       {"127", "3", "2", "1"},
       "says 5 entries, 3 were read",
       true},
      {"short",
       with_7f(bytes(20, 4)),
       {"127", "3", "2", "1"},
       "shorter than its header (20 bytes); 4 of 4 link streams",
       true},
      {"renamed",
       with_7f(sound, u"DestLisx"),
       {"127", "3", "2", "1"},
       "(DestList stream at offset 0x0: missing; 4 of 4 link streams",
       true},
      {"repeated stream",
       alone(build_destlist(4, repeated)),
       {"3", "2", "2", "1"},
       "not read in full: F (DestList entry 3 at offset 0x158 of stream DestList: names link "
       "stream 2, as entry 2 does: its link reported again)\n"
       "not read in full: F (DestList at offset 0x0 of stream DestList: 1 of 1 link streams that "
       "no entry names reported without DestList data)\n"},
      {"pinned count above the pins",
       alone(edited(sound, H::pinned_count, 2)),
       {"3", "2", "1"},
       "not read in full: F (DestList header at offset 0x8 of stream DestList: says 2 pinned "
       "entries, 0 were read pinned)\n"},
      {"pinned count below the pins",
       alone(edited(pins, H::pinned_count, 1)),
       {"3", "2", "1"},
       "not read in full: F (DestList header at offset 0x8 of stream DestList: says 1 pinned "
       "entries, 2 were read pinned)\n"},
      {"last entry number below an entry's",
       alone(edited(sound, H::last_entry_number, 2)),
       {"3", "2", "1"},
       "not read in full: F (DestList header at offset 0x10 of stream DestList: says the last "
       "entry number is 2, entry 3 has number 3)\n"},
      {"pins as counted", alone(pins), {"3", "2", "1"}, ""},
      {"last entry number of a removed entry",
       alone(edited(sound, H::last_entry_number, 9)),
       {"3", "2", "1"},
       ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.label);
    const outcome o = run_file(tree, std::string(r.label) + ".automaticDestinations-ms", r.file);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.records, r.streams.size());
    EXPECT_EQ(values(o.text, "stream #:"), r.streams);
    std::vector<std::string> places;
    for (size_t i = r.streams.size(); i > 0; --i) places.push_back(std::to_string(i));
    EXPECT_EQ(values(o.text, "MRU/MFU index:"), places);
    if (r.part)
      EXPECT_NE(o.notes.find(r.notes), std::string::npos) << o.notes;
    else
      EXPECT_EQ(o.notes, r.notes);
  }
  // Nineteen entries naming stream 1: sixteen repeats named, two counted.
  const outcome many =
      run_file(tree, "m.automaticDestinations-ms",
               alone(build_destlist(4, std::vector<destlist_test_entry>(19, three_entries()[0]))));
  EXPECT_EQ(values(many.text, "stream #:").size(), 19u + 2u);
  size_t named = 0;
  for (size_t at = many.notes.find(": its link reported again"); at != std::string::npos;
       at = many.notes.find(": its link reported again", at + 1))
    ++named;
  EXPECT_EQ(named, 16u);
  EXPECT_NE(many.notes.find("(DestList entries at offset 0x0 of stream DestList: 2 more name a "
                            "link stream an entry before them names: their links reported again)"),
            std::string::npos)
      << many.notes;
  // Without a DestList and without links in its numbered streams, a
  // compound file is no jump list.
  cfb_writer other;
  other.stream(u"1", bytes(200, 3)).stream(u"Contents", listed_link());
  const outcome none = run_file(tree, "o.automaticDestinations-ms", other.build());
  EXPECT_FALSE(none.ok);
  EXPECT_EQ(none.why, failure::no_destlist);
}

// Item: compound files as libolecf reads them. pyolecf opens the file with
// a class-id bit flipped (4 items) and gives stream 2 its 32-bit size when
// the high half of a version-3 size is set.
TEST(ListDamage, CompoundFilesAsLibolecfReadsThem) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const bytes sound = three_entry_list(listed_link());
  bytes clsid = sound;
  clsid[8 + 5] ^= 0x10;
  const outcome flipped = run_file(tree, "c.automaticDestinations-ms", clsid);
  ASSERT_TRUE(flipped.ok);
  EXPECT_EQ(values(flipped.text, "Interaction count:"), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(flipped.notes, "");

  bytes high = sound;
  const size_t entry = dir_entry_of(high, u"2");
  ASSERT_NE(entry, 0u);
  put_le32(high, entry + 124, 0xDEADBEEF);
  const outcome sized = run_file(tree, "h.automaticDestinations-ms", high);
  EXPECT_EQ(values(sized.text, "Local base path:").size(), 3u);
  EXPECT_EQ(sized.notes, "");

  // Cut inside the sectors: read as far as it goes, and said; cut before
  // the directory or inside the header: refused as damaged, never "no
  // DestList".
  for (size_t keep : {sound.size() - 700, size_t{600}, size_t{300}}) {
    SCOPED_TRACE(keep);
    const outcome o =
        run_file(tree, "t.automaticDestinations-ms", bytes(sound.begin(), sound.begin() + keep));
    EXPECT_NE(o.why, failure::no_destlist);
    if (o.ok) {
      EXPECT_NE(o.notes.find("cut short"), std::string::npos) << o.notes;
    } else {
      EXPECT_EQ(o.why, failure::damaged);
    }
  }
}

// Item: the keep rule never hides damage. A stream no entry names whose
// link names nothing is said, and so are the faults of its parse.
TEST(ListDamage, KeepRuleNeverHidesDamage) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  lnk_spec named;
  named.strings[lnk_name] = u"just a name";
  bytes cut_name = write_lnk(named);
  cut_name.resize(cut_name.size() - 8);
  lnk_spec nothing;
  const bytes bare = write_lnk(nothing);
  for (const bytes& link : {cut_name, bare}) {
    const outcome o = run_file(tree, "k.automaticDestinations-ms",
                               three_entry_list(listed_link(), {{u"7f", link}}));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.records, 3u);
    EXPECT_NE(o.notes.find("of stream 7f: "), std::string::npos) << o.notes;
  }
}

// Item: a link stream, and a link file, holds its link whole and nothing more. Zeros over a
// block to the stream's end read as an early terminal block, zeros over an
// ID-list item (said by the item walk), bytes after the
// terminal block, a stream that ends before it: each said at its offset in
// the stream (from the bytes written; pylnk reads each of these links
// without a word), the record kept.
TEST(ListDamage, LinkStreamsEndWithTheirLink) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  lnk_spec s;
  s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                     file_entry_item(0x31, 0, 0x5865, 0x3904, 0x10, "d"),
                     file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, "e.txt")});
  s.link_info = lnk_link_info{};
  s.link_info->local_base_path = "C:\\d\\e.txt";
  const guid_bytes_t object{};
  s.extra_blocks = {special_folder_block(37),
                    tracker_block("desktop-01", object, object, object, object)};
  const bytes sound = write_lnk(s);
  const size_t tracker = sound.size() - 4 - 96;
  bytes zeroed = sound;
  std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(tracker), zeroed.end(), 0);
  bytes longer = sound;
  longer.resize(sound.size() + 8);
  const bytes cut(sound.begin(), sound.end() - 4);
  // The folder item, after the 20-byte root item.
  bytes folder = sound;
  const size_t item = 78 + 20;
  std::fill_n(folder.begin() + item, load_le16(sound.data() + item), 0);
  char at[4][96];
  std::snprintf(at[0], sizeof at[0], "(link at offset 0x%zx of stream 2: ends before its stream",
                tracker + 4);
  std::snprintf(at[1], sizeof at[1], "(link at offset 0x%zx of stream 2: ends before its stream",
                sound.size());
  std::snprintf(at[2], sizeof at[2],
                "(terminal block at offset 0x%zx of stream 2: lies past the data)", cut.size());
  std::snprintf(at[3], sizeof at[3],
                "(shell item at offset 0x%zx of stream 2: item size zero before the list's end)",
                item);
  // A link file's one link fills it too: zeros after it are padding, other
  // bytes are what an early end left unread (here the tracker's tail).
  bytes torn = sound;
  std::fill_n(torn.begin() + static_cast<std::ptrdiff_t>(tracker), 8, 0);
  char past[64];
  std::snprintf(past, sizeof past, "(link at offset 0x%zx: ends before its file", tracker + 4);
  const struct {
    const char* what;
    const bytes& link;
    bool link_file;    // else the link stream of a three-entry list
    const char* note;  // null: none
    bool machine;      // the tracker's machine ID read (else the DestList's host)
  } cases[] = {
      {"sound", sound, false, nullptr, true},
      {"tracker zeroed to the end", zeroed, false, at[0], false},
      {"bytes after the terminal block", longer, false, at[1], true},
      {"cut before the terminal block", cut, false, at[2], true},
      {"folder item zeroed", folder, false, at[3], true},
      {"a link file", sound, true, nullptr, true},
      {"a link file, zeros after the terminal block", longer, true, nullptr, true},
      {"a link file, the tracker's size and signature zeroed", torn, true, past, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const outcome o = c.link_file
                          ? run_file(tree, "z.lnk", c.link)
                          : run_file(tree, "z.automaticDestinations-ms", three_entry_list(c.link));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.records, c.link_file ? 1u : 3u);
    if (c.note)
      EXPECT_NE(o.notes.find(c.note), std::string::npos) << o.notes;
    else
      EXPECT_EQ(o.notes, "");
    const std::vector<std::string> hosts = values(o.text, "NETBIOS name:");
    EXPECT_EQ(std::count(hosts.begin(), hosts.end(), "desktop-01"), c.machine ? 1 : 0) << o.text;
  }
}

// Item: memory that runs out is said as such and names the first entry
// not reported; the records reported are the ones above or below it, and
// a list that lost records is never called empty.
TEST(ListDamage, MemoryThatRunsOutIsSaid) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::vector<destlist_test_entry> entries(6);
  cfb_writer w;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].entry_num = i + 1;
    w.stream(std::u16string(1, static_cast<char16_t>(u'1' + i)), listed_link());
  }
  w.stream(u"DestList", build_destlist(4, entries));
  const bytes list = w.build();
  size_t said = 0;
  each_memory_cut(tree, "m.automaticDestinations-ms", list, 400, [&](const outcome& o, int64_t at) {
    SCOPED_TRACE(at);
    const auto positions = values(o.text, "MRU/MFU index:");
    if (!o.ok || o.notes.find("out of memory") == std::string::npos) return;
    // Said as memory, naming the entry (or the stream no entry names), or
    // the check of the file's chains that memory cut.
    const size_t named = o.notes.find("DestList entry ");
    EXPECT_TRUE(named != std::string::npos || o.notes.find("link stream") != std::string::npos ||
                o.notes.find("sector chains not checked") != std::string::npos)
        << o.notes;
    EXPECT_NE(o.why, failure::no_entries);
    ++said;
    if (named == std::string::npos || o.notes.find(", nor ") == std::string::npos) return;
    // The first entry not reported is none of those reported.
    const int first = std::atoi(o.notes.c_str() + named + 15);
    for (const std::string& p : positions) EXPECT_NE(std::atoi(p.c_str()), first) << o.notes;
  });
  EXPECT_GT(said, 0u);

  // A dump whose list's header is sound: memory that runs out while the
  // header is checked is said as memory, never as damage.
  bytes dump = listed_link();
  dump.resize(4096, 0);
  dump.insert(dump.end(), list.begin(), list.end());
  EXPECT_EQ(run_file(tree, "d.bin", dump).notes, "");
  size_t unchecked = 0;
  each_memory_cut(tree, "d.bin", dump, 300, [&](const outcome& o, int64_t at) {
    EXPECT_EQ(o.notes.find("compound-file header at offset 0x1000: damaged"), std::string::npos)
        << at << o.notes;
    unchecked += o.notes.find(
                     "(compound-file header at offset 0x1000: not checked: out of "
                     "memory)") != std::string::npos;
  });
  EXPECT_GT(unchecked, 0u);

  // A list without its DestList whose link streams are searched: memory
  // that runs out in the search refuses the file for memory, never as a
  // file that is no jump list.
  // Its stream's last sector is moved past a free one, so that reading it
  // takes a copy, which is what memory can cut.
  bytes big = listed_link();
  big.resize(8192, 0);
  cfb_writer bare;
  bare.stream(u"1", big).free_sector(1);
  bytes no_destlist = bare.build();
  const std::vector<uint32_t>& chain = bare.info(u"1").chain;
  const uint32_t last = chain.back(), moved = last + 1;
  std::copy_n(no_destlist.begin() + bare.sector_offset(last), 512,
              no_destlist.begin() + bare.sector_offset(moved));
  auto put_fat = [&](uint32_t sector, uint32_t value) {
    for (int i = 0; i < 4; ++i)
      no_destlist[bare.fat_entry_offset(sector) + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put_fat(chain[chain.size() - 2], moved);
  put_fat(moved, 0xFFFFFFFEu);
  put_fat(last, 0xFFFFFFFFu);
  EXPECT_NE(run_file(tree, "n.automaticDestinations-ms", no_destlist).why, failure::no_destlist);
  each_memory_cut(
      tree, "n.automaticDestinations-ms", no_destlist, 200,
      [](const outcome& o, int64_t at) { EXPECT_NE(o.why, failure::no_destlist) << at; });
}

}  // namespace
}  // namespace vk
