#include "jumplist/record_rows.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "cmdline/line_sink.h"
#include "cmdline/path_alias.h"
#include "cmdline/record_writer.h"
#include "foundation/uni_stream.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"
#include "jumplist/idlist_breakout.h"
#include "jumplist/source_text.h"
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

// The titles are short: word loads instead of a library call per title.
bool same_text(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) return a == b;
  auto word = [](const char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof(w));
    return w;
  };
  for (size_t i = 0; i + 8 < n; i += 8)
    if (word(a.data() + i) != word(b.data() + i)) return false;
  return word(a.data() + n - 8) == word(b.data() + n - 8);
}

// Where each column landed among the registered titles. Worked out once per
// column list (once per header), not per record: a record only checks that
// the titles are still those the map was made from.
struct column_cache {
  bool made = false;
  std::vector<std::string> titles;
  column_map at{};
};

const column_map& column_positions(column_cache& c, const std::vector<vk_variant_lite>& columns) {
  const size_t count = columns.size();
  bool same = c.made && c.titles.size() == count;
  for (size_t i = 0; same && i < count; ++i) same = same_text(c.titles[i], columns[i].m_text);
  if (same) return c.at;
  c.made = false;
  c.titles.clear();
  for (const vk_variant_lite& column : columns) c.titles.push_back(column.m_text);
  c.at.fill(-1);
  for (size_t i = 0; i < count && i < static_cast<size_t>(k_max_row_cells); ++i) {
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
  uint16_t type = 0;           // a number's type
  uint32_t flags = 0;          // without the row's own
  uint64_t value = 0;          // a number or time; where a built text starts
  const char* data = nullptr;  // text
  size_t size = 0;             // text, built
};

constexpr uint64_t k_ticks_per_day = 86400 * k_ticks_per_second;

// Days from 1601-01-01 to the date (proleptic Gregorian calendar).
constexpr uint64_t days_since_1601(uint64_t year, uint64_t month, uint64_t day) {
  const uint64_t y = month <= 2 ? year - 1 : year;
  const uint64_t m = month <= 2 ? month + 9 : month - 3;
  const uint64_t from_0000 = y * 365 + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day - 1;
  return from_0000 - (1600 * 365 + 1600 / 4 - 1600 / 100 + 1600 / 400 + (153 * 10 + 2) / 5);
}
static_assert(days_since_1601(1601, 1, 1) == 0);
static_assert(days_since_1601(1970, 1, 1) * k_ticks_per_day == k_unix_epoch_ticks);

// Times before this are laid out in full by their day and clock alone.
constexpr uint64_t k_ticks_3001 = days_since_1601(3001, 1, 1) * k_ticks_per_day;

// What each column of the registered list shows, by position: worked out
// once per registered list (a list made elsewhere is read by its titles on
// each record).
struct row_plan {
  uint32_t stamp = 0;
  const void* list = nullptr;
  size_t size = 0;
  std::vector<uint8_t> ids;    // the column_id at each position, c_count for none
  std::vector<uint8_t> split;  // 1 where a date column has its time column after it
};

// Kept from record to record in the run's workspace: a row allocates only
// while these grow.
struct row_buffers {
  std::vector<row_cell> cells;
  std::string scratch;  // the texts built for this record
  std::string line;
  // The date and clock texts of a time and what they were laid out from.
  struct time_texts {
    uint64_t ticks = 0;
    uint32_t layout = 0;
    bool made = false;
    bool valid = false;
    filetime_texts texts;
  };
  // The last time each date column showed: a file's own times stand on each
  // of its records, and a target's times often repeat from record to record.
  std::array<time_texts, c_count> last_times{};
  // The attribute names of the last mask: most records of a run share it.
  std::string attributes;
  uint32_t attribute_mask = 0;
  bool attributes_made = false;
  column_cache columns;
  row_plan plan;
  std::string spare;  // a text whose line ends are shown
};

row_buffers& buffers(const lnk::useropts& o) {
  return o.work().part<row_buffers>();
}

// Runs a row writer; one that memory stopped is counted in the workspace,
// where a road that must say what it lost looks.
template <class F>
void guarded_row(const lnk::useropts& o, F&& write) {
  vk::guarded(write, [&] { count_guard_failure(o.work()); });
}

// A column wider than this is a caller's mistake, not a layout (as for the
// general table writer).
constexpr uint64_t k_max_pad = 65535;

// Each from in the text becomes to (none when from is 0).
inline void replace_from(char* text, size_t size, char from, char to) {
  if (from == 0 || from == to || size == 0) return;
  if (size >= 8 && size <= 16) {
    // Most texts are short and hold none: two word tests instead of a scan.
    constexpr uint64_t ones = 0x0101010101010101ull;
    constexpr uint64_t highs = 0x8080808080808080ull;
    const uint64_t pattern = ones * static_cast<uint8_t>(from);
    auto holds = [&](const char* at) {
      uint64_t w;
      std::memcpy(&w, at, sizeof(w));
      w ^= pattern;  // a zero byte where from stands
      return ((w - ones) & ~w & highs) != 0;
    };
    if (!holds(text) && !holds(text + size - 8)) return;
  }
  char* const end = text + size;
  for (auto* p = static_cast<char*>(std::memchr(text, from, size)); p != nullptr;
       p = static_cast<char*>(std::memchr(p + 1, from, static_cast<size_t>(end - p - 1))))
    *p = to;
}

class row_filler {
 public:
  row_filler(const lnk::useropts& o, row_buffers& b)
      : m_columns(o.m_columns), m_at(column_positions(b.columns, o.m_columns)), m_b(b) {
    const size_t n =
        m_columns.size() <= static_cast<size_t>(k_max_row_cells) ? m_columns.size() : 0;
    // All cells empty: the zero bytes of a row_cell are its empty state.
    // Each cell is set at most once after, and a kind reads only the
    // fields its setter sets.
    static_assert(std::is_trivially_copyable_v<row_cell>);
    m_b.cells.resize(n);
    if (n != 0) std::memset(static_cast<void*>(m_b.cells.data()), 0, n * sizeof(row_cell));
  }

  void text(column_id id, std::string_view value) {
    if (row_cell* c = at(m_at[id])) set_text(*c, value);
  }
  // The scratch text from start to end.
  void built(column_id id, size_t start, size_t end) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    c->kind = row_cell::built;
    c->value = start;
    c->size = end - start;
  }
  void number(column_id id, uint64_t value, uint16_t type, uint32_t flags = 0) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    c->kind = row_cell::number;
    c->type = type;
    c->flags = flags;
    c->value = value;
  }
  // One cell, or a date and a time cell, as the column was registered.
  void date(column_id id, uint64_t filetime, uint32_t flags = 0) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    c->kind = split(id) ? row_cell::time_two : row_cell::time_one;
    c->flags = flags;
    c->value = filetime;
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
  if (c.kind == row_cell::built) return std::string_view(b.scratch).substr(c.value, c.size);
  return {c.data, c.size};
}

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

