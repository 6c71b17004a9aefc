#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "foundation/vk_unicode.h"

using namespace vk;
using vesk_test::byte_builder;

namespace {

std::string bytes(std::initializer_list<uint8_t> b) {
  return std::string(b.begin(), b.end());
}

std::vector<uint8_t> units_le(std::initializer_list<uint16_t> units) {
  byte_builder b;
  for (uint16_t u : units) b.u16(u);
  return b.take();
}

// Well-formed UTF-8 as RFC 3629 defines it: no stray or cut sequence, no
// overlong form, no surrogate, nothing above U+10FFFF.
bool well_formed_utf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    const size_t n = b < 0x80                 ? 1
                     : b >= 0xC2 && b <= 0xDF ? 2
                     : b >= 0xE0 && b <= 0xEF ? 3
                     : b >= 0xF0 && b <= 0xF4 ? 4
                                              : 0;
    if (n == 0 || s.size() - i < n) return false;
    uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    static constexpr uint32_t k_least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < k_least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += n;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// UTF-16 text inside parsed structures
// ---------------------------------------------------------------------------

// ASCII texts of every length about the converter's blocks and buffer, ended
// by the bytes' end, by a zero unit (wider or more units behind it), or by a
// wider unit of their own, each in a buffer of exactly its size.
TEST(Utf16Decode, AsciiTextsAtEveryLength) {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
  for (size_t n = 236; n <= 280; ++n) lengths.push_back(n);
  for (size_t n = 496; n <= 530; ++n) lengths.push_back(n);
  for (size_t n : lengths) {
    for (int end = 0; end < 4; ++end) {
      std::vector<uint8_t> bytes;
      std::string text;
      auto unit = [&](uint16_t u) {
        bytes.push_back(static_cast<uint8_t>(u));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
      };
      for (size_t i = 0; i < n; ++i) {
        text += static_cast<char>(' ' + (i * 7) % 95);
        unit(static_cast<uint8_t>(text.back()));
      }
      uint32_t used = static_cast<uint32_t>(2 * n);
      if (end == 1 || end == 2) {
        unit(0);
        used += n ? 2 : 0;  // an empty text takes nothing
        for (int i = 0; i < (end == 1 ? 3 : 30); ++i) unit(end == 1 ? 0x20AC : 'x');
      } else if (end == 3) {
        unit(0xE9);
        text += "\xC3\xA9";
        used += 2;
      }
      std::string out = "old";
      EXPECT_EQ(utf16_to_utf8(bytes.data(), bytes.size(), out), used) << n << " " << end;
      EXPECT_EQ(out, text) << n << " " << end;
    }
  }
}

// Pairs join; a surrogate that is half of no pair is U+FFFD and leaves the
// pairs around it joined. Expected bytes: Python's UTF-16-LE decoder with
// errors="replace", encoded as UTF-8.
TEST(Utf16Decode, PairsJoinAndLoneSurrogatesBecomeReplacementCharacters) {
  const std::string ascii20 = "abcdefghijklmnopqrst";
  std::vector<uint16_t> long_units;
  for (char c : ascii20) long_units.push_back(static_cast<uint16_t>(c));
  long_units.insert(long_units.end(), {0xD83D, 0x0041, 0xDE00, 0x0042});
  for (int i = 0; i < 4; ++i) long_units.push_back(static_cast<uint16_t>('w' + i));
  long_units.insert(long_units.end(), {0xD83D, 0xDE00});  // a pair across a block of eight
  const struct {
    std::vector<uint16_t> units;
    std::string utf8;
  } cases[] = {
      {{0x0041, 0xD83D, 0xDE00}, bytes({0x41, 0xF0, 0x9F, 0x98, 0x80})},
      {{0xD83D, 0x0041}, bytes({0xEF, 0xBF, 0xBD, 0x41})},
      {{0xD83D, 0xDE00, 0xD800, 0x0042}, bytes({0xF0, 0x9F, 0x98, 0x80, 0xEF, 0xBF, 0xBD, 0x42})},
      {{0x0061, 0xD83D}, bytes({0x61, 0xEF, 0xBF, 0xBD})},
      {{0xDE00, 0xD83D, 0xDE00}, bytes({0xEF, 0xBF, 0xBD, 0xF0, 0x9F, 0x98, 0x80})},
      {{0xDC00, 0xD800}, bytes({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD})},
      {{0xD800, 0xD800, 0xDC00}, bytes({0xEF, 0xBF, 0xBD, 0xF0, 0x90, 0x80, 0x80})},
      {{0x20AC, 0xDBFF, 0xDFFF, 0xDFFF, 0x00E9},
       bytes({0xE2, 0x82, 0xAC, 0xF4, 0x8F, 0xBF, 0xBF, 0xEF, 0xBF, 0xBD, 0xC3, 0xA9})},
      {long_units, ascii20 + bytes({0xEF, 0xBF, 0xBD, 0x41, 0xEF, 0xBF, 0xBD, 0x42}) + "wxyz" +
                       bytes({0xF0, 0x9F, 0x98, 0x80})},
  };
  for (const auto& c : cases) {
    byte_builder b;
    for (uint16_t u : c.units) b.u16(u);
    const std::vector<uint8_t> exact = b.take();
    std::string out;
    EXPECT_EQ(utf16_to_utf8(exact.data(), exact.size(), out), exact.size());
    EXPECT_EQ(out, c.utf8);
    // A high surrogate last before the terminator stays lone.
    std::vector<uint8_t> ended = exact;
    ended.insert(ended.end(), {0, 0, 0x00, 0xDC});
    EXPECT_EQ(utf16_to_utf8(ended.data(), ended.size(), out), exact.size() + 2);
    EXPECT_EQ(out, c.utf8);
    // The forms with a 32-bit length, the unknown length among them, over
    // aligned units.
    std::vector<uint16_t> aligned = c.units;
    const auto length = static_cast<int32_t>(exact.size());
    EXPECT_EQ(utf16_to_utf8(aligned.data(), out, length, true), exact.size());
    EXPECT_EQ(out, c.utf8);
    aligned.push_back(0);
    EXPECT_EQ(utf16_to_utf8(aligned.data()), c.utf8);
    // The wide form holds the same code points.
    std::wstring wide;
    EXPECT_EQ(utf16_to_wide(exact.data(), exact.size(), wide), exact.size());
    EXPECT_EQ(to_utf8(wide), c.utf8);
  }
}

TEST(Utf16Decode, TerminatorCountedOnlyWhenFoundInsideLength) {
  auto ab = byte_builder().utf16(u"ab", true).pad_to(10, 0xEE).take();
  const auto* units = reinterpret_cast<const uint16_t*>(ab.data());
  std::string out;
  EXPECT_EQ(utf16_to_utf8(units, out, 10, true), 6u);
  EXPECT_EQ(out, "ab");
  EXPECT_EQ(utf16_to_utf8(units, out, 10, false), 4u);
  // The terminator lies just past the stated length: not counted.
  EXPECT_EQ(utf16_to_utf8(units, out, 4, true), 4u);
  EXPECT_EQ(utf16_to_utf8(units, out, 5, true), 4u);
  EXPECT_EQ(utf16_to_utf8(units, out, 6, true), 6u);

  // Zero unit first: nothing, even with the terminator asked for.
  auto empty = units_le({0, 0x41});
  EXPECT_EQ(utf16_to_utf8(empty.data(), empty.size(), out, true), 0u);
  EXPECT_EQ(out, "");

  // Length -1 never counts the terminator.
  EXPECT_EQ(utf16_to_utf8(units, out, -1, true), 4u);
  EXPECT_EQ(utf16_to_utf8(units), "ab");
  std::string ref = "junk";
  EXPECT_EQ(&utf16_to_utf8(units, ref), &ref);
  EXPECT_EQ(ref, "ab");
}

TEST(Utf16Decode, UnitLimitFromLength) {
  auto abcd = byte_builder().utf16(u"abcd").take();
  const auto* units = reinterpret_cast<const uint16_t*>(abcd.data());
  std::string out;
  // An odd length ignores its last byte.
  EXPECT_EQ(utf16_to_utf8(units, out, 7, true), 6u);
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(utf16_to_utf8(abcd.data(), 7, out), 6u);
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(utf16_to_utf8(units, out, 1, true), 0u);
  EXPECT_EQ(out, "");
  EXPECT_EQ(utf16_to_utf8(units, out, -2, true), 0u);
  EXPECT_EQ(utf16_to_utf8(units, out, 0, true), 0u);
  EXPECT_EQ(utf16_to_utf8(nullptr, 100, out), 0u);
  EXPECT_EQ(out, "");
  std::wstring wide;
  EXPECT_EQ(utf16_to_wide(units, wide, 7), 6u);
  EXPECT_EQ(wide, L"abc");

  // Length -1 stops after 500 units even without a terminator.
  std::vector<uint16_t> long_text(600, u'x');
  EXPECT_EQ(utf16_to_utf8(long_text.data(), out, -1, true), 1000u);
  EXPECT_EQ(out, std::string(500, 'x'));
  EXPECT_EQ(utf16_to_wide(long_text.data(), wide, -1), 1000u);
  EXPECT_EQ(wide.size(), 500u);
}

TEST(Utf16Decode, BoundedFormReadsUnalignedAndNeverPastTheEnd) {
  // The text starts at an odd offset, as it does inside packed structures.
  auto buf = byte_builder().u8(0x99).utf16(u"hi").take();
  std::string out;
  EXPECT_EQ(utf16_to_utf8(buf.data() + 1, buf.size() - 1, out), 4u);
  EXPECT_EQ(out, "hi");
  EXPECT_EQ(utf16_to_utf8(buf.data() + 1, buf.size() - 1), "hi");

  // An exact-size heap copy without a terminator: ASan reports any overread.
  std::vector<uint8_t> exact(buf.begin() + 1, buf.end());
  std::vector<uint8_t> heap(exact);
  EXPECT_EQ(utf16_to_utf8(heap.data(), heap.size(), out, true), 4u);
}

TEST(GuidText, StoredOrderAndNullPointer) {
  guid g;
  uint8_t stored[16];
  for (int i = 0; i < 16; ++i) stored[i] = static_cast<uint8_t>(i);
  g.set(stored);
  EXPECT_EQ(guid_to_string(g), "03020100-0504-0706-0809-0a0b0c0d0e0f");

  uint8_t high[16];
  for (int i = 0; i < 16; ++i) high[i] = static_cast<uint8_t>(0xF0 + i);
  g.set(high);
  EXPECT_EQ(guid_to_string(g), "f3f2f1f0-f5f4-f7f6-f8f9-fafbfcfdfeff");

  std::string out = "stale";
  EXPECT_FALSE(guid_to_string(out, nullptr));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(guid_to_string(out, &g));
  EXPECT_EQ(out.size(), 36u);
  EXPECT_EQ(guid_to_string(guid()), "00000000-0000-0000-0000-000000000000");
  append_guid_text(out, guid());  // appends, keeping what was there
  EXPECT_EQ(out, "f3f2f1f0-f5f4-f7f6-f8f9-fafbfcfdfeff00000000-0000-0000-0000-000000000000");
}

// ---------------------------------------------------------------------------
// Converters
// ---------------------------------------------------------------------------

TEST(Utf8Decode, StrictStructureButNoRangeChecks) {
  EXPECT_EQ(from_utf8(bytes({0xC3, 0xA9})), std::wstring(1, wchar_t(0xE9)));
  EXPECT_EQ(from_utf8(bytes({0xC3})), L"");                                // cut sequence
  EXPECT_EQ(from_utf8(bytes({0xC0, 0x80})), std::wstring(1, wchar_t(0)));  // overlong passes
  EXPECT_EQ(from_utf8(bytes({0xED, 0xA0, 0xBD})), std::wstring(1, wchar_t(0xD83D)));
  EXPECT_EQ(from_utf8(bytes({0xF0, 0x9F, 0x98, 0x80})), std::wstring(1, wchar_t(0x1F600)));
  EXPECT_EQ(from_utf8(bytes({0xF7, 0xBF, 0xBF, 0xBF})), std::wstring(1, wchar_t(0x1FFFFF)));
  EXPECT_EQ(from_utf8(bytes({0x80})), L"");
  EXPECT_EQ(from_utf8(bytes({0xF8, 0x80, 0x80, 0x80, 0x80})), L"");
  EXPECT_EQ(from_utf8(bytes({0xE2, 0x28, 0xA1})), L"");  // bad continuation
  EXPECT_EQ(from_utf8(""), L"");

  std::wstring partial;
  EXPECT_FALSE(utf8_decode_to_wide(bytes({'a', 'b', 0xE2, 0x82}), partial));
  EXPECT_EQ(partial, L"ab");
  EXPECT_FALSE(utf8_to_wide("", partial));
  std::vector<uint32_t> cps;
  EXPECT_TRUE(utf8_to_code_points(bytes({'a', 0xC3, 0xA9}), cps));
  EXPECT_EQ(cps, (std::vector<uint32_t>{'a', 0xE9}));

  EXPECT_EQ(utf8_char_count(bytes({'a', 0xC3, 0xA9})), 2u);
  EXPECT_EQ(utf8_char_count(bytes({0x80})), 0u);
  EXPECT_EQ(utf8_char_count(bytes({'a', 'b', 0xF0, 0x9F})), 0u);
  EXPECT_EQ(utf8_char_count(""), 0u);
}

TEST(Utf8Encode, AllWidthsAndStopAboveRange) {
  EXPECT_EQ(to_utf8(std::wstring(1, wchar_t(0x1F600))), bytes({0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(to_utf8(std::wstring(
                {L'A', wchar_t(0x7FF), wchar_t(0x800), wchar_t(0xFFFF), wchar_t(0x10FFFF)})),
            bytes({0x41, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF, 0xF4, 0x8F, 0xBF, 0xBF}));
  EXPECT_EQ(to_utf8(std::wstring(1, wchar_t(0xDC00))), bytes({0xED, 0xB0, 0x80}));
  // Above the range: stops, keeping what came before.
  EXPECT_EQ(to_utf8(std::wstring({L'a', wchar_t(0x110000), L'b'})), "a");
  EXPECT_EQ(to_utf8(std::wstring({L'a', wchar_t(-1), L'b'})), "a");
  std::string out;
  EXPECT_FALSE(wide_to_utf8(std::wstring({L'a', wchar_t(0x110000)}), out));
  EXPECT_EQ(out, "a");
  EXPECT_FALSE(wide_to_utf8(L"", out));
  EXPECT_FALSE(code_points_to_utf8({}, out));
  EXPECT_TRUE(code_points_to_utf8({0xE9}, out));
  EXPECT_EQ(out, bytes({0xC3, 0xA9}));
  EXPECT_EQ(to_utf8(L""), "");
}

TEST(Utf16leBytes, PairsLoneSurrogatesAndLengths) {
  std::string out;
  auto pair = units_le({0xD83D, 0xDE00});
  EXPECT_TRUE(utf16le_bytes_to_utf8(pair.data(), 4, out));
  EXPECT_EQ(out, bytes({0xF0, 0x9F, 0x98, 0x80}));
  auto high = units_le({0xD83D});
  EXPECT_FALSE(utf16le_bytes_to_utf8(high.data(), 2, out));
  auto high_bad = units_le({0xD83D, 0x0041});
  EXPECT_FALSE(utf16le_bytes_to_utf8(high_bad.data(), 4, out));
  auto low = units_le({0xDE00});
  EXPECT_TRUE(utf16le_bytes_to_utf8(low.data(), 2, out));
  EXPECT_EQ(out, bytes({0xED, 0xB8, 0x80}));
  // A zero unit does not end the text.
  auto zero = units_le({0x61, 0, 0x62});
  EXPECT_TRUE(utf16le_bytes_to_utf8(zero.data(), 6, out));
  EXPECT_EQ(out, std::string("a\0b", 3));
  // Odd length: the last byte is ignored.
  EXPECT_TRUE(utf16le_bytes_to_utf8(zero.data(), 5, out));
  EXPECT_EQ(out, std::string("a\0", 2));

  out = "keep";
  EXPECT_FALSE(utf16le_bytes_to_utf8(pair.data(), 1, out));
  EXPECT_EQ(out, "keep");
  EXPECT_FALSE(utf16le_bytes_to_utf8(pair.data(), 0, out));
  EXPECT_EQ(out, "keep");
  EXPECT_FALSE(utf16le_bytes_to_utf8(nullptr, 4, out));
  EXPECT_TRUE(utf16le_bytes_to_utf8(pair.data(), -4, out));
  EXPECT_EQ(out, "");

  EXPECT_TRUE(utf16le_string_to_utf8(std::string("a\0b\0", 4), out));
  EXPECT_EQ(out, "ab");
  EXPECT_FALSE(utf16le_string_to_utf8(std::string("a", 1), out));
}

TEST(Utf16Encode, UnitsPairsAndRejects) {
  std::vector<uint16_t> units;
  EXPECT_TRUE(utf8_to_utf16_vector(bytes({0xEE, 0x80, 0x80}), units));
  EXPECT_EQ(units, (std::vector<uint16_t>{0xE000}));
  EXPECT_TRUE(utf8_to_utf16_vector(bytes({0xF0, 0x90, 0x80, 0x80}), units));
  EXPECT_EQ(units, (std::vector<uint16_t>{0xD800, 0xDC00}));
  EXPECT_TRUE(code_points_to_utf16({0x10FFFF}, units));
  EXPECT_EQ(units, (std::vector<uint16_t>{0xDBFF, 0xDFFF}));
  EXPECT_FALSE(code_points_to_utf16({0xD800}, units));
  EXPECT_FALSE(code_points_to_utf16({0x110000}, units));
  EXPECT_FALSE(code_points_to_utf16({}, units));
  EXPECT_FALSE(utf8_to_utf16_vector(bytes({0x80}), units));

  std::vector<uint32_t> cps;
  EXPECT_TRUE(utf16_to_code_points({0x41, 0xD83D, 0xDE00, 0xDC00}, cps));
  EXPECT_EQ(cps, (std::vector<uint32_t>{0x41, 0x1F600, 0xDC00}));
  EXPECT_FALSE(utf16_to_code_points({0xD83D, 0x41}, cps));
  EXPECT_FALSE(utf16le_bytes_to_code_points({0x41, 0x00, 0x42}, cps));
  EXPECT_TRUE(utf16le_bytes_to_code_points({0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE}, cps));
  EXPECT_EQ(cps, (std::vector<uint32_t>{0x41, 0x1F600}));
}

TEST(DerivedConversions, RoundTripsAndEmptyInputs) {
  std::wstring wide;
  std::vector<uint16_t> units;
  std::vector<uint8_t> raw;
  std::string text;

  EXPECT_TRUE(utf8_bytes_to_wide({0x61, 0xC3, 0xA9}, wide));
  EXPECT_EQ(wide, std::wstring({L'a', wchar_t(0xE9)}));
  EXPECT_FALSE(utf8_bytes_to_wide({}, wide));
  EXPECT_EQ(utf8_bytes_to_wide_text({0xC3}), L"");
  EXPECT_TRUE(utf8_bytes_to_utf16_vector({0xF0, 0x9F, 0x98, 0x80}, units));
  EXPECT_EQ(units, (std::vector<uint16_t>{0xD83D, 0xDE00}));

  EXPECT_TRUE(utf16_vector_to_wide({0xD83D, 0xDE00, 0x62}, wide));
  EXPECT_EQ(wide, std::wstring({wchar_t(0x1F600), L'b'}));
  EXPECT_FALSE(utf16_vector_to_wide({}, wide));
  EXPECT_FALSE(utf16_vector_to_wide({0xD83D}, wide));
  EXPECT_TRUE(utf16_vector_to_utf8_bytes({0xE9}, raw));
  EXPECT_EQ(raw, (std::vector<uint8_t>{0xC3, 0xA9}));
  EXPECT_EQ(utf16_vector_to_utf8_string({0x68, 0x69}), "hi");
  EXPECT_EQ(utf16_vector_to_utf8_string({}), "");

  EXPECT_TRUE(bytes_to_utf16_units("a\0b\0c", 5, units));
  EXPECT_EQ(units, (std::vector<uint16_t>{0x61, 0x62}));
  EXPECT_FALSE(bytes_to_utf16_units(nullptr, 4, units));
  EXPECT_FALSE(byte_vector_to_utf16_units({}, units));

  EXPECT_TRUE(wide_to_utf8_bytes(L"ok", raw));
  EXPECT_EQ(raw, (std::vector<uint8_t>{'o', 'k'}));
  EXPECT_TRUE(wide_to_utf16_units_truncating(std::wstring({wchar_t(0x1F600), L'a'}), units));
  EXPECT_EQ(units, (std::vector<uint16_t>{0xF600, 0x61}));
  EXPECT_TRUE(code_points_to_wide({0x61, 0x1F600}, wide));
  EXPECT_EQ(wide, std::wstring({L'a', wchar_t(0x1F600)}));

  std::vector<std::wstring> wlist;
  std::vector<std::string> list;
  EXPECT_TRUE(utf8_list_to_wide({"a", bytes({0xC3, 0xA9})}, wlist));
  EXPECT_EQ(wlist, (std::vector<std::wstring>{L"a", std::wstring(1, wchar_t(0xE9))}));
  EXPECT_TRUE(wide_to_utf8_list(wlist, list));
  EXPECT_EQ(list, (std::vector<std::string>{"a", bytes({0xC3, 0xA9})}));
  EXPECT_FALSE(utf8_list_to_wide({}, wlist));

  std::vector<char> chars;
  EXPECT_TRUE(string_to_char_vector("xy", chars));
  EXPECT_EQ(char_vector_to_string(chars), "xy");
  EXPECT_FALSE(string_to_char_vector("", chars));

  EXPECT_TRUE(latin1_string_to_utf8(bytes({'a', 0xE9, 0xFF}), text));
  EXPECT_EQ(text, bytes({'a', 0xC3, 0xA9, 0xC3, 0xBF}));
  EXPECT_FALSE(latin1_string_to_utf8("", text));
}

// ---------------------------------------------------------------------------
// Hostile bytes
// ---------------------------------------------------------------------------

TEST(UnicodeRobustness, RandomAndTruncatedBuffers) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> len(0, 64);
  for (int round = 0; round < 2000; ++round) {
    // Exact-size heap buffers so any read past the end is an ASan report.
    // Now and then longer than the converter's own buffer.
    std::vector<uint8_t> buf(static_cast<size_t>(round % 100 == 1 ? 1100 : len(rng)));
    for (auto& b : buf) b = static_cast<uint8_t>(round % 3 == 0 ? (byte(rng) & 0xDF) : byte(rng));
    // Long texts mostly ASCII, so that runs fill the converter's buffer.
    for (size_t i = 0; buf.size() > 64 && i + 1 < buf.size(); i += 2) {
      if (byte(rng) < 16) continue;
      buf[i] = static_cast<uint8_t>('a' + i % 26);
      buf[i + 1] = 0;
    }
    // Mostly ASCII units with now and then a zero, a wider unit or a
    // surrogate, so that every kind of unit falls at every place of a run.
    if (round % 4 == 1) {
      static constexpr uint16_t k_odd[] = {0, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0x7F, 0x80};
      for (size_t i = 0; i + 1 < buf.size(); i += 2) {
        const int r = byte(rng);
        const uint16_t u = r < 12 ? k_odd[r % 7] : static_cast<uint16_t>(0x20 + r % 0x5F);
        buf[i] = static_cast<uint8_t>(u);
        buf[i + 1] = static_cast<uint8_t>(u >> 8);
      }
    }
    // Bias toward surrogates in every other unit.
    if (round % 2 == 0) {
      for (size_t i = 1; i < buf.size(); i += 4)
        buf[i] = static_cast<uint8_t>(0xD8 + byte(rng) % 8);
    }
    const uint8_t* p = buf.empty() ? nullptr : buf.data();
    for (size_t cut = 0; cut <= buf.size(); ++cut) {
      std::string out;
      std::wstring wide;
      const uint32_t used = utf16_to_utf8(p, cut, out);
      ASSERT_TRUE(well_formed_utf8(out)) << round << " " << cut;
      const uint32_t wide_used = utf16_to_wide(p, cut, wide);
      EXPECT_LE(used, cut);
      // The same units, and the terminator behind them when it was there.
      EXPECT_TRUE(used == wide_used || (used == wide_used + 2 && wide_used != 0 &&
                                        p[wide_used] == 0 && p[wide_used + 1] == 0))
          << round << " " << cut;
      // The same code points as the wide form, each encoded alone.
      ASSERT_EQ(out, to_utf8(wide)) << round << " " << cut;
      utf16le_bytes_to_utf8(p, static_cast<int64_t>(cut), out);
      std::vector<uint16_t> units;
      bytes_to_utf16_units(p, cut, units);
      EXPECT_EQ(units.size(), cut / 2);
      // The 32-bit length forms, over a unit-aligned copy.
      std::vector<uint16_t> aligned(units.begin(), units.end());
      EXPECT_LE(utf16_to_utf8(aligned.data(), out, static_cast<int32_t>(cut & ~size_t{1}), true),
                cut);
      std::string narrow(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(cut));
      std::wstring decoded = from_utf8(narrow);
      if (!decoded.empty()) {
        EXPECT_EQ(utf8_char_count(narrow), decoded.size());
      }
      std::vector<uint32_t> cps;
      utf16le_bytes_to_code_points(std::vector<uint8_t>(buf.begin(), buf.begin() + cut), cps);
      latin1_string_to_utf8(narrow, out);
    }
  }
}
