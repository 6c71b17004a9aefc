// Hostile property storages, special streams and embedded structures: the
// shapes that once cost exponential work or read past their bytes, every
// truncation (their mutations are the property_storage and shell_item fuzz
// targets' work). Work is bounded by the parse guard and counted through it;
// the sanitizers catch any read outside the input.
#include <gtest/gtest.h>

#include <functional>

#include "default_params.h"
#include "shell/embedded_scan.h"
#include "shell/idlist.h"
#include "shell/property_store.h"
#include "shell_hostile_inputs.h"

namespace vk {
namespace {

using namespace vesk_test;

// The storages' walk over bytes: the values it kept, by integer name (pids,
// in that order) then by string name (one, two, three), and its fault.
struct walked {
  std::string kept;
  parse_fault fault;
};
walked walk_storages(const prop_bytes_t& bytes, std::initializer_list<uint32_t> pids) {
  walked w;
  shell_item_record rec;
  parse_ctx ctx;
  bool values_only = true;
  parse_property_storages_noting(ctx, rec, bytes.data(), static_cast<int64_t>(bytes.size()),
                                 default_params(), values_only, &w.fault);
  auto add = [&](const std::string& k) { w.kept += w.kept.empty() ? k : " " + k; };
  for (uint32_t pid : pids)
    for (const auto& [key, value] : rec.properties)
      if (!value.string_named && value.key.pid == pid) {
        add(std::to_string(pid));
        break;
      }
  for (const char* name : {"one", "two", "three"})
    for (const auto& [key, value] : rec.properties)
      if (value.name == name) add(name);
  return w;
}

const bytes_t& k_guid = hostile_guid();

using driver = std::function<void(const uint8_t*, int64_t, shell_item_record&)>;

void storages(const uint8_t* p, int64_t n, shell_item_record& rec) {
  parse_ctx ctx;
  parse_property_storages(ctx, rec, p, n, default_params());
}
// The scans under the context's guard (a fresh context: a guard of their own).
void scanner_with(parse_ctx& ctx, const uint8_t* p, int64_t n, shell_item_record& rec) {
  scan_extension_blocks(ctx, rec, p, n, default_params());
  property_value_map found;
  scan_string_properties(p, n, found, nullptr, ctx);
  shell_item_list list;
  parse_idlist(list, p, n, false, false, ctx, default_params());
}
void scanner(const uint8_t* p, int64_t n, shell_item_record& rec) {
  parse_ctx ctx;
  scanner_with(ctx, p, n, rec);
}
void streams(const uint8_t* p, int64_t n, shell_item_record& rec) {
  parse_ctx ctx;
  parse_condition_stream(rec, ctx, p, n, default_params());
  parse_autolist_stream(rec, ctx, p, n, default_params());
}

// 0xF5A6B710 structures nested in the item at 10, each also followed by a
// list holding the same structure again.
bytes_t nested_f5a6b710(int depth) {
  bytes_t inner = shell_item(0x1F, cat({{0x50}, k_guid}));
  for (int d = 0; d < depth; ++d) inner = f5a6b710_record(inner, idlist({inner}));
  return inner;
}

struct seed {
  bytes_t bytes;
  driver run;
};

std::vector<seed> seeds() {
  std::vector<seed> out;
  for (bytes_t& b : hostile_storages()) out.push_back({std::move(b), storages});
  out.push_back({hostile_autolist(), streams});
  for (bytes_t& b : hostile_embedded()) out.push_back({std::move(b), scanner});
  return out;
}

void run(const seed& s, const bytes_t& in) {
  bytes_t exact(in);
  shell_item_record rec;
  s.run(exact.data(), static_cast<int64_t>(exact.size()), rec);
}

TEST(PropertyHostile, ShapesEndWithBoundedWork) {
  // 40 nested condition streams: each is filed, none is expanded inside
  // another, so every record is filed once and the work stays linear.
  bytes_t nested = nested_conditions(40);
  ASSERT_LT(nested.size(), 6000u);
  shell_item_record rec;
  int64_t used = 0, budget = 0;
  {
    parse_ctx ctx;
    guard_level top(ctx, static_cast<int64_t>(nested.size()));
    parse_property_storages(ctx, rec, nested.data(), static_cast<int64_t>(nested.size()),
                            default_params());
    used = ctx.guard->used();
    budget = ctx.guard->budget();
    EXPECT_FALSE(ctx.guard->tripped());
  }
  EXPECT_EQ(rec.properties.count("innermost"), 1u);
  EXPECT_EQ(rec.properties.count("prop4294967295"), 41u);
  EXPECT_LT(used, budget / 8);

  // Nested 0xF5A6B710 items with a copy of themselves behind: the guard
  // bounds depth and work, and the levels it does not enter are said once
  // (9 nestings stay within its depth, 10 do not).
  for (const int depth : {9, 10}) {
    bytes_t f5 = nested_f5a6b710(depth);
    shell_scratch scratch;
    fault_sink sink;
    scratch.faults = &sink;
    parse_ctx ctx;
    ctx.scratch = &scratch;
    guard_level top(ctx, static_cast<int64_t>(f5.size()));
    shell_item_record r;
    scanner_with(ctx, f5.data(), static_cast<int64_t>(f5.size()), r);
    EXPECT_LE(ctx.guard->used(), ctx.guard->budget());
    ASSERT_EQ(sink.size(), depth == 10 ? 1u : 0u) << depth;
    if (depth == 10) {
      EXPECT_STREQ(sink[0].cause, k_fault_depth_limit);
    }
  }

  // A first value of 5 bytes; a string name past its storage; an untyped
  // text at the buffer's end; a sized record whose GUID data passes the end;
  // AugM with d = 0xFFFFFFF0: nothing is filed or read past the bytes.
  bytes_t five = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"abc"), 5)});
  shell_item_record r5;
  storages(five.data(), static_cast<int64_t>(five.size()), r5);
  EXPECT_TRUE(r5.properties.empty());
  bytes_t long_name = storage(string_named_fmtid(), {named_value(u"Title", 31, lpwstr_data(u"R"))});
  long_name[28] = 0xF0;  // name size far past the storage
  shell_item_record rn;
  storages(long_name.data(), static_cast<int64_t>(long_name.size()), rn);
  EXPECT_TRUE(rn.properties.empty());
  bytes_t last = untyped_text(u"Z", 0, false);
  ASSERT_EQ(last.size(), 8u);
  shell_item_record ru;
  parse_ctx ctx;
  EXPECT_FALSE(parse_untyped_block(ctx, ru, last.data(), 8, default_params()));
  EXPECT_EQ(ru.flags, uint64_t{itemflag_untyped});
  byte_builder sized;
  sized.u16(16).u16(0).u16(16).fill(6).u16(15).u16(0xBEEF);
  bytes_t near_end = sized.take();
  shell_item_record rs;
  EXPECT_EQ(parse_sized_record_with_offsets(ctx, rs, near_end.data(), 16, default_params()), 29);
  scan_extension_blocks(ctx, rs, near_end.data(), 16, default_params());
  EXPECT_TRUE(rs.guids.empty());
  bytes_t far = augm_record(1, {file_entry_item(0x32, 1, 0, 0, 0, "x")});
  far[8] = 0xF0, far[9] = far[10] = far[11] = 0xFF;
  shell_item_record ra;
  scanner(far.data(), static_cast<int64_t>(far.size()), ra);
  EXPECT_EQ(ra.flags & itemflag_augm, 0u);
}