using labelled_parts = std::initializer_list<std::pair<std::string_view, std::string_view>>;

// The non-empty parts, each after its label, joined by "; ".
void put_joined_parts(line_sink& out, labelled_parts parts) {
  bool first = true;
  for (const auto& [label, value] : parts) {
    if (value.empty()) continue;
    if (!first) out.put("; ");
    out.put(label);
    out.put(value);
    first = false;
  }
}

void put_idlist_extra(line_sink& out, const lnk_record& r) {
  const size_t start = out.size();
  auto next = [&] {
    if (out.size() > start) out.put("; ");
  };
  for (const std::string& detail : r.m_idlist_details) {
    next();
    out.put(detail);
  }
  if (!r.m_vista_idlist_extra.empty()) {
    next();
    out.put(r.m_vista_idlist_extra);
  }
  if (!r.m_property_keys.empty() && !r.m_property_values.empty()) {
    next();
    const size_t n = r.m_property_keys.size() < r.m_property_values.size()
                         ? r.m_property_keys.size()
                         : r.m_property_values.size();
    for (size_t i = 0; i < n; ++i) {
      if (i) out.put("; ");
      out.put(r.m_property_keys[i]);
      out.put(" [");
      out.put(r.m_property_values[i]);
      out.put(']');
    }
  }
}

void replace_in_record(lnk_record& r, char from, char to) {
  auto in = [&](std::string& s) { replace_from(s.data(), s.size(), from, to); };
  in(r.m_idlist_extra);
  in(r.m_vista_idlist_extra);
  for (std::string& s : r.m_vista_idlist_details) in(s);
  for (std::string& s : r.m_idlist_details) in(s);
}

