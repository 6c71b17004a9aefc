#include "jumplist/slack_recovery.h"

#include <algorithm>
#include <string>

#include "foundation/vk_guard.h"
#include "jumplist/lnk_extent.h"
#include "jumplist/lnk_layout.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/record_keep.h"

namespace vk {
namespace {

// Headers are looked for at this alignment in free space.
constexpr uint32_t k_free_space_step = 16;
// Slack areas are searched this many bytes at a time (a multiple of the
// step), so that the hits held stay few however large an area is.
constexpr uint64_t k_slack_window = 64 * 1024;
// A header is taken only with this many bytes after its start.
constexpr uint64_t k_header_room = lnk_header_size + 1;

constexpr uint64_t k_none = UINT64_MAX;
constexpr uint64_t k_least_parse = lnk_layout::idlist::first_item + 4;

// The bytes of the link at data (available bytes from its first) that its
// parse is handed: the extent its sizes declare, not the whole free area
// after it, whether or not each structure makes sense (the parser says what
// does not). Zero for a header no link could have: free space holds bytes
// that only look like one, and those are no candidate.
size_t own_extent(const uint8_t* data, size_t available) {
  if (!could_be_link_header(byte_view(data, available))) return 0;
  const lnk_extent e = declared_lnk_extent(byte_view(data, available), k_max_link_size, false);
  if (e.how == lnk_extent::end::open || e.how == lnk_extent::end::capped)
    return static_cast<size_t>(std::min<uint64_t>(available, k_max_link_size));
  return static_cast<size_t>(
      std::min<uint64_t>(available, std::max<uint64_t>(e.size, k_least_parse)));
}

// The bytes from offset to the end of the free run (slack area) that holds
// it, within the image; 0 when none does.
uint64_t free_run_after(const compound_file_reader& reader, uint64_t offset, uint64_t size) {
  const std::vector<cfb_area>& areas = reader.m_slack_areas;
  auto it = std::upper_bound(areas.begin(), areas.end(), offset,
                             [](uint64_t at, const cfb_area& a) { return at < a.first; });
  if (it == areas.begin()) return 0;
  --it;
  const uint64_t end = std::min(it->first + it->second, size);
  return offset < end ? end - offset : 0;
}

// The headers of the free sectors, in ascending file offset.
class unalloc_hits {
 public:
  unalloc_hits(const compound_file_reader& reader, byte_view image,
               const std::vector<uint64_t>& stream_starts)
      : m_reader(reader), m_image(image), m_starts(stream_starts) {}

  // The file offset of the next hit, k_none when there is none.
  uint64_t peek() {
    const uint64_t S = m_reader.m_sector_size;
    for (;;) {
      for (; m_i < m_hits.size(); ++m_i) {
        const uint64_t at = m_start + m_hits[m_i];
        if (!std::binary_search(m_starts.begin(), m_starts.end(), at)) return at;
      }
      if (S == 0 || m_next_sector >= m_reader.m_free_sectors.size()) return k_none;
      m_sector = m_reader.m_free_sectors[m_next_sector++];
      m_start = (m_sector + 1) * S;
      m_hits.clear();
      m_i = 0;
      if (m_start >= m_image.size()) continue;
      const uint64_t len = std::min<uint64_t>(S, m_image.size() - m_start);
      find_all_lnk_signatures(m_hits, m_image.data() + m_start, static_cast<size_t>(len),
                              k_free_space_step);
    }
  }

  // The candidate at peek(), then moves past it.
  void take(unalloc_candidate& c) {
    init_unalloc_candidate(c);
    c.m_sector = m_sector;
    c.m_offset = m_hits[m_i];
    c.m_file_offset = m_start + c.m_offset;
    c.m_next_offset = m_i + 1 < m_hits.size() ? m_hits[m_i + 1] : 0;
    // A hit with another after it in its sector ends there; the last one may
    // run on along the sector's chain.
    if (c.m_next_offset != 0)
      c.m_sectors.push_back(m_sector);
    else
      follow_fat_chain(m_reader, c.m_sectors, m_sector);
    ++m_i;
  }

 private:
  const compound_file_reader& m_reader;
  byte_view m_image;
  const std::vector<uint64_t>& m_starts;
  size_t m_next_sector = 0;
  uint64_t m_sector = 0, m_start = 0;
  std::vector<uint32_t> m_hits;
  size_t m_i = 0;
};

// The headers of the slack areas, in ascending file offset, searched one
// window at a time.
class slack_hits {
 public:
  slack_hits(const compound_file_reader& reader, byte_view image)
      : m_areas(reader.m_slack_areas), m_image(image) {}

  uint64_t peek() {
    for (;;) {
      if (m_i < m_hits.size()) return m_base + m_hits[m_i];
      if (!next_window()) return k_none;
    }
  }
  // The area's first offset and length (cut at the image's end) of the hit
  // at peek(), then moves past it.
  uint64_t take(uint64_t& area_start, uint64_t& area_length) {
    area_start = m_area_start;
    area_length = m_area_length;
    return m_base + m_hits[m_i++];
  }

