// The embedded-structure scanner: its order and steps, each structure's
// edge, and the scanner reached through the ID-list walk.
#include "shell/embedded_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "default_params.h"
#include "idlist_writer.h"
#include "propstore_writer.h"
#include "shell/idlist.h"
#include "shell/property_store.h"

namespace vk {
namespace {

using namespace vesk_test;

const bytes_t k_guid = from_hex("e04fd020ea3a6910a2d808002b30309d");

struct scanned {
  bool ok;
  uint64_t end_offset;
  shell_item_record rec;
};

// The bytes in an exact heap copy, so that any read past them is caught.
scanned scan(const bytes_t& in, size_t available = SIZE_MAX, uint64_t offset = 0x100) {
  scanned s{};
  bytes_t exact(in.begin(), in.begin() + std::min(available, in.size()));
  parse_ctx ctx;
  ctx.offset = offset;
  s.ok = scan_extension_blocks(ctx, s.rec, exact.data(), static_cast<int64_t>(exact.size()),
                               default_params());
  s.end_offset = ctx.offset;
  return s;
}

bool has_name(const shell_item_record& r, const std::string& n) {
  return std::find(r.names.begin(), r.names.end(), n) != r.names.end() || r.long_name == n ||
         r.primary_name == n;
}

bytes_t ninety_four(std::u16string_view a, std::u16string_view b, int extra = 0) {
  byte_builder s;
  s.u16(0).u16(0).u16(0x1234).u16(0xBEEF).pad_to(84).u16(static_cast<uint16_t>(a.size()));
  s.pad_to(88).u16(static_cast<uint16_t>(b.size())).pad_to(92).utf16(a, true).utf16(b, true);
  s.pad_to(100 + 2 * (a.size() + b.size()) + extra);
  s.put_u16(0, static_cast<uint16_t>(s.size()));
  return s.take();
}

TEST(EmbeddedScan, OrderStepsAndEdges) {
  // 8 bytes are not scanned, 9 are; a one-character text gives only its flag.
  bytes_t one_char = cat({untyped_text(u"A", 0, false), {0}});
  ASSERT_EQ(one_char.size(), 9u);
  EXPECT_EQ(scan(one_char, 8).rec.flags, 0u);
  scanned nine = scan(one_char);
  EXPECT_FALSE(nine.ok);
  EXPECT_EQ(nine.rec.flags, uint64_t{itemflag_untyped});
  EXPECT_TRUE(nine.rec.long_name.empty() && nine.rec.names.empty());
  scanned two_chars = scan(untyped_text(u"AB", 2));
  EXPECT_TRUE(two_chars.ok);
  EXPECT_EQ(two_chars.rec.long_name, "AB");
  EXPECT_EQ(two_chars.rec.flags, uint64_t{itemflag_untyped | itemflag_named});

  // A 94-byte structure that is also a 0xBEEF block is the 94-byte one; two
  // bytes more and it is neither.
  bytes_t both = ninety_four(u"long", u"other");
  ASSERT_TRUE(is_beef_block(both.data(), static_cast<int64_t>(both.size())));
  scanned s94 = scan(both);
  EXPECT_TRUE(s94.ok);
  EXPECT_EQ(s94.rec.long_name, "long");
  bytes_t longer = ninety_four(u"long", u"other", 2);
  EXPECT_FALSE(is_94_byte_structure(longer.data(), static_cast<int64_t>(longer.size())));

  // A 0x0A291CF0 structure of 100 bytes is stepped by 10: the text inside is found.
  byte_builder a29;
  a29.u16(100).u16(0).u16(0).u32(0x0A291CF0).bytes(untyped_text(u"inside", 4)).pad_to(100);
  scanned s29 = scan(a29.take());
  EXPECT_TRUE(s29.rec.flags & itemflag_0a291cf0);
  EXPECT_EQ(s29.rec.long_name, "inside");

  // An untyped record whose u16 at 6 is 0xBEEF is read as that block.
  bytes_t beef = cat({beef_block(0, 0, cat({k_guid, k_guid}))});
  scanned sb = scan(beef);
  EXPECT_TRUE(sb.ok);
  EXPECT_EQ(sb.rec.guids.size(), 2u);
  EXPECT_EQ(sb.rec.flags & itemflag_untyped, 0u);

  // 0xC001B000: the first text alone is kept but gives false.
  scanned c0 = scan(c001b000_record(u"first", {}));
  EXPECT_FALSE(c0.ok);
  EXPECT_TRUE(has_name(c0.rec, "first"));
  scanned c1 = scan(c001b000_record(u"first", {u"second"}));
  EXPECT_TRUE(c1.ok);
  EXPECT_TRUE(has_name(c1.rec, "second"));

  // A sized record finds its 0xBEEF run behind three bytes of padding.
  bytes_t run = beef_block(0, 3, cat({k_guid, bytes_t(2, 0)}));
  bytes_t sized = sized_record(26, k_guid, 3, run);
  shell_item_record rec;
  parse_ctx ctx;
  EXPECT_EQ(parse_sized_record_with_offsets(ctx, rec, sized.data(),
                                            static_cast<int64_t>(sized.size()), default_params()),
            static_cast<int32_t>(14 + 16 + 3 + run.size()));
  EXPECT_EQ(rec.guids.size(), 2u);
  EXPECT_TRUE(rec.flags & itemflag_sized_record);
}

TEST(EmbeddedScan, StructureParsers) {
  // CFSF: size, time, directory bit, name, and its 0xBEEF run.
  bytes_t cfsf = cfsf_record(0x10, 1234, 0x5A21, 0x6000, "report.txt",
                             beef_block(0, 3, cat({k_guid, bytes_t(2, 0)})));
  scanned sc = scan(cfsf);
  EXPECT_TRUE(sc.ok);
  EXPECT_EQ(sc.rec.primary_name, "report.txt");
  EXPECT_EQ(sc.rec.size, 1234u);
  EXPECT_EQ(sc.rec.is_directory, 1);
  EXPECT_NE(sc.rec.modified, 0u);
  EXPECT_EQ(sc.rec.guids.size(), 1u);
  EXPECT_TRUE(sc.rec.flags & itemflag_cfsf);
  // Its inner length equal to its size, at the buffer's end: the step would
  // pass the end, so the scan stops there with the offset it had.
  bytes_t at_end = cfsf_record(0, 1, 0, 0, "x");
  at_end[4] = at_end[0], at_end[5] = at_end[1];
  scanned se = scan(at_end);
  EXPECT_EQ(se.rec.primary_name, "x");
  EXPECT_EQ(se.end_offset, 0x100u);

  // Three-string structures: their strings, flags and property lists.
  byte_builder list;
  list.u32(13).bytes(k_guid).u32(1).bytes(storage_fmtid_b725()).u32(10).u16(19).u16(0).u32(7);
  const bytes_t plist = list.take();
  struct form {
    uint32_t signature;
    bool outer;
    uint64_t flag;
  } forms[] = {{0x07192006, true, itemflag_07192006},
               {0x10312005, true, itemflag_10312005},
               {0x08312006, true, itemflag_08312006},
               {0x08312006, false, 0}};
  for (const form& f : forms) {
    SCOPED_TRACE(f.signature + f.outer);
    bytes_t in = three_string_record(f.signature, f.outer, u"one", u"two", u"three", plist);
    scanned s = scan(in);
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(s.rec.names, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(s.rec.flags, f.flag);
    size_t dwords = 0;
    for (const auto& [k, v] : s.rec.properties) dwords += v.number == 7;
    EXPECT_EQ(dwords, 1u);
  }
  // The outer 0x08312006 form sets the offset to 3: its key texts do not
  // depend on where it lies.
  bytes_t outer = three_string_record(0x08312006, true, u"a", u"b", u"c", plist);
  EXPECT_EQ(scan(outer, SIZE_MAX, 0).rec.properties.begin()->first,
            scan(outer, SIZE_MAX, 0x5000).rec.properties.begin()->first);

  // 0xF5A6B710: the GUID at k + 6, the item at 10 and the list behind it
  // (which the GUID overlaps).
  bytes_t root = shell_item(0x1F, cat({{0x50}, k_guid}));
  scanned sf = scan(f5a6b710_record(root, idlist({root})));
  EXPECT_TRUE(sf.ok);
  EXPECT_TRUE(sf.rec.flags & itemflag_f5a6b710);
  EXPECT_EQ(sf.rec.guids.size(), 2u);
  ASSERT_EQ(sf.rec.embedded_lists.size(), 1u);
  EXPECT_EQ(sf.rec.embedded_lists[0].size(), 1u);

  // AugM: the first item is merged, later ones become children; a count of
  // 0xFFFFFFFF allocates nothing by it; a first item past the bytes fails.
  bytes_t f1 = file_entry_item(0x32, 10, 0x5A21, 0x6000, 0x20, "a.txt");
  bytes_t f2 = file_entry_item(0x32, 20, 0x5A21, 0x6000, 0x20, "b.txt");
  scanned sa = scan(augm_record(0xFFFFFFFF, {f1, f2, f2}));
  EXPECT_TRUE(sa.ok);
  EXPECT_EQ(sa.rec.primary_name, "a.txt");
  ASSERT_EQ(sa.rec.children.size(), 2u);
  EXPECT_EQ(sa.rec.children[1].primary_name, "b.txt");
  bytes_t far = augm_record(1, {f1});
  far[8] = 0xF0, far[9] = far[10] = far[11] = 0xFF;
  scanned sfar = scan(far);
  EXPECT_FALSE(sfar.ok);
  EXPECT_EQ(sfar.rec.flags, 0u);

  // Untyped time record: its time, 8-bit name and text.
  scanned st = scan(untyped_time(3, 133802064000000000ull, "name", u"text"));
  EXPECT_EQ(st.rec.created, 133802064000000000ull);
  EXPECT_EQ(st.rec.primary_name, "name");
  EXPECT_EQ(st.rec.long_name, "text");

  // A step of 0 (an inner length of 0) ends the scan: the text behind is
  // not reached.
  bytes_t zero_c001 = c001b000_record(u"", {});
  zero_c001[8] = zero_c001[9] = 0;
  zero_c001[20] = 0;
  bytes_t zero_inner = three_string_record(0x07192006, true, u"a", u"b", u"c");
  zero_inner[4] = zero_inner[5] = 0;
  for (const bytes_t& zero_step : {zero_c001, zero_inner}) {
    scanned sz = scan(cat({zero_step, untyped_text(u"behind", 2)}));
    EXPECT_TRUE(sz.rec.long_name.empty());
  }
}

TEST(EmbeddedScan, ThroughTheWalk) {
  const cmd_params& o = default_params();
  auto walk = [&](const bytes_t& list) {
    shell_item_list out;
    parse_ctx ctx;
    bytes_t exact(list);
    parse_idlist(out, exact.data(), static_cast<int64_t>(exact.size()), false, false, ctx, o);
    return out;
  };
  // A type 0x00 item that is one (0,37) block: two guessed times.
  auto timed = walk(idlist({from_hex("1c0000002500efbe000000000020efae445cdb0100002444a95cdb01")}));
  ASSERT_EQ(timed.size(), 1u);
  EXPECT_EQ(timed[0].not_parsed, 0);
  ASSERT_EQ(timed[0].date_texts.size(), 2u);
  for (const auto& t : timed[0].date_texts) EXPECT_NE(t.find("[guess]"), std::string::npos);

  // An item that is a whole storage (its type byte is the size's third byte).
  bytes_t whole = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"Inner.doc"))});
  auto stored = walk(idlist({whole}));
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].properties.count("inner.doc"), 1u);

  // An AugM item with a count of 0xFFFFFFFF: its items, nothing by the count.
  bytes_t f1 = file_entry_item(0x32, 10, 0x5A21, 0x6000, 0x20, "a.txt");
  auto augm = walk(idlist({augm_record(0xFFFFFFFF, {f1, f1})}));
  ASSERT_EQ(augm.size(), 1u);
  EXPECT_EQ(augm[0].primary_name, "a.txt");
  EXPECT_EQ(augm[0].children.size(), 1u);

  // Type 0x2E and 0x1F items scan their bytes.
  bytes_t t2e = shell_item(0x2E, cat({{0x80}, k_guid, untyped_text(u"in 2e", 2), {0, 0}}));
  auto s2e = walk(idlist({t2e}));
  ASSERT_EQ(s2e.size(), 1u);
  EXPECT_EQ(s2e[0].guids.size(), 1u);
  EXPECT_EQ(s2e[0].long_name, "in 2e");
  bytes_t root = sized_record(26, k_guid, 0, beef_block(0, 3, cat({k_guid, bytes_t(2, 0)})));
  root[2] = 0x1F;
  auto s1f = walk(idlist({root}));
  ASSERT_EQ(s1f.size(), 1u);
  EXPECT_EQ(s1f[0].not_parsed, 0);
  EXPECT_EQ(s1f[0].guids.size(), 2u);

  // The diagnostic dump walks the first item and writes its text.
  bytes_t list = idlist({f1});
  std::ostringstream dump;
  EXPECT_EQ(idlist_debug_text(list.data(), static_cast<int64_t>(list.size()), dump, 0, false, o),
            f1.size());
  EXPECT_NE(dump.str().find("a.txt"), std::string::npos);
}

}  // namespace
}  // namespace vk
