// Hostile bytes through every routine here that reads outside bytes (time
// scanners, base-128 readers, digests, hex writers, HTML routines): each
// truncation of seeded buffers and 100,000 seeded mutations, each buffer in a
// heap block of its exact size so that the sanitizer sees any read past it.
// Work is bounded by counting lines and hits, never by the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_digest.h"
#include "foundation/vk_hex_view.h"
#include "foundation/vk_html.h"
#include "foundation/vk_time_scan.h"
#include "foundation/vk_varint.h"

namespace {

constexpr int k_mutations = 100000;

// Runs check on every cut of every seed, then on k_mutations mutated and
// randomly cut copies; each buffer lives in an exact-size heap block.
template <class Check>
void each_hostile_buffer(const std::vector<std::vector<uint8_t>>& seeds, uint32_t seed,
                         Check check) {
  auto run = [&](const std::vector<uint8_t>& bytes) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    check(bytes.empty() ? nullptr : exact.get(), bytes.size());
  };
  for (const auto& s : seeds)
    for (size_t cut = 0; cut <= s.size(); ++cut) run({s.begin(), s.begin() + cut});
  std::mt19937 rng(seed);
  for (int i = 0; i < k_mutations; ++i) {
    std::vector<uint8_t> m = vesk_test::mutate(seeds[i % seeds.size()], rng, 1 + rng() % 6);
    if (rng() % 4 == 0) m.resize(rng() % (m.size() + 1));
    run(m);
  }
}

