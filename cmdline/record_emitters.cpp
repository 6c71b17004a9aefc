#include "cmdline/record_emitters.h"

#include <cmath>
#include <sstream>

#include "cmdline/text_utils/write_buffer_text.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// ---- time flags ----

void set_flag(macb_flags& r, uint32_t which, size_t position, char letter) {
  std::string* flags = nullptr;
  uint8_t* set = nullptr;
  switch (which) {
    case macb_si:
      flags = &r.m_si;
      set = &r.m_si_set;
      break;
    case macb_fn:
      flags = &r.m_fn;
      set = &r.m_fn_set;
      break;
    case macb_fn83:
      flags = &r.m_fn83;
      set = &r.m_fn83_set;
      break;
    default:
      return;
  }
  if (flags->size() != 4) flags->assign(4, '.');
  (*flags)[position] = letter;
  *set = 1;
}

// ---- row cells ----

bool is_one_column_time(uint16_t type) {
  return type == vt_filetime_1col || type == vt_unixtime_1col || type == vt_chrome_1col ||
         type == vt_firefox_1col || type == vt_safari_1col;
}

type_time one_column_kind(uint16_t type) {
  switch (type) {
    case vt_unixtime_1col:
      return type_time::unix_time;
    case vt_chrome_1col:
      return type_time::chrome;
    case vt_firefox_1col:
      return type_time::firefox3;
    case vt_safari_1col:
      return type_time::safari_time;
    default:
      return type_time::filetime;
  }
}

// "date time" of a valid time, by the descriptor or the default layout.
bool date_time_text(std::string& out, const time& t, const time_format_descriptor* descriptor) {
  if (!t.valid()) return false;
  std::string date, clock;
  if (descriptor) {
    format_time_by_descriptor(date, clock, t, *descriptor);
  } else {
    format_date_time_ms(date, clock, t, false);
  }
  out = date + " " + clock;
  return true;
}

// A double read from text as a raw time of the kind: the kinds with a
// fractional form convert it, the others take its whole part. NaN,
// infinities and values outside the u64 range give an invalid time.
time time_from_text_double(const std::string& text, type_time kind) {
  double value = 0;
  if (!parse_double_text(text.c_str(), &value) || !std::isfinite(value)) return time();
  if (kind == type_time::unix_time || kind == type_time::safari_time) {
    return time_from_double(value, kind);
  }
  if (!(value >= 0.0 && value < 18446744073709551616.0)) return time();
  return time_from_u64(static_cast<uint64_t>(value), kind);
}

// ---- MFT-entry columns ----

struct mft_layout {
  int entry = -1, seqnum = -1, parent = -1, par_seqnum = -1, type = -1, ext = -1, ref = -1,
      size = -1, date = -1, macb = -1, data_type = -1, other = -1, md5 = -1, sha1 = -1, hash3 = -1,
      name = -1, path = -1, clusters = -1, various = -1, extracted = -1, header = -1;
  std::vector<vk_variant_lite> columns;

  int add(const std::string& title, uint64_t width, uint16_t value_type = vt_empty) {
    vk_variant_lite column;
    if (value_type == vt_empty) {
      init_column(column, title, width);
    } else {
      init_typed_column(column, title, width, value_type, 0);
    }
    columns.push_back(column);
    return static_cast<int>(columns.size()) - 1;
  }
};

constexpr uint64_t k_extracted_width = 60;
constexpr uint64_t k_header_info_width = 100;

