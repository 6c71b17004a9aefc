// The ExtraData section of a shell link: the block walk, the size-and-
// signature test of every block kind, and the values each kind carries.
//
// Every test takes the block's first byte and the bytes that remain from it;
// the value readers take a block that has passed its test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cmdline/cmd_params.h"
#include "foundation/vk_bytes.h"
#include "jumplist/link_scratch.h"
#include "jumplist/lnk_layout.h"
#include "jumplist/lnk_record.h"
#include "shell/parse_ctx.h"

namespace vk {

inline constexpr uint32_t environment_block_signature = lnk_layout::signature::environment;
inline constexpr uint32_t console_block_signature = lnk_layout::signature::console;
inline constexpr uint32_t tracker_block_signature = lnk_layout::signature::tracker;
inline constexpr uint32_t console_fe_block_signature = lnk_layout::signature::console_fe;
inline constexpr uint32_t special_folder_block_signature = lnk_layout::signature::special_folder;
inline constexpr uint32_t darwin_block_signature = lnk_layout::signature::darwin;
inline constexpr uint32_t icon_environment_block_signature =
    lnk_layout::signature::icon_environment;
inline constexpr uint32_t shim_block_signature = lnk_layout::signature::shim;
inline constexpr uint32_t property_store_block_signature = lnk_layout::signature::property_store;
inline constexpr uint32_t known_folder_block_signature = lnk_layout::signature::known_folder;
inline constexpr uint32_t vista_idlist_block_signature = lnk_layout::signature::vista_idlist;

// The size of every block of the kind the signature names, when the kind
// has one fixed size; else zero.
uint32_t fixed_block_size(uint32_t signature);

// BlockSize at least 8 and within remaining.
bool is_extra_data_block(const uint8_t* block, int64_t remaining);
bool is_environment_block(const uint8_t* block, int64_t remaining);
bool is_console_block(const uint8_t* block, int64_t remaining);
bool is_tracker_block(const uint8_t* block, int64_t remaining);
bool is_console_fe_block(const uint8_t* block, int64_t remaining);
bool is_special_folder_block(const uint8_t* block, int64_t remaining);
bool is_darwin_block(const uint8_t* block, int64_t remaining);
bool is_icon_environment_block(const uint8_t* block, int64_t remaining);
bool is_shim_block(const uint8_t* block, int64_t remaining);
bool is_property_store_block(const uint8_t* block, int64_t remaining);
bool is_known_folder_block(const uint8_t* block, int64_t remaining);
// The full 32-bit BlockSize at least 8 and within remaining.
bool is_vista_idlist_block(const uint8_t* block, int64_t remaining);

// The three 788-byte blocks: 8-bit text at 8 (260 bytes), UTF-16 at 268
// (520 bytes).
std::string environment_target_text(const uint8_t* block);
std::string icon_environment_text(const uint8_t* block);
// The UTF-16 layer name at 8, within size bytes of the block.
std::string shim_layer_text(const uint8_t* block, int64_t size);
// Product, feature and component of a Darwin block's descriptor; false when
// the descriptor is too short, has no delimiter or fails to decode.
bool parse_darwin_descriptor(const uint8_t* block, std::string& product, std::string& feature,
                             std::string& component);

// TrackerDataBlock values; birth picks the birth droids. Droid texts are ""
// for an all-zero droid; the time is 0 unless the droid is a version-1 GUID.
std::string tracker_machine_id(const uint8_t* block);
std::string tracker_mac_address(const uint8_t* block, bool birth);
std::string tracker_volume_id(const uint8_t* block, bool birth);
std::string tracker_object_id(const uint8_t* block, bool birth);
uint64_t tracker_object_time(const uint8_t* block, bool birth);

// The property storages of a PropertyStoreDataBlock of size bytes, as key
// and value texts appended to the record. block_at, the block's offset in
// its link, places the faults kept in the record.
bool parse_property_store_block(lnk_record& record, const uint8_t* block, int64_t size,
                                parse_ctx& ctx, const cmd_params& opts, link_scratch& scratch,
                                uint64_t block_at = 0);
// The ID list of a VistaAndAboveIDListDataBlock of size bytes, as texts.
bool parse_vista_idlist_block(lnk_record& record, const uint8_t* block, int64_t size,
                              parse_ctx& ctx, const cmd_params& opts, link_scratch& scratch,
                              uint64_t block_at = 0);

// The record keeps a fault of the parse guard's stop.
bool has_work_limit_fault(const lnk_record& rec);

// The offset of the first bytes that read as the header of an extra-data
// block of a known kind whose size fits in bytes; k_no_block_header when
// none do. Bytes past a link's terminal block that hold one are a block its
// walk did not reach.
inline constexpr size_t k_no_block_header = ~size_t{0};
size_t find_block_header(byte_view bytes);

// The offset of the first place in data[first, last) where the header of a
// block of a known kind starts blocks that follow one another by their sizes
// to a terminal block or the data's end; k_no_block_header when none does.
// A text that holds one has eaten blocks: a count or size before it is wrong.
size_t find_block_chain(byte_view data, size_t first, size_t last);

// Walks the blocks of data[off, size) into the record; link_offset is the
// file offset of the link's first byte. Returns the position of the first
// byte that no accepted block covers. Kept in the record as faults: a block
// whose size does not fit the bytes there, a block of a fixed-size kind
// declaring another size (walked by its kind's size when that lands on a
// block and its own does not), a block the walk stepped past (found near a
// place where it met no block, starting a sound walk of its own), bytes
// without a block signature where it lost its step, a block header past the
// terminal block, a small block of a fixed size that ends a larger one's last
// bytes (bytes of the larger lost), and a BlockSize below 4 before a listed
// kind's signature (a size zeroed: read by its kind's size when that lands on
// a block).
size_t walk_extra_data(lnk_record& record, const uint8_t* data, size_t size, size_t off,
                       uint64_t link_offset, parse_ctx& ctx, const cmd_params& opts,
                       link_scratch& scratch);

}  // namespace vk