// A string-named value whose name size does not fit its name (too long for
// the value, not even, not ending in the name's NUL) is said and stepped
// over by its own size: the values around it are kept. A value whose own
// size runs past the storage ends the walk, said.
TEST(PropertyHostile, DamagedStringNamedValueIsSaid) {
  const prop_bytes_t a = named_value(u"one", 0x1F, lpwstr_data(u"x"));
  const prop_bytes_t b = named_value(u"two", 0x1F, lpwstr_data(u"y"));
  const prop_bytes_t c = named_value(u"three", 0x1F, lpwstr_data(u"z"));
  const size_t at_a = 24, at_b = at_a + a.size();
  const uint32_t b_name = 8;  // "two" and its NUL
  constexpr const char* k_name = "name size does not fit its name";
  const struct {
    const char* what;
    size_t value;  // the value changed: its offset in the storage
    size_t field;  // its field changed, from the value's start
    uint32_t set;  // the field's new value
    const char* kept;
    const char* cause;  // null: none
  } cases[] = {
      {"sound", at_b, 4, b_name, "one two three", nullptr},
      {"name past its value", at_b, 4, 0xF0F0, "one three", k_name},
      {"name grown by 2", at_b, 4, b_name + 2, "one three", k_name},
      {"name shrunk by 2", at_b, 4, b_name - 2, "one three", k_name},
      {"name shrunk by 4", at_b, 4, b_name - 4, "one three", k_name},
      {"odd name size", at_b, 4, b_name - 1, "one three", k_name},
      {"no name", at_b, 4, 0, "one three", k_name},
      {"first name past its value", at_a, 4, 0xF0F0, "two three", k_name},
      {"value past its storage", at_b, 0, 0x400, "one", "value size runs past the storage"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.what);
    prop_bytes_t bytes = storage(string_named_fmtid(), {a, b, c});
    for (size_t i = 0; i < 4; ++i)
      bytes[t.value + t.field + i] = static_cast<uint8_t>(t.set >> (8 * i));
    const auto [kept, fault] = walk_storages(bytes, {});
    EXPECT_EQ(kept, t.kept);
    if (!t.cause) {
      EXPECT_FALSE(fault);
      continue;
    }
    ASSERT_TRUE(fault);
    EXPECT_STREQ(fault.structure, "property value");
    EXPECT_EQ(fault.offset, t.value);
    EXPECT_STREQ(fault.cause, t.cause);
  }
}

