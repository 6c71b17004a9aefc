#include "jumplist/slack_recovery.h"

#include <algorithm>
#include <string>

#include "foundation/vk_guard.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"

namespace vk {
namespace {

// Headers are looked for at this alignment in free space.
constexpr uint32_t k_free_space_step = 16;

// The record is moved into the store: the caller resets it before the next
// link.
void keep(lnk_record& record, const std::string& label, uint64_t offset, bool keep_items,
          std::multimap<int64_t, lnk_record>& records) {
  record.m_source_type = label;
  record.m_from_free_space = 1;
  record.m_file_offset = offset;
  compact_lnk_record(record, keep_items);
  records.emplace(static_cast<int64_t>(offset), std::move(record));
}

void recover_body(const compound_file_reader& reader, const uint8_t* image, size_t size,
                  const std::set<uint64_t>& stream_starts, lnk::useropts& options,
                  std::multimap<int64_t, lnk_record>& records) {
  const uint64_t S = reader.m_sector_size;
  if (S == 0) return;
  std::map<uint64_t, unalloc_candidate> candidates;
  std::vector<uint32_t> hits;
  for (uint64_t n : reader.m_free_sectors) {
    const uint64_t start = (n + 1) * S;
    if (start >= size) continue;
    const uint64_t len = std::min<uint64_t>(S, size - start);
    if (!find_all_lnk_signatures(hits, image + start, static_cast<size_t>(len), k_free_space_step))
      continue;
    for (size_t i = 0; i < hits.size(); ++i) {
      if (stream_starts.count(start + hits[i])) continue;
      unalloc_candidate c;
      init_unalloc_candidate(c);
      c.m_sector = n;
      c.m_offset = hits[i];
      c.m_file_offset = start + hits[i];
      c.m_next_offset = i + 1 < hits.size() ? hits[i + 1] : 0;
      if (c.m_next_offset != 0)
        c.m_sectors.push_back(n);
      else
        follow_fat_chain(reader, c.m_sectors, n);
      candidates.emplace(c.m_file_offset, std::move(c));
    }
  }

  const std::string unalloc_label = options.m_source_type + "-unalloc";
  const std::string slack_label = options.m_source_type + "-slack";
  lnk_record record;
  std::vector<uint8_t> bytes;
  for (const auto& [offset, c] : candidates) {
    uint64_t first = 0;
    bytes.clear();
    if (!read_fat_sectors(reader, bytes, first, image, size, c.m_sectors) ||
        bytes.size() <= c.m_offset)
      continue;
    reset_lnk_record(record);
    if (parse_lnk(record, bytes.data() + c.m_offset, bytes.size() - c.m_offset, options, true, 0))
      keep(record, unalloc_label, offset, options.m_idlist_times, records);
  }

  for (const cfb_area& area : reader.m_slack_areas) {
    const uint64_t a = area.first;
    if (a >= size) continue;
    const uint64_t l = std::min<uint64_t>(area.second, size - a);
    if (!find_all_lnk_signatures(hits, image + a, static_cast<size_t>(l), k_free_space_step))
      continue;
    for (uint32_t h : hits) {
      // A free sector that is also slack gives its link once, as free space.
      if (records.count(static_cast<int64_t>(a + h))) continue;
      reset_lnk_record(record);
      if (parse_lnk(record, image + a + h, static_cast<size_t>(l - h), options, true, 0))
        keep(record, slack_label, a + h, options.m_idlist_times, records);
    }
  }
}

}  // namespace

void init_unalloc_candidate(unalloc_candidate& candidate) {
  candidate.m_sector = 0;
  candidate.m_offset = 0;
  candidate.m_file_offset = 0;
  candidate.m_sectors.clear();
  candidate.m_next_offset = 0;
}

void recover_free_space_links(const compound_file_reader& reader, const uint8_t* image, size_t size,
                              const std::set<uint64_t>& stream_starts, lnk::useropts& options,
                              std::multimap<int64_t, lnk_record>& records) {
  if (!image) return;
  guarded([&] { recover_body(reader, image, size, stream_starts, options, records); });
}

}  // namespace vk
