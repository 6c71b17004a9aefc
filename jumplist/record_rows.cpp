#include "jumplist/record_rows.h"

#include <array>
#include <charconv>
#include <initializer_list>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "cmdline/path_alias.h"
#include "cmdline/record_writer.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"
#include "jumplist/idlist_breakout.h"
#include "jumplist/record_report.h"
#include "shell/file_attributes.h"

namespace vk {
namespace {

constexpr uint32_t k_max_mru_position = 99998;

// Every column the table form can have, in the order they are registered.
enum column_id : uint8_t {
  c_source_path,
  c_source_type,
  c_appid,
  c_mru_position,
  c_stream,
  c_mru_date,
  c_interaction,
  c_file_modify,
  c_file_access,
  c_file_create,
  c_file_mft,
  c_tgt_modify,
  c_tgt_access,
  c_tgt_create,
  c_objid_date,
  c_attributes,
  c_lnk_offset,
  c_src_inode,
  c_src_seq,
  c_target_inode,
  c_target_seq,
  c_file_size,
  c_target_name,
  c_idlist_extra,
  c_vol_type,
  c_vol_serial,
  c_vol_label,
  c_local_path,
  c_common_path,
  c_network,
  c_extra_info,
  c_netbios,
  c_volume_id,
  c_object_id,
  c_mac,
  c_user,
  c_host,
  c_segments,
  c_count
};

// A date column is one "date and time" column with "-pair_datetime", else a
// date column titled split_title followed by a time column titled
// time_title. A width of 0 is the source path's own rule.
struct column_def {
  const char* title;
  uint32_t width;
  bool date;
  const char* split_title;
  const char* time_title;
};

constexpr column_def k_columns[c_count] = {
    {"source path/filename", 0, false, nullptr, nullptr},
    {"source type", 19, false, nullptr, nullptr},
    {"appid", 16, false, nullptr, nullptr},
    {"MRU/MFU", 7, false, nullptr, nullptr},
    {"stream#", 7, false, nullptr, nullptr},
    {"MRU date [UTC]", 0, true, "MRU date", "MRU-UTC"},
    {"interaction", 11, false, nullptr, nullptr},
    {"file modify date [UTC]", 0, true, "file mdate", "time-UTC"},
    {"file access date [UTC]", 0, true, "file adate", "time-UTC"},
    {"file create date [UTC]", 0, true, "file cdate", "time-UTC"},
    {"file mft date [UTC]", 0, true, "file mftdate", "time-UTC"},
    {"tgt modify date [UTC]", 0, true, "tgt mdate", "time-UTC"},
    {"tgt access date [UTC]", 0, true, "tgt adate", "time-UTC"},
    {"tgt create date [UTC]", 0, true, "tgt cdate", "time-UTC"},
    {"ObjID date [UTC]", 0, true, "ObjID date", "time-UTC"},
    {"tgt attrib", 24, false, nullptr, nullptr},
    {"LNK offset", 10, false, nullptr, nullptr},
    {"src inode", 10, false, nullptr, nullptr},
    {"src seq#", 6, false, nullptr, nullptr},
    {"target inode", 10, false, nullptr, nullptr},
    {"target seq#", 6, false, nullptr, nullptr},
    {"file size", 10, false, nullptr, nullptr},
    {"target name", 60, false, nullptr, nullptr},
    {"IDList extra info", 60, false, nullptr, nullptr},
    {"vol type", 8, false, nullptr, nullptr},
    {"vol serial", 10, false, nullptr, nullptr},
    {"vol label", 9, false, nullptr, nullptr},
    {"local path", 10, false, nullptr, nullptr},
    {"common path", 11, false, nullptr, nullptr},
    {"network/device info", 19, false, nullptr, nullptr},
    {"extra info", 10, false, nullptr, nullptr},
    {"netbios name", 12, false, nullptr, nullptr},
    {"volume id", 9, false, nullptr, nullptr},
    {"object id", 9, false, nullptr, nullptr},
    {"mac addr", 8, false, nullptr, nullptr},
    {"user acct", 9, false, nullptr, nullptr},
    {"host name", 9, false, nullptr, nullptr},
    {"IDList segments", 20, false, nullptr, nullptr},
};

// Which kind of record the per-file flags describe.
struct record_kind {
  bool listed;  // automatic or custom jump list: AppID and DestList cells
  bool carved;  // carve road: no source file dates, the LNK offset shown
};

record_kind kind_of(const lnk::useropts& o) {
  const bool listed = o.m_automatic_list || o.m_custom_list;
  return {listed, o.m_carve_mode && !listed};
}

bool column_wanted(column_id id, const lnk::useropts& o, record_kind kind) {
  switch (id) {
    case c_appid:
    case c_mru_position:
    case c_stream:
    case c_mru_date:
    case c_interaction:
      return kind.listed;
    case c_file_modify:
    case c_file_access:
    case c_file_mft:
      return !kind.carved;
    case c_file_create:
      return !kind.carved && o.m_ntfs_scan;
    case c_lnk_offset:
      return kind.carved || o.m_show_offset;
    case c_src_inode:
    case c_src_seq:
      return o.m_ntfs_scan;
    case c_target_inode:
    case c_target_seq:
      return o.m_show_target_mft;
    case c_user:
      return !o.m_user_name.empty();
    case c_host:
      return !o.m_host_name.empty();
    case c_segments:
      return o.m_idlist_times;
    default:
      return true;
  }
}

// Cells placed by column title, so that a record never lands under another
// kind's titles.
using column_map = std::array<int32_t, c_count>;

// Where each column landed among the registered titles. Worked out once per
// column list (once per header), not per record: a record only checks that
// the titles are still those the map was made from.
const column_map& column_positions(const std::vector<vk_variant_lite>& columns) {
  struct cached {
    bool made = false;
    std::vector<std::string> titles;
    column_map at{};
  };
  thread_local cached c;
  bool same = c.made && c.titles.size() == columns.size();
  for (size_t i = 0; same && i < columns.size(); ++i) same = c.titles[i] == columns[i].m_text;
  if (same) return c.at;
  c.made = false;
  c.titles.clear();
  for (const vk_variant_lite& column : columns) c.titles.push_back(column.m_text);
  c.at.fill(-1);
  for (size_t i = 0; i < columns.size() && i < static_cast<size_t>(k_max_row_cells); ++i) {
    const std::string& title = columns[i].m_text;
    for (size_t id = 0; id < c_count; ++id) {
      const column_def& d = k_columns[id];
      if (title == d.title || (d.split_title && title == d.split_title)) {
        if (c.at[id] < 0) c.at[id] = static_cast<int32_t>(i);
        break;
      }
    }
  }
  c.made = true;
  return c.at;
}

// One cell of a record's row: a text (one the record or the settings hold,
// or one built in the row's scratch text), a number, or a FILETIME in one
// or in two columns.
struct row_cell {
  enum kind_t : uint8_t { empty, text, built, number, time_one, time_two };
  kind_t kind = empty;
  uint16_t type = 0;   // a number's type
  uint32_t flags = 0;  // without the row's own
  uint64_t value = 0;
  const char* data = nullptr;  // text
  size_t offset = 0;           // built
  size_t size = 0;
};

// Kept from record to record: a row allocates only while these grow.
struct row_buffers {
  std::vector<row_cell> cells;
  std::string scratch;  // the texts built for this record
  std::string line;
  std::string shown;  // a text with its line ends shown
};

row_buffers& buffers() {
  thread_local row_buffers b;
  return b;
}

// A column wider than this is a caller's mistake, not a layout (as for the
// general table writer).
constexpr uint64_t k_max_pad = 65535;

void append_aligned(std::string& out, std::string_view value, uint64_t width, bool right,
                    char fill = ' ') {
  if (width > k_max_pad) width = k_max_pad;
  const size_t n = width > value.size() ? static_cast<size_t>(width - value.size()) : 0;
  if (n != 0 && right) out.append(n, fill);
  out.append(value);
  if (n != 0 && !right) out.append(n, fill);
}

// Blanks after what was written from start, up to the width.
void pad_from(std::string& out, size_t start, uint64_t width) {
  if (width > k_max_pad) width = k_max_pad;
  const size_t used = out.size() - start;
  if (width > used) out.append(static_cast<size_t>(width) - used, ' ');
}

// The text from start on with the separator-like character replaced and,
// with show, its line ends shown.
void finish_text(std::string& out, size_t start, char from, char to, bool show,
                 std::string& spare) {
  if (!replace_char_find_line_ends(out.data() + start, out.size() - start, from, to) || !show)
    return;
  spare.assign(out, start, std::string::npos);
  show_line_ends(spare);
  out.resize(start);
  out += spare;
}

// The text with its line ends shown.
void append_shown(std::string& out, std::string_view text, std::string& spare) {
  if (!has_line_end(text)) {
    out.append(text);
    return;
  }
  spare.assign(text);
  show_line_ends(spare);
  out += spare;
}

class row_filler {
 public:
  row_filler(const lnk::useropts& o, row_buffers& b)
      : m_columns(o.m_columns), m_at(column_positions(o.m_columns)), m_b(b) {
    const size_t n = m_columns.size();
    m_b.cells.assign(n <= static_cast<size_t>(k_max_row_cells) ? n : 0, row_cell{});
    m_b.scratch.clear();
  }

