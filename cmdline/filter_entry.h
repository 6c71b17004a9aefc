// One file-selection pattern: a name pattern of "-filter" / "-filter_skip"
// or a byte signature of "-filter_sig".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vk {

class filter_entry {
 public:
  filter_entry() { clear(); }
  void clear();

  uint32_t m_filter_path_length;
  std::wstring m_filter_path;  // "-filter_path" directory; not read by the test
  std::wstring m_piece;        // the piece as typed, lower case, trimmed
  std::wstring m_name;         // name pattern before ':' without its '*'
  std::wstring m_colon_part;   // text after the first ':' without its '*'
  std::vector<uint8_t> m_signature;
  uint64_t m_signature_offset;
  uint8_t m_anchored;  // name pattern begins with '/': searched in the directory
  uint8_t m_match_all;
  uint8_t m_name_lead_star;
  uint8_t m_name_trail_star;
  uint8_t m_has_colon_part;
  uint8_t m_colon_match_all;
  uint8_t m_colon_lead_star;
  uint8_t m_colon_trail_star;
};

// Builds an empty, cleared entry in place.
void init_filter_entry(filter_entry& entry);

}  // namespace vk
