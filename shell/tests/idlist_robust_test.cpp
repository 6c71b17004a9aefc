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

// Where the walk stops before the list's end it says which item and why;
// the zeros that end a list, and a byte too few to hold a size, are no
// item. The items before the stop are kept. libfwsi refuses every list
// here that gets a fault ("invalid shell item size value out of bounds")
// and reads the terminated list and the one with a stray byte as one item
// each (it ends a list at its first terminator; this walk goes on past
// runs of zeros).
TEST(IdListHostile, WalkStoppingShortNamesTheItem) {
  const bytes_t root = shell_item(0x1F, cat({{0x50}, k_guid}));
  const bytes_t body(17, 0x41);
  const struct {
    const char* what;
    bytes_t list;
    size_t items;
    const char* cause;  // null: the walk read the list
  } cases[] = {
      {"size 1", idlist({root, shell_item(0x32, body, 1), root}), 1, "item size below 5 bytes"},
      {"size 2", idlist({root, shell_item(0x32, body, 2), root}), 1, "item size below 5 bytes"},
      {"size 3", idlist({root, shell_item(0x32, body, 3), root}), 1, "item size below 5 bytes"},
      {"size 4", idlist({root, shell_item(0x32, body, 4), root}), 1, "item size below 5 bytes"},
      {"two bytes of size 2 left", cat({root, {2, 0}}), 1, "item size below 5 bytes"},
      {"three bytes of size 32 left", cat({root, {32, 0, 0x32}}), 1,
       "item size runs past the ID list"},
      {"terminated", idlist({root}), 1, nullptr},
      {"two terminators between items", cat({root, {0, 0}, idlist({root})}), 2, nullptr},
      {"one byte left", cat({root, {7}}), 1, nullptr},
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
      {"read whole", cases[6].list, false, 0, 0},
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