// The record's cells by column.
void fill_row(row_buffers& b, lnk_record& r, lnk::useropts& o, const record_values& v) {
  const record_kind kind = kind_of(o);
  row_filler row(o, b);
  line_sink scratch(b.scratch);
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
  if (!b.attributes_made || b.attribute_mask != h.m_file_attributes) {
    b.attributes.clear();
    append_file_attributes_text(b.attributes, h.m_file_attributes, "; ");
    b.attribute_mask = h.m_file_attributes;
    b.attributes_made = true;
  }
  row.text(c_attributes, b.attributes);
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
  size_t start = scratch.size();
  put_idlist_extra(scratch, r);
  row.built(c_idlist_extra, start, scratch.size());
  row.text(c_vol_type, r.m_drive_type);
  row.text(c_vol_serial, r.m_volume_serial);
  row.text(c_vol_label, r.m_volume_label);
  row.text(c_local_path, r.m_local_base_path);
  row.text(c_common_path, r.m_common_path_suffix);
  start = scratch.size();
  put_joined_parts(scratch,
                   {{"[NetworkName]: ", r.m_net_name}, {"[DeviceName]: ", r.m_device_name}});
  row.built(c_network, start, scratch.size());
  const bool has_name = !r.m_name.empty() && r.m_name[0] != '\0';
  start = scratch.size();
  put_joined_parts(scratch, {{"[Description]: ", has_name ? std::string_view(r.m_name) : ""},
                             {"[RelPath]: ", r.m_relative_path},
                             {"[WorkDir]: ", r.m_working_dir},
                             {"[CmdArgs]: ", r.m_arguments},
                             {"[IconName]: ", r.m_icon_location},
                             {"[EnvBlk]: ", r.m_environment_target}});
  row.built(c_extra_info, start, scratch.size());
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
    scratch.put(segments.str());
    row.built(c_segments, start, scratch.size());
  }
}

const row_plan& plan_for(row_buffers& b, const lnk::useropts& o) {
  row_plan& p = b.plan;
  const std::vector<vk_variant_lite>& columns = o.m_columns;
  if (o.m_columns_stamp != 0 && p.stamp == o.m_columns_stamp && p.list == columns.data() &&
      p.size == columns.size())
    return p;
  const column_map& at = column_positions(b.columns, columns);
  const size_t n = columns.size() <= static_cast<size_t>(k_max_row_cells) ? columns.size() : 0;
  p.ids.assign(n, static_cast<uint8_t>(c_count));
  p.split.assign(n, 0);
  for (size_t id = 0; id < c_count; ++id)
    if (at[id] >= 0 && static_cast<size_t>(at[id]) < n)
      p.ids[static_cast<size_t>(at[id])] = static_cast<uint8_t>(id);
  for (size_t i = 0; i + 1 < n; ++i) p.split[i] = columns[i + 1].m_type == vt_filetime_time;
  p.stamp = o.m_columns_stamp;
  p.list = columns.data();
  p.size = columns.size();
  return p;
}

// The record's row as the general table writer lays out the cells fill_row
// makes (padding, quoting, replacement, time layouts), written cell by cell
// in column order straight into one buffer.
class row_line {
 public:
  row_line(lnk_record& r, const lnk::useropts& o, const record_values& v, row_buffers& b)
      : m_r(r),
        m_o(o),
        m_v(v),
        m_s(o),
        m_b(b),
        m_out(b.line),
        m_kind(kind_of(o)),
        m_pad(!o.m_no_padding),
        m_blank(m_pad ? " " : ""),
        m_defaults(o.m_quoted_csv ? static_cast<uint32_t>(vf_quoted) : 0u),
        m_from(o.m_replacement_char ? o.m_replace_char : 0),
        m_to(o.m_replacement_char),
        m_show(o.m_csv || o.m_csvl2t || o.m_csvgen || o.m_bodyfile),
        m_separator(o.m_separator.size() == 1 ? o.m_separator[0] : '\0'),
        m_no_entry(m_kind.listed && (!o.m_automatic_list || r.m_from_free_space)),
        m_plain(!m_pad && !(m_defaults & vf_quoted)) {}

  // The line; empty when a text cell holds a line end to be shown, which
  // the general writer does (such rows are rare).
  std::string_view write(const row_plan& plan) {
    if (m_o.m_replace_char) replace_in_record(m_r, m_o.m_replace_char, m_o.m_replacement_char);
    const size_t count = plan.ids.size();
    m_count = count;
    for (size_t i = 0; i < count; ++i) {
      i = cell(i, static_cast<column_id>(plan.ids[i]), plan.split[i] != 0);
      if (i + 1 < count) separator();
    }
    if (m_show && has_line_end(m_out.text())) return {};
    if (m_s.m_row_line_break) m_out.put('\n');
    return m_out.text();
  }

