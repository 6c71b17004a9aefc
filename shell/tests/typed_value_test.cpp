#include "shell/typed_value.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "byte_builder.h"
#include "idlist_writer.h"
#include "propstore_writer.h"
#include "shell/property_store.h"

namespace vk {
namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;

struct parsed {
  bool ok;
  typed_value tv;
  uint64_t end_offset;
  std::shared_ptr<const bytes_t> bytes;  // what the byte elements view
};

parsed parse(const bytes_t& in, uint16_t vartype, uint64_t start = 0x100, int64_t avail = -1) {
  parsed r{};
  r.bytes = std::make_shared<const bytes_t>(in);
  parse_ctx ctx;
  ctx.offset = start;
  r.ok = parse_typed_value(r.tv, ctx, r.bytes->data(),
                           avail >= 0 ? avail : static_cast<int64_t>(in.size()), vartype);
  r.end_offset = ctx.offset;
  EXPECT_EQ(ctx.consumed, 0u);
  return r;
}

TEST(TypedValue, VectorOfDwords) {
  byte_builder b;
  b.u32(2).u32(7).u32(9);
  parsed r = parse(b.take(), 0x1013);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tv.kind, tv_dword);
  EXPECT_EQ(r.tv.count, 2u);
  EXPECT_EQ(r.tv.vartype, 0x13);
  EXPECT_EQ(r.tv.consumed, 12u);
  ASSERT_EQ(r.tv.offsets.size(), 2u);
  EXPECT_EQ(r.tv.offsets[0], 0x104u);
  EXPECT_EQ(r.tv.offsets[1] - r.tv.offsets[0], 4u);
  EXPECT_EQ(r.tv.dwords, (std::vector<uint32_t>{7, 9}));
  EXPECT_EQ(r.end_offset, 0x10Cu);
}

TEST(TypedValue, FixedWidthKinds) {
  struct row {
    uint16_t vt;
    size_t width;
    uint16_t kind;
  } rows[] = {{3, 4, tv_dword}, {10, 4, tv_dword}, {19, 4, tv_dword}, {22, 4, tv_dword},
              {5, 8, tv_qword}, {20, 8, tv_qword}, {21, 8, tv_qword}, {64, 8, tv_filetime},
              {7, 8, tv_date},  {72, 16, tv_guid}};
  for (const row& rw : rows) {
    SCOPED_TRACE(rw.vt);
    bytes_t in(rw.width, 0xAB);
    parsed r = parse(in, rw.vt);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.tv.kind, rw.kind);
    EXPECT_EQ(r.tv.count, 1u);
    EXPECT_EQ(r.tv.consumed, rw.width);
    EXPECT_EQ(r.tv.vartype, rw.vt & 0xFF);
    // one byte short fails
    EXPECT_FALSE(parse(in, rw.vt, 0, static_cast<int64_t>(rw.width) - 1).ok);
  }
}

TEST(TypedValue, Booleans) {
  parsed one = parse({0xFF, 0xFF, 0, 0}, 11);
  ASSERT_TRUE(one.ok);
  EXPECT_EQ(one.tv.dwords, (std::vector<uint32_t>{0xFFFF}));
  EXPECT_EQ(one.tv.consumed, 4u);

  parsed two = parse({2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0x100B);
  ASSERT_TRUE(two.ok);
  EXPECT_EQ(two.tv.dwords, (std::vector<uint32_t>{0xFFFF, 0xFFFF}));
  EXPECT_EQ(two.tv.consumed, 8u);
  EXPECT_EQ(two.tv.offsets[1] - two.tv.offsets[0], 2u);

  // The first boolean takes 4 bytes: the second finds nothing and the list
  // stops there, never reading past the window.
  bytes_t in{2, 0, 0, 0, 0xFF, 0xFF, 0, 0};
  parsed padded = parse(in, 0x100B);
  ASSERT_TRUE(padded.ok);
  EXPECT_EQ(padded.tv.count, 1u);
  EXPECT_EQ(padded.tv.dwords.size(), 1u);
  EXPECT_EQ(padded.tv.consumed, 8u);

  parsed short_one = parse({0x01, 0x00}, 11);
  ASSERT_TRUE(short_one.ok);
  EXPECT_EQ(short_one.tv.dwords, (std::vector<uint32_t>{1}));
}

TEST(TypedValue, LpwstrSpans) {
  // c = 5 over "ab", NUL and padding: span 10 halved to 5, then zeros skipped.
  byte_builder b;
  b.u32(5).utf16(u"ab", true).fill(4);
  parsed r = parse(b.take(), 31);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.tv.texts, (std::vector<std::string>{"ab"}));
  EXPECT_EQ(r.tv.consumed, 14u);

  // c = 6 over 4 + 6 bytes: c is a byte count.
  byte_builder c;
  c.u32(6).utf16(u"xyz", false);
  parsed bytes_count = parse(c.take(), 31);
  ASSERT_TRUE(bytes_count.ok);
  EXPECT_EQ(bytes_count.tv.texts, (std::vector<std::string>{"xyz"}));
  EXPECT_EQ(bytes_count.tv.consumed, 10u);

  // An empty text ends a list; the elements before it stay.
  byte_builder d;
  d.u32(3).u32(2).utf16(u"a", true).u32(1).u16(0).u32(2).utf16(u"b", true);
  parsed stop = parse(d.take(), 0x101F);
  ASSERT_TRUE(stop.ok);
  EXPECT_EQ(stop.tv.count, 1u);
  EXPECT_EQ(stop.tv.texts, (std::vector<std::string>{"a"}));

  // A count that fits neither way ends the list with nothing.
  byte_builder e;
  e.u32(100).utf16(u"ab", true);
  parsed none = parse(e.take(), 31);
  ASSERT_TRUE(none.ok);
  EXPECT_EQ(none.tv.count, 0u);
  EXPECT_TRUE(none.tv.texts.empty());
}

