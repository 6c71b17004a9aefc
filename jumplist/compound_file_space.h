// The granule bookkeeping of the compound-file parse: which mini-sector-sized
// slices of the regular sectors the file's structures and streams reach, and
// the free sectors, free granules and slack areas derived from that. Used by
// the reader only; the public marking routines are in compound_file.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jumplist/compound_file.h"

namespace vk {

// An empty map for the reader's sizes (the sector count, S and M set):
// one bit per granule of the whole sectors after the header.
cfb_granule_map make_granule_map(const compound_file_reader& r);

// Walks a chain from start, calling visit(sector) for each sector not walked
// before; stops at a missing link, a sector already marked in walked (by this
// or an earlier walk) or ENDOFCHAIN. Adds its steps to work.
template <class Visit>
void walk_unmarked(const fat_link_map& links, uint64_t start, std::vector<uint8_t>& walked,
                   uint64_t& work, Visit&& visit) {
  uint64_t n = start;
  for (;;) {
    auto link = links.find(n);
    if (!link || walked[static_cast<size_t>(n)]) return;
    walked[static_cast<size_t>(n)] = 1;
    ++work;
    visit(n);
    if (link->m_value == cfb::endofchain) return;
    n = link->m_value;
  }
}

// Marks the directory and every stream but the mini stream as a whole; a
// chain already walked by another entry is not walked again.
void mark_used_space(compound_file_reader& r, const cfb_dir_entry& root, cfb_granule_map& used);

// The free granules, FREESECT sectors (of an image of `size` bytes) and runs
// of adjacent free granules.
void derive_free_space(compound_file_reader& r, const cfb_granule_map& used, size_t size);

}  // namespace vk
