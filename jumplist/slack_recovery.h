// Shell links left behind in the free sectors and slack areas of an
// automatic jump list ("-slack").
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Searches the free sectors (skipping hits where a stream read from the
// DestList starts; stream_starts is sorted) and the slack areas of a parsed
// image for links, and hands each one the keep rule passes to take, in
// ascending file offset (at one offset a free-sector link before a slack
// one, and a link read from a free sector is not read again as slack). Each
// is labelled with the settings' source type and "-unalloc" or "-slack";
// take may reuse it. Holds one candidate at a time. False when memory ran
// out before the search was done.
bool recover_free_space_links(const compound_file_reader& reader, const uint8_t* image, size_t size,
                              const std::vector<uint64_t>& stream_starts, lnk::useropts& options,
                              const std::function<void(lnk_record&)>& take);

}  // namespace vk
