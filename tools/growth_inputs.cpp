// Writes the inputs of tools/growth-sweep.sh: one family of inputs at a
// size N, built with the test writers from the public formats and seeded,
// so that the same N always gives the same bytes.
//
//   vesk_growth_inputs FAMILY N OUT
//
// FAMILY (N); each file of random data holds a link 1 KiB in, so that it
// is carved whole (one that begins with a link is read as a custom list):
//   falselnk4k  random data with a false link header (its size and CLSID)
//               every 4 KiB (N MiB)
//   falselnk1m  the same every MiB (N MiB)
//   falsecfb    random data with a false compound-file header every MiB,
//               declaring 2,047 FAT sectors, and a false link header 4 KiB
//               after each (N MiB)
//   links       a link every 4 KiB, zeros between (N MiB)
//   oddlists    random data with a 50-link automatic list at an odd offset
//               of every MiB (N MiB)
//   packed      a link, then 50-link automatic lists back to back (N lists)
//   dense       a link, then 50-link automatic lists back to back whose
//               links' write times interleave, to N MiB
//   interleaved a link, then 50-link automatic lists whose links' write
//               times interleave from list to list (N lists)
//   padded      40,000 links, then 4 lists of 2,500 links with interleaved
//               write times, each with a padding stream of N MiB
//   nested      a link, then a 10-link list whose stream holds another,
//               as many levels deep as make N MiB (each level's FAT adds
//               to all below it: 400 levels make 28 MiB)
//   automatic   an automatic list of N entries
//   carvedlist  a link, then an automatic list of N entries (carved)
//   nestedlist  a link, then a 10-link list whose stream holds an
//               automatic list of N entries (carved)
//   custom      a custom list of N links
//   slack       a 10-entry automatic list with N free sectors of false
//               link headers (read with -slack)
//   pipe        N link files in the folder OUT, and OUT.list naming them
//   falsedifat  random data with a link 1 KiB in and N false compound-file
//               headers 12 KiB apart, each of no stream and a DIFAT chain
//               of 15 sectors its FAT does not mark naming FAT sectors
//               spread over N x 30 KiB (126 MiB at most), which the data
//               reaches past the last
//   falsedifatm the same, the DIFAT sectors marked in the FAT
//   ministream  a link, then a list of N links, all in its mini stream,
//               and a FAT of 1,125 sectors whose DIFAT sectors after the
//               first lie at its end
//   vistaitems  a link whose VistaAndAboveIDList block holds N shell
//               items of 5 bytes (N items)
//   vistapath   the same with N root-folder items of 20 bytes, which
//               show: a path of N names
//   quotes      a custom list of N links, each with a description of
//               72,000 bytes of quotes, letters and accented letters (a
//               text a report holds rather than copies)
//   controls    the same with control characters in place of the letters
//   quotescopy, controlscopy
//               the same with descriptions of 64,000 bytes (texts a
//               report copies)
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "lnk_writer.h"

namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;

constexpr uint64_t k_mib = uint64_t{1} << 20;
constexpr uint64_t k_first_time = 133540960891234567ull;
// Where the false families put their one link: past the bytes a file that
// begins with a link is read as a custom list by.
constexpr size_t k_first_link_at = 1024;

// xorshift64*: the same bytes for the same seed, on every machine.
struct seeded_bytes {
  uint64_t state;
  explicit seeded_bytes(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
  void fill(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i += 8) {
      const uint64_t v = next();
      std::memcpy(p + i, &v, std::min<size_t>(8, n - i));
    }
  }
};

bytes_t numbered_link(uint64_t i, uint64_t write_time) {
  lnk_spec s;
  s.write_time = write_time;
  s.file_size = 4096;
  lnk_link_info li;
  li.serial = 0x1234ABCD;
  li.local_base_path = "C:\\Users\\x\\Documents\\report-" + std::to_string(i) + ".docx";
  s.link_info = li;
  // A description as long as real ones often are.
  s.strings[lnk_name] =
      u"report of the quarter, with the figures of every branch and the notes "
      u"of the meeting where they were read; kept for the auditors";
  s.strings[lnk_working_dir] = u"C:\\Users\\x\\Documents";
  return write_lnk(s);
}

