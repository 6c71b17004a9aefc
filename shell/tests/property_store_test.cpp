#include "shell/property_store.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "alloc_hook.h"
#include "byte_builder.h"
#include "default_params.h"
#include "shell/property_keys.h"

namespace vk {
namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;

std::vector<const property_value*> filed(const shell_item_record& rec, const std::string& key) {
  std::vector<const property_value*> out;
  auto range = rec.properties.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) out.push_back(&it->second);
  return out;
}

TEST(PropertyFiling, DwordKeyedByPosition) {
  shell_item_record rec;
  parse_ctx ctx;
  ctx.offset = 0x1C5;
  bytes_t in{7, 0, 0, 0};
  EXPECT_EQ(add_item_property(rec, ctx, in.data(), 4, 19, 3, nullptr, default_params()), 4);
  EXPECT_EQ(ctx.consumed, 4u);
  auto got = filed(rec, "26cbc756_000001c5");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->vartype, 19u);
  EXPECT_EQ(got[0]->number, 7u);
  EXPECT_EQ(got[0]->is_number, 1);
  EXPECT_EQ(got[0]->text, "26cbc756_000001c5");
  EXPECT_EQ(got[0]->offset, 0x1C5u);
  EXPECT_EQ(rec.prop_dwords, (std::vector<uint32_t>{7}));
}

TEST(PropertyFiling, KeyTextsOfNumbers) {
  struct row {
    uint16_t vt;
    uint64_t offset;
    const char* key;
    uint32_t vartype;
  } rows[] = {{64, 0x123456789, "f0b57858_123456789", 64},
              {21, 0x10, "94b5d121_00000010", 21},
              {20, 0, "94b5d121_00000000", 21},
              {7, 0xABC, "56e2ac24_00000abc", 7}};
  for (const row& r : rows) {
    shell_item_record rec;
    parse_ctx ctx;
    ctx.offset = r.offset;
    bytes_t in{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(add_item_property(rec, ctx, in.data(), 8, r.vt, 2, nullptr, default_params()), 8);
    auto got = filed(rec, r.key);
    ASSERT_EQ(got.size(), 1u) << r.key;
    EXPECT_EQ(got[0]->vartype, r.vartype);
    EXPECT_EQ(got[0]->number, 0x0807060504030201u);
    EXPECT_EQ(got[0]->is_filetime, r.vt == 64 ? 1 : 0);
  }
}

TEST(PropertyFiling, TextsFiledUnderLowerCase) {
  shell_item_record rec;
  parse_ctx ctx;
  typed_value tv;
  byte_builder b;
  b.u32(2).u32(8).utf16(u"Notepad", true).u32(8).utf16(u"notepad", true);
  bytes_t in = b.take();
  ASSERT_TRUE(parse_typed_value(tv, ctx, in.data(), static_cast<int64_t>(in.size()), 0x101F));
  property_value pv;
  EXPECT_TRUE(store_typed_value(rec, ctx, tv, pv, default_params()));
  auto got = filed(rec, "notepad");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0]->text, "Notepad");
  EXPECT_EQ(got[1]->text, "notepad");
  EXPECT_EQ(got[0]->vartype, 31u);
  EXPECT_EQ(rec.prop_texts.size(), 2u);
}

TEST(PropertyFiling, BlobKeyedBehindTheValue) {
  shell_item_record rec;
  parse_ctx ctx;
  ctx.offset = 0x3C;
  byte_builder b;
  b.u32(10).fill(10, 0x5A);
  bytes_t in = b.take();
  EXPECT_EQ(add_item_property(rec, ctx, in.data(), 14, 65, 4, nullptr, default_params()), 14);
  auto got = filed(rec, "b816936b_0000004a");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->offset, 0x40u);
  EXPECT_EQ(got[0]->vartype, 4113u);
  EXPECT_EQ(got[0]->bytes, std::string(10, 0x5A));
  EXPECT_EQ(rec.prop_bytes.size(), 10u);
  EXPECT_EQ(rec.prop_flags[4], 1);
}

