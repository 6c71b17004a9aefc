#include "jumplist/compound_file_space.h"

#include <algorithm>

namespace vk {

namespace {

void set_bit_range(cfb_granule_map& used, uint64_t first, uint64_t count) {
  if (first >= used.m_count) return;
  count = std::min(count, used.m_count - first);
  uint64_t i = first, end = first + count;
  while (i < end && (i & 63)) used.set(i++);
  while (i + 64 <= end) {
    used.m_bits[i >> 6] = ~uint64_t{0};
    i += 64;
  }
  while (i < end) used.set(i++);
}

}  // namespace

cfb_granule_map make_granule_map(const compound_file_reader& r) {
  cfb_granule_map used;
  const uint64_t S = r.m_sector_size, M = r.m_mini_sector_size;
  used.m_per_sector = M != 0 && S >= M ? S / M : 0;
  used.m_count = uint64_t{r.m_sector_count} * used.m_per_sector;
  used.m_bits.assign(static_cast<size_t>((used.m_count + 63) / 64), 0);
  return used;
}

void mark_sector_used(const compound_file_reader& reader, cfb_granule_map& used, uint64_t n) {
  if (n >= reader.m_sector_count || used.m_per_sector == 0) return;
  set_bit_range(used, n * used.m_per_sector, used.m_per_sector);
}

void mark_mini_sector_used(const compound_file_reader& reader, cfb_granule_map& used, uint64_t m,
                           const std::vector<uint64_t>& root_sectors) {
  const uint64_t S = reader.m_sector_size, M = reader.m_mini_sector_size;
  if (S == 0 || M == 0 || M > S || m > 0xFFFFFFFFull) return;
  uint64_t p = m * M, q = p / S;
  if (q >= root_sectors.size()) return;
  uint64_t sector = root_sectors[static_cast<size_t>(q)];
  if (sector >= reader.m_sector_count) return;
  used.set(sector * used.m_per_sector + (p % S) / M);
}

void mark_used_space(compound_file_reader& r, const cfb_dir_entry& root, cfb_granule_map& used) {
  for (uint64_t s : r.m_dir_sectors) mark_sector_used(r, used, s);
  std::vector<uint8_t> walked(r.m_fat_links.index_limit(), 0);
  std::vector<uint8_t> walked_mini(r.m_minifat_links.index_limit(), 0);
  // Only the root entry itself is left out: another entry under the same
  // lower-cased name is a stream like any other.
  for (const auto& [key, entry] : r.m_entries) {
    ++r.m_work;
    if (&entry == &root || entry.stream_size() == 0 || entry.object_type() == 0) continue;
    if (entry.m_mini) {
      walk_unmarked(r.m_minifat_links, entry.start_sector(), walked_mini, r.m_work,
                    [&](uint64_t m) { mark_mini_sector_used(r, used, m, r.m_root_sectors); });
    } else {
      walk_unmarked(r.m_fat_links, entry.start_sector(), walked, r.m_work,
                    [&](uint64_t n) { mark_sector_used(r, used, n); });
    }
  }
}

void derive_free_space(compound_file_reader& r, const cfb_granule_map& used, size_t size) {
  const uint64_t S = r.m_sector_size, M = r.m_mini_sector_size;
  const uint64_t gps = used.m_per_sector;
  r.m_work += uint64_t{r.m_sector_count} * gps;
  for (uint64_t k = 0; k < r.m_sector_count && gps; ++k) {
    for (uint64_t j = 0; j < gps; ++j) {
      if (!used.test(k * gps + j)) r.m_free_granules.push_back((k + 1) * S + j * M);
    }
  }
  r.m_work += r.m_fat_links.index_limit();
  r.m_fat_links.for_each([&](const fat_link& link) {
    if (!link.m_allocated && (uint64_t{link.m_sector} + 1) * S < size)
      r.m_free_sectors.push_back(link.m_sector);
  });
  for (size_t i = 0; i < r.m_free_granules.size();) {
    size_t j = i + 1;
    while (j < r.m_free_granules.size() && r.m_free_granules[j] == r.m_free_granules[j - 1] + M)
      ++j;
    r.m_slack_areas.emplace_back(r.m_free_granules[i], (j - i) * M);
    i = j;
  }
}

}  // namespace vk