std::vector<std::vector<uint8_t>> time_seeds() {
  std::vector<std::vector<uint8_t>> seeds;
  std::vector<uint8_t> a(24, 0);
  vk::store_le64(a.data() + 3, 0x01D9000000000000ull);  // FILETIME
  vk::store_le32(a.data() + 12, 0x60000060);            // unix seconds
  seeds.push_back(a);
  std::vector<uint8_t> st(20, 0);
  const uint16_t f[8] = {2021, 1, 4, 14, 8, 27, 12, 5};  // SYSTEMTIME
  for (int i = 0; i < 8; ++i) vk::store_le16(st.data() + 2 + 2 * i, f[i]);
  seeds.push_back(st);
  // A version-1 GUID, an OLE date (2000-01-01 12:00) and a varint prefix.
  seeds.push_back({0x81, 0xE0, 0x80, 0x80, 0x60, 0x4c, 0x0b, 0xe0, 0x11, 0xd1, 0x9e, 0xd4,
                   0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  double ole = 36526.5;
  std::vector<uint8_t> d(12, 0xFF);
  std::memcpy(d.data() + 2, &ole, 8);
  seeds.push_back(d);
  return seeds;
}

}  // namespace

TEST(RawBytesHostile, TimeScannersAndFinders) {
  // Mostly two kinds and a narrow window per buffer, so that 100,000 buffers
  // stay cheap; every 16th with every kind, every 4th where any valid time
  // is a hit, so that the printing runs often too.
  const uint64_t narrow_from = 0x01D5000000000000ull, narrow_to = 0x01DA000000000000ull;
  uint64_t buffers = 0, lines_total = 0;
  std::mt19937 pick(22005);
  each_hostile_buffer(time_seeds(), 22001, [&](const uint8_t* p, size_t n) {
    const uint32_t r = static_cast<uint32_t>(pick());
    const uint32_t mask = buffers % 16 == 0 ? ~0u : (1u << (r % 20)) | (1u << ((r >> 8) % 20));
    const bool wide = buffers % 4 == 0;
    std::ostringstream os;
    const int32_t count = vk::scan_buffer_with_varints(os, p, static_cast<int32_t>(n),
                                                       wide ? 0x7FFFFFFFFFFFFFFFull : narrow_to,
                                                       wide ? 0 : narrow_from, 0xFFFF0000ull, mask);
    const std::string text = os.str();
    const auto lines = static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
    // At most 40 readings per position of the buffer and of the two
    // 8-byte varint values, plus the two headings.
    EXPECT_LE(lines, 40 * (n + 16) + 2);
    EXPECT_GE(count, 0);
    EXPECT_LE(static_cast<uint64_t>(count), lines);
    std::vector<vk::time> times;
    std::vector<uint32_t> offsets;
    vk::find_unix_times32(p, static_cast<uint32_t>(n), times, offsets);
    EXPECT_LE(offsets.size(), n);
    vk::find_times64(p, static_cast<uint32_t>(n), times, offsets);
    EXPECT_LE(offsets.size(), 2 * n);
    EXPECT_EQ(times.size(), offsets.size());
    ++buffers;
    lines_total += lines;
  });
  EXPECT_GE(buffers, static_cast<uint64_t>(k_mutations));
  EXPECT_GT(lines_total, 0u);
}

TEST(RawBytesHostile, VarintReadersStopAtTheEnd) {
  std::vector<std::vector<uint8_t>> seeds = {std::vector<uint8_t>(12, 0xFF),
                                             {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89},
                                             {0x7F, 0x80, 0x00}};
  each_hostile_buffer(seeds, 22002, [&](const uint8_t* p, size_t n) {
    uint64_t be = 1, le = 1;
    EXPECT_EQ(vk::read_varint(be, p, n), n > 0);
    EXPECT_EQ(vk::read_varint_iter(le, p, n), n > 0);
    // One group read gives the same value in both orders.
    if (n > 0 && !(p[0] & 0x80)) {
      EXPECT_EQ(be, le);
    }
  });
}

TEST(RawBytesHostile, DigestsAgreeAcrossSplits) {
  std::vector<std::vector<uint8_t>> seeds = {std::vector<uint8_t>(130, 0x61),
                                             std::vector<uint8_t>(64, 0x00),
                                             {'1', '2', '3', '4', '5', '6', '7', '8', '9'}};
  std::mt19937 rng(22003);
  each_hostile_buffer(seeds, 22004, [&](const uint8_t* p, size_t n) {
    const size_t cut = n ? rng() % (n + 1) : 0;
    uint8_t whole[20], split[20], mwhole[16], msplit[16];
    ASSERT_TRUE(vk::sha1_bytes(p, n, whole));
    ASSERT_TRUE(vk::md5_bytes(p, n, mwhole));
    vk::sha1_ctx s;
    vk::md5_ctx m;
    vk::crc32_ctx c1, c2;
    vk::adler32_ctx a1, a2;
    vk::sha1_init(s);
    vk::md5_init(m);
    vk::crc32_init(c1);
    vk::crc32_init(c2);
    vk::adler32_init(a1);
    vk::adler32_init(a2);
    const uint8_t* rest = p ? p + cut : nullptr;
    vk::sha1_update(s, p, cut);
    vk::sha1_update(s, rest, n - cut);
    vk::md5_update(m, p, cut);
    vk::md5_update(m, rest, n - cut);
    vk::sha1_finish(s, split);
    vk::md5_finish(m, msplit);
    vk::crc32_update(c1, p, n);
    vk::crc32_update(c2, p, cut);
    vk::crc32_update(c2, rest, n - cut);
    vk::adler32_update(a1, p, n);
    vk::adler32_update(a2, p, cut);
    vk::adler32_update(a2, rest, n - cut);
    EXPECT_EQ(std::memcmp(whole, split, 20), 0);
    EXPECT_EQ(std::memcmp(mwhole, msplit, 16), 0);
    EXPECT_EQ(c1.m_value, c2.m_value);
    EXPECT_EQ(a1.m_value, a2.m_value);
  });
}

TEST(RawBytesHostile, HexWritersClipToTheView) {
  std::vector<std::vector<uint8_t>> seeds = {std::vector<uint8_t>(40, 0x41),
                                             {0x00, 0x7F, 0x20, 0x1F, 0xFF, 0x0A, 0x0D}};
  std::mt19937 rng(22006);
  each_hostile_buffer(seeds, 22007, [&](const uint8_t* p, size_t n) {
    const auto size = static_cast<uint32_t>(n);
    const uint32_t start = rng() % 48, span = rng() % 64;
    const uint64_t base = (static_cast<uint64_t>(rng()) << 32) | rng();
    vk::binary_data view = vk::binary_data_from_buffer(p, size, rng() % 2 == 0);
    view.m_mode = rng() % 16;
    std::string text;
    vk::hexdump_text(text, view, start, start + span, base, true, nullptr, 0);
    const size_t lines = n / 16 + 1;
    EXPECT_LE(std::count(text.begin(), text.end(), '\n'), static_cast<std::ptrdiff_t>(lines));
    std::ostringstream os;
    vk::hexdump_line(os, view, start, span, base, true);
    vk::hexdump_stream(os, view, start, start + span, base, rng() % 2 == 0, nullptr, 0);
    vk::hexdump_utf16_lines(os, view, start, start + span, base);
    vk::dump_hex_bytes(os, view, start, span);
    vk::dump_raw_bytes(os, view, start, span);
    vk::dump_text_lines(os, view, start, span, base, rng() % 2 == 0);
    vk::write_binary_data(os, view);
    vk::write_binary_data_range(view, os, start, span, base);
    vk::hexdump_to_stream(p, size, os, start, base);
    vk::hexdump_buffer_to_stream(p, size, os, start, base, rng() % 2 == 0);
    const std::vector<uint8_t> bytes(p, p + n);
    vk::hexdump_vector_or_run(bytes, os, start, base);
    // Each writer writes at most a few hundred characters per 16 bytes.
    EXPECT_LE(os.str().size(), 12 * 400 * lines);
  });
}

TEST(RawBytesHostile, HtmlRoutinesStayInsideTheirLength) {
  auto bytes_of = [](const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); };
  std::vector<std::vector<uint8_t>> seeds = {
      bytes_of("<p id=\"x\" class='c'>a<b>b</b><pre>if(a<b)</pre><?x ?>c"),
      bytes_of("<IMG Src='a\r\nb' ALT = q><script>x</script><% y %>"), bytes_of("a&b<c>\t\xE9\"=")};
  const std::vector<std::string> from = {"", "<", "&amp", "A"}, to = {"X", "&lt;", "&", "b"};
  const std::vector<std::wstring> wfrom = {L"", L"<", L"a"}, wto = {L"X", L"&lt;", L"b"};
  each_hostile_buffer(seeds, 22008, [&](const uint8_t* p, size_t n) {
    const auto len = static_cast<int32_t>(n);
    const char* c = reinterpret_cast<const char*>(p);
    std::string value, name, out;
    vk::get_quoted_attribute(c, len, "id", value);
    EXPECT_LE(value.size(), n);
    vk::get_tag_attribute(c, static_cast<uint32_t>(n), 1 + static_cast<int32_t>(n % 3), name,
                          value);
    vk::get_html_attribute(p, len, "src", value);
    EXPECT_LE(value.size(), n);
    vk::html_attribute found;
    vk::find_html_attribute(std::string(c ? c : "", n), len, "alt", found);
    std::vector<std::string> tokens;
    vk::split_html_tokens(p, len, tokens, n % 2 == 0);
    EXPECT_LE(tokens.size(), n + 1);
    vk::normalize_html_tags(tokens);
    vk::escape_text(p, len, from, to, out, n % 2 == 0, n % 3 == 0);
    EXPECT_LE(out.size(), 4 * n);
    const std::wstring wide(p, p + n);
    std::wstring wout;
    vk::escape_text_w(wide.c_str(), len, wfrom, wto, wout, true, n % 2 == 0);
    EXPECT_LE(wout.size(), 4 * n);
    const std::string terminated(c ? c : "", n);
    EXPECT_LE(vk::html_escape(terminated.c_str()).size(), 10 * n + 1);
  });
}