// A value whose declared size disagrees with its data, a type no property
// holds or data it cannot hold, and bytes the walk leaves behind are each
// said at the value, with what was read before kept; sound values, padded or
// of a type not decoded, are not.
TEST(PropertyHostile, MisframedValueIsSaid) {
  using edit = std::function<void(prop_bytes_t&)>;
  auto set_u32 = [](prop_bytes_t& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  // Integer-named: ids 10 (text, 29 bytes), 11 (number, 17), 12 (text, 29).
  const prop_bytes_t a = int_value(10, 0x1F, lpwstr_data(u"alpha"));
  const prop_bytes_t b = int_value(11, 0x03, u32_data(7));
  const prop_bytes_t c = int_value(12, 0x1F, lpwstr_data(u"gamma"));
  const size_t ia = 24, ib = ia + a.size(), ic = ib + b.size();
  // String-named: "one", "two", "three", each an 8-byte text.
  const prop_bytes_t x = named_value(u"one", 0x1F, lpwstr_data(u"x"));
  const prop_bytes_t y = named_value(u"two", 0x1F, lpwstr_data(u"y"));
  const prop_bytes_t z = named_value(u"three", 0x1F, lpwstr_data(u"z"));
  const size_t iy = 24 + x.size();
  ASSERT_EQ(a.size(), 29u);
  ASSERT_EQ(y.size(), 29u);
  prop_bytes_t two_padded = y;  // two zeros between its name and its type
  two_padded.insert(two_padded.begin() + 17, {0, 0});
  prop_bytes_t two_cut(y.begin(), y.begin() + 17);  // its name ends the storage
  set_u32(two_cut, 0, 17);
  const prop_bytes_t terminator = {0, 0, 0, 0};
  const prop_bytes_t ints = storage(storage_fmtid_b725(), {a, b, c});
  const prop_bytes_t names = storage(string_named_fmtid(), {x, y, z});
  auto int_storage = [&](const std::vector<prop_bytes_t>& values, bool terminate = true) {
    return storage(storage_fmtid_b725(), values, terminate);
  };
  // Texts of 32,778 and 66,010 bytes of data: values past 32 KiB and 64 KiB.
  const prop_bytes_t past_32k = lpwstr_data(std::u16string(16385, u'k'));
  const prop_bytes_t past_64k = lpwstr_data(std::u16string(33001, u'm'));
  constexpr const char* k_past = "value's data runs past its declared size";
  constexpr const char* k_grown = "declared size runs past the value's data";
  constexpr const char* k_below = "value size below its header";
  constexpr const char* k_undecoded = "value's data does not decode within its size";
  constexpr const char* k_left = "bytes past the last value hold data; not read";
  const struct {
    const char* what;
    prop_bytes_t bytes;
    edit change;  // null: none
    const char* kept;
    size_t at;
    const char* cause;  // null: no fault
  } cases[] = {
      {"sound", ints, nullptr, "10 11 12", 0, nullptr},
      {"sound, padded and zeros after the terminator",
       int_storage({int_value(10, 0x1F, cat({lpwstr_data(u"alpha"), {0, 0, 0}})),
                    b,
                    c,
                    terminator,
                    {0, 0, 0, 0, 0, 0}}),
       nullptr, "10 11 12", 0, nullptr},
      {"a 16-bit number, not decoded", int_storage({int_value(10, 0x02, u32_data(5)), b, c}),
       nullptr, "11 12", 0, nullptr},
      {"first value shrunk by 2", ints, [&](prop_bytes_t& s) { set_u32(s, ia, 27); }, "11 12", ia,
       k_past},
      {"first value grown by 4", ints, [&](prop_bytes_t& s) { set_u32(s, ia, 33); }, "10 12", ia,
       k_grown},
      {"first value below its header", ints, [&](prop_bytes_t& s) { set_u32(s, ia, 9); }, "", ia,
       k_below},
      {"number grown by 4", ints, [&](prop_bytes_t& s) { set_u32(s, ib, 21); }, "10 11", ib,
       k_grown},
      {"number below its header", ints, [&](prop_bytes_t& s) { set_u32(s, ib, 5); }, "10 11", ib,
       k_below},
      {"last text shrunk by 4", ints, [&](prop_bytes_t& s) { set_u32(s, ic, 25); }, "10 11 12", ic,
       k_past},
      {"last text shrunk by 2: its NUL past it", ints, [&](prop_bytes_t& s) { set_u32(s, ic, 27); },
       "10 11 12", ic, k_past},
      {"text count past its value", ints, [&](prop_bytes_t& s) { set_u32(s, ia + 13, 0xFF00FF); },
       "11 12", ia, k_undecoded},
      {"null with data", ints, [&](prop_bytes_t& s) { s[ia + 9] = 0x01; }, "11 12", ia,
       k_undecoded},
      {"no property type", ints, [&](prop_bytes_t& s) { s[ia + 9] = 0x1C; }, "11 12", ia,
       "value's type is no property type"},
      {"a later type with stray high bits", ints, [&](prop_bytes_t& s) { s[ic + 10] = 0x12; },
       "10 11 12", ic, "value's type is no property type"},
      {"last text grown by 2 into the terminator", ints,
       [&](prop_bytes_t& s) { set_u32(s, ic, 31); }, "10 11 12", ic + 31,
       "the values' terminator is cut short"},
      {"values filling the storage, no terminator", int_storage({a, b, c}, false), nullptr,
       "10 11 12", ic + c.size(), "the values fill the storage: its terminator is missing"},
      {"zeros where a value's size belongs", int_storage({a, {0, 0}, b, c}), nullptr, "10 11 12",
       ib, "zeros where a value's size belongs"},
      {"a first text past 64 KiB", int_storage({int_value(10, 0x1F, past_64k), b, c}), nullptr,
       "10 11 12", 0, nullptr},
      {"a later text past 64 KiB", int_storage({a, int_value(11, 0x1F, past_64k), c}), nullptr,
       "10 11 12", 0, nullptr},
      {"a later value declared past its storage", ints,
       [&](prop_bytes_t& s) { set_u32(s, ib, 65537); }, "10 11", ib,
       "value size runs past the storage"},
      {"bytes behind the terminator",
       int_storage({a, b, terminator, {0xAB, 0xCD, 0, 0, 0, 0}}, false), nullptr, "10 11", ic,
       k_left},
      {"an array of two numbers, stepped over",
       int_storage(
           {a, int_value(11, 0x2003, array_data(3, {2}, cat({u32_data(7), u32_data(9)}))), c}),
       nullptr, "10 12", 0, nullptr},
      {"an array of no dimensions",
       int_storage({a, int_value(11, 0x2003, array_data(3, {}, {})), c}), nullptr, "10 12", ib,
       k_undecoded},
      {"an array counting more elements than it holds",
       int_storage({a, int_value(11, 0x2003, array_data(3, {3}, u32_data(7))), c}), nullptr,
       "10 12", ib, k_undecoded},
      {"strings sound", names, nullptr, "one two three", 0, nullptr},
      {"a string-named array, stepped over",
       storage(string_named_fmtid(),
               {x, named_value(u"two", 0x2002, array_data(2, {1}, {5, 0, 0, 0})), z}),
       nullptr, "one three", 0, nullptr},
      {"a stream, whose data runs to the storage's end",
       storage(string_named_fmtid(),
               {named_value(u"one", 0x42, stream_data(u"s", {1, 2, 3, 4})), y}),
       nullptr, "one two", 0, nullptr},
      {"an integer-named stream",
       int_storage({a, int_value(11, 0x42, stream_data(u"s", {1, 2, 3, 4})), c}), nullptr,
       "10 11 12", 0, nullptr},
      {"string shrunk by 4", names, [&](prop_bytes_t& s) { set_u32(s, iy, 25); }, "one two", iy,
       k_past},
      {"string grown by 4", names, [&](prop_bytes_t& s) { set_u32(s, iy, 33); }, "one two", iy,
       k_grown},
      {"a first string-named text past 32 KiB",
       storage(string_named_fmtid(), {named_value(u"one", 0x1F, past_32k), y, z}), nullptr,
       "one two three", 0, nullptr},
      {"a later string-named text past 32 KiB",
       storage(string_named_fmtid(), {x, named_value(u"two", 0x1F, past_32k), z}), nullptr,
       "one two three", 0, nullptr},
      {"zeros between a name and its type", storage(string_named_fmtid(), {x, two_padded, z}),
       [&](prop_bytes_t& s) { set_u32(s, iy, 31); }, "one two three", iy,
       "zeros between a value's name and its type"},
      {"a value behind the terminator", storage(string_named_fmtid(), {x, terminator, y}), nullptr,
       "one", iy, k_left},
      {"strings filling the storage, no terminator",
       storage(string_named_fmtid(), {x, y, z}, false), nullptr, "one two three",
       iy + y.size() + z.size(), "the values fill the storage: its terminator is missing"},
      {"type past the storage", storage(string_named_fmtid(), {x, two_cut}, false), nullptr, "one",
       iy, "value's type lies past the storage"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.what);
    prop_bytes_t bytes = t.bytes;
    if (t.change) t.change(bytes);
    const auto [kept, fault] = walk_storages(bytes, {10, 11, 12});
    EXPECT_EQ(kept, t.kept);
    if (!t.cause) {
      EXPECT_FALSE(fault) << fault.cause;
      continue;
    }
    ASSERT_TRUE(fault);
    EXPECT_STREQ(fault.structure, "property value");
    EXPECT_EQ(fault.offset, t.at);
    EXPECT_STREQ(fault.cause, t.cause);
  }
}

TEST(PropertyHostile, EveryTruncation) {
  auto all = seeds();
  for (const seed& s : all)
    for (size_t len = 0; len <= s.bytes.size(); ++len)
      run(s, bytes_t(s.bytes.begin(), s.bytes.begin() + len));
  const seed large{nested_conditions(40), storages};
  for (size_t len = 0; len <= large.bytes.size(); len += 7)
    run(large, bytes_t(large.bytes.begin(), large.bytes.begin() + len));
}

}  // namespace
}  // namespace vk
