#include "jumplist/record_report.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cmdline/path_alias.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_time.h"
#include "jumplist/idlist_breakout.h"
#include "jumplist/lnk_names.h"
#include "jumplist/record_rows.h"
#include "shell/file_attributes.h"

namespace vk {
namespace {

constexpr uint32_t k_max_mru_position = 99998;

bool valid_filetime(uint64_t ticks, time& t) {
  if (ticks == 0) return false;
  t = time(ticks, type_time::filetime);
  return t.valid() && t.m_calendar.m_year >= 1900 && t.m_calendar.m_year <= 3000;
}

// "<date> <time> [UTC]" appended; false (nothing appended) for no valid time.
bool append_date_time(std::string& out, uint64_t ticks, const time_format_settings& settings) {
  if (!append_filetime_text(out, ticks, settings.m_descriptor)) return false;
  out += " [UTC]";
  return true;
}

// "0x%08x [%u<unit>]".
void append_hex_and_decimal(std::string& out, uint64_t value, std::string_view unit) {
  append_hex_number_text(out, value, true, 8);
  out += " [";
  append_decimal(out, value);
  out += unit;
  out += ']';
}

bool present(std::string_view s) { return !s.empty() && s[0] != '\0'; }

void line(std::string& out, std::string_view label, std::string_view value) {
  out += label;
  out += value;
  out += '\n';
}

// A labelled date-and-time line; false (nothing written) for no valid time.
bool date_line(std::string& out, std::string_view label, uint64_t ticks,
               const time_format_settings& settings) {
  const size_t mark = out.size();
  out += label;
  if (!append_date_time(out, ticks, settings)) {
    out.resize(mark);
    return false;
  }
  out += '\n';
  return true;
}

void with_orig(std::string& out, std::string_view label, std::string_view value,
               std::string_view orig) {
  out += label;
  out += value;
  if (!orig.empty() && orig != value) {
    out += " [orig: ";
    out += orig;
    out += ']';
  }
  out += '\n';
}

void numbered(std::string& out, std::string_view label, const std::vector<std::string>& entries) {
  out += label;
  if (entries.size() == 1) {
    out += entries[0];
    out += '\n';
    return;
  }
  out += '\n';
  for (size_t i = 0; i < entries.size(); ++i) {
    out += " [";
    append_decimal(out, i + 1);
    out += "] ";
    out += entries[i];
    out += '\n';
  }
}

// The source file's three times are the same for every record of a file:
// their lines are made once and kept while the values and layout stay.
struct file_time_lines {
  uint64_t ticks[3] = {0, 0, 0};
  uint32_t layout = 0;
  bool made = false;
  std::string text;
};

const std::string& source_time_lines(const lnk::useropts& o) {
  thread_local file_time_lines cache;
  const uint64_t ticks[3] = {o.m_source_modify_time, o.m_source_access_time,
                             o.m_source_change_time};
  const uint32_t layout = o.m_time_settings.m_descriptor.as_u32();
  if (cache.made && cache.layout == layout && std::equal(ticks, ticks + 3, cache.ticks))
    return cache.text;
  static const char* const labels[3] = {"file modified:            ",
                                        "file accessed:            ",
                                        "file stats changed:       "};
  cache.text.clear();
  for (size_t i = 0; i < 3; ++i) {
    cache.text += labels[i];
    append_date_time(cache.text, ticks[i], o.m_time_settings);
    cache.text += '\n';
    cache.ticks[i] = ticks[i];
  }
  cache.layout = layout;
  cache.made = true;
  return cache.text;
}

// The labelled block of one record, built whole in out.
void text_block(std::string& out, const lnk_record& r, const lnk::useropts& o,
                const std::array<uint64_t, 3>& target) {
  const time_format_settings& ts = o.m_time_settings;
  const bool hex = o.m_hex_numbers != 0;
  const bool offsets = o.m_carve_mode || o.m_show_offset;

  line(out, "source path/filename:     ", shown_source_text(o));
  if (r.m_file_offset != 0 && offsets) {
    out += "file offset:              ";
    append_hex_number_text(out, r.m_file_offset, hex, 8);
    out += '\n';
  }
  if (o.m_automatic_list || o.m_custom_list) {
    out += "AppID:                    ";
    append_record_appid_text(out, o);
    out += '\n';
  }
  if (o.m_automatic_list) {
    if (r.m_from_free_space) {
      line(out, "MRU/MFU/Stream# data:     ", "not avail - parsed from slack space");
    } else {
      const uint32_t position = static_cast<uint32_t>(r.m_mru_position);
      out += "MRU/MFU index:            ";
      if (position <= k_max_mru_position)
        append_decimal(out, position);
      else
        out += "not available for this record";
      out += "\nstream #:                 ";
      append_decimal(out, r.m_entry_num);
      out += "\nMRU time:                 ";
      append_date_time(out, r.m_mru_time, ts);
      out += '\n';
      if (r.m_has_access_count) {
        out += "Interaction count:        ";
        append_decimal(out, r.m_access_count);
        out += '\n';
      }
    }
  }
  out += source_time_lines(o);
  if (o.m_show_target_mft && r.m_target_mft_entry != 0) {
    out += "MFT Entry:                ";
    append_hex_number_text(out, r.m_target_mft_entry, hex, 8);
    out += "\nMFT Sequence#:            ";
    append_hex_number_text(out, r.m_target_mft_seq, hex, 4);
    out += '\n';
  }
  const lnk_header& h = r.m_header;
  out += "Target flags:             ";
  append_link_flags_names(out, h.m_lnk_flags);
  out += '\n';
  if (h.m_file_attributes) {
    out += "Target attributes:        ";
    append_file_attributes_text(out, h.m_file_attributes, "; ");
    out += '\n';
  } else
    line(out, "Target attributes:        ", "not specified");
  static constexpr std::string_view target_labels[3] = {"Target modified:          ",
                                               "Target accessed:          ",
                                               "Target created:           "};
  for (size_t i = 0; i < 3; ++i)
    if (!date_line(out, target_labels[i], target[i], ts)) line(out, target_labels[i], "not available");
  date_line(out, "Target ObjID time:        ", r.m_object_droid_time, ts);
  if (r.m_birth_object_droid_time != 0 && r.m_birth_object_droid_time != r.m_object_droid_time) {
    out += "Target ObjID time [orig]: ";
    append_date_time(out, r.m_birth_object_droid_time, ts);
    out += '\n';
  }
  if (offsets) {
    out += "File offset:              ";
    append_hex_and_decimal(out, r.m_file_offset, "");
    out += '\n';
  }
  out += "Parsed size:              ";
  append_hex_and_decimal(out, r.m_lnk_size, " bytes");
  out += "\nTarget file size:         ";
  append_hex_and_decimal(out, h.m_file_size, " bytes");
  out += '\n';
  const std::string_view show = show_command_name(h.m_show_cmd);
  if (show != "unk") {
    out += "Show cmd:                 [";
    out += show;
    out += "]\n";
  }
  if (present(r.m_idlist_path)) line(out, "ID List:                  ", r.m_idlist_path);
  if (!r.m_idlist_details.empty()) numbered(out, "Embedded ID List info:    ", r.m_idlist_details);

  struct labelled {
    std::string_view label;
    std::string_view value;
  };
  const labelled link_info[] = {
      {"Volume Type:              ", r.m_drive_type},
      {"Volume serial num:        ", r.m_volume_serial},
      {"Volume label:             ", r.m_volume_label},
      {"Network name:             ", r.m_net_name},
      {"Device name:              ", r.m_device_name},
      {"Local base path:          ", r.m_local_base_path},
      {"Common path:              ", r.m_common_path_suffix},
      {"Description:              ", r.m_name},
  };
  for (const auto& l : link_info)
    if (present(l.value)) line(out, l.label, l.value);
  const labelled strings[] = {
      {"Relative path:            ", r.m_relative_path},
      {"Working directory:        ", r.m_working_dir},
      {"Cmdline args:             ", r.m_arguments},
      {"Icon filename:            ", r.m_icon_location},
      {"Icon environ name:        ", r.m_icon_environment},
      {"Environment DataBlk:      ", r.m_environment_target},
      {"Special Folder ID:        ", r.m_special_folder_name},
      {"Known Folder ID:          ", r.m_known_folder_id},
  };
  for (const auto& l : strings)
    if (!l.value.empty()) line(out, l.label, l.value);
  if (!r.m_machine_id.empty())
    line(out, "NETBIOS name:             ", r.m_machine_id);
  else if (o.m_automatic_list && !r.m_netbios_name.empty())
    line(out, "NETBIOS name:             ", r.m_netbios_name);
  if (!r.m_volume_droid.empty())
    with_orig(out, "Volume ID:                ", r.m_volume_droid, r.m_birth_volume_droid);
  if (!r.m_vista_idlist_path.empty())
    line(out, "VistaAndAboveIDList:      ", r.m_vista_idlist_path);
  if (!r.m_vista_idlist_details.empty())
    numbered(out, "VistaAndAboveIDList-info: ", r.m_vista_idlist_details);
  if (!r.m_object_droid.empty())
    with_orig(out, "Object ID:                ", r.m_object_droid, r.m_birth_object_droid);
  if (!r.m_mac_address.empty())
    with_orig(out, "MAC address:              ", r.m_mac_address, r.m_birth_mac_address);
  const size_t keys = r.m_property_keys.size();
  if (keys != 0 && keys == r.m_property_values.size()) {
    out += "PropertyStoreDataBlk:    format guid/id [value] \n";
    for (size_t i = 0; i < keys; ++i) {
      const std::string& key = r.m_property_keys[i];
      out += " [";
      append_decimal(out, i + 1);
      out += "] ";
      out += key;
      if (key.size() < 49) out.append(49 - key.size(), ' ');
      out += " [";
      out += r.m_property_values[i];
      out += "]\n";
    }
  }
  if (!o.m_host_name.empty()) {
    line(out, "username:                 ", o.m_user_name);
    line(out, "hostname:                 ", o.m_host_name);
  }
}

void write_text_block(std::ostream& out, const lnk_record& r, const lnk::useropts& o) {
  // One buffer per record, written whole; it keeps its room from record to
  // record.
  thread_local std::string block;
  block.clear();
  text_block(block, r, o, record_target_times(r));
  if (o.m_idlist_times) {
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    idlist_breakout(out, r, o);
    block.clear();
  }
  block += '\n';
  out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

}  // namespace

std::string record_date_time_text(uint64_t ticks, const time_format_settings& settings) {
  std::string text;
  append_date_time(text, ticks, settings);
  return text;
}

void append_utf8_or_escaped(std::string& out, std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0, run = 0;  // run: the first byte not yet copied
  while (i < n) {
    // Plain ASCII, eight bytes at a time.
    uint64_t word = 0;
    if (i + sizeof word <= n) {
      std::memcpy(&word, p + i, sizeof word);
      if ((word & 0x8080808080808080ull) == 0) {
        i += sizeof word;
        continue;
      }
    }
    const unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    bool whole = len != 0 && i + len <= n;
    for (size_t k = 1; whole && k < len; ++k) {
      const unsigned char c = p[i + k];
      whole = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    }
    if (whole) {
      i += len;
      continue;
    }
    static const char digits[] = "0123456789ABCDEF";
    const char escaped[4] = {'\\', 'x', digits[b >> 4], digits[b & 0xF]};
    out.append(text.data() + run, i - run);
    out.append(escaped, 4);
    run = ++i;
  }
  out.append(text.data() + run, n - run);
}

std::string utf8_or_escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  append_utf8_or_escaped(out, text);
  return out;
}

// The source path as the reports show it is the same for every record of a
// file: it is made once and kept while the path stays (and no alias applies).
const std::string& shown_source_text(const lnk::useropts& o) {
  thread_local struct {
    std::string path, text;
    bool made = false;
  } cache;
  const bool plain = o.m_aliases.empty() && o.m_alias_paths.empty();
  if (plain && cache.made && cache.path == o.m_source_path) return cache.text;
  cache.made = false;
  cache.text.clear();
  append_utf8_or_escaped(cache.text, o.m_source_path);
  if (!plain) {
    std::string aliased;
    const std::string& shown = apply_path_alias(o, aliased, cache.text);
    if (&shown != &cache.text) cache.text = shown;
  }
  cache.path = o.m_source_path;
  cache.made = plain;
  return cache.text;
}

std::string record_source_text(const lnk::useropts& options) {
  return shown_source_text(options);
}

std::array<uint64_t, 3> record_target_times(const lnk_record& record) {
  const lnk_header& h = record.m_header;
  std::array<uint64_t, 3> times = {h.m_write_time, h.m_access_time, h.m_create_time};
  for (size_t i = 0; i < 3; ++i) {
    time t;
    if (times[i] == 0 && valid_filetime(record.m_idlist_times[i], t))
      times[i] = record.m_idlist_times[i];
  }
  return times;
}

namespace {

const std::string& target_name_of(const lnk_record& record) {
  static const std::string none;
  for (const std::string* s : {&record.m_idlist_path, &record.m_vista_idlist_path,
                               &record.m_environment_target, &record.m_relative_path,
                               &record.m_icon_location})
    if (!s->empty()) return *s;
  return none;
}

}  // namespace

std::string record_target_name(const lnk_record& record) {
  return target_name_of(record);
}

void append_record_appid_text(std::string& out, const lnk::useropts& options) {
  out += options.m_appid_text;
  if (options.m_appids.empty() || options.m_appid == 0) return;
  const auto it = options.m_appids.find(options.m_appid);
  if (it == options.m_appids.end()) return;
  out += " [";
  out += it->second;
  out += ']';
}

std::string record_appid_text(const lnk::useropts& options) {
  std::string text;
  append_record_appid_text(text, options);
  return text;
}

bool report_record(std::ostream& out, lnk_record& record, lnk::useropts& options) {
  ++options.m_records_written;
  out.fill(' ');
  out.setf(std::ios::left, std::ios::adjustfield);
  out.setf(std::ios::dec, std::ios::basefield);
  const bool rows = options.m_csv || !(options.m_bodyfile || options.m_csvl2t || options.m_multiline);
  // Without a column list a row has no cells: register one rather than drop
  // the row.
  if (rows && (options.m_header_pending || (options.m_csv && options.m_columns.empty())))
    register_record_columns(out, options);
  // The labelled block derives what it shows as it writes.
  if (!(options.m_bodyfile || options.m_csvl2t || options.m_csv)) {
    write_text_block(out, record, options);
    return true;
  }
  // One set of values for every record: its texts keep their room.
  thread_local record_values values;
  values.m_target_times = record_target_times(record);
  values.m_appid_text.clear();
  append_record_appid_text(values.m_appid_text, options);
  values.m_target_name = target_name_of(record);
  if (options.m_bodyfile)
    write_record_bodyfile(out, record, options, values);
  else if (options.m_csvl2t)
    write_record_l2t(out, record, options, values);
  else
    write_record_row(out, record, options, values);
  return true;
}

}  // namespace vk
