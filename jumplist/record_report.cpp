#include "jumplist/record_report.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "cmdline/path_alias.h"
#include "foundation/uni_stream.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"
#include "jumplist/idlist_breakout.h"
#include "jumplist/lnk_names.h"
#include "jumplist/lnk_text_fields.h"
#include "jumplist/record_columns.h"
#include "jumplist/record_rows.h"
#include "jumplist/report_scratch.h"
#include "shell/file_attributes.h"

namespace vk {
namespace {

// "<date> <time> [UTC]" appended; false (nothing appended) for no valid time.
bool append_date_time(std::string& out, uint64_t ticks, const time_format_settings& settings) {
  if (!append_filetime_text(out, ticks, settings.m_descriptor)) return false;
  out += " [UTC]";
  return true;
}

// The labelled block is written in place: straight into the report stream's
// put area when it is one of ours, else into one buffer that keeps its room
// from record to record. Each piece makes sure of its room once and is
// copied in place; a piece the put area cannot hold sends the rest of the
// block to the buffer.
class block_writer {
 public:
  block_writer(std::string& buffer, uni::streambuf_generic_output<char>* area)
      : m_buffer(buffer), m_area(area) {
    if (m_area) {
      m_begin = m_at = m_area->put_room(0);
      m_end = m_area->put_end();
    } else {
      use_buffer();
    }
  }
  block_writer(const block_writer&) = delete;
  block_writer& operator=(const block_writer&) = delete;

  // Room for n more bytes at the end; good until the next call.
  char* room(size_t n) {
    if (static_cast<size_t>(m_end - m_at) < n) grow(n);
    return m_at;
  }
  void advance_to(char* end) { m_at = end; }
  void put(std::string_view s) {
    if (s.empty()) return;
    char* p = room(s.size());
    std::memcpy(p, s.data(), s.size());
    m_at = p + s.size();
  }
  template <size_t N>
  void put(const char (&s)[N]) {
    char* p = room(N - 1);
    std::memcpy(p, s, N - 1);
    m_at = p + N - 1;
  }
  void put(char c) {
    *room(1) = c;
    ++m_at;
  }
  // Bytes since the last grow: a mark to truncate back to stays good only
  // while no room() call asks for more than was made sure of before it.
  size_t size() const { return static_cast<size_t>(m_at - m_begin); }
  void truncate(size_t size) { m_at = m_begin + size; }

  // A large text goes to the stream with its marks, from where it stands,
  // after what the block wrote so far, rather than through the buffer: the
  // bytes written, 0 when the block is not written into the stream's put
  // area or the text is small.
  size_t put_through(std::string_view t) {
    if (!m_area || t.size() < line_sink::held_from) return 0;
    m_area->put_advance(m_at);
    size_t written = 0;
    each_marked_piece(t, [&](std::string_view p) {
      written += p.size();
      if (!m_area->put_bytes(p.data(), p.size())) m_failed = true;
    });
    m_begin = m_at = m_area->put_room(0);
    m_end = m_area->put_end();
    return written;
  }

  // Hands what was written to `out`; the writer is done with it.
  void flush_to(std::ostream& out) {
    if (m_failed) out.setstate(std::ios_base::badbit);
    if (m_area)
      m_area->put_advance(m_at);
    else
      uni::write_block(out, m_buffer.data(), size());
    m_area = nullptr;
    use_buffer();
  }

 private:
  void use_buffer() {
    m_begin = m_at = m_buffer.data();
    m_end = m_buffer.data() + m_buffer.size();
  }
  void grow(size_t n) {
    if (m_area) {
      m_area->put_advance(m_at);
      if (char* p = m_area->put_room(n)) {
        m_begin = m_at = p;
        m_end = m_area->put_end();
        return;
      }
      // The rest of the block goes through the buffer, after what the area took.
      m_area = nullptr;
      use_buffer();
      if (static_cast<size_t>(m_end - m_at) >= n) return;
    }
    const size_t used = size();
    m_buffer.resize(std::max(used + n, 2 * m_buffer.size() + 1024));
    m_begin = m_buffer.data();
    m_at = m_begin + used;
    m_end = m_buffer.data() + m_buffer.size();
  }

