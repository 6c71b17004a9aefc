// The shell-item ID-list walk, the item dispatcher, the item parsers, the
// 0xBEEF extension blocks and the shell-item structure tests.
//
// Every parser takes (item, context, record, data, available, settings):
// data is the structure's first byte and available the bytes from there to
// the end of what the caller may read; no byte outside [data, data +
// available) is ever read, and nothing writes into the input.
#pragma once

#include <cstdint>

#include "cmdline/cmd_params.h"
#include "foundation/vk_parse_fault.h"
#include "shell/shell_item.h"

namespace vk {

// The list's bytes end with its terminator. The first place, at an offset
// from p, where the items do not fill the list up to it goes to the
// context's sink (faults_to, take_stop: shell/parse_ctx.h), or to fault when
// one is given: the walk stopped at an item running past the list, an item
// size below 5 or the parse guard's budget spent, or it read on past a zero
// size before the end, zeros or one byte between the last item and the end,
// or a last item with no terminator after it. Nothing when the items fill
// the list.
bool parse_idlist(shell_item_list& out, const uint8_t* p, int64_t size, bool keep_raw,
                  bool skip_marker_items, parse_ctx& ctx, const cmd_params& opts,
                  parse_fault* fault = nullptr);
// Parses one item into rec; 0 only for a null item or fewer than 3 bytes.
// step_out (when given) receives the bytes the walk steps over: the item's
// size, or 20 for the short root-folder form.
uint32_t parse_shell_item(shell_item_record& rec, const uint8_t* item, int64_t available,
                          bool keep_raw, bool skip_marker_items, uint64_t initial_flags,
                          parse_ctx& ctx, const cmd_params& opts, int64_t* step_out = nullptr);
bool find_embedded_item(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t available,
                        const cmd_params& opts);

using item_parser = bool (*)(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                             const uint8_t* p, int64_t available, const cmd_params& opts);
bool parse_type_1e_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);
bool parse_root_folder_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                            const cmd_params&);
bool parse_volume_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                       const cmd_params&);
bool parse_file_entry_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                           const cmd_params&);
// parse_file_entry_item for an item of a file-entry type whose u16 size,
// at least 15, the caller has checked to lie inside the bytes at p.
bool parse_sized_file_entry(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                            const uint8_t* p, int64_t size, const cmd_params& opts);
bool control_panel_category_name(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*,
                                 int64_t, const cmd_params&);
bool parse_type_01_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);
bool parse_type_02_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);
bool parse_type_20_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);
bool parse_type_52_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);
bool parse_control_panel_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*,
                              int64_t, const cmd_params&);
bool parse_network_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);
bool parse_uri_item_short(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                          const cmd_params&);
bool parse_uri_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                    const cmd_params&);
bool parse_delegate_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                         const cmd_params&);
bool parse_type_64_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);
bool parse_94_byte_structure(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*,
                             int64_t, const cmd_params&);
bool parse_type_2c_item(const uint8_t*, parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                        const cmd_params&);

// "Hardward and Sound" and the other category names; "<unk>" above 11.
const char* control_panel_category_text(uint32_t id);

// ---- 0xBEEF extension blocks ----
bool is_beef_block(const uint8_t* p, int64_t available);
bool is_beef_v0_id20_body(const uint8_t* p, int64_t available);
// Bytes taken by one block (0 when there is none at p); merged into record.
int32_t parse_beef_block(shell_item_record& record, const uint8_t* p, int64_t available,
                         parse_ctx& ctx, const cmd_params& opts);
// Total size of the run of blocks walked.
int32_t parse_beef_block_list(shell_item_record& record, const uint8_t* p, int64_t available,
                              parse_ctx& ctx, const cmd_params& opts);

// ---- the embedded-structure scanner (shell/embedded_scan.h) and storages ----
// Tries the known embedded structures at each position of [p, p + available)
// and steps past each; the result of the last structure parser called.
bool scan_extension_blocks(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                           int64_t available, const cmd_params& opts);
bool scan_root_folder_item(parse_ctx& ctx, shell_item_record& rec, const uint8_t* item,
                           int64_t available, const cmd_params& opts);
bool parse_type_2e_item(parse_ctx& ctx, shell_item_record& rec, const uint8_t* item,
                        int64_t available, const cmd_params& opts);
bool is_embedded_property_storage(const uint8_t* p, int64_t available);
bool parse_storage_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                         int64_t available, const cmd_params& opts);
// UTF-16 strings of 3 or more characters in raw bytes, each keyed by the
// property header found in front of it, filed into out (emptied first); a
// non-null fmtid is the only header test. True when out is not empty.
bool scan_string_properties(const uint8_t* p, int64_t size, property_value_map& out,
                            const guid* fmtid, parse_ctx& ctx);

// ---- shell-item tests: (p, available) ----
bool is_type_1e_item(const uint8_t* p, int64_t available);
bool is_root_folder_item(const uint8_t* p, int64_t available);
bool is_root_folder_item_with_data(const uint8_t* p, int64_t available);
bool is_type_71_item(const uint8_t* p, int64_t available);
bool is_control_panel_category_item(const uint8_t* p, int64_t available);
bool is_type_01_item(const uint8_t* p, int64_t available);
bool is_type_02_item(const uint8_t* p, int64_t available);
bool is_volume_item(const uint8_t* p, int64_t available);
bool is_type_52_body(const uint8_t* p, int64_t available);
bool is_type_64_item(const uint8_t* p, int64_t available);
bool is_network_item(const uint8_t* p, int64_t available);
bool is_network_type_item(const uint8_t* p, int64_t available);
// An item type byte (a record's item_type) of the network items.
bool is_network_type_byte(uint16_t type);
bool is_file_entry_item(const uint8_t* p, int64_t available);
bool is_94_byte_structure(const uint8_t* p, int64_t available);
bool is_string_named_value(const uint8_t* p, int64_t available);
bool is_lpwstr_value(const uint8_t* p, int64_t available);

}  // namespace vk
