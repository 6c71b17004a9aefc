// Memory of an ID-list walk against its input: whatever shapes the bytes
// take (many tiny items, deep nesting, long block runs, items that search
// their own bytes), the heap bytes a walk asks for stay within a constant
// times the input.
#include <gtest/gtest.h>

#include <string>

#include "alloc_hook.h"
#include "byte_builder.h"
#include "idlist_writer.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"

namespace vk {
namespace {

using namespace vesk_test;

const bytes_t k_guid = from_hex("e04fd020ea3a6910a2d808002b30309d");

struct usage {
  size_t bytes, blocks, items;
};

// With path, the walk hands its records to the texts in runs, as a link's
// VistaAndAboveIDList does, and the list's path lands there.
usage walk_counted(const bytes_t& in, bool text_records_only = false, std::string* path = nullptr) {
  static const cmd_params opts;
  shell_item_list out;
  parse_ctx ctx;
  ctx.text_records_only = text_records_only;
  heap::scope counted;
  std::string detail_line;
  std::vector<std::string> details;
  uint64_t times[3];
  std::string unused;
  idlist_text_builder text(path ? *path : unused, detail_line, details, times[0], times[1],
                           times[2], opts, ctx.space());
  if (path) ctx.item_runs = &text;
  const bool taken =
      parse_idlist(out, in.data(), static_cast<int64_t>(in.size()), false, false, ctx, opts);
  EXPECT_TRUE(taken);
  EXPECT_FALSE(ctx.text_records_only || ctx.item_runs);  // for one walk only
  if (path) {
    text.take(out.data(), out.size());
    text.finish();
  }
  return {static_cast<size_t>(counted.peak_above_start()),
          static_cast<size_t>(counted.allocations()), out.size()};
}

bytes_t repeat(const bytes_t& item, size_t total) {
  bytes_t out;
  while (out.size() + item.size() + 2 <= total) out.insert(out.end(), item.begin(), item.end());
  out.insert(out.end(), {0, 0});
  return out;
}

TEST(IdListMemory, HeapStaysLinearInTheInput) {
  bytes_t nested = {0, 0};
  for (int d = 0; d < 3000; ++d) nested = shell_item(0x1E, cat({{0}, k_guid, nested}));
  bytes_t blocks = shell_item(0x1F, cat({{0x50}, k_guid}));
  while (blocks.size() < 0xE000) {
    bytes_t b = beef_block(0x4141, 0x4141, {});
    blocks.insert(blocks.end(), b.begin(), b.end());
  }
  blocks.insert(blocks.end(), {20, 0});
  blocks[0] = static_cast<uint8_t>(blocks.size());
  blocks[1] = static_cast<uint8_t>(blocks.size() >> 8);
  const struct {
    const char* what;
    bytes_t in;
    bool text_records_only = false;     // then no record for an item without texts
    const char* path_starts = nullptr;  // texts made as the walk goes: the path's head
  } shapes[] = {
      {"tiny unknown items, texts only", repeat(shell_item(0x99, {0x41, 0x41}), 60000), true},
      {"tiny empty type 0x00 items, texts only", repeat(shell_item(0x00, {0, 0}), 60000), true},
      {"tiny unknown items", repeat(shell_item(0x99, {0x41, 0x41}), 60000)},
      {"tiny empty type 0x00 items", repeat(shell_item(0x00, {0, 0}), 60000)},
      {"root folders", repeat(shell_item(0x1F, cat({{0x50}, k_guid})), 60000)},
      {"root folders, texts in runs", repeat(shell_item(0x1F, cat({{0x50}, k_guid})), 60000), true,
       "{CLSID_MyComputer}\\{CLSID_MyComputer}\\"},
      {"file entries with names",
       repeat(
           file_entry_item(0x32, 1, 0x5A21, 0, 0x20, "name.txt",
                           file_entry_extension(0, 0x5A21, 0, 0x5A21, 0, u"long name.txt", 7, 1)),
           60000)},
      {"nested 0x1E lists", cat({nested, {0, 0}})},
      {"a run of empty blocks", cat({blocks, {0, 0}})},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.what);
    std::string path;
    const usage u =
        walk_counted(shape.in, shape.text_records_only, shape.path_starts ? &path : nullptr);
    // A record takes a few hundred bytes for an item of at least 5; the
    // texts of blocks of unknown kind may run on over the following bytes,
    // and those reads are held to the parse's work bound per input byte.
    // Items that need no record cost none, nor do those whose texts are
    // made as the walk goes: within twice the input.
    if (shape.path_starts) {
      // 2,999 items of 20 bytes, each one name and its backslash.
      EXPECT_TRUE(path.starts_with(shape.path_starts)) << path.substr(0, 80);
      EXPECT_EQ(path.size(), 2999 * 19 - 1);
      EXPECT_LT(u.items, 2999u);
    } else {
      EXPECT_EQ(u.items == 0, shape.text_records_only);
    }
    const size_t per_byte = shape.text_records_only ? 2 : 400;
    EXPECT_LE(u.bytes, per_byte * shape.in.size() + 65536) << u.bytes << " for " << shape.in.size();
    EXPECT_LE(u.blocks, shape.in.size() / 2 + 64) << u.blocks << " for " << shape.in.size();
  }
  // Items each behind zero padding, where a count of the items ahead stops:
  // the list of records still grows geometrically, not an item at a time.
  bytes_t padded;
  for (int i = 0; i < 256; ++i) padded = cat({padded, shell_item(0x99, {0x41, 0x41}), {0, 0}});
  const usage u = walk_counted(padded);
  EXPECT_EQ(u.items, 256u);
  EXPECT_LE(u.blocks, 16u);
}

// Every field a walk fills, as one text per list.
std::string fields(const shell_item_list& list) {
  std::string out;
  auto join = [&](const std::vector<std::string>& v) {
    for (const std::string& s : v) out.append(s).append("|");
    out += ";";
  };
  for (const shell_item_record& r : list) {
    out += r.primary_name + ";" + r.long_name + ";" + r.localized_name + ";" + r.extra_name + ";";
    join(listed_names(r));
    join(r.guid_names);
    join(r.date_texts);
    for (uint64_t n : {uint64_t{r.guids.size()}, uint64_t{r.size}, r.created, r.modified,
                       r.accessed, r.mft_entry, r.flags, uint64_t{r.item_type},
                       uint64_t{r.not_parsed}, uint64_t{r.children.size()}})
      out += std::to_string(n) + ",";
    out += "\n";
  }
  return out;
}

// A walk into records still holding an earlier list parses into their
// storage: a later walk of the same list allocates nothing, and one into
// records of another list gives what a fresh one does.
TEST(IdListMemory, LaterWalksReuseStorage) {
  byte_builder times;
  times.fill(4).u64(132000000000000000u).u64(132100000000000000u).u16(20);  // blocks at 20
  const bytes_t root = shell_item(0x1F, cat({{0x50}, k_guid, beef_block(0, 37, times.take())}));
  auto entry = [](std::string_view short_name, std::u16string_view long_name) {
    return file_entry_item(0x32, 10, 0x5A21, 0, 0x20, short_name,
                           file_entry_extension(0, 0x5A21, 0, 0x5A21, 0, long_name, 7, 1));
  };
  const bytes_t list =
      idlist({root, entry("DOCUME~1", u"Documents and Settings of a user"),
              entry("REPORT~1.TXT", u"report for the second quarter.txt"), entry("A.TXT", u"a")});
  const bytes_t other = idlist({entry("B.TXT", u"b"), root, shell_item(0x99, {1, 2})});
  auto walk = [](shell_item_list& out, const bytes_t& in) {
    static const cmd_params opts;
    parse_ctx ctx;
    return parse_idlist(out, in.data(), static_cast<int64_t>(in.size()), false, false, ctx, opts);
  };
  std::string first;
  {
    shell_item_list warm;
    ASSERT_TRUE(walk(warm, list));
    first = fields(warm);
  }
  for (const char* part : {"DOCUME~1;Documents and Settings of a user;;;DOCUME~1|;;",
                           ";{CLSID_MyComputer}|;Created [guess]: ", " [UTC]|Modified [guess]: "})
    EXPECT_NE(first.find(part), std::string::npos) << part << "\n" << first;
  shell_item_list again;
  for (int round = 0; round < 3; ++round) {
    heap::scope counted;
    ASSERT_TRUE(walk(again, list));
    if (round > 0) {
      EXPECT_EQ(counted.allocations(), 0) << round;
    }
    EXPECT_EQ(fields(again), first);
  }
  shell_item_list used, fresh;
  ASSERT_TRUE(walk(used, list) && walk(used, other) && walk(fresh, other));
  EXPECT_EQ(fields(used), fields(fresh));
  ASSERT_TRUE(walk(used, list));
  EXPECT_EQ(fields(used), first);
}

// With one scratch, the records a structure is parsed into before its merge
// and the records of nested lists come back to it: walks that alternate
// between two such lists allocate at most half of what fresh walks do once
// both were walked (the nested lists' own arrays are still new), and give
// what fresh walks give.
TEST(IdListMemory, LentAndNestedRecordsComeBack) {
  const bytes_t vol = shell_item(0x2F, cat({{'C', ':', '\\'}, bytes_t(19, 0)}));
  const bytes_t lent =  // a type 0x00 item: a sized record, parsed on its own, then merged
      sized_record(26, k_guid, 0, beef_block(0, 3, cat({k_guid, bytes_t(2, 0)})));
  const bytes_t nested = shell_item(0x1E, cat({{0}, k_guid, idlist({vol, vol})}));
  const bytes_t lists[] = {idlist({lent, nested, lent}), idlist({nested, vol, nested, nested})};
  static const cmd_params opts;
  shell_scratch scratch;
  auto walk = [&](shell_item_list& out, const bytes_t& in) {
    parse_ctx ctx;
    ctx.scratch = &scratch;
    return parse_idlist(out, in.data(), static_cast<int64_t>(in.size()), false, false, ctx, opts);
  };
  auto with_children = [](const shell_item_list& list) {
    std::string out = fields(list);
    for (const shell_item_record& r : list) {
      out += '/';
      out += fields(r.children);
    }
    return out;
  };
  std::string fresh[2];
  int64_t fresh_allocations[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    shell_item_list one;
    parse_ctx ctx;
    heap::scope counted;
    ASSERT_TRUE(parse_idlist(one, lists[i].data(), static_cast<int64_t>(lists[i].size()), false,
                             false, ctx, opts));
    fresh_allocations[i] = counted.allocations();
    fresh[i] = with_children(one);
  }
  shell_item_list items;
  for (int round = 0; round < 6; ++round) {
    heap::scope counted;
    ASSERT_TRUE(walk(items, lists[round % 2]));
    if (round >= 2) {
      EXPECT_LE(counted.allocations() * 2, fresh_allocations[round % 2]) << round;
    }
    EXPECT_EQ(with_children(items), fresh[round % 2]) << round;
    ASSERT_EQ(items.size(), round % 2 ? 4u : 3u);
    EXPECT_EQ(items[round % 2 ? 0 : 1].children.size(), 2u) << round;
  }
}

}  // namespace
}  // namespace vk
