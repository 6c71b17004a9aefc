#include "jumplist/destlist.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "alloc_hook.h"
#include "byte_builder.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_unicode.h"
#include "jumplist/compound_file.h"
#include "jumplist_samples.h"

using namespace vk;
using vesk_test::destlist_test_entry;

namespace {

destlist_test_entry full_entry() {
  destlist_test_entry e;
  e.checksum = 0x8877665544332211ull;
  for (size_t d = 0; d < 4; ++d)
    for (size_t i = 0; i < 16; ++i) e.droids[d][i] = static_cast<uint8_t>(d * 16 + i + 1);
  e.host = "WORKSTATION-0123";  // all 16 bytes used, no terminator
  e.entry_num = 0x1a;
  e.mru_time = 0x01D7E4C5B3A29180ull;
  e.pin_status = 0xFFFFFFFFu;
  e.access_count = 42;
  e.path = u"C:\\Users\\Ann\\Documents\\r\u00e9sum\u00e9.docx";
  return e;
}

// Copies bytes into a heap block of exactly their size, so that any read past
// the end is caught by the address sanitizer.
std::unique_ptr<uint8_t[]> exact_copy(const std::vector<uint8_t>& v) {
  auto p = std::make_unique<uint8_t[]>(v.size() ? v.size() : 1);
  std::copy(v.begin(), v.end(), p.get());
  return p;
}

void expect_fields(const destlist_entry& got, const destlist_test_entry& want) {
  EXPECT_EQ(got.m_valid, 1);
  EXPECT_EQ(got.m_checksum, want.checksum);
  EXPECT_EQ(guid_to_string(got.m_droids[0]), "04030201-0605-0807-090a-0b0c0d0e0f10");
  EXPECT_EQ(guid_to_string(got.m_droids[1]), "14131211-1615-1817-191a-1b1c1d1e1f20");
  EXPECT_EQ(guid_to_string(got.m_droids[2]), "24232221-2625-2827-292a-2b2c2d2e2f30");
  EXPECT_EQ(guid_to_string(got.m_droids[3]), "34333231-3635-3837-393a-3b3c3d3e3f40");
  EXPECT_EQ(got.m_netbios_name, "WORKSTATION-0123");
  EXPECT_EQ(got.m_entry_num, 0x1au);
  EXPECT_EQ(got.m_mru_time, want.mru_time);
  EXPECT_EQ(got.m_pin_status, want.pin_status);
  EXPECT_EQ(got.m_path_length, want.path.size());
  EXPECT_EQ(got.m_path, "C:\\Users\\Ann\\Documents\\r\xC3\xA9sum\xC3\xA9.docx");
}

std::optional<std::vector<destlist_entry>> walk(const std::vector<uint8_t>& s) {
  std::vector<destlist_entry> out;
  uint32_t version;
  if (!load_destlist_entries(s.data(), s.size(), version, out)) return std::nullopt;
  return out;
}

}  // namespace

TEST(DestListEntry, BothLayoutsLoadEveryField) {
  auto want = full_entry();
  for (bool v1 : {true, false}) {
    SCOPED_TRACE(v1 ? "version 1" : "later layout");
    auto bytes = vesk_test::destlist_entry_bytes(want, v1);
    ASSERT_EQ(bytes.size(), (v1 ? 114u : 134u) + 2 * want.path.size());
    auto raw = exact_copy(bytes);
    const int64_t n = static_cast<int64_t>(bytes.size());
    destlist_entry e;
    ASSERT_TRUE(v1 ? load_destlist_entry_114(e, raw.get(), n)
                   : load_destlist_entry_130(e, raw.get(), n));
    expect_fields(e, want);
    EXPECT_EQ(e.m_entry_size, bytes.size());
    // Only the later layout carries an access count.
    EXPECT_EQ(e.m_has_access_count, v1 ? 0 : 1);
    EXPECT_EQ(e.m_access_count, v1 ? 0u : 42u);
  }
}

