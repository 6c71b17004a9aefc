// Hostile ID lists: shapes that drive the walk into deep recursion, repeated
// work or reads past an item, and their truncations (their mutations are the
// idlist and shell_item fuzz targets' work). Under the sanitizers any read
// outside the input fails the run; the parse guard bounds depth and work.
#include <gtest/gtest.h>

#include <new>

#include "default_params.h"
#include "shell/idlist.h"
#include "shell/parse_ctx.h"
#include "shell_hostile_inputs.h"

namespace vk {
namespace {

using namespace vesk_test;

const bytes_t& k_guid = hostile_guid();

bool walk(const bytes_t& in, shell_item_list& out) {
  parse_ctx ctx;
  return parse_idlist(out, in.data(), static_cast<int64_t>(in.size()), false, false, ctx,
                      default_params());
}

bytes_t nested_1e(int depth) {
  bytes_t inner = {0, 0};
  for (int d = 0; d < depth; ++d) inner = shell_item(0x1E, cat({{0}, k_guid, inner}));
  return cat({inner, {0, 0}});
}

size_t max_depth(const shell_item_list& list) {
  size_t deepest = 0;
  for (const auto& r : list) deepest = std::max(deepest, 1 + max_depth(r.children));
  return deepest;
}

// A root-folder item with a run of 8-byte blocks of an unknown kind and no
// zero unit, filling a whole item (about 60 KB).
bytes_t unknown_block_run() {
  byte_builder b;
  b.u16(0).u8(0x1F).u8(0x50).bytes(k_guid);
  while (b.size() + 8 + 2 <= 0xEFF0)  // below the 0xF000 entries the walk skips
    b.u16(8).u16(0x4141).u16(0x4141).u16(0xBEEF);
  b.u16(20);
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  return cat({b.take(), {0, 0}});
}

std::vector<bytes_t> fixtures() {
  std::vector<bytes_t> out;
  out.push_back(nested_root_run(40));
  out.push_back(nested_1e(3000));
  out.push_back(idlist({self_pointing_item(0)}));
  out.push_back(idlist({self_pointing_item(10)}));
  out.push_back(idlist({shell_item(0x02, {0, 0, 0, 0, 0})}));
  out.push_back(unknown_block_run());
  return out;
}

TEST(IdListHostile, ShapesEndQuickly) {
  shell_item_list out;
  // 40 chained (0,14) blocks: each nested list ends with its own block.
  ASSERT_TRUE(walk(nested_root_run(40), out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].guids.size(), 1u);
  EXPECT_TRUE(out[0].children.empty());

  ASSERT_TRUE(walk(nested_1e(3000), out));
  EXPECT_LE(max_depth(out), static_cast<size_t>(parse_guard::k_max_depth));
  EXPECT_GE(max_depth(out), 16u);

  for (uint16_t back : {0, 10}) {
    ASSERT_TRUE(walk(idlist({self_pointing_item(back)}), out));
    EXPECT_EQ(out[0].flags & itemflag_found_by_search,
              back ? uint64_t{itemflag_found_by_search} : uint64_t{0});
  }

  ASSERT_TRUE(walk(idlist({shell_item(0x02, {0, 0, 0, 0, 0})}), out));
  EXPECT_EQ(out[0].created, 0u);

  bytes_t nine = cat({beef_block(5, 6, {0x41}), bytes_t(40, 0x41)});
  shell_item_record rec;
  parse_ctx ctx;
  EXPECT_EQ(parse_beef_block(rec, nine.data(), nine.size(), ctx, default_params()), 9);
  EXPECT_TRUE(rec.long_name.empty());

  // The text scans of a run of small unknown blocks are bounded by the work
  // of the whole parse.
  bytes_t run = unknown_block_run();
  int64_t used = 0;
  {
    parse_ctx top_ctx;
    guard_level top(top_ctx, static_cast<int64_t>(run.size()));
    ASSERT_TRUE(parse_idlist(out, run.data(), static_cast<int64_t>(run.size()), false, false,
                             top_ctx, default_params()));
    used = top_ctx.guard->used();
    EXPECT_LE(used, top_ctx.guard->budget());
  }
  EXPECT_GT(used, 0);
}

// Where the items do not fill the list up to its terminator the walk says
// which item and why, and keeps the items it read: before a stop, and past
// a size that frames the rest wrongly (it reads on). libfwsi refuses every
// list here that stops ("invalid shell item size value out of bounds") and
// ends a list at its first terminator, reading one item of the list with
// zeros between items; that one and the stray byte are the marks a shrunk
// or grown item size leaves. An item no parser reads is kept but said,
// whether or not the fallbacks' search finds something in it.
TEST(IdListHostile, ItemsNotFillingTheListNameTheItem) {
  const bytes_t root = shell_item(0x1F, cat({{0x50}, k_guid}));
  const bytes_t body(17, 0x41);
  // A file entry whose type byte became one no parser knows: its extension
  // block is still found by the search.
  bytes_t unknown_type =
      file_entry_item(0x32, 1, 0x5865, 0x3904, 0x20, "v.txt",
                      file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904, u"v.txt", 0x1234, 2));
  unknown_type[2] = 0xD0;
  // An item that is a whole property storage (type 0x00: the size's third
  // byte), and one whose value declares 4 bytes fewer than its text takes.
  const bytes_t stored = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"a.doc"))});
  bytes_t misframed = stored;
  misframed[24] = static_cast<uint8_t>(misframed[24] - 4);
  // A root folder whose 0xBEEF0010 block holds a storage (8 bytes, the
  // storage, the block's offset in the item), as written or damaged; and one
  // whose first value is a PNG file's first bytes, no ID list.
  auto stored_in_block = [&](const bytes_t& in_block, int block_size = -1) {
    const bytes_t block = cat({bytes_t(8, 0), in_block, {20, 0}});
    return shell_item(0x1F, cat({{0x50}, k_guid, beef_block(0, 16, block, block_size)}));
  };
  const bytes_t in_block = stored_in_block(stored);
  bytes_t no_type = stored;
  no_type[33] = 0x50;
  const bytes_t png = from_hex("89504e470d0a1a0a0000000d49484452");
  constexpr const char* k_inside =
      "a property storage or ID list inside it is damaged; not read in full";
  // A type 0x00 item whose scan steps from a record with offsets (its b of
  // 4) onto two storages, back to back.
  auto scanned = [&](const bytes_t& first) {
    return shell_item(
        0x00,
        cat({{0, 0x20, 0, 0xBB, 0xAF, 0x93, 0x3B, 0x9F, 0, 4, 0, 0, 0, 0, 0}, first, stored}));
  };
  // A file entry whose extension block's signature, or its version, or the
  // offset the item ends with (its first block's) was changed.
  auto file_entry = [](size_t at, uint16_t value) {
    bytes_t block = versioned_file_extension(9, u"Downloads", u"@shell32.dll,-21798");
    if (at < block.size()) {
      block[at] = static_cast<uint8_t>(value);
      block[at + 1] = static_cast<uint8_t>(value >> 8);
    }
    bytes_t item = file_entry_item(0x31, 0, 0x5A21, 0x6000, 0x10, "DOWNLO~1", block);
    if (at >= block.size()) {
      item[item.size() - 2] = static_cast<uint8_t>(value);
      item[item.size() - 1] = static_cast<uint8_t>(value >> 8);
    }
    return item;
  };
  // Its block declaring a size, the item's offset of it kept.
  auto sized_block = [&](uint16_t size) {
    bytes_t item = file_entry(0, 108);
    const size_t at = item[item.size() - 2] | (item[item.size() - 1] << 8);
    item[at] = static_cast<uint8_t>(size);
    item[at + 1] = static_cast<uint8_t>(size >> 8);
    return item;
  };
  constexpr const char* k_no_block =
      "the offset of its first 0xBEEF block points at none; its blocks not read";
  // An item of 0xF000 bytes or more: a file entry whose extension holds a
  // long name of 30,800 characters, which libfwsi reads.
  const bytes_t huge =
      file_entry_item(0x31, 0, 0x5A21, 0x6000, 0x10, "LONG~1.TXT",
                      versioned_file_extension(9, std::u16string(30800, u'a'), u""));
  const struct {
    const char* what;
    bytes_t list;
    size_t items;
    const char* cause;  // null: the items fill the list
  } cases[] = {
      {"size 1", idlist({root, shell_item(0x32, body, 1), root}), 1, "item size below 5 bytes"},
      {"size 2", idlist({root, shell_item(0x32, body, 2), root}), 1, "item size below 5 bytes"},
      {"size 3", idlist({root, shell_item(0x32, body, 3), root}), 1, "item size below 5 bytes"},
      {"size 4", idlist({root, shell_item(0x32, body, 4), root}), 1, "item size below 5 bytes"},
      {"three bytes of size 32 left", cat({root, {32, 0, 0x32}}), 1,
       "item size runs past the ID list"},
      {"terminated", idlist({root}), 1, nullptr},
      {"terminated twice", idlist({root, idlist({})}), 1,
       "zeros between the last item and the terminator"},
      {"two terminators between items", cat({root, {0, 0}, idlist({root})}), 2,
       "item size zero before the list's end"},
      {"one byte left", cat({root, {7}}), 1, "one byte left after the last item"},
      {"no terminator", root, 1, "no terminator at the list's end"},
      {"a size 2 for the terminator", cat({root, {2, 0}}), 1, "no terminator at the list's end"},
      {"an item no parser reads", idlist({root, shell_item(0x99, bytes_t(17, 0)), root}), 3,
       "item of no known form; not read"},
      {"an item of 0xF000 bytes or more", idlist({root, huge, root}), 2,
       "item of 0xF000 bytes or more; not read"},
      {"an item of an unknown type", idlist({root, unknown_type, root}), 3,
       "item of an unknown type; read by search only"},
      {"an item holding a storage", idlist({root, stored, root}), 3, nullptr},
      {"an item holding a misframed storage", idlist({root, misframed, root}), 3, k_inside},
      {"a storage in a 0xBEEF0010 block", idlist({root, in_block, root}), 3, nullptr},
      {"a PNG's bytes in a 0xBEEF0010 storage",
       idlist({root,
               stored_in_block(storage(storage_fmtid_b725(), {int_value(2, 65, blob_data(png))})),
               root}),
       3, nullptr},
      {"a 0xBEEF0010 storage of size 0",
       idlist({root, stored_in_block(storage(storage_fmtid_b725(), {}, true, 0)), root}), 3,
       k_inside},
      {"a 0xBEEF0010 block of size 0", idlist({root, stored_in_block(stored, 0), root}), 3,
       k_inside},
      {"a 0xBEEF0010 storage's value of no type", idlist({root, stored_in_block(no_type), root}), 3,
       k_inside},
      {"scanned storages", idlist({root, scanned(stored), root}), 3, nullptr},
      {"a scanned storage of size 0",
       idlist({root, scanned(storage(storage_fmtid_b725(), {}, true, 0)), root}), 3, k_inside},
      {"a scanned storage's value of no type", idlist({root, scanned(no_type), root}), 3, k_inside},
      {"a file entry's extension block", idlist({root, file_entry(0, 108)}), 2, nullptr},
      {"a file entry's extension block of signature 0xBEFF0004",
       idlist({root, file_entry(6, 0xBEFF)}), 2, k_no_block},
      {"a file entry's first block offset moved by 2", idlist({root, file_entry(200, 22)}), 2,
       k_no_block},
      {"a file entry's first block offset past the item", idlist({root, file_entry(200, 600)}), 2,
       k_no_block},
      {"a file entry's first block offset made 0", idlist({root, file_entry(200, 0)}), 2,
       "the offset of its first 0xBEEF block is 0, yet a block follows its name; its blocks not "
       "read"},
      {"a file entry's extension block of size 40", idlist({root, sized_block(40)}), 2,
       "0xBEEF0004 block shorter than its version's fixed fields; the fields past its end not "
       "read"},
      {"a file entry's localized-name offset made 0", idlist({root, file_entry(36, 0)}), 2,
       "0xBEEF0004 localized-name offset is 0, yet a name follows the long name; not read"},
      {"a file entry's extension block of version 0", idlist({root, file_entry(2, 0)}), 2,
       "0xBEEF0004 block of version 0 laid out as a file entry's; its names not read"},
      {"a file entry's extension block of version 10", idlist({root, file_entry(2, 10)}), 2,
       "0xBEEF0004 block of a version no layout has; its names not read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    shell_item_list out;
    parse_ctx ctx;
    parse_fault fault;
    parse_idlist(out, c.list.data(), static_cast<int64_t>(c.list.size()), false, false, ctx,
                 default_params(), &fault);
    EXPECT_EQ(out.size(), c.items);
    if (!c.cause) {
      EXPECT_FALSE(fault);
      continue;
    }
    ASSERT_TRUE(fault);
    EXPECT_STREQ(fault.structure, "shell item");
    EXPECT_EQ(fault.offset, root.size());
    EXPECT_STREQ(fault.cause, c.cause);
  }
  {
    // A carved link's walk passes type 0x00 items by on purpose.
    const bytes_t marker = idlist({root, shell_item(0x00, bytes_t(30, 0)), root});
    shell_item_list out;
    parse_ctx ctx;
    parse_fault fault;
    parse_idlist(out, marker.data(), static_cast<int64_t>(marker.size()), false, true, ctx,
                 default_params(), &fault);
    EXPECT_FALSE(fault);
  }
  // The same stops land in the sink the context is handed, at its base;
  // a caller's own fault takes the stop instead, and a walk nested in an
  // item (a list inside a 0x1E item, damaged as the first case) leaves its
  // stop to the walk entered. Memory that runs out under a guarded call
  // with the context is said in its scratch's sink.
  const bytes_t damaged = cases[0].list;
  const bytes_t nesting = idlist({shell_item(0x1E, cat({{0}, k_guid, damaged}))});
  const struct {
    const char* what;
    const bytes_t& list;
    bool caller_fault;
    size_t kept;
    uint64_t offset;
  } sunk[] = {
      {"stop", damaged, false, 1, 0x100 + root.size()},
      {"stop, the caller's fault", damaged, true, 0, 0},
      {"stop of a nested walk", nesting, false, 0, 0},
      {"read whole", cases[5].list, false, 0, 0},
  };
  for (const auto& c : sunk) {
    SCOPED_TRACE(c.what);
    shell_item_list out;
    fault_sink sink;
    parse_ctx ctx;
    parse_fault own;
    {
      const faults_to to(ctx, sink, 0x100);
      parse_idlist(out, c.list.data(), static_cast<int64_t>(c.list.size()), false, false, ctx,
                   default_params(), c.caller_fault ? &own : nullptr);
    }
    EXPECT_EQ(ctx.stop, nullptr);
    EXPECT_EQ(static_cast<bool>(own), c.caller_fault);
    ASSERT_EQ(sink.size(), c.kept);
    if (c.kept) {
      EXPECT_EQ(sink[0].offset, c.offset);
      EXPECT_STREQ(sink[0].cause, "item size below 5 bytes");
    }
    EXPECT_FALSE(sink.out_of_memory());
  }
  fault_sink sink;
  shell_scratch scratch;
  scratch.faults = &sink;
  parse_ctx ctx;
  ctx.scratch = &scratch;
  EXPECT_FALSE(guarded(
      ctx, []() -> bool { throw std::bad_alloc(); }, [] { return false; }));
  EXPECT_EQ(sink.out_of_memory_count(), 1u);
  EXPECT_TRUE(sink.empty());
}

void run_one(const bytes_t& in, bool walk_only = false) {
  shell_item_list out;
  walk(in, out);
  if (walk_only) return;
  shell_item_record rec;
  parse_ctx ctx;
  parse_shell_item(rec, in.data(), static_cast<int64_t>(in.size()), true, false, 0, ctx,
                   default_params());
  parse_beef_block_list(rec, in.data(), static_cast<int64_t>(in.size()), ctx, default_params());
}

TEST(IdListHostile, EveryTruncation) {
  // Every truncation through the walk; through the single-item entry points
  // (whose fallbacks search the bytes given) every 97th of the large ones.
  for (const bytes_t& in : fixtures())
    for (size_t len = 0; len <= in.size(); ++len)
      run_one(bytes_t(in.begin(), in.begin() + len), in.size() > 4096 && len % 97 != 0);
  for (const bytes_t& in : small_hostile_idlists())
    for (size_t len = 0; len <= in.size(); ++len) run_one(bytes_t(in.begin(), in.begin() + len));
}

}  // namespace
}  // namespace vk