  std::string& scratch() { return m_b.scratch; }

  void text(column_id id, std::string_view value) {
    if (row_cell* c = at(m_at[id])) set_text(*c, value);
  }
  // The scratch text from start on.
  void built(column_id id, size_t start) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    *c = row_cell{};
    c->kind = row_cell::built;
    c->offset = start;
    c->size = m_b.scratch.size() - start;
  }
  void number(column_id id, uint64_t value, uint16_t type, uint32_t flags = 0) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    *c = row_cell{};
    c->kind = row_cell::number;
    c->type = type;
    c->flags = flags;
    c->value = value;
  }
  // One cell, or a date and a time cell, as the column was registered.
  void date(column_id id, uint64_t filetime, uint32_t flags = 0) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    const bool two = split(id);
    *c = row_cell{};
    c->kind = two ? row_cell::time_two : row_cell::time_one;
    c->flags = flags;
    c->value = filetime;
    if (two) m_b.cells[static_cast<size_t>(m_at[id]) + 1] = row_cell{};
  }
  void na_date(column_id id) {
    text(id, "na");
    if (m_at[id] >= 0 && split(id)) {
      if (row_cell* c = at(m_at[id] + 1)) set_text(*c, "na");
    }
  }

 private:
  row_cell* at(int32_t i) {
    return i >= 0 && static_cast<size_t>(i) < m_b.cells.size() ? &m_b.cells[static_cast<size_t>(i)]
                                                                : nullptr;
  }
  static void set_text(row_cell& c, std::string_view value) {
    c = row_cell{};
    c.kind = row_cell::text;
    c.data = value.data();
    c.size = value.size();
  }
  bool split(column_id id) const {
    const size_t next = static_cast<size_t>(m_at[id]) + 1;
    return next < m_columns.size() && m_columns[next].m_type == vt_filetime_time;
  }

  const std::vector<vk_variant_lite>& m_columns;
  const column_map& m_at;
  row_buffers& m_b;
};