TEST(DestListEntry, VersionSelectsLayout) {
  auto want = full_entry();
  for (uint32_t version : {0u, 2u, 3u, 4u, 6u}) {
    auto stream = vesk_test::build_destlist(version, {want, want});
    auto entries = walk(stream);
    ASSERT_TRUE(entries) << version;
    ASSERT_EQ(entries->size(), 2u) << version;
    EXPECT_EQ((*entries)[1].m_access_count, 42u) << version;
    EXPECT_EQ((*entries)[1].m_path, (*entries)[0].m_path) << version;
    EXPECT_EQ(destlist_min_entry_size(version), 132u);
  }
  auto v1 = vesk_test::build_destlist(1, {want, want});
  auto entries = walk(v1);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[1].m_has_access_count, 0);
  EXPECT_EQ(destlist_min_entry_size(1), 116u);
}

TEST(DestListEntry, EmptyPathSizes) {
  destlist_test_entry want;
  want.path.clear();
  auto v1 = vesk_test::destlist_entry_bytes(want, true);
  auto v3 = vesk_test::destlist_entry_bytes(want, false);
  destlist_entry e;
  ASSERT_TRUE(load_destlist_entry_114(e, v1.data(), static_cast<int64_t>(v1.size())));
  EXPECT_EQ(e.m_entry_size, 114u);
  EXPECT_EQ(e.m_path, "");
  ASSERT_TRUE(load_destlist_entry_130(e, v3.data(), static_cast<int64_t>(v3.size())));
  EXPECT_EQ(e.m_entry_size, 134u);
}

TEST(DestListEntry, PathPastTheStreamIsNotLoaded) {
  auto want = full_entry();
  want.length_override = 500;
  for (bool v1 : {true, false}) {
    auto bytes = vesk_test::destlist_entry_bytes(want, v1);
    auto raw = exact_copy(bytes);
    destlist_entry e;
    bool ok = v1 ? load_destlist_entry_114(e, raw.get(), static_cast<int64_t>(bytes.size()))
                 : load_destlist_entry_130(e, raw.get(), static_cast<int64_t>(bytes.size()));
    EXPECT_FALSE(ok);
    EXPECT_EQ(e.m_valid, 0);
    EXPECT_EQ(e.m_entry_size, (v1 ? 114u : 134u) + 1000);  // set even though it does not fit
    EXPECT_EQ(e.m_entry_num, 0u);
    EXPECT_TRUE(e.m_path.empty());
    std::string path = "x";
    EXPECT_FALSE(v1 ? destlist_entry_path_114(raw.get(), path, static_cast<int64_t>(bytes.size()))
                    : destlist_entry_path_130(raw.get(), path, static_cast<int64_t>(bytes.size())));
    EXPECT_EQ(path, "");
  }
  // The stream of such an entry is refused as a whole when it is the first.
  auto stream = vesk_test::build_destlist(3, {want});
  EXPECT_FALSE(walk(stream));
}

TEST(DestListEntry, FixedPartIsTestedBeforeThePathLength) {
  auto bytes = vesk_test::destlist_entry_bytes(full_entry(), false);
  for (size_t n : {size_t{0}, size_t{1}, size_t{100}, destlist_fixed_size_114 - 1,
                   destlist_fixed_size_130 - 1}) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
    auto raw = exact_copy(cut);
    destlist_entry e;
    e.m_entry_num = 9;
    EXPECT_FALSE(load_destlist_entry_130(e, raw.get(), static_cast<int64_t>(n))) << n;
    EXPECT_EQ(e.m_entry_num, 0u);
    EXPECT_EQ(e.m_entry_size, 0u);
    if (n < destlist_fixed_size_114) {
      EXPECT_FALSE(load_destlist_entry_114(e, raw.get(), static_cast<int64_t>(n)));
    }
  }
  destlist_entry e;
  EXPECT_FALSE(load_destlist_entry_130(e, bytes.data(), -5));
  EXPECT_FALSE(load_destlist_entry_114(e, nullptr, 1000));
}

