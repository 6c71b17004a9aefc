// What the report keeps from record to record: values derived per record,
// texts that mostly repeat, and the buffers of the labelled block and the
// row forms, each keeping its room. Types only; whoever owns a run's
// scratch holds them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/vk_time.h"
#include "jumplist/lnk_names.h"
#include "shell/file_attributes.h"

namespace vk {

// What every row form derives from the record before it is written.
struct record_values {
  std::array<uint64_t, 3> m_target_times{};  // modify, access, create (FILETIME)
  std::string_view m_target_name;            // one of the record's texts, as stored
  std::string m_appid_text;
};

// ---- the labelled block ----

// The source file's three times are the same for every record of a file:
// their lines are made once and kept while the values and layout stay.
struct file_time_lines {
  uint64_t ticks[3] = {0, 0, 0};
  uint32_t layout = 0;
  bool made = false;
  std::string text;
};

// The text of the last value of a field whose values mostly repeat from
// record to record (link flags, attributes).
template <size_t Room>
struct kept_text {
  uint32_t value = 0;
  bool made = false;
  size_t size = 0;
  char text[Room];

  bool holds(uint32_t v) const { return made && value == v; }
  void keep(uint32_t v, const char* end) {
    value = v;
    size = static_cast<size_t>(end - text);
    made = true;
  }
  std::string_view view() const { return {text, size}; }
};

struct report_scratch {
  file_time_lines source_times;
  kept_text<k_link_flags_names_room> flags;
  kept_text<file_attributes_text_room(2)> attributes;
  std::string block;
  std::string marks;  // a text with marks, when one holds control characters
  record_values values;
};

// ---- the row forms ----

// The most columns a row can have; the column table is checked against it.
inline constexpr size_t k_max_record_columns = 64;

// Where each column landed among the registered titles (-1: nowhere).
using column_map = std::array<int32_t, k_max_record_columns>;

// Worked out once per column list (once per header), not per record: a
// record only checks that the titles are still those the map was made from.
struct column_cache {
  bool made = false;
  std::vector<std::string> titles;
  column_map at{};
};

// What each position of the registered list shows: worked out once per
// registered list (a list made elsewhere is read by its titles on each
// record).
struct row_plan {
  uint32_t stamp = 0;
  const void* list = nullptr;
  size_t size = 0;
  std::vector<uint8_t> ids;    // the column at each position, k_max_record_columns for none
  std::vector<uint8_t> split;  // 1 where a date column has its time column after it
};

// One cell of a record's row for the general table writer: a text (held
// by the record or the settings, or built in the row's scratch text), a
// number, or a FILETIME in one or in two columns.
struct row_cell {
  enum kind_t : uint8_t { empty, text, built, number, time_one, time_two };
  kind_t kind = empty;
  uint16_t type = 0;           // a number's type
  uint32_t flags = 0;          // without the row's own
  uint64_t value = 0;          // a number or time; where a built text starts
  const char* data = nullptr;  // text
  size_t size = 0;             // text, built
};

// The date and clock texts of a time and what they were laid out from.
struct time_texts {
  uint64_t ticks = 0;
  uint32_t layout = 0;
  bool made = false;
  bool valid = false;
  filetime_texts texts;
};

// A row allocates only while these grow.
struct row_buffers {
  std::vector<row_cell> cells;
  std::string scratch;  // the texts built for this record
  std::string line;
  // The last time each date column showed: a file's own times stand on each
  // of its records, and a target's times often repeat from record to record.
  std::array<time_texts, k_max_record_columns> last_times{};
  // The attribute names of the last mask: most records of a run share it.
  std::string attributes;
  uint32_t attribute_mask = 0;
  bool attributes_made = false;
  column_cache columns;
  row_plan plan;
  std::string spare;  // a text whose line ends are shown
  std::string marks;  // a text with marks, when one holds control characters
  char raw_time[20];  // a time shown as it stands
};

}  // namespace vk
