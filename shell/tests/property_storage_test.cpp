#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <optional>
#include <random>

#include "default_params.h"
#include "foundation/vk_unicode.h"
#include "idlist_writer.h"
#include "propstore_writer.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/property_store.h"

namespace vk {
namespace {

using namespace vesk_test;

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
                                 default_params());
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
  // The first storage's value of a few bytes, or of more than 32 KiB.
  for (const std::u16string& one : {std::u16string(u"one"), std::u16string(16400, u'o')}) {
    bytes_t a = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(one))});
    bytes_t b = storage(storage_fmtid_b725(), {int_value(4, 31, lpwstr_data(u"two"))});
    ASSERT_GE(b.size(), 38u);
    bytes_t in = cat({a, b});
    walked w = walk(in);
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.consumed, in.size());
    EXPECT_EQ(w.rec.properties.count(std::string(one.begin(), one.end())), 1u);
    EXPECT_EQ(w.rec.properties.count("two"), 1u);
  }
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

TEST(PropertyStorage, FirstValueTooSmallFilesNothing) {
  for (uint32_t v : {1u, 5u, 12u}) {
    bytes_t in = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"abc"), v)});
    walked w = walk(in);
    EXPECT_TRUE(w.rec.properties.empty()) << v;
  }
}

TEST(PropertyStorage, StringNamed) {
  // Its key names it by its own name, which its id (0) does not tell; an
  // empty name is shown empty, not as an id.
  const struct {
    std::u16string_view name;
    const char* key;
  } rows[] = {
      {u"Title", "d5cdd505-2e9c-101b-9397-08002b2cf9ae/Title"},
      {u"", "d5cdd505-2e9c-101b-9397-08002b2cf9ae/"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.key);
    bytes_t in = storage(string_named_fmtid(), {named_value(r.name, 31, lpwstr_data(u"Report"))});
    EXPECT_TRUE(is_string_named_storage(in.data(), static_cast<int64_t>(in.size())));
    walked w = walk(in);
    auto it = w.rec.properties.find("report");
    ASSERT_NE(it, w.rec.properties.end());
    EXPECT_EQ(it->second.name, utf16_to_utf8(r.name.data(), 2 * r.name.size()));
    EXPECT_EQ(it->second.text, "Report");
    EXPECT_EQ(it->second.string_named, 1);
    std::vector<std::string> keys, values, parsing, primary;
    collect_property_texts(w.rec, parsing, primary, keys, values, default_params(),
                           vesk_test::test_shell_scratch(), false);
    EXPECT_EQ(keys, std::vector<std::string>{r.key});
    EXPECT_EQ(values, std::vector<std::string>{"Report"});
  }
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
  bytes_t named =
      storage(string_named_fmtid(), {named_value(u"x", 65, blob_data(cat({{0xAA, 0xBB}, list})))});
  walked wn = walk(named);
  EXPECT_EQ(wn.rec.children.size(), 1u);

  // Bytes that are no ID list (a PNG file's first bytes) stay a value.
  const bytes_t png = from_hex("89504e470d0a1a0a0000000d49484452");
  walked wp = walk(storage(storage_fmtid_b725(), {int_value(2, 65, blob_data(png))}));
  EXPECT_TRUE(wp.rec.children.empty());
  ASSERT_EQ(wp.rec.properties.size(), 1u);
  EXPECT_EQ(wp.rec.properties.begin()->second.bytes, std::string(png.begin(), png.end()));
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
  parse_storage_block(ctx, rec, in.data(), static_cast<int64_t>(in.size()), default_params());
  EXPECT_EQ(rec.properties.count("x"), 1u);
  EXPECT_FALSE(parse_storage_block(ctx, rec, nullptr, 100, default_params()));
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
                                         default_params()),
            0u);
  EXPECT_EQ(rec.properties.count("abc"), 1u);
  EXPECT_EQ(rec.properties.size(), 1u);
}

