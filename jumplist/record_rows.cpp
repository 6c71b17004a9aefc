#include "jumplist/record_rows.h"

#include <array>
#include <initializer_list>
#include <sstream>
#include <utility>
#include <vector>

#include "cmdline/path_alias.h"
#include "cmdline/record_writer.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_timestamp_set.h"
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

class row_filler {
 public:
  explicit row_filler(const lnk::useropts& o)
      : m_columns(o.m_columns), m_at(column_positions(o.m_columns)) {
    init_table_row(m_row, static_cast<int32_t>(m_columns.size()), true,
                   o.m_quoted_csv ? static_cast<uint32_t>(vf_quoted) : 0u);
  }

  table_row& row() { return m_row; }

  void text(column_id id, const std::string& value) {
    if (m_at[id] >= 0) set_row_text(m_row, m_at[id], value, vt_text, 0);
  }
  void stream(column_id id, const std::ostringstream& text) {
    if (m_at[id] >= 0) set_row_from_stream(m_row, m_at[id], text, vt_text, 0);
  }
  void number(column_id id, uint64_t value, uint16_t type, uint32_t flags = 0) {
    if (m_at[id] >= 0) set_row_number(m_row, m_at[id], value, type, flags);
  }
  // One cell, or a date and a time cell, as the column was registered.
  void date(column_id id, uint64_t filetime, uint32_t flags = 0) {
    if (m_at[id] < 0) return;
    number(id, filetime, split(id) ? vt_filetime : vt_filetime_1col, flags);
  }
  void na_date(column_id id) {
    if (m_at[id] < 0) return;
    text(id, "na");
    if (split(id)) set_row_text(m_row, m_at[id] + 1, "na", vt_text, 0);
  }

 private:
  bool split(column_id id) const {
    const size_t next = static_cast<size_t>(m_at[id]) + 1;
    return next < m_columns.size() && m_columns[next].m_type == vt_filetime_time;
  }

  const std::vector<vk_variant_lite>& m_columns;
  const column_map m_at;
  table_row m_row;
};

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
std::string joined_parts(labelled_parts parts) {
  std::string out;
  append_parts(out, parts);
  drop_last_chars(out, 2);
  return out;
}