TEST(DestListEntry, PropertyStorageAfterThePathIsSteppedOver) {
  auto first = full_entry();
  first.property_storage.assign(60, 0x4C);  // bytes that must not be read as an entry
  auto second = full_entry();
  second.entry_num = 0x2b;
  second.path = u"D:\\second";
  auto stream = vesk_test::build_destlist(4, {first, second});
  auto entries = walk(stream);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].m_entry_size, destlist_fixed_size_130 + 2 * first.path.size() +
                                            destlist::entry_130::storage_size + 60);
  EXPECT_EQ((*entries)[1].m_entry_num, 0x2bu);
  EXPECT_EQ((*entries)[1].m_path, "D:\\second");

  // A count larger than what is left makes the entry run past the stream.
  auto bytes = vesk_test::destlist_entry_bytes(second, false);
  size_t at = bytes.size() - 4;
  bytes[at] = 0xFF;
  bytes[at + 1] = 0xFF;
  destlist_entry e;
  EXPECT_FALSE(load_destlist_entry_130(e, bytes.data(), static_cast<int64_t>(bytes.size())));
  EXPECT_EQ(e.m_entry_size, bytes.size() + 0xFFFF);
}

TEST(DestListEntry, StreamFitRules) {
  // A later-layout stream with bytes after its header that hold no whole
  // entry was cut inside it; one that ends with its header has no entries.
  std::vector<uint8_t> short_stream(40, 0);
  short_stream[0] = 3;
  EXPECT_FALSE(walk(short_stream));
  short_stream.resize(destlist_header_size);
  auto none = walk(short_stream);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
  // A version-1 entry that ends exactly at the end of the stream is loaded,
  // first or last; one byte short, no entry has room.
  destlist_test_entry one;
  one.path = u"a";
  auto v1 = vesk_test::build_destlist(1, {one});
  ASSERT_EQ(v1.size(), destlist_header_size + destlist_fixed_size_114 + 2);
  auto entries = walk(v1);
  ASSERT_TRUE(entries);
  EXPECT_EQ(entries->size(), 1u);
  v1 = vesk_test::build_destlist(1, {one, one});
  entries = walk(v1);
  ASSERT_TRUE(entries);
  EXPECT_EQ(entries->size(), 2u);
  v1.resize(destlist_header_size + destlist_fixed_size_114 + 1);
  EXPECT_FALSE(walk(v1));
  // A later-layout first entry whose trailer is missing runs past the stream.
  auto v3 = vesk_test::build_destlist(3, {one});
  v3.resize(v3.size() - 2);
  EXPECT_FALSE(walk(v3));
  // Bytes after the header too few for an entry were cut from one, in
  // either layout; too short for a header, a stream is refused.
  for (uint32_t version : {1u, 4u}) {
    auto header = vesk_test::build_destlist(version, {});
    header.resize(destlist_header_size + destlist_min_entry_size(version) - 3, 0);
    EXPECT_FALSE(walk(header)) << version;
  }
  EXPECT_FALSE(walk(std::vector<uint8_t>(31, 0)));

  // The walk stops at the end quietly and at a damaged entry as damaged,
  // each entry's offset given; an entry is loaded again from its offset.
  auto bad = one;
  bad.length_override = 0xFFFF;
  const auto two = vesk_test::build_destlist(4, {one, one, bad, one});
  fault_sink faults;
  destlist_walker walker(faults);
  ASSERT_TRUE(walker.start(two.data(), two.size()));
  destlist_entry e;
  std::vector<size_t> offsets;
  while (walker.next(e)) offsets.push_back(walker.offset());
  EXPECT_EQ(offsets, (std::vector<size_t>{32, 168}));
  EXPECT_FALSE(walker.faults().empty());
  EXPECT_EQ(walker.offset(), 304u);
  EXPECT_EQ(walker.count(), 2u);
  ASSERT_TRUE(walker.load_at(168, e, true));
  EXPECT_EQ(e.m_path, "a");
  EXPECT_FALSE(walker.load_at(304, e));
}

