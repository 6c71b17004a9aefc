// The granule bookkeeping of the compound-file parse: which mini-sector-sized
// slices of the regular sectors the file's structures and streams reach, and
// the free sectors, free granules and slack areas derived from that. Used by
// the reader only; the public marking routines are in compound_file.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

// As walk_unmarked, calling visit_run(first, count) once for each run of
// consecutive sectors first, first + 1, ... the chain takes (each linking to
// the next), all marked at once. The same sectors, in the same order, and
// the same steps added to work.
template <class VisitRun>
void walk_unmarked_runs(const fat_link_map& links, uint64_t start, std::vector<uint8_t>& walked,
                        uint64_t& work, VisitRun&& visit_run) {
  uint64_t n = start;
  while (links.contains(n) && !walked[static_cast<size_t>(n)]) {
    const size_t last = links.run_last(static_cast<size_t>(n), walked.data());
    const size_t count = last - static_cast<size_t>(n) + 1;
    std::memset(walked.data() + n, 1, count);
    work += count;
    visit_run(n, uint64_t{count});
    const uint32_t next = links.value(last);
    if (next == cfb::endofchain) return;
    n = next;
  }
}

// Marks the directory and every stream but the mini stream as a whole; a
// chain already walked by another entry is not walked again.
void mark_used_space(compound_file_reader& r, const cfb_dir_entry& root, cfb_granule_map& used);

// The free granules, FREESECT sectors (of an image of `size` bytes) and runs
// of adjacent free granules.
void derive_free_space(compound_file_reader& r, const cfb_granule_map& used, size_t size);

}  // namespace vk
