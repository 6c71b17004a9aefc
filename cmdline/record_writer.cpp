#include "cmdline/record_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>

#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// A column wider than this is a caller's mistake, not a layout.
constexpr uint64_t k_max_pad = 65535;

void append_padded(std::string& out, std::string_view value, uint64_t width, bool right,
                   char fill = ' ') {
  if (width > k_max_pad) width = k_max_pad;
  const size_t n = width > value.size() ? static_cast<size_t>(width - value.size()) : 0;
  if (right) out.append(n, fill);
  out.append(value);
  if (!right) out.append(n, fill);
}

std::string_view hex_text(char (&buf)[24], uint64_t v) {
  const auto r = std::to_chars(buf, buf + sizeof(buf), v, 16);
  return std::string_view(buf, static_cast<size_t>(r.ptr - buf));
}

std::string_view dec_text(char (&buf)[24], uint64_t v) {
  const auto r = std::to_chars(buf, buf + sizeof(buf), v);
  return std::string_view(buf, static_cast<size_t>(r.ptr - buf));
}

void append_dec(std::string& out, uint64_t v) {
  char buf[24];
  out.append(dec_text(buf, v));
}

// "0x" and the hexadecimal digits, zero-filled to digits.
void append_hex(std::string& out, uint64_t v, uint64_t digits) {
  char buf[24];
  out += "0x";
  append_padded(out, hex_text(buf, v), digits, true, '0');
}

uint64_t column_width(const cmd_params& s, size_t i) {
  return i < s.m_columns.size() ? s.m_columns[i].m_width : 0;
}

bool is_two_column_time(uint16_t type) {
  return type == vt_filetime || type == vt_unixtime || type == vt_chrome || type == vt_firefox ||
         type == vt_safari;
}

type_time time_kind_of(uint16_t type) {
  switch (type) {
    case vt_chrome:
    case vt_chrome_1col:
      return type_time::chrome;
    case vt_firefox:
    case vt_firefox_1col:
      return type_time::firefox3;
    case vt_safari:
    case vt_safari_1col:
      return type_time::safari_time;
    default:
      return type_time::filetime;
  }
}