std::string_view cell_text(const row_buffers& b, const row_cell& c) {
  if (c.kind == row_cell::built) return std::string_view(b.scratch).substr(c.offset, c.size);
  return {c.data, c.size};
}

// The row's line as the general table writer lays a row of these cells out
// (padding, quoting, replacement, line ends, time layouts), written straight
// into one buffer.
class row_line {
 public:
  row_line(const cmd_params& s, row_buffers& b)
      : m_s(s), m_b(b), m_line(b.line), m_pad(!s.m_no_padding), m_blank(m_pad ? " " : ""),
        m_defaults(s.m_quoted_csv ? static_cast<uint32_t>(vf_quoted) : 0u),
        m_from(s.m_replacement_char ? s.m_replace_char : 0), m_to(s.m_replacement_char),
        m_show(s.m_csv || s.m_csvl2t || s.m_csvgen || s.m_bodyfile) {}

  void write() {
    m_line.clear();
    const size_t count = m_b.cells.size();
    for (size_t i = 0; i < count; ++i) {
      const row_cell& c = m_b.cells[i];
      switch (c.kind) {
        case row_cell::empty:
          pad_from(m_line, m_line.size(), width(i));
          break;
        case row_cell::text:
        case row_cell::built:
          text(cell_text(m_b, c), width(i));
          break;
        case row_cell::number:
          number(c, column_width(i));
          break;
        case row_cell::time_one:
        case row_cell::time_two:
          i = times(i);
          break;
      }
      if (i + 1 < count) m_line += m_s.m_separator;
    }
    if (m_s.m_row_line_break) m_line += '\n';
  }

