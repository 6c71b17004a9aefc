// Shell links left behind in the free sectors and slack areas of an
// automatic jump list ("-slack").
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "jumplist/compound_file.h"
#include "jumplist/lnk_record.h"
#include "jumplist/vesk_options.h"

namespace vk {

// A header found in a free sector.
struct unalloc_candidate {
  uint64_t m_sector = 0;
  uint32_t m_offset = 0;       // of the hit within its sector
  uint64_t m_file_offset = 0;  // of the hit
  std::vector<uint64_t> m_sectors;
  uint32_t m_next_offset = 0;  // of the next hit in the same sector; 0: none
};

void init_unalloc_candidate(unalloc_candidate& candidate);

// Searches the free sectors (skipping hits where a stream read in the entry
// loop starts) and then the slack areas of a parsed image for links; each
// one parsed goes into records under its file offset, labelled with the
// settings' source type and "-unalloc" or "-slack".
void recover_free_space_links(const compound_file_reader& reader, const uint8_t* image, size_t size,
                              const std::set<uint64_t>& stream_starts, lnk::useropts& options,
                              std::multimap<int64_t, lnk_record>& records);

}  // namespace vk
