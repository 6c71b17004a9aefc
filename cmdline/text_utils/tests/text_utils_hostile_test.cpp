// Hostile bytes through every text-utility routine that reads outside bytes
// or text: each truncation of seeded inputs and 100,000 seeded mutations,
// each input in a heap block of its exact size (texts built from a pointer
// and a length, so they hold exactly that) so that the sanitizer sees any
// read past it. Work is bounded by the input: outputs are checked against
// its size, never against the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>

#include "byte_builder.h"
#include "cmdline/text_utils/address_parsers.h"
#include "cmdline/text_utils/lists_sets.h"
#include "cmdline/text_utils/number_hex.h"
#include "cmdline/text_utils/small_strings.h"
#include "cmdline/text_utils/text_lists.h"

namespace {

constexpr int k_mutations = 100000;

template <class Check>
void each_hostile_input(const std::vector<std::string>& seeds, uint32_t seed, Check check) {
  auto run = [&](const std::vector<uint8_t>& bytes) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    check(bytes.empty() ? nullptr : exact.get(), bytes.size());
  };
  for (const auto& s : seeds)
    for (size_t cut = 0; cut <= s.size(); ++cut) run({s.begin(), s.begin() + cut});
  std::mt19937 rng(seed);
  for (int i = 0; i < k_mutations; ++i) {
    const std::string& s = seeds[i % seeds.size()];
    std::vector<uint8_t> m = vesk_test::mutate({s.begin(), s.end()}, rng, 1 + rng() % 6);
    if (rng() % 4 == 0) m.resize(rng() % (m.size() + 1));
    run(m);
  }
}

std::string text_of(const uint8_t* p, size_t n) {
  return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}

const std::vector<std::string> k_text_seeds = {
    "fe80::1:2",
    "192.168.0.1",
    "USBSTOR#Disk&Ven_A&Prod_B&Rev_1.0#A1B2C3&0#{x}",
    "c:\\a\\.\\b\\..\\x/../y",
    std::string(20, 'a') + "\\\\?\\",
    "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\x",
    "00112233-4455-6677-8899-aabbccddeeff",
    "-0x1.8p-1074",
    "4d 5a ?? 00",
    "x:  41 42  AB\nx:  43 44  CD\n",
    "4;5,6 0x10 \"7 8\"",
    "a/b c\t\x80\x7f",
};

}  // namespace

TEST(TextUtilsHostile, TextParsers) {
  size_t runs = 0;
  each_hostile_input(k_text_seeds, 26001, [&](const uint8_t* p, size_t n) {
    const std::string t = text_of(p, n);
    vk::byte_array b;
    vk::parse_ipv6_text(t, b);
    EXPECT_LE(b.size(), 2 * (n + 8));
    uint32_t v4 = 0;
    vk::parse_ipv4_text(t.c_str(), v4, true);
    std::string serial, base, sep;
    vk::device_id_serial(serial, base, sep, t);
    EXPECT_LE(serial.size(), n);
    std::string path = t;
    vk::normalize_path(path, false);
    EXPECT_LE(path.size(), n + 1);
    std::string s1(t.data(), t.size());
    vk::strip_device_prefix(s1, true, true);
    std::wstring w(t.begin(), t.end());
    std::wstring w1(w.data(), w.size());
    vk::strip_device_prefix_w(w1, true, false);
    vk::guid g;
    vk::guid_from_any_text(g, t);
    std::string f = t;
    double d = 0;
    vk::parse_hex_float(f, d);
    b.clear();
    vk::parse_hex_pattern(t, b);
    EXPECT_LE(b.size(), n + 1);
    vk::parse_hex_dump_text(b, t);
    EXPECT_LE(b.size(), n);
    EXPECT_LE(vk::format_number_text(t, true, 0).size(), 18u);
    std::string id;
    EXPECT_LE(vk::to_identifier(id, t).size(), n);
    vk::is_printable_text(t);
    std::vector<uint64_t> nums;
    vk::split_numbers_any_delim(nums, t, true, true, ",; ");
    vk::parse_number_list_delim(t, nums, ',');
    vk::parse_byte_words(t, b);
    std::vector<std::wstring> wl;
    vk::split_at_any_delim_w(wl, w, true, false, ",;");
    std::set<std::string> set;
    vk::split_string_to_set(t, ';', set, true, false);
    uint32_t lines = 0, width = 0;
    vk::text_line_metrics(lines, width, t);
    EXPECT_LE(width, n);
    std::string word;
    std::string popped = t;
    vk::pop_first_word(popped, word);
    size_t pos = 0;
    vk::find_after(pos, t, n / 2, "\\");
    ++runs;
  });
  EXPECT_GE(runs, static_cast<size_t>(k_mutations));
}

