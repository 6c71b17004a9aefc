#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "byte_builder.h"
#include "foundation/vk_counted_string.h"

using namespace vk;

namespace {
std::vector<uint16_t> units_of(const uint16_t* p, size_t n) {
  return {p, p + n};
}
}  // namespace

TEST(CountedUtf16, WrappingConstructors) {
  uint16_t buf[8];
  std::fill(std::begin(buf), std::end(buf), 0xAAAA);
  _UNICODE_STRING_EX s(buf, static_cast<uint16_t>(sizeof buf));
  EXPECT_EQ(s.Buffer, buf);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(s.Length, 0);
  EXPECT_EQ(s.MaximumLength, 16);
  EXPECT_FALSE(s.owns_buffer);

  // A buffer without room for a unit is not written to.
  uint16_t tiny[1] = {0x5555};
  _UNICODE_STRING_EX t(tiny, uint16_t{1});
  EXPECT_EQ(tiny[0], 0x5555);
  _UNICODE_STRING_EX n(nullptr, uint16_t{4});
  EXPECT_EQ(n.Buffer, nullptr);

  _UNICODE_STRING_EX held(buf, 4, 16);
  EXPECT_EQ(held.Length, 4);
  EXPECT_EQ(held.MaximumLength, 16);
  held.clear();  // forgets the buffer without touching it
  EXPECT_EQ(held.Buffer, nullptr);
  EXPECT_EQ(held.MaximumLength, 0);
  EXPECT_EQ(held.Length, 0);
  EXPECT_EQ(buf[1], 0xAAAA);
}

TEST(CountedUtf16, AppendIntoWrappedBuffer) {
  uint16_t buf[6];
  _UNICODE_STRING_EX s(buf, static_cast<uint16_t>(sizeof buf));
  EXPECT_TRUE(s.append("ab"));
  EXPECT_EQ(s.Length, 4);
  EXPECT_EQ(units_of(buf, 3), (std::vector<uint16_t>{'a', 'b', 0}));
  EXPECT_TRUE(s.append(L"cd"));
  EXPECT_EQ(s.Length, 8);
  EXPECT_EQ(units_of(buf, 5), (std::vector<uint16_t>{'a', 'b', 'c', 'd', 0}));
  // "ef" and a terminator need 6 bytes; only 4 remain.  Nothing changes.
  EXPECT_FALSE(s.append("ef"));
  EXPECT_EQ(s.Length, 8);
  EXPECT_EQ(buf[4], 0);
  EXPECT_TRUE(s.append("e"));
  EXPECT_EQ(s.Length, 10);
  EXPECT_FALSE(s.append("f"));
  EXPECT_TRUE(s.append(""));  // just the terminator
  EXPECT_EQ(units_of(buf, 6), (std::vector<uint16_t>{'a', 'b', 'c', 'd', 'e', 0}));
  EXPECT_FALSE(s.append(static_cast<const char*>(nullptr)));

  // A claimed length beyond the buffer leaves no room at all.
  _UNICODE_STRING_EX odd(buf, 20, 12);
  EXPECT_FALSE(odd.append("x"));
}

TEST(CountedUtf16, OwnedBufferGrowsWithinSixteenBits) {
  _UNICODE_STRING_EX none(0u);
  EXPECT_EQ(none.Buffer, nullptr);
  EXPECT_FALSE(none.owns_buffer);

  _UNICODE_STRING_EX s(2u);
  ASSERT_NE(s.Buffer, nullptr);
  EXPECT_TRUE(s.owns_buffer);
  EXPECT_EQ(s.MaximumLength, 4);
  EXPECT_TRUE(s.append("hello"));
  EXPECT_EQ(s.Length, 10);
  EXPECT_GE(s.MaximumLength, 12);
  EXPECT_EQ(units_of(s.Buffer, 6), (std::vector<uint16_t>{'h', 'e', 'l', 'l', 'o', 0}));
  // Bytes are widened by their signed value, wide characters cut to 16 bits.
  EXPECT_TRUE(s.append("\xE9"));
  EXPECT_EQ(s.Buffer[5], 0xFFE9);
  EXPECT_TRUE(s.append(L"\U0001F600"));
  EXPECT_EQ(s.Buffer[6], 0xF600);

  // Grow to just under the 16-bit limit, then one more character must fail
  // without changing anything (the old size arithmetic wrapped here).
  _UNICODE_STRING_EX big(1u);
  std::string chunk(32766, 'x');  // 65532 bytes of text + 2 of terminator = 0xFFFE
  EXPECT_TRUE(big.append(chunk.c_str()));
  EXPECT_EQ(big.Length, 65532);
  EXPECT_EQ(big.MaximumLength, 0xFFFE);
  uint16_t* before = big.Buffer;
  EXPECT_FALSE(big.append("yz"));
  EXPECT_FALSE(big.append(std::string(40000, 'q').c_str()));
  EXPECT_EQ(big.Length, 65532);
  EXPECT_EQ(big.Buffer, before);
  EXPECT_EQ(big.Buffer[32766], 0);

  big.clear();
  EXPECT_EQ(big.Length, 0);
  EXPECT_EQ(big.Buffer, before);  // owned buffers are kept, zeroed
  EXPECT_EQ(big.Buffer[100], 0);
}

