#include "cmdline/filter_entry.h"

namespace vk {

void filter_entry::clear() {
  m_filter_path_length = 0;
  m_filter_path.clear();
  m_piece.clear();
  m_name.clear();
  m_colon_part.clear();
  m_signature.clear();
  m_signature_offset = 0;
  m_anchored = 0;
  m_match_all = 0;
  m_name_lead_star = 0;
  m_name_trail_star = 0;
  m_has_colon_part = 0;
  m_colon_match_all = 0;
  m_colon_lead_star = 0;
  m_colon_trail_star = 0;
}

void init_filter_entry(filter_entry& entry) {
  entry = filter_entry();
}

}  // namespace vk
