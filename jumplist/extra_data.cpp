#include "jumplist/extra_data.h"

#include <array>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "jumplist/base85.h"
#include "jumplist/lnk_names.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/parse_ctx.h"
#include "shell/property_store.h"

namespace vk {

namespace {

// Layout of the three 788-byte blocks.
constexpr size_t kAnsiField = 8;
constexpr size_t kAnsiFieldSize = 260;
constexpr size_t kWideField = 268;
constexpr size_t kWideFieldSize = 520;
constexpr size_t kTextBlockSize = 788;

// Tracker block layout.
constexpr size_t kTrackerSize = 96;
constexpr size_t kMachineId = 16;
constexpr size_t kMachineIdSize = 16;
constexpr size_t kVolumeDroid = 32;
constexpr size_t kObjectDroid = 48;
constexpr size_t kBirthVolumeDroid = 64;
constexpr size_t kBirthObjectDroid = 80;
constexpr size_t kDroidNode = 10;  // the MAC address: the last six bytes

constexpr uint32_t kMaxStorageSize = 16383;
constexpr size_t kMaxShimUnits = 500;

uint16_t block_size16(const uint8_t* block) {
  return load_le16(block);
}

// The common form of every kind test but the Vista ID list's.
template <class SizeRule>
bool is_kind(const uint8_t* block, int64_t remaining, uint32_t signature, SizeRule rule) {
  if (!is_extra_data_block(block, remaining)) return false;
  const uint16_t size = block_size16(block);
  return rule(size) && load_le16(block + 4) == (signature & 0xFFFF) &&
         load_le16(block + 6) == 0xA000;
}

bool exactly(uint16_t size, uint16_t want) {
  return size == want;
}

std::string ansi_text(const uint8_t* p, size_t max) {
  std::string out;
  read_ansi(byte_view(p, max), 0, static_cast<int64_t>(max), out);
  return out;
}

std::string wide_text(const uint8_t* p, size_t max_bytes) {
  std::string out;
  utf16_to_utf8(p, max_bytes, out, false);
  return out;
}

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

size_t droid_at(bool birth, bool object) {
  if (object) return birth ? kBirthObjectDroid : kObjectDroid;
  return birth ? kBirthVolumeDroid : kVolumeDroid;
}

std::string droid_text(const uint8_t* droid) {
  if (all_zero(droid, 16)) return std::string();
  guid g;
  g.set(droid);
  return guid_to_string(g);
}

void take_tracker(lnk_record& rec, const uint8_t* block) {
  rec.m_machine_id = tracker_machine_id(block);
  rec.m_mac_address = tracker_mac_address(block, false);
  rec.m_birth_mac_address = tracker_mac_address(block, true);
  rec.m_volume_droid = tracker_volume_id(block, false);
  rec.m_object_droid = tracker_object_id(block, false);
  rec.m_birth_volume_droid = tracker_volume_id(block, true);
  rec.m_birth_object_droid = tracker_object_id(block, true);
  rec.m_object_droid_time = tracker_object_time(block, false);
  rec.m_birth_object_droid_time = tracker_object_time(block, true);
  rec.m_object_droid_bytes.insert(rec.m_object_droid_bytes.end(), block + kObjectDroid,
                                  block + kObjectDroid + 16);
}

std::string known_folder_text(const uint8_t* block) {
  guid g;
  g.set(block + 8);
  return guid_to_string(g);
}

bool darwin_descriptor(const uint8_t* block, std::string& product, std::string& feature,
                       std::string& component) {
  product.clear();
  feature.clear();
  component.clear();
  const uint8_t* wide = block + kWideField;
  std::string text = wide[0] != 0 && wide[1] == 0 ? wide_text(wide, kWideFieldSize)
                                                  : ansi_text(block + kAnsiField, kAnsiFieldSize);
  constexpr size_t kMin = 22;
  if (text.size() < kMin) {
    text = ansi_text(block + kAnsiField, kAnsiFieldSize);
    if (text.size() < kMin) return false;
  }
  std::array<uint32_t, 4> words{};
  const bool product_ok = darwin_guid_decode(text, words);
  product = darwin_words_text(words);
  size_t delim = text.find('>', 20);
  if (delim == std::string::npos) delim = text.find('<', 20);
  if (delim == std::string::npos) return false;
  feature = text.substr(20, delim - 20);
  // The component code is the 20 characters after the delimiter, when they
  // are all there.
  if (delim + 21 > text.size()) return product_ok;
  words = {};
  const bool component_ok = darwin_guid_decode(std::string_view(text).substr(delim + 1), words);
  component = darwin_words_text(words);
  return product_ok && component_ok;
}

bool property_store_body(lnk_record& rec, const uint8_t* block, int64_t size, parse_ctx& ctx,
                         const cmd_params& opts) {
  skip_item_header(block, ctx);
  const uint64_t block_offset = ctx.offset;
  shell_item_record scratch;
  // Only inside the accepted block, and only while a storage size fits.
  int64_t pos = 8;
  while (size - pos >= 4) {
    const uint32_t storage = load_le32(block + pos);
    if (storage == 0 || storage > kMaxStorageSize || storage >= size - pos) break;
    ctx.offset = block_offset + static_cast<uint64_t>(pos);
    parse_property_storages(ctx, scratch, block + pos, storage, opts);
    pos += storage;
  }
  std::vector<std::string> parsing_names, primary_names;
  collect_property_texts(scratch, parsing_names, primary_names, rec.m_property_keys,
                         rec.m_property_values, opts, false);
  return true;
}

bool vista_idlist_body(lnk_record& rec, const uint8_t* block, int64_t size, parse_ctx& ctx,
                       const cmd_params& opts) {
  ctx.consumed = 0;
  ctx.offset += 8;
  shell_item_list items;
  if (!parse_idlist(items, block + 8, size - 8, false, false, ctx, opts)) return false;
  std::string path, extra;
  std::vector<std::string> details;
  uint64_t modified = 0, accessed = 0, created = 0;
  idlist_text(path, extra, details, modified, accessed, created, opts, items);
  rec.m_vista_idlist_path = std::move(path);
  if (!extra.empty()) rec.m_vista_idlist_extra = std::move(extra);
  if (!details.empty()) rec.m_vista_idlist_details = std::move(details);
  return true;
}

}  // namespace

bool is_extra_data_block(const uint8_t* block, int64_t remaining) {
  if (!block || remaining < 8) return false;
  const uint16_t size = block_size16(block);
  return size >= 8 && size <= remaining && block[2] == 0;
}

bool is_environment_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, environment_block_signature,
                 [](uint16_t s) { return exactly(s, kTextBlockSize); });
}
bool is_console_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, console_block_signature,
                 [](uint16_t s) { return exactly(s, 204); });
}
bool is_tracker_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, tracker_block_signature,
                 [](uint16_t s) { return exactly(s, kTrackerSize); });
}
bool is_console_fe_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, console_fe_block_signature,
                 [](uint16_t s) { return exactly(s, 12); });
}
bool is_special_folder_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, special_folder_block_signature,
                 [](uint16_t s) { return s >= 16; });
}
bool is_darwin_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, darwin_block_signature,
                 [](uint16_t s) { return exactly(s, kTextBlockSize); });
}
bool is_icon_environment_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, icon_environment_block_signature,
                 [](uint16_t s) { return exactly(s, kTextBlockSize); });
}
bool is_shim_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, shim_block_signature, [](uint16_t s) { return s >= 136; });
}
bool is_property_store_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, property_store_block_signature,
                 [](uint16_t s) { return s >= 46; });
}
bool is_known_folder_block(const uint8_t* block, int64_t remaining) {
  return is_kind(block, remaining, known_folder_block_signature,
                 [](uint16_t s) { return s >= 28; });
}
bool is_vista_idlist_block(const uint8_t* block, int64_t remaining) {
  if (!block || remaining < 8) return false;
  const uint32_t size = load_le32(block);
  return size >= 8 && size <= remaining && load_le32(block + 4) == vista_idlist_block_signature;
}

