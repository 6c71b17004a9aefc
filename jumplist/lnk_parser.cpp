#include "jumplist/lnk_parser.h"

#include <cstdio>
#include <cstring>

#include "foundation/uni_fileio.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"
#include "jumplist/extra_data.h"
#include "jumplist/lnk_names.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/parse_ctx.h"

namespace vk {

namespace {

constexpr size_t kIdListAt = 76;
constexpr size_t kFirstItemAt = 78;
constexpr uint32_t kMaxLinkInfoSize = 1279;
constexpr uint32_t kMaxNetTextOffset = 2048;

bool has_line_feed(const std::string& text) {
  return text.find('\n') != std::string::npos;
}

void drop_if_line_feed(std::string& text) {
  if (has_line_feed(text)) text.clear();
}

// NUL-terminated 8-bit text; ends at the end of the data.
std::string text_z(const uint8_t* p, size_t available) {
  std::string out;
  read_ansi(byte_view(p, available), 0, static_cast<int64_t>(available), out);
  return out;
}

std::string network_text(const uint8_t* link, size_t available, size_t field) {
  if (!link || available < field + 4) return std::string();
  const uint32_t at = load_le32(link + field);
  const uint32_t link_size = load_le32(link);
  if (at == 0 || at >= link_size || at >= kMaxNetTextOffset || at >= available)
    return std::string();
  return text_z(link + at, available - at);
}

// A LinkInfo offset field: the structure's position when it is positive and
// the structure starts at least `room` bytes before the end of the data.
bool link_info_part(const uint8_t* info, size_t field, uint64_t off, uint64_t room, size_t size,
                    uint64_t& at) {
  const int32_t rel = static_cast<int32_t>(load_le32(info + field));
  if (rel <= 0) return false;
  at = off + static_cast<uint64_t>(rel);
  return at + room < size;
}

void read_link_info(lnk_record& rec, const uint8_t* data, size_t size, uint64_t off) {
  const uint8_t* info = data + off;
  uint64_t at = 0;
  if (link_info_part(info, 12, off, 17, size, at)) {
    const uint8_t* volume = data + at;
    rec.m_volume_id_offset = static_cast<uint32_t>(at);
    rec.m_volume_label = volume_label_text(volume, size - at);
    drop_if_line_feed(rec.m_volume_label);
    rec.m_drive_type = drive_type_text(load_le32(volume + 4));
    rec.m_volume_serial = volume_serial_text(load_le32(volume + 8));
  }
  if (link_info_part(info, 20, off, 20, size, at)) {
    rec.m_net_link_offset = static_cast<uint32_t>(at);
    rec.m_net_name = network_net_name(data + at, size - at);
    drop_if_line_feed(rec.m_net_name);
    rec.m_device_name = network_device_name(data + at, size - at);
    drop_if_line_feed(rec.m_device_name);
  }
  if (link_info_part(info, 16, off, 0, size, at)) {
    rec.m_local_path_offset = static_cast<uint32_t>(at);
    if (data[at] != 0) {
      rec.m_local_base_path = text_z(data + at, size - at);
      drop_if_line_feed(rec.m_local_base_path);
    }
  }
  if (link_info_part(info, 24, off, 0, size, at)) {
    rec.m_path_suffix_offset = static_cast<uint32_t>(at);
    if (data[at] != 0) {
      rec.m_common_path_suffix = text_z(data + at, size - at);
      drop_if_line_feed(rec.m_common_path_suffix);
    }
  }
}

void serial_chars(char (&text)[9], uint32_t serial) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0, shift = 28; i < 9; ++i) {
    if (i == 4) {
      text[i] = '-';
      continue;
    }
    text[i] = kHex[(serial >> shift) & 0xF];
    shift -= 4;
  }
}

struct string_data_item {
  uint32_t flag;
  uint32_t lnk_record_fields::*offset;
  std::string lnk_record_fields::*text;
};

constexpr string_data_item kStringData[] = {
    {lnk_has_name, &lnk_record_fields::m_name_offset, &lnk_record_fields::m_name},
    {lnk_has_relative_path, &lnk_record_fields::m_relative_path_offset,
     &lnk_record_fields::m_relative_path},
    {lnk_has_working_dir, &lnk_record_fields::m_working_dir_offset,
     &lnk_record_fields::m_working_dir},
    {lnk_has_arguments, &lnk_record_fields::m_arguments_offset, &lnk_record_fields::m_arguments},
    {lnk_has_icon_location, &lnk_record_fields::m_icon_location_offset,
     &lnk_record_fields::m_icon_location},
};

void dump_link(lnk_dump_settings& dump, const uint8_t* data, uint64_t length,
               uint64_t file_offset) {
  ++dump.lnk_dump_count;
  char name[96];
  std::snprintf(name, sizeof name, "/carvelnk_%04llu_0x%09llx_0x%04llx.bin",
                static_cast<unsigned long long>(dump.lnk_dump_count),
                static_cast<unsigned long long>(file_offset),
                static_cast<unsigned long long>(length));
  uni::fileio out(dump.lnk_dump_dir + name, true);
  if (!out.is_open()) return;
  out.append(data, static_cast<uint32_t>(length));
  out.close();
}