 private:
  // Writes the cell at i (a date with its time cell after it: both);
  // returns the index of the last cell written.
  size_t cell(size_t i, column_id id, bool split) {
    const lnk_record& r = m_r;
    const lnk::useropts& o = m_o;
    const lnk_header& h = r.m_header;
    const bool listed = m_kind.listed;
    const bool no_entry = m_no_entry;
    switch (id) {
      case c_source_path:
        return text(i, shown_source_text(o));
      case c_source_type:
        return text(i, r.m_source_type);
      case c_appid:
        return listed ? text(i, m_v.m_appid_text) : empty(i);
      case c_mru_position: {
        if (no_entry) return text(i, "na");
        const auto position = static_cast<uint32_t>(r.m_mru_position);
        if (listed && position >= 1 && position <= k_max_mru_position)
          return number(i, position, vt_u32, vf_decimal);
        return empty(i);
      }
      case c_stream:
        if (no_entry) return text(i, "na");
        if (listed && r.m_entry_num != 0) return number(i, r.m_entry_num, vt_u64, vf_decimal);
        return empty(i);
      case c_mru_date:
        if (no_entry) return na_date(i, split);
        return listed ? date(i, id, r.m_mru_time, 0, split) : empty(i);
      case c_interaction:
        if (no_entry || (listed && !r.m_has_access_count)) return text(i, "na");
        return listed ? number(i, r.m_access_count, vt_u32, vf_decimal) : empty(i);
      case c_file_modify:
        return m_kind.carved ? empty(i)
                             : date(i, id, o.m_source_modify_time, vf_no_subseconds, split);
      case c_file_access:
        return m_kind.carved ? empty(i)
                             : date(i, id, o.m_source_access_time, vf_no_subseconds, split);
      case c_file_create:
        return m_kind.carved || !o.m_ntfs_scan
                   ? empty(i)
                   : date(i, id, o.m_source_change_time, vf_no_subseconds, split);
      case c_file_mft:
        // An NTFS scan knows the file's MFT time apart from its creation time.
        if (m_kind.carved) return empty(i);
        return o.m_ntfs_scan ? date(i, id, o.m_source_mft_time, 0, split)
                             : date(i, id, o.m_source_change_time, vf_no_subseconds, split);
      case c_tgt_modify:
        return date(i, id, m_v.m_target_times[0], 0, split);
      case c_tgt_access:
        return date(i, id, m_v.m_target_times[1], 0, split);
      case c_tgt_create:
        return date(i, id, m_v.m_target_times[2], 0, split);
      case c_objid_date:
        return date(i, id, r.m_object_droid_time, 0, split);
      case c_attributes:
        if (!m_b.attributes_made || m_b.attribute_mask != h.m_file_attributes) {
          m_b.attributes.clear();
          append_file_attributes_text(m_b.attributes, h.m_file_attributes, "; ");
          m_b.attribute_mask = h.m_file_attributes;
          m_b.attributes_made = true;
        }
        return text(i, m_b.attributes);
      case c_lnk_offset:
        return m_kind.carved || o.m_show_offset ? number(i, r.m_file_offset, vt_u64) : empty(i);
      case c_src_inode:
        return o.m_ntfs_scan && o.m_source_inode != 0 ? number(i, o.m_source_inode, vt_u64)
                                                      : empty(i);
      case c_src_seq:
        return o.m_ntfs_scan && o.m_source_inode != 0 ? number(i, o.m_source_seq, vt_u16)
                                                      : empty(i);
      case c_target_inode:
        return o.m_show_target_mft && r.m_target_mft_entry != 0
                   ? number(i, r.m_target_mft_entry, vt_u64)
                   : empty(i);
      case c_target_seq:
        return o.m_show_target_mft && r.m_target_mft_entry != 0
                   ? number(i, r.m_target_mft_seq, vt_u16)
                   : empty(i);
      case c_file_size:
        return h.m_file_size != 0 ? number(i, h.m_file_size, vt_u32) : empty(i);
      case c_target_name:
        return text(i, m_v.m_target_name);
      case c_idlist_extra:
        return built(i, [&](line_sink& out) { put_idlist_extra(out, r); });
      case c_vol_type:
        return text(i, r.m_drive_type);
      case c_vol_serial:
        return text(i, r.m_volume_serial);
      case c_vol_label:
        return text(i, r.m_volume_label);
      case c_local_path:
        return text(i, r.m_local_base_path);
      case c_common_path:
        return text(i, r.m_common_path_suffix);
      case c_network:
        return built(i, [&](line_sink& out) {
          put_joined_parts(
              out, {{"[NetworkName]: ", r.m_net_name}, {"[DeviceName]: ", r.m_device_name}});
        });
      case c_extra_info:
        return built(i, [&](line_sink& out) {
          const bool has_name = !r.m_name.empty() && r.m_name[0] != '\0';
          put_joined_parts(out, {{"[Description]: ", has_name ? std::string_view(r.m_name) : ""},
                                 {"[RelPath]: ", r.m_relative_path},
                                 {"[WorkDir]: ", r.m_working_dir},
                                 {"[CmdArgs]: ", r.m_arguments},
                                 {"[IconName]: ", r.m_icon_location},
                                 {"[EnvBlk]: ", r.m_environment_target}});
        });
      case c_netbios:
        return text(i, r.m_machine_id);
      case c_volume_id:
        return text(i, r.m_volume_droid);
      case c_object_id:
        return text(i, r.m_object_droid);
      case c_mac:
        return text(i, r.m_mac_address);
      case c_user:
        return o.m_user_name.empty() ? empty(i) : text(i, o.m_user_name);
      case c_host:
        return o.m_host_name.empty() ? empty(i) : text(i, o.m_host_name);
      case c_segments:
        if (!o.m_idlist_times) return empty(i);
        return built(i, [&](line_sink& out) {
          std::ostringstream segments;
          idlist_breakout(segments, r, o);
          out.put(segments.str());
        });
      case c_count:
        break;
    }
    return empty(i);
  }

