#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "idlist_writer.h"
#include "propstore_writer.h"
#include "shell/idlist.h"
#include "shell/property_store.h"

namespace vk {
namespace {

using namespace vesk_test;

const cmd_params& opts() {
  static const cmd_params params;
  return params;
}

struct walked {
  bool ok;
  uint32_t consumed;
  uint64_t end_offset;
  shell_item_record rec;
};

walked walk(const bytes_t& in, uint64_t offset = 0) {
  walked w{};
  parse_ctx ctx;
  ctx.offset = offset;
  // an exact heap copy so that any read past the end is caught
  std::vector<uint8_t> exact(in);
  w.ok = parse_property_storages(ctx, w.rec, exact.data(), static_cast<int64_t>(exact.size()),
                                 opts());
  w.consumed = ctx.consumed;
  w.end_offset = ctx.offset;
  return w;
}

TEST(PropertyStorage, HeaderOnlyAndEmpty) {
  bytes_t header = storage(storage_fmtid_b725(), {}, false);
  ASSERT_EQ(header.size(), 24u);
  EXPECT_FALSE(is_integer_named_storage(header.data(), 24));
  walked w24 = walk(header);
  EXPECT_TRUE(w24.rec.guids.empty());

  bytes_t empty = storage(storage_fmtid_b725(), {});
  ASSERT_EQ(empty.size(), 28u);
  EXPECT_TRUE(is_integer_named_storage(empty.data(), 28));
  walked w28 = walk(empty);
  EXPECT_FALSE(w28.ok);
  ASSERT_EQ(w28.rec.guids.size(), 1u);
  EXPECT_TRUE(w28.rec.properties.empty());
}

TEST(PropertyStorage, OneTextValue) {
  bytes_t in = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"Report.DOCX"))});
  walked w = walk(in, 0x200);
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.end_offset, 0x200u);
  auto it = w.rec.properties.find("report.docx");
  ASSERT_NE(it, w.rec.properties.end());
  EXPECT_EQ(it->second.text, "Report.DOCX");
  EXPECT_EQ(it->second.key.pid, 10u);
  EXPECT_EQ(it->second.offset, 0x200u + 37 + 4);
  EXPECT_EQ(w.rec.properties.size(), 1u);
}

TEST(PropertyStorage, TwoBackToBack) {
  bytes_t a = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"one"))});
  bytes_t b = storage(storage_fmtid_b725(), {int_value(4, 31, lpwstr_data(u"two"))});
  ASSERT_GE(b.size(), 38u);
  bytes_t in = cat({a, b});
  walked w = walk(in);
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.consumed, in.size());
  EXPECT_EQ(w.rec.properties.count("one"), 1u);
  EXPECT_EQ(w.rec.properties.count("two"), 1u);
}

TEST(PropertyStorage, FurtherValues) {
  bytes_t in = storage(storage_fmtid_b725(),
                       {int_value(10, 31, lpwstr_data(u"first")), int_value(12, 19, u32_data(7)),
                        int_value(14, 64, {1, 2, 3, 4, 5, 6, 7, 8})});
  walked w = walk(in);
  EXPECT_EQ(w.rec.properties.count("first"), 1u);
  char key[32];
  std::snprintf(key, sizeof key, "26cbc756_%08x", 24 + 13 + 4 + 12 + 13);
  ASSERT_EQ(w.rec.properties.count(key), 1u) << key;
  EXPECT_EQ(w.rec.properties.find(key)->second.key.pid, 12u);
  size_t filetimes = 0;
  for (const auto& [k, v] : w.rec.properties) filetimes += v.is_filetime;
  EXPECT_EQ(filetimes, 1u);
}

TEST(PropertyStorage, FurtherValueSizeLimit) {
  // (a size of exactly 65536 has a zero low word, which the padding skip
  // steps over before the size is read)
  for (uint32_t declared : {17u, 65537u}) {
    bytes_t value = int_value(12, 19, u32_data(9), declared);
    bytes_t in = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"first")), value});
    walked w = walk(in);
    size_t dwords = 0;
    for (const auto& [k, v] : w.rec.properties) dwords += v.vartype == 19;
    EXPECT_EQ(dwords, declared == 17u ? 1u : 0u) << declared;
  }
}