bool parse_body(lnk_record& rec, const uint8_t* data, size_t size, const cmd_params& opts,
                bool carved, uint64_t file_offset, lnk_dump_settings* dump) {
  if (!data || size < lnk_header_size) return false;
  parse_ctx ctx;
  ctx.clear();
  if (size < lnk_header_size + 1 || !is_lnk_header(data, size)) return false;
  rec.m_header = load_lnk_header(data);
  if (size < 82) return false;
  rec.m_idlist_items.clear();

  // One work budget for everything nested below, in proportion to the link.
  guard_level level(static_cast<int64_t>(size));
  const uint32_t flags = rec.m_header.m_lnk_flags;
  const bool unicode = flags & lnk_is_unicode;
  uint64_t off = kIdListAt;

  if (flags & lnk_has_idlist) {
    uint64_t list_size = load_le16(data + kIdListAt);
    if (list_size + kIdListAt >= size) return false;
    off = kFirstItemAt;
    if (load_le16(data + kFirstItemAt) == 0) {
      off = kFirstItemAt + 2;
    } else {
      if (list_size + kFirstItemAt >= size) {
        if (size <= 87) return false;
        list_size = size - kFirstItemAt;
      }
      // A declared size below the terminator's two bytes holds no item.
      bool decoded = false;
      if (list_size >= 2) {
        ctx.offset = file_offset + kFirstItemAt;
        decoded = parse_idlist(rec.m_idlist_items, data + kFirstItemAt,
                               static_cast<int64_t>(list_size - 2), false, carved, ctx, opts);
      }
      if (decoded) {
        idlist_text(rec.m_idlist_path, rec.m_idlist_extra, rec.m_idlist_details,
                    rec.m_idlist_times[0], rec.m_idlist_times[1], rec.m_idlist_times[2], opts,
                    rec.m_idlist_items);
        if (!rec.m_idlist_items.empty()) {
          rec.m_target_mft_entry = rec.m_idlist_items.back().mft_entry;
          rec.m_target_mft_seq = rec.m_idlist_items.back().mft_sequence;
        }
        if (has_line_feed(rec.m_idlist_path)) rec.m_idlist_path = "<corrupted>";
        drop_if_line_feed(rec.m_idlist_extra);
      }
      off = kFirstItemAt + list_size;
    }
  }

  if ((flags & lnk_has_link_info) && off + 28 < size) {
    const uint8_t* info = data + off;
    const uint32_t info_size = load_le32(info);
    const int32_t header_size = static_cast<int32_t>(load_le32(info + 4));
    // A LinkInfo that fails this test is not stepped over: StringData is
    // read from the same position.
    if (info_size > 27 && header_size >= 0 && info_size <= kMaxLinkInfoSize &&
        off + info_size < size) {
      read_link_info(rec, data, size, off);
      off += info_size;
    }
  }

  bool stopped = false;
  for (const auto& item : kStringData) {
    if (!(flags & item.flag)) continue;
    if (off >= size) break;
    rec.*item.offset = static_cast<uint32_t>(off);
    if (off + 2 > size) {
      stopped = true;
      break;
    }
    const uint64_t count = load_le16(data + off);
    const uint64_t end = off + 2 + count * (unicode ? 2 : 1);
    if (end >= size) {
      stopped = true;
      break;
    }
    std::string& text = rec.*item.text;
    text = string_data_text(data + off, size - off, unicode);
    drop_if_line_feed(text);
    off = end;
  }

  if (!stopped) off = walk_extra_data(rec, data, size, off, file_offset, ctx, opts);
  if (off + 4 <= size && load_le32(data + off) == 0) off += 4;
  rec.m_lnk_size = static_cast<uint32_t>(off);

  if (dump && !dump->lnk_dump_dir.empty()) dump_link(*dump, data, off, file_offset);
  return true;
}

}  // namespace

bool is_lnk_header(const uint8_t* p, size_t size) {
  return p && size >= 20 && load_le32(p) == lnk_header_size &&
         std::memcmp(p + 4, lnk_clsid.data(), lnk_clsid.size()) == 0;
}

bool parse_lnk(lnk_record& record, const uint8_t* data, size_t size, const cmd_params& opts,
               bool carved, uint64_t file_offset, lnk_dump_settings* dump) {
  return guarded([&] { return parse_body(record, data, size, opts, carved, file_offset, dump); });
}

std::string network_net_name(const uint8_t* link, size_t available) {
  return guarded([&] { return network_text(link, available, 8); });
}

std::string network_device_name(const uint8_t* link, size_t available) {
  return guarded([&] { return network_text(link, available, 12); });
}

std::string volume_label_text(const uint8_t* volume_id, size_t available) {
  if (!volume_id || available <= 16 || load_le32(volume_id + 12) != 16 || volume_id[16] == 0)
    return std::string();
  return guarded([&] { return text_z(volume_id + 16, available - 16); });
}

std::string volume_serial_text(uint32_t serial) {
  char text[9];
  serial_chars(text, serial);
  return guarded([&] { return std::string(text, sizeof text); });
}

std::ostream& write_volume_serial(std::ostream& out, uint32_t serial) {
  char text[9];
  serial_chars(text, serial);
  return out.write(text, sizeof text);
}

std::string string_data_text(const uint8_t* item, size_t available, bool unicode) {
  if (!item || available < 2) return std::string();
  const size_t count = load_le16(item);
  const size_t bytes = count * (unicode ? 2 : 1);
  if (count == 0 || bytes > available - 2) return std::string();
  return guarded([&] {
    if (unicode) return utf16_to_utf8(item + 2, bytes);
    return text_z(item + 2, bytes);
  });
}

}  // namespace vk