std::string environment_target_text(const uint8_t* block) {
  return guarded([&] {
    std::string text = wide_text(block + kWideField, kWideFieldSize);
    if (text.empty()) text = ansi_text(block + kAnsiField, kAnsiFieldSize);
    return text;
  });
}

std::string icon_environment_text(const uint8_t* block) {
  return guarded([&] {
    if (block[kWideField + 1] != 0) return ansi_text(block + kAnsiField, kAnsiFieldSize);
    return wide_text(block + kWideField, kWideFieldSize);
  });
}

std::string shim_layer_text(const uint8_t* block, int64_t size) {
  if (!block || size < 10 || block[9] != 0) return std::string();
  const size_t room = static_cast<size_t>(size - 8);
  return guarded([&] { return wide_text(block + 8, std::min(room, 2 * kMaxShimUnits)); });
}

bool parse_darwin_descriptor(const uint8_t* block, std::string& product, std::string& feature,
                             std::string& component) {
  return guarded([&] { return darwin_descriptor(block, product, feature, component); });
}

std::string tracker_machine_id(const uint8_t* block) {
  return guarded([&] { return ansi_text(block + kMachineId, kMachineIdSize); });
}

std::string tracker_mac_address(const uint8_t* block, bool birth) {
  const uint8_t* droid = block + droid_at(birth, true);
  if (all_zero(droid, 16)) return std::string();
  static constexpr char kHex[] = "0123456789abcdef";
  char text[17];
  size_t n = 0;
  for (size_t i = 0; i < 6; ++i) {
    if (i) text[n++] = ':';
    text[n++] = kHex[droid[kDroidNode + i] >> 4];
    text[n++] = kHex[droid[kDroidNode + i] & 0xF];
  }
  return guarded([&] { return std::string(text, n); });
}