TEST(CountedUtf16, GrowingCopiesNoMoreThanTheOldBufferHolds) {
  // Length is a public field; a claim beyond the owned buffer must not make
  // the move to a larger buffer read past the old one.
  _UNICODE_STRING_EX s(2u);
  s.Buffer[0] = 'k';
  s.Length = 40;
  EXPECT_TRUE(s.append("x"));
  EXPECT_EQ(s.Length, 42);
  EXPECT_EQ(s.MaximumLength, 44);
  EXPECT_EQ(s.Buffer[0], 'k');
  EXPECT_EQ(s.Buffer[2], 0);
  EXPECT_EQ(units_of(s.Buffer + 20, 2), (std::vector<uint16_t>{'x', 0}));

  // One owner per buffer: a copy would release it twice.
  static_assert(!std::is_copy_constructible_v<_UNICODE_STRING_EX>);
  static_assert(!std::is_copy_assignable_v<_UNICODE_STRING_EX>);
}

TEST(Utf16Helpers, LengthsAndCrlf) {
  std::vector<uint16_t> u(513, 'a');
  EXPECT_EQ(utf16_len_capped(u.data()), 0u);
  u[512] = 0;
  EXPECT_EQ(utf16_len_capped(u.data()), 512u);
  u[3] = 0;
  EXPECT_EQ(utf16_len_capped(u.data()), 3u);
  EXPECT_EQ(utf16_len_capped(nullptr), 0u);

  EXPECT_EQ(utf16_vector_length({}), 0u);
  EXPECT_EQ(utf16_vector_length({'a', 'b', 0}), 2u);
  EXPECT_EQ(utf16_vector_length({'a', 'b'}), 2u);

  std::vector<uint16_t> out{9, 9};
  const uint16_t* p = ascii_to_utf16_crlf(out, "a\n");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(out, (std::vector<uint16_t>{'a', '\r', '\n', 0}));
  EXPECT_EQ(ascii_to_utf16_crlf(out, ""), nullptr);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(ascii_to_utf16_crlf(out, nullptr), nullptr);

  EXPECT_NE(wide_to_utf16_crlf(out, L"x\ny"), nullptr);
  EXPECT_EQ(out, (std::vector<uint16_t>{'x', '\r', '\n', 'y'}));
  EXPECT_EQ(wide_to_utf16_crlf(out, L""), nullptr);
}

