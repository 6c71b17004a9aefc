// Test-only writer of compound files (OLE structured storage): lays out the
// header, DIFAT, FAT, directory, mini FAT, mini stream and regular streams,
// with optional free sectors, orphan sectors and unused mini sectors, and
// records where everything went so that tests can check or patch exact bytes.
//
// Sector order: [orphan sector 0], DIFAT sectors, FAT sectors, directory,
// mini FAT, mini stream, then the regular items in the order they were added
// (and the later DIFAT sectors, when asked for at the end).
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "jumplist/cfb_layout.h"

namespace vesk_test {

namespace hdr = vk::cfb::header;
namespace dirent = vk::cfb::dirent;

// Stream contents that differ from byte to byte and from stream to stream.
inline std::vector<uint8_t> cfb_pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

// Patches a little-endian u32 into a written image (nothing past its end).
inline void put_le32(std::vector<uint8_t>& img, size_t at, uint32_t v) {
  if (at > img.size() || img.size() - at < 4) return;
  for (int i = 0; i < 4; ++i) img[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct cfb_layout {
  uint16_t sector_shift = 9;
  uint16_t mini_shift = 6;
  uint32_t mini_cutoff = 4096;
  uint32_t min_fat_sectors = 0;  // pad the FAT (and so the DIFAT) to this many sectors
  bool unused_sector0 = false;   // sector 0 allocated but reached by nothing
  // The mini stream and the regular streams before the directory and the
  // mini FAT, so that the first links of a large file lie near its start.
  bool streams_first = false;
  // DIFAT sectors after the first at the very end of the file: in a file
  // large enough, each is then marked DIFATSECT only in a FAT sector that
  // its own slots list.
  bool later_difat_last = false;
};

class cfb_writer {
 public:
  static constexpr uint32_t kFree = vk::cfb::freesect;
  static constexpr uint32_t kEnd = vk::cfb::endofchain;
  static constexpr uint32_t kFatSect = vk::cfb::fatsect;
  static constexpr uint32_t kDifatSect = vk::cfb::difatsect;

  struct stream_info {
    std::u16string name;
    std::vector<uint8_t> data;
    bool mini = false;
    uint32_t entry_num = 0;
    std::vector<uint32_t> chain;  // regular sectors, or mini sectors when mini
    uint64_t first_offset = 0;    // file offset of the first byte
  };

  explicit cfb_writer(cfb_layout layout = {}) : m_layout(layout) {}

  cfb_writer& stream(std::u16string name, std::vector<uint8_t> data) {
    stream_info s;
    s.name = std::move(name);
    s.data = std::move(data);
    s.mini = s.data.size() < m_layout.mini_cutoff;
    m_streams.push_back(std::move(s));
    size_t index = m_streams.size() - 1;
    if (m_streams[index].mini)
      m_mini_items.push_back({item::kStream, index});
    else
      m_items.push_back({item::kStream, index});
    return *this;
  }
  // FREESECT sectors at this point of the sector order.
  cfb_writer& free_sector(size_t count = 1) {
    m_items.push_back({item::kFreeRun, count});
    return *this;
  }
  // Allocated sectors (ENDOFCHAIN) that no stream reaches.
  cfb_writer& orphan_sector(size_t count = 1) {
    m_items.push_back({item::kOrphan, count});
    return *this;
  }
  // Unused mini sectors at this point of the mini stream.
  cfb_writer& mini_gap(size_t count = 1) {
    m_mini_items.push_back({item::kFreeRun, count});
    return *this;
  }

  std::vector<uint8_t> build() {
    S = uint64_t{1} << m_layout.sector_shift;
    M = uint64_t{1} << m_layout.mini_shift;
    const uint64_t E = S / vk::cfb::fat_entry_size, per_dir = S / dirent::size;
    if (S < 512) throw std::invalid_argument("sector size below 512");

    // Mini stream.
    minifat.clear();
    free_mini.clear();
    for (const auto& it : m_mini_items) {
      if (it.kind == item::kFreeRun) {
        for (size_t i = 0; i < it.value; ++i) {
          free_mini.push_back(static_cast<uint32_t>(minifat.size()));
          minifat.push_back(kFree);
        }
        continue;
      }
      auto& s = m_streams[it.value];
      s.chain.clear();
      size_t n = (s.data.size() + M - 1) / M;
      for (size_t i = 0; i < n; ++i) {
        s.chain.push_back(static_cast<uint32_t>(minifat.size()));
        minifat.push_back(i + 1 < n ? static_cast<uint32_t>(minifat.size() + 1) : kEnd);
      }
    }
    const uint64_t mini_bytes = minifat.size() * M;
    const size_t n_minifat = (minifat.size() + E - 1) / E;
    const size_t n_root = (mini_bytes + S - 1) / S;
    const size_t n_entries = 1 + m_streams.size();
    const size_t n_dir = (n_entries + per_dir - 1) / per_dir;

    size_t n_items = 0;
    for (const auto& it : m_items)
      n_items +=
          it.kind == item::kStream ? (m_streams[it.value].data.size() + S - 1) / S : it.value;
    const size_t n_other = (m_layout.unused_sector0 ? 1 : 0) + n_dir + n_minifat + n_root + n_items;

    size_t f = m_layout.min_fat_sectors > 1 ? m_layout.min_fat_sectors : 1, d = 0;
    for (;; ++f) {
      d = f > 109 ? (f - 109 + E - 2) / (E - 1) : 0;
      if (n_other + f + d <= f * E) break;
    }
    const size_t total = n_other + f + d;
    fat.assign(f * E, kFree);

    size_t next = 0;
    auto take = [&](size_t count, std::vector<uint32_t>& into, uint32_t last_value, bool chained) {
      for (size_t i = 0; i < count; ++i) {
        uint32_t s = static_cast<uint32_t>(next++);
        into.push_back(s);
        fat[s] = chained && i + 1 < count ? s + 1 : last_value;
      }
    };
    orphan_sectors.clear();
    free_sectors.clear();
    difat_sectors.clear();
    fat_sectors.clear();
    dir_sectors.clear();
    minifat_sectors.clear();
    root_sectors.clear();
    if (m_layout.unused_sector0) take(1, orphan_sectors, kEnd, false);
    const size_t d_first = m_layout.later_difat_last && d > 1 ? 1 : d;
    take(d_first, difat_sectors, kDifatSect, false);
    take(f, fat_sectors, kFatSect, false);
    auto take_streams = [&] {
      take(n_root, root_sectors, kEnd, true);
      for (const auto& it : m_items) {
        if (it.kind == item::kFreeRun) {
          take(it.value, free_sectors, kFree, false);
        } else if (it.kind == item::kOrphan) {
          take(it.value, orphan_sectors, kEnd, false);
        } else {
          auto& s = m_streams[it.value];
          s.chain.clear();
          take((s.data.size() + S - 1) / S, s.chain, kEnd, true);
        }
      }
    };
    if (m_layout.streams_first) take_streams();
    take(n_dir, dir_sectors, kEnd, true);
    take(n_minifat, minifat_sectors, kEnd, true);
    if (!m_layout.streams_first) take_streams();
    take(d - d_first, difat_sectors, kDifatSect, false);

    std::vector<uint8_t> img((total + 1) * S, 0);
    auto put16 = [&](size_t at, uint16_t v) {
      img[at] = static_cast<uint8_t>(v);
      img[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) img[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put64 = [&](size_t at, uint64_t v) {
      for (int i = 0; i < 8; ++i) img[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };

    // Header.
    const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < 8; ++i) img[hdr::signature + i] = sig[i];
    put16(hdr::minor_version, 0x003E);
    put16(hdr::major_version, m_layout.sector_shift == 12 ? 4 : 3);
    put16(hdr::byte_order, 0xFFFE);
    put16(hdr::sector_shift, m_layout.sector_shift);
    put16(hdr::mini_sector_shift, m_layout.mini_shift);
    put32(hdr::num_dir_sectors, m_layout.sector_shift == 12 ? static_cast<uint32_t>(n_dir) : 0);
    put32(hdr::num_fat_sectors, static_cast<uint32_t>(f));
    put32(hdr::first_dir_sector, dir_sectors.front());
    put32(hdr::mini_cutoff, m_layout.mini_cutoff);
    put32(hdr::first_minifat_sector, minifat_sectors.empty() ? kEnd : minifat_sectors.front());
    put32(hdr::num_minifat_sectors, static_cast<uint32_t>(n_minifat));
    put32(hdr::first_difat_sector, difat_sectors.empty() ? kEnd : difat_sectors.front());
    put32(hdr::num_difat_sectors, static_cast<uint32_t>(d));
    for (size_t k = 0; k < hdr::difat_slots; ++k)
      put32(hdr::difat + 4 * k, k < f ? fat_sectors[k] : kFree);

    // DIFAT sectors: E - 1 FAT sector ids, then the link to the next one.
    for (size_t i = 0; i < d; ++i) {
      size_t base = sector_offset(difat_sectors[i]);
      for (size_t j = 0; j + 1 < E; ++j) {
        size_t k = hdr::difat_slots + i * (E - 1) + j;
        put32(base + 4 * j, k < f ? fat_sectors[k] : kFree);
      }
      put32(base + 4 * (E - 1), i + 1 < d ? difat_sectors[i + 1] : kEnd);
    }
    // FAT and mini FAT.
    for (size_t n = 0; n < fat.size(); ++n)
      put32(fat_entry_offset(static_cast<uint32_t>(n)), fat[n]);
    for (size_t k = 0; k < n_minifat * E; ++k)
      put32(minifat_entry_offset(static_cast<uint32_t>(k)),
            k < minifat.size() ? minifat[k] : kFree);

    // Directory: root, then the streams as the root's child and its right
    // siblings.
    auto write_entry = [&](uint32_t e, std::u16string_view name, uint8_t type, uint32_t right,
                           uint32_t child, uint32_t start, uint64_t size) {
      size_t at = dir_entry_offset(e);
      for (size_t i = 0; i < name.size() && i < 31; ++i) put16(at + dirent::name + 2 * i, name[i]);
      put16(at + dirent::name_length,
            static_cast<uint16_t>((std::min<size_t>(name.size(), 31) + 1) * 2));
      img[at + dirent::object_type] = type;
      img[at + dirent::color] = 1;
      put32(at + dirent::left_sibling, kFree);
      put32(at + dirent::right_sibling, right);
      put32(at + dirent::child, child);
      put32(at + dirent::start_sector, start);
      put64(at + dirent::stream_size, size);
    };
    for (size_t e = n_entries; e < n_dir * per_dir; ++e) {
      size_t at = dir_entry_offset(static_cast<uint32_t>(e));
      put32(at + dirent::left_sibling, kFree);
      put32(at + dirent::right_sibling, kFree);
      put32(at + dirent::child, kFree);
    }
    write_entry(0, u"Root Entry", 5, kFree, m_streams.empty() ? kFree : 1,
                root_sectors.empty() ? kEnd : root_sectors.front(), mini_bytes);
    for (size_t i = 0; i < m_streams.size(); ++i) {
      auto& s = m_streams[i];
      s.entry_num = static_cast<uint32_t>(i + 1);
      uint32_t right = i + 1 < m_streams.size() ? static_cast<uint32_t>(i + 2) : kFree;
      write_entry(s.entry_num, s.name, 2, right, kFree, s.chain.empty() ? kEnd : s.chain.front(),
                  s.data.size());
      // Stream bytes.
      for (size_t b = 0; b < s.data.size(); ++b) {
        size_t unit = s.mini ? M : S;
        size_t at = s.mini ? mini_offset(s.chain[b / unit]) + b % unit
                           : sector_offset(s.chain[b / unit]) + b % unit;
        img[at] = s.data[b];
      }
      s.first_offset = s.chain.empty() ? 0
                       : s.mini        ? mini_offset(s.chain[0])
                                       : sector_offset(s.chain[0]);
    }
    return img;
  }

  // After build().
  uint64_t S = 0, M = 0;
  std::vector<uint32_t> fat, minifat;
  std::vector<uint32_t> difat_sectors, fat_sectors, dir_sectors, minifat_sectors, root_sectors;
  std::vector<uint32_t> free_sectors, orphan_sectors, free_mini;

  const stream_info& info(std::u16string_view name) const {
    for (const auto& s : m_streams)
      if (s.name == name) return s;
    throw std::out_of_range("no such stream");
  }
  const std::vector<stream_info>& streams() const { return m_streams; }
  // After build(), in its image: the last two sectors of a regular stream
  // of three sectors or more swapped, its chain following them, so that
  // its bytes lie out of order as a list's written over time do.
  void swap_last_sectors(std::vector<uint8_t>& img, std::u16string_view name) const {
    const std::vector<uint32_t>& chain = info(name).chain;
    const size_t n = chain.size();
    if (info(name).mini || n < 3) throw std::invalid_argument("no sectors to swap");
    std::swap_ranges(img.begin() + static_cast<std::ptrdiff_t>(sector_offset(chain[n - 2])),
                     img.begin() + static_cast<std::ptrdiff_t>(sector_offset(chain[n - 2]) + S),
                     img.begin() + static_cast<std::ptrdiff_t>(sector_offset(chain[n - 1])));
    put_le32(img, fat_entry_offset(chain[n - 3]), chain[n - 1]);
    put_le32(img, fat_entry_offset(chain[n - 1]), chain[n - 2]);
    put_le32(img, fat_entry_offset(chain[n - 2]), kEnd);
  }
  size_t sector_offset(uint32_t n) const { return (size_t{n} + 1) * S; }
  size_t fat_entry_offset(uint32_t n) const {
    const size_t E = S / vk::cfb::fat_entry_size;
    return sector_offset(fat_sectors.at(n / E)) + vk::cfb::fat_entry_size * (n % E);
  }
  size_t minifat_entry_offset(uint32_t m) const {
    const size_t E = S / vk::cfb::fat_entry_size;
    return sector_offset(minifat_sectors.at(m / E)) + vk::cfb::fat_entry_size * (m % E);
  }
  size_t dir_entry_offset(uint32_t e) const {
    const size_t per = S / dirent::size;
    return sector_offset(dir_sectors.at(e / per)) + dirent::size * (e % per);
  }
  // File offset of mini sector m.
  size_t mini_offset(uint32_t m) const {
    uint64_t p = uint64_t{m} * M;
    return sector_offset(root_sectors.at(p / S)) + p % S;
  }

 private:
  struct item {
    enum kind_t { kStream, kFreeRun, kOrphan } kind;
    size_t value;  // stream index or count
  };
  cfb_layout m_layout;
  std::vector<stream_info> m_streams;
  std::vector<item> m_items, m_mini_items;
};

// A compound file of no stream (its root entry's mini stream empty) whose
// header declares a chain of difat_count DIFAT sectors, written after its
// directory and, when marked, marked DIFATSECT in its FAT; the header's
// slots after the first (the FAT sector it has) and the DIFAT sectors'
// name FAT sectors side by side up to reach bytes from its first byte,
// which hold whatever follows it there.
inline std::vector<uint8_t> far_difat_cfb(uint32_t difat_count, uint64_t reach, bool marked) {
  cfb_writer w;
  std::vector<uint8_t> img = w.build();
  const uint32_t E = static_cast<uint32_t>(w.S / vk::cfb::fat_entry_size);
  const uint32_t first = static_cast<uint32_t>(img.size() / w.S - 1);
  img.resize(img.size() + size_t{difat_count} * w.S, 0);
  const uint32_t fat_count = static_cast<uint32_t>(hdr::difat_slots) + difat_count * (E - 1);
  const uint64_t end = reach / w.S - 1;  // the sectors before it fit in reach
  uint32_t next = static_cast<uint32_t>(std::max<uint64_t>(first + difat_count, end - fat_count));
  const auto next_fat = [&] { return next++; };
  for (size_t slot = 1; slot < hdr::difat_slots; ++slot)
    put_le32(img, hdr::difat + 4 * slot, next_fat());
  for (uint32_t j = 0; j < difat_count; ++j) {
    const size_t at = w.sector_offset(first + j);
    for (uint32_t slot = 0; slot + 1 < E; ++slot) put_le32(img, at + 4 * slot, next_fat());
    put_le32(img, at + 4 * (E - 1), j + 1 < difat_count ? first + j + 1 : cfb_writer::kEnd);
    if (marked) put_le32(img, w.fat_entry_offset(first + j), cfb_writer::kDifatSect);
  }
  put_le32(img, hdr::num_fat_sectors, fat_count);
  put_le32(img, hdr::first_difat_sector, difat_count ? first : cfb_writer::kEnd);
  put_le32(img, hdr::num_difat_sectors, difat_count);
  return img;
}

// A few written images between them holding every kind of space: regular
// and mini streams, free, orphan and unused mini sectors, a stream named
// like the root, DIFAT sectors with sector 0 unused, and 4096-byte sectors.
inline std::vector<std::vector<uint8_t>> varied_cfb_images() {
  std::vector<std::vector<uint8_t>> out;
  {
    cfb_writer w;
    w.stream(u"DestList", cfb_pattern(5000, 1))
        .stream(u"1", cfb_pattern(100, 2))
        .stream(u"a", cfb_pattern(300, 3));
    out.push_back(w.build());
  }
  {
    cfb_writer w;
    w.stream(u"1", cfb_pattern(700, 1)).mini_gap(2).stream(u"2", cfb_pattern(64, 2));
    w.stream(u"DestList", cfb_pattern(4500, 3))
        .free_sector(2)
        .orphan_sector()
        .stream(u"3", cfb_pattern(6000, 4))
        .stream(u"ROOT ENTRY", cfb_pattern(5000, 5));
    out.push_back(w.build());
  }
  {
    cfb_layout layout;
    layout.min_fat_sectors = 112;
    layout.unused_sector0 = true;
    cfb_writer w(layout);
    w.stream(u"DestList", cfb_pattern(4200, 5)).free_sector().stream(u"1", cfb_pattern(90, 6));
    w.mini_gap(3).stream(u"2", cfb_pattern(200, 7));
    out.push_back(w.build());
  }
  {
    cfb_layout layout;
    layout.sector_shift = 12;
    layout.mini_shift = 7;
    cfb_writer w(layout);
    w.stream(u"DestList", cfb_pattern(9000, 7)).free_sector(3).stream(u"1", cfb_pattern(200, 8));
    out.push_back(w.build());
  }
  return out;
}

}  // namespace vesk_test
