#include <gtest/gtest.h>
#include <sys/mman.h>

#include <map>
#include <random>

#include "byte_builder.h"
#include "foundation/vk_guid.h"

using namespace vk;
using vesk_test::byte_builder;

namespace {

std::vector<uint8_t> bytes_of(std::string_view s) {
  return {s.begin(), s.end()};
}

guid guid_with_first(uint8_t b0) {
  guid g;
  g.m_bytes[0] = b0;
  return g;
}

TEST(Guid, SetClearCopyAndCompare) {
  guid g;
  for (uint8_t b : g.m_bytes) EXPECT_EQ(b, 0);
  uint8_t src[16];
  for (int i = 0; i < 16; ++i) src[i] = static_cast<uint8_t>(i + 1);
  g.set(src);
  EXPECT_EQ(0, std::memcmp(g.m_bytes, src, 16));
  guid h;
  copy_guid(h, g);
  EXPECT_TRUE(guid_equals(g, h));
  EXPECT_FALSE(guid_differs(g, h));
  h.m_bytes[15] ^= 1;
  EXPECT_TRUE(guid_differs(g, h));
  g.set(nullptr);
  EXPECT_TRUE(guid_equals(g, guid()));
  h.clear();
  EXPECT_TRUE(guid_equals(h, guid()));
  static_assert(sizeof(guid) == 16);
}

TEST(Guid, OrdersByUnsignedBytesFromTheFirst) {
  const guid lo = guid_with_first(0x7F), hi = guid_with_first(0x80);
  EXPECT_TRUE(guid_less(lo, hi));
  EXPECT_FALSE(guid_less(hi, lo));
  EXPECT_FALSE(guid_less(lo, lo));
  guid a, b;
  a.m_bytes[0] = 1;
  b.m_bytes[15] = 0xFF;  // byte 0 decides before any later byte
  EXPECT_TRUE(guid_less(b, a));
  std::map<guid, int> m{{hi, 2}, {lo, 1}, {guid(), 0}};
  int expect = 0;
  for (const auto& kv : m) EXPECT_EQ(kv.second, expect++);
}

TEST(ByteBlocks, CompareAndClassify) {
  EXPECT_TRUE(bytes_equal({}, {}));
  EXPECT_TRUE(bytes_equal({1, 2}, {1, 2}));
  EXPECT_FALSE(bytes_equal({1, 2}, {1, 2, 3}));
  EXPECT_FALSE(bytes_less({1}, {1, 2}));  // a prefix is not less, either way
  EXPECT_FALSE(bytes_less({1, 2}, {1}));
  EXPECT_TRUE(bytes_less({1, 0x7F}, {1, 0x80}));
  EXPECT_FALSE(bytes_less({1, 0x80}, {1, 0x7F}));
  EXPECT_TRUE(bytes_are_text(bytes_of("a b\t\r\n~")));
  EXPECT_FALSE(bytes_are_text({}));
  EXPECT_FALSE(bytes_are_text({'a', 0x7F}));
  EXPECT_FALSE(bytes_are_text({'a', 0}));
}

TEST(ByteBlocks, NumbersFromBytes) {
  const uint8_t b[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(le_bytes_to_u64(b, 2), 0x0201u);
  EXPECT_EQ(le_bytes_to_u64(b, 9), 0x0807060504030201ull);
  EXPECT_EQ(le_bytes_to_u64(nullptr, 4), 0u);
  EXPECT_EQ(le_bytes_to_u64(b, 0), 0u);
  EXPECT_EQ(sum_u64_words(b, 10), 0x0807060504030201ull + 9 + 10);
  EXPECT_EQ(sum_u64_words(b, 3), 6u);
  EXPECT_EQ(sum_u64_words(nullptr, 3), 0u);
  const std::vector<uint8_t> ff(16, 0xFF);
  EXPECT_EQ(sum_u64_words(ff.data(), 16), 0xFFFFFFFFFFFFFFFEull);  // wraps

  uint32_t hi = 0, lo = 0;
  split_u64(0x1122334455667788ull, hi, lo);
  EXPECT_EQ(hi, 0x11223344u);
  EXPECT_EQ(lo, 0x55667788u);
  uint64_t out = 0;
  EXPECT_EQ(make_u64(hi, lo, out), 0x1122334455667788ull);
  EXPECT_EQ(out, 0x1122334455667788ull);
  EXPECT_TRUE(host_is_little_endian());
}

TEST(ByteBlocks, SizingAndAssigning) {
  std::vector<uint8_t> v{9, 9, 9};
  resize_zeroed(v, 5);
  EXPECT_EQ(v, std::vector<uint8_t>(5, 0));
  resize_zeroed_32(v);
  EXPECT_EQ(v.size(), 32u);
  resize_zeroed_20(v);
  EXPECT_EQ(v.size(), 20u);
  resize_zeroed_16(v);
  EXPECT_EQ(v, std::vector<uint8_t>(16, 0));
  const uint8_t src[] = {1, 2, 3};
  assign_bytes(v, src, 3);
  EXPECT_EQ(v, (std::vector<uint8_t>{1, 2, 3}));
  assign_bytes(v, nullptr, 2);
  EXPECT_EQ(v, (std::vector<uint8_t>{0, 0}));
  clear_byte_array(v);
  EXPECT_TRUE(v.empty());
}

TEST(PatternSearch, MatchesNeverOverlapInEitherMode) {
  const auto buf = bytes_of("aaaa");
  const auto pat = bytes_of("aa");
  std::vector<uint64_t> offs{77};
  for (bool skip : {false, true}) {
    EXPECT_TRUE(find_pattern_offsets(buf.data(), 4, pat.data(), 2, offs, 0, skip, false));
    EXPECT_EQ(offs, (std::vector<uint64_t>{0, 2})) << skip;
    EXPECT_TRUE(find_pattern_offsets(buf.data(), 4, pat.data(), 2, offs, 0, skip, true));
    EXPECT_EQ(offs, (std::vector<uint64_t>{0})) << skip;
  }
  EXPECT_TRUE(find_pattern_offsets(buf.data(), 4, pat.data(), 2, offs, 0x1000));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0x1000, 0x1002}));
}