std::string tracker_volume_id(const uint8_t* block, bool birth) {
  return guarded([&] { return droid_text(block + droid_at(birth, false)); });
}

std::string tracker_object_id(const uint8_t* block, bool birth) {
  return guarded([&] { return droid_text(block + droid_at(birth, true)); });
}

uint64_t tracker_object_time(const uint8_t* block, bool birth) {
  return guarded([&] {
    uint64_t ticks = 0;
    uint16_t clock_sequence = 0;
    std::vector<uint8_t> node;
    guid_v1_to_filetime(ticks, clock_sequence, node, block + droid_at(birth, true));
    return ticks;
  });
}

bool parse_property_store_block(lnk_record& record, const uint8_t* block, int64_t size,
                                parse_ctx& ctx, const cmd_params& opts) {
  if (!block || size < 8) return false;
  return guarded([&] { return property_store_body(record, block, size, ctx, opts); });
}

bool parse_vista_idlist_block(lnk_record& record, const uint8_t* block, int64_t size,
                              parse_ctx& ctx, const cmd_params& opts) {
  if (!block || size < 8) return false;
  return guarded([&] { return vista_idlist_body(record, block, size, ctx, opts); });
}

size_t walk_extra_data(lnk_record& rec, const uint8_t* data, size_t size, size_t off,
                       uint64_t link_offset, parse_ctx& ctx, const cmd_params& opts) {
  // A block must end before the end of the data: a stored link ends with
  // the terminal block.
  while (off + 8 < size) {
    const uint8_t* block = data + off;
    const int64_t remaining = static_cast<int64_t>(size - off);
    const uint16_t s = block_size16(block);
    if (off + s >= size || !is_extra_data_block(block, remaining)) break;
    ctx.offset = link_offset + off;
    const auto at = static_cast<uint32_t>(off);
    if (is_environment_block(block, remaining)) {
      rec.m_environment_offset = at;
      rec.m_environment_target = environment_target_text(block);
      if (rec.m_environment_target.find('\r') != std::string::npos) {
        rec.m_environment_target.clear();
        break;
      }
    } else if (is_console_block(block, remaining)) {
      rec.m_console_offset = at;
    } else if (is_tracker_block(block, remaining)) {
      rec.m_tracker_offset = at;
      guarded([&] { take_tracker(rec, block); });
    } else if (is_console_fe_block(block, remaining)) {
      rec.m_console_fe_offset = at;
      rec.m_code_page = load_le32(block + 8);
    } else if (is_special_folder_block(block, remaining)) {
      rec.m_special_folder_offset = at;
      rec.m_special_folder_id = load_le32(block + 8);
      assign_text(rec.m_special_folder_name, csidl_name(rec.m_special_folder_id));
    } else if (is_darwin_block(block, remaining)) {
      rec.m_darwin_offset = at;
      parse_darwin_descriptor(block, rec.m_darwin_product, rec.m_darwin_feature,
                              rec.m_darwin_component);
    } else if (is_icon_environment_block(block, remaining)) {
      rec.m_icon_environment_offset = at;
      rec.m_icon_environment = icon_environment_text(block);
    } else if (is_shim_block(block, remaining)) {
      rec.m_shim_offset = at;
      rec.m_shim_layer = shim_layer_text(block, s);
    } else if (is_property_store_block(block, remaining)) {
      rec.m_property_store_offset = at;
      parse_property_store_block(rec, block, s, ctx, opts);
    } else if (is_property_storage(block, remaining)) {
      rec.m_property_storage_offset = at;
      guarded([&] { property_storage_fmtid_text(block, ctx, rec.m_property_storage_fmtid); });
    } else if (is_known_folder_block(block, remaining)) {
      rec.m_known_folder_offset = at;
      rec.m_known_folder_id = guarded([&] { return known_folder_text(block); });
    } else if (is_vista_idlist_block(block, remaining)) {
      rec.m_vista_idlist_offset = at;
      parse_vista_idlist_block(rec, block, load_le32(block), ctx, opts);
    }
    off += s;
  }
  return off;
}

}  // namespace vk