  uint64_t column_width(size_t i) const {
    return i < m_s.m_columns.size() ? m_s.m_columns[i].m_width : 0;
  }
  uint64_t width(size_t i) const { return m_pad ? column_width(i) : 0; }

  void separator() {
    if (m_separator != '\0')
      m_out.put(m_separator);
    else
      m_out.put(m_s.m_separator);
  }

  // Blanks after what was written from start, up to the width.
  void pad(size_t start, uint64_t w) {
    if (w > k_max_pad) w = k_max_pad;
    const size_t used = m_out.size() - start;
    if (w > used) m_out.fill(static_cast<size_t>(w) - used, ' ');
  }

  void aligned(std::string_view value, uint64_t w, bool right, char fill) {
    if (w > k_max_pad) w = k_max_pad;
    const size_t n = w > value.size() ? static_cast<size_t>(w - value.size()) : 0;
    if (right) m_out.fill(n, fill);
    m_out.put(value);
    if (!right) m_out.fill(n, fill);
  }

  size_t empty(size_t i) {
    if (m_pad) pad(m_out.size(), width(i));
    return i;
  }

  // Small, so that the usual cell is written where it is asked for.
  size_t text(size_t i, std::string_view t) {
    if (!m_plain) return laid_out_text(i, t);
    // No quotes, no widths: the text as it stands, replaced in place.
    const size_t n = t.size();
    if (n == 0) return i;
    char* const at = m_out.room(n);
    std::memcpy(at, t.data(), n);
    replace_from(at, n, m_from, m_to);
    m_out.advance_to(at + n);
    return i;
  }

  size_t laid_out_text(size_t i, std::string_view t) {
    if (t.empty() && !(m_defaults & vf_quoted)) return empty(i);
    const size_t start = m_out.size();
    if (m_defaults & vf_quoted) {
      m_out.put('"');
      size_t from = 0;
      for (size_t q = t.find('"'); q != std::string_view::npos; q = t.find('"', from)) {
        m_out.put(t.substr(from, q + 1 - from));
        m_out.put('"');
        from = q + 1;
      }
      m_out.put(t.substr(from));
      m_out.put('"');
    } else {
      m_out.put(t);
    }
    replace_from(m_out.data() + start, m_out.size() - start, m_from, m_to);
    if (m_pad) pad(start, width(i));
    return i;
  }

  // A text put together by make: in place, or through the scratch text
  // when it is to be quoted.
  template <class Make>
  size_t built(size_t i, Make make) {
    if (m_defaults & vf_quoted) {
      line_sink scratch(m_b.scratch);
      make(scratch);
      return laid_out_text(i, scratch.text());
    }
    const size_t start = m_out.size();
    make(m_out);
    replace_from(m_out.data() + start, m_out.size() - start, m_from, m_to);
    if (m_pad) pad(start, width(i));
    return i;
  }

  size_t number(size_t i, uint64_t value, uint16_t type, uint32_t flags = 0) {
    const uint64_t w = column_width(i);
    const uint32_t f = flags | m_defaults;
    char buf[24];
    if (m_s.m_hex_numbers && !(f & vf_decimal)) {
      uint64_t digits = 0;
      if (m_pad && w >= 2) {
        digits = w - 2;
      } else if (type == vt_u8) {
        digits = 2;
      } else if (type == vt_u16) {
        digits = 4;
      } else if (type == vt_u32 || type == vt_u64) {
        digits = 8;
      }
      if (digits >= 1 && digits <= 16) {
        char* at = m_out.room(k_number_text_room);
        m_out.advance_to(put_hex_number_text(at, value, true, static_cast<unsigned>(digits)));
        return i;
      }
      const auto r = std::to_chars(buf, buf + sizeof(buf), value, 16);
      m_out.put('0');
      m_out.put('x');
      aligned(std::string_view(buf, static_cast<size_t>(r.ptr - buf)), digits, true, '0');
      return i;
    }
    if (!m_pad || w == 0) {
      m_out.advance_to(put_decimal(m_out.room(k_number_text_room), value));
      return i;
    }
    const auto r = std::to_chars(buf, buf + sizeof(buf), value);
    aligned(std::string_view(buf, static_cast<size_t>(r.ptr - buf)), w, true, ' ');
    return i;
  }

  // "na" in the date cell and, for a split column, in its time cell.
  size_t na_date(size_t i, bool split) {
    text(i, "na");
    if (!split || i + 1 >= m_count) return i;
    separator();
    return text(i + 1, "na");
  }