mft_layout mft_columns(const l2t_record& r, bool pair, const std::string& date_format,
                       const std::string& time_format) {
  mft_layout l;
  l.entry = l.add("mft entry", 10);
  l.seqnum = l.add("mft seqnum", 10);
  l.parent = l.add("parent mft", 10);
  l.par_seqnum = l.add("par seqnum", 10);
  l.type = l.add("type", 7);
  l.ext = l.add("ext", 9);
  l.ref = l.add("ref", 3);
  l.size = l.add("size data", 10);
  if (pair) {
    l.date = l.add("date/time-utc", date_format.size() + time_format.size() + 1, vt_filetime_1col);
  } else {
    l.date = l.add("date", date_format.size());
    l.add("time-utc", time_format.size(), vt_filetime_time);
  }
  l.macb = l.add("MACB", 33);
  l.data_type = l.add("data type", 14);
  l.other = l.add("other info", 14);
  if (r.m_show_md5) l.md5 = l.add("MD5 hash", 32);
  if (r.m_show_sha1) l.sha1 = l.add("SHA1 hash", 40);
  if (r.m_show_hash3) l.hash3 = l.add("SHA1 hash", 40);
  l.name = l.add("name", 15);
  l.path = l.add("path", 60);
  l.clusters = l.add("clusters/relevant data", 80);
  l.various = l.add("various data types", 100);
  if (r.m_show_extracted_path) l.extracted = l.add("extracted path/file", k_extracted_width);
  if (r.m_show_header_info) l.header = l.add("header info", k_header_info_width);
  return l;
}

std::string macb_text(const std::string& letters) {
  macb_flags flags;
  static const char k_letters[] = "macb";
  for (size_t i = 0; i < 4 && i < letters.size(); ++i) {
    if (letters[i] != '.') set_flag(flags, macb_si, i, k_letters[i]);
  }
  std::ostringstream os;
  print_macb_flags(flags, os, false, false, false);
  return os.str();
}

void fill_mft_row(table_row& row, const mft_layout& l, const l2t_record& r, const macb_entry& group,
                  bool pair) {
  set_row_text(row, l.entry, r.m_inode, vt_text, 0);
  set_row_number(row, l.seqnum, r.m_inode_seqnum, vt_u32, vf_decimal);
  set_row_number(row, l.parent, r.m_parent_inode, vt_u64, 0);
  set_row_number(row, l.par_seqnum, r.m_parent_seqnum, vt_u32, vf_decimal);
  set_row_text(row, l.type, r.m_type.empty() ? group.m_label : r.m_type, vt_text, 0);
  set_row_text(row, l.ext, r.m_extension, vt_text, 0);
  set_row_number(row, l.ref, r.m_ref_count, vt_u32, vf_decimal);
  set_row_number(row, l.size, r.m_size_data, vt_u64, 0);
  set_row_number(row, l.date, group.m_time.m_filetime, pair ? vt_filetime_1col : vt_filetime, 0);
  set_row_text(row, l.macb, macb_text(group.m_macb), vt_text, 0);
  set_row_text(row, l.data_type, r.m_sourcetype, vt_text, 0);
  set_row_text(row, l.other, r.m_notes, vt_text, 0);
  set_row_text(row, l.md5, r.m_hash_md5, vt_text, 0);
  set_row_text(row, l.sha1, r.m_hash_sha1, vt_text, 0);
  set_row_text(row, l.hash3, r.m_hash3, vt_text, 0);
  set_row_text(row, l.name, group.m_filename.empty() ? r.m_filename : group.m_filename, vt_text, 0);
  set_row_text(row, l.path, r.m_desc, vt_text, 0);
  set_row_text(row, l.clusters, r.m_clusters, vt_text, 0);
  set_row_text(row, l.various, r.m_extra, vt_text, 0);
  set_row_text(row, l.extracted, r.m_extracted_path, vt_text, 0);
  if (l.header >= 0) {
    std::ostringstream os;
    render_bytes_text(os, r.m_header_info.data(), static_cast<uint32_t>(r.m_header_info.size()),
                      r.m_header_dump_mode != 0, 5, "; ");
    set_row_text(row, l.header, os.str(), vt_text, 0);
  }
}

}  // namespace

// ---- time flags ----

macb_flags::macb_flags() {
  init_macb_flags(*this);
}

void init_macb_flags(macb_flags& record) {
  reset_macb_record(record);
}

void reset_macb_record(macb_flags& record) {
  reset_macb_flags(record);
  record.m_names.clear();
  record.m_other_names.clear();
  record.m_text1.clear();
  record.m_text2.clear();
}

