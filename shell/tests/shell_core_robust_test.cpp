// Truncated and mutated inputs to the structure tests and the bounded
// readers: under the sanitizers any read outside the input is a failure.
#include <gtest/gtest.h>

#include <random>

#include "byte_builder.h"
#include "shell/shell_item.h"

namespace vk {
namespace {

using vesk_test::byte_builder;

std::vector<std::vector<uint8_t>> seeds() {
  std::vector<std::vector<uint8_t>> out;
  byte_builder v5;
  v5.u16(0).u16(5).u16(11).u16(0xBEEF).fill(8).utf16(u"name", true).u16(1).u16(2);
  v5.utf16(u"s1", true).utf16(u"s2", true).u64(111).u64(222).fill(12).u16(3).utf16(u"s3", true);
  v5.put_u16(0, static_cast<uint16_t>(v5.size()));
  out.push_back(v5.take());
  byte_builder recycle;
  recycle.u16(704).u16(0).u16(8).u16(0xBEEF).fill(8).u64(1).utf16(u"C:\\a\\b.txt", true);
  recycle.pad_to(300).utf16(u"b.txt", true).pad_to(544).utf16(u"$R123.txt", true).pad_to(704);
  out.push_back(recycle.take());
  byte_builder cfsf;
  cfsf.u16(21).u32(0x46534643).u16(21).pad_to(60);
  out.push_back(cfsf.take());
  byte_builder sized;
  sized.u16(40).u16(0).u16(30).fill(6).u16(16).fill(16).pad_to(40);
  out.push_back(sized.take());
  byte_builder items;
  items.u16(48).u8(0x61).u8(0x80).fill(4).utf16(u"http://x", true).pad_to(48);
  out.push_back(items.take());
  byte_builder b45;
  b45.u16(19).u16(0).u16(19).u32(0x45177777).pad_to(24);
  out.push_back(b45.take());
  return out;
}

// Every routine under test, on one exactly sized input.
void run_all(const std::vector<uint8_t>& in) {
  const uint8_t* p = in.empty() ? nullptr : in.data();
  int64_t n = static_cast<int64_t>(in.size());
  bool (*tests[])(const uint8_t*, int64_t) = {is_type_2e_item,
                                              is_type_73_77_item,
                                              is_type_2c_item,
                                              is_type_61_67_item,
                                              is_type_61_item,
                                              is_property_list_header,
                                              is_sized_record_with_offsets,
                                              is_cfsf_header,
                                              is_45177777_block};
  for (auto test : tests) test(p, n);
  std::string name, s1, s2, s3;
  uint64_t a = 0, b = 0;
  parse_beef_v5_id11(p, n, name, s1, s2, s3, a, b);
  parse_ctx ctx;
  ctx.debug = 1;
  recycle_block_debug_length(p, n, ctx);
  shell_item_record rec;
  parse_45177777_block(p, ctx, rec, p, n);
  variable_header_length(p, n);
  std::string s;
  byte_view v(p, in.size());
  for (int64_t start : {int64_t{0}, int64_t{1}, n / 2, n - 1, n})
    for (int64_t end : {int64_t{0}, n / 2, n - 1, n, n + 7}) {
      read_utf16(v, start, end, s);
      read_ansi(v, start, end, s);
    }
}

TEST(ShellCoreRobustness, TruncationsAndMutations) {
  auto inputs = seeds();
  for (const auto& in : inputs)
    for (size_t len = 0; len <= in.size(); ++len)
      run_all(std::vector<uint8_t>(in.begin(), in.begin() + len));
  std::mt19937 rng(1414);
  const int k_rounds = 102'000;
  for (int i = 0; i < k_rounds; ++i) {
    const auto& in = inputs[i % inputs.size()];
    run_all(vesk_test::mutate(in, rng, 1 + i % 6));
  }
  // Random sizes written over the size fields.
  for (int i = 0; i < 6000; ++i) {
    std::vector<uint8_t> in = inputs[i % inputs.size()];
    in[0] = static_cast<uint8_t>(rng());
    in[1] = static_cast<uint8_t>(rng() & 3);
    run_all(in);
  }
}

}  // namespace
}  // namespace vk