TEST(PropertyStorage, TruncationsAndMutations) {
  const std::vector<bytes_t> seeds = {
      cat({storage(storage_fmtid_b725(),
                   {int_value(10, 31, lpwstr_data(u"one")),
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
  const bytes_t in =
      storage(storage_fmtid_b725(),
              {int_value(4, 19, u32_data(7)), int_value(10, 31, lpwstr_data(u"Zeta")),
               int_value(11, 72, storage_fmtid_b725()), int_value(12, 64, stamp),
               int_value(13, 21, big), int_value(14, 11, byte_builder().u16(0xFFFF).u16(0).take()),
               int_value(15, 31, lpwstr_data(u"alpha")),
               int_value(16, 0x101F, byte_builder().u32(1).bytes(lpwstr_data(u"Vec")).take())});
  int64_t used[2], filed[2];
  walked got[2];
  for (int shown_only = 0; shown_only < 2; ++shown_only) {
    parse_ctx ctx;
    guard_level outer(ctx, static_cast<int64_t>(in.size()));
    ctx.offset = 0x40;
    got[shown_only].rec.prop_shown_only = shown_only == 1;
    std::vector<uint8_t> exact(in);
    got[shown_only].ok =
        parse_property_storages(ctx, got[shown_only].rec, exact.data(),
                                static_cast<int64_t>(exact.size()), default_params());
    got[shown_only].consumed = ctx.consumed;
    used[shown_only] = ctx.guard->used();
    filed[shown_only] = ctx.guard->filed();
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

namespace vk {
namespace {

// 28636AA6-953D-11D2-B5D6-00C04FD918D0: id 32 is hidden, 24 a parsing name.
prop_bytes_t storage_fmtid_28636aa6() {
  return {0xA6, 0x6A, 0x63, 0x28, 0x3D, 0x95, 0xD2, 0x11,
          0xB5, 0xD6, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0};
}

// A value is shown as its own type says, whatever the key table calls its
// key: a text under b725f130-.../14, a date key, stays a text, and a FILETIME
// under a key of no date is a time; through the collections and the flat
// list alike. Times from Python's datetime.
TEST(PropertyStorage, ValueTypeNotKeyChoosesTheText) {
  const bytes_t in = storage(
      storage_fmtid_b725(),
      {int_value(14, 31, lpwstr_data(u"not a date")),
       int_value(14, 64, byte_builder().u64(133802064000000000).take()),  // 2025-01-01 12:00
       int_value(14, 7, byte_builder().u64(0x40E64B5000000000).take()),   // OLE 45658.5
       int_value(10, 64, byte_builder().u64(133536879580000000).take()),  // 2024-02-29 13:45:58
       int_value(14, 31, lpwstr_data(u"2025-01-01"))});
  const std::vector<std::string> expected = {"not a date", "2025-01-01 12:00:00.000 [UTC]",
                                             "2025-01-01 12:00:00.000 [UTC]",
                                             "2024-02-29 13:45:58.000 [UTC]", "2025-01-01"};
  for (int flat = 0; flat < 2; ++flat) {
    shell_item_record rec;
    rec.prop_shown_only = flat == 1;
    std::optional<shown_values::scope> scope;
    parse_ctx ctx;
    ctx.scratch = &vesk_test::test_shell_scratch();
    if (flat) scope.emplace(shown_values::list_of(ctx.space()));
    parse_property_storages(ctx, rec, in.data(), static_cast<int64_t>(in.size()), default_params());
    std::vector<std::string> keys, values, parsing, primary;
    if (scope)
      scope->collect(&rec, 1, keys, values, default_params(), ctx.space());
    else
      collect_property_texts(rec, parsing, primary, keys, values, default_params(),
                             vesk_test::test_shell_scratch(), false);
    EXPECT_EQ(values, expected) << "flat " << flat;
    ASSERT_EQ(keys.size(), 5u);
    for (const auto& k : keys) EXPECT_TRUE(k.starts_with("b725f130-47ef-101a-a5f1-02608c9eebac/"));
  }
}

// Texts, times and dates kept flat (while a scope is open) give the key and
// value lists the collections give: same order, ties between equal places
// broken by key, record and filing order alike, and a text whose key the
// byte-run look-up finds dropped alike.
TEST(PropertyStorage, FlatShownValuesListLikeCollections) {
  std::mt19937 rng(20261208);
  const std::u16string texts[] = {u"Zeta",       u"alpha",       u"Alpha",
                                  u"b816936b_0", u"B816936B_!x", u"c:\\b816936b_y",
                                  u"0",          u"zz",          u"Report.DOCX"};
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  size_t cases = 0, listed = 0;
  for (int round = 0; round < 400; ++round) {
    // A few walks, each of a few storages, some at the same offset and into
    // the same record.
    struct walk_in {
      uint32_t record;
      uint64_t offset;
      bytes_t bytes;
    };
    std::vector<walk_in> walks;
    const size_t n_walks = 1 + pick(4);
    for (size_t w = 0; w < n_walks; ++w) {
      std::vector<bytes_t> storages;
      const size_t n_storages = 1 + pick(2);
      for (size_t k = 0; k < n_storages; ++k) {
        std::vector<prop_bytes_t> values;
        const size_t n_values = 1 + pick(4);
        for (size_t v = 0; v < n_values; ++v) {
          const uint32_t pid = (pick(3) == 0) ? 32 : static_cast<uint32_t>(2 + pick(30));
          switch (pick(6)) {
            case 0:
              values.push_back(int_value(pid, 19, u32_data(static_cast<uint32_t>(rng()))));
              break;
            case 1:
              values.push_back(
                  int_value(pid, 64, byte_builder().u64(0x01D0000000000000 + rng()).take()));
              break;
            case 2:
              values.push_back(int_value(pid, 7, byte_builder().u64(0x40E5000000000000).take()));
              break;
            case 3:
              values.push_back(int_value(pid, 0x1011, blob_data({1, 2, 3, 4})));
              break;
            default:
              values.push_back(int_value(pid, pick(2) ? 31 : 8, lpwstr_data(texts[pick(9)])));
          }
        }
        const prop_bytes_t fmtid = pick(2) ? storage_fmtid_b725() : storage_fmtid_28636aa6();
        storages.push_back(storage(fmtid, values, k + 1 == n_storages));
      }
      bytes_t all;
      for (const auto& st : storages) all.insert(all.end(), st.begin(), st.end());
      walks.push_back({static_cast<uint32_t>(pick(3)), 0x40 + 0x10 * pick(3), all});
    }
    std::vector<std::string> keys[2], values[2];
    for (int flat = 0; flat < 2; ++flat) {
      std::array<shell_item_record, 3> parts;
      for (auto& part : parts) part.prop_shown_only = true;
      std::optional<shown_values::scope> scope;
      if (flat) scope.emplace(shown_values::list_of(vesk_test::test_shell_scratch()));
      for (const walk_in& w : walks) {
        if (scope) scope->set_record(w.record);
        parse_ctx ctx;
        ctx.scratch = &vesk_test::test_shell_scratch();
        ctx.offset = w.offset;
        parse_property_storages(ctx, parts[w.record], w.bytes.data(),
                                static_cast<int64_t>(w.bytes.size()), default_params());
      }
      if (scope) {
        scope->collect(parts.data(), parts.size(), keys[flat], values[flat], default_params(),
                       vesk_test::test_shell_scratch());
      } else {
        std::vector<std::string> parsing, primary;
        collect_merged_property_texts(parts.data(), parts.size(), parsing, primary, keys[flat],
                                      values[flat], default_params(),
                                      vesk_test::test_shell_scratch(), false);
      }
    }
    ASSERT_EQ(keys[0], keys[1]) << "round " << round;
    ASSERT_EQ(values[0], values[1]) << "round " << round;
    ++cases;
    listed += values[0].size();
  }
  EXPECT_EQ(cases, 400u);
  EXPECT_GT(listed, 800u);
}

}  // namespace
}  // namespace vk
