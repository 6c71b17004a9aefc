// Two readers of shell items outside an ID list: file-entry items carved
// from raw bytes by their 0xBEEF extension blocks, and the CFSF item.
#pragma once

#include <cstdint>
#include <vector>

#include "cmdline/cmd_params.h"
#include "shell/shell_item.h"

namespace vk {

// One record per 0xBEEF signature found (beyond offset 4) whose block's
// last u16, the distance back to its file-entry item, lies inside the
// buffer: the item's size, DOS modification time and directory flag where
// they lie inside the buffer, then the block itself. True when any
// signature was found.
bool carve_file_entry_items(std::vector<shell_item_record>& out, const uint8_t* buffer,
                            uint32_t size, const cmd_params& settings);

// A CFSF item: its 8-bit name at +20 (ended at size), the two GUIDs after
// the u16 at 0 plus 2, and the extension blocks behind them. False for null
// data, size 0 or a failed header test.
bool parse_cfsf_item(const uint8_t* header, parse_ctx& ctx, shell_item_record& record,
                     const uint8_t* data, uint32_t size, const cmd_params& settings);

}  // namespace vk
