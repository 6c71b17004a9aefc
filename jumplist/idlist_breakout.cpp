#include "jumplist/idlist_breakout.h"

#include <cinttypes>
#include <cstdio>
#include <map>

#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"
#include "jumplist/vesk_options.h"

namespace vk {
namespace {

// Item and nested numbers are kept in 16 bits; an ID list is at most 65535
// bytes, so no link reaches these.
constexpr size_t k_max_items = 0x10000;
constexpr size_t k_max_nested = 0xFFFF;

std::string item_name(const shell_item_record& item) {
  return item.long_name.empty() ? item.primary_name : item.long_name;
}

void take_item_fields(idlist_segment& segment, const shell_item_record& item) {
  segment.m_name = item_name(item);
  show_control_chars(segment.m_name);  // one segment, one line
  segment.m_mft_entry = item.mft_entry;
  segment.m_mft_seq = item.mft_sequence;
  segment.m_modify_time = item.modified;
  segment.m_access_time = item.accessed;
  segment.m_create_time = item.created;
}

// Date, a blank and time; both texts empty for a value outside 1900-3000.
// A DOS date and time no date covers show as they stand.
std::string date_time_text(uint64_t ticks, const time_format_settings& settings) {
  if (is_raw_dos_time(ticks)) return hex_number_text(static_cast<uint32_t>(ticks), true, 8);
  std::string date, clock;
  const time t(ticks, type_time::filetime);
  if (t.valid() && t.m_calendar.m_year >= 1900 && t.m_calendar.m_year <= 3000)
    format_time_by_descriptor(date, clock, t, settings);
  date += ' ';
  date += clock;
  return date;
}

// The configured layout without sub-second digits. An all-zero descriptor
// stands for the default layout, which has them, so it is built first.
time_format_settings whole_seconds(const cmd_params& options) {
  time_format_settings layout = options.m_time_settings;
  if (layout.m_descriptor.is_zero())
    build_time_format_settings(layout, options.m_date_format, options.m_time_format,
                               options.m_pair_datetime != 0);
  layout.m_descriptor.m_time_flags &= static_cast<uint8_t>(~time_format_descriptor::subsecond_mask);
  return layout;
}

void write_segment_lines(const idlist_segment& s, std::ostream& out,
                         const time_format_settings& layout) {
  out << " segment: " << s.m_name << '\n';
  if (s.m_no_numbers) return;
  const std::pair<const char*, uint64_t> times[] = {{"  modify [UTC]: ", s.m_modify_time},
                                                    {"  access [UTC]: ", s.m_access_time},
                                                    {"  create [UTC]: ", s.m_create_time}};
  for (const auto& [label, ticks] : times)
    if (ticks != 0) out << label << date_time_text(ticks, layout) << '\n';
  if (s.m_mft_entry != 0) {
    out << "  mft entry#:   " << hex_number_text(s.m_mft_entry, true, 8) << " [" << s.m_mft_entry
        << "]\n";
    out << "  mft seq#:     " << hex_number_text(s.m_mft_seq, true, 4) << " [" << s.m_mft_seq
        << "]\n";
  }
}

void build_segment(idlist_segment& segment, const shell_item_record& item, const std::string& label,
                   uint16_t item_index, bool nested, uint16_t nested_index) {
  clear_idlist_segment(segment);
  segment.m_item_index = item_index;
  if (!nested) {
    take_item_fields(segment, item);
    segment.m_has_nested = item.children.empty() ? 0 : 1;
    segment.m_label = label;
  } else if (nested_index < item.children.size()) {
    take_item_fields(segment, item.children[nested_index]);
    segment.m_has_nested = segment.m_is_nested = 1;
    segment.m_label = label;
    segment.m_nested_index = nested_index;
  }
  segment.m_no_numbers = (segment.m_mft_entry | segment.m_mft_seq | segment.m_modify_time |
                          segment.m_access_time | segment.m_create_time) == 0;
}

// The five numbers as fixed-width hexadecimal, then the name: a fixed-size
// part before a free one keeps distinct segments apart without a digest.
std::string segment_key(const idlist_segment& segment) {
  char numbers[5 * 16 + 1];
  std::snprintf(numbers, sizeof numbers,
                "%016" PRIx64 "%016" PRIx64 "%016" PRIx64 "%016" PRIx64 "%016" PRIx64,
                segment.m_mft_entry, segment.m_mft_seq, segment.m_modify_time,
                segment.m_access_time, segment.m_create_time);
  return numbers + segment.m_name;
}

// Memory that runs out throws: the caller says it.
void collect_segments(std::vector<idlist_segment>& out, const shell_item_list& items) {
  out.clear();
  if (items.empty()) return;
  std::map<std::string, idlist_segment> by_content;
  idlist_segment segment;
  for (size_t i = 0; i < items.size() && i < k_max_items; ++i) {
    const uint16_t index = static_cast<uint16_t>(i);
    build_segment(segment, items[i], std::string(), index, false, 0);
    // An item known only by its nested items is shown through them.
    if (!(segment.m_has_nested && segment.m_no_numbers))
      by_content.emplace(segment_key(segment), segment);
    const size_t nested = items[i].children.size();
    for (size_t j = 0; j < nested && j < k_max_nested; ++j) {
      build_segment(segment, items[i], std::string(), index, true, static_cast<uint16_t>(j));
      by_content.emplace(segment_key(segment), segment);
    }
  }

  // Nested items follow their item: numbered from 1 so that none shares
  // the item's own place.
  std::map<uint64_t, idlist_segment*> by_order;
  for (auto& entry : by_content) {
    idlist_segment& s = entry.second;
    const uint64_t place =
        uint64_t{s.m_item_index} * 65536 + (s.m_is_nested ? uint64_t{s.m_nested_index} + 1 : 0);
    by_order.emplace(place, &s);
  }
  out.reserve(by_order.size());
  for (const auto& entry : by_order) out.push_back(std::move(*entry.second));
}

void breakout_body(std::ostream& out, const lnk_record& record, const cmd_params& options,
                   fault_sink& report) {
  // A stored record keeps its segments; one straight from the parser, its items.
  std::vector<idlist_segment> made;
  if (record.m_idlist_segments.empty())
    collect_idlist_segments(made, record.m_idlist_items, report);
  const std::vector<idlist_segment>& segments =
      record.m_idlist_segments.empty() ? made : record.m_idlist_segments;
  if (segments.empty()) return;

  if (options.m_csv) {
    bool first = true;
    for (const idlist_segment& s : segments) {
      write_segment_cell(s, out, options, first);
      first = false;
    }
    return;
  }
  const time_format_settings layout = whole_seconds(options);
  out << "IDList subpath breakout\n";
  for (const idlist_segment& s : segments) write_segment_lines(s, out, layout);
}

}  // namespace

void clear_idlist_segment(idlist_segment& segment) {
  segment.m_name.clear();
  segment.m_label.clear();
  segment.m_mft_entry = segment.m_mft_seq = 0;
  segment.m_modify_time = segment.m_access_time = segment.m_create_time = 0;
  segment.m_no_numbers = 1;
  segment.m_has_nested = segment.m_is_nested = 0;
  segment.m_item_index = segment.m_nested_index = 0;
}

idlist_segment copy_idlist_segment(const idlist_segment& segment) {
  return guarded([&] { return segment; });
}

void build_idlist_segment(idlist_segment& segment, const shell_item_record& item,
                          const std::string& label, uint16_t item_index, bool nested,
                          uint16_t nested_index) {
  guarded([&] { build_segment(segment, item, label, item_index, nested, nested_index); },
          [&] { clear_idlist_segment(segment); });
}

std::string idlist_segment_key(const idlist_segment& segment) {
  return guarded([&] { return segment_key(segment); });
}

void write_segment_cell(const idlist_segment& segment, std::ostream& out, const cmd_params& options,
                        bool first) {
  guarded([&] {
    if (first) out << "!*<[name;modify [UTC];access [UTC];create [UTC];mft;mftseq]>";
    out << "*<" << segment.m_name << ';';
    if (segment.m_no_numbers) {
      out << "0;0;0;0;0>";
      return;
    }
    for (uint64_t ticks : {segment.m_modify_time, segment.m_access_time, segment.m_create_time}) {
      if (ticks != 0)
        out << date_time_text(ticks, options.m_time_settings) << ';';
      else
        out << "0;";
    }
    const bool hex = options.m_hex_numbers != 0;
    out << hex_number_text(segment.m_mft_entry, hex, 8) << ';'
        << hex_number_text(segment.m_mft_seq, hex, 4) << '>';
  });
}

void collect_idlist_segments(std::vector<idlist_segment>& out, const shell_item_list& items,
                             fault_sink& faults) {
  guarded([&] { collect_segments(out, items); },
          [&] {
            out.clear();
            faults.add_out_of_memory();
          });
}

void idlist_breakout(std::ostream& out, const lnk_record& record, const cmd_params& options,
                     fault_sink& report) {
  guarded([&] { breakout_body(out, record, options, report); },
          [&] { report.add_out_of_memory(); });
  out.fill(' ');
  out.setf(std::ios::dec, std::ios::basefield);
  out.setf(std::ios::left, std::ios::adjustfield);
}

void idlist_breakout(std::ostream& out, const lnk_record& record, const lnk::useropts& options) {
  idlist_breakout(out, record, options, options.m_scratch.report_faults);
}

}  // namespace vk