  size_t date(size_t i, column_id id, uint64_t ticks, uint32_t flags, bool split) {
    time_format_descriptor d = m_s.m_time_settings.m_descriptor;
    if ((flags | m_defaults) & vf_no_subseconds)
      d.m_time_flags &= static_cast<uint8_t>(~time_format_descriptor::subsecond_mask);
    row_buffers::time_texts& last = m_b.last_times[id];
    const uint32_t key = d.as_u32();
    if (!last.made || last.ticks != ticks || last.layout != key) {
      if (m_prev && m_prev->ticks == ticks && m_prev->layout == key) {
        last = *m_prev;  // the cell before showed the same time
      } else {
        last.valid = filetime_date_clock(last.texts, ticks, d);
        last.ticks = ticks;
        last.layout = key;
        last.made = true;
      }
    }
    m_prev = &last;
    const std::string_view date = last.valid ? last.texts.date() : m_blank;
    const std::string_view clock = last.valid ? last.texts.clock() : m_blank;
    if (!m_pad && split && i + 1 < m_count && m_separator != '\0') {
      // The usual row: date, separator, blank, clock with no widths.
      // Short texts go as whole blocks of a fixed size (the room holds them).
      constexpr size_t k_block = 32;
      static_assert(sizeof(filetime_texts::m_date) >= k_block &&
                    sizeof(filetime_texts::m_clock) >= k_block);
      char* at = m_out.room(sizeof(filetime_texts::m_date) + sizeof(filetime_texts::m_clock) + 2);
      auto copy = [&](std::string_view t) {
        if (t.size() <= k_block && t.data() != m_blank.data())
          std::memcpy(at, t.data(), k_block);
        else
          std::memcpy(at, t.data(), t.size());
        at += t.size();
      };
      copy(date);
      *at++ = m_separator;
      if (m_s.m_cell_blank) *at++ = ' ';
      copy(clock);
      m_out.advance_to(at);
      return i + 1;
    }
    if (!split) {
      if (m_pad && m_s.m_cell_blank) m_out.put(' ');
      const size_t start = m_out.size();
      m_out.put(date);
      m_out.put(' ');
      m_out.put(clock);
      pad(start, width(i));
      return i;
    }
    aligned(date, width(i), false, ' ');
    separator();
    if (i + 1 >= m_count) return i;
    ++i;
    if (m_s.m_cell_blank) m_out.put(' ');
    aligned(clock, width(i), false, ' ');
    return i;
  }

  lnk_record& m_r;
  const lnk::useropts& m_o;
  const record_values& m_v;
  const cmd_params& m_s;
  row_buffers& m_b;
  line_sink m_out;
  const record_kind m_kind;
  const bool m_pad;
  const std::string_view m_blank;
  const uint32_t m_defaults;
  const char m_from;
  const char m_to;
  const bool m_show;
  const char m_separator;  // the separator when one character, else 0
  const bool m_no_entry;   // a listed record with no DestList entry behind it
  const bool m_plain;      // no widths and no quotes: cells as they stand
  size_t m_count = 0;
  const row_buffers::time_texts* m_prev = nullptr;  // the last date cell's texts
};

