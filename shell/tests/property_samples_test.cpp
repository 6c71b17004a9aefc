// The serialized property storages of the sample shell links, found by
// their "1SPS" signature: each is walked, and the item name of every
// B725F130-47EF-101A-A5F1-02608C9EEBAC storage (id 10, VT_LPWSTR first
// value) must be filed with the text a decoder of the test's own reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "jumplist_samples.h"
#include "propstore_writer.h"
#include "shell/property_store.h"

namespace vk {
namespace {

// UTF-16LE units up to n or the first zero unit, as UTF-8.
std::string decode_utf16(const uint8_t* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = p[2 * i] | (p[2 * i + 1] << 8);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      uint32_t low = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(PropertySamples, StoragesOfSampleLinks) {
  auto samples = vesk_test::samples_of_kind("lnk");
  if (samples.empty()) GTEST_SKIP() << "sample folder absent: no link files to read";
  const cmd_params opts;
  const auto item_set = vesk_test::storage_fmtid_b725();
  const uint8_t sig[4] = {'1', 'S', 'P', 'S'};
  size_t storages = 0, names = 0;
  for (const auto& s : samples) {
    const auto& b = s.bytes;
    for (auto it = std::search(b.begin(), b.end(), sig, sig + 4); it != b.end();
         it = std::search(it + 1, b.end(), sig, sig + 4)) {
      const size_t at = static_cast<size_t>(it - b.begin());
      if (at < 4) continue;
      const size_t start = at - 4;
      const size_t size = std::min<size_t>(le32(b, start), b.size() - start);
      // An exactly sized copy, so that the sanitizers see any read past it.
      std::vector<uint8_t> one(b.begin() + start, b.begin() + start + size);
      shell_item_record rec;
      parse_ctx ctx;
      ctx.offset = start;
      parse_property_storages(ctx, rec, one.data(), static_cast<int64_t>(one.size()), opts);
      ++storages;

      if (size < 41 || !std::equal(item_set.begin(), item_set.end(), one.begin() + 8)) continue;
      const uint32_t first = le32(one, 24);
      if (le32(one, 28) != 10 || one[33] != 31 || one[34] != 0 || first < 17 || first > size - 24)
        continue;
      const size_t units = std::min<size_t>(le32(one, 37), (first - 17) / 2);
      const std::string expected = decode_utf16(one.data() + 41, units);
      if (expected.empty()) continue;
      bool filed = false;
      for (const auto& [key, value] : rec.properties)
        filed |= value.key.pid == 10 && value.text == expected && value.vartype == 31;
      EXPECT_TRUE(filed) << s.relpath << " at " << start << ": " << expected;
      ++names;
    }
  }
  EXPECT_GT(storages, 0u);
  EXPECT_GT(names, 0u);
}

}  // namespace
}  // namespace vk