void reset_macb_flags(macb_flags& record) {
  vk::guarded([&] {
    record.m_si.assign(4, '.');
    record.m_fn.assign(4, '.');
    record.m_fn83.assign(4, '.');
  });
  record.m_si_set = record.m_fn_set = record.m_fn83_set = 0;
}

void set_macb_m(macb_flags& r, uint32_t which) {
  vk::guarded([&] { set_flag(r, which, 0, 'm'); });
}
void set_macb_a(macb_flags& r, uint32_t which) {
  vk::guarded([&] { set_flag(r, which, 1, 'a'); });
}
void set_macb_c(macb_flags& r, uint32_t which) {
  vk::guarded([&] { set_flag(r, which, 2, 'c'); });
}
void set_macb_b(macb_flags& r, uint32_t which) {
  vk::guarded([&] { set_flag(r, which, 3, 'b'); });
}
void set_macb_m_si(macb_flags& r) {
  set_macb_m(r, macb_si);
}
void set_macb_a_si(macb_flags& r) {
  set_macb_a(r, macb_si);
}
void set_macb_c_si(macb_flags& r) {
  set_macb_c(r, macb_si);
}
void set_macb_b_si(macb_flags& r) {
  set_macb_b(r, macb_si);
}
void set_macb_m_fn(macb_flags& r) {
  set_macb_m(r, macb_fn);
}
void set_macb_a_fn(macb_flags& r) {
  set_macb_a(r, macb_fn);
}
void set_macb_c_fn(macb_flags& r) {
  set_macb_c(r, macb_fn);
}
void set_macb_b_fn(macb_flags& r) {
  set_macb_b(r, macb_fn);
}
void set_macb_m_fn83(macb_flags& r) {
  set_macb_m(r, macb_fn83);
}
void set_macb_a_fn83(macb_flags& r) {
  set_macb_a(r, macb_fn83);
}
void set_macb_c_fn83(macb_flags& r) {
  set_macb_c(r, macb_fn83);
}
void set_macb_b_fn83(macb_flags& r) {
  set_macb_b(r, macb_fn83);
}

void add_macb_times(macb_time_map& map, uint32_t which, uint64_t modified, uint64_t accessed,
                    uint64_t changed, uint64_t born, const std::wstring* name, bool name_flag) {
  vk::guarded([&] {
    const std::string utf8 = name ? to_utf8(*name) : std::string();
    const uint64_t times[4] = {modified, accessed, changed, born};
    static const char k_letters[] = "macb";
    for (size_t i = 0; i < 4; ++i) {
      if (times[i] == 0) continue;
      macb_flags& entry = map[times[i]];
      set_flag(entry, which, i, k_letters[i]);
      if (name) (name_flag ? entry.m_names : entry.m_other_names).insert(utf8);
    }
  });
}

void print_macb_flags(const macb_flags& r, std::ostream& os, bool line_end, bool fn83, bool fn) {
  vk::guarded([&] {
    std::string text;
    if (r.m_si_set) text += "si:[" + r.m_si + "]";
    if (r.m_fn_set && fn) {
      if (!text.empty()) text += "; ";
      text += "fn:[" + r.m_fn + "]";
    }
    if (r.m_fn83_set && fn83) {
      if (!text.empty()) text += "; ";
      text += "fn8.3[" + r.m_fn83 + "]";
    }
    if (line_end && !text.empty()) text += '\n';
    os << text;
  });
}

// ---- row setters ----

int32_t set_row_string(table_row& row, int32_t index, const std::string& text, uint32_t flags) {
  vk_variant_lite* cell = prepare_row_cell(row, index, vt_text, flags);
  if (cell) vk::guarded([&] { store_cell_text(*cell, text); }, [&] { cell->m_text.clear(); });
  return 1;
}

int32_t set_row_bytes(table_row& row, int32_t index, const byte_array& bytes, uint16_t type,
                      uint32_t flags) {
  return set_row_byte_range(row, index, bytes.data(), bytes.size(), type, flags);
}