TEST(SmallConversions, WidenAndNarrow) {
  std::wstring w = L"keep";
  widen_ascii("", w);
  EXPECT_EQ(w, L"keep");
  widen_ascii(nullptr, w);
  EXPECT_EQ(w, L"keep");
  widen_ascii("ab", w);
  EXPECT_EQ(w, L"ab");
  widen_bytes(std::string("c\xFF"), w);
  EXPECT_EQ(w, std::wstring({L'c', static_cast<wchar_t>(-1)}));

  std::string n;
  narrow_wstring(L"A\u0141", n);  // U+0141 keeps its low byte 0x41
  EXPECT_EQ(n, "AA");

  EXPECT_EQ(latin1_to_utf8("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(latin1_to_utf8("\xFF"), "\xC3\xBF");
  EXPECT_EQ(latin1_to_utf8(nullptr), "");

  std::string b = "x";
  fill_blanks(b, 3);
  EXPECT_EQ(b, "   ");
  fill_blanks(b, 0);
  EXPECT_EQ(b, "");
}

TEST(SmallConversions, Utf8Lists) {
  EXPECT_EQ(to_utf8_copy(L"a\u00e9"), "a\xC3\xA9");
  EXPECT_EQ(to_utf8_copy(nullptr), "");
  std::string s = "old";
  to_utf8_assign(L"\u20ac", s);
  EXPECT_EQ(s, "\xE2\x82\xAC");
  to_utf8_assign(nullptr, s);
  EXPECT_EQ(s, "");

  const char* args[] = {"prog", "\xC3\xA9t\xC3\xA9"};
  std::vector<std::wstring> w{L"first"};
  EXPECT_TRUE(widen_arg_array(2, args, w));  // appends
  EXPECT_EQ(w, (std::vector<std::wstring>{L"first", L"prog", L"\u00e9t\u00e9"}));
  std::vector<std::wstring> none;
  EXPECT_FALSE(widen_arg_array(0, args, none));

  std::vector<std::string> n{"a", "\xE2\x82\xAC"};
  widen_string_list(n, w);
  EXPECT_EQ(w, (std::vector<std::wstring>{L"a", L"\u20ac"}));
  EXPECT_EQ(widen_string_list(n), w);
  std::vector<std::wstring> filled{L"x", L"y", L"z"};
  widen_string_list_fill(filled, n);
  EXPECT_EQ(filled, w);

  std::vector<std::string> back{"junk"};
  narrow_string_list(w, back);
  EXPECT_EQ(back, n);
  back.assign(5, "z");
  wide_list_to_utf8(back, w);
  EXPECT_EQ(back, n);

  // Empty inputs give empty outputs; a text that is not UTF-8 becomes "".
  widen_string_list_fill(filled, {});
  EXPECT_TRUE(filled.empty());
  wide_list_to_utf8(back, {});
  EXPECT_TRUE(back.empty());
  narrow_string_list({}, back);
  EXPECT_TRUE(back.empty());
  widen_string_list({}, w);
  EXPECT_TRUE(w.empty());
  widen_string_list_fill(filled, {"ok", "\xFF"});
  EXPECT_EQ(filled, (std::vector<std::wstring>{L"ok", L""}));
}

TEST(SmallConversions, WidenToBufferNeedsRoomForTerminator) {
  wchar_t buf[4];
  std::fill(std::begin(buf), std::end(buf), L'#');
  EXPECT_EQ(widen_to_buffer("abc", buf, 4), buf);
  EXPECT_EQ(std::wstring(buf), L"abc");
  // Four characters and a terminator do not fit into four places.
  std::fill(std::begin(buf), std::end(buf), L'#');
  EXPECT_EQ(widen_to_buffer("abcd", buf, 4), nullptr);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], L'#');
  EXPECT_EQ(widen_to_buffer("", buf, 1), buf);
  EXPECT_EQ(widen_to_buffer("a", buf, 0), nullptr);
  EXPECT_EQ(widen_to_buffer("a", nullptr, 4), nullptr);
}

TEST(SmallConversions, PrintableFilters) {
  const uint8_t data[] = {'a', 0x01, '\r', '\n', 'b', 0x7F, 0, 'c'};
  std::string out;
  EXPECT_TRUE(printable_text(out, data, sizeof data, false, '.'));
  EXPECT_EQ(out, "a...b.");
  EXPECT_TRUE(printable_text(out, data, sizeof data, true, 0));
  EXPECT_EQ(out, "a\r\nb");
  EXPECT_TRUE(printable_text(out, data, 2, false, 0));
  EXPECT_EQ(out, "a");
  EXPECT_FALSE(printable_text(out, nullptr, 4, false, '.'));
  EXPECT_FALSE(printable_text(out, data, 0, false, '.'));

  EXPECT_EQ(printable_prefix(data, out, sizeof data), 1u);
  EXPECT_EQ(out, "a");
  const uint8_t all[] = {'x', 'y', 'z'};
  EXPECT_EQ(printable_prefix(all, out, 2), 2u);
  EXPECT_EQ(out, "xy");
  EXPECT_EQ(printable_prefix(nullptr, out, 2), 0u);
}

TEST(SmallConversions, LfToCrlfOnlyForLfText) {
  std::string out;
  const std::string lf = "a\nb\n";
  EXPECT_TRUE(lf_to_crlf(reinterpret_cast<const uint8_t*>(lf.data()), lf.size(), out));
  EXPECT_EQ(out, "a\r\nb\r\n");
  const std::string crlf = "a\r\nb";
  EXPECT_FALSE(lf_to_crlf(reinterpret_cast<const uint8_t*>(crlf.data()), crlf.size(), out));
  const std::string mixed = "a\nb\r\n";
  EXPECT_FALSE(lf_to_crlf(reinterpret_cast<const uint8_t*>(mixed.data()), mixed.size(), out));
  const std::string none = "ab";
  EXPECT_FALSE(lf_to_crlf(reinterpret_cast<const uint8_t*>(none.data()), none.size(), out));
}

TEST(SmallConversions, NetbiosName) {
  std::string name = "x";
  uint8_t suffix = 9;
  EXPECT_TRUE(netbios_name_decode(std::string(32, 'A').c_str(), name, suffix));
  EXPECT_EQ(name, std::string(15, '\0'));
  EXPECT_EQ(suffix, 0);
  // "FEEFFDFE" is "TEST"; pad with blanks (CA) and suffix 0x20 (CA).
  std::string enc = "FEEFFDFE";
  while (enc.size() < 32) enc += "CA";
  EXPECT_TRUE(netbios_name_decode(enc.c_str(), name, suffix));
  EXPECT_EQ(name, "TEST           ");
  EXPECT_EQ(suffix, 0x20);
}