  std::string& m_buffer;
  uni::streambuf_generic_output<char>* m_area;
  char* m_begin = nullptr;
  char* m_at = nullptr;
  char* m_end = nullptr;
  bool m_failed = false;  // a text put through was not all taken
};

// Every label is this wide, blank-padded.
constexpr size_t k_label_size = 26;

template <size_t N>
char* put_label(char* at, const char (&label)[N]) {
  static_assert(N - 1 == k_label_size);
  std::memcpy(at, label, k_label_size);
  return at + k_label_size;
}

char* put_view(char* at, std::string_view s) {
  if (!s.empty()) std::memcpy(at, s.data(), s.size());
  return at + s.size();
}

// label and value at p (room for both and the line end); returns its end.
char* put_line(char* p, const char* label, std::string_view value) {
  std::memcpy(p, label, k_label_size);
  p = put_view(p + k_label_size, value);
  *p++ = '\n';
  return p;
}

void line(block_writer& w, const char* label, std::string_view value) {
  w.advance_to(put_line(w.room(k_label_size + value.size() + 1), label, value));
}

// A text of the record, its control characters as marks: copied in place
// and looked at in the same pass.
[[gnu::noinline, gnu::cold]] size_t put_marked_text(block_writer& w, std::string& marks,
                                                    std::string_view t) {
  const std::string_view shown = marked_text(t, marks);
  w.put(shown);
  return shown.size();
}

[[gnu::always_inline]] inline size_t put_text(block_writer& w, std::string& marks,
                                              std::string_view t) {
  if (t.size() >= line_sink::held_from)
    if (const size_t written = w.put_through(t)) return written;
  char* const p = w.room(t.size());
  if (!copy_unmarked(p, t)) return put_marked_text(w, marks, t);
  w.advance_to(p + t.size());
  return t.size();
}

// The rare line whose text holds a control character, apart so that the
// usual line stays small where it is inlined.
[[gnu::noinline, gnu::cold]] void marked_line(block_writer& w, std::string& marks,
                                              const char* label, std::string_view value) {
  line(w, label, marked_text(value, marks));
}

// A line of a text of the record, its control characters as marks: the
// text is copied in place and looked at in the same pass.
[[gnu::always_inline]] inline void text_line(block_writer& w, std::string& marks, const char* label,
                                             std::string_view value) {
  if (value.size() >= line_sink::held_from) {
    char* p = w.room(k_label_size);
    std::memcpy(p, label, k_label_size);
    w.advance_to(p + k_label_size);
    put_text(w, marks, value);
    w.put('\n');
    return;
  }
  const size_t n = value.size();
  char* p = w.room(k_label_size + n + 1);
  if (!copy_unmarked(p + k_label_size, value)) return marked_line(w, marks, label, value);
  std::memcpy(p, label, k_label_size);
  p[k_label_size + n] = '\n';
  w.advance_to(p + k_label_size + n + 1);
}

// The room of a date-and-time line whose text for no valid time has
// none_size bytes.
constexpr size_t date_line_room(size_t none_size) {
  return k_label_size + std::max(k_filetime_text_room + 6, none_size) + 1;
}

// A labelled date-and-time line at p (date_line_room), with `none` for no
// valid time; returns its end.
template <size_t N>
char* put_date_line(char* p, const char (&label)[N], uint64_t ticks,
                    const time_format_descriptor& layout, std::string_view none) {
  p = put_label(p, label);
  char* end = put_filetime_text(p, ticks, layout);
  if (end != p) {
    std::memcpy(end, " [UTC]\n", 7);
    return end + 7;
  }
  end = put_view(p, none);
  *end++ = '\n';
  return end;
}

// The same with nothing at all for no valid time.
template <size_t N>
char* put_date_line_if_valid(char* p, const char (&label)[N], uint64_t ticks,
                             const time_format_descriptor& layout) {
  char* const end = put_filetime_text(put_label(p, label), ticks, layout);
  if (end == p + k_label_size) return p;  // the label written is left beyond the end
  std::memcpy(end, " [UTC]\n", 7);
  return end + 7;
}

template <size_t N>
void date_line(block_writer& w, const char (&label)[N], uint64_t ticks,
               const time_format_descriptor& layout) {
  w.advance_to(put_date_line(w.room(date_line_room(0)), label, ticks, layout, {}));
}

constexpr size_t k_hex_and_decimal_line_room = k_label_size + 2 * k_number_text_room + 10;

// label "0x%08x [%u]", or "0x%08x [%u bytes]" for a size, at p
// (k_hex_and_decimal_line_room); returns its end.
template <size_t N>
char* put_hex_and_decimal_line(char* p, const char (&label)[N], uint64_t value, bool bytes) {
  p = put_label(p, label);
  if (value <= 0xFFFFFFFFull) {
    // The usual 32-bit value, its four byte pairs written here.
    p[0] = '0';
    p[1] = 'x';
    for (unsigned i = 0; i < 4; ++i)
      std::memcpy(p + 8 - 2 * i, k_hex_byte_pairs.data() + 2 * ((value >> (8 * i)) & 0xFF), 2);
    p += 10;
  } else {
    p = put_hex_number_text(p, value, true, 8);
  }
  std::memcpy(p, " [", 2);
  p = put_decimal(p + 2, value);
  if (bytes) {
    std::memcpy(p, " bytes]\n", 8);
    return p + 8;
  }
  std::memcpy(p, "]\n", 2);
  return p + 2;
}

// label and a number by the hex option.
template <size_t N>
void number_line(block_writer& w, const char (&label)[N], uint64_t value, bool hex,
                 unsigned width) {
  char* p = put_hex_number_text(put_label(w.room(k_label_size + k_number_text_room + 1), label),
                                value, hex, width);
  *p++ = '\n';
  w.advance_to(p);
}

template <size_t N>
void decimal_line(block_writer& w, const char (&label)[N], uint64_t value) {
  char* p = put_decimal(put_label(w.room(k_label_size + k_number_text_room + 1), label), value);
  *p++ = '\n';
  w.advance_to(p);
}

// label, value and " [orig: <orig>]" when the original is there and other.
// Both texts are held in place: all N bytes are copied, the size counts.
template <size_t N>
void with_orig(block_writer& w, const char* label, std::string_view value, std::string_view orig) {
  char* p = w.room(k_label_size + 2 * N + 10);
  std::memcpy(p, label, k_label_size);
  p += k_label_size;
  std::memcpy(p, value.data(), N);
  p += value.size();
  if (!orig.empty() && orig != value) {
    std::memcpy(p, " [orig: ", 8);
    std::memcpy(p + 8, orig.data(), N);
    p += 8 + orig.size();
    *p++ = ']';
  }
  *p++ = '\n';
  w.advance_to(p);
}

// " [n] " before an entry's text (n from 1; mostly a single digit).
char* put_entry_number(char* p, size_t n) {
  if (n < 10) {
    const char text[5] = {' ', '[', static_cast<char>('0' + n), ']', ' '};
    std::memcpy(p, text, 5);
    return p + 5;
  }
  std::memcpy(p, " [", 2);
  p = put_decimal(p + 2, n);
  std::memcpy(p, "] ", 2);
  return p + 2;
}

// Texts of the record, one line each under the label (one: on its line).
void numbered(block_writer& w, std::string& marks, const char* label,
              const std::vector<std::string>& entries) {
  if (entries.size() == 1) return text_line(w, marks, label, entries[0]);
  line(w, label, {});
  for (size_t i = 0; i < entries.size(); ++i) {
    w.advance_to(put_entry_number(w.room(k_number_text_room + 4), i + 1));
    put_text(w, marks, entries[i]);
    w.put('\n');
  }
}

// The labelled lines of the text fields, in the field list's order: those
// among a DestList entry's lines (Entry), or the link's. The list is known
// when this is compiled, so that each text is read straight from the record.
template <bool Entry>
[[gnu::flatten]] void field_lines(block_writer& w, std::string& marks, const lnk_record& r,
                                  const lnk::useropts& o) {
  using K = text_form::line_kind;
  each_text_field([&](auto i) {
    constexpr text_field f = k_text_fields[decltype(i)::value];
    if constexpr ((f.line.kind == K::entry) != Entry || f.line.kind == K::none) {
      return;
    } else if constexpr (f.line.kind == K::list) {
      if (const std::vector<std::string>& l = f.list(r); !l.empty())
        numbered(w, marks, f.line.label, l);
    } else if constexpr (f.line.kind == K::with_orig) {
      constexpr text_field other = k_text_fields[text_field_index(f.line.other_member)];
      if (const std::string_view v = f.text(r); !v.empty())
        with_orig<f.held>(w, f.line.label, v, other.text(r));
    } else if constexpr (f.line.kind == K::or_listed) {
      if (const std::string_view v = f.text(r); !v.empty())
        text_line(w, marks, f.line.label, v);
      else if (const std::string_view other = f.line.other(r);
               shows_destlist_entry(o, r) && !other.empty())
        text_line(w, marks, f.line.label, other);
    } else {
      if (const std::string_view v = f.text(r); !v.empty()) text_line(w, marks, f.line.label, v);
    }
  });
}

void put_appid(block_writer& w, const lnk::useropts& options) {
  w.put(options.m_appid_text);
  if (options.m_appids.empty() || options.m_appid == 0) return;
  const auto it = options.m_appids.find(options.m_appid);
  if (it == options.m_appids.end()) return;
  w.put(" [");
  w.put(it->second);
  w.put(']');
}

const std::string& source_time_lines(file_time_lines& cache, const lnk::useropts& o) {
  const uint64_t ticks[3] = {o.m_source_modify_time, o.m_source_access_time,
                             o.m_source_change_time};
  const uint32_t layout = o.m_time_settings.m_descriptor.as_u32();
  if (cache.made && cache.layout == layout && std::equal(ticks, ticks + 3, cache.ticks))
    return cache.text;
  static const char* const labels[3] = {
      "file modified:            ", "file accessed:            ", "file stats changed:       "};
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

// The labelled block of one record, built whole in w.
void text_block(block_writer& w, report_scratch& s, const lnk_record& r, const lnk::useropts& o,
                const std::array<uint64_t, 3>& target) {
  const time_format_descriptor& layout = o.m_time_settings.m_descriptor;
  const bool hex = o.m_hex_numbers != 0;
  const bool offsets = o.m_carve_mode || o.m_show_offset;

  line(w, "source path/filename:     ", shown_source_text(o));
  if (r.m_file_offset != 0 && offsets)
    number_line(w, "file offset:              ", r.m_file_offset, hex, 8);
  if (o.m_automatic_list || o.m_custom_list) {
    w.put("AppID:                    ");
    put_appid(w, o);
    w.put('\n');
  }
  if (o.m_automatic_list || shows_destlist_entry(o, r)) {
    if (r.m_from_free_space) {
      line(w, "MRU/MFU/Stream# data:     ", "not avail - parsed from slack space");
    } else {
      const uint32_t position = static_cast<uint32_t>(r.m_mru_position);
      if (position <= k_max_mru_position)
        decimal_line(w, "MRU/MFU index:            ", position);
      else
        line(w, "MRU/MFU index:            ", "not available for this record");
      decimal_line(w, "stream #:                 ", r.m_entry_num);
      char raw[k_raw_time_room];
      if (const char* end = put_raw_time(raw, r.m_mru_time); end != raw)
        line(w, "MRU time:                 ", {raw, static_cast<size_t>(end - raw)});
      else
        date_line(w, "MRU time:                 ", r.m_mru_time, layout);
      if (r.m_has_access_count) decimal_line(w, "Interaction count:        ", r.m_access_count);
      field_lines<true>(w, s.marks, r, o);
    }
  }
  w.put(source_time_lines(s.source_times, o));
  if (o.m_show_target_mft && r.m_target_mft_entry != 0) {
    number_line(w, "MFT Entry:                ", r.m_target_mft_entry, hex, 8);
    number_line(w, "MFT Sequence#:            ", r.m_target_mft_seq, hex, 4);
  }
  const lnk_header& h = r.m_header;
  {
    // The header's lines, their room made sure of at once.
    kept_text<k_link_flags_names_room>& flags = s.flags;
    if (!flags.holds(h.m_lnk_flags))
      flags.keep(h.m_lnk_flags, put_link_flags_names(flags.text, h.m_lnk_flags));
    std::string_view attributes_text = "not specified";
    if (h.m_file_attributes) {
      kept_text<file_attributes_text_room(2)>& attributes = s.attributes;
      if (!attributes.holds(h.m_file_attributes))
        attributes.keep(h.m_file_attributes,
                        put_file_attributes_text(attributes.text, h.m_file_attributes, "; "));
      attributes_text = attributes.view();
    }
    const std::string_view show = show_command_name(h.m_show_cmd);
    constexpr std::string_view none = "not available";
    char* p = w.room(2 * k_label_size + flags.view().size() + attributes_text.size() + 2 +
                     3 * date_line_room(none.size()) + 2 * date_line_room(0) +
                     3 * k_hex_and_decimal_line_room + k_label_size +
                     std::max(show.size(), k_number_text_room) + 3);
    p = put_line(p, "Target flags:             ", flags.view());
    p = put_line(p, "Target attributes:        ", attributes_text);
    p = put_date_line(p, "Target modified:          ", target[0], layout, none);
    p = put_date_line(p, "Target accessed:          ", target[1], layout, none);
    p = put_date_line(p, "Target created:           ", target[2], layout, none);
    p = put_date_line_if_valid(p, "Target ObjID time:        ", r.m_object_droid_time, layout);
    if (r.m_birth_object_droid_time != 0 && r.m_birth_object_droid_time != r.m_object_droid_time)
      p = put_date_line(p, "Target ObjID time [orig]: ", r.m_birth_object_droid_time, layout, {});
    if (offsets)
      p = put_hex_and_decimal_line(p, "File offset:              ", r.m_file_offset, false);
    p = put_hex_and_decimal_line(p, "Parsed size:              ", r.m_lnk_size, true);
    p = put_hex_and_decimal_line(p, "Target file size:         ", h.m_file_size, true);
    // A value without a name is shown as it stands.
    p = put_label(p, "Show cmd:                 ");
    *p++ = '[';
    p = show != "unk" ? put_view(p, show) : put_hex_number_text(p, h.m_show_cmd, true, 8);
    std::memcpy(p, "]\n", 2);
    p += 2;
    w.advance_to(p);
  }
  std::string& marks = s.marks;
  field_lines<false>(w, marks, r, o);
  const size_t keys = r.m_property_keys.size();
  if (keys != 0 && keys == r.m_property_values.size()) {
    w.put("PropertyStoreDataBlk:    format guid/id [value] \n");
    for (size_t i = 0; i < keys; ++i) {
      w.advance_to(put_entry_number(w.room(k_number_text_room + 4), i + 1));
      // The key padded by its written length.
      const size_t key = put_text(w, marks, r.m_property_keys[i]);
      const size_t pad = key < 49 ? 49 - key : 0;
      char* const p = w.room(pad + 2);
      std::memset(p, ' ', pad);
      std::memcpy(p + pad, " [", 2);
      w.advance_to(p + pad + 2);
      put_text(w, marks, r.m_property_values[i]);
      w.put("]\n");
    }
  }
  if (!o.m_host_name.empty()) {
    line(w, "username:                 ", o.m_user_name);
    line(w, "hostname:                 ", o.m_host_name);
  }
}

void write_text_block(std::ostream& out, report_scratch& s, const lnk_record& r,
                      const lnk::useropts& o) {
  // The buffer serves every record and keeps its room.
  std::string& block = s.block;
  block_writer w(block, uni::direct_output(out));
  text_block(w, s, r, o, record_target_times(r));
  if (o.m_idlist_times) {
    w.flush_to(out);
    idlist_breakout(out, r, o);
    // The breakout moved the stream on: the blank line goes after it.
    block_writer tail(block, uni::direct_output(out));
    tail.put('\n');
    tail.flush_to(out);
    return;
  }
  w.put('\n');
  w.flush_to(out);
}

}  // namespace

std::string record_date_time_text(uint64_t ticks, const time_format_settings& settings) {
  std::string text;
  append_date_time(text, ticks, settings);
  return text;
}

std::array<uint64_t, 3> record_target_times(const lnk_record& record) {
  const lnk_header& h = record.m_header;
  std::array<uint64_t, 3> times = {h.m_write_time, h.m_access_time, h.m_create_time};
  for (size_t i = 0; i < 3; ++i)
    if (times[i] == 0 && filetime_printable(record.m_idlist_times[i]))
      times[i] = record.m_idlist_times[i];
  return times;
}

namespace {

// The report's scratch; null (memory run out, said in the report's sink)
// when it cannot be made.
report_scratch* scratch_of(lnk::useropts& options) {
  report_scratch* const scratch = try_made_part(options.m_scratch.report);
  if (!scratch) options.m_scratch.report_faults.add_out_of_memory();
  return scratch;
}

}  // namespace

std::string record_target_name(const lnk_record& record) {
  return std::string(target_name_of(record));
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

void report_record(std::ostream& out, const lnk_record& record, lnk::useropts& options) {
  ++options.m_records_written;
  out.fill(' ');
  out.setf(std::ios::left, std::ios::adjustfield);
  out.setf(std::ios::dec, std::ios::basefield);
  const bool rows =
      options.m_csv || !(options.m_bodyfile || options.m_csvl2t || options.m_multiline);
  // Without a column list a row has no cells: register one rather than drop
  // the row.
  if (rows && (options.m_header_pending || (options.m_csv && options.m_columns.empty())))
    register_record_columns(out, options);
  report_scratch* const scratch = scratch_of(options);
  if (!scratch) return;
  // The labelled block derives what it shows as it writes.
  if (!(options.m_bodyfile || options.m_csvl2t || options.m_csv)) {
    write_text_block(out, *scratch, record, options);
    return;
  }
  // One set of values for every record: its texts keep their room.
  record_values& values = scratch->values;
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
}

}  // namespace vk