std::string idlist_extra_text(const lnk_record& r) {
  std::string out;
  for (const std::string& detail : r.m_idlist_details) {
    if (!out.empty()) out += "; ";
    out += detail;
  }
  if (!r.m_vista_idlist_extra.empty()) {
    if (!out.empty()) out += "; ";
    out += r.m_vista_idlist_extra;
  }
  if (!r.m_property_keys.empty() && !r.m_property_values.empty()) {
    if (!out.empty()) out += "; ";
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
  return out;
}

void replace_in_record(lnk_record& r, char from, char to) {
  replace_char(r.m_idlist_extra, from, to);
  replace_char(r.m_vista_idlist_extra, from, to);
  for (std::string& s : r.m_vista_idlist_details) replace_char(s, from, to);
  for (std::string& s : r.m_idlist_details) replace_char(s, from, to);
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
  const record_kind kind = kind_of(o);
  row_filler row(o);
  row.text(c_source_path, record_source_text(o));
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
  thread_local std::string attributes;
  attributes.clear();
  append_file_attributes_text(attributes, h.m_file_attributes, "; ");
  row.text(c_attributes, attributes);
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
  row.text(c_idlist_extra, idlist_extra_text(r));
  row.text(c_vol_type, r.m_drive_type);
  row.text(c_vol_serial, r.m_volume_serial);
  row.text(c_vol_label, r.m_volume_label);
  row.text(c_local_path, r.m_local_base_path);
  row.text(c_common_path, r.m_common_path_suffix);
  row.text(c_network, joined_parts({{"[NetworkName]: ", &r.m_net_name},
                                    {"[DeviceName]: ", &r.m_device_name}}));
  static const std::string none;
  const bool has_name = !r.m_name.empty() && r.m_name[0] != '\0';
  row.text(c_extra_info, joined_parts({{"[Description]: ", has_name ? &r.m_name : &none},
                                       {"[RelPath]: ", &r.m_relative_path},
                                       {"[WorkDir]: ", &r.m_working_dir},
                                       {"[CmdArgs]: ", &r.m_arguments},
                                       {"[IconName]: ", &r.m_icon_location},
                                       {"[EnvBlk]: ", &r.m_environment_target}}));
  row.text(c_netbios, r.m_machine_id);
  row.text(c_volume_id, r.m_volume_droid);
  row.text(c_object_id, r.m_object_droid);
  row.text(c_mac, r.m_mac_address);
  if (!o.m_user_name.empty()) row.text(c_user, o.m_user_name);
  if (!o.m_host_name.empty()) row.text(c_host, o.m_host_name);
  if (o.m_idlist_times) {
    std::ostringstream segments;
    idlist_breakout(segments, r, o);
    row.stream(c_segments, segments);
  }
  output_table_row(out, row.row(), o);
}

void write_record_l2t(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                      const record_values& v) {
  l2t_record l2t;
  init_l2t_record(l2t);
  fill_l2t_from_options(l2t, &o);
  const std::string source = record_source_text(o);
  l2t.m_short = v.m_target_name;
  l2t.m_desc = v.m_target_name + " <- " + source + "; ";
  append_parts(l2t.m_desc, {{"vol label-", &r.m_volume_label},
                            {"local path-", &r.m_local_base_path},
                            {"nebios-", &r.m_machine_id},
                            {"mac-", &r.m_mac_address},
                            {"cmdargs-", &r.m_arguments}});
  drop_last_chars(l2t.m_desc, 2);

  std::vector<std::string> notes;
  if (!r.m_volume_serial.empty()) notes.push_back("VSN: " + r.m_volume_serial);
  if (r.m_header.m_file_size != 0)
    notes.push_back("target size: " + std::to_string(r.m_header.m_file_size));
  if (r.m_object_droid_time != 0) {
    if (!r.m_volume_droid.empty()) notes.push_back("VolID: " + r.m_volume_droid);
    notes.push_back("ObjID: " + r.m_object_droid);
    const std::string when = record_date_time_text(r.m_object_droid_time, o.m_time_settings);
    if (!when.empty()) notes.push_back("ObjID time: " + when);
  }
  if (o.m_carve_mode) notes.push_back("(rawscan)");
  for (const std::string& note : notes) {
    if (!l2t.m_notes.empty()) l2t.m_notes += "; ";
    l2t.m_notes += note;
  }

  l2t.m_filename = source;
  // A line end inside a name would split the event line; the writer shows
  // those of the other texts itself.
  show_line_ends(l2t.m_short);
  show_line_ends(l2t.m_filename);
  l2t.m_inode = std::to_string(o.m_source_inode);  // 0 outside an NTFS scan
  l2t.m_times.timestamp_set_values(v.m_target_times[0], v.m_target_times[1], r.m_mru_time,
                                   v.m_target_times[2], type_time::filetime);
  l2t.m_times.timestamp_set_labels("Last Modified", "Last Access", "MRU Time", "Created");
  if (o.m_automatic_list || o.m_custom_list) {
    l2t.m_source = "VESKLIST";
    l2t.m_extra = v.m_appid_text;
  } else {
    l2t.m_source = "LNK";
  }
  l2t.m_sourcetype = r.m_source_type;
  write_l2t_lines(o.m_header_pending, out, l2t);
}

void write_record_bodyfile(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                           const record_values& v) {
  bodyfile_record body;
  init_bodyfile_record(body);
  reset_bodyfile_record(body);
  body.m_settings = &o;
  body.m_times.timestamp_set_values_unix(v.m_target_times[0], v.m_target_times[1], r.m_mru_time,
                                         v.m_target_times[2], type_time::filetime);
  body.m_size = r.m_header.m_file_size;
  body.m_name = v.m_target_name + " (LNK TARGET)";
  if (!r.m_idlist_path.empty()) {
    body.m_name += " <- ";
    body.m_name += record_source_text(o);
  }
  if (!r.m_arguments.empty()) body.m_name += "; cmdargs-" + r.m_arguments;
  if (o.m_carve_mode) body.m_name += " (rawscan)";
  show_line_ends(body.m_name);  // one record, one line
  body.m_inode = o.m_show_target_mft ? r.m_target_mft_entry : 0;
  write_bodyfile_line(o.m_header_pending, out, body);
}

}  // namespace vk