 private:
  uint64_t column_width(size_t i) const {
    return i < m_s.m_columns.size() ? m_s.m_columns[i].m_width : 0;
  }
  uint64_t width(size_t i) const { return m_pad ? column_width(i) : 0; }

  void text(std::string_view t, uint64_t w) {
    const size_t start = m_line.size();
    if (m_defaults & vf_quoted) {
      m_line += '"';
      size_t from = 0;
      for (size_t q = t.find('"'); q != std::string_view::npos; q = t.find('"', from)) {
        m_line.append(t.substr(from, q + 1 - from));
        m_line += '"';
        from = q + 1;
      }
      m_line.append(t.substr(from));
      m_line += '"';
    } else {
      m_line.append(t);
    }
    finish_text(m_line, start, m_from, m_to, m_show, m_b.shown);
    pad_from(m_line, start, w);
  }

  void number(const row_cell& c, uint64_t w) {
    const uint32_t f = c.flags | m_defaults;
    char buf[24];
    if (m_s.m_hex_numbers && !(f & vf_decimal)) {
      uint64_t digits = 0;
      if (m_pad && w >= 2) {
        digits = w - 2;
      } else if (c.type == vt_u8) {
        digits = 2;
      } else if (c.type == vt_u16) {
        digits = 4;
      } else if (c.type == vt_u32 || c.type == vt_u64) {
        digits = 8;
      }
      const auto r = std::to_chars(buf, buf + sizeof(buf), c.value, 16);
      m_line += "0x";
      append_aligned(m_line, std::string_view(buf, static_cast<size_t>(r.ptr - buf)), digits, true,
                     '0');
      return;
    }
    const auto r = std::to_chars(buf, buf + sizeof(buf), c.value);
    append_aligned(m_line, std::string_view(buf, static_cast<size_t>(r.ptr - buf)),
                   (m_pad && w > 0) ? w : 0, true);
  }

  // Returns the index of the last cell used.
  size_t times(size_t i) {
    const row_cell& c = m_b.cells[i];
    time_format_descriptor d = m_s.m_time_settings.m_descriptor;
    if ((c.flags | m_defaults) & vf_no_subseconds)
      d.m_time_flags &= static_cast<uint8_t>(~time_format_descriptor::subsecond_mask);
    filetime_texts texts;
    std::string_view date = m_blank;
    std::string_view clock = m_blank;
    if (filetime_date_clock(texts, c.value, d)) {
      date = texts.date();
      clock = texts.clock();
    }
    if (c.kind == row_cell::time_one) {
      if (m_pad && m_s.m_cell_blank) m_line += ' ';
      const size_t start = m_line.size();
      m_line.append(date);
      m_line += ' ';
      m_line.append(clock);
      pad_from(m_line, start, width(i));
      return i;
    }
    append_aligned(m_line, date, width(i), false);
    m_line += m_s.m_separator;
    if (i + 1 >= m_b.cells.size()) return i;
    ++i;
    if (m_s.m_cell_blank) m_line += ' ';
    append_aligned(m_line, clock, width(i), false);
    return i;
  }

  const cmd_params& m_s;
  row_buffers& m_b;
  std::string& m_line;
  const bool m_pad;
  const std::string_view m_blank;
  const uint32_t m_defaults;
  const char m_from;
  const char m_to;
  const bool m_show;
};

// The same cells as a table row for the general writer.
table_row as_table_row(const row_buffers& b, const lnk::useropts& o) {
  table_row row;
  init_table_row(row, static_cast<int32_t>(b.cells.size()), true,
                 o.m_quoted_csv ? static_cast<uint32_t>(vf_quoted) : 0u);
  for (size_t k = 0; k < b.cells.size(); ++k) {
    const row_cell& c = b.cells[k];
    const auto i = static_cast<int32_t>(k);
    switch (c.kind) {
      case row_cell::empty:
        break;
      case row_cell::text:
      case row_cell::built:
        set_row_text(row, i, std::string(cell_text(b, c)), vt_text, 0);
        break;
      case row_cell::number:
        set_row_number(row, i, c.value, c.type, c.flags);
        break;
      case row_cell::time_one:
        set_row_number(row, i, c.value, vt_filetime_1col, c.flags);
        break;
      case row_cell::time_two:
        set_row_number(row, i, c.value, vt_filetime, c.flags);
        break;
    }
  }
  return row;
}