// The 20 bytes a carver looks for: the header size and the link CLSID.
void false_link_header(uint8_t* at) {
  const uint32_t size = 76;
  std::memcpy(at, &size, 4);
  std::memcpy(at + 4, lnk_clsid_bytes.data(), lnk_clsid_bytes.size());
}

// A compound-file header as a writer would begin one (signature, version
// 3, byte order, 512-byte sectors, 64-byte mini sectors), declaring 2,047
// FAT sectors, its header slots and directory start inside the data: all
// the header says is plausible, the sectors it names are rng.
void false_cfb_header(uint8_t* at, seeded_bytes& rng) {
  static constexpr uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  bytes_t h(512, 0);
  std::memcpy(h.data(), signature, sizeof signature);
  auto u16 = [&](size_t o, uint16_t v) { std::memcpy(h.data() + o, &v, 2); };
  auto u32 = [&](size_t o, uint32_t v) { std::memcpy(h.data() + o, &v, 4); };
  u16(hdr::minor_version, 0x3E);
  u16(hdr::major_version, 3);
  u16(hdr::byte_order, 0xFFFE);
  u16(hdr::sector_shift, 9);
  u16(hdr::mini_sector_shift, 6);
  u32(hdr::num_fat_sectors, 2047);
  u32(hdr::first_dir_sector, 1 + static_cast<uint32_t>(rng.next() % 1000));
  u32(hdr::mini_cutoff, 4096);
  u32(hdr::first_minifat_sector, 2);
  u32(hdr::num_minifat_sectors, 1);
  u32(hdr::first_difat_sector, 3000);
  u32(hdr::num_difat_sectors, 16);
  for (size_t k = 0; k < hdr::difat_slots; ++k)
    u32(hdr::difat + 4 * k, static_cast<uint32_t>(rng.next() % 2000));
  std::memcpy(at, h.data(), h.size());
}

// An automatic list of the links given, a DestList naming each, and a
// padding stream of pad bytes (none when 0).
// The links as streams 1, 2, ... of a list with a DestList entry each; with
// times, each entry's last use one later than the one before.
void add_link_streams(cfb_writer& w, const std::vector<bytes_t>& links, bool times) {
  std::vector<destlist_test_entry> list;
  for (size_t i = 0; i < links.size(); ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "%zx", i + 1);
    w.stream(std::u16string(name, name + std::strlen(name)), links[i]);
    destlist_test_entry e;
    e.entry_num = i + 1;
    if (times) e.mru_time += i;
    list.push_back(e);
  }
  w.stream(u"DestList", build_destlist(4, list));
}

bytes_t automatic_list(const std::vector<bytes_t>& links, uint64_t pad, seeded_bytes& rng) {
  // A list with padding has 4 KiB sectors and its streams before its
  // directory, as large lists are written: its first link lies within the
  // first 32 KiB, where a carver meets its header.
  cfb_layout layout;
  if (pad) {
    layout.sector_shift = 12;
    layout.streams_first = true;
  }
  cfb_writer w(layout);
  add_link_streams(w, links, true);
  if (pad) {
    bytes_t padding(static_cast<size_t>(pad));
    rng.fill(padding.data(), padding.size());
    w.stream(u"Padding", std::move(padding));
  }
  return w.build();
}

// List j of count lists of per links each: link i has the write time
// i x count + j, so that the records of the lists interleave.
bytes_t interleaved_list(uint64_t j, uint64_t count, uint64_t per, uint64_t pad,
                         seeded_bytes& rng) {
  std::vector<bytes_t> links;
  for (uint64_t i = 0; i < per; ++i)
    links.push_back(numbered_link(j * per + i, k_first_time + i * count + j));
  return automatic_list(links, pad, rng);
}