TEST(PropertyFiling, GuidsAndStreams) {
  shell_item_record rec;
  parse_ctx ctx;
  bytes_t g{0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
            0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
  EXPECT_EQ(add_item_property(rec, ctx, g.data(), 16, 72, 4, nullptr, default_params()), 16);
  ASSERT_EQ(rec.properties.size(), 1u);
  const property_value& pv = rec.properties.begin()->second;
  EXPECT_EQ(pv.vartype, 72u);
  std::string lower = pv.text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(pv.key_text, lower);
  EXPECT_EQ(rec.prop_guid_texts.size(), 1u);

  // A stream with an empty name files nothing and still succeeds.
  shell_item_record empty;
  property_value tmpl;
  typed_value unnamed;
  unnamed.kind = tv_stream;
  EXPECT_TRUE(store_typed_value(empty, ctx, unnamed, tmpl, default_params()));
  EXPECT_TRUE(empty.properties.empty());

  byte_builder s;
  s.u32(0).bytes({1, 2, 3});
  bytes_t stream = s.take();
  EXPECT_EQ(add_item_property(empty, ctx, stream.data(), 7, 66, 4, nullptr, default_params()), 4);
  EXPECT_TRUE(empty.properties.empty());

  byte_builder named;
  named.u32(4).utf16(u"ab", false).bytes({1, 2, 3});
  bytes_t ns = named.take();
  shell_item_record with_name;
  EXPECT_EQ(add_item_property(with_name, ctx, ns.data(), 11, 66, 4, nullptr, default_params()), 11);
  auto got = filed(with_name, "ab");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->vartype, 66u);
  EXPECT_EQ(with_name.prop_flags[4], 1);
}

