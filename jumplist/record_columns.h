// What each report form shows of a record, each rule written once: the row
// columns (CSV and table rows, walked by both row writers), the texts that
// some cells join, the labelled block's text lines and the log2timeline
// description's parts. A text of the record is read through its rule here
// and written with its control characters as marks (line_sink.h); no writer
// changes the record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "cmdline/line_sink.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_time.h"
#include "foundation/vk_variant.h"
#include "jumplist/lnk_record.h"
#include "jumplist/lnk_text_fields.h"
#include "jumplist/report_scratch.h"
#include "jumplist/source_text.h"
#include "jumplist/vesk_options.h"

namespace vk {

// ---- texts of the record ----

// The texts' rules are the field list's (lnk_text_fields.h).
struct labelled_text {
  const char* label;
  text_rule text;
};

using texts_of = lnk_record_texts;
using values_of = lnk_record_values;

constexpr size_t list_order(const text_field&) {
  return 0;
}

// The field list's parts of one kind: each field Takes, after its Label, in
// the order Place gives (the list's among equals).
template <bool (*Takes)(const text_field&), const char* (*Label)(const text_field&),
          size_t (*Place)(const text_field&) = list_order>
constexpr auto labelled_parts() {
  constexpr size_t n = [] {
    size_t k = 0;
    for (const text_field& f : k_text_fields) k += Takes(f);
    return k;
  }();
  std::array<labelled_text, n> parts{};
  std::array<size_t, n> places{};
  size_t k = 0;
  for (const text_field& f : k_text_fields) {
    if (!Takes(f)) continue;
    places[k] = Place(f);
    parts[k++] = {Label(f), f.text};
  }
  for (size_t i = 1; i < n; ++i)
    for (size_t j = i; j > 0 && places[j] < places[j - 1]; --j) {
      std::swap(places[j], places[j - 1]);
      std::swap(parts[j], parts[j - 1]);
    }
  return parts;
}

constexpr bool network_part(const text_field& f) {
  return f.part.in == text_form::cell::network;
}
constexpr bool extra_info_part(const text_field& f) {
  return f.part.in == text_form::cell::extra;
}
constexpr const char* part_label(const text_field& f) {
  return f.part.label;
}
constexpr bool l2t_description_part(const text_field& f) {
  return l2t_place(f) != 0;
}
constexpr const char* l2t_label(const text_field& f) {
  return f.l2t.label;
}

// The parts of the row cells that join several texts, each after its label,
// the non-empty ones joined by "; ".
inline constexpr auto k_network_parts = labelled_parts<network_part, part_label>();
inline constexpr auto k_extra_info_parts = labelled_parts<extra_info_part, part_label>();

// The log2timeline description after the target and source: each non-empty
// text after its label, each followed by "; ".
inline constexpr auto k_l2t_description_parts =
    labelled_parts<l2t_description_part, l2t_label, l2t_place>();

// ---- the row columns ----

// Which kind of record the per-file flags describe.
struct record_kind {
  bool listed;  // automatic or custom jump list: AppID and DestList cells
  bool carved;  // carve road: no source file dates, the LNK offset shown
};

inline record_kind record_kind_of(const lnk::useropts& o) {
  const bool listed = o.m_automatic_list || o.m_custom_list;
  return {listed, o.m_carve_mode && !listed};
}

// Whether a record shows the DestList cells of an entry: every record of a
// list read as a file but its free space's, and the records of a carved
// list that an entry names (given their place in it).
inline bool shows_destlist_entry(const lnk::useropts& o, const lnk_record& r) {
  return !r.m_from_free_space && (o.m_automatic_list || r.m_mru_position > 0);
}

// What a column's rule reads.
struct column_source {
  const lnk_record& r;
  const lnk::useropts& o;
  const record_values& v;
  row_buffers& b;  // texts kept from record to record
  record_kind kind;
  bool no_entry;  // a listed record with no DestList entry behind it
  // The record's DestList cells are shown: every listed record's, and a
  // carved list's rows wherever they were carved.
  bool entry;
};

// A text of the record in a joined cell, with its marks: held rather than
// copied when large (the record outlives the line), replaced as the cell
// is.
void put_record_part(line_sink& out, const column_source& s, std::string_view text);

// The non-empty parts, each after its label, joined by "; ", with marks.
template <size_t N>
void put_joined_parts(line_sink& out, const column_source& s,
                      const std::array<labelled_text, N>& parts) {
  bool first = true;
  for (const labelled_text& part : parts) {
    const std::string_view value = part.text(s.r);
    if (value.empty()) continue;
    if (!first) out.put("; ");
    out.put(part.label);
    put_record_part(out, s, value);
    first = false;
  }
}

// What a column shows of one record, and how: nothing; a text as it stands
// (the settings', or one made here); a text of the record (with marks); a
// number of a type and flags; a FILETIME (one cell, or a date and a time
// cell as the column was registered); "na" (in both cells of a date); the
// texts that join writes.
struct cell_value {
  enum kind_t : uint8_t { empty, text, record_text, number, date, na, joined };
  kind_t kind = empty;
  uint16_t type = 0;
  uint32_t flags = 0;
  uint64_t value = 0;
  std::string_view text_value;
  void (*join)(line_sink&, const column_source&) = nullptr;
};

inline cell_value no_cell() {
  return {};
}
inline cell_value text_cell(std::string_view t) {
  return {cell_value::text, 0, 0, 0, t, nullptr};
}
inline cell_value record_text_cell(std::string_view t) {
  return {cell_value::record_text, 0, 0, 0, t, nullptr};
}
inline cell_value number_cell(uint64_t value, uint16_t type, uint32_t flags = 0) {
  return {cell_value::number, type, flags, value, {}, nullptr};
}
inline cell_value date_cell(uint64_t ticks, uint32_t flags = 0) {
  return {cell_value::date, 0, flags, ticks, {}, nullptr};
}
inline cell_value na_cell() {
  return {cell_value::na, 0, 0, 0, {}, nullptr};
}
inline cell_value joined_cell(void (*join)(line_sink&, const column_source&)) {
  return {cell_value::joined, 0, 0, 0, {}, join};
}

// The cells' own rules, kept by record_rows.cpp.
void put_idlist_extra(line_sink& out, const column_source& s);
void put_idlist_segments(line_sink& out, const column_source& s);
std::string_view attributes_text(const column_source& s);

inline constexpr uint32_t k_max_mru_position = 99998;

// The room of a time shown as it stands.
inline constexpr size_t k_raw_time_room = 18;
// A DestList time that no date shows (not one of the years 1900 to 3000) is
// evidence all the same: its value as it stands ("0x" and 16 digits) at
// `at`; returns the end, `at` itself for 0 (no time set) or a date.
inline char* put_raw_time(char* at, uint64_t ticks) {
  if (ticks == 0 || filetime_printable(ticks)) return at;
  return put_hex_number_text(at, ticks, true, 16);
}
// A width that is the source path's own: its length, at least 40.
inline constexpr uint32_t k_path_width = UINT32_MAX;

// A date column is one "date and time" column with "-pair_datetime", else
// a date column titled date_title followed by a time column titled
// time_title (their widths those of the date and time layouts).
struct row_column {
  const char* title;
  uint32_t width;
  // Whether a run registers the column for a kind of record.
  bool (*wanted)(const lnk::useropts&, record_kind);
  // What one record shows in it.
  cell_value (*value)(const column_source&);
  const char* date_title = nullptr;
  const char* time_title = nullptr;
  constexpr bool date() const { return date_title != nullptr; }
};

inline bool for_every_record(const lnk::useropts&, record_kind) {
  return true;
}
inline bool for_listed_records(const lnk::useropts&, record_kind k) {
  return k.listed;
}
// The DestList columns: for listed records, and for carved ones, which may
// be a carved list's rows.
inline bool for_entry_records(const lnk::useropts&, record_kind k) {
  return k.listed || k.carved;
}
inline bool for_file_records(const lnk::useropts&, record_kind k) {
  return !k.carved;
}
inline bool for_ntfs_scans(const lnk::useropts& o, record_kind) {
  return o.m_ntfs_scan;
}
inline bool for_target_mft(const lnk::useropts& o, record_kind) {
  return o.m_show_target_mft;
}

// The columns before the texts' and after them, in the order they are
// registered.
inline constexpr row_column k_lead_columns[] = {
    {"source path/filename", k_path_width, for_every_record,
     [](const column_source& s) { return text_cell(shown_source_text(s.o)); }},
    {"source type", 19, for_every_record,
     [](const column_source& s) { return text_cell(s.r.m_source_type); }},
    {"appid", 16, for_listed_records,
     [](const column_source& s) {
       return s.kind.listed ? text_cell(s.v.m_appid_text) : no_cell();
     }},
    {"MRU/MFU", 7, for_entry_records,
     [](const column_source& s) {
       if (s.no_entry) return na_cell();
       const auto position = static_cast<uint32_t>(s.r.m_mru_position);
       if (s.entry && position >= 1 && position <= k_max_mru_position)
         return number_cell(position, vt_u32, vf_decimal);
       return no_cell();
     }},
    {"stream#", 7, for_entry_records,
     [](const column_source& s) {
       if (s.no_entry) return na_cell();
       if (s.entry && s.r.m_entry_num != 0) return number_cell(s.r.m_entry_num, vt_u64, vf_decimal);
       return no_cell();
     }},
    {"MRU date [UTC]", 0, for_entry_records,
     [](const column_source& s) {
       if (s.no_entry) return na_cell();
       if (!s.entry) return no_cell();
       char* const raw = s.b.raw_time;
       if (char* end = put_raw_time(raw, s.r.m_mru_time); end != raw)
         return text_cell({raw, static_cast<size_t>(end - raw)});
       return date_cell(s.r.m_mru_time);
     },
     "MRU date", "MRU-UTC"},
    {"interaction", 11, for_entry_records,
     [](const column_source& s) {
       if (s.no_entry || (s.entry && !s.r.m_has_access_count)) return na_cell();
       return s.entry ? number_cell(s.r.m_access_count, vt_u32, vf_decimal) : no_cell();
     }},
    {"file modify date [UTC]", 0, for_file_records,
     [](const column_source& s) {
       return s.kind.carved ? no_cell() : date_cell(s.o.m_source_modify_time, vf_no_subseconds);
     },
     "file mdate", "time-UTC"},
    {"file access date [UTC]", 0, for_file_records,
     [](const column_source& s) {
       return s.kind.carved ? no_cell() : date_cell(s.o.m_source_access_time, vf_no_subseconds);
     },
     "file adate", "time-UTC"},
    {"file create date [UTC]", 0,
     [](const lnk::useropts& o, record_kind k) { return !k.carved && o.m_ntfs_scan; },
     [](const column_source& s) {
       return s.kind.carved || !s.o.m_ntfs_scan
                  ? no_cell()
                  : date_cell(s.o.m_source_change_time, vf_no_subseconds);
     },
     "file cdate", "time-UTC"},
    {"file mft date [UTC]", 0, for_file_records,
     [](const column_source& s) {
       // An NTFS scan knows the file's MFT time apart from its creation time.
       if (s.kind.carved) return no_cell();
       return s.o.m_ntfs_scan ? date_cell(s.o.m_source_mft_time)
                              : date_cell(s.o.m_source_change_time, vf_no_subseconds);
     },
     "file mftdate", "time-UTC"},
    {"tgt modify date [UTC]", 0, for_every_record,
     [](const column_source& s) { return date_cell(s.v.m_target_times[0]); }, "tgt mdate",
     "time-UTC"},
    {"tgt access date [UTC]", 0, for_every_record,
     [](const column_source& s) { return date_cell(s.v.m_target_times[1]); }, "tgt adate",
     "time-UTC"},
    {"tgt create date [UTC]", 0, for_every_record,
     [](const column_source& s) { return date_cell(s.v.m_target_times[2]); }, "tgt cdate",
     "time-UTC"},
    {"ObjID date [UTC]", 0, for_every_record,
     [](const column_source& s) { return date_cell(s.r.m_object_droid_time); }, "ObjID date",
     "time-UTC"},
    {"tgt attrib", 24, for_every_record,
     [](const column_source& s) { return text_cell(attributes_text(s)); }},
    {"LNK offset", 10,
     [](const lnk::useropts& o, record_kind k) { return k.carved || o.m_show_offset; },
     [](const column_source& s) {
       return s.kind.carved || s.o.m_show_offset ? number_cell(s.r.m_file_offset, vt_u64)
                                                 : no_cell();
     }},
    {"src inode", 10, for_ntfs_scans,
     [](const column_source& s) {
       return s.o.m_ntfs_scan && s.o.m_source_inode != 0 ? number_cell(s.o.m_source_inode, vt_u64)
                                                         : no_cell();
     }},
    {"src seq#", 6, for_ntfs_scans,
     [](const column_source& s) {
       return s.o.m_ntfs_scan && s.o.m_source_inode != 0 ? number_cell(s.o.m_source_seq, vt_u16)
                                                         : no_cell();
     }},
    {"target inode", 10, for_target_mft,
     [](const column_source& s) {
       return s.o.m_show_target_mft && s.r.m_target_mft_entry != 0
                  ? number_cell(s.r.m_target_mft_entry, vt_u64)
                  : no_cell();
     }},
    {"target seq#", 6, for_target_mft,
     [](const column_source& s) {
       return s.o.m_show_target_mft && s.r.m_target_mft_entry != 0
                  ? number_cell(s.r.m_target_mft_seq, vt_u16)
                  : no_cell();
     }},
    {"file size", 10, for_every_record,
     [](const column_source& s) {
       return s.r.m_header.m_file_size != 0 ? number_cell(s.r.m_header.m_file_size, vt_u32)
                                            : no_cell();
     }},
    {"target name", 60, for_every_record,
     [](const column_source& s) { return record_text_cell(s.v.m_target_name); }},
    {"IDList extra info", 60, for_every_record,
     [](const column_source&) { return joined_cell(put_idlist_extra); }},
};

// A text field's own column: its text with marks.
template <size_t I>
cell_value field_cell(const column_source& s) {
  return record_text_cell(k_text_fields[I].text(s.r));
}

// The cells that join texts, placed among the text fields' columns.
struct placed_column {
  size_t place;
  row_column column;
};
inline constexpr placed_column k_joined_columns[] = {
    {6,
     {"network/device info", 19, for_every_record,
      [](const column_source&) {
        return joined_cell([](line_sink& out, const column_source& s) {
          put_joined_parts(out, s, k_network_parts);
        });
      }}},
    {7,
     {"extra info", 10, for_every_record,
      [](const column_source&) {
        return joined_cell([](line_sink& out, const column_source& s) {
          put_joined_parts(out, s, k_extra_info_parts);
        });
      }}},
};

// The text fields' columns and the joined cells, by place.
constexpr auto text_columns() {
  constexpr auto fields = fields_in_place_order<column_place>();
  constexpr size_t n = fields.size() + std::size(k_joined_columns);
  std::array<placed_column, n> placed{};
  [&]<size_t... K>(std::index_sequence<K...>) {
    ((placed[K] = {k_text_fields[fields[K]].column.place,
                   {k_text_fields[fields[K]].column.title, k_text_fields[fields[K]].column.width,
                    for_every_record, &field_cell<fields[K]>}}),
     ...);
  }
  (std::make_index_sequence<fields.size()>());
  for (size_t i = 0; i < std::size(k_joined_columns); ++i)
    placed[fields.size() + i] = k_joined_columns[i];
  for (size_t i = 1; i < n; ++i)
    for (size_t j = i; j > 0 && placed[j].place < placed[j - 1].place; --j)
      std::swap(placed[j], placed[j - 1]);
  return placed;
}

inline constexpr row_column k_trail_columns[] = {
    {"user acct", 9, [](const lnk::useropts& o, record_kind) { return !o.m_user_name.empty(); },
     [](const column_source& s) {
       return s.o.m_user_name.empty() ? no_cell() : text_cell(s.o.m_user_name);
     }},
    {"host name", 9, [](const lnk::useropts& o, record_kind) { return !o.m_host_name.empty(); },
     [](const column_source& s) {
       return s.o.m_host_name.empty() ? no_cell() : text_cell(s.o.m_host_name);
     }},
    {"IDList segments", 20, [](const lnk::useropts& o, record_kind) { return o.m_idlist_times; },
     [](const column_source& s) {
       return s.o.m_idlist_times ? joined_cell(put_idlist_segments) : no_cell();
     }},
};

// Every column the table form can have, in the order they are registered.
inline constexpr auto k_row_columns = [] {
  constexpr auto texts = text_columns();
  std::array<row_column, std::size(k_lead_columns) + texts.size() + std::size(k_trail_columns)>
      all{};
  size_t k = 0;
  for (const row_column& c : k_lead_columns) all[k++] = c;
  for (const placed_column& c : texts) all[k++] = c.column;
  for (const row_column& c : k_trail_columns) all[k++] = c;
  return all;
}();

inline constexpr size_t k_row_column_count = k_row_columns.size();

namespace column_checks {
// The text columns and joined cells take each place once, from 1 up.
constexpr bool places_whole() {
  constexpr auto texts = text_columns();
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i].place != i + 1) return false;
  return true;
}
}  // namespace column_checks
static_assert(column_checks::places_whole());