int32_t set_row_byte_range(table_row& row, int32_t index, const uint8_t* bytes, size_t length,
                           uint16_t type, uint32_t flags) {
  if (!bytes || length == 0) return 1;
  vk_variant_lite* cell = prepare_row_cell(row, index, type, flags);
  if (!cell) return 1;
  vk::guarded(
      [&] {
        if (type == vt_text) {
          store_cell_text(*cell, std::string(reinterpret_cast<const char*>(bytes), length));
        } else {
          cell->m_bytes.assign(bytes, bytes + length);
        }
      },
      [&] {
        cell->m_text.clear();
        cell->m_bytes.clear();
      });
  return 1;
}

int32_t set_row_list(table_row& row, int32_t index, const std::set<uint64_t>& values, uint16_t type,
                     uint32_t flags) {
  vk_variant_lite* cell = prepare_row_cell(row, index, type, flags);
  if (!cell) return 1;
  vk::guarded(
      [&] {
        if (values.empty()) {
          cell->m_list.assign(1, 0);
        } else {
          cell->m_list.assign(values.begin(), values.end());
        }
      },
      [&] { cell->m_list.clear(); });
  if (!cell->m_list.empty()) {
    cell->m_number = cell->m_flags == 0x2000 ? cell->m_list.back() : cell->m_list.front();
  }
  if (index + 1 >= row.m_count) return 1;
  row.m_cells[static_cast<size_t>(index) + 1].clear();
  return 2;
}

int32_t set_row_time_text(table_row& row, int32_t index, uint64_t value, uint16_t type,
                          uint32_t quote_flags, const time_format_descriptor* descriptor) {
  vk_variant_lite* cell = prepare_row_cell(row, index, vt_text, quote_flags);
  if (!cell) return -1;
  if (!is_one_column_time(type)) {
    cell->clear();
    return -1;
  }
  return vk::guarded(
      [&] {
        std::string text;
        if (!date_time_text(text, time_from_u64(value, one_column_kind(type)), descriptor)) {
          cell->clear();
          return 0;
        }
        store_cell_text(*cell, text);
        return 1;
      },
      [&] {
        cell->clear();
        return 0;
      });
}

int32_t set_row_from_text_by_column(table_row& row, int32_t index, const std::string& text,
                                    const std::vector<vk_variant_lite>& columns,
                                    const time_format_descriptor* descriptor,
                                    const cell_text_callback* first,
                                    const cell_text_callback* second) {
  if (row.m_valid != 1 || index < 0 || index >= row.m_count ||
      static_cast<size_t>(index) >= row.m_cells.size() ||
      static_cast<size_t>(index) >= columns.size()) {
    return -1;
  }
  vk_variant_lite& cell = row.m_cells[static_cast<size_t>(index)];
  return vk::guarded(
      [&] {
        const vk_variant_lite& column = columns[static_cast<size_t>(index)];
        cell = column;
        cell.m_number = 0;
        cell.m_list.clear();
        cell.m_flags |= row.m_default_flags;
        std::string value = text;
        const uint16_t type = column.m_type;
        if (is_one_column_time(type)) {
          const type_time kind = one_column_kind(type);
          time t;
          if (column.m_flags & vf_safari_double) {
            t = time_from_text_double(text, kind);
          } else {
            uint64_t raw = 0;
            if (parse_u64_text(text, &raw)) t = time_from_u64(raw, kind);
          }
          std::string when;
          if (date_time_text(when, t, descriptor)) value = text + ": " + when;
        } else if (type == vt_guid && text.size() == 16) {
          guid g;
          g.set(reinterpret_cast<const uint8_t*>(text.data()));
          value = guid_to_string(g);
        } else if (type == vt_bytes_spaced || type == vt_bytes_hex) {
          value = hex_list_text(std::vector<uint8_t>(text.begin(), text.end()), " ");
        } else if (type == vt_text) {
          if ((column.m_flags & 0x100) && first && *first) {
            (*first)(value);
          } else if ((column.m_flags & 0x20000) && second && *second) {
            (*second)(value);
          }
        }
        // The value is text now, whatever the column's type.
        if (type != vt_raw_text) cell.m_type = vt_text;
        cell.m_bytes.clear();
        store_cell_text(cell, value);
        return 1;
      },
      [&] {
        cell.clear();
        return 1;
      });
}