// Each element of a vector is filed whole, whether the template is kept
// (copied for every element) or consumed (moved into the last record).
TEST(PropertyFiling, VectorElementsEachFiledWhole) {
  const bytes_t title_set{0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                          0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  guid title;
  title.set(title_set.data());
  struct row {
    uint16_t vartype;
    bytes_t data;
    std::vector<std::string> texts;
    std::string last;
  } rows[] = {
      {0x1013,
       byte_builder().u32(3).u32(1).u32(2).u32(3).take(),
       {"26cbc756_00000104", "26cbc756_00000108", "26cbc756_0000010c"},
       "26cbc756_0000010c"},
      {0x1015,
       byte_builder().u32(2).u64(1).u64(2).take(),
       {"94b5d121_00000104", "94b5d121_0000010c"},
       "94b5d121_0000010c"},
      {0x101F,
       byte_builder()
           .u32(3)
           .u32(10)
           .utf16(u"LongName1", true)
           .u32(2)
           .utf16(u"b", true)
           .u32(10)
           .utf16(u"LongName3", true)
           .take(),
       {"b", "LongName1", "LongName3"},
       "LongName3"},
      {0x1048, byte_builder().u32(2).fill(16, 0x11).fill(16, 0x22).take(), {}, ""},
  };
  for (const row& r : rows) {
    const auto size = static_cast<int64_t>(r.data.size());
    shell_item_record kept, consumed;
    parse_ctx ctx;
    ctx.offset = 0x100;
    typed_value tv;
    ASSERT_TRUE(parse_typed_value(tv, ctx, r.data.data(), size, r.vartype)) << r.vartype;
    property_value tmpl(&title, 2);
    ASSERT_TRUE(lookup_property_value_key(tmpl));
    ASSERT_TRUE(store_typed_value(kept, ctx, tv, tmpl, default_params()));
    ctx.offset = 0x100;
    ASSERT_EQ(add_item_property(consumed, ctx, r.data.data(), size, r.vartype, 2, &title,
                                default_params()),
              size);
    ASSERT_EQ(kept.properties.size(), tv.count) << r.vartype;
    ASSERT_EQ(consumed.properties.size(), tv.count) << r.vartype;
    std::vector<std::string> texts;
    for (auto a = kept.properties.begin(), b = consumed.properties.begin();
         a != kept.properties.end(); ++a, ++b) {
      const property_value& v = a->second;
      texts.push_back(v.text);
      EXPECT_EQ(a->first, v.key_text);
      EXPECT_EQ(b->first, v.key_text);
      EXPECT_EQ(v.name, "Title");
      EXPECT_EQ(v.offset, v.offset2);
      for (const property_value* w : {&v, &std::as_const(b->second)}) {
        std::string lower = w->text;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(w->key_text, lower);
      }
      EXPECT_EQ(b->second.text, v.text);
      EXPECT_EQ(b->second.name, "Title");
      EXPECT_EQ(b->second.offset, v.offset);
      EXPECT_EQ(b->second.number, v.number);
    }
    // In key order; the kept template holds the last element filed.
    EXPECT_EQ(tmpl.offset, tv.offsets.back());
    if (!r.texts.empty()) {
      EXPECT_EQ(texts, r.texts);
      EXPECT_EQ(tmpl.text, r.last);
    }

    // Once warm, a value costs its texts only: the map nodes come back from
    // the run's spare list.
    if (r.vartype != 0x1013) continue;
    keep_property_nodes(consumed.properties, ctx.space());
    vesk_test::heap::scope counted;
    ctx.offset = 0x100;
    add_item_property(consumed, ctx, r.data.data(), size, r.vartype, 2, &title, default_params());
    EXPECT_LE(counted.allocations(), 3 * 3);  // key, text, key text per element
  }

  // Warm, a lone number costs its key only: its texts take the room of
  // values dropped before.
  {
    shell_item_record warm;
    parse_ctx ctx;
    const bytes_t one{1, 0, 0, 0};
    for (int round = 0; round < 3; ++round) {
      keep_property_nodes(warm.properties, ctx.space());
      vesk_test::heap::scope counted;
      ctx.offset = 0x100;
      ASSERT_EQ(add_item_property(warm, ctx, one.data(), 4, 19, 2, &title, default_params()), 4);
      if (round > 0) {
        EXPECT_LE(counted.allocations(), 1) << round;
      }
    }
    EXPECT_EQ(warm.properties.begin()->second.key_text, "26cbc756_00000100");
  }

  // The texts' rooms are bounded: a room too large for the list goes back
  // to the heap, and so does one past the list's length.
  text_rooms rooms;
  std::string big(text_rooms::k_room_most + 1, 'x');
  rooms.give(big);
  EXPECT_EQ(rooms.kept(), 0u);
  for (size_t i = 0; i < text_rooms::k_kept_most + 100; ++i) {
    std::string t(40, 't');
    rooms.give(t);
  }
  EXPECT_EQ(rooms.kept(), text_rooms::k_kept_most);
  property_value taker;
  rooms.take(taker);
  EXPECT_TRUE(taker.text.empty());
  EXPECT_GE(taker.text.capacity(), 40u);
  EXPECT_LE(taker.text.capacity(), text_rooms::k_room_most);
  EXPECT_EQ(rooms.kept(), text_rooms::k_kept_most - 3);
}

TEST(PropertyFiling, KindsWithoutValues) {
  shell_item_record rec;
  parse_ctx ctx;
  property_value pv;
  typed_value tv;
  EXPECT_FALSE(store_typed_value(rec, ctx, tv, pv, default_params()));
  tv.kind = tv_null;
  EXPECT_FALSE(store_typed_value(rec, ctx, tv, pv, default_params()));
  tv.kind = 7;
  EXPECT_FALSE(store_typed_value(rec, ctx, tv, pv, default_params()));
  bytes_t in{1, 0};
  rec.prop_texts.push_back("old");
  EXPECT_EQ(add_item_property(rec, ctx, in.data(), 2, 2, 4, nullptr, default_params()), 0);
  EXPECT_EQ(ctx.consumed, 0u);
  EXPECT_TRUE(rec.prop_texts.empty());  // cleared before the parse
  EXPECT_EQ(add_item_property(rec, ctx, nullptr, 4, 3, 4, nullptr, default_params()), 0);
}

TEST(PropertyFiling, KnownKeyCarriesItsFlags) {
  // ItemNameDisplay B725F130-47EF-101A-A5F1-02608C9EEBAC/10; the id is
  // given as the low half of a stored 0x1000A.
  bytes_t fmtid{0x30, 0xF1, 0x25, 0xB7, 0xEF, 0x47, 0x1A, 0x10,
                0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC};
  guid g;
  g.set(fmtid.data());
  byte_builder b;
  b.u32(3).utf16(u"ab", true);
  bytes_t in = b.take();
  uint32_t stored_pid = 0x1000A;
  // A record whose scratch nobody reads files the same value and leaves
  // its scratch untouched (clearing it is then skipped).
  for (bool unread : {false, true}) {
    shell_item_record rec;
    rec.prop_lists_unread = unread;
    parse_ctx ctx;
    ASSERT_GT(add_item_property(rec, ctx, in.data(), static_cast<int64_t>(in.size()), 31,
                                static_cast<uint16_t>(stored_pid), &g, default_params()),
              0);
    auto got = filed(rec, "ab");
    ASSERT_EQ(got.size(), 1u) << unread;
    EXPECT_EQ(got[0]->key.pid, 10u);
    EXPECT_EQ(got[0]->key_known, 1u);
    EXPECT_EQ(rec.prop_flags[5], unread ? 0 : 1);
    EXPECT_EQ(rec.prop_texts.size(), unread ? 0u : 1u);
  }
}

}  // namespace
}  // namespace vk