// The log2timeline columns after the type column, without the line end.
// With show, each text shows its line ends as the line's own texts do;
// without, the texts are only replaced in (for a record without line ends,
// the same line).
void l2t_tail(line_sink& tail, std::string& spare, const lnk_record& r, const lnk::useropts& o,
              const record_values& v, bool show) {
  const std::string& d = o.m_separator;
  const char from = o.m_replacement_char ? o.m_replace_char : 0;
  const char to = o.m_replacement_char;
  const std::string& source = shown_source_text(o);
  auto shown = [&](std::string_view text) {
    spare.assign(text);
    show_line_ends(spare);
    tail.put(spare);
  };
  // Shown before replacing (a name, the source) or after (the others).
  auto shown_then_replaced = [&](std::string_view text) {
    const size_t start = tail.size();
    if (show && has_line_end(text))
      shown(text);
    else
      tail.put(text);
    replace_from(tail.data() + start, tail.size() - start, from, to);
  };
  auto replaced_then_shown = [&](size_t start) {
    replace_from(tail.data() + start, tail.size() - start, from, to);
    const std::string_view text = tail.text().substr(start);
    if (!show || !has_line_end(text)) return;
    spare.assign(text);
    show_line_ends(spare);
    tail.truncate(start);
    tail.put(spare);
  };
  tail.put(d);
  tail.put(o.m_user_name);
  tail.put(d);
  tail.put(o.m_host_name);
  tail.put(d);
  shown_then_replaced(v.m_target_name);
  tail.put(d);
  size_t start = tail.size();
  tail.put(v.m_target_name);
  tail.put(" <- ");
  tail.put(source);
  tail.put("; ");
  for (const auto& [label, value] :
       {std::pair<std::string_view, std::string_view>{"vol label-", r.m_volume_label},
        {"local path-", r.m_local_base_path},
        {"nebios-", r.m_machine_id},
        {"mac-", r.m_mac_address},
        {"cmdargs-", r.m_arguments}}) {
    if (value.empty()) continue;
    tail.put(label);
    tail.put(value);
    tail.put("; ");
  }
  tail.truncate(tail.size() - 2);
  replaced_then_shown(start);
  tail.put(d);
  tail.put('2');
  tail.put(d);
  shown_then_replaced(source);
  tail.put(d);
  tail.put_decimal(o.m_source_inode);  // 0 outside an NTFS scan
  tail.put(d);
  start = tail.size();
  auto note = [&](std::string_view label, std::string_view value) {
    if (tail.size() > start) tail.put("; ");
    tail.put(label);
    tail.put(value);
  };
  if (!r.m_volume_serial.empty()) note("VSN: ", r.m_volume_serial);
  if (r.m_header.m_file_size != 0) {
    note("target size: ", "");
    tail.put_decimal(r.m_header.m_file_size);
  }
  if (r.m_object_droid_time != 0) {
    if (!r.m_volume_droid.empty()) note("VolID: ", r.m_volume_droid);
    note("ObjID: ", r.m_object_droid);
    // A date, a blank and a clock for a valid time of the years to 3000.
    filetime_texts t;
    if (r.m_object_droid_time < k_ticks_3001 &&
        filetime_date_clock(t, r.m_object_droid_time, o.m_time_settings.m_descriptor) &&
        !t.date().empty()) {
      note("ObjID time: ", t.date());
      tail.put(' ');
      tail.put(t.clock());
      tail.put(" [UTC]");
    }
  }
  if (o.m_carve_mode) note("(rawscan)", "");
  replaced_then_shown(start);
  tail.put(d);
  tail.put(o.m_program_name);
  tail.put(" (velkor)");
  tail.put(d);
  if (o.m_automatic_list || o.m_custom_list) {
    start = tail.size();
    tail.put(v.m_appid_text);
    replaced_then_shown(start);
  }
}

// The target a body-file line names: an ID-list path, else the LinkInfo
// path (local, else network), else the first of the other texts that name
// it, else the description.
void put_bodyfile_target(line_sink& out, const lnk_record& r) {
  for (const std::string* s : {&r.m_idlist_path, &r.m_vista_idlist_path})
    if (!s->empty()) return out.put(*s);
  const std::string& suffix = r.m_common_path_suffix;
  if (!r.m_local_base_path.empty()) {
    out.put(r.m_local_base_path);
    return out.put(suffix);
  }
  if (!r.m_net_name.empty()) {
    out.put(r.m_net_name);
    if (!suffix.empty()) out.put('\\');
    return out.put(suffix);
  }
  for (const std::string* s : {&r.m_environment_target, &r.m_relative_path, &r.m_icon_location})
    if (!s->empty()) return out.put(*s);
  if (!r.m_name.empty() && r.m_name[0] != '\0') return out.put(r.m_name);
  out.put(r.m_destlist_path);
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
  static std::atomic<uint32_t> stamps{0};
  uint32_t stamp = ++stamps;
  if (stamp == 0) stamp = ++stamps;
  o.m_columns_stamp = stamp;
  write_table_header(out, o);
}

void write_record_row(std::ostream& out, lnk_record& r, lnk::useropts& o, const record_values& v) {
  if (o.m_multiline || (o.m_row_redirect && o.m_row_target)) {
    // Labelled lines and redirected rows stay with the general writer.
    write_record_row_as_table(out, r, o, v);
    return;
  }
  guarded_row(o, [&] {
    row_buffers& b = buffers(o);
    if (o.m_header_pending) write_table_header(out, o);
    const row_plan& plan = plan_for(b, o);
    if (plan.ids.empty()) return;
    const std::string_view line = row_line(r, o, v, b).write(plan);
    if (line.empty()) {
      fill_row(b, r, o, v);
      table_row row = as_table_row(b, o);
      output_table_row(out, row, o);
      return;
    }
    uni::write_block(out, line.data(), line.size());
  });
}

void write_record_row_as_table(std::ostream& out, lnk_record& r, lnk::useropts& o,
                               const record_values& v) {
  guarded_row(o, [&] {
    row_buffers& b = buffers(o);
    fill_row(b, r, o, v);
    table_row row = as_table_row(b, o);
    output_table_row(out, row, o);
  });
}