using labelled_parts = std::initializer_list<std::pair<const char*, const std::string*>>;

// Each non-empty part, after its label, followed by "; ".
void append_parts(std::string& out, labelled_parts parts) {
  for (const auto& [label, value] : parts) {
    if (value->empty()) continue;
    out += label;
    out += *value;
    out += "; ";
  }
}

// The parts joined by "; ".
void append_joined_parts(std::string& out, labelled_parts parts) {
  const size_t start = out.size();
  append_parts(out, parts);
  if (out.size() > start) out.resize(out.size() - 2);
}

void append_idlist_extra(std::string& out, const lnk_record& r) {
  const size_t start = out.size();
  auto next = [&] {
    if (out.size() > start) out += "; ";
  };
  for (const std::string& detail : r.m_idlist_details) {
    next();
    out += detail;
  }
  if (!r.m_vista_idlist_extra.empty()) {
    next();
    out += r.m_vista_idlist_extra;
  }
  if (!r.m_property_keys.empty() && !r.m_property_values.empty()) {
    next();
    const size_t n = r.m_property_keys.size() < r.m_property_values.size()
                         ? r.m_property_keys.size()
                         : r.m_property_values.size();
    for (size_t i = 0; i < n; ++i) {
      if (i) out += "; ";
      out += r.m_property_keys[i];
      out += " [";
      out += r.m_property_values[i];
      out += ']';
    }
  }
}

void replace_in_record(lnk_record& r, char from, char to) {
  replace_char(r.m_idlist_extra, from, to);
  replace_char(r.m_vista_idlist_extra, from, to);
  for (std::string& s : r.m_vista_idlist_details) replace_char(s, from, to);
  for (std::string& s : r.m_idlist_details) replace_char(s, from, to);
}

