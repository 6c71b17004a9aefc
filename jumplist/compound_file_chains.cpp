#include "jumplist/compound_file_chains.h"

#include <algorithm>

namespace vk {

namespace {

constexpr uint8_t k_stream_object = 2;
constexpr uint32_t k_no_owner = ~uint32_t{0};

// One chain to check: a list of sectors the reader walked already, or a
// stream followed from its start sector for its declared size.
struct chain {
  std::string name;
  bool stream = false;
  bool mini = false;                              // of the mini stream
  const std::vector<uint64_t>* listed = nullptr;  // else walked from start
  uint64_t start = 0;
  uint64_t size = 0;
};

// Who holds each sector: a bit per sector in the first pass, the holder and
// its place in the second, made only when two chains met.
struct holders {
  std::vector<uint64_t> bits;
  std::vector<uint32_t> owner;
  std::vector<uint64_t> at;  // the unit's place in its owner's chain
  bool second = false;
};

class chain_check {
 public:
  chain_check(const compound_file_reader& r, uint64_t image_size)
      : m_r(r), m_size(image_size), m_S(r.m_sector_size), m_M(r.m_mini_sector_size) {}

  std::vector<cfb_chain_finding> run() {
    collect();
    m_findings.assign(m_chains.size(), cfb_chain_finding{});
    m_met = false;
    pass(false);
    if (m_met) {
      m_findings.assign(m_chains.size(), cfb_chain_finding{});
      pass(true);
    }
    std::vector<cfb_chain_finding> out;
    for (cfb_chain_finding& f : m_findings)
      if (f.set) out.push_back(std::move(f));
    return out;
  }

 private:
  void collect() {
    // The FAT's and DIFAT's own sectors, taken from the FAT's marks.
    m_chains.push_back({"FAT", false, false, &m_no_sectors, 0, 0});
    m_chains.push_back({"directory", false, false, &m_r.m_dir_sectors, 0, 0});
    m_chains.push_back({"mini FAT", false, false, &m_r.m_minifat_sectors, 0, 0});
    const cfb_dir_entry* root = find_cfb_entry(m_r, "root entry");
    m_root_chain = root ? static_cast<uint32_t>(m_chains.size()) : k_no_owner;
    if (root)
      m_chains.push_back(
          {"mini stream", false, false, nullptr, root->start_sector(), root->stream_size()});
    std::vector<const cfb_dir_entry*> streams;
    for (const auto& [key, entry] : m_r.m_entries)
      if (entry.object_type() == k_stream_object && entry.stream_size() != 0)
        streams.push_back(&entry);
    std::sort(streams.begin(), streams.end(), [](const cfb_dir_entry* a, const cfb_dir_entry* b) {
      return a->m_entry_num < b->m_entry_num;
    });
    for (const cfb_dir_entry* e : streams)
      m_chains.push_back(
          {e->m_name, true, e->m_mini != 0, nullptr, e->start_sector(), e->stream_size()});
  }

  static void reset(holders& h, size_t count, bool second) {
    h.second = second;
    h.bits.assign((count + 63) / 64, 0);
    if (second) {
      h.owner.assign(count, k_no_owner);
      h.at.assign(count, 0);
    }
  }

  // Takes unit u (at place i of chain c) for c; false when another chain
  // (or c itself, looping) holds it already, which ends c's walk.
  bool take(holders& h, uint64_t u, uint32_t c, uint64_t i) {
    if (u >= uint64_t{h.bits.size()} * 64) return false;
    uint64_t& word = h.bits[static_cast<size_t>(u >> 6)];
    const uint64_t bit = uint64_t{1} << (u & 63);
    if (!(word & bit)) {
      word |= bit;
      if (h.second) {
        h.owner[static_cast<size_t>(u)] = c;
        h.at[static_cast<size_t>(u)] = i;
      }
      return true;
    }
    if (!h.second) {
      m_met = true;
      return false;
    }
    const uint32_t other = h.owner[static_cast<size_t>(u)];
    if (other == k_no_owner || other == c) return false;  // a loop: the reader stops there
    const uint64_t unit = m_chains[c].mini ? m_M : m_S;
    meet(c, i * unit, other, u);
    const uint64_t other_unit = m_chains[other].mini ? m_M : m_S;
    meet(other, h.at[static_cast<size_t>(u)] * other_unit, c, u);
    return false;
  }

  // Chain c's first finding, at offset into it and the sector named; null
  // when it has one already.
  cfb_chain_finding* first_finding(uint32_t c, uint64_t offset, uint64_t sector) {
    cfb_chain_finding& f = m_findings[c];
    if (f.set) return nullptr;
    f.set = true;
    f.name = m_chains[c].name;
    f.stream = m_chains[c].stream;
    f.mini = m_chains[c].mini;
    f.offset = offset;
    f.sector = sector;
    return &f;
  }

