// The structures found inside shell items by a size field and a 32-bit
// signature at a fixed offset, their tests and parsers, and the scanner that
// walks a byte range trying them in a fixed order (scan_extension_blocks,
// declared in shell/idlist.h with the two item parsers that feed it).
//
// Every test takes (first byte, bytes available) and reads nothing before
// its size test passes; every parser takes (ctx, record, p, available,
// settings), reads only [p, p + available) and merges what it finds into the
// record.
#pragma once

#include <cstdint>
#include <ostream>

#include "cmdline/cmd_params.h"
#include "shell/shell_item.h"

namespace vk {

// ---- structure tests ----
bool is_0a291cf0_block(const uint8_t* p, int64_t available);
bool is_cfsf_block(const uint8_t* p, int64_t available);
bool is_07192006_block(const uint8_t* p, int64_t available);
bool is_10312005_block(const uint8_t* p, int64_t available);
// The inner form (size at 0, signature at 2) and the outer form (4 bytes in
// front: inner length at 4, signature at 6).
bool is_08312006_block(const uint8_t* p, int64_t available);
bool is_08312006_item(const uint8_t* p, int64_t available);
bool is_f5a6b710_block(const uint8_t* p, int64_t available);
bool is_augm_block(const uint8_t* p, int64_t available);
bool is_untyped_block(const uint8_t* p, int64_t available);
bool is_c001b000_block(const uint8_t* p, int64_t available);

// ---- structure parsers ----
bool parse_0a291cf0_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts);
bool parse_cfsf_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t available,
                      const cmd_params& opts);
bool parse_07192006_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts);
bool parse_10312005_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts);
// The inner 0x08312006 form.
bool parse_three_string_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                              int64_t available, const cmd_params& opts);
// The outer 0x08312006 form: item flag 0x800, then the inner form at p + 4.
bool parse_08312006_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts);
bool parse_f5a6b710_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts);
bool parse_augm_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t available,
                      const cmd_params& opts);
// Bytes taken: the GUID data, its padding and the 0xBEEF run behind it. The
// count may exceed available when the GUID data already does; the scanner
// then ends.
int32_t parse_sized_record_with_offsets(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                                        int64_t available, const cmd_params& opts);
bool parse_untyped_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                         int64_t available, const cmd_params& opts);
bool parse_c001b000_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts);

// p non-null, available non-zero and an autolist entry at p.
bool is_autolist_entry_nonnull(const uint8_t* p, int64_t available);

// A diagnostic dump of the ID list at p (its u16 size counts): its path text
// and, in brackets, its details, written to out. The list's size, or 0.
uint32_t idlist_debug_text(const uint8_t* p, int64_t size, std::ostream& out, uint64_t file_offset,
                           bool skip_marker_items, const cmd_params& opts);

}  // namespace vk