void write_column_titles(std::ostream& os, const std::vector<vk_variant_lite>& columns,
                         const std::string& separator, bool cell_blank, bool no_padding) {
  vk::guarded([&] {
    cmd_params settings;
    settings.m_columns = columns;
    settings.m_columns_stamp = 0;
    settings.m_separator = separator;
    settings.m_cell_blank = cell_blank ? 1 : 0;
    settings.m_no_padding = no_padding ? 1 : 0;
    settings.m_row_redirect = 0;
    write_table_header(os, settings);
  });
}

// ---- MFT entries ----

int32_t write_mft_entry_rows(uint8_t& header_pending, std::ostream& os, l2t_record& r) {
  cmd_params* settings = r.m_settings;
  if (!settings) return 0;
  return vk::guarded([&]() -> int32_t {
    const bool pair = settings->m_pair_datetime != 0;
    const mft_layout layout =
        mft_columns(r, pair, settings->m_date_format, settings->m_time_format);
    if (header_pending) {
      header_pending = 0;
      settings->m_header_pending = 0;
      settings->m_columns = layout.columns;
      settings->m_columns_stamp = 0;
      write_table_header(os, *settings);
    }
    macb_map groups;
    macb_summary(groups, r.m_times, static_cast<type_time>(r.m_times.m_kind));
    const auto count = static_cast<int32_t>(layout.columns.size());
    const uint32_t default_flags = settings->m_quoted_csv ? static_cast<uint32_t>(vf_quoted) : 0u;
    int32_t rows = 0;
    for (auto& [raw, group] : groups) {
      if (!group.m_time.valid()) continue;
      if (r.m_window_start != 0 && (raw < r.m_window_start || raw > r.m_window_stop)) continue;
      table_row row(count, true, default_flags);
      fill_mft_row(row, layout, r, group, pair);
      output_table_row(os, row, *settings);
      ++rows;
      if (!r.m_short.empty()) {
        set_row_text(row, layout.name, r.m_short + " (FN 8.3)", vt_text, 0);
        output_table_row(os, row, *settings);
        ++rows;
      }
    }
    return rows;
  });
}

int32_t write_l2t_group_lines(uint8_t& header_pending, std::ostream& os, l2t_record& record,
                              macb_map& groups) {
  vk::guarded([&] {
    if (header_pending) {
      header_pending = 0;
      write_l2t_header(os, record.m_delimiter, record.m_extended != 0, record.m_pair_datetime != 0);
      os.put('\n');
      if (record.m_settings) record.m_settings->m_header_pending = 0;
    }
    const bool line_break = !record.m_settings || record.m_settings->m_row_line_break;
    const bool replacing = record.m_replace_char && record.m_replacement_char;
    l2t_record r = record;
    auto clean = [&](std::string& field) {
      if (replacing) replace_char(field, r.m_replace_char, r.m_replacement_char);
    };
    for (std::string* field : {&r.m_source, &r.m_short, &r.m_desc, &r.m_filename, &r.m_extra}) {
      clean(*field);
    }
    show_line_ends(r.m_desc);
    show_line_ends(r.m_extra);
    std::string date, clock, line;
    for (auto& [raw, group] : groups) {
      if (!group.m_time.valid()) continue;
      if (r.m_window_start != 0 && (raw < r.m_window_start || raw > r.m_window_stop)) continue;
      r.m_notes = group.m_list.empty() ? record.m_notes : std::string();
      if (!group.m_list.empty()) join_strings(r.m_notes, group.m_list, "; ", false);
      clean(r.m_notes);
      show_line_ends(r.m_notes);
      format_time_by_descriptor(date, clock, group.m_time, r.m_time_settings);
      line.clear();
      append_l2t_line(line, r, group, date, clock);
      if (line_break) line += '\n';
      os.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
  });
  return 1;
}

}  // namespace vk