  void meet(uint32_t c, uint64_t offset, uint32_t other, uint64_t sector) {
    if (cfb_chain_finding* f = first_finding(c, offset, sector)) {
      f->other = m_chains[other].name;
      f->other_stream = m_chains[other].stream;
    }
  }

  void cut(uint32_t c, uint64_t offset, uint64_t sector) {
    if (cfb_chain_finding* f = first_finding(c, offset, sector)) f->cut = true;
  }

  void pass(bool second) {
    const fat_link_map& fat = m_r.m_fat_links;
    reset(m_regular, fat.index_limit(), second);
    reset(m_mini, m_r.m_minifat_links.index_limit(), second);
    m_root.clear();
    // The FAT's and DIFAT's own sectors hold no stream: a chain that runs
    // into one meets them.
    fat.for_each([&](const fat_link& link) {
      if (link.m_value == cfb::fatsect || link.m_is_difat) take(m_regular, link.m_sector, 0, 0);
    });
    for (uint32_t c = 0; c < m_chains.size(); ++c) {
      const chain& ch = m_chains[c];
      if (ch.listed) {
        for (size_t i = 0; i < ch.listed->size(); ++i)
          if (!take(m_regular, (*ch.listed)[i], c, i)) break;
      } else if (ch.mini) {
        walk_mini(c);
      } else {
        walk_regular(c);
      }
    }
  }

  // The stream's sectors as far as its size needs them: each must hold its
  // bytes inside the image and belong to no other chain.
  void walk_regular(uint32_t c) {
    const chain& ch = m_chains[c];
    const fat_link_map& fat = m_r.m_fat_links;
    const bool is_root = !ch.stream;
    uint64_t n = ch.start;
    for (uint64_t i = 0; i * m_S < ch.size; ++i) {
      if (n >= cfb::maxregsect) return;  // the chain ends early: not a cut
      const uint64_t want = std::min(m_S, ch.size - i * m_S);
      // The mini stream's last sector holds only what its streams use.
      if ((n + 1) * m_S + (is_root ? 1 : want) > m_size) return cut(c, i * m_S, n);
      if (!take(m_regular, n, c, i)) return;
      if (is_root) m_root.push_back(n);
      if (!fat.contains(n)) return;
      n = fat.value(n);
    }
  }

  void walk_mini(uint32_t c) {
    const chain& ch = m_chains[c];
    const fat_link_map& links = m_r.m_minifat_links;
    if (m_M == 0 || m_M > m_S) return;
    uint64_t m = ch.start;
    for (uint64_t i = 0; i * m_M < ch.size; ++i) {
      if (m >= cfb::maxregsect) return;
      const uint64_t want = std::min(m_M, ch.size - i * m_M);
      const uint64_t p = m * m_M, q = p / m_S;
      if (q >= m_root.size()) {
        // Past the mini stream's sectors in the file: cut when the mini
        // stream was, else the chain is damaged (the reader says so).
        if (m_root_chain < m_findings.size() && m_findings[m_root_chain].cut) cut(c, i * m_M, m);
        return;
      }
      if ((m_root[static_cast<size_t>(q)] + 1) * m_S + p % m_S + want > m_size)
        return cut(c, i * m_M, m);
      if (!take(m_mini, m, c, i)) return;
      if (!links.contains(m)) return;
      m = links.value(m);
    }
  }

  const compound_file_reader& m_r;
  const uint64_t m_size, m_S, m_M;
  std::vector<chain> m_chains;
  std::vector<cfb_chain_finding> m_findings;
  holders m_regular, m_mini;
  std::vector<uint64_t> m_root;  // the mini stream's sectors, as walked
  uint32_t m_root_chain = 0;
  const std::vector<uint64_t> m_no_sectors;
  bool m_met = false;
};

// The first look, which a sound file ends with: the same walks marking
// sectors in the link maps' own walk marks (kept from parse to parse, so
// nothing is allocated), true at the first sector past the end, taken
// twice or marked in the FAT as the FAT's or the DIFAT's own. The marks are
// cleared again.
class quick_check {
 public:
  quick_check(const compound_file_reader& r, uint64_t image_size)
      : m_r(r),
        m_size(image_size),
        m_S(r.m_sector_size),
        m_M(r.m_mini_sector_size),
        m_regular(marks(r.m_fat_links)),
        m_mini(marks(r.m_minifat_links)) {
    while ((uint64_t{1} << m_shift) < m_S) ++m_shift;
  }
  ~quick_check() {
    std::fill(m_regular.begin(), m_regular.end(), uint8_t{0});
    std::fill(m_mini.begin(), m_mini.end(), uint8_t{0});
  }