// Every way a walk ends short leaves its one fault where it stopped, or
// memory counted; only a walk that reaches the stream's end leaves none. One
// walker walks every row, so each start forgets the last walk's end.
TEST(DestListWalker, EveryShortEndLeavesItsFault) {
  using vesk_test::build_destlist;
  destlist_test_entry one;
  one.path = u"a";
  auto past = one;
  past.length_override = 0xFFFF;
  auto v1_cut = build_destlist(1, {one, one});
  v1_cut.resize(32 + 116 + 50);
  auto no_trailer = build_destlist(4, {one});
  no_trailer.resize(no_trailer.size() - 2);
  auto stored = one;
  stored.property_storage.assign(8, 0x41);
  auto storage_cut = build_destlist(4, {one, stored});
  storage_cut.resize(storage_cut.size() - 4);
  struct row {
    const char* name;
    std::vector<uint8_t> stream;
    bool out_of_memory;  // the walk's first allocation fails
    const char* cause;   // null: ends at the stream's end
    size_t offset, count;
  } rows[] = {
      {"sound", build_destlist(4, {one, one}), false, nullptr, 32 + 2 * 136, 2},
      {"header alone", build_destlist(1, {}), false, nullptr, 32, 0},
      {"shorter than a header", std::vector<uint8_t>(31, 0), false, k_destlist_short_header, 0, 0},
      {"entry cut", v1_cut, false, k_destlist_entry_cut, 32 + 116, 1},
      {"trailer cut", no_trailer, false, k_destlist_entry_past, 32, 0},
      {"path past the stream", build_destlist(4, {one, one, past, one}), false,
       k_destlist_entry_past, 32 + 2 * 136, 2},
      {"property storage past the stream", storage_cut, false, k_destlist_entry_past, 32 + 136, 1},
      {"out of memory", build_destlist(4, {full_entry()}), true, nullptr, 32, 0},
  };
  fault_sink faults;
  destlist_walker walker(faults);
  destlist_entry e;
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(walker.start(r.stream.data(), r.stream.size()), r.stream.size() >= 32);
    if (r.out_of_memory) vesk_test::heap::fail_nth(0);
    while (walker.next(e)) {
    }
    vesk_test::heap::no_failure();
    EXPECT_FALSE(walker.next(e));
    const fault_sink& f = walker.faults();
    EXPECT_EQ(f.out_of_memory_count(), r.out_of_memory ? 1u : 0u);
    ASSERT_EQ(f.size(), r.cause ? 1u : 0u);
    EXPECT_EQ(f.dropped(), 0u);
    // A refused stream's walk never left the header's end.
    EXPECT_EQ(walker.offset(), r.stream.size() < 32 ? 32 : r.offset);
    EXPECT_EQ(walker.count(), r.count);
    if (!r.cause) continue;
    EXPECT_STREQ(f[0].structure, "DestList");
    EXPECT_EQ(f[0].cause, r.cause);
    EXPECT_EQ(f[0].offset, r.offset);
  }
}

TEST(DestListEntry, SectorSlackAfterTheStreamGivesNoPhantomEntries) {
  // Stored in a compound file, the stream's last sector holds bytes after
  // its end; read_stream stops at the declared size.
  destlist_test_entry one;
  auto v4 = vesk_test::build_destlist(4, {one, one});
  for (bool mini : {true, false}) {
    auto stream = v4;
    if (!mini) {
      // Pad with a property storage so that the stream goes through the FAT.
      destlist_test_entry big = one;
      big.property_storage.assign(5000, 0);
      stream = vesk_test::build_destlist(4, {one, big});
    }
    vesk_test::cfb_writer w;
    w.stream(u"DestList", stream);
    auto img = w.build();
    size_t end = w.info(u"DestList").first_offset;
    if (!mini)
      end = w.sector_offset(w.info(u"DestList").chain.back()) + stream.size() % 512;
    else
      end += stream.size();
    std::fill(img.begin() + end, img.begin() + end + 64 - stream.size() % 64, 0);
    compound_file_reader r;
    ASSERT_TRUE(parse_compound_image(&r, img.data(), img.size()));
    std::vector<uint8_t> read;
    uint32_t entry_num;
    uint64_t offset;
    ASSERT_TRUE(read_stream(r, read, entry_num, offset, "destlist", img.data(), img.size()));
    auto entries = walk(read);
    ASSERT_TRUE(entries);
    EXPECT_EQ(entries->size(), 2u) << mini;
  }
}

