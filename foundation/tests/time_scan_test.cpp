// The raw-buffer time scanner: its hit lines, counts, byte orders and
// window, the variable-length integer passes, the callback form, the
// position finders and the varint readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_time_scan.h"
#include "foundation/vk_varint.h"
#include "time_reference.h"

using vesk_test::ticks_of;

namespace {

std::vector<uint8_t> varint_be(uint64_t v) {
  std::vector<uint8_t> groups;
  do {
    groups.insert(groups.begin(), static_cast<uint8_t>(v & 0x7F));
    v >>= 7;
  } while (v);
  for (size_t i = 0; i + 1 < groups.size(); ++i) groups[i] |= 0x80;
  return groups;
}

}  // namespace

TEST(TimeScan, HitLinesCountsAndWindow) {
  const uint64_t from22 = ticks_of(2022, 1, 1), to23 = ticks_of(2023, 1, 1);
  std::vector<uint8_t> buf(16, 0);
  vk::store_le64(buf.data() + 5, 0x01D9000000000000ull);
  std::ostringstream os;
  EXPECT_EQ(vk::scan_buffer_for_times(os, buf.data(), 16, to23, from22, 0, 0x1), 1);
  EXPECT_EQ(os.str(),
            "000005, LE, filetime  , 2022-11-24 12:26:38.414028800 UTC, "
            "00 00 00 00 00 00 d9 01 \n");
  // The same through the vector and callback forms, at another base.
  std::ostringstream via_vector, via_callback;
  EXPECT_EQ(vk::scan_vector_for_times(via_vector, buf, to23, from22, 0x1000000, 0x1), 1);
  EXPECT_EQ(via_vector.str().substr(0, 9), "1000005, ");
  vk::time_scan_context ctx{&via_callback, to23, from22, 0x1, 5};
  EXPECT_EQ(vk::scan_buffer_callback(0, &ctx, buf.data(), 16, 0, 0), 0);
  EXPECT_EQ(ctx.m_total, 6);
  EXPECT_EQ(via_callback.str(), os.str());
  EXPECT_EQ(vk::scan_buffer_callback(0, nullptr, buf.data(), 16, 0, 0), -1);
  EXPECT_EQ(vk::scan_buffer_callback(0, &ctx, buf.data(), 0, 0, 0), -1);

  const uint8_t unix4[] = {0x60, 0x00, 0x00, 0x60};
  const uint64_t day_from = ticks_of(2021, 1, 14), day_to = ticks_of(2021, 1, 15);
  struct window_case {
    int32_t length;
    uint64_t to, from;
    int32_t count;
    std::string text;
  };
  const window_case cases[] = {
      {4, day_to, day_from, 2,
       "00000a, LE, unix time , 2021-01-14 08:27:12.000000000 UTC, 60 00 00 60 \n"
       "00000a, BE, unix time , 2021-01-14 08:27:12.000000000 UTC, 60 00 00 60 \n"},
      {3, day_to, day_from, 0, ""},  // too short for a 32-bit reading
      {4, day_from, day_to, 0, ""},  // from above to
      {0, day_to, day_from, 0, ""},
      {-4, day_to, day_from, 0, ""},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(vk::scan_buffer_for_times(out, unix4, c.length, c.to, c.from, 10, 0x8), c.count)
        << c.length;
    EXPECT_EQ(out.str(), c.text) << c.length;
  }
  std::ostringstream none;
  EXPECT_EQ(vk::scan_buffer_for_times(none, nullptr, 4, day_to, day_from, 0, ~0u), 0);
  EXPECT_EQ(vk::scan_vector_for_times(none, {}, day_to, day_from, 0, ~0u), 0);

  // Record kinds: a SYSTEMTIME, its reversed form, and a DOS date and time
  // printed as local.
  uint8_t st[16] = {};
  const uint16_t fields[8] = {2021, 1, 4, 14, 8, 27, 12, 5};
  for (int i = 0; i < 8; ++i) vk::store_le16(st + 2 * i, fields[i]);
  vk::time_hit_store hits;
  EXPECT_TRUE(vk::scan_systemtime_at(hits, st, day_to, day_from, 7, true));
  uint8_t reversed[16];
  for (int i = 0; i < 16; ++i) reversed[i] = st[15 - i];
  EXPECT_TRUE(vk::scan_systemtime_at(hits, reversed, day_to, day_from, 7, false));
  ASSERT_EQ(hits.size(), 2u);
  for (const auto& [offset, hit] : hits) {
    EXPECT_EQ(hit.m_kind, 0x200u);
    EXPECT_EQ(hit.m_ticks, ticks_of(2021, 1, 14, 8, 27, 12) + 50000);
  }
  EXPECT_FALSE(vk::scan_systemtime_at(hits, st, day_from, day_to, 7, true));
  EXPECT_TRUE(hits.empty());
  std::ostringstream dos;
  const uint8_t dos_bytes[] = {0x60, 0x43, 0x2E, 0x52};  // 2021-01-14 08:27:00 little-endian
  EXPECT_EQ(vk::scan_buffer_for_times(dos, dos_bytes, 4, day_to, day_from, 0, 0x20), 1);
  EXPECT_EQ(dos.str(), "000000, LE, dos time  , 2021-01-14 08:27:00.000000000 LOC, 60 43 2e 52 \n");

  // A 32-bit value next to four zero bytes is also a 64-bit value with a
  // zero high word; it is still one hit, at its own offset, in either order.
  const struct {
    uint32_t mask, value;
    const char* name;
  } narrow[] = {{0x40000, 0x25b037e0, "safari time"}, {0x80000, 0xdc25b0e0, "hfs+ time"}};
  for (const auto& k : narrow) {
    for (const bool big : {false, true}) {
      uint8_t b8[8] = {};
      const size_t at = big ? 4 : 0;
      for (size_t i = 0; i < 4; ++i)
        b8[at + i] = static_cast<uint8_t>(k.value >> (big ? 24 - 8 * i : 8 * i));
      std::ostringstream out;
      EXPECT_EQ(vk::scan_buffer_for_times(out, b8, 8, day_to, day_from, 0, k.mask | 0x1), 1)
          << k.name << big;
      const std::string text = out.str();
      const std::string head = std::string(big ? "000004, BE, " : "000000, LE, ") + k.name;
      EXPECT_EQ(text.rfind(head, 0), 0u) << text;
      EXPECT_NE(text.find(", 2021-01-14 08:27:12.000000000 UTC, "), std::string::npos) << text;
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
  }
}

TEST(TimeScan, VarintPassesFindersAndReaders) {
  const uint64_t day_from = ticks_of(2021, 1, 14), day_to = ticks_of(2021, 1, 15);
  // A varint whose value (most significant group first) is unix time
  // 0x60000060: only the "Variable int BE" heading appears, over its hits.
  const std::vector<uint8_t> v = varint_be(0x60000060);
  std::ostringstream plain, with;
  const int32_t base_count = vk::scan_vector_for_times(plain, v, day_to, day_from, 0, 0x8);
  const int32_t all = vk::scan_vector_with_varints(with, v, day_to, day_from, 0, 0x8);
  EXPECT_GT(all, base_count);
  const std::string text = with.str();
  EXPECT_EQ(text.find("Variable int LE"), std::string::npos);
  const size_t heading = text.find("Variable int BE\n");
  ASSERT_NE(heading, std::string::npos);
  EXPECT_EQ(text.substr(0, heading), plain.str());
  EXPECT_NE(text.find("000000, LE, unix time , 2021-01-14 08:27:12", heading), std::string::npos);
  std::ostringstream quiet;
  const uint8_t zeros[9] = {};
  EXPECT_EQ(vk::scan_buffer_with_varints(quiet, zeros, 9, day_to, day_from, 0, ~0u), 0);
  EXPECT_EQ(quiet.str(), "");

  struct varint_case {
    std::vector<uint8_t> bytes;
    bool ok;
    uint64_t be, le;
  };
  const varint_case cases[] = {
      {{0x81, 0x00}, true, 128, 1},
      {{0x7F}, true, 127, 127},
      {std::vector<uint8_t>(9, 0xFF), true, ~0ull, ~0ull},
      {std::vector<uint8_t>(12, 0xFF), true, ~0ull, ~0ull},  // a tenth byte is not read
      {{0x81, 0x82}, true, (1u << 7) | 2, 1 | (2u << 7)},    // stops at the buffer's end
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, true, 1, 1ull << 56},
      {{}, false, 0, 0},
  };
  for (const auto& c : cases) {
    uint64_t be = 5, le = 5;
    EXPECT_EQ(vk::read_varint(be, c.bytes.data(), c.bytes.size()), c.ok);
    EXPECT_EQ(vk::read_varint_iter(le, c.bytes.data(), c.bytes.size()), c.ok);
    EXPECT_EQ(be, c.be);
    EXPECT_EQ(le, c.le);
  }
  uint64_t out = 5;
  EXPECT_FALSE(vk::read_varint(out, nullptr, 4));
  EXPECT_EQ(out, 0u);

  std::vector<vk::time> times;
  std::vector<uint32_t> offsets;
  const uint8_t seven[7] = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_FALSE(vk::find_unix_times32(seven, 7, times, offsets));
  EXPECT_FALSE(vk::find_times64(seven, 7, times, offsets));
  EXPECT_FALSE(vk::find_times64(nullptr, 64, times, offsets));
  // A FILETIME in the last eight bytes is found too.
  uint8_t tail[12] = {};
  vk::store_le64(tail + 4, 0x01D9000000000000ull);
  ASSERT_TRUE(vk::find_times64(tail, 12, times, offsets));
  ASSERT_EQ(offsets, std::vector<uint32_t>{4});
  EXPECT_EQ(times[0].m_filetime, 0x01D9000000000000ull);
  uint8_t words[8] = {0, 0, 0, 0, 0x60, 0, 0, 0x60};
  ASSERT_TRUE(vk::find_unix_times32(words, 8, times, offsets));
  EXPECT_EQ(offsets, (std::vector<uint32_t>{1, 2, 3, 4}));
}