TEST(TypedValue, BstrKeepsEmptyTexts) {
  byte_builder b;
  b.u32(2).u32(0).u32(4).utf16(u"hi", false);
  parsed r = parse(b.take(), 0x1008);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tv.count, 2u);
  EXPECT_EQ(r.tv.texts, (std::vector<std::string>{"", "hi"}));
  // A length past the window stops the list.
  byte_builder c;
  c.u32(50).utf16(u"hi", false);
  parsed cut = parse(c.take(), 8);
  ASSERT_TRUE(cut.ok);
  EXPECT_EQ(cut.tv.count, 0u);
}

TEST(TypedValue, BlobsAndBytes) {
  byte_builder b;
  b.u32(3).bytes({1, 2, 3});
  bytes_t blob = b.take();
  parsed r = parse(blob, 65);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tv.kind, tv_bytes);
  EXPECT_EQ(r.tv.count, 3u);
  ASSERT_EQ(r.tv.blobs.size(), 1u);
  EXPECT_EQ(r.tv.blobs[0], std::string("\x01\x02\x03"));
  EXPECT_EQ(r.tv.offsets[0], 0x104u);
  EXPECT_FALSE(parse(blob, 65, 0, 6).ok);

  // The vector flag on a blob still reads one blob.
  byte_builder v;
  v.u32(1).u32(2).bytes({5, 6});
  parsed vec = parse(v.take(), 0x1041);
  ASSERT_TRUE(vec.ok);
  EXPECT_EQ(vec.tv.blobs.size(), 1u);
  EXPECT_EQ(vec.tv.count, 2u);

  parsed ui1 = parse({3, 0, 0, 0, 7, 8, 9}, 0x1011);
  ASSERT_TRUE(ui1.ok);
  EXPECT_EQ(ui1.tv.count, 3u);
  EXPECT_EQ(ui1.tv.blobs[0], std::string("\x07\x08\x09"));
  EXPECT_EQ(ui1.tv.consumed, 7u);
}

TEST(TypedValue, Streams) {
  byte_builder b;
  b.u32(6).utf16(u"ab", true).fill(2).bytes({9, 9, 9});
  parsed r = parse(b.take(), 66);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tv.kind, tv_stream);
  EXPECT_EQ(r.tv.texts, (std::vector<std::string>{"ab"}));
  ASSERT_EQ(r.tv.blobs.size(), 1u);
  EXPECT_EQ(r.tv.blobs[0], std::string("\x09\x09\x09"));
  EXPECT_EQ(r.tv.consumed, 15u);
  EXPECT_EQ(r.end_offset, 0x100u + 12);  // not advanced over the data

  byte_builder big;
  big.u32(20).utf16(u"ab", true);
  parsed over = parse(big.take(), 66);
  EXPECT_TRUE(over.ok);
  EXPECT_EQ(over.tv.kind, tv_stream);
  EXPECT_TRUE(over.tv.texts.empty());
  EXPECT_TRUE(over.tv.blobs.empty());
  EXPECT_TRUE(parse({1, 0}, 66).ok);
}

