// The four times of a file-system object (modified, accessed, metadata
// changed, created) with their labels, and the MACB summary that groups them
// into one entry per distinct instant for timeline output.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/vk_time.h"

namespace vk {

// One instant of a MACB summary.
struct macb_entry {
  uint32_t m_state = 1;
  uint64_t m_raw = 0;  // raw value of the entry's first time
  time m_time;
  std::string m_macb;   // "MACB", "M.C.", "..C.", ...
  std::string m_label;  // labels of the times that share the instant
  uint32_t m_kind = 0;  // kind of the raw value
  std::vector<std::string> m_list;
  std::string m_texts1;    // first texts of the extra times placed here
  std::string m_texts2;    // second texts of the extra times placed here
  std::string m_source;    // the entry's own source, file name and user,
  std::string m_filename;  // written instead of the record's when set
  std::string m_user;
  uint32_t m_tag = 0;

  macb_entry() = default;
  void clear();
};

using macb_map = std::multimap<uint64_t, macb_entry>;

class timestamp_set {
 public:
  static constexpr int k_m = 0, k_a = 1, k_c = 2, k_b = 3;

  uint64_t m_times[4] = {};  // raw M, A, C, B in m_kind; 0 = absent
  std::string m_labels[4];
  std::string m_description;  // stands in for a missing label: "desc [M...]"
  uint32_t m_kind = 1;
  uint32_t m_tag = 0;
  std::vector<uint64_t> m_extra_times;  // FILETIME ticks counted as changes
  std::vector<std::string> m_extra_labels;
  std::vector<std::string> m_extra_texts1;
  std::vector<std::string> m_extra_texts2;
  std::vector<uint8_t> m_extra_used;

  timestamp_set() { timestamp_set_clear(); }

  void timestamp_set_clear();
  void timestamp_set_values(uint64_t m, uint64_t a, uint64_t c, uint64_t b, type_time kind);
  // filetime, chrome, firefox3 and safari times become unix seconds (0 for a
  // missing or unconvertible time or one before 1970) and the kind unix time;
  // unix times are stored as they are; any other kind changes nothing.
  void timestamp_set_values_unix(uint64_t m, uint64_t a, uint64_t c, uint64_t b, type_time kind);
  void timestamp_set_labels(const std::string& m, const std::string& a, const std::string& c,
                            const std::string& b);
  void timestamp_set_default_labels();
  // A time already present gathers the texts it does not yet hold.
  void timestamp_set_add_extra_time(uint64_t ticks, const std::string& label,
                                    const std::string& text1, const std::string& text2);
};

// Appends one entry per distinct valid instant of the set (times read in
// kind), keyed by its raw value, and one "..C." entry per extra time left
// over; marks the extra times it places.
void macb_summary(macb_map& out, timestamp_set& set, type_time kind);

}  // namespace vk
