// Stream values with structures of their own (autolists, search-condition
// trees) and the string-property scan of raw bytes.
#include <gtest/gtest.h>

#include "default_params.h"
#include "idlist_writer.h"
#include "propstore_writer.h"
#include "shell/idlist.h"
#include "shell/property_store.h"

namespace vk {
namespace {

using namespace vesk_test;

const bytes_t k_guid = from_hex("e04fd020ea3a6910a2d808002b30309d");

shell_item_record walk_storage(const bytes_t& in) {
  shell_item_record rec;
  parse_ctx ctx;
  bytes_t exact(in);
  parse_property_storages(ctx, rec, exact.data(), static_cast<int64_t>(exact.size()),
                          default_params());
  return rec;
}

bytes_t condition_in_storage(const bytes_t& tree, std::u16string_view name = k_special_stream) {
  return storage(condition_set_fmtid(), {int_value(6, 66, stream_data(name, tree))});
}

bytes_t text_leaf(uint32_t pid, std::u16string_view text, uint32_t kind = 0) {
  return condition_record(storage_fmtid_b725(), pid, 31, lpwstr_data(text), kind);
}

TEST(SpecialStreams, Tests) {
  // The autolist header's u32 at 56 (10 here) with the 58-byte header must fit.
  byte_builder h;
  h.u32(68).bytes(autolist_guid()).pad_to(56).u32(10).pad_to(68);
  bytes_t header = h.take();
  EXPECT_TRUE(is_autolist_header(header.data(), 68));
  EXPECT_FALSE(is_autolist_header(header.data(), 67));
  parse_ctx ctx;
  shell_item_record rec;
  ctx.consumed = 2;
  EXPECT_TRUE(skip_autolist_header(header.data(), ctx, rec, header.data(), 68, default_params()));
  EXPECT_EQ(ctx.consumed, 60u);

  bytes_t tree = condition_tree({}, 1);
  tree.resize(88);
  EXPECT_FALSE(is_condition_tree(tree.data(), 31));
  EXPECT_FALSE(is_condition_tree(tree.data(), 87));
  EXPECT_TRUE(is_condition_tree(tree.data(), 88));
  tree[20] = 0;
  EXPECT_TRUE(is_condition_tree(tree.data(), 32));

  bytes_t value = condition_value_record(5);
  EXPECT_FALSE(is_condition_guid_record(value.data(), 83));
  EXPECT_TRUE(is_condition_guid_record(value.data(), 84));
  value[16] = 0;
  EXPECT_TRUE(is_condition_guid_record(value.data(), 46));
  EXPECT_FALSE(is_condition_guid_record(value.data(), 45));
}

TEST(SpecialStreams, ConditionTrees) {
  // Two property leaves give two property sets; the value record between
  // them is skipped by the walk.
  bytes_t tree = condition_tree(
      {text_leaf(10, u"Alpha"), condition_value_record(0x01D0000000000000), text_leaf(4, u"Beta")});
  shell_item_record rec = walk_storage(condition_in_storage(tree));
  EXPECT_TRUE(rec.flags & itemflag_stream_value);
  EXPECT_EQ(rec.properties.count("prop4294967295"), 1u);
  EXPECT_EQ(rec.properties.count("alpha"), 1u);
  EXPECT_EQ(rec.properties.count("beta"), 1u);
  EXPECT_EQ(rec.modified, 0u);
  // Leaf offsets count from the record's value (the offset is set to 46).
  EXPECT_EQ(rec.properties.find("alpha")->second.offset, 50u);

  // A value record on its own gives the modified time.
  bytes_t value = condition_value_record(0x01D0000000000000);
  shell_item_record one;
  parse_ctx ctx;
  EXPECT_TRUE(parse_condition_record(value.data(), ctx, one, value.data(),
                                     static_cast<int64_t>(value.size()), default_params()));
  EXPECT_EQ(one.modified, 0x01D0000000000000u);

  // Under any other stream name the data stays a plain stream.
  shell_item_record plain = walk_storage(condition_in_storage(tree, u"other"));
  EXPECT_TRUE(plain.flags & itemflag_stream_value);
  EXPECT_EQ(plain.properties.count("other"), 1u);
  EXPECT_EQ(plain.properties.count("alpha"), 0u);

  // A leaf whose value is itself a condition stream: that stream is filed,
  // not expanded again, so the leaf inside is filed once.
  byte_builder inner_stream;
  inner_stream.bytes(stream_data(k_special_stream, condition_tree({text_leaf(4, u"Inner")})));
  bytes_t nested =
      condition_tree({condition_record(condition_set_fmtid(), 6, 66, inner_stream.take())});
  shell_item_record n = walk_storage(condition_in_storage(nested));
  EXPECT_EQ(n.properties.count("inner"), 1u);
  EXPECT_EQ(n.properties.count("prop4294967295"), 2u);

  // Two further condition streams: the first one's window runs to the
  // storage's end and holds the second; the second is filed, not expanded
  // again, so each record is filed once.
  shell_item_record twice = walk_storage(storage(
      condition_set_fmtid(),
      {int_value(4, 31, lpwstr_data(u"first")),
       int_value(6, 66, stream_data(k_special_stream, condition_tree({text_leaf(10, u"Alpha")}))),
       int_value(6, 66, stream_data(k_special_stream, condition_tree({text_leaf(11, u"Beta")})))}));
  EXPECT_EQ(twice.properties.count("prop4294967295"), 2u);
  EXPECT_EQ(twice.properties.count("alpha"), 1u);
  EXPECT_EQ(twice.properties.count("beta"), 1u);
}

TEST(SpecialStreams, Autolists) {
  bytes_t root = shell_item(0x1F, cat({{0x50}, k_guid}));
  bytes_t stream = autolist_stream(
      {{{0, 0}, {}}, {idlist({root}), {condition_leaf(u"word")}}, {idlist({root, root}), {}}});
  shell_item_record rec;
  parse_ctx ctx;
  ASSERT_TRUE(parse_autolist_stream(rec, ctx, stream.data(), static_cast<int64_t>(stream.size()),
                                    default_params()));
  ASSERT_EQ(rec.embedded_lists.size(), 2u);
  EXPECT_EQ(rec.embedded_lists[0].size(), 1u);
  EXPECT_EQ(rec.embedded_lists[1].size(), 2u);
  ASSERT_EQ(rec.names.size(), 1u);
  EXPECT_EQ(rec.names[0].rfind("item [word]", 0), 0u);
  // Filed from a storage under the key the table names AutoList, the
  // stream is expanded; under the condition key it is not an autolist.
  shell_item_record parsed = walk_storage(
      storage(condition_set_fmtid(), {int_value(2, 66, stream_data(k_special_stream, stream))}));
  EXPECT_EQ(parsed.embedded_lists.size(), 2u);
  EXPECT_EQ(parsed.names.size(), 1u);
  EXPECT_TRUE(walk_storage(condition_in_storage(stream)).embedded_lists.empty());
  // The header test reads the first list's first bytes: a first list that
  // is not empty makes the u32 at 56 too large for the stream.
  bytes_t big = autolist_stream({{idlist({root}), {}}});
  EXPECT_FALSE(parse_autolist_stream(rec, ctx, big.data(), static_cast<int64_t>(big.size()),
                                     default_params()));
}

TEST(StringScan, HeadersInFrontOfStrings) {
  // Offset 10: kept as found under vartype 13; offset 30 without a header:
  // lower-cased, vartype 0.
  byte_builder b;
  b.pad_to(10).utf16(u"AbC").pad_to(30).utf16(u"WoRlD").u16(0);
  bytes_t plain = b.take();
  property_value_map out;
  parse_ctx ctx;
  ASSERT_TRUE(
      scan_string_properties(plain.data(), static_cast<int64_t>(plain.size()), out, nullptr, ctx));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.find("AbC")->second.vartype, 13u);
  EXPECT_EQ(out.find("AbC")->second.bytes.size(), 6u);
  EXPECT_EQ(out.find("world")->second.vartype, 0u);
  EXPECT_EQ(out.find("world")->second.text, "WoRlD");
  EXPECT_EQ(out.find("world")->second.offset, 30u);