// The record's cells by column.
void fill_row(row_buffers& b, lnk_record& r, lnk::useropts& o, const record_values& v) {
  const record_kind kind = kind_of(o);
  row_filler row(o, b);
  std::string& scratch = row.scratch();
  row.text(c_source_path, shown_source_text(o));
  row.text(c_source_type, r.m_source_type);

  if (kind.listed) row.text(c_appid, v.m_appid_text);
  if (kind.listed && (!o.m_automatic_list || r.m_from_free_space)) {
    // No DestList entry stands behind the record.
    row.text(c_mru_position, "na");
    row.text(c_stream, "na");
    row.na_date(c_mru_date);
    row.text(c_interaction, "na");
  } else if (kind.listed) {
    const uint32_t position = static_cast<uint32_t>(r.m_mru_position);
    if (position >= 1 && position <= k_max_mru_position)
      row.number(c_mru_position, position, vt_u32, vf_decimal);
    if (r.m_entry_num != 0) row.number(c_stream, r.m_entry_num, vt_u64, vf_decimal);
    row.date(c_mru_date, r.m_mru_time);
    if (r.m_has_access_count)
      row.number(c_interaction, r.m_access_count, vt_u32, vf_decimal);
    else
      row.text(c_interaction, "na");
  }

  if (!kind.carved) {
    row.date(c_file_modify, o.m_source_modify_time, vf_no_subseconds);
    row.date(c_file_access, o.m_source_access_time, vf_no_subseconds);
    if (o.m_ntfs_scan) {
      // An NTFS scan knows the file's MFT time apart from its creation time.
      row.date(c_file_create, o.m_source_change_time, vf_no_subseconds);
      row.date(c_file_mft, o.m_source_mft_time);
    } else {
      row.date(c_file_mft, o.m_source_change_time, vf_no_subseconds);
    }
  }
  row.date(c_tgt_modify, v.m_target_times[0]);
  row.date(c_tgt_access, v.m_target_times[1]);
  row.date(c_tgt_create, v.m_target_times[2]);
  row.date(c_objid_date, r.m_object_droid_time);

  const lnk_header& h = r.m_header;
  size_t start = scratch.size();
  append_file_attributes_text(scratch, h.m_file_attributes, "; ");
  row.built(c_attributes, start);
  if (kind.carved || o.m_show_offset) row.number(c_lnk_offset, r.m_file_offset, vt_u64);
  if (o.m_ntfs_scan && o.m_source_inode != 0) {
    row.number(c_src_inode, o.m_source_inode, vt_u64);
    row.number(c_src_seq, o.m_source_seq, vt_u16);
  }
  if (o.m_show_target_mft && r.m_target_mft_entry != 0) {
    row.number(c_target_inode, r.m_target_mft_entry, vt_u64);
    row.number(c_target_seq, r.m_target_mft_seq, vt_u16);
  }
  if (h.m_file_size != 0) row.number(c_file_size, h.m_file_size, vt_u32);
  row.text(c_target_name, v.m_target_name);

  if (o.m_replace_char) replace_in_record(r, o.m_replace_char, o.m_replacement_char);
  start = scratch.size();
  append_idlist_extra(scratch, r);
  row.built(c_idlist_extra, start);
  row.text(c_vol_type, r.m_drive_type);
  row.text(c_vol_serial, r.m_volume_serial);
  row.text(c_vol_label, r.m_volume_label);
  row.text(c_local_path, r.m_local_base_path);
  row.text(c_common_path, r.m_common_path_suffix);
  start = scratch.size();
  append_joined_parts(scratch, {{"[NetworkName]: ", &r.m_net_name},
                                {"[DeviceName]: ", &r.m_device_name}});
  row.built(c_network, start);
  static const std::string none;
  const bool has_name = !r.m_name.empty() && r.m_name[0] != '\0';
  start = scratch.size();
  append_joined_parts(scratch, {{"[Description]: ", has_name ? &r.m_name : &none},
                                {"[RelPath]: ", &r.m_relative_path},
                                {"[WorkDir]: ", &r.m_working_dir},
                                {"[CmdArgs]: ", &r.m_arguments},
                                {"[IconName]: ", &r.m_icon_location},
                                {"[EnvBlk]: ", &r.m_environment_target}});
  row.built(c_extra_info, start);
  row.text(c_netbios, r.m_machine_id);
  row.text(c_volume_id, r.m_volume_droid);
  row.text(c_object_id, r.m_object_droid);
  row.text(c_mac, r.m_mac_address);
  if (!o.m_user_name.empty()) row.text(c_user, o.m_user_name);
  if (!o.m_host_name.empty()) row.text(c_host, o.m_host_name);
  if (o.m_idlist_times) {
    std::ostringstream segments;
    idlist_breakout(segments, r, o);
    start = scratch.size();
    scratch += segments.str();
    row.built(c_segments, start);
  }
}

}  // namespace

void register_record_columns(std::ostream& out, lnk::useropts& o) {
  // A run over a file list cannot know its later files' kinds: it takes the
  // automatic road's columns, then those only the carve road fills.
  const record_kind kind = o.m_list_run ? record_kind{true, false} : kind_of(o);
  const uint64_t path_width = o.m_source_path.size() > 40 ? o.m_source_path.size() : 40;
  const uint64_t d = o.m_date_format.size();
  const uint64_t t = o.m_time_format.size();
  const bool pair = o.m_pair_datetime != 0;
  o.m_columns.clear();
  vk_variant_lite column;
  auto add = [&](size_t id) {
    const column_def& def = k_columns[id];
    if (def.date && pair) {
      init_typed_column(column, def.title, d + t + 1, vt_filetime_1col, 0);
      o.m_columns.push_back(column);
    } else if (def.date) {
      init_column(column, def.split_title, d);
      o.m_columns.push_back(column);
      init_typed_column(column, def.time_title, t, vt_filetime_time, 0);
      o.m_columns.push_back(column);
    } else {
      init_column(column, def.title, id == c_source_path ? path_width : def.width);
      o.m_columns.push_back(column);
    }
  };
  for (size_t id = 0; id < c_count; ++id)
    if (column_wanted(static_cast<column_id>(id), o, kind)) add(id);
  if (o.m_list_run && !column_wanted(c_lnk_offset, o, kind)) add(c_lnk_offset);
  if (o.m_no_padding) {
    for (vk_variant_lite& c : o.m_columns) c.m_width = 0;
  }
  write_table_header(out, o);
}