  bool finds_any() {
    for (const std::vector<uint64_t>* list : {&m_r.m_dir_sectors, &m_r.m_minifat_sectors})
      for (uint64_t n : *list)
        if (!take_regular(n)) return true;
    if (const cfb_dir_entry* root = find_cfb_entry(m_r, "root entry")) {
      // The mini stream's sectors as far as its size needs them, each
      // starting inside the file.
      const uint64_t size = root->stream_size();
      for (uint64_t n : m_r.m_root_sectors) {
        if (m_root * m_S >= size) break;
        if ((n + 1) * m_S >= m_size || !take_regular(n)) return true;
        ++m_root;
      }
      // A chain shorter than the size: its next sector may lie past the end.
      if (m_root * m_S < size) return true;
    }
    for (const auto& [key, entry] : m_r.m_entries) {
      if (entry.object_type() != k_stream_object || entry.stream_size() == 0) continue;
      if (entry.m_mini ? !mini_whole(entry) : !regular_whole(entry)) return true;
    }
    return false;
  }

 private:
  static std::vector<uint8_t>& marks(const fat_link_map& links) {
    std::vector<uint8_t>& m = links.walk_marks();
    if (m.size() != links.index_limit()) m.assign(links.index_limit(), 0);
    return m;
  }
  static bool take(std::vector<uint8_t>& marks, uint64_t u) {
    if (u >= marks.size() || marks[static_cast<size_t>(u)]) return false;
    marks[static_cast<size_t>(u)] = 1;
    return true;
  }
  // A regular sector of a chain: one no other chain took, and no sector of
  // the FAT or the DIFAT (their own FAT entries mark them).
  bool take_regular(uint64_t n) {
    const fat_link_map& fat = m_r.m_fat_links;
    if (fat.contains(n) && (fat.value(n) == cfb::fatsect || fat.value(n) == cfb::difatsect))
      return false;
    return take(m_regular, n);
  }
  bool regular_whole(const cfb_dir_entry& e) {
    const fat_link_map& fat = m_r.m_fat_links;
    const uint64_t size = e.stream_size();
    uint64_t n = e.start_sector();
    for (uint64_t i = 0; i * m_S < size; ++i) {
      if (n >= cfb::maxregsect) return true;  // damage the reader says
      if ((n + 1) * m_S + std::min(m_S, size - i * m_S) > m_size || !take_regular(n)) return false;
      if (!fat.contains(n)) return true;
      n = fat.value(n);
    }
    return true;
  }
  bool mini_whole(const cfb_dir_entry& e) {
    const fat_link_map& links = m_r.m_minifat_links;
    if (m_M == 0 || m_M > m_S) return true;
    const uint64_t size = e.stream_size();
    uint64_t m = e.start_sector();
    // Held in locals: a mark's byte store could alias any member, which
    // would then be loaded again for every unit.
    const uint64_t S = m_S, M = m_M, image = m_size, root_count = m_root;
    const unsigned shift = m_shift;
    const uint64_t* const root = m_r.m_root_sectors.data();
    uint8_t* const marks = m_mini.data();
    const uint64_t marked = m_mini.size();
    for (uint64_t at = 0; at < size; at += M) {
      if (m >= cfb::maxregsect) return true;
      // Sizes are powers of two: shifts and masks, not divisions.
      const uint64_t p = m * M, q = p >> shift;
      if (q >= root_count) return true;  // past the mini stream: the reader says so
      const uint64_t left = size - at;
      if ((root[q] + 1) * S + (p & (S - 1)) + (left < M ? left : M) > image) return false;
      if (m >= marked || marks[m]) return false;  // take(), its vector not loaded again
      marks[m] = 1;
      if (!links.contains(m)) return true;
      m = links.value(m);
    }
    return true;
  }

  const compound_file_reader& m_r;
  const uint64_t m_size, m_S, m_M;
  std::vector<uint8_t>& m_regular;
  std::vector<uint8_t>& m_mini;
  uint64_t m_root = 0;   // sectors of the mini stream checked
  unsigned m_shift = 0;  // of S
};

}  // namespace

std::vector<cfb_chain_finding> check_compound_chains(const compound_file_reader& reader,
                                                     uint64_t image_size) {
  if (reader.m_sector_size == 0) return {};
  if (!quick_check(reader, image_size).finds_any()) return {};
  return chain_check(reader, image_size).run();
}

}  // namespace vk