TEST(PropertyStorage, FirstValueTooSmallFilesNothing) {
  for (uint32_t v : {1u, 5u, 12u}) {
    bytes_t in = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"abc"), v)});
    walked w = walk(in);
    EXPECT_TRUE(w.rec.properties.empty()) << v;
  }
}

TEST(PropertyStorage, StringNamed) {
  bytes_t in = storage(string_named_fmtid(), {named_value(u"Title", 31, lpwstr_data(u"Report"))});
  EXPECT_TRUE(is_string_named_storage(in.data(), static_cast<int64_t>(in.size())));
  walked w = walk(in);
  auto it = w.rec.properties.find("report");
  ASSERT_NE(it, w.rec.properties.end());
  EXPECT_EQ(it->second.name, "Title");
  EXPECT_EQ(it->second.text, "Report");
  EXPECT_EQ(it->second.string_named, 1);
}

TEST(PropertyStorage, NamePastItsValueStops) {
  bytes_t value = named_value(u"Title", 31, lpwstr_data(u"Report"));
  // name size larger than value size - 9 but not above value size
  uint32_t value_size = static_cast<uint32_t>(value.size());
  value[4] = static_cast<uint8_t>(value_size - 6);
  value[5] = static_cast<uint8_t>((value_size - 6) >> 8);
  bytes_t in = storage(string_named_fmtid(), {value});
  walked w = walk(in);
  EXPECT_TRUE(w.rec.properties.empty());
}

TEST(PropertyStorage, ByteValueHoldingAnIdList) {
  bytes_t guid_bytes = from_hex("e04fd020ea3a6910a2d808002b30309d");
  bytes_t list = cat({shell_item(0x1F, cat({{0x50}, guid_bytes})), {0, 0}});
  bytes_t in = storage(storage_fmtid_b725(), {int_value(2, 65, blob_data(list))});
  walked w = walk(in);
  EXPECT_EQ(w.rec.children.size(), 1u);
  for (const auto& [k, v] : w.rec.properties) EXPECT_EQ(k.rfind("b816936b_", 0), std::string::npos);

  // in a string-named storage the first 2 bytes are skipped first
  bytes_t named = storage(string_named_fmtid(),
                          {named_value(u"x", 65, blob_data(cat({{0xAA, 0xBB}, list})))});
  walked wn = walk(named);
  EXPECT_EQ(wn.rec.children.size(), 1u);
}

TEST(PropertyStorage, FmtidText) {
  bytes_t in = storage(storage_fmtid_b725(), {});
  parse_ctx ctx;
  ctx.offset = 77;
  std::string text;
  property_storage_fmtid_text(in.data(), ctx, text);
  EXPECT_EQ(ctx.consumed, 11u);
  EXPECT_EQ(ctx.offset, 77u);
  EXPECT_FALSE(text.empty());
}

TEST(PropertyStorage, StorageBlockAndEmbeddedTest) {
  bytes_t in = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"x"))});
  EXPECT_TRUE(is_embedded_property_storage(in.data(), static_cast<int64_t>(in.size())));
  EXPECT_FALSE(is_embedded_property_storage(in.data(), 37));
  shell_item_record rec;
  parse_ctx ctx;
  parse_storage_block(ctx, rec, in.data(), static_cast<int64_t>(in.size()), opts());
  EXPECT_EQ(rec.properties.count("x"), 1u);
  EXPECT_FALSE(parse_storage_block(ctx, rec, nullptr, 100, opts()));
}

TEST(PropertyStorage, EmbeddedPropertyList) {
  byte_builder b;
  b.u32(13).bytes(storage_fmtid_b725()).u32(1);
  b.bytes(storage_fmtid_b725()).u32(10).u16(31).u16(0).bytes(lpwstr_data(u"abc"));
  b.bytes(storage_fmtid_b725()).u32(0).u16(19).u16(0).u32(5);
  bytes_t in = b.take();
  shell_item_record rec;
  parse_ctx ctx;
  EXPECT_EQ(parse_embedded_property_list(rec, in.data(), static_cast<int64_t>(in.size()), ctx,
                                         opts()),
            0u);
  EXPECT_EQ(rec.properties.count("abc"), 1u);
  EXPECT_EQ(rec.properties.size(), 1u);
}