TEST(PatternSearch, PlainAndSkipTableAgree) {
  std::mt19937 rng(105);
  for (int i = 0; i < 500; ++i) {
    // A small alphabet makes partial matches common.
    std::vector<uint8_t> buf(rng() % 200), pat(1 + rng() % 5);
    for (auto& b : buf) b = static_cast<uint8_t>('a' + rng() % 3);
    for (auto& b : pat) b = static_cast<uint8_t>('a' + rng() % 3);
    std::vector<uint64_t> plain, skip;
    find_pattern_offsets(buf.data(), buf.size(), pat.data(), pat.size(), plain, 0, false, false);
    find_pattern_offsets(buf.data(), buf.size(), pat.data(), pat.size(), skip, 0, true, false);
    // Both modes resume after a match; each hit is a real match.
    ASSERT_EQ(plain, skip);
    for (uint64_t o : plain) ASSERT_EQ(0, std::memcmp(buf.data() + o, pat.data(), pat.size()));
    std::vector<uint32_t> o32;
    find_all_bytes(buf.data(), buf.size(), pat.data(), pat.size(), o32, false, false);
    ASSERT_EQ(o32.size(), plain.size());
  }
}

TEST(PatternSearch, BoundsAndSingleHits) {
  const auto buf = bytes_of("xyzLNK");
  std::vector<uint64_t> offs;
  const auto whole = bytes_of("xyzLNK");
  EXPECT_TRUE(find_pattern_offsets(buf.data(), 6, whole.data(), 6, offs));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0}));
  const auto longer = bytes_of("xyzLNK!");
  EXPECT_FALSE(find_pattern_offsets(buf.data(), 6, longer.data(), 7, offs));
  EXPECT_TRUE(offs.empty());
  EXPECT_FALSE(find_pattern_offsets(nullptr, 6, whole.data(), 6, offs));
  EXPECT_FALSE(find_pattern_offsets(buf.data(), 6, whole.data(), 0, offs));

  uint64_t at = 99;
  const auto lnk = bytes_of("LNK");
  EXPECT_TRUE(find_pattern_offset(buf.data(), 6, lnk.data(), 3, at));
  EXPECT_EQ(at, 3u);
  EXPECT_TRUE(find_pattern_offset(buf.data(), 6, lnk.data(), 3, at, true));
  EXPECT_EQ(at, 3u);
  const auto none = bytes_of("QQ");
  EXPECT_FALSE(find_pattern_offset(buf.data(), 6, none.data(), 2, at));
  EXPECT_EQ(at, 0u);
}