TEST(CountedBytes, Read) {
  std::string out = "junk";
  const uint8_t abc[] = {3, 'a', 'b', 'c'};
  EXPECT_EQ(read_counted_string(out, abc, 4), 4u);
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(read_counted_string(out, abc, 3), 1u);  // text runs past the end
  EXPECT_EQ(out, "");
  const uint8_t two[] = {0x80, 0x02, 'x', 'y'};
  EXPECT_EQ(read_counted_string(out, two, 4), 4u);
  EXPECT_EQ(out, "xy");
  EXPECT_EQ(read_counted_string(out, two, 1), 0u);  // half a header
  EXPECT_EQ(read_counted_string(out, two, 2), 2u);  // header only
  EXPECT_EQ(read_counted_string(out, abc, 1), 1u);
  EXPECT_EQ(read_counted_string(out, abc, 0), 0u);
  EXPECT_EQ(read_counted_string(out, nullptr, 4), 0u);
  const uint8_t big[] = {0xFF, 0xFF, 'a'};  // 32767 bytes claimed
  EXPECT_EQ(read_counted_string(out, big, 3), 2u);
  EXPECT_EQ(out, "");
}

TEST(CountedBytes, WriteAndRoundTrip) {
  std::vector<uint8_t> v{1, 2};
  const std::string t200(200, 'q');
  EXPECT_TRUE(write_counted_string(v, t200, false));
  ASSERT_EQ(v.size(), 202u);
  EXPECT_EQ(v[0], 0x80);
  EXPECT_EQ(v[1], 0xC8);
  EXPECT_EQ(v[2], 'q');
  std::string back;
  EXPECT_EQ(read_counted_string(back, v.data(), v.size()), 202u);
  EXPECT_EQ(back, t200);

  EXPECT_TRUE(write_counted_string(v, "ab", true));
  EXPECT_EQ(v.size(), 205u);
  EXPECT_EQ(v[202], 2);

  EXPECT_FALSE(write_counted_string(v, std::string(32768, 'z'), false));
  EXPECT_TRUE(v.empty());
  EXPECT_TRUE(write_counted_string(v, std::string(32767, 'z'), false));
  EXPECT_EQ(v[0], 0xFF);
  EXPECT_EQ(v[1], 0xFF);
  EXPECT_EQ(v.size(), 32769u);
  EXPECT_TRUE(write_counted_string(v, "", false));
  EXPECT_EQ(v, (std::vector<uint8_t>{0}));
}

TEST(CountedBytes, WriteList) {
  std::vector<uint8_t> v;
  EXPECT_TRUE(write_counted_string_list(v, {"a", "bc"}, false));
  EXPECT_EQ(v, (std::vector<uint8_t>{2, 1, 'a', 2, 'b', 'c'}));
  EXPECT_TRUE(write_counted_string_list(v, {}, true));
  EXPECT_EQ(v.back(), 0);
  // An element too long to write fails the list instead of leaving a count
  // that promises more strings than follow.
  v = {7};
  EXPECT_FALSE(write_counted_string_list(v, {"a", std::string(40000, 'x')}, true));
  EXPECT_EQ(v, (std::vector<uint8_t>{7}));
}

TEST(CountedBytes, HostileInputStaysInBounds) {
  std::mt19937 rng(1234);
  std::string out;
  // A list of strings read back one after another, truncated at every length.
  std::vector<uint8_t> enc;
  ASSERT_TRUE(write_counted_string_list(enc, {"alpha", std::string(300, 'b'), "", "c"}, false));
  for (size_t n = 0; n <= enc.size(); ++n) {
    std::vector<uint8_t> cut(enc.begin(), enc.begin() + n);  // exact-size heap copy
    size_t at = 0;
    int rounds = 0;
    while (at < cut.size() && rounds++ < 16) {
      size_t used = read_counted_string(out, cut.data() + at, cut.size() - at);
      ASSERT_LE(used, cut.size() - at);
      if (used == 0) break;
      at += used;
    }
  }
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> junk = vesk_test::random_bytes(rng() % 40, rng);
    size_t used = read_counted_string(out, junk.data(), junk.size());
    ASSERT_LE(used, junk.size());
    ASSERT_LE(out.size(), junk.size());
    std::vector<uint8_t> name = vesk_test::random_bytes(32, rng);
    uint8_t suffix = 0;
    EXPECT_TRUE(netbios_name_decode(reinterpret_cast<const char*>(name.data()), out, suffix));
    EXPECT_EQ(out.size(), 15u);
    EXPECT_TRUE(printable_text(out, junk.data(), junk.size(), true, '.') || junk.empty());
  }
}
