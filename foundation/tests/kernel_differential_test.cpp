// The word-at-a-time and vector kernels of the foundation against plain
// loops, over every length to 100 at every alignment and each deciding value
// at each position (testing/kernel_inputs.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"
#include "kernel_inputs.h"

using namespace vk;
using vk::testing::byte_range;
using vk::testing::every_byte;
using vk::testing::for_each_kernel_input;

namespace {

std::string_view as_text(const uint8_t* p, size_t n) {
  return {reinterpret_cast<const char*>(p), n};
}

uint64_t plain_le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// A control character as a report marks it: C0 but the tab, DEL, and a C1
// control (0xC2 followed by 0x80 to 0x9F).
size_t plain_control_char(std::string_view t, size_t from) {
  for (size_t i = from; i < t.size(); ++i) {
    const auto c = static_cast<uint8_t>(t[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return i;
    if (c == 0xC2 && i + 1 < t.size() && static_cast<uint8_t>(t[i + 1]) >= 0x80 &&
        static_cast<uint8_t>(t[i + 1]) <= 0x9F)
      return i;
  }
  return std::string_view::npos;
}

void put_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE to the first zero unit or the last whole unit; a lone surrogate
// becomes U+FFFD. Returns the bytes of the units taken.
size_t plain_utf16(const uint8_t* p, size_t bytes, std::string& out) {
  out.clear();
  const size_t units = bytes / 2;
  auto unit = [&](size_t i) -> uint32_t { return p[2 * i] | (p[2 * i + 1] << 8); };
  size_t n = 0;
  while (n < units && unit(n) != 0) ++n;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = unit(i);
    const bool high = u >= 0xD800 && u <= 0xDBFF, low = u >= 0xDC00 && u <= 0xDFFF;
    if (high && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      put_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else {
      put_utf8(out, high || low ? 0xFFFD : u);
    }
  }
  return 2 * n;
}

TEST(KernelDifferential, BlockLoadsOnlyInsideTheView) {
  const uint8_t bytes[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  const byte_view v(bytes, 20);
  struct case_t {
    size_t off;
    bool held8, held16;
  } cases[] = {
      {0, true, true},    {4, true, true},    {5, true, false},   {12, true, false},
      {13, false, false}, {20, false, false}, {21, false, false}, {SIZE_MAX - 3, false, false}};
  for (const auto& c : cases) {
    uint64_t w = 0xAAAA;
    uint8_t block16[16] = {0xEE};
    EXPECT_EQ(c.held8, v.block(c.off, w)) << c.off;
    EXPECT_EQ(c.held16, v.block(c.off, block16)) << c.off;
    const uint64_t as_le = load_le64(reinterpret_cast<const uint8_t*>(&w));
    EXPECT_EQ(c.held8 ? plain_le64(bytes + c.off) : 0xAAAA, c.held8 ? as_le : w) << c.off;
    EXPECT_TRUE(c.held16 ? std::memcmp(block16, bytes + c.off, 16) == 0 : block16[0] == 0xEE);
  }
  uint64_t w = 0;
  EXPECT_FALSE(byte_view().block(0, w));
}

// ascii_run_end and find_control_char: the first byte of a class from any
// starting point; printable_ascii: no byte outside 0x20 to 0x7E.
TEST(KernelDifferential, ByteSearchesMatchPlainLoops) {
  const auto background = byte_range(0x20, 0x7E);
  for_each_kernel_input(1, background, every_byte(), [](const uint8_t* p, size_t n) {
    for (size_t from : {size_t{0}, size_t{1}, n / 3, n}) {
      size_t plain = from;
      while (plain < n && p[plain] < 0x80) ++plain;
      ASSERT_EQ(std::max(plain, from), ascii_run_end(p, from, n)) << n << " from " << from;
      ASSERT_EQ(plain_control_char(as_text(p, n), from), find_control_char(as_text(p, n), from))
          << n << " from " << from;
    }
    bool printable = true;
    for (size_t i = 0; i < n; ++i) printable = printable && p[i] >= 0x20 && p[i] <= 0x7E;
    ASSERT_EQ(printable, printable_ascii(as_text(p, n))) << n;
  });
  // A C1 control is decided by the byte after 0xC2 at every position.
  for_each_kernel_input(2, {0x4141}, {0x80C2, 0x9FC2, 0xA0C2, 0x7FC2, 0xC2C2, 0xC241},
                        [](const uint8_t* p, size_t n) {
                          ASSERT_EQ(plain_control_char(as_text(p, n), 0),
                                    find_control_char(as_text(p, n)));
                          ASSERT_EQ(plain_control_char(as_text(p + 1, n - (n > 0)), 0),
                                    find_control_char(as_text(p + 1, n - (n > 0))));
                        });
}

// The UTF-16 narrowing: ASCII blocks, the terminator anywhere in a block,
// any other unit, surrogates paired and lone, and an odd last byte.
TEST(KernelDifferential, Utf16NarrowingMatchesAPlainDecoder) {
  const std::vector<uint16_t> background = {'a', 'Z', '0', ' ', 0x7E, 0x01};
  const std::vector<uint16_t> deciding = {0,      0x7F,   0x80,   0xFF,   0x100,  0x17F,
                                          0x7FF,  0x800,  0x7F00, 0x8000, 0xD7FF, 0xD800,
                                          0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
  std::string got, want;
  auto check = [&](const uint8_t* p, size_t bytes) {
    for (size_t b : {bytes, bytes - (bytes > 0)}) {
      const size_t taken = plain_utf16(p, b, want);
      ASSERT_EQ(taken, utf16_to_utf8(p, b, got, false)) << bytes;
      ASSERT_EQ(want, got) << bytes;
    }
  };
  for_each_kernel_input(2, background, deciding, check);
  // Pairs: a high half before each deciding unit, at every position.
  std::vector<uint16_t> after_high = deciding;
  for_each_kernel_input(2, {0xD801, 'x'}, after_high, check, 7);
}

uint64_t plain_le(const uint8_t* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = width; i-- > 0;) v = (v << 8) | p[i];
  return v;
}

// The offsets from 0 by step at which a width-byte LE word equals value.
std::vector<uint64_t> plain_find(const uint8_t* p, size_t n, size_t width, size_t step,
                                 uint64_t value, bool first) {
  std::vector<uint64_t> at;
  for (size_t o = 0; o + width <= n; o += step)
    if (plain_le(p + o, width) == value) {
      at.push_back(o);
      if (first) break;
    }
  return at;
}

// The word scans over LE values: sums, strided finds of 2, 4 and 8 bytes
// (a stride that is no multiple of the width steps by the multiple below
// it), the 4-byte-stepped find, each to the first hit or to all.
TEST(KernelDifferential, WordScansMatchPlainLoops) {
  std::vector<uint64_t> got;
  for_each_kernel_input(1, {0}, {0x01, 0x80, 0xFF}, [&](const uint8_t* p, size_t n) {
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) sum += plain_le(p + i, 8);
    for (; i < n; ++i) sum += p[i];
    ASSERT_EQ(sum, sum_u64_words(p, n)) << n;

    for (size_t width : {2, 4, 8}) {
      for (size_t stride : {width, 2 * width, 2 * width + 1}) {
        const size_t step = stride / width * width;
        for (uint64_t value : {uint64_t{0}, n >= width ? plain_le(p + n - width, width) : 1}) {
          for (bool first : {false, true}) {
            if (width == 2 && first) continue;  // the 2-byte find takes every hit
            const std::vector<uint64_t> want = plain_find(p, n, width, step, value, first);
            got.clear();
            const bool found =
                width == 8 ? find_u64_strided(p, n, got, value, stride, first)
                : width == 4
                    ? find_u32_strided(p, n, got, static_cast<uint32_t>(value), stride, first)
                    : find_u16_strided(p, n, got, static_cast<uint16_t>(value), stride);
            ASSERT_EQ(!want.empty(), found) << n << " width " << width << " stride " << stride;
            ASSERT_EQ(want, got) << n << " width " << width << " stride " << stride;
          }
        }
      }
    }
    for (bool first : {false, true}) {
      const uint64_t value = n >= 8 ? plain_le(p + n - 8, 8) : 0;
      got.clear();
      find_u64_any4(p, n, got, value, first);
      ASSERT_EQ(plain_find(p, n, 8, 4, value, first), got) << n;
    }
  });
}

// The first non-zero word of each whole block (a block size below 512 reads
// as 512), or of the first block alone.
TEST(KernelDifferential, NonzeroBlockScanMatchesAPlainLoop) {
  for (size_t len : {511, 512, 1100, 1536}) {
    for (size_t nonzero : {SIZE_MAX, size_t{0}, size_t{7}, size_t{8}, size_t{511}, size_t{512},
                           size_t{1030}, size_t{1535}}) {
      std::unique_ptr<uint8_t[]> buffer(new uint8_t[len]());
      if (nonzero < len) buffer[nonzero] = 0x80;
      for (size_t block_size : {0, 512, 1024}) {
        for (bool first_only : {false, true}) {
          const size_t bs = std::max<size_t>(block_size, 512);
          std::vector<uint64_t> want;
          const size_t blocks = len < bs ? 0 : first_only ? 1 : len / bs;
          for (size_t b = 0; b < blocks; ++b)
            for (size_t off = 0; off + 8 <= bs; off += 8)
              if (plain_le(buffer.get() + b * bs + off, 8) != 0) {
                want.push_back(1000 + b * bs + off);
                break;
              }
          std::vector<uint64_t> got = {7};
          EXPECT_EQ(len >= bs,
                    find_nonzero_blocks(buffer.get(), len, got, block_size, first_only, 1000));
          EXPECT_EQ(want, got) << len << " at " << nonzero << " block " << block_size;
        }
      }
    }
  }
}

}  // namespace