// 32-bit offsets cannot express a position past 0xFFFFFFFF: such matches are
// left out instead of being recorded with a wrapped offset.
TEST(PatternSearch, ThirtyTwoBitOffsetsStopAtTheirRange) {
  const size_t len = 0x100000020ull;
  void* mem = mmap(nullptr, len, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mem == MAP_FAILED) GTEST_SKIP() << "no room for a buffer above 4 GiB";
  auto* buf = static_cast<uint8_t*>(mem);
  const uint8_t pat[] = {0xAB, 0xCD};
  for (size_t at : {size_t{16}, size_t{0xFFFFFFFFu}, size_t{0x100000010ull}})
    std::memcpy(buf + at, pat, 2);
  std::vector<uint32_t> offs;
  EXPECT_TRUE(find_all_bytes(buf, len, pat, 2, offs, false, false));
  EXPECT_EQ(offs, (std::vector<uint32_t>{16, 0xFFFFFFFFu}));
  std::vector<uint64_t> wide;
  EXPECT_TRUE(find_pattern_offsets(buf, len, pat, 2, wide));
  EXPECT_EQ(wide, (std::vector<uint64_t>{16, 0xFFFFFFFFull, 0x100000010ull}));
  munmap(mem, len);
}

TEST(PatternSearch, LastPatternInsideTheWindow) {
  const auto buf = bytes_of("ab--ab--ab");
  const auto pat = bytes_of("ab");
  uint64_t at = 0;
  EXPECT_TRUE(find_last_pattern(buf.data(), 10, pat.data(), 2, 2, at));  // ends the buffer
  EXPECT_EQ(at, 8u);
  EXPECT_FALSE(find_last_pattern(buf.data(), 9, pat.data(), 2, 3, at));  // "b--a" holds none
  EXPECT_EQ(at, 0u);
  EXPECT_TRUE(find_last_pattern(buf.data(), 9, pat.data(), 2, 6, at));
  EXPECT_EQ(at, 4u);
  // A window wider than the buffer scans down to position 0, never before it.
  EXPECT_TRUE(find_last_pattern(buf.data() + 4, 3, pat.data(), 2, 1000, at));
  EXPECT_EQ(at, 0u);
  EXPECT_FALSE(find_last_pattern(buf.data(), 10, pat.data(), 2, 0, at));
  EXPECT_FALSE(find_last_pattern(buf.data(), 1, pat.data(), 2, 5, at));
}

