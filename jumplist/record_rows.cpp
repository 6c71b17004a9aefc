#include "jumplist/record_rows.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstring>
#include <new>
#include <sstream>
#include <string_view>
#include <type_traits>
#include <vector>

#include "cmdline/line_sink.h"
#include "cmdline/path_alias.h"
#include "cmdline/record_writer.h"
#include "foundation/uni_stream.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"
#include "jumplist/idlist_breakout.h"
#include "jumplist/jumplist_kernels.h"
#include "jumplist/lnk_text_fields.h"
#include "jumplist/record_columns.h"
#include "jumplist/source_text.h"
#include "shell/file_attributes.h"

namespace vk {

// ---- the cells' own rules (record_columns.h) ----

void put_record_part(line_sink& out, const column_source& s, std::string_view text) {
  const char to = s.o.m_replacement_char;
  if (!out.hold(text, to != 0 ? s.o.m_replace_char : 0, to)) out.put_marked(text);
}

void put_idlist_extra(line_sink& out, const column_source& s) {
  const lnk_record& r = s.r;
  const size_t start = out.size();
  auto next = [&] {
    if (out.size() > start) out.put("; ");
  };
  for (const std::string& detail : r.m_idlist_details) {
    next();
    put_record_part(out, s, detail);
  }
  if (!r.m_vista_idlist_extra.empty()) {
    next();
    put_record_part(out, s, r.m_vista_idlist_extra);
  }
  if (!r.m_property_keys.empty() && !r.m_property_values.empty()) {
    next();
    const size_t n = r.m_property_keys.size() < r.m_property_values.size()
                         ? r.m_property_keys.size()
                         : r.m_property_values.size();
    for (size_t i = 0; i < n; ++i) {
      if (i) out.put("; ");
      put_record_part(out, s, r.m_property_keys[i]);
      out.put(" [");
      put_record_part(out, s, r.m_property_values[i]);
      out.put(']');
    }
  }
}

void put_idlist_segments(line_sink& out, const column_source& s) {
  // The segment names were made one-line when the segments were made.
  std::ostringstream segments;
  idlist_breakout(segments, s.r, s.o);
  out.put(segments.str());
}

std::string_view attributes_text(const column_source& s) {
  row_buffers& b = s.b;
  const uint32_t mask = s.r.m_header.m_file_attributes;
  if (!b.attributes_made || b.attribute_mask != mask) {
    // Memory that runs out below leaves no text taken for the last mask's.
    b.attributes_made = false;
    b.attributes.clear();
    append_file_attributes_text(b.attributes, mask, "; ");
    b.attribute_mask = mask;
    b.attributes_made = true;
  }
  return b.attributes;
}

namespace {

// The titles are short: word loads instead of a library call per title.
bool same_text(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) return a == b;
  const byte_view va(reinterpret_cast<const uint8_t*>(a.data()), n);
  const byte_view vb(reinterpret_cast<const uint8_t*>(b.data()), n);
  auto same_word = [&](size_t at) {
    uint64_t x, y;
    return va.block(at, x) && vb.block(at, y) && x == y;
  };
  for (size_t i = 0; i + 8 < n; i += 8)
    if (!same_word(i)) return false;
  return same_word(n - 8);
}

// Where each column landed among the registered titles: cells are placed by
// title, so that a record never lands under another kind's titles.
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
    for (size_t id = 0; id < k_row_column_count; ++id) {
      const row_column& d = k_row_columns[id];
      if (title == d.title || (d.date() && title == d.date_title)) {
        if (c.at[id] < 0) c.at[id] = static_cast<int32_t>(i);
        break;
      }
    }
  }
  c.made = true;
  return c.at;
}

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

// The one look-up of the row forms' scratch.
row_buffers& buffers(lnk::useropts& o) {
  return made_part(o.m_scratch.rows);
}

// Runs a row writer; one that memory stopped is said in the report's sink
// in the run's scratch, where a road that must say what it lost looks.
template <class F>
void guarded_row(lnk::useropts& o, F&& write) {
  vk::guarded(write, [&] { o.m_scratch.report_faults.add_out_of_memory(); });
}

