// Memory of an ID-list walk against its input: whatever shapes the bytes
// take (many tiny items, deep nesting, long block runs, items that search
// their own bytes), the heap bytes a walk asks for stay within a constant
// times the input.
#include <gtest/gtest.h>

#include "alloc_hook.h"
#include "idlist_writer.h"
#include "shell/idlist.h"

namespace vk {
namespace {

using namespace vesk_test;

const bytes_t k_guid = from_hex("e04fd020ea3a6910a2d808002b30309d");

struct usage {
  size_t bytes, blocks, items;
};

usage walk_counted(const bytes_t& in) {
  static const cmd_params opts;
  shell_item_list out;
  parse_ctx ctx;
  heap::scope counted;
  parse_idlist(out, in.data(), static_cast<int64_t>(in.size()), false, false, ctx, opts);
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
  } shapes[] = {
      {"tiny unknown items", repeat(shell_item(0x99, {0x41, 0x41}), 60000)},
      {"tiny empty type 0x00 items", repeat(shell_item(0x00, {0, 0}), 60000)},
      {"root folders", repeat(shell_item(0x1F, cat({{0x50}, k_guid})), 60000)},
      {"file entries with names",
       repeat(file_entry_item(0x32, 1, 0x5A21, 0, 0x20, "name.txt",
                              file_entry_extension(0, 0x5A21, 0, 0x5A21, 0, u"long name.txt", 7, 1)),
              60000)},
      {"nested 0x1E lists", cat({nested, {0, 0}})},
      {"a run of empty blocks", cat({blocks, {0, 0}})},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.what);
    const usage u = walk_counted(shape.in);
    EXPECT_GT(u.items, 0u);
    // A record takes a few hundred bytes for an item of at least 5; the
    // texts of blocks of unknown kind may run on over the following bytes,
    // and those reads are held to the parse's work bound per input byte.
    EXPECT_LE(u.bytes, 400 * shape.in.size() + 65536) << u.bytes << " for " << shape.in.size();
    EXPECT_LE(u.blocks, shape.in.size() / 2 + 64) << u.blocks << " for " << shape.in.size();
  }
}

}  // namespace
}  // namespace vk