TEST(PatternSearch, AlignedPositionsAndBadAlignments) {
  // EF BE at 1, 4, 8 and at the very end (14).
  auto buf = byte_builder()
                 .bytes({0, 0xEF, 0xBE, 0, 0xEF, 0xBE, 0, 0, 0xEF, 0xBE, 0, 0, 0, 0, 0xEF, 0xBE})
                 .take();
  const uint8_t sig[] = {0xEF, 0xBE};
  std::vector<uint64_t> offs{5};  // not cleared
  EXPECT_TRUE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 0, 1, false));
  EXPECT_EQ(offs, (std::vector<uint64_t>{5, 1, 4, 8, 14}));
  offs.clear();
  EXPECT_TRUE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 0, 1, true));
  EXPECT_EQ(offs, (std::vector<uint64_t>{1}));
  offs.clear();
  EXPECT_TRUE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 0, 4, false));
  EXPECT_EQ(offs, (std::vector<uint64_t>{4, 8}));
  offs.clear();
  // Window 2 of each 4-byte block: positions 0,1,4,5,8,9,12,13.
  EXPECT_TRUE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 2, 4, false));
  EXPECT_EQ(offs, (std::vector<uint64_t>{1, 4, 8}));
  offs.clear();
  EXPECT_TRUE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 0, 2, false));
  EXPECT_EQ(offs, (std::vector<uint64_t>{4, 8, 14}));  // ends exactly at the end

  offs.clear();
  EXPECT_FALSE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 0, 0, false));
  EXPECT_FALSE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 0, 3, false));
  EXPECT_FALSE(find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 8, 4, false));
  EXPECT_TRUE(offs.empty());

  std::vector<uint32_t> idx;
  const std::vector<std::vector<uint8_t>> pats{{}, {0xBE, 0}, {0xEF, 0xBE}, {0xEF}};
  EXPECT_TRUE(find_patterns_aligned(buf.data(), buf.size(), offs, idx, pats, 0, 1, false));
  EXPECT_EQ(offs, (std::vector<uint64_t>{1, 2, 4, 5, 8, 9, 14}));
  EXPECT_EQ(idx, (std::vector<uint32_t>{2, 1, 2, 1, 2, 1, 2}));
  EXPECT_TRUE(find_patterns_aligned(buf.data(), buf.size(), offs, idx, pats, 0, 1, true));
  EXPECT_EQ(idx, (std::vector<uint32_t>{2}));
  EXPECT_FALSE(find_patterns_aligned(buf.data(), buf.size(), offs, idx, pats, 0, 6, false));
  EXPECT_TRUE(idx.empty() && offs.empty());
}

TEST(NumberSearch, StridedAndAnyFour) {
  auto buf = byte_builder()
                 .u64(7)
                 .u64(0x1122334455667788ull)
                 .u64(7)
                 .u32(0xAABBCCDD)
                 .u32(7)
                 .u16(7)
                 .take();  // 34 bytes
  std::vector<uint64_t> offs;
  EXPECT_TRUE(find_u64_strided(buf.data(), buf.size(), offs, 7, 8));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0, 16}));
  offs.clear();
  EXPECT_TRUE(find_u64_strided(buf.data(), buf.size(), offs, 7, 16, true));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0}));
  offs.clear();
  EXPECT_FALSE(find_u64_strided(buf.data(), 7, offs, 7, 8));
  EXPECT_FALSE(find_u64_strided(buf.data(), buf.size(), offs, 7, 4));
  EXPECT_TRUE(find_u32_strided(buf.data(), buf.size(), offs, 7, 4));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0, 16, 28}));
  offs.clear();
  EXPECT_TRUE(find_u32_strided(buf.data(), buf.size(), offs, 0xAABBCCDD, 12));
  EXPECT_EQ(offs, (std::vector<uint64_t>{24}));
  offs.clear();
  EXPECT_TRUE(find_u16_strided(buf.data(), buf.size(), offs, 7, 2));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0, 16, 28, 32}));
  offs.clear();
  EXPECT_FALSE(find_u16_strided(buf.data(), buf.size(), offs, 7, 1));
  EXPECT_TRUE(find_u64_any4(buf.data(), buf.size(), offs, 0x1122334455667788ull));
  EXPECT_EQ(offs, (std::vector<uint64_t>{8}));
  offs.clear();
  EXPECT_FALSE(find_u64_any4(buf.data(), 3, offs, 0));
  EXPECT_FALSE(find_u64_any4(buf.data() + 2, 8, offs, 0x1122334455667788ull));  // not 4-aligned
}