namespace column_checks {
constexpr bool same(const char* a, const char* b) {
  return std::string_view(a) == std::string_view(b);
}
// Every title (and date title) names one column: cells are placed by title.
constexpr bool titles_distinct() {
  for (size_t i = 0; i < k_row_column_count; ++i)
    for (size_t j = 0; j < k_row_column_count; ++j) {
      if (i == j) continue;
      const row_column &a = k_row_columns[i], &b = k_row_columns[j];
      if (same(a.title, b.title)) return false;
      if (a.date() &&
          (same(a.date_title, b.title) || (b.date() && same(a.date_title, b.date_title))))
        return false;
    }
  return true;
}
constexpr bool rules_whole() {
  for (const row_column& c : k_row_columns)
    if (c.date() != (c.time_title != nullptr) || (c.date() && c.width != 0)) return false;
  return true;
}
// The labelled block's labels are 26 characters wide.
constexpr bool labels_wide() {
  for (const text_field& f : k_text_fields)
    if (f.line.kind != text_form::line_kind::none && std::string_view(f.line.label).size() != 26)
      return false;
  return true;
}
}  // namespace column_checks

static_assert(k_row_column_count <= k_max_record_columns);
static_assert(column_checks::titles_distinct());
static_assert(column_checks::rules_whole());
static_assert(column_checks::labels_wide());

}  // namespace vk
