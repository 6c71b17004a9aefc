#include "shell/item_carving.h"

#include <optional>

#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_time.h"
#include "shell/idlist.h"

namespace vk {

namespace {

// A field of the item at a possibly negative position, when wholly inside.
std::optional<uint64_t> field_at(byte_view buf, int64_t pos, int width) {
  if (pos < 0 || static_cast<uint64_t>(pos) > buf.size()) return std::nullopt;
  const size_t at = static_cast<size_t>(pos);
  if (width == 2) return buf.u16(at);
  if (width == 4) return buf.u32(at);
  return buf.u8(at);
}

void take_modified(shell_item_record& rec, byte_view buf, int64_t item) {
  auto date = field_at(buf, item + 8, 2);
  auto clock = field_at(buf, item + 10, 2);
  if (!date || !clock || *date == 0) return;
  rec.modified = dos_filetime(static_cast<uint16_t>(*date), static_cast<uint16_t>(*clock));
}

// The item named by the extension block whose signature tail is at hit.
void carve_one(parse_guard* guard, std::vector<shell_item_record>& out, const uint8_t* buffer,
               uint32_t size, byte_view buf, uint64_t hit, const cmd_params& settings) {
  if (hit <= 4) return;
  const int64_t block = static_cast<int64_t>(hit) - 5;
  const uint16_t block_size = buf.u16_or_zero(static_cast<size_t>(block));
  // The back-offset ends the block; a block too short for it, or running
  // past the buffer, names no item.
  if (block_size < 2 || block + block_size > static_cast<int64_t>(size)) return;
  const int64_t item = block - buf.u16_or_zero(static_cast<size_t>(block + block_size - 2));
  shell_item_record rec;
  if (item > 0) {
    take_modified(rec, buf, item);
    auto file_size = field_at(buf, item + 4, 4);
    if (file_size && *file_size) rec.size = static_cast<uint32_t>(*file_size);
    auto attributes = field_at(buf, item + 12, 1);
    rec.is_directory =
        ((attributes && (*attributes & 0x10)) || (file_size && *file_size == 0)) ? 1 : 0;
  } else if (item + 4 >= 0) {
    auto file_size = field_at(buf, item + 4, 4);
    if (file_size && *file_size) rec.size = static_cast<uint32_t>(*file_size);
    take_modified(rec, buf, item);
  } else if (item + 8 >= 0) {
    take_modified(rec, buf, item);
  }
  parse_ctx ctx;
  ctx.guard = guard;
  parse_beef_block(rec, buffer + block, static_cast<int64_t>(size) - block, ctx, settings);
  out.push_back(std::move(rec));
}

}  // namespace

bool carve_file_entry_items(std::vector<shell_item_record>& out, const uint8_t* buffer,
                            uint32_t size, const cmd_params& settings) {
  if (!buffer || size == 0) return false;
  // One budget for every block of the buffer, so that many signatures
  // cannot each start a full-size parse.
  parse_ctx top;
  guard_level level(top, size);
  if (!level) return false;
  std::vector<uint64_t> hits;
  if (!find_pattern_vector_offsets(buffer, size, {0x00, 0xEF, 0xBE}, hits, 0, false)) return false;
  const byte_view buf(buffer, size);
  // Signatures were found: the result stays true even when a record cannot be kept.
  return guarded(
      [&] {
        for (uint64_t hit : hits) carve_one(top.guard, out, buffer, size, buf, hit, settings);
        return true;
      },
      [] { return true; });
}

bool parse_cfsf_item(const uint8_t* header, parse_ctx& ctx, shell_item_record& record,
                     const uint8_t* data, uint32_t size, const cmd_params& settings) {
  if (!data || size == 0 || !is_cfsf_header(header, size)) return false;
  guard_level level(ctx, size);
  if (!level) return true;
  guarded(
      ctx,
      [&] {
        const byte_view v(data, size);
        std::string name;
        read_ansi(ctx.guard, v, 20, size, name);
        if (!name.empty()) record.names.push_back(name);
        auto first = v.u16(0);
        if (!first) return;
        const int64_t o = static_cast<int64_t>(*first) + 2;
        if (static_cast<int64_t>(size) - o > 31) {
          ctx.offset = static_cast<uint64_t>(o);
          const uint32_t consumed = ctx.consumed;
          add_item_guid(record, data + o);
          add_item_guid(record, data + o + 16);
          // The run moves the context along as it walks; the item's own count
          // grows by the run's bytes once.
          const int32_t n = parse_beef_block_list(
              record, data + o + 32, static_cast<int64_t>(size) - o - 32, ctx, settings);
          if (n > 0) {
            ctx.offset = static_cast<uint64_t>(o) + static_cast<uint64_t>(n);
            ctx.consumed = consumed + static_cast<uint32_t>(n);
          }
        }
      },
      [] {});
  return true;
}

}  // namespace vk