TEST(NumberSearch, NonZeroBlocks) {
  std::vector<uint8_t> buf(512 * 3 + 100, 0);
  buf[8 * 3] = 1;          // block 0, word 3
  buf[512 * 2 + 511] = 1;  // block 2, last word
  buf[512 * 3 + 10] = 1;   // partial block: ignored
  std::vector<uint64_t> offs{1};
  EXPECT_TRUE(find_nonzero_blocks(buf.data(), buf.size(), offs, 16, false, 0x10000));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0x10000 + 24, 0x10000 + 1024 + 504}));
  EXPECT_TRUE(find_nonzero_blocks(buf.data(), buf.size(), offs, 512, true, 0));
  EXPECT_EQ(offs, (std::vector<uint64_t>{24}));
  EXPECT_TRUE(find_nonzero_blocks(buf.data(), buf.size(), offs, 1024, false, 0));
  EXPECT_EQ(offs, (std::vector<uint64_t>{24}));
  EXPECT_FALSE(find_nonzero_blocks(buf.data(), 511, offs, 0, false, 0));
  EXPECT_FALSE(find_nonzero_blocks(nullptr, 4096, offs, 512, false, 0));
}

TEST(TextRuns, Utf16RunsResynchroniseAfterAnOddByte) {
  std::vector<std::string> texts{"old"};
  std::vector<uint64_t> offs{9};
  auto ab = byte_builder().utf16(u"ab").take();
  EXPECT_TRUE(extract_utf16_strings(ab.data(), ab.size(), 2, texts, offs));
  EXPECT_EQ(texts, (std::vector<std::string>{"ab"}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0}));

  auto odd = byte_builder().u8(0xFF).utf16(u"ab").take();
  EXPECT_TRUE(extract_utf16_strings(odd.data(), odd.size(), 2, texts, offs));
  EXPECT_EQ(texts, (std::vector<std::string>{"ab"}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{1}));

  // Leading blanks are dropped, short runs are not kept, a run ended by a
  // non-text unit is flushed with its own start.
  auto mixed =
      byte_builder().utf16(u"  hello").u16(0x4E2D).utf16(u"x").u16(0).utf16(u"world").take();
  EXPECT_TRUE(extract_utf16_strings(mixed.data(), mixed.size(), 3, texts, offs));
  EXPECT_EQ(texts, (std::vector<std::string>{"hello", "world"}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{4, 20}));

  auto punct = byte_builder().utf16(u"\\:-name\tx").take();
  EXPECT_TRUE(extract_utf16_strings(punct.data(), punct.size(), 2, texts, offs, false, true));
  EXPECT_EQ(texts, (std::vector<std::string>{"name"}));  // "x" is too short
  EXPECT_EQ(offs, (std::vector<uint64_t>{6}));
  EXPECT_TRUE(extract_utf16_strings(punct.data(), punct.size(), 2, texts, offs, true, false));
  EXPECT_EQ(texts, (std::vector<std::string>{"\\:-name\tx"}));

  EXPECT_FALSE(extract_utf16_strings(ab.data(), 0, 2, texts, offs));
  EXPECT_TRUE(texts.empty() && offs.empty());
  EXPECT_TRUE(extract_utf16_strings(ab.data(), 1, 0, texts, offs));
  EXPECT_TRUE(texts.empty());  // a minimum of 0 never yields empty runs
}

TEST(TextRuns, MinimumZeroRecordsNoEmptyRuns) {
  std::vector<std::string> texts;
  std::vector<uint64_t> offs;
  // Every non-text unit or byte ends a run; with no minimum only real runs count.
  auto wide = byte_builder().bytes({0xFF, 0xFE, 1, 2}).utf16(u"a").bytes({3, 4, 5}).take();
  EXPECT_TRUE(extract_utf16_strings(wide.data(), wide.size(), 0, texts, offs));
  EXPECT_EQ(texts, (std::vector<std::string>{"a"}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{4}));
  const auto narrow = bytes_of(
      "\x01\x02"
      "ab\x03");
  EXPECT_TRUE(extract_ascii_strings(narrow.data(), narrow.size(), 0, texts, offs));
  EXPECT_EQ(texts, (std::vector<std::string>{"ab"}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{2}));
}