void write_record_row(std::ostream& out, lnk_record& r, lnk::useropts& o,
                      const record_values& v) {
  if (o.m_multiline || (o.m_row_redirect && o.m_row_target)) {
    // Labelled lines and redirected rows stay with the general writer.
    write_record_row_as_table(out, r, o, v);
    return;
  }
  vk::guarded([&] {
    row_buffers& b = buffers();
    fill_row(b, r, o, v);
    if (o.m_header_pending) write_table_header(out, o);
    if (b.cells.empty()) return;
    row_line(o, b).write();
    out.write(b.line.data(), static_cast<std::streamsize>(b.line.size()));
  });
}

void write_record_row_as_table(std::ostream& out, lnk_record& r, lnk::useropts& o,
                               const record_values& v) {
  vk::guarded([&] {
    row_buffers& b = buffers();
    fill_row(b, r, o, v);
    table_row row = as_table_row(b, o);
    output_table_row(out, row, o);
  });
}

void write_record_l2t(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                      const record_values& v) {
  vk::guarded([&] {
    if (o.m_header_pending) {
      o.m_header_pending = 0;
      write_l2t_header(out, o.m_separator, false, o.m_pair_datetime != 0);
      out.put('\n');
    }
    // The MACB groups of the four times: each valid time not yet placed
    // takes the later ones of the same instant; the groups by instant.
    static const char* const k_labels[4] = {"Last Modified", "Last Access", "MRU Time",
                                            "Created"};
    static const char k_letters[4] = {'M', 'A', 'C', 'B'};
    const uint64_t raw[4] = {v.m_target_times[0], v.m_target_times[1], r.m_mru_time,
                             v.m_target_times[2]};
    const time_format_descriptor& layout = o.m_time_settings.m_descriptor;
    filetime_texts texts[4];
    bool valid[4];
    for (int i = 0; i < 4; ++i) valid[i] = filetime_date_clock(texts[i], raw[i], layout);
    struct group {
      int anchor;
      uint8_t members;
    };
    group groups[4];
    int count = 0;
    uint8_t placed = 0;
    for (int anchor = 0; anchor < 4; ++anchor) {
      if (!valid[anchor] || (placed & (1u << anchor))) continue;
      uint8_t members = static_cast<uint8_t>(1u << anchor);
      for (int j = anchor + 1; j < 4; ++j)
        if (valid[j] && !(placed & (1u << j)) && raw[j] == raw[anchor])
          members = static_cast<uint8_t>(members | (1u << j));
      placed = static_cast<uint8_t>(placed | members);
      int at = count++;
      for (; at > 0 && raw[groups[at - 1].anchor] > raw[anchor]; --at) groups[at] = groups[at - 1];
      groups[at] = {anchor, members};
    }
    if (count == 0) return;

    row_buffers& b = buffers();
    const std::string& d = o.m_separator;
    const char from = o.m_replacement_char ? o.m_replace_char : 0;
    const char to = o.m_replacement_char;
    const std::string& source = shown_source_text(o);
    // Everything after the type column is the same on each line.
    std::string& tail = b.scratch;
    tail.clear();
    tail += d;
    tail += o.m_user_name;
    tail += d;
    tail += o.m_host_name;
    tail += d;
    std::string spare;
    size_t start = tail.size();
    append_shown(tail, v.m_target_name, spare);
    finish_text(tail, start, from, to, false, spare);
    tail += d;
    start = tail.size();
    tail += v.m_target_name;
    tail += " <- ";
    tail += source;
    tail += "; ";
    // The address is held in place in the record; the parts take texts.
    thread_local std::string mac;
    mac.assign(r.m_mac_address);
    append_parts(tail, {{"vol label-", &r.m_volume_label},
                        {"local path-", &r.m_local_base_path},
                        {"nebios-", &r.m_machine_id},
                        {"mac-", &mac},
                        {"cmdargs-", &r.m_arguments}});
    tail.resize(tail.size() - 2);
    finish_text(tail, start, from, to, true, spare);
    tail += d;
    tail += '2';
    tail += d;
    start = tail.size();
    append_shown(tail, source, spare);
    finish_text(tail, start, from, to, false, spare);
    tail += d;
    append_decimal(tail, o.m_source_inode);  // 0 outside an NTFS scan
    tail += d;
    start = tail.size();
    auto note = [&](const char* label, std::string_view value) {
      if (tail.size() > start) tail += "; ";
      tail += label;
      tail += value;
    };
    if (!r.m_volume_serial.empty()) note("VSN: ", r.m_volume_serial);
    if (r.m_header.m_file_size != 0) {
      note("target size: ", "");
      append_decimal(tail, r.m_header.m_file_size);
    }
    if (r.m_object_droid_time != 0) {
      if (!r.m_volume_droid.empty()) note("VolID: ", r.m_volume_droid);
      note("ObjID: ", r.m_object_droid);
      const size_t before = tail.size();
      note("ObjID time: ", "");
      if (append_filetime_text(tail, r.m_object_droid_time, layout))
        tail += " [UTC]";
      else
        tail.resize(before);
    }
    if (o.m_carve_mode) note("(rawscan)", "");
    finish_text(tail, start, from, to, true, spare);
    tail += d;
    tail += o.m_program_name;
    tail += " (velkor)";
    tail += d;
    const bool listed = o.m_automatic_list || o.m_custom_list;
    if (listed) {
      start = tail.size();
      tail += v.m_appid_text;
      finish_text(tail, start, from, to, true, spare);
    }
    if (o.m_row_line_break) tail += '\n';

    const bool blank = !o.m_no_padding;
    std::string& line = b.line;
    line.clear();
    for (int g = 0; g < count; ++g) {
      const group& e = groups[g];
      const filetime_texts& t = texts[e.anchor];
      if (o.m_pair_datetime) {
        if (blank) line += ' ';
        line += t.date();
        line += ' ';
        line += t.clock();
      } else {
        line += t.date();
        line += d;
        if (blank) line += ' ';
        line += t.clock();
      }
      line += d;
      line += "UTC";
      line += d;
      for (int j = 0; j < 4; ++j) line += (e.members & (1u << j)) ? k_letters[j] : '.';
      line += d;
      line += listed ? "VESKLIST" : "LNK";
      line += d;
      line += r.m_source_type;
      line += d;
      bool first = true;
      for (int j = 0; j < 4; ++j) {
        if (!(e.members & (1u << j))) continue;
        if (!first) line += "; ";
        line += k_labels[j];
        first = false;
      }
      line += tail;
    }
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  });
}