void write_record_l2t(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                      const record_values& v) {
  guarded_row(o, [&] {
    if (o.m_header_pending) {
      o.m_header_pending = 0;
      write_l2t_header(out, o.m_separator, false, o.m_pair_datetime != 0);
      out.put('\n');
    }
    // The MACB groups of the four times: each valid time not yet placed
    // takes the later ones of the same instant; the groups by instant.
    static const char* const k_labels[4] = {"Last Modified", "Last Access", "MRU Time", "Created"};
    static const char k_letters[4] = {'M', 'A', 'C', 'B'};
    const uint64_t raw[4] = {v.m_target_times[0], v.m_target_times[1], r.m_mru_time,
                             v.m_target_times[2]};
    const time_format_descriptor& layout = o.m_time_settings.m_descriptor;
    row_buffers& b = buffers(o);
    // Copied: the next time's texts take the room of the last.
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

    // Everything after the type column is the same on each line.
    line_sink tail(b.scratch);
    l2t_tail(tail, b.spare, r, o, v, false);
    if (has_line_end(tail.text())) {
      tail.truncate(0);
      l2t_tail(tail, b.spare, r, o, v, true);
    }
    if (o.m_row_line_break) tail.put('\n');

    const std::string& d = o.m_separator;
    const bool listed = o.m_automatic_list || o.m_custom_list;
    const bool blank = !o.m_no_padding;
    const char from = o.m_replacement_char ? o.m_replace_char : 0;
    const char to = o.m_replacement_char;
    line_sink line(b.line);
    for (int g = 0; g < count; ++g) {
      const group& e = groups[g];
      const filetime_texts& t = texts[e.anchor];
      if (o.m_pair_datetime) {
        if (blank) line.put(' ');
        line.put(t.date());
        line.put(' ');
        line.put(t.clock());
      } else {
        line.put(t.date());
        line.put(d);
        if (blank) line.put(' ');
        line.put(t.clock());
      }
      line.put(d);
      line.put("UTC");
      line.put(d);
      for (int j = 0; j < 4; ++j) line.put((e.members & (1u << j)) ? k_letters[j] : '.');
      line.put(d);
      line.put(listed ? "VESKLIST" : "LNK");
      line.put(d);
      line.put(r.m_source_type);
      line.put(d);
      const size_t labels = line.size();
      bool first = true;
      for (int j = 0; j < 4; ++j) {
        if (!(e.members & (1u << j))) continue;
        if (!first) line.put("; ");
        line.put(k_labels[j]);
        first = false;
      }
      // The labels' own "; " stays in its column when ';' separates.
      replace_from(line.data() + labels, line.size() - labels, from, to);
      line.put(tail.text());
    }
    const std::string_view text = line.text();
    uni::write_block(out, text.data(), text.size());
  });
}

void write_record_bodyfile(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                           const record_values& v) {
  guarded_row(o, [&] {
    if (o.m_header_pending) {
      o.m_header_pending = 0;
      write_bodyfile_header(out);
      out.put('\n');
    }
    row_buffers& b = buffers(o);
    line_sink line(b.line);
    line.put("0|");
    const size_t start = line.size();
    put_bodyfile_target(line, r);
    line.put(" (LNK TARGET) <- ");
    line.put(shown_source_text(o));
    // mactime folds lines of one name together: the DestList entry, or
    // else the link's place in its file, makes each record's name its own.
    if (o.m_automatic_list && !r.m_from_free_space) {
      line.put(" #");
      line.put_decimal(r.m_entry_num);
    } else {
      line.put(" @");
      line.advance_to(put_hex_number_text(line.room(k_number_text_room), r.m_file_offset, true, 8));
    }
    if (!r.m_arguments.empty()) {
      line.put("; cmdargs-");
      line.put(r.m_arguments);
    }
    if (o.m_carve_mode) line.put(" (rawscan)");
    const std::string_view name = line.text().substr(start);
    if (has_line_end(name)) {  // one record, one line
      std::string& shown = b.scratch;
      shown.assign(name);
      show_line_ends(shown);
      line.truncate(start);
      line.put(shown);
    }
    replace_from(line.data() + start, line.size() - start, '|', ';');
    line.put('|');
    line.put_decimal(o.m_show_target_mft ? r.m_target_mft_entry : 0);
    line.put('|');  // no mode
    line.put("|0|0|");
    line.put_decimal(r.m_header.m_file_size);
    // Unix seconds, 0 for a missing time or one before 1970: access,
    // modify, MRU (in the change column), create.
    for (uint64_t ticks :
         {v.m_target_times[1], v.m_target_times[0], r.m_mru_time, v.m_target_times[2]}) {
      int64_t seconds = 0;
      line.put('|');
      line.put_decimal(ticks != 0 && filetime_to_unix_seconds(ticks, seconds) && seconds > 0
                           ? static_cast<uint64_t>(seconds)
                           : 0);
    }
    if (o.m_row_line_break) line.put('\n');
    const std::string_view text = line.text();
    uni::write_block(out, text.data(), text.size());
  });
}

}  // namespace vk