// What a column's rules read of one record.
column_source source_of(const lnk_record& r, const lnk::useropts& o, const record_values& v,
                        row_buffers& b) {
  const record_kind kind = record_kind_of(o);
  const bool entry = shows_destlist_entry(o, r);
  return {r, o, v, b, kind, kind.listed && !entry, kind.listed || entry};
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
    const byte_view v(reinterpret_cast<const uint8_t*>(text), size);
    auto holds = [&](size_t at) {
      uint64_t w;
      if (!v.block(at, w)) return true;
      w ^= pattern;  // a zero byte where from stands
      return ((w - ones) & ~w & highs) != 0;
    };
    if (!holds(0) && !holds(size - 8)) return;
  }
  char* const end = text + size;
  for (auto* p = static_cast<char*>(std::memchr(text, from, size)); p != nullptr;
       p = static_cast<char*>(std::memchr(p + 1, from, static_cast<size_t>(end - p - 1))))
    *p = to;
}

// The cells of a record's row for the general table writer, by column.
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

  bool placed(size_t id) const { return at(m_at[id]) != nullptr; }
  void text(size_t id, std::string_view value) {
    if (row_cell* c = at(m_at[id])) set_text(*c, value);
  }
  // The scratch text from start to end.
  void built(size_t id, size_t start, size_t end) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    c->kind = row_cell::built;
    c->value = start;
    c->size = end - start;
  }
  void number(size_t id, uint64_t value, uint16_t type, uint32_t flags) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    c->kind = row_cell::number;
    c->type = type;
    c->flags = flags;
    c->value = value;
  }
  // One cell, or a date and a time cell, as the column was registered.
  void date(size_t id, uint64_t filetime, uint32_t flags) {
    row_cell* c = at(m_at[id]);
    if (!c) return;
    c->kind = split(id) ? row_cell::time_two : row_cell::time_one;
    c->flags = flags;
    c->value = filetime;
  }
  // "na", in the time cell too where the column has one.
  void na(size_t id) {
    text(id, "na");
    if (m_at[id] >= 0 && split(id)) {
      if (row_cell* c = at(m_at[id] + 1)) set_text(*c, "na");
    }
  }

 private:
  row_cell* at(int32_t i) const {
    return i >= 0 && static_cast<size_t>(i) < m_b.cells.size() ? &m_b.cells[static_cast<size_t>(i)]
                                                               : nullptr;
  }
  static void set_text(row_cell& c, std::string_view value) {
    c.kind = row_cell::text;
    c.data = value.data();
    c.size = value.size();
  }
  bool split(size_t id) const {
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
  // A row memory left without cells is the record's loss, said by its writer.
  if (row.m_valid != 1 && !b.cells.empty()) throw std::bad_alloc();
  for (size_t k = 0; k < b.cells.size(); ++k) {
    const row_cell& c = b.cells[k];
    const auto i = static_cast<int32_t>(k);
    switch (c.kind) {
      case row_cell::empty:
        break;
      case row_cell::text:
      case row_cell::built:
        // A cell memory left empty is the row's loss, said by its writer.
        if (set_row_text(row, i, std::string(cell_text(b, c)), vt_text, 0) == 0)
          throw std::bad_alloc();
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

// The record's cells by column, each column's rule as the table has it.
void fill_row(row_buffers& b, const column_source& s) {
  row_filler row(s.o, b);
  line_sink scratch(b.scratch);
  for (size_t id = 0; id < k_row_column_count; ++id) {
    if (!row.placed(id)) continue;
    const cell_value v = k_row_columns[id].value(s);
    const size_t start = scratch.size();
    switch (v.kind) {
      case cell_value::empty:
        break;
      case cell_value::text:
        row.text(id, v.text_value);
        break;
      case cell_value::record_text:
        scratch.put_marked(v.text_value);
        row.built(id, start, scratch.size());
        break;
      case cell_value::number:
        row.number(id, v.value, v.type, v.flags);
        break;
      case cell_value::date:
        row.date(id, v.value, v.flags);
        break;
      case cell_value::na:
        row.na(id);
        break;
      case cell_value::joined:
        v.join(scratch, s);
        // The cell is rewritten from its bytes.
        scratch.take_in_held();
        row.built(id, start, scratch.size());
        break;
    }
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
  p.ids.assign(n, static_cast<uint8_t>(k_max_record_columns));
  p.split.assign(n, 0);
  for (size_t id = 0; id < k_row_column_count; ++id)
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
// in column order straight into one buffer, by the same column rules.
class row_line {
 public:
  explicit row_line(const column_source& src)
      : m_src(src),
        m_s(src.o),
        m_b(src.b),
        m_out(src.b.line),
        m_pad(!src.o.m_no_padding),
        m_blank(m_pad ? " " : ""),
        m_defaults(src.o.m_quoted_csv ? static_cast<uint32_t>(vf_quoted) : 0u),
        m_from(src.o.m_replacement_char ? src.o.m_replace_char : 0),
        m_to(src.o.m_replacement_char),
        m_show(src.o.m_csv || src.o.m_csvl2t || src.o.m_csvgen || src.o.m_bodyfile),
        m_separator(src.o.m_separator.size() == 1 ? src.o.m_separator[0] : '\0'),
        m_plain(!m_pad && !(m_defaults & vf_quoted)),
        m_open_first(opening_quote_quoted(src.o, true)),
        m_open_rest(opening_quote_quoted(src.o, false)) {}

  // Writes the line to out; false, with nothing written, when a text cell
  // holds a line end to be shown, which the general writer does (such rows
  // are rare).
  bool write(const row_plan& plan, std::ostream& out) {
    const size_t count = plan.ids.size();
    m_count = count;
    for (size_t i = 0; i < count; ++i) {
      i = cell(i, plan.ids[i], plan.split[i] != 0);
      if (i + 1 < count) separator();
    }
    // A held text holds no line end.
    if (m_show && has_line_end(m_out.text())) return false;
    if (m_s.m_row_line_break) m_out.put('\n');
    m_out.write_to(out);
    return true;
  }

 private:
  // Writes the cell at i (a date with its time cell after it: both);
  // returns the index of the last cell written.
  size_t cell(size_t i, size_t id, bool split) {
    if (id >= k_row_column_count) return empty(i);
    const cell_value v = k_row_columns[id].value(m_src);
    switch (v.kind) {
      case cell_value::empty:
        break;
      case cell_value::text:
        return text(i, v.text_value);
      case cell_value::record_text:
        return record_text(i, v.text_value);
      case cell_value::number:
        return number(i, v.value, v.type, v.flags);
      case cell_value::date:
        return date(i, id, v.value, v.flags, split);
      case cell_value::na:
        return na(i, split);
      case cell_value::joined:
        return built(i, [&](line_sink& out) { v.join(out, m_src); });
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

  // Blanks after what was written from start (and held: more bytes than
  // the line holds), up to the width.
  void pad(size_t start, uint64_t w, size_t held = 0) {
    if (w > k_max_pad) w = k_max_pad;
    const size_t used = m_out.size() - start + held;
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
    if (*at == '"') quote_opening(i, m_out.size() - n);
    return i;
  }

  // A bare cell written from start that begins with a quote: quoted, where
  // a CSV reader would take that quote for the start of a quoted value.
  // Rare: kept out of the cells' usual road.
  [[gnu::noinline, gnu::cold]] void quote_opening(size_t i, size_t start) {
    if (opens_quoted(i)) m_out.quote_since(start, m_b.spare);
  }

  // A text of the record: copied and looked at for control characters in
  // one pass, written with its marks when it holds one.
  size_t record_text(size_t i, std::string_view t) {
    // A large text is held, when nothing the cell does would change it.
    if (t.size() >= line_sink::held_from && held_text(i, t)) return i;
    if (m_plain) {
      const size_t n = t.size();
      char* const at = m_out.room(n);
      if (copy_unmarked(at, t)) {
        replace_from(at, n, m_from, m_to);
        m_out.advance_to(at + n);
        if (n != 0 && *at == '"') quote_opening(i, m_out.size() - n);
        return i;
      }
    }
    return text(i, marked_text(t, m_b.marks));
  }

  // A large text held in its cell, laid out as laid_out_text lays out a
  // copy; false, with nothing written, when it is not held.
  bool held_text(size_t i, std::string_view t) {
    const size_t start = m_out.size();
    if (!m_out.hold(t, m_from, m_to)) return false;
    if ((m_defaults & vf_quoted) || (m_out.first_at(start) == '"' && opens_quoted(i)))
      m_out.quote_since(start, m_b.spare);
    // The held text stands for its own size, not its one byte.
    if (m_pad) pad(start, width(i), m_out.last_held_size() - 1);
    return true;
  }

  size_t laid_out_text(size_t i, std::string_view t) {
    if (t.empty() && !(m_defaults & vf_quoted)) return empty(i);
    const size_t start = m_out.size();
    if ((m_defaults & vf_quoted) || (!t.empty() && t[0] == '"' && opens_quoted(i))) {
      m_out.put_quoted(t);
    } else {
      m_out.put(t);
    }
    replace_from(m_out.data() + start, m_out.size() - start, m_from, m_to);
    if (m_pad) pad(start, width(i));
    return i;
  }

  bool opens_quoted(size_t i) const { return i == 0 ? m_open_first : m_open_rest; }

  // A text put together by make: in place, or through the scratch text
  // when it is to be quoted.
  // A text put together by make, in place: quoted, as laid_out_text
  // quotes a copy, then replaced. The large texts of the record make holds
  // stay held.
  template <class Make>
  size_t built(size_t i, Make make) {
    const size_t start = m_out.size();
    make(m_out);
    const bool quoted = m_defaults & vf_quoted;
    if (quoted) m_out.quote_since(start, m_b.spare);
    replace_from(m_out.data() + start, m_out.size() - start, m_from, m_to);
    if (!quoted && m_out.size() > start && m_out.first_at(start) == '"') quote_opening(i, start);
    if (m_pad) pad(start, width(i), m_out.held_extra_since(start));
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

  // "na" in the cell and, for a split date column, in its time cell.
  size_t na(size_t i, bool split) {
    text(i, "na");
    if (!split || i + 1 >= m_count) return i;
    separator();
    return text(i + 1, "na");
  }

  size_t date(size_t i, size_t id, uint64_t ticks, uint32_t flags, bool split) {
    time_format_descriptor d = m_s.m_time_settings.m_descriptor;
    if ((flags | m_defaults) & vf_no_subseconds)
      d.m_time_flags &= static_cast<uint8_t>(~time_format_descriptor::subsecond_mask);
    time_texts& last = m_b.last_times[id];
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

  const column_source& m_src;
  const cmd_params& m_s;
  row_buffers& m_b;
  line_sink m_out;
  const bool m_pad;
  const std::string_view m_blank;
  const uint32_t m_defaults;
  const char m_from;
  const char m_to;
  const bool m_show;
  const char m_separator;   // the separator when one character, else 0
  const bool m_plain;       // no widths and no quotes: cells as they stand
  const bool m_open_first;  // a first cell that begins with a quote is quoted
  const bool m_open_rest;   // so is any other
  size_t m_count = 0;
  const time_texts* m_prev = nullptr;  // the last date cell's texts
};

// The log2timeline columns after the type column, without the line end.
// With show, each text shows its line ends as the line's own texts do;
// without, the texts are only replaced in (for a record without line ends,
// the same line).
void l2t_tail(line_sink& tail, row_buffers& b, const lnk_record& r, const lnk::useropts& o,
              const record_values& v, bool show) {
  std::string& spare = b.spare;
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
    if (!show || !has_line_end(tail.text().substr(start))) return;
    tail.take_in_held();
    spare.assign(tail.text().substr(start));
    show_line_ends(spare);
    tail.truncate(start);
    tail.put(spare);
  };
  // A large text of the record is held rather than copied, when nothing
  // done to its column would change it (the record outlives the line).
  auto put_marked = [&](std::string_view text) {
    if (!tail.hold(text, from, to)) tail.put_marked(text);
  };
  // Quoted, each text column goes in quotes once its text is final; the
  // version and the inode stand bare, as numbers do in the other rows. Bare,
  // a column that begins with a quote is quoted all the same.
  size_t start = 0;
  const bool open = opening_quote_quoted(o, false);
  auto quote = [&] {
    if (o.m_quoted_csv || (open && tail.first_at(start) == '"')) tail.quote_since(start, spare);
  };
  tail.put(d);
  start = tail.size();
  shown_then_replaced(o.m_user_name);
  quote();
  tail.put(d);
  start = tail.size();
  shown_then_replaced(o.m_host_name);
  quote();
  tail.put(d);
  start = tail.size();
  if (!tail.hold(v.m_target_name, from, to))
    shown_then_replaced(marked_text(v.m_target_name, b.marks));
  quote();
  tail.put(d);
  start = tail.size();
  put_marked(v.m_target_name);
  tail.put(" <- ");
  tail.put(source);
  tail.put("; ");
  for (const labelled_text& part : k_l2t_description_parts) {
    const std::string_view value = part.text(r);
    if (value.empty()) continue;
    tail.put(part.label);
    put_marked(value);
    tail.put("; ");
  }
  tail.truncate(tail.size() - 2);
  replaced_then_shown(start);
  quote();
  tail.put(d);
  tail.put('2');
  tail.put(d);
  start = tail.size();
  shown_then_replaced(source);
  quote();
  tail.put(d);
  tail.put_decimal(o.m_source_inode);  // 0 outside an NTFS scan
  tail.put(d);
  start = tail.size();
  // A record's text may be held; the others (times made here) are copied.
  auto note = [&](std::string_view label, std::string_view value, bool of_record = false) {
    if (tail.size() > start) tail.put("; ");
    tail.put(label);
    if (of_record)
      put_marked(value);
    else
      tail.put_marked(value);
  };
  // The text fields' notes of a group, in the field list's order.
  auto field_notes = [&](auto group) {
    each_text_field([&](auto i) {
      constexpr text_field f = k_text_fields[decltype(i)::value];
      using K = text_form::l2t_kind;
      if constexpr ((f.l2t.kind == K::note || f.l2t.kind == K::note_always) &&
                    f.l2t.place == decltype(group)::value) {
        const std::string_view value = f.text(r);
        if (f.l2t.kind == K::note_always || !value.empty()) note(f.l2t.label, value, true);
      }
    });
  };
  field_notes(std::integral_constant<int, 0>());
  if (r.m_header.m_file_size != 0) {
    note("target size: ", "");
    tail.put_decimal(r.m_header.m_file_size);
  }
  // An MRU time that is no date has no line of its own: its value stands here.
  if (const char* end = put_raw_time(b.raw_time, r.m_mru_time); end != b.raw_time)
    note("MRU time: ", {b.raw_time, static_cast<size_t>(end - b.raw_time)});
  if (r.m_object_droid_time != 0) {
    field_notes(std::integral_constant<int, 1>());
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
  quote();
  tail.put(d);
  start = tail.size();
  tail.put(o.m_program_name);
  tail.put(" (velkor)");
  replaced_then_shown(start);
  quote();
  tail.put(d);
  start = tail.size();
  if (o.m_automatic_list || o.m_custom_list) {
    tail.put(v.m_appid_text);
    replaced_then_shown(start);
  }
  quote();
}

// A text of the record in a body-file name: held rather than copied when
// large and free of the '|' the name's columns take from it.
void put_record_text(line_sink& out, std::string_view text) {
  if (!out.hold(text, '|', ';')) out.put_marked(text);
}

// The target a body-file line names: the first text not empty in the body
// file's own order of the field list, a LinkInfo path with its common suffix.
void put_bodyfile_target(line_sink& out, const lnk_record& r) {
  constexpr auto order = fields_in_place_order<body_target_place>();
  auto put = [&](auto k) {
    constexpr text_field f = k_text_fields[order[decltype(k)::value]];
    const std::string_view text = f.text(r);
    if (text.empty()) return false;
    put_record_text(out, text);
    if constexpr (f.target.body != text_form::body_kind::text) {
      const std::string_view suffix = link_info_text<&texts_of::m_common_path_suffix>(r);
      if (f.target.body == text_form::body_kind::network && !suffix.empty()) out.put('\\');
      out.put_marked(suffix);
    }
    return true;
  };
  [&]<size_t... K>(std::index_sequence<K...>) {
    (void)(put(std::integral_constant<size_t, K>()) || ...);
  }
  (std::make_index_sequence<order.size()>());
}

}  // namespace

void register_record_columns(std::ostream& out, lnk::useropts& o) {
  const uint64_t path_width = o.m_source_path.size() > 40 ? o.m_source_path.size() : 40;
  const uint64_t d = o.m_date_format.size();
  const uint64_t t = o.m_time_format.size();
  const bool pair = o.m_pair_datetime != 0;
  o.m_columns.clear();
  vk_variant_lite column;
  std::array<bool, k_row_column_count> added{};
  auto add_wanted = [&](record_kind kind) {
    for (size_t id = 0; id < k_row_column_count; ++id) {
      const row_column& def = k_row_columns[id];
      if (added[id] || !def.wanted(o, kind)) continue;
      added[id] = true;
      if (def.date() && pair) {
        init_typed_column(column, def.title, d + t + 1, vt_filetime_1col, 0);
        o.m_columns.push_back(column);
      } else if (def.date()) {
        init_column(column, def.date_title, d);
        o.m_columns.push_back(column);
        init_typed_column(column, def.time_title, t, vt_filetime_time, 0);
        o.m_columns.push_back(column);
      } else {
        init_column(column, def.title, def.width == k_path_width ? path_width : def.width);
        o.m_columns.push_back(column);
      }
    }
  };
  // A run over a file list cannot know its later files' kinds: it takes the
  // automatic road's columns, then those only the carve road fills.
  if (o.m_list_run) {
    add_wanted(record_kind{true, false});
    add_wanted(record_kind{false, true});
  } else {
    add_wanted(record_kind_of(o));
  }
  if (o.m_no_padding) {
    for (vk_variant_lite& c : o.m_columns) c.m_width = 0;
  }
  static std::atomic<uint32_t> stamps{0};
  uint32_t stamp = ++stamps;
  if (stamp == 0) stamp = ++stamps;
  o.m_columns_stamp = stamp;
  write_table_header(out, o);
}

void write_record_row(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                      const record_values& v) {
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
    const column_source source = source_of(r, o, v, b);
    if (row_line(source).write(plan, out)) return;
    fill_row(b, source);
    table_row row = as_table_row(b, o);
    if (!output_table_row(out, row, o)) o.m_scratch.report_faults.add_out_of_memory();
  });
}

void write_record_row_as_table(std::ostream& out, const lnk_record& r, lnk::useropts& o,
                               const record_values& v) {
  guarded_row(o, [&] {
    row_buffers& b = buffers(o);
    fill_row(b, source_of(r, o, v, b));
    table_row row = as_table_row(b, o);
    if (!output_table_row(out, row, o)) o.m_scratch.report_faults.add_out_of_memory();
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
    l2t_tail(tail, b, r, o, v, false);
    if (has_line_end(tail.text())) {
      tail.truncate(0);
      l2t_tail(tail, b, r, o, v, true);
    }
    if (o.m_row_line_break) tail.put('\n');

    const std::string& d = o.m_separator;
    const bool listed = o.m_automatic_list || o.m_custom_list;
    // Quoting drops the blank before the time, as it does in the other rows.
    const bool blank = !o.m_no_padding && o.m_cell_blank;
    const char from = o.m_replacement_char ? o.m_replace_char : 0;
    const char to = o.m_replacement_char;
    line_sink line(b.line);
    // Quoted, the text columns as the tail's are.
    auto quote = [&](size_t start) {
      if (o.m_quoted_csv) line.quote_since(start, b.spare);
    };
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
      size_t start = line.size();
      line.put("UTC");
      quote(start);
      line.put(d);
      start = line.size();
      for (int j = 0; j < 4; ++j) line.put((e.members & (1u << j)) ? k_letters[j] : '.');
      quote(start);
      line.put(d);
      start = line.size();
      line.put(listed ? "VESKLIST" : "LNK");
      quote(start);
      line.put(d);
      start = line.size();
      line.put(r.m_source_type);
      replace_from(line.data() + start, line.size() - start, from, to);
      quote(start);
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
      quote(labels);
      line.put(tail);
    }
    line.write_to(out);
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
    each_text_field([&](auto i) {
      constexpr text_field f = k_text_fields[decltype(i)::value];
      if constexpr (f.body.part) {
        if (const std::string_view text = f.text(r); !text.empty()) {
          line.put(f.body.label);
          put_record_text(line, text);
        }
      }
    });
    if (o.m_carve_mode) line.put(" (rawscan)");
    if (has_line_end(line.text().substr(start))) {  // one record, one line
      line.take_in_held();
      std::string& shown = b.scratch;
      shown.assign(line.text().substr(start));
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
    // Unix seconds: access, modify, MRU (in the change column), create. A
    // time the other forms show as not available (missing, or outside the
    // years 1900 to 3000) is 0, as is one before 1970, which mactime cannot
    // read.
    for (uint64_t ticks :
         {v.m_target_times[1], v.m_target_times[0], r.m_mru_time, v.m_target_times[2]}) {
      int64_t seconds = 0;
      line.put('|');
      line.put_decimal(filetime_printable(ticks) && filetime_to_unix_seconds(ticks, seconds) &&
                               seconds > 0
                           ? static_cast<uint64_t>(seconds)
                           : 0);
    }
    if (o.m_row_line_break) line.put('\n');
    line.write_to(out);
  });
}

bool same_text_for_test(std::string_view a, std::string_view b) {
  return same_text(a, b);
}

void replace_from_for_test(char* text, size_t size, char from, char to) {
  replace_from(text, size, from, to);
}

}  // namespace vk
