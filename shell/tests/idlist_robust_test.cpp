// Hostile ID lists: shapes that drive the walk into deep recursion, repeated
// work or reads past an item, their truncations, and seeded mutations. Under
// the sanitizers any read outside the input fails the run; the parse guard
// bounds depth and work.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "idlist_writer.h"
#include "shell/idlist.h"

namespace vk {
namespace {

using namespace vesk_test;

const cmd_params& opts() {
  static const cmd_params params;
  return params;
}

const bytes_t k_guid = from_hex("e04fd020ea3a6910a2d808002b30309d");

bool walk(const bytes_t& in, shell_item_list& out) {
  parse_ctx ctx;
  return parse_idlist(out, in.data(), static_cast<int64_t>(in.size()), false, false, ctx, opts());
}

// A root-folder item whose run holds 40 (0,14) blocks, each carrying at +12
// a root-folder item that reaches the run's end, so that each nested item's
// own run starts at the next block.
bytes_t nested_root_run(int blocks) {
  const size_t run_start = 20, block_size = 32;
  const size_t end = run_start + blocks * block_size + 2;  // the final u16 20
  byte_builder b;
  b.u16(static_cast<uint16_t>(end)).u8(0x1F).u8(0x50).bytes(k_guid);
  for (int k = 0; k < blocks; ++k) {
    size_t at = b.size();
    b.u16(32).u16(0).u16(14).u16(0xBEEF).u32(0);
    b.u16(static_cast<uint16_t>(end - (at + 12))).u8(0x1F).u8(0x50).bytes(k_guid);
  }
  b.u16(20);
  return b.take();
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

// An item of unknown type holding a 0xBEEF block whose back-offset names
// the item itself (0) or a point inside it (later items find the same block).
bytes_t self_pointing(uint16_t back_from_block) {
  byte_builder b;
  b.u16(0).u8(0x99).fill(17, 0x41);
  size_t s = b.size();
  b.u16(12).u16(0x41).u16(0x41).u16(0xBEEF).u16(0).u16(static_cast<uint16_t>(s - back_from_block));
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  return b.take();
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
  out.push_back(idlist({self_pointing(0)}));
  out.push_back(idlist({self_pointing(10)}));
  out.push_back(idlist({shell_item(0x02, {0, 0, 0, 0, 0})}));
  out.push_back(unknown_block_run());
  return out;
}

std::vector<bytes_t> small_seeds() {
  std::vector<bytes_t> out;
  out.push_back(from_hex(
      "5a00320034120000215a00602000544553542e5458540000420009000400efbe215a0060225a00002e00"
      "0000341200000000050000000000000000000000000000000000000074006500730074002e0074007800"
      "740000001800"));
  out.push_back(
      idlist({shell_item(0x1F, cat({{0x50}, k_guid})),
              shell_item(0x2F, cat({{'C', ':', '\\'}, bytes_t(19, 0)})),
              from_hex("20004100805c5c7365727665725c7368617265006465736300636f6d6d000000")}));
  out.push_back(idlist({self_pointing(10), shell_item(0x02, bytes_t(60, 0x41))}));
  out.push_back(idlist({nested_root_run(3)}));
  byte_builder uri;
  uri.u16(0)
      .u8(0x61)
      .fill(11)
      .u64(1)
      .fill(20)
      .u32(3)
      .ascii("abc")
      .u32(2)
      .ascii("de")
      .u32(3)
      .ascii("ftp")
      .fill(4);
  uri.put_u16(0, static_cast<uint16_t>(uri.size()));
  byte_builder beefs;
  beefs.u32(0).u64(133802064000000000ull).u64(1);
  bytes_t blocks =
      cat({beef_block(0, 37, beefs.take()), beef_block(5, 6, cat({utf16z(u"nm"), bytes_t(6, 0)})),
           beef_block(0, 20, bytes_t(70, 0x20)), beef_block(3, 4, bytes_t(40, 0x30)),
           beef_block(5, 11,
                      cat({bytes_t(8, 0), utf16z(u"x"), {1, 0}, utf16z(u"yy"), bytes_t(40, 0x42)})),
           beef_block(0, 8, bytes_t(696, 0x43))});
  out.push_back(idlist({uri.take(), shell_item(0x1F, cat({{0x50}, k_guid, blocks, {20, 0}}))}));
  out.push_back(idlist(
      {shell_item(0x71, cat({{0, 0, 0}, bytes_t(8, 0), k_guid, beef_block(0, 3, bytes_t(16, 7))})),
       shell_item(0x01, cat({{0, 0x84, 0x21, 0xDE, 0x39, 2, 0, 0, 0}})),
       shell_item(0x74, cat({{0, 0, 0}, bytes_t(40, 0x21)})), shell_item(0x52, bytes_t(60, 0x01)),
       shell_item(0x36, bytes_t(40, 0x61))}));
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
    ASSERT_TRUE(walk(idlist({self_pointing(back)}), out));
    EXPECT_EQ(out[0].flags & itemflag_found_by_search,
              back ? uint64_t{itemflag_found_by_search} : uint64_t{0});
  }

  ASSERT_TRUE(walk(idlist({shell_item(0x02, {0, 0, 0, 0, 0})}), out));
  EXPECT_EQ(out[0].created, 0u);

  bytes_t nine = cat({beef_block(5, 6, {0x41}), bytes_t(40, 0x41)});
  shell_item_record rec;
  parse_ctx ctx;
  EXPECT_EQ(parse_beef_block(rec, nine.data(), nine.size(), ctx, opts()), 9);
  EXPECT_TRUE(rec.long_name.empty());

  // The text scans of a run of small unknown blocks are bounded by the work
  // of the whole parse.
  bytes_t run = unknown_block_run();
  int64_t used = 0;
  {
    parse_ctx top_ctx;
    guard_level top(top_ctx, static_cast<int64_t>(run.size()));
    ASSERT_TRUE(parse_idlist(out, run.data(), static_cast<int64_t>(run.size()), false, false,
                             top_ctx, opts()));
    used = top_ctx.guard->used();
    EXPECT_LE(used, top_ctx.guard->budget());
  }
  EXPECT_GT(used, 0);
}

void run_one(const bytes_t& in, bool walk_only = false) {
  shell_item_list out;
  walk(in, out);
  if (walk_only) return;
  shell_item_record rec;
  parse_ctx ctx;
  parse_shell_item(rec, in.data(), static_cast<int64_t>(in.size()), true, false, 0, ctx, opts());
  parse_beef_block_list(rec, in.data(), static_cast<int64_t>(in.size()), ctx, opts());
}

TEST(IdListHostile, TruncationsAndMutations) {
  // Every truncation through the walk; through the single-item entry points
  // (whose fallbacks search the bytes given) every 97th of the large ones.
  for (const bytes_t& in : fixtures())
    for (size_t len = 0; len <= in.size(); ++len)
      run_one(bytes_t(in.begin(), in.begin() + len), in.size() > 4096 && len % 97 != 0);
  auto seeds = small_seeds();
  for (const bytes_t& in : seeds)
    for (size_t len = 0; len <= in.size(); ++len) run_one(bytes_t(in.begin(), in.begin() + len));
  std::mt19937 rng(1515);
  for (int i = 0; i < 100'000; ++i) run_one(mutate(seeds[i % seeds.size()], rng, 1 + i % 5));
}

}  // namespace
}  // namespace vk