TEST(PropertyStorage, TruncationsAndMutations) {
  const std::vector<bytes_t> seeds = {
      cat({storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"one")),
                                          int_value(12, 0x1013, {2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}),
                                          int_value(4, 66, stream_data(u"s", {1, 2, 3}))}),
           storage(string_named_fmtid(), {named_value(u"Title", 31, lpwstr_data(u"Report")),
                                          named_value(u"n", 8, {4, 0, 0, 0, 'a', 0, 'b', 0})})}),
  };
  std::mt19937 rng(1717);
  size_t runs = 0;
  for (const bytes_t& seed : seeds) {
    for (size_t len = 0; len <= seed.size(); ++len) {
      walk(bytes_t(seed.begin(), seed.begin() + static_cast<long>(len)));
      ++runs;
    }
    for (int round = 0; round < 20000; ++round) {
      bytes_t in = seed;
      int flips = 1 + static_cast<int>(rng() % 6);
      for (int f = 0; f < flips; ++f) in[rng() % in.size()] = static_cast<uint8_t>(rng());
      in.resize(in.size() - rng() % 8);
      walked w = walk(in);
      EXPECT_LE(w.consumed, in.size());
      ++runs;
    }
  }
  EXPECT_GT(runs, 20000u);
}

}  // namespace
}  // namespace vk

namespace vk {
namespace {

// Parsed only for what a report shows, a storage keeps its texts and times
// in the same order, takes the same bytes and spends the same parse budget;
// numbers and GUIDs are left out.
TEST(PropertyStorage, ShownOnlyKeepsTextsAndTimes) {
  const bytes_t stamp = byte_builder().u64(0x01D0000000000000).take();
  const bytes_t big = byte_builder().u64(0x1122334455667788).take();
  const bytes_t in = storage(
      storage_fmtid_b725(),
      {int_value(4, 19, u32_data(7)), int_value(10, 31, lpwstr_data(u"Zeta")),
       int_value(11, 72, storage_fmtid_b725()), int_value(12, 64, stamp),
       int_value(13, 21, big), int_value(14, 11, byte_builder().u16(0xFFFF).u16(0).take()),
       int_value(15, 31, lpwstr_data(u"alpha")), int_value(16, 0x101F, byte_builder().u32(1)
           .bytes(lpwstr_data(u"Vec")).take())});
  int64_t used[2], filed[2];
  walked got[2];
  for (int shown_only = 0; shown_only < 2; ++shown_only) {
    guard_level outer(static_cast<int64_t>(in.size()));
    parse_ctx ctx;
    ctx.offset = 0x40;
    got[shown_only].rec.prop_shown_only = shown_only == 1;
    std::vector<uint8_t> exact(in);
    got[shown_only].ok = parse_property_storages(ctx, got[shown_only].rec, exact.data(),
                                                 static_cast<int64_t>(exact.size()), opts());
    got[shown_only].consumed = ctx.consumed;
    used[shown_only] = active_parse_guard()->used();
    filed[shown_only] = active_parse_guard()->filed();
  }
  EXPECT_EQ(got[0].ok, got[1].ok);
  EXPECT_EQ(got[0].consumed, got[1].consumed);
  EXPECT_EQ(used[0], used[1]);
  EXPECT_EQ(filed[0], filed[1]);
  std::vector<std::string> all, kept;
  for (const auto& e : got[0].rec.properties)
    if (e.second.vartype == 31 || e.second.vartype == 64) all.push_back(e.first);
  for (const auto& e : got[1].rec.properties) kept.push_back(e.first);
  EXPECT_EQ(all, kept);
  EXPECT_EQ(kept.size(), 4u);  // Zeta, the time, alpha, the vector's text
  EXPECT_EQ(got[0].rec.properties.size(), 8u);
}

}  // namespace
}  // namespace vk