// Types not decoded take nothing, but an array (VT_ARRAY) is measured by
// its header and stepped over whole, nothing decoded: its bytes are the
// element type, the dimension count, 8 per dimension and the elements,
// padded to 4 (sizes by the MS-OLEPS TypedPropertyValue layout). One whose
// header contradicts it takes nothing.
TEST(TypedValue, Unsupported) {
  const bytes_t ab = byte_builder().u32(3).ascii("ab").u8(0).u8(0).take();
  const bytes_t empty_text = byte_builder().u32(1).u8(0).fill(3).take();
  const bytes_t variants =
      byte_builder().u16(3).u16(0).u32(5).u16(8).u16(0).u32(2).ascii("a").u8(0).fill(2).take();
  struct row {
    const char* what;
    uint16_t vartype;
    bytes_t data;
    uint32_t size;  // 0: refused
  };
  std::vector<row> rows = {
      {"two 32-bit numbers", 0x2003, array_data(3, {2}, cat({u32_data(7), u32_data(9)})), 24},
      {"three 16-bit numbers, padded", 0x2002, array_data(2, {3}, bytes_t(8, 1)), 24},
      {"2 x 3 bytes, padded", 0x2011, array_data(0x11, {2, 3}, bytes_t(8, 1)), 32},
      {"one double", 0x2005, array_data(5, {1}, bytes_t(8, 1)), 24},
      {"two BSTRs", 0x2008, array_data(8, {2}, cat({ab, empty_text})), 32},
      {"two VARIANTs", 0x200C, array_data(0x0C, {2}, variants), 36},
      {"no elements", 0x2003, array_data(3, {0}, {}), 16},
      {"an element type not its own", 0x2003, array_data(2, {2}, bytes_t(8, 1)), 0},
      {"no dimensions", 0x2003, array_data(3, {}, bytes_t(8, 1)), 0},
      {"32 dimensions", 0x2003, array_data(3, std::vector<uint32_t>(32, 1), bytes_t(8, 1)), 0},
      {"more elements than bytes", 0x2003, array_data(3, {4}, bytes_t(8, 1)), 0},
      {"counts whose product overflows", 0x2003,
       array_data(3, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, bytes_t(8, 1)), 0},
      {"a type no array holds", 0x201F, array_data(0x1F, {1}, lpwstr_data(u"x")), 0},
      {"a VARIANT holding a vector", 0x200C,
       array_data(0x0C, {1}, byte_builder().u16(0x1003).u16(0).u32(0).take()), 0},
  };
  for (uint16_t vt : {0, 2, 4, 6, 18, 23, 73, 0xFF}) rows.push_back({"", vt, bytes_t(16, 1), 0});
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.what << ' ' << r.vartype);
    // Bytes behind the value are not its own.
    const parsed p = parse(cat({r.data, {1, 2, 3, 4}}), r.vartype);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.tv.kind, tv_none);
    EXPECT_EQ(p.tv.consumed, r.size);
    EXPECT_EQ(p.end_offset, 0x100u + r.size);
    EXPECT_EQ(array_value_size(byte_view(r.data.data(), r.data.size()), r.vartype),
              r.size ? int64_t{r.size} : -1);
  }
  parsed null_value = parse(bytes_t(4, 0), 1);
  EXPECT_FALSE(null_value.ok);
  EXPECT_EQ(null_value.tv.kind, tv_null);
  EXPECT_FALSE(parse({}, 3).ok);
  // A vector count above the bytes left fails before any element.
  parsed big = parse({9, 0, 0, 0, 1, 2, 3, 4}, 0x1013);
  EXPECT_FALSE(big.ok);
  EXPECT_TRUE(big.tv.dwords.empty());
}

TEST(TypedValue, ValidVartype) {
  struct row {
    uint16_t vt;
    bool ok;
  } rows[] = {{0x001F, true},  {0x0049, true},  {0x101F, true},
              {0x004A, false}, {0x8003, false}, {0x2FFF, false}};
  for (const row& r : rows) EXPECT_EQ(is_valid_vartype(static_cast<int16_t>(r.vt)), r.ok) << r.vt;
}

TEST(TypedValue, TruncationsAndMutationsStayInBounds) {
  byte_builder b;
  b.u32(3).u32(4).utf16(u"ab", false).u32(0).u32(6).utf16(u"xyz", true);
  const bytes_t seed = b.take();
  const uint16_t types[] = {3, 11, 0x100B, 8, 0x1008, 31, 0x101F, 65, 66, 72, 0x1011, 64};
  std::mt19937 rng(17);
  for (int round = 0; round < 4000; ++round) {
    bytes_t in = seed;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) in[rng() % in.size()] = static_cast<uint8_t>(rng());
    size_t len = rng() % (in.size() + 1);
    // a heap copy of exactly len bytes, so ASan sees any over-read
    std::vector<uint8_t> exact(in.begin(), in.begin() + static_cast<long>(len));
    for (uint16_t vt : types) {
      typed_value tv;
      parse_ctx ctx;
      parse_typed_value(tv, ctx, exact.data(), static_cast<int64_t>(exact.size()), vt);
      EXPECT_LE(tv.consumed, exact.size());
    }
  }
}

}  // namespace
}  // namespace vk