void append(bytes_t& out, const bytes_t& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// A link whose description repeats the pattern (its UTF-8 form 4 bytes)
// count times.
bytes_t described_link(uint64_t i, std::u16string_view pattern, size_t count) {
  lnk_spec s;
  s.write_time = k_first_time + i;
  std::u16string text;
  text.reserve(pattern.size() * count);
  for (size_t k = 0; k < count; ++k) text += pattern;
  s.strings[lnk_name] = std::move(text);
  s.strings[lnk_working_dir] = u"C:\\Users\\x\\Documents";
  return write_lnk(s);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FAMILY N OUT\n", argv[0]);
    return 2;
  }
  const std::string family = argv[1], path = argv[3];
  const uint64_t n = std::strtoull(argv[2], nullptr, 10);
  seeded_bytes rng(n * 131 + family.size());
  bytes_t out;
  if (family == "falselnk4k" || family == "falselnk1m" || family == "falsecfb" ||
      family == "oddlists") {
    out.resize(static_cast<size_t>(n * k_mib));
    rng.fill(out.data(), out.size());
    if (family == "falselnk4k")
      for (uint64_t o = 4096; o + 4096 <= out.size(); o += 4096) false_link_header(&out[o]);
    if (family == "falselnk1m")
      for (uint64_t o = k_mib; o + k_mib <= out.size(); o += k_mib) false_link_header(&out[o]);
    if (family == "falsecfb")
      for (uint64_t o = k_mib; o + k_mib <= out.size(); o += k_mib) {
        false_cfb_header(&out[o], rng);
        false_link_header(&out[o + 4096]);
      }
    // A link past the first 512 bytes makes the file one that is carved
    // whole (one that begins with a link is read as a custom list).
    const bytes_t first = numbered_link(0, k_first_time);
    std::memcpy(out.data() + k_first_link_at, first.data(), first.size());
    if (family == "oddlists")
      for (uint64_t j = 0; j < n; ++j) {
        const bytes_t list = interleaved_list(j, n, 50, 0, rng);
        const uint64_t at = j * k_mib + 1 + 2 * (rng.next() % 100000);
        if (at + list.size() <= out.size()) std::memcpy(&out[at], list.data(), list.size());
      }
  } else if (family == "links") {
    out.assign(static_cast<size_t>(n * k_mib), 0);
    for (uint64_t o = 0; o + 4096 <= out.size(); o += 4096) {
      const bytes_t link = numbered_link(o / 4096, k_first_time + o / 4096);
      std::memcpy(&out[o], link.data(), link.size());
    }
  } else if (family == "packed") {
    out = numbered_link(0, k_first_time);
    for (uint64_t j = 0; j < n; ++j) append(out, interleaved_list(j, 1, 50, 0, rng));
  } else if (family == "dense") {
    out = numbered_link(0, k_first_time);
    // About 25 KiB a list.
    const uint64_t count = n * k_mib / 25000 + 1;
    for (uint64_t j = 0; out.size() < n * k_mib; ++j)
      append(out, interleaved_list(j, count, 50, 0, rng));
  } else if (family == "interleaved") {
    out = numbered_link(0, k_first_time);
    for (uint64_t j = 0; j < n; ++j) append(out, interleaved_list(j, n, 50, 0, rng));
  } else if (family == "padded") {
    for (uint64_t i = 0; i < 40000; ++i) append(out, numbered_link(100000 + i, k_first_time + i));
    for (uint64_t j = 0; j < 4; ++j) append(out, interleaved_list(j, 4, 2500, n * k_mib, rng));
  } else if (family == "nested") {
    bytes_t inner;
    for (uint64_t level = 0; inner.size() < n * k_mib; ++level) {
      std::vector<bytes_t> links;
      for (uint64_t i = 0; i < 10; ++i)
        links.push_back(numbered_link(level * 10 + i, k_first_time + level * 10 + i));
      cfb_writer w;
      add_link_streams(w, links, true);
      if (!inner.empty()) w.stream(u"Inner", std::move(inner));
      inner = w.build();
    }
    out = numbered_link(0, k_first_time);
    append(out, inner);
  } else if (family == "automatic" || family == "carvedlist" || family == "nestedlist") {
    std::vector<bytes_t> links;
    for (uint64_t i = 0; i < n; ++i) links.push_back(numbered_link(i, k_first_time + i));
    out = automatic_list(links, 0, rng);
    if (family == "nestedlist") {
      std::vector<bytes_t> outer;
      for (uint64_t i = 0; i < 10; ++i) outer.push_back(numbered_link(n + 1 + i, k_first_time + i));
      cfb_writer w;
      add_link_streams(w, outer, true);
      w.stream(u"Inner", std::move(out));
      out = w.build();
    }
    if (family != "automatic") {
      bytes_t list = std::move(out);
      out = numbered_link(n, k_first_time);
      append(out, list);
    }
  } else if (family == "quotes" || family == "controls" || family == "quotescopy" ||
             family == "controlscopy") {
    // 18,000 patterns make 72,000 bytes, 16,000 make 64,000.
    const bool controls = family.starts_with("controls");
    const size_t count = family.ends_with("copy") ? 16000 : 18000;
    byte_builder b;
    b.u32(2).u32(1).u32(0).u32(2).u32(static_cast<uint32_t>(n));
    for (uint64_t i = 0; i < n; ++i) {
      b.bytes(bytes_t(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end()));
      b.bytes(described_link(i, controls ? u"\"\x01\u00e9" : u"\"a\u00e9", count));
    }
    b.u32(0xBABFFBABu);
    out = b.take();
  } else if (family == "custom") {
    byte_builder b;
    b.u32(2).u32(1).u32(0).u32(2).u32(static_cast<uint32_t>(n));
    for (uint64_t i = 0; i < n; ++i) {
      b.bytes(bytes_t(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end()));
      b.bytes(numbered_link(i, k_first_time + i));
    }
    b.u32(0xBABFFBABu);
    out = b.take();
  } else if (family == "slack") {
    std::vector<bytes_t> links;
    for (uint64_t i = 0; i < 10; ++i) links.push_back(numbered_link(i, k_first_time + i));
    cfb_writer w;
    add_link_streams(w, links, false);
    w.free_sector(static_cast<size_t>(n));
    out = w.build();
    // Random free sectors, each beginning with a false link header.
    const size_t at = out.size() - static_cast<size_t>(n) * 512;
    rng.fill(&out[at], static_cast<size_t>(n) * 512);
    for (size_t o = at; o + 512 <= out.size(); o += 512) false_link_header(&out[o]);
  } else if (family == "falsedifat" || family == "falsedifatm") {
    constexpr uint64_t spacing = 12 << 10;
    const uint64_t reach = std::min<uint64_t>(n * (30 << 10), uint64_t{126} << 20);
    out.resize(static_cast<size_t>(n * spacing + reach));
    rng.fill(out.data(), out.size());
    const bytes_t first = numbered_link(0, k_first_time);
    std::memcpy(out.data() + k_first_link_at, first.data(), first.size());
    const bytes_t header = far_difat_cfb(15, reach, family == "falsedifatm");
    for (uint64_t j = 0; j < n; ++j)
      std::memcpy(&out[(j + 1) * spacing], header.data(), header.size());
  } else if (family == "ministream") {
    cfb_layout layout;
    layout.min_fat_sectors = 109 + 127 * 8;
    layout.later_difat_last = true;
    cfb_writer w(layout);
    std::vector<bytes_t> links;
    for (uint64_t i = 0; i < n; ++i) links.push_back(numbered_link(i, k_first_time + i));
    add_link_streams(w, links, true);
    out = numbered_link(0, k_first_time);
    append(out, w.build());
  } else if (family == "vistaitems" || family == "vistapath") {
    byte_builder items;
    // The CLSID of My Computer, as a root-folder item stores it.
    const bytes_t my_computer = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
    for (uint64_t i = 0; i < n; ++i) {
      if (family == "vistapath") {
        // A root folder: size, type, sort index, CLSID.
        items.u16(20).u8(0x1F).u8(0x50).bytes(my_computer);
      } else {
        // Items of 5 bytes (a size, a type byte no parser knows, two bytes).
        items.u16(5).u8(0x99).u16(static_cast<uint16_t>(i));
      }
    }
    items.u16(0);
    lnk_spec s;
    s.write_time = k_first_time;
    s.extra_blocks.push_back(vista_idlist_block(items.take()));
    out = write_lnk(s);
  } else if (family == "pipe") {
    if (::mkdir(path.c_str(), 0755) != 0) return 1;
    std::string names;
    for (uint64_t i = 0; i < n; ++i) {
      const std::string file = path + "/link-" + std::to_string(i) + ".lnk";
      if (!write_all(file, numbered_link(i, k_first_time + i))) return 1;
      names += file + "\n";
    }
    return write_all(path + ".list", bytes_t(names.begin(), names.end())) ? 0 : 1;
  } else {
    std::fprintf(stderr, "unknown family: %s\n", family.c_str());
    return 2;
  }
  return write_all(path, out) ? 0 : 1;
}