TEST(DestListEntry, SingleVersion1EntryEndingTheStreamLoads) {
  // Windows writes a version-1 DestList without slack: its one entry ends
  // where the stream ends, inside the last mini sector.
  destlist_test_entry one;
  one.path = u"C:\\Windows\\notepad.exe";
  auto stream = vesk_test::build_destlist(1, {one});
  ASSERT_NE(stream.size() % 64, 0u);
  vesk_test::cfb_writer w;
  w.stream(u"DestList", stream);
  auto img = w.build();
  size_t end = w.info(u"DestList").first_offset + stream.size();
  std::fill(img.begin() + end, img.begin() + end + 64 - stream.size() % 64, 0x41);
  compound_file_reader r;
  ASSERT_TRUE(parse_compound_image(&r, img.data(), img.size()));
  std::vector<uint8_t> read;
  uint32_t entry_num;
  uint64_t offset;
  ASSERT_TRUE(read_stream(r, read, entry_num, offset, "destlist", img.data(), img.size()));
  ASSERT_EQ(read.size(), stream.size());
  auto entries = walk(read);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].m_path, "C:\\Windows\\notepad.exe");
}

TEST(DestListEntry, RawAccessors) {
  auto want = full_entry();
  auto bytes = vesk_test::destlist_entry_bytes(want, false);
  const uint8_t* raw = bytes.data();
  const int64_t n = static_cast<int64_t>(bytes.size());
  EXPECT_EQ(destlist_entry_size_130(raw, n), bytes.size());
  EXPECT_EQ(destlist_entry_size_130(raw, destlist::entry_130::path_length + 1), 0u);
  EXPECT_EQ(destlist_entry_mru_time(raw, n), want.mru_time);
  EXPECT_EQ(destlist_entry_mru_time(raw, destlist::entry::mru_time + 7), 0u);
  EXPECT_EQ(destlist_entry_droid_text(raw, n, 1), "14131211-1615-1817-191a-1b1c1d1e1f20");
  EXPECT_EQ(destlist_entry_droid_text(raw, n, 4), "");
  EXPECT_EQ(destlist_entry_droid_text(raw, n, -1), "");
  EXPECT_EQ(destlist_entry_host_name(raw, n), "WORKSTATION-0123");
  EXPECT_EQ(destlist_entry_host_name(raw, destlist::entry::host_name + 8), "");
  std::string path;
  EXPECT_TRUE(destlist_entry_path_130(raw, path, n));
  EXPECT_EQ(path, "C:\\Users\\Ann\\Documents\\r\xC3\xA9sum\xC3\xA9.docx");
  auto v1 = vesk_test::destlist_entry_bytes(want, true);
  EXPECT_EQ(destlist_entry_size_114(v1.data(), static_cast<int64_t>(v1.size())), v1.size());

  destlist_entry_130_raw block;
  block.fill(7);
  clear_destlist_entry_130_raw(block);
  EXPECT_EQ(block[destlist_min_entry_130 - 1], 0);
}