namespace vk {
namespace {

void expect_same_value(const property_value& a, const property_value& b, const std::string& at) {
  EXPECT_EQ(a.text, b.text) << at;
  EXPECT_EQ(a.key_text, b.key_text) << at;
  EXPECT_EQ(a.name, b.name) << at;
  EXPECT_EQ(a.name2, b.name2) << at;
  EXPECT_EQ(a.bytes, b.bytes) << at;
  EXPECT_EQ(std::make_tuple(a.number, a.vartype, a.offset, a.offset2, a.key_known, a.key.pid,
                            a.table_flags, a.listed, a.table_bit0, a.table_bit1, a.table_bit3,
                            a.table_bit5, a.is_filetime, a.is_number),
            std::make_tuple(b.number, b.vartype, b.offset, b.offset2, b.key_known, b.key.pid,
                            b.table_flags, b.listed, b.table_bit0, b.table_bit1, b.table_bit3,
                            b.table_bit5, b.is_filetime, b.is_number))
      << at;
}

// Single values take a path of their own: whatever the bytes, it must file
// exactly what decoding into a typed value files, and take the same bytes.
TEST(PropertyFiling, SingleValuePathFilesAsTypedValues) {
  // ParsingName 28636AA6-953D-11D2-B5D6-00C04FD918D0/24 (flags 3).
  const bytes_t set{0xA6, 0x6A, 0x63, 0x28, 0x3D, 0x95, 0xD2, 0x11,
                    0xB5, 0xD6, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0};
  guid known;
  known.set(set.data());
  std::vector<bytes_t> inputs = {
      byte_builder().u32(6).utf16(u"C:\\Win", true).u16(0).take(),
      byte_builder().u32(12).utf16(u"AbC", false).u32(0).take(),  // a count in bytes
      byte_builder().u32(0).u32(0).take(),
      byte_builder().u32(9).take(),
      byte_builder().u32(1).utf16(u"\xD800", false).take(),
      byte_builder().u16(0xFFFF).u16(0).take(),
      byte_builder().u16(7).take(),
      byte_builder().u16(0).u16(0).u32(0).take(),
      set,
  };
  uint32_t seed = 1;
  for (int i = 0; i < 24; ++i) {
    bytes_t mutated = inputs[static_cast<size_t>(i) % inputs.size()];
    mutated.resize(mutated.size() + static_cast<size_t>(i % 5), 0);
    for (uint8_t& x : mutated) {
      seed = seed * 1103515245 + 12345;
      if ((seed >> 16) % 4 == 0) x = static_cast<uint8_t>(seed >> 24);
    }
    inputs.push_back(mutated);
  }
  const uint16_t types[] = {3, 10, 11, 19, 22, 5, 20, 21, 64, 7, 72, 8, 31, 0x201F, 0x4013};
  for (const bytes_t& in : inputs)
    for (uint16_t vt : types)
      for (int64_t size = 0; size <= static_cast<int64_t>(in.size()); ++size)
        for (const guid* fmtid : std::array<const guid*, 2>{&known, nullptr}) {
          shell_item_record rec[2];
          parse_ctx ctx[2];
          int32_t got[2];
          for (int path = 0; path < 2; ++path) {
            ctx[path].offset = 0xFFFFFFF0;
            ctx[path].single_value_path = path == 0;
            got[path] = add_item_property(rec[path], ctx[path], in.data(), size, vt, 24, fmtid,
                                          default_params());
          }
          const std::string at =
              std::to_string(vt) + "/" + std::to_string(size) + "/" + std::to_string(in.size());
          ASSERT_EQ(got[0], got[1]) << at;
          EXPECT_EQ(ctx[0].offset, ctx[1].offset) << at;
          EXPECT_EQ(ctx[0].consumed, ctx[1].consumed) << at;
          EXPECT_EQ(rec[0].prop_texts, rec[1].prop_texts) << at;
          EXPECT_EQ(rec[0].prop_guid_texts, rec[1].prop_guid_texts) << at;
          EXPECT_EQ(rec[0].prop_dwords, rec[1].prop_dwords) << at;
          EXPECT_EQ(rec[0].prop_qwords, rec[1].prop_qwords) << at;
          EXPECT_EQ(rec[0].prop_flags, rec[1].prop_flags) << at;
          ASSERT_EQ(rec[0].properties.size(), rec[1].properties.size()) << at;
          for (auto a = rec[0].properties.begin(), b = rec[1].properties.begin();
               a != rec[0].properties.end(); ++a, ++b) {
            EXPECT_EQ(a->first, b->first) << at;
            expect_same_value(a->second, b->second, at);
          }
        }
}

}  // namespace
}  // namespace vk

namespace vk {
namespace {

// Key texts lower ASCII letters only, whatever the length and the bytes
// around them (UTF-8 sequences, the neighbours of 'A' and 'Z').
TEST(PropertyFiling, KeyTextLowersAsciiOnly) {
  for (std::u16string text : {u"@AZ[`az{", u"\u00C0\u00DEXY-\u0130Q@[Zab\u00C9ZZ", u"A",
                              u"Long Name With Many Words.DOCX"}) {
    shell_item_record rec;
    parse_ctx ctx;
    bytes_t in =
        byte_builder().u32(static_cast<uint32_t>(text.size() + 1)).utf16(text, true).take();
    ASSERT_GT(add_item_property(rec, ctx, in.data(), static_cast<int64_t>(in.size()), 31, 2,
                                nullptr, default_params()),
              0);
    ASSERT_EQ(rec.properties.size(), 1u);
    const property_value& v = rec.properties.begin()->second;
    std::string lower = v.text;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    EXPECT_EQ(v.key_text, lower);
    EXPECT_EQ(rec.properties.begin()->first, lower);
  }
}

}  // namespace
}  // namespace vk