size_t utf8_sequence_length(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// At most max bytes of the text, never splitting a UTF-8 sequence; a quoted
// CSV field keeps its closing quote and its doubled inner quotes whole.
std::string cut_text(const std::string& text, size_t max, bool quoted) {
  if (quoted && text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    const size_t limit = max >= 2 ? max - 2 : 0;
    const size_t end = text.size() - 1;
    size_t i = 1;
    while (i < end) {
      size_t step = text[i] == '"' ? 2 : utf8_sequence_length(static_cast<unsigned char>(text[i]));
      if (step > end - i) step = end - i;
      if (i - 1 + step > limit) break;
      i += step;
    }
    std::string out = text.substr(0, i);
    out += '"';
    return out;
  }
  size_t n = max;
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

struct row_writer {
  table_row& row;
  cmd_params& s;
  std::string& out;
  const bool pad;
  const std::string blank;

  row_writer(table_row& r, cmd_params& settings, std::string& line)
      : row(r),
        s(settings),
        out(line),
        pad(!settings.m_no_padding),
        blank(settings.m_no_padding ? "" : " ") {}

  uint64_t width(size_t i) const { return pad ? column_width(s, i) : 0; }

  void integer(vk_variant_lite& cell, uint64_t w, uint64_t prefix) {
    const uint64_t v = cell.m_number;
    const uint32_t f = cell.m_flags;
    auto less = [&](uint64_t n) -> uint64_t { return (pad && w >= n) ? w - n : 0; };
    char buf[24];
    if ((f & vf_zero_blank) && v == 0) {
      append_padded(out, blank, less(prefix), true);
      cell.m_type = vt_text;
      cell.m_text.clear();
      return;
    }
    if (f & vf_plain_hex) {
      append_padded(out, hex_text(buf, v), less(prefix), true);
      return;
    }
    if (f & vf_hex_fixed) {
      append_hex(out, v, less(prefix + 2));
      return;
    }
    uint64_t digits = 0;
    if (pad && w >= prefix + 2) {
      digits = w - prefix - 2;
    } else if (cell.m_type == vt_u8) {
      digits = 2;
    } else if (cell.m_type == vt_u16) {
      digits = 4;
    } else if (cell.m_type == vt_u32 || cell.m_type == vt_u64) {
      digits = 8;
    }
    if (f & vf_hex_and_decimal) {
      append_hex(out, v, digits);
      out += " [";
      append_dec(out, v);
      out += ']';
      return;
    }
    if (s.m_hex_numbers && !(f & vf_decimal)) {
      append_hex(out, v, digits);
      return;
    }
    append_padded(out, dec_text(buf, v), (pad && w > prefix) ? w - prefix : 0, true);
  }

  void text(vk_variant_lite& cell, uint64_t w, uint64_t prefix, size_t i) {
    const bool right = (cell.m_flags & vf_right_align) != 0;
    const uint64_t padded = (pad && w >= prefix) ? w - prefix : 0;
    // One pass replaces the separator and looks for line ends, which most
    // texts do not hold.
    const char from = s.m_replacement_char ? s.m_replace_char : 0;
    if (replace_char_find_line_ends(cell.m_text, from, s.m_replacement_char) &&
        (s.m_csv || s.m_csvl2t || s.m_csvgen || s.m_bodyfile)) {
      show_line_ends(cell.m_text);
    }
    if (prefix == 0 && !(cell.m_flags & vf_quoted) && !cell.m_text.empty() &&
        cell.m_text[0] == '"' && opening_quote_quoted(s, i == 0)) {
      cell.m_flags |= vf_quoted;
      if (!store_cell_text(cell, std::string(cell.m_text))) throw std::bad_alloc();
    }
    const std::string& t = cell.m_text;
    if ((cell.m_flags & vf_truncate) && t.size() > cell.m_max_len) {
      append_padded(out, cut_text(t, cell.m_max_len, (cell.m_flags & vf_quoted) != 0), padded,
                    right);
      return;
    }
    if ((cell.m_flags & vf_centre) && pad && w > t.size() + prefix) {
      const uint64_t blanks = (w - prefix - t.size()) / 2;
      out.append(static_cast<size_t>(blanks < k_max_pad ? blanks : k_max_pad), ' ');
      append_padded(out, t, w - prefix - blanks, right);
      return;
    }
    append_padded(out, t, padded, right);
  }

  // Date and time texts of a time cell, or the blank text for both.
  void time_texts(const time& t, bool no_subseconds, std::string& date, std::string& clock) {
    if (!t.valid()) {
      date = blank;
      clock = blank;
      return;
    }
    time_format_descriptor d = s.m_time_settings.m_descriptor;
    if (no_subseconds)
      d.m_time_flags &= static_cast<uint8_t>(~time_format_descriptor::subsecond_mask);
    format_time_by_descriptor(date, clock, t, d);
  }

  // The date in this cell, the time in the next one; returns the index of
  // the last cell used.
  size_t two_columns(size_t i, const std::string& date, const std::string& clock, bool right) {
    append_padded(out, date, width(i), right);
    out += s.m_separator;
    if (i + 1 >= static_cast<size_t>(row.m_count)) return i;
    ++i;
    if (s.m_cell_blank) out += ' ';
    append_padded(out, clock, width(i), right);
    return i;
  }

  size_t times(size_t i) {
    vk_variant_lite& cell = row.m_cells[i];
    const bool right = (cell.m_flags & vf_right_align) != 0;
    const uint16_t type = cell.m_type;
    const bool unix_kind = type == vt_unixtime || type == vt_unixtime_1col ||
                           type == vt_unixtime_date || type == vt_unixtime_time;
    std::string date, clock;
    if (!unix_kind && cell.m_flags == vf_list && !cell.m_list.empty()) {
      if (is_two_column_time(type)) return i;
      std::string joined;
      for (size_t k = 0; k < cell.m_list.size(); ++k) {
        time_texts(time_from_u64(cell.m_list[k], time_kind_of(type)), false, date, clock);
        if (k) joined += "; ";
        joined += date;
        joined += ' ';
        joined += clock;
      }
      if (s.m_cell_blank) out += ' ';
      append_padded(out, joined, width(i), right);
      return i;
    }
    time t;
    if (unix_kind) {
      time_from_u64(t, cell.m_number, type_time::unix_time);
    } else if ((type == vt_safari || type == vt_safari_1col) && (cell.m_flags & vf_safari_double)) {
      double d = 0;
      std::memcpy(&d, &cell.m_number, sizeof(d));
      time_from_double(t, d, type_time::safari_time);
    } else {
      time_from_u64(t, cell.m_number, time_kind_of(type));
    }
    time_texts(t, unix_kind || (cell.m_flags & vf_no_subseconds), date, clock);
    switch (type) {
      case vt_filetime_1col:
      case vt_unixtime_1col:
      case vt_chrome_1col:
      case vt_firefox_1col:
      case vt_safari_1col:
        if (pad && s.m_cell_blank) out += ' ';
        append_padded(out, date + ' ' + clock, width(i), right);
        return i;
      case vt_filetime_date:
      case vt_unixtime_date:
        append_padded(out, date, width(i), right);
        out += s.m_separator;
        return i;
      case vt_filetime_time:
      case vt_unixtime_time:
        if (s.m_cell_blank) out += ' ';
        append_padded(out, clock, width(i), right);
        return i;
      default:
        return two_columns(i, date, clock, right);
    }
  }

  void bytes(const vk_variant_lite& cell, size_t i) {
    const bool right = (cell.m_flags & vf_right_align) != 0;
    const byte_array& b = cell.m_bytes;
    std::string value;
    if (cell.m_type == vt_guid) {
      if (b.size() < 16) {
        value = blank;
      } else {
        guid g;
        g.set(b.data());
        value = guid_to_string(g);
      }
    } else if (b.empty()) {
      value = blank;
    } else {
      static const char digits[] = "0123456789abcdef";
      const bool spaced = cell.m_type == vt_bytes_spaced;
      const uint64_t w = column_width(s, i);
      // Unsigned, so a narrow column never shortens.
      const uint64_t limit = w != 0 ? w / 3 - 2 : 16;
      for (size_t k = 0; k < b.size(); ++k) {
        value += digits[b[k] >> 4];
        value += digits[b[k] & 15];
        if (!spaced || k + 1 >= b.size()) continue;
        value += ' ';
        if (k == limit) {
          value += "...";
          break;
        }
      }
    }
    append_padded(out, value, width(i), right);
  }

  void cells() {
    const bool labelled = s.m_multiline != 0;
    for (size_t i = 0; i < static_cast<size_t>(row.m_count) && i < row.m_cells.size(); ++i) {
      if (labelled && i < s.m_columns.size() && s.m_columns[i].m_type != vt_raw_text) {
        append_padded(out, s.m_columns[i].m_text, s.m_columns[i].m_width, false);
      }
      vk_variant_lite& cell = row.m_cells[i];
      uint64_t prefix = 0;
      if (cell.m_flags & vf_arrow_prefix) {
        out += "->";
        prefix = 2;
      }
      if (cell.m_flags & vf_blank_prefix) {
        out += ' ';
        ++prefix;
      }
      const uint64_t w = column_width(s, i);
      switch (cell.m_type) {
        case vt_u8:
        case vt_u16:
        case vt_u32_hex:
        case vt_u32:
        case vt_u64:
          integer(cell, w, prefix);
          break;
        case vt_text:
          text(cell, w, prefix, i);
          break;
        case vt_filetime:
        case vt_filetime_1col:
        case vt_unixtime:
        case vt_unixtime_1col:
        case vt_chrome:
        case vt_chrome_1col:
        case vt_firefox:
        case vt_firefox_1col:
        case vt_safari:
        case vt_safari_1col:
        case vt_filetime_date:
        case vt_filetime_time:
        case vt_unixtime_date:
        case vt_unixtime_time:
          i = times(i);
          break;
        case vt_number64: {
          if (s.m_cell_blank) out += ' ';
          std::string v;
          if (s.m_hex_numbers || cell.m_flags == vf_hex_fixed) {
            append_hex(v, cell.m_number, 16);
          } else {
            append_dec(v, cell.m_number);
          }
          append_padded(out, v, width(i), false);
          break;
        }
        case vt_guid:
        case vt_bytes_spaced:
        case vt_bytes_hex:
          bytes(cell, i);
          break;
        case vt_raw_text:
          out += cell.m_text;
          break;
        default:
          break;
      }
      const uint16_t last_type = row.m_cells[i].m_type;
      if (labelled) {
        if (last_type != vt_raw_text) out += '\n';
      } else if (i + 1 < static_cast<size_t>(row.m_count)) {
        out += s.m_separator;
      }
    }
  }
};

bool redirected(const cmd_params& s) {
  return s.m_row_redirect && s.m_row_target;
}

void write_line(std::ostream& os, const std::string& line) {
  os.write(line.data(), static_cast<std::streamsize>(line.size()));
}

// The checks every setter makes; the stored cell cleared and typed.
vk_variant_lite* settable_cell(table_row& row, int32_t index, uint16_t type, uint32_t flags) {
  if (row.m_valid != 1 || index < 0 || index >= row.m_count ||
      static_cast<size_t>(index) >= row.m_cells.size() || type > vt_none) {
    return nullptr;
  }
  vk_variant_lite& cell = row.m_cells[static_cast<size_t>(index)];
  cell.clear();
  cell.m_type = type;
  cell.m_flags = row.m_default_flags | flags;
  return &cell;
}

// Throws std::bad_alloc when memory runs out, the cell left empty.
void store_text(vk_variant_lite& cell, const std::string& text) {
  if (!store_cell_text(cell, text)) throw std::bad_alloc();
  if (cell.m_flags == vf_show_line_ends) show_line_ends(cell.m_text);
}

}  // namespace

vk_variant_lite* prepare_row_cell(table_row& row, int32_t index, uint16_t type, uint32_t flags) {
  return settable_cell(row, index, type, flags);
}

bool store_cell_text(vk_variant_lite& cell, const std::string& text) {
  return vk::guarded(
      [&] {
        if (cell.m_flags & vf_quoted) {
          cell.m_text.reserve(text.size() + 2);
          cell.m_text = '"';
          for (char c : text) {
            if (c == '"') cell.m_text += '"';
            cell.m_text += c;
          }
          cell.m_text += '"';
        } else {
          cell.m_text = text;
        }
        return true;
      },
      [&] {
        cell.m_text.clear();
        return false;
      });
}

// ---- table rows ----

table_row::table_row(int32_t count, bool clear, uint32_t default_flags) {
  init_table_row(*this, count, clear, default_flags);
}

void init_table_row(table_row& row, int32_t count, bool clear, uint32_t default_flags) {
  resize_table_row(row, count, clear);
  row.m_default_flags = default_flags;
}

void resize_table_row(table_row& row, int32_t count, bool clear) {
  row.m_valid = 0;
  row.m_count = 0;
  row.m_cells.clear();
  if (count < 1 || count > k_max_row_cells) return;
  if (!vk::guarded(
          [&] {
            row.m_cells.resize(static_cast<size_t>(count));
            return true;
          },
          [&] { row.m_cells.clear(); }))
    return;
  if (clear) {
    for (vk_variant_lite& cell : row.m_cells) cell.m_type = vt_text;
  }
  row.m_count = count;
  row.m_valid = 1;
}

void reset_table_row(table_row& row) {
  if (row.m_valid != 1) {
    resize_table_row(row, 0, false);
    return;
  }
  for (vk_variant_lite& cell : row.m_cells) cell.clear();
}

int32_t set_row_number(table_row& row, int32_t index, uint64_t value, uint16_t type,
                       uint32_t flags) {
  vk_variant_lite* cell = settable_cell(row, index, type, flags);
  if (!cell) return 1;
  cell->m_number = value;
  if (!is_two_column_time(type) || index + 1 >= row.m_count) return 1;
  vk_variant_lite& next = row.m_cells[static_cast<size_t>(index) + 1];
  next.m_type = vt_empty;
  next.m_flags = 0;
  next.m_number = 0;
  next.m_list.clear();
  return 2;
}

int32_t set_row_text(table_row& row, int32_t index, const std::string& text, uint16_t type,
                     uint32_t flags) {
  vk_variant_lite* cell = settable_cell(row, index, type, flags);
  if (!cell) return 1;
  return vk::guarded(
      [&] {
        store_text(*cell, text);
        return 1;
      },
      [&] {
        cell->m_text.clear();
        return 0;
      });
}

int32_t set_row_wtext(table_row& row, int32_t index, const std::wstring& text, uint16_t type,
                      uint32_t flags) {
  return vk::guarded([&] { return set_row_text(row, index, to_utf8(text), type, flags); },
                     [&] { return 0; });
}

int32_t set_row_from_stream(table_row& row, int32_t index, const std::ostringstream& stream,
                            uint16_t type, uint32_t flags) {
  vk_variant_lite* cell = settable_cell(row, index, type, flags);
  if (!cell) return 1;
  switch (type) {
    case vt_u8:
    case vt_u16:
    case vt_u32:
    case vt_u64:
    case vt_filetime:
    case vt_filetime_1col:
    case vt_unixtime:
    case vt_unixtime_1col:
    case vt_chrome:
    case vt_chrome_1col:
    case vt_safari:
    case vt_safari_1col:
    case vt_filetime_date:
    case vt_filetime_time:
    case vt_unixtime_date:
    case vt_unixtime_time:
      parse_u64_text(stream.str(), &cell->m_number);
      return 1;
    case vt_text:
    case vt_raw_text:
      vk::guarded([&] { store_text(*cell, stream.str()); }, [&] { cell->m_text.clear(); });
      return 1;
    default:
      cell->clear();
      return 0;
  }
}

int32_t set_row_double(table_row& row, int32_t index, double value, uint16_t type, uint32_t flags) {
  uint64_t number = 0;
  if (type == vt_safari || type == vt_safari_1col) {
    const time t = time_from_double(value, type_time::safari_time);
    number = t.valid() ? t.m_filetime : 0;
    type = type == vt_safari ? vt_filetime : vt_filetime_1col;
  } else if (value >= 0.0 && value < 18446744073709551616.0) {
    number = static_cast<uint64_t>(value);
  }
  return set_row_number(row, index, number, type, flags);
}

void write_table_header(std::ostream& os, cmd_params& settings) {
  settings.m_header_pending = 0;
  std::string line;
  const auto& columns = settings.m_columns;
  for (size_t i = 0; i < columns.size(); ++i) {
    const vk_variant_lite& col = columns[i];
    if ((col.m_type == vt_filetime_time || col.m_type == vt_filetime_1col ||
         col.m_type == vt_chrome_1col) &&
        settings.m_cell_blank) {
      line += ' ';
    }
    if (settings.m_no_padding) {
      line += col.m_text;
    } else if ((col.m_flags & vf_centre) && col.m_width > col.m_text.size()) {
      const uint64_t blanks = (col.m_width - col.m_text.size()) / 2;
      line.append(static_cast<size_t>(blanks < k_max_pad ? blanks : k_max_pad), ' ');
      append_padded(line, col.m_text, col.m_width - blanks, false);
    } else {
      append_padded(line, col.m_text, col.m_width, false);
    }
    if (i + 1 < columns.size()) line += settings.m_separator;
  }
  line += '\n';
  if (!redirected(settings)) write_line(os, line);
}

bool output_table_row(std::ostream& os, table_row& row, cmd_params& settings) {
  return vk::guarded([&] {
    if (settings.m_header_pending) {
      if (settings.m_multiline) {
        settings.m_header_pending = 0;
        settings.m_columns_stamp = 0;  // the titles change
        size_t longest = 0;
        for (vk_variant_lite& col : settings.m_columns) {
          if (col.m_type == vt_none) continue;
          col.m_text += ':';
          if (col.m_text.size() > longest) longest = col.m_text.size();
        }
        for (vk_variant_lite& col : settings.m_columns) {
          if (col.m_type != vt_none) col.m_width = longest + 1;
        }
      } else {
        write_table_header(os, settings);
      }
    }
    if (row.m_valid != 1) return true;
    std::string line;
    line.reserve(256);
    row_writer(row, settings, line).cells();
    if (settings.m_row_line_break) line += '\n';
    if (!redirected(settings)) write_line(os, line);
    return true;
  });
}

void output_table_row_list(std::ostream& os, std::vector<table_row>& rows, cmd_params& settings) {
  for (table_row& row : rows) {
    if (row.m_valid == 1) output_table_row(os, row, settings);
  }
}

void output_table_row_labelled(std::ostream& os, table_row& row, cmd_params& settings) {
  settings.m_multiline = 1;
  settings.m_no_padding = 1;
  settings.m_replace_char = 0;
  settings.m_replacement_char = 0;
  settings.m_row_line_break = 0;
  output_table_row(os, row, settings);
}

// ---- log2timeline ----

l2t_record::l2t_record() {
  init_l2t_record(*this);
}

void init_l2t_record(l2t_record& record) {
  record.m_time_settings.m_min_year = 1900;
  record.m_time_settings.m_max_year = 2600;
  init_l2t_defaults(record);
}

void init_l2t_defaults(l2t_record& r) {
  r.m_times.timestamp_set_clear();
  r.m_timezone = "UTC";
  r.m_source.clear();
  r.m_sourcetype.clear();
  r.m_type.clear();
  r.m_user.clear();
  r.m_host.clear();
  r.m_short.clear();
  r.m_desc.clear();
  r.m_version = 2;
  r.m_filename.clear();
  r.m_inode.clear();
  r.m_notes.clear();
  r.m_format = "-csvl2t";
  r.m_extra.clear();
  r.m_date_format = "yyyy-mm-dd";
  r.m_time_format = "hh:mm:ss.xxx";
  r.m_time_settings = time_format_settings{};
  build_time_format_settings(r.m_time_settings, r.m_date_format, r.m_time_format, false);
  r.m_delimiter.assign(1, ',');
  r.m_replace_char = ',';
  r.m_replacement_char = ' ';
  r.m_lower_macb = r.m_padded = r.m_no_padding = r.m_hex_numbers = 0;
  r.m_spare_flags[0] = r.m_spare_flags[1] = 0;
  r.m_show_header_info = r.m_show_extracted_path = r.m_pair_datetime = r.m_spare_flag = 0;
  r.m_show_md5 = r.m_show_sha1 = r.m_show_hash3 = 0;
  r.m_hash_md5.clear();
  r.m_hash_sha1.clear();
  r.m_hash3.clear();
  r.m_extended = r.m_ref_count = r.m_inode_seqnum = r.m_parent_seqnum = 0;
  r.m_extension.clear();
  r.m_size_data = r.m_parent_inode = 0;
  r.m_clusters.clear();
  r.m_header_info.clear();
  r.m_header_dump_mode = 0;
  r.m_extracted_path.clear();
  r.m_window_start = r.m_window_stop = 0;
  r.m_row_target = nullptr;
  r.m_settings = nullptr;
}

void fill_l2t_from_options(l2t_record& r, cmd_params* settings) {
  if (!settings) return;
  const cmd_params& s = *settings;
  r.m_settings = settings;
  r.m_hex_numbers = s.m_hex_numbers;
  r.m_sourcetype = s.m_spare_text;
  r.m_format = s.m_program_name + " (velkor)";
  r.m_date_format = s.m_date_format;
  r.m_time_format = s.m_time_format;
  r.m_time_settings = s.m_time_settings;
  r.m_no_padding = s.m_no_padding;
  r.m_padded = s.m_no_padding ? 0 : 1;
  r.m_user = s.m_user_name;
  r.m_host = s.m_host_name;
  r.m_delimiter = s.m_separator;
  r.m_replace_char = s.m_replace_char;
  r.m_replacement_char = s.m_replacement_char;
  r.m_pair_datetime = s.m_pair_datetime;
  r.m_row_target = s.m_row_target;
}

void set_l2t_inode(l2t_record& record, uint64_t inode) {
  record.m_inode.clear();
  if (record.m_hex_numbers) {
    append_hex(record.m_inode, inode, 8);
  } else {
    append_dec(record.m_inode, inode);
  }
}

void set_l2t_extended(l2t_record& r, uint32_t ref_count, uint64_t parent_inode,
                      uint32_t parent_seqnum, uint32_t inode_seqnum, uint64_t size_data,
                      const char* extension, const char* clusters) {
  r.m_extended = 1;
  r.m_ref_count = ref_count;
  r.m_inode_seqnum = inode_seqnum;
  r.m_size_data = size_data;
  if (extension) r.m_extension = extension;
  if (clusters) r.m_clusters = clusters;
  if (parent_inode == 0xFFFFFFFFFFFFULL) {
    r.m_parent_inode = 5;
    r.m_parent_seqnum = 0;
  } else {
    r.m_parent_inode = parent_inode;
    r.m_parent_seqnum = parent_seqnum;
  }
}

void write_l2t_header(std::ostream& os, const std::string& delimiter, bool extended, bool pair) {
  static const char* const titles[] = {"timezone", "MACB",  "source", "sourcetype", "type",
                                       "user",     "host",  "short",  "desc",       "version",
                                       "filename", "inode", "notes",  "format",     "extra"};
  static const char* const extended_titles[] = {"ref count",    "extension",    "size data",
                                                "inode seqnum", "parent inode", "parent seqnum",
                                                "clusters",     "header info"};
  std::string line = pair ? std::string("date/time") : "date" + delimiter + "time";
  for (const char* title : titles) {
    line += delimiter;
    line += title;
  }
  if (extended) {
    for (const char* title : extended_titles) {
      line += delimiter;
      line += title;
    }
  }
  write_line(os, line);
}

namespace {

void l2t_columns(std::string& line, const l2t_record& r, macb_entry& group, const std::string& date,
                 const std::string& clock) {
  const std::string& d = r.m_delimiter;
  const bool blank = r.m_padded && !r.m_no_padding;
  if (r.m_pair_datetime) {
    if (blank) line += ' ';
    line += date;
    line += ' ';
    line += clock;
  } else {
    line += date;
    line += d;
    if (blank) line += ' ';
    line += clock;
  }
  line += d;
  line += r.m_timezone;
  line += d;
  if (r.m_lower_macb) str_to_lower(group.m_macb);
  line += group.m_macb;
  line += d;
  line += group.m_source.empty() ? r.m_source : group.m_source;
  line += d;
  line += r.m_sourcetype;
  line += d;
  line += r.m_type.empty() ? group.m_label : r.m_type;
  line += d;
  line += group.m_user.empty() ? r.m_user : group.m_user;
  line += d;
  line += r.m_host;
  line += d;
  line += r.m_short;
  line += d;
  line += r.m_desc;
  line += d;
  append_dec(line, r.m_version);
  line += d;
  line += group.m_filename.empty() ? r.m_filename : group.m_filename;
  line += d;
  line += r.m_inode;
  line += d;
  line += r.m_notes;
  line += d;
  line += r.m_format;
  line += d;
  line += r.m_extra;
  if (r.m_extended) {
    line += d;
    if (r.m_hex_numbers) {
      append_hex(line, r.m_ref_count, 4);
      line += d;
      line += r.m_extension;
      line += d;
      append_hex(line, r.m_size_data, 6);
      line += d;
      append_hex(line, r.m_inode_seqnum, 4);
      line += d;
      append_hex(line, r.m_parent_inode, 8);
      line += d;
      append_hex(line, r.m_parent_seqnum, 4);
    } else {
      append_dec(line, r.m_ref_count);
      line += d;
      line += r.m_extension;
      line += d;
      append_dec(line, r.m_size_data);
      line += d;
      append_dec(line, r.m_inode_seqnum);
      line += d;
      append_dec(line, r.m_parent_inode);
      line += d;
      append_dec(line, r.m_parent_seqnum);
    }
    line += d;
    line += r.m_clusters;
    line += d;
    char buf[24];
    for (uint8_t b : r.m_header_info) {
      append_padded(line, hex_text(buf, b), 2, true, r.m_hex_numbers ? '0' : ' ');
      line += ' ';
    }
  }
}

}  // namespace

void append_l2t_line(std::string& line, const l2t_record& record, macb_entry& group,
                     const std::string& date, const std::string& clock) {
  vk::guarded([&] { l2t_columns(line, record, group, date, clock); });
}

int32_t write_l2t_lines(uint8_t& header_pending, std::ostream& os, l2t_record& r) {
  vk::guarded([&] {
    if (header_pending) {
      header_pending = 0;
      write_l2t_header(os, r.m_delimiter, r.m_extended != 0, r.m_pair_datetime != 0);
      os.put('\n');
      if (r.m_settings) r.m_settings->m_header_pending = 0;
    }
    macb_map groups;
    macb_summary(groups, r.m_times, static_cast<type_time>(r.m_times.m_kind));
    const bool line_break = !r.m_settings || r.m_settings->m_row_line_break;
    // The separator replaced and line ends looked for in one pass a field.
    const char from = r.m_replacement_char ? r.m_replace_char : 0;
    for (std::string* field : {&r.m_short, &r.m_filename})
      replace_char_find_line_ends(*field, from, r.m_replacement_char);
    for (std::string* field : {&r.m_desc, &r.m_notes, &r.m_extra})
      if (replace_char_find_line_ends(*field, from, r.m_replacement_char)) show_line_ends(*field);

    std::string date, clock, line;
    for (auto& [raw, group] : groups) {
      if (!group.m_time.valid()) continue;
      if (r.m_window_start != 0 && (raw < r.m_window_start || raw > r.m_window_stop)) continue;
      format_time_by_descriptor(date, clock, group.m_time, r.m_time_settings);
      line.clear();
      l2t_columns(line, r, group, date, clock);
      if (line_break) line += '\n';
      write_line(os, line);
    }
  });
  return 1;
}

// ---- body file ----

bodyfile_record::bodyfile_record() {
  init_bodyfile_record(*this);
}

void init_bodyfile_record(bodyfile_record& record) {
  reset_bodyfile_record(record);
}

void reset_bodyfile_record(bodyfile_record& r) {
  r.m_md5.clear();
  r.m_name.clear();
  r.m_inode = 0;
  r.m_mode.clear();
  r.m_uid = r.m_gid = r.m_size = 0;
  r.m_times.timestamp_set_clear();
  r.m_times.m_kind = static_cast<uint32_t>(type_time::unix_time);
  r.m_timezone = "UTC";
  r.m_spare = 0;
  r.m_settings = nullptr;
}

void write_bodyfile_header(std::ostream& os) {
  static const std::string header =
      "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time";
  write_line(os, header);
}

int32_t write_bodyfile_line(uint8_t& header_pending, std::ostream& os, bodyfile_record& r) {
  vk::guarded([&] {
    if (header_pending) {
      header_pending = 0;
      write_bodyfile_header(os);
      os.put('\n');
      if (r.m_settings) r.m_settings->m_header_pending = 0;
    }
    replace_char(r.m_name, '|', ';');
    std::string line;
    line.reserve(64 + r.m_name.size());
    line += r.m_md5.empty() ? "0" : r.m_md5;
    line += '|';
    line += r.m_name;
    line += '|';
    append_dec(line, r.m_inode);
    line += '|';
    line += r.m_mode;
    for (uint64_t v : {r.m_uid, r.m_gid, r.m_size, r.m_times.m_times[timestamp_set::k_a],
                       r.m_times.m_times[timestamp_set::k_m], r.m_times.m_times[timestamp_set::k_c],
                       r.m_times.m_times[timestamp_set::k_b]}) {
      line += '|';
      append_dec(line, v);
    }
    if (!r.m_settings || r.m_settings->m_row_line_break) line += '\n';
    write_line(os, line);
  });
  return 1;
}

}  // namespace vk