TEST(TextUtilsHostile, ByteReaders) {
  const std::vector<std::string> seeds = {
      std::string("\x02\x01"
                  "a\x82\x01",
                  5) +
          std::string(0x201, 'b'),
      std::string("a\0b\0\0\0c\0\r\0\n\0\\\0\r\0", 16),
      std::string("\x01\0\0\0\x02\0\0\0\x03\0\0\0\x02\0\0\0\0\0\0\0\0\0\0\0", 24),
      "line one\r\nline\ttwo\n",
  };
  size_t runs = 0;
  each_hostile_input(seeds, 26002, [&](const uint8_t* p, size_t n) {
    std::vector<std::string> list;
    EXPECT_LE(vk::read_counted_string_list(list, p, n), n);
    EXPECT_LE(list.size(), n);
    std::string s;
    const vk::byte_array bytes(p, p + n);
    EXPECT_LE(vk::read_counted_string_vec(s, bytes), n);
    vk::is_all_zero(bytes);
    vk::guid g;
    vk::bytes_to_guid(g, bytes);
    std::vector<std::vector<uint64_t>> hits;
    vk::scan_u32_values(hits, p, n, {2, 3, 0}, 4, false);
    vk::scan_u64_values(hits, p, n, {0, 2}, 8, true);

    // The line reader walks a copy of its own, unit by unit.
    std::unique_ptr<uint16_t[]> units(new uint16_t[n / 2 + 1]);
    std::memcpy(units.get(), p ? p : reinterpret_cast<const uint8_t*>(""), n & ~size_t{1});
    const uint16_t* pos = units.get();
    size_t count = n / 2;
    for (size_t guard = 0; guard <= n / 2 + 1; ++guard) {
      const size_t before = count;
      vk::read_utf16_line(s, pos, count, guard % 2 == 0);
      if (count == before) break;
      ASSERT_LT(count, before);
    }
    std::vector<std::wstring> wl;
    vk::utf16_multi_string_to_list(wl, p, static_cast<uint32_t>(n));
    EXPECT_LE(wl.size(), n / 2);
    vk::split_text_buffer_w(p, static_cast<uint32_t>(n), wl);
    uint64_t off = 0;
    static const uint8_t pat[] = {0, '\r', 0};
    vk::horspool_search(off, p, n, pat, 3);
    vk::find_bytes_in_range(off, p, p ? p + n : nullptr, std::string("\x02\0", 2), 0);
    std::string dump;
    vk::append_hex_dump(dump, p, n, true);
    // 67 bytes a full line, 50 and the characters for a short one, the final LF.
    EXPECT_EQ(dump.size(), n / 16 * 67 + (n % 16 ? 50 + n % 16 : 0) + 1);
    ++runs;
  });
  EXPECT_GE(runs, static_cast<size_t>(k_mutations));
}

TEST(TextUtilsHostile, ListsStringsAndWriters) {
  size_t runs = 0;
  each_hostile_input(k_text_seeds, 26003, [&](const uint8_t* p, size_t n) {
    const std::string t = text_of(p, n);
    std::vector<std::string> pieces;
    for (size_t i = 0; i < n; i += 3) pieces.push_back(t.substr(i, 3 + i % 2));
    std::vector<std::string> list = pieces;
    vk::dedupe_keep_first(list);
    EXPECT_LE(list.size(), pieces.size());
    std::string joined;
    vk::join_set(joined, {pieces.begin(), pieces.end()}, ",", true);
    std::vector<std::string> diff;
    vk::set_difference_texts(pieces, list, diff, true);
    std::ostringstream os;
    std::vector<uint32_t> ends, widths = {4};
    std::map<std::string, uint32_t> titles;
    vk::write_title_line(os, ends, titles, widths, pieces, t.substr(0, 3), true);
    vk::write_json_pairs(os, {{t, t}}, ',');
    std::vector<std::string> mixed;
    vk::interleave_lists(mixed, pieces, list.size() == pieces.size() ? list : pieces);

    const std::wstring w(t.begin(), t.end());
    std::vector<std::wstring> wl(1, w);
    std::map<std::wstring, uint32_t> wtitles;
    vk::write_title_line_w(os, ends, wtitles, widths, wl, L" | ");
    wl.push_back(w.substr(0, n / 2));
    wl.push_back(w);
    vk::remove_duplicate_wstrings(wl);
    vk::byte_array multi;
    vk::list_to_utf16_multi_string(wl, multi);
    std::vector<uint16_t> units;
    vk::wide_to_utf16_vector(units, w);
    EXPECT_LE(units.size(), 2 * n);
    std::vector<uint16_t> path(units.begin(), units.end());
    path.push_back(0);
    std::wstring dir, name;
    vk::split_utf16_path(path.data(), dir, name);
    vk::escape_units(units, L"\\.");
    vk::trim_trailing_zero_units(units);
    std::string ipv6;
    vk::format_ipv6_text(units.data(), units.size() * 2, ipv6);

    std::string a = t, needle = t.substr(n / 3, 2);
    vk::find_fold(a, needle, true);
    std::wstring wa = w, wn = w.substr(n / 2, 1);
    vk::werase_first(wa, wn, true);
    vk::werase_from(wa, L"x", true);
    vk::wescape_chars(wa, L"\\");
    vk::wtrim_trailing_nuls(wa);
    EXPECT_LE(vk::remove_char_copy(t, 'a').size(), n);
    std::string e = t;
    vk::escape_chars(e, "\\\"");
    EXPECT_LE(e.size(), 2 * n);
    vk::non_alpha_to_underscore(e);
    vk::byte_array b;
    vk::assign_bytes_from_text(b, t);
    EXPECT_EQ(vk::remove_byte_value(b, 'a') + b.size(), n);
    vk::vk_variant_lite cell;
    vk::make_bytes_cell(cell, p, n, vk::vt_bytes_hex);
    std::string hex;
    vk::bytes_to_hex_text(hex, p, n, true);
    EXPECT_EQ(hex.size(), n ? 3 * n - 1 : 0);
    if (n >= 16) vk::write_hex16_line(p, os);
    std::string plain;
    vk::format_double_plain(plain, static_cast<double>(n) / 7.0 - 3.0, static_cast<int>(n % 20));
    ++runs;
  });
  EXPECT_GE(runs, static_cast<size_t>(k_mutations));
}