TEST(TextRuns, AsciiRunsNeedSubstanceInTheMiddle) {
  std::vector<std::string> texts;
  std::vector<uint64_t> offs;
  using namespace std::string_view_literals;
  const auto buf = bytes_of("abc\0\r\n\r\n\0  ,defg\x80\r\n\n"sv);
  ASSERT_EQ(buf.size(), 20u);
  EXPECT_TRUE(extract_ascii_strings(buf.data(), buf.size(), 3, texts, offs, true, false));
  // The CR/LF-only run is dropped in the middle but kept at the end.
  EXPECT_EQ(texts, (std::vector<std::string>{"abc", ",defg", "\r\n\n"}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0, 11, 17}));
  EXPECT_TRUE(extract_ascii_strings(buf.data(), buf.size(), 3, texts, offs, false, true));
  EXPECT_EQ(texts, (std::vector<std::string>{"abc", "defg"}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{0, 12}));
  EXPECT_FALSE(extract_ascii_strings(nullptr, 5, 1, texts, offs));
}

TEST(ByteSearchRobustness, RandomAndTruncatedBuffers) {
  std::mt19937 rng(1105);
  const std::vector<std::vector<uint8_t>> pats{{0x4C, 0, 0, 0}, {0xEF, 0xBE}, {0}};
  for (int i = 0; i < 300; ++i) {
    auto full = vesk_test::random_bytes(rng() % 2048, rng);
    if (i % 3 == 0)
      for (auto& b : full) b = static_cast<uint8_t>(b & 0x81);  // many zeros and repeats
    for (size_t len : {full.size(), full.size() / 2, size_t{1}, size_t{0}}) {
      // Copy to an exact-size heap buffer so the sanitizer sees any overrun.
      std::vector<uint8_t> b(full.begin(), full.begin() + std::min(len, full.size()));
      const uint8_t* p = b.empty() ? nullptr : b.data();
      std::vector<uint64_t> o64;
      std::vector<uint32_t> o32, idx;
      uint64_t at;
      for (const auto& pat : pats) {
        find_pattern_offsets(p, b.size(), pat.data(), pat.size(), o64, 0, i & 1, false);
        find_pattern_offset(p, b.size(), pat.data(), pat.size(), at, i & 1);
        find_all_bytes(p, b.size(), pat.data(), pat.size(), o32, true, false);
        find_last_pattern(p, b.size(), pat.data(), pat.size(), rng() % 4096, at);
        find_pattern_aligned(p, b.size(), o64, pat.data(), pat.size(), rng() % 9, 1u << (rng() % 4),
                             false);
      }
      find_patterns_aligned(p, b.size(), o64, idx, pats, rng() % 5, 4, false);
      find_u64_strided(p, b.size(), o64, 0, rng() % 40, false);
      find_u32_strided(p, b.size(), o64, 0, rng() % 40, false);
      find_u16_strided(p, b.size(), o64, 0, rng() % 40);
      find_u64_any4(p, b.size(), o64, 0, false);
      find_nonzero_blocks(p, b.size(), o64, rng() % 1100, false, 0);
      std::vector<std::string> texts;
      extract_utf16_strings(p, b.size(), rng() % 4, texts, o64, i & 1, i & 2);
      for (size_t k = 0; k < texts.size(); ++k) ASSERT_LE(o64[k] + 2 * texts[k].size(), b.size());
      extract_ascii_strings(p, b.size(), rng() % 4, texts, o64, i & 1, i & 2);
      for (size_t k = 0; k < texts.size(); ++k) ASSERT_LE(o64[k] + texts[k].size(), b.size());
      le_bytes_to_u64(p, b.size());
      sum_u64_words(p, b.size());
    }
  }
}

}  // namespace