void write_record_bodyfile(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                           const record_values& v) {
  vk::guarded([&] {
    if (o.m_header_pending) {
      o.m_header_pending = 0;
      write_bodyfile_header(out);
      out.put('\n');
    }
    row_buffers& b = buffers();
    std::string& name = b.scratch;
    name.clear();
    name += v.m_target_name;
    name += " (LNK TARGET)";
    if (!r.m_idlist_path.empty()) {
      name += " <- ";
      name += shown_source_text(o);
    }
    if (!r.m_arguments.empty()) {
      name += "; cmdargs-";
      name += r.m_arguments;
    }
    if (o.m_carve_mode) name += " (rawscan)";
    show_line_ends(name);  // one record, one line
    std::string& line = b.line;
    line.clear();
    line += "0|";
    const size_t start = line.size();
    line += name;
    replace_char_find_line_ends(line.data() + start, line.size() - start, '|', ';');
    line += '|';
    append_decimal(line, o.m_show_target_mft ? r.m_target_mft_entry : 0);
    line += '|';  // no mode
    line += "|0|0|";
    append_decimal(line, r.m_header.m_file_size);
    // Unix seconds, 0 for a missing time or one before 1970: access,
    // modify, MRU (in the change column), create.
    for (uint64_t ticks : {v.m_target_times[1], v.m_target_times[0], r.m_mru_time,
                           v.m_target_times[2]}) {
      int64_t seconds = 0;
      line += '|';
      append_decimal(line, ticks != 0 && filetime_to_unix_seconds(ticks, seconds) && seconds > 0
                               ? static_cast<uint64_t>(seconds)
                               : 0);
    }
    if (o.m_row_line_break) line += '\n';
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  });
}

}  // namespace vk