 private:
  bool next_window() {
    m_hits.clear();
    m_i = 0;
    while (m_done >= m_area_length) {
      if (m_next_area >= m_areas.size()) return false;
      const cfb_area& area = m_areas[m_next_area++];
      if (area.first >= m_image.size()) continue;
      m_area_start = area.first;
      m_area_length = std::min<uint64_t>(area.second, m_image.size() - area.first);
      m_done = 0;
    }
    // The window reaches a header's room past its end, so that a header
    // starting inside it is found as in the whole area; later windows find
    // the rest.
    const uint64_t window = std::min(k_slack_window, m_area_length - m_done);
    const uint64_t reach = std::min(window + k_header_room, m_area_length - m_done);
    m_base = m_area_start + m_done;
    find_all_lnk_signatures(m_hits, m_image.data() + m_base, static_cast<size_t>(reach),
                            k_free_space_step);
    while (!m_hits.empty() && m_hits.back() >= window) m_hits.pop_back();
    m_done += window;
    return true;
  }

  const std::vector<cfb_area>& m_areas;
  byte_view m_image;
  size_t m_next_area = 0;
  uint64_t m_area_start = 0, m_area_length = 0, m_done = 0, m_base = 0;
  std::vector<uint32_t> m_hits;
  size_t m_i = 0;
};

void recover_body(const compound_file_reader& reader, byte_view image,
                  const std::vector<uint64_t>& stream_starts, lnk::useropts& options,
                  const std::function<void(lnk_record&)>& take) {
  const std::string unalloc_label = options.m_source_type + "-unalloc";
  const std::string slack_label = options.m_source_type + "-slack";
  unalloc_hits unalloc(reader, image, stream_starts);
  slack_hits slack(reader, image);
  unalloc_candidate c;
  lnk_record record;
  std::vector<uint8_t> bytes;
  // Where the last link read from a free sector starts.
  uint64_t read_unalloc = k_none;
  auto hand_over = [&](const std::string& label, uint64_t offset) {
    if (carved_record_is_empty(record)) return;
    record.m_source_type = label;
    record.m_from_free_space = 1;
    record.m_file_offset = offset;
    take(record);
  };
  // Each reader of a candidate says whether memory ran out in its sector
  // copy or its parse: said, never silent.
  // A candidate of a free sector, read from its sector list.
  auto read_unalloc_hit = [&](uint64_t u) {
    unalloc.take(c);
    uint64_t first = 0;
    bytes.clear();
    fault_sink read_faults;
    if (!read_fat_sectors(reader, bytes, first, image.data(), image.size(), c.m_sectors,
                          read_faults) ||
        bytes.size() <= c.m_offset)
      return read_faults.out_of_memory();
    const uint8_t* link = bytes.data() + c.m_offset;
    size_t available = bytes.size() - c.m_offset;
    if (c.m_next_offset == 0 && c.m_sectors.size() == 1) {
      // A free sector is a chain of its own, but a link left there lay in
      // the sectors after it as well: one that runs past the sector reads
      // on through the free run that holds it.
      const uint64_t run = free_run_after(reader, c.m_file_offset, image.size());
      const lnk_extent::end how =
          run > available
              ? declared_lnk_extent(byte_view(link, available), k_max_link_size, false).how
              : lnk_extent::end::terminal;
      if (how == lnk_extent::end::open || how == lnk_extent::end::capped) {
        link = image.data() + c.m_file_offset;
        available = static_cast<size_t>(run);
      }
    }
    const size_t extent = own_extent(link, available);
    if (extent == 0) return false;
    const uint32_t short_before = record.m_faults.out_of_memory_count();
    const bool parsed = parse_lnk(record, link, extent, options, options.m_scratch.link, true, 0);
    const bool short_of_memory = record.m_faults.out_of_memory_count() != short_before;
    if (parsed) {
      read_unalloc = u;
      hand_over(unalloc_label, u);
    }
    return short_of_memory;
  };
  auto read_slack_hit = [&] {
    uint64_t a = 0, l = 0;
    const uint64_t at = slack.take(a, l);
    // A free sector that is also slack gives its link once, as free space.
    if (at == read_unalloc) return false;
    const uint8_t* link = image.data() + at;
    const size_t extent = own_extent(link, static_cast<size_t>(l - (at - a)));
    if (extent == 0) return false;
    const uint32_t short_before = record.m_faults.out_of_memory_count();
    const bool parsed = parse_lnk(record, link, extent, options, options.m_scratch.link, true, 0);
    const bool short_of_memory = record.m_faults.out_of_memory_count() != short_before;
    if (parsed) hand_over(slack_label, at);
    return short_of_memory;
  };
  for (;;) {
    const uint64_t u = unalloc.peek(), s = slack.peek();
    if (u == k_none && s == k_none) break;
    reset_lnk_record(record, options.m_scratch.shell());
    if (u <= s ? read_unalloc_hit(u) : read_slack_hit())
      options.m_notes.add_out_of_memory("free-space link", std::min(u, s));
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

bool recover_free_space_links(const compound_file_reader& reader, const uint8_t* image, size_t size,
                              const std::vector<uint64_t>& stream_starts, lnk::useropts& options,
                              const std::function<void(lnk_record&)>& take) {
  if (!image) return true;
  return guarded([&] {
    recover_body(reader, byte_view(image, size), stream_starts, options, take);
    return true;
  });
}

}  // namespace vk