TEST(DestListEntry, MutatedStreamsStayInBounds) {
  std::mt19937 rng(5);
  auto a = full_entry();
  auto b = full_entry();
  b.property_storage.assign(24, 1);
  std::vector<std::vector<uint8_t>> bases = {vesk_test::build_destlist(1, {a, a, a}),
                                             vesk_test::build_destlist(4, {a, b, a}),
                                             vesk_test::build_destlist(3, {b, b})};
  size_t total = 0;
  // Entries loaded over those of the stream before (and, every other time,
  // without their paths) are the entries loaded afresh.
  std::vector<destlist_entry> kept;
  for (int i = 0; i < 3000; ++i) {
    auto s = vesk_test::mutate(bases[i % 3], rng, 1 + i % 12);
    if (i % 3 == 0) s.resize(std::uniform_int_distribution<size_t>(0, s.size())(rng));
    auto raw = exact_copy(s);
    std::vector<uint8_t> exact(raw.get(), raw.get() + s.size());
    auto entries = walk(exact);
    if (entries) total += entries->size();
    uint32_t version = 0;
    const bool paths = i % 2 == 0;
    EXPECT_EQ(load_destlist_entries(exact.data(), exact.size(), version, kept, paths),
              entries.has_value());
    ASSERT_EQ(kept.size(), entries ? entries->size() : 0u) << i;
    for (size_t k = 0; k < kept.size(); ++k) {
      const destlist_entry& want = (*entries)[k];
      EXPECT_TRUE(
          kept[k].m_entry_size == want.m_entry_size && kept[k].m_entry_num == want.m_entry_num &&
          kept[k].m_mru_time == want.m_mru_time && kept[k].m_checksum == want.m_checksum &&
          kept[k].m_access_count == want.m_access_count && kept[k].m_droids == want.m_droids &&
          kept[k].m_netbios_name == want.m_netbios_name &&
          kept[k].m_path_length == want.m_path_length &&
          kept[k].m_path == (paths ? want.m_path : std::string()))
          << i << " #" << k;
    }
    destlist_entry e;
    load_destlist_entry_130(e, raw.get(), static_cast<int64_t>(s.size()));
    load_destlist_entry_114(e, raw.get(), static_cast<int64_t>(s.size()));
  }
  EXPECT_GT(total, 0u);
}

TEST(DestListSamples, VersionEntriesAndLnkStreamsMatchTheManifest) {
  auto samples = vesk_test::automatic_jumplist_samples();
  if (samples.empty()) GTEST_SKIP() << "sample folder absent";
  size_t with_entries = 0;
  for (const auto& s : samples) {
    SCOPED_TRACE(s.relpath);
    compound_file_reader r;
    ASSERT_TRUE(parse_compound_image(&r, s.bytes.data(), s.bytes.size()));
    std::vector<uint8_t> destlist;
    uint32_t entry_num;
    uint64_t offset;
    bool has =
        read_stream(r, destlist, entry_num, offset, "destlist", s.bytes.data(), s.bytes.size());
    std::vector<destlist_entry> entries;
    if (has) {
      // The stream ends at its declared size, not at the end of its last
      // sector: a single version-1 entry ends exactly there.
      EXPECT_EQ(destlist.size(), find_cfb_entry(r, "destlist")->stream_size());
      auto walked = walk(destlist);
      ASSERT_TRUE(walked);
      entries = *walked;
    }
    if (s.detail("DestList") == "no" || s.detail("DestList_size") == "0") {
      EXPECT_EQ(find_cfb_entry(r, "destlist") != nullptr, s.detail("DestList") != "no");
      EXPECT_FALSE(has);
      continue;
    }
    ASSERT_TRUE(has);
    EXPECT_EQ(std::to_string(load_le32(destlist.data())), s.detail("DestList_version"));
    ASSERT_EQ(std::to_string(entries.size()), s.detail("entries"));
    size_t lnk_ok = 0;
    for (const auto& e : entries) {
      char name[20];
      std::snprintf(name, sizeof name, "%llx", static_cast<unsigned long long>(e.m_entry_num));
      std::vector<uint8_t> lnk;
      if (!read_stream(r, lnk, entry_num, offset, name, s.bytes.data(), s.bytes.size())) continue;
      EXPECT_EQ(offset % 64, 0u) << name;
      if (lnk.size() >= 4 && lnk[0] == 0x4C && lnk[1] == 0 && lnk[2] == 0 && lnk[3] == 0) ++lnk_ok;
      EXPECT_FALSE(e.m_path.empty());
      EXPECT_NE(e.m_mru_time, 0u);
    }
    std::string expect_ok = s.detail("lnk_streams_ok");
    EXPECT_EQ(std::to_string(lnk_ok), expect_ok.substr(0, expect_ok.find('/')));
    EXPECT_EQ(lnk_ok, entries.size());
    ++with_entries;
  }
  EXPECT_GT(with_entries, 0u);
}