  // An LPWSTR value 17 bytes in front: size, id, vartype 31, count.
  byte_builder v;
  v.fill(40).u32(17 + 12).u32(0x0A).u8(0).u32(31).u32(6).utf16(u"Named", true);
  bytes_t value = v.take();
  ASSERT_TRUE(
      scan_string_properties(value.data(), static_cast<int64_t>(value.size()), out, nullptr, ctx));
  ASSERT_EQ(out.count("named"), 1u);
  EXPECT_EQ(out.find("named")->second.key.pid, 10u);
  EXPECT_EQ(out.find("named")->second.vartype, 31u);
  EXPECT_EQ(out.find("named")->second.key_known, 1u);

  // A storage 42 bytes in front: its FMTID, id and VARTYPE.
  byte_builder s;
  s.fill(4).u32(0).u32(0x53505331).bytes(storage_fmtid_b725()).u32(60).u32(12).u8(0).u16(31);
  s.pad_to(4 + 42).utf16(u"Stored", true).pad_to(4 + 64);
  bytes_t stored = s.take();
  stored[4] = 64;
  ASSERT_TRUE(scan_string_properties(stored.data(), static_cast<int64_t>(stored.size()), out,
                                     nullptr, ctx));
  ASSERT_EQ(out.count("stored"), 1u);
  EXPECT_EQ(out.find("stored")->second.key.pid, 12u);
  EXPECT_EQ(out.find("stored")->second.bytes.size(), 42u + 12u);

  // With a filter only the FMTID 24 bytes in front is tested; the bytes run
  // to the u32 at the string (cut at the buffer's end).
  guid filter;
  filter.set(storage_fmtid_b725().data());
  byte_builder f;
  f.fill(6).bytes(storage_fmtid_b725()).u32(7).u32(31).utf16(u"Filtered", true);
  bytes_t filtered = f.take();
  ASSERT_TRUE(scan_string_properties(filtered.data(), static_cast<int64_t>(filtered.size()), out,
                                     &filter, ctx));
  ASSERT_EQ(out.count("filtered"), 1u);
  EXPECT_EQ(out.find("filtered")->second.key.pid, 7u);
  EXPECT_EQ(out.find("filtered")->second.bytes.size(), filtered.size() - 6);
  // The scan starts from an empty collection.
  EXPECT_EQ(out.size(), 1u);
  EXPECT_FALSE(scan_string_properties(filtered.data(), 5, out, &filter, ctx));
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace vk
