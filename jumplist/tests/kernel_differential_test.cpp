// The jump-list library's word-at-a-time and vector kernels against plain
// loops, over every length to 100 at every alignment and each deciding value
// at each position (testing/kernel_inputs.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "jumplist/jumplist_kernels.h"
#include "jumplist/vesk_main.h"
#include "kernel_inputs.h"

using namespace vk;
using vk::testing::byte_range;
using vk::testing::every_byte;
using vk::testing::for_each_kernel_input;

namespace {

// The carver's text check, unit by unit: as far as the bytes hold the
// text, an 8-bit one holds no control byte but NUL, tab and line ends, a
// UTF-16 one no U+FFFE/U+FFFF and no surrogate outside a pair (a high half
// at the held end may pair with a unit not held yet).
bool plain_text_decodes(const uint8_t* p, size_t bytes, uint64_t count, uint64_t unit) {
  const uint64_t held = std::min<uint64_t>(count, bytes / unit);
  if (unit == 1) {
    for (uint64_t i = 0; i < held; ++i)
      if (p[i] < 0x20 && p[i] != 0 && p[i] != '\t' && p[i] != '\n' && p[i] != '\r') return false;
    return true;
  }
  bool want_low = false;
  for (uint64_t i = 0; i < held; ++i) {
    const uint32_t c = p[2 * i] | (p[2 * i + 1] << 8);
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (low != want_low || c >= 0xFFFE) return false;
    want_low = high;
  }
  return !want_low || held < count;
}

TEST(JumplistKernelDifferential, TextCheckMatchesAPlainLoop) {
  for_each_kernel_input(1, byte_range(0x20, 0xFF), every_byte(), [](const uint8_t* p, size_t n) {
    for (uint64_t count : {uint64_t{n}, uint64_t{n + 1}, uint64_t{n / 2}}) {
      ASSERT_EQ(plain_text_decodes(p, n, count, 1),
                text_decodes_for_test(byte_view(p, n), count, 1))
          << n << " count " << count;
    }
  });
  const std::vector<uint16_t> deciding = {0,      0x1F,   0xD7FF, 0xD800, 0xDA00, 0xDBFF, 0xDC00,
                                          0xDDDD, 0xDFFF, 0xE000, 0xFFFD, 0xFFFE, 0xFFFF, 0x00D8};
  auto check = [](const uint8_t* p, size_t bytes) {
    for (size_t b : {bytes, bytes - (bytes > 0)}) {
      for (uint64_t count : {uint64_t{b / 2}, uint64_t{b / 2 + 1}, uint64_t{b / 4}}) {
        ASSERT_EQ(plain_text_decodes(p, b, count, 2),
                  text_decodes_for_test(byte_view(p, b), count, 2))
            << b << " count " << count;
      }
    }
  };
  for_each_kernel_input(2, {'a', 0x4E2D, 0xD7FF, 0x00FF}, deciding, check);
  // Pairs: a high or low half before each deciding unit.
  for_each_kernel_input(2, {0xD801, 0xDC01, 'x'}, deciding, check, 11);
}

// The column titles' compare and the separator replacement.
TEST(JumplistKernelDifferential, TitleCompareAndReplacementMatchPlainLoops) {
  for_each_kernel_input(1, byte_range('a', 'c'), {',', 'b', 0, 0xFF},
                        [](const uint8_t* p, size_t n) {
                          const std::string_view text(reinterpret_cast<const char*>(p), n);
                          std::string other(text);
                          for (char& c : other)
                            if (c == ',' || c == 0 || c == '\xFF') c = 'b';
                          ASSERT_EQ(text == other, same_text_for_test(text, other)) << n;
                          ASSERT_TRUE(same_text_for_test(text, text));
                          ASSERT_FALSE(same_text_for_test(text, other + "b"));

                          for (char from : {',', 'b', '\0'}) {
                            std::string want(text), got(text);
                            if (from != 0)
                              for (char& c : want)
                                if (c == from) c = ';';
                            replace_from_for_test(got.data(), got.size(), from, ';');
                            ASSERT_EQ(want, got) << n;
                          }
                        });
}

// The search back from a path's end for its last '.', '/' or '\', seen
// through the extension it gives: what follows the last of them when it is
// a dot.
TEST(JumplistKernelDifferential, ExtensionSearchMatchesAPlainLoop) {
  for_each_kernel_input(1, byte_range(0x5D, 0x7E), {'.', '/', '\\'},
                        [](const uint8_t* p, size_t n) {
                          const std::string_view path(reinterpret_cast<const char*>(p), n);
                          size_t last = std::string_view::npos;
                          for (size_t i = 0; i < n; ++i)
                            if (p[i] == '.' || p[i] == '/' || p[i] == '\\') last = i;
                          const std::string want = last != std::string_view::npos && p[last] == '.'
                                                       ? std::string(path.substr(last + 1))
                                                       : "";
                          std::string text, extension;
                          uint64_t value = 0;
                          assign_appid_from_path(path, text, value, extension);
                          ASSERT_EQ(want, extension) << n;
                        });
}

// The compound-file signature search: the first offset where the whole
// signature begins, over lengths past the vector step at every alignment,
// in bytes made of the signature's own (near misses everywhere), with the
// signature or its first seven bytes placed at each offset.
TEST(JumplistKernelDifferential, CompoundFileSignatureSearchMatchesAPlainLoop) {
  static constexpr uint8_t magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  const auto check = [](const uint8_t* p, size_t n) {
    const uint8_t* const hit = std::search(p, p + n, magic, magic + 8);
    uint32_t at = 7;
    ASSERT_EQ(hit != p + n, find_cfb_signature_for_test(at, p, n)) << n;
    ASSERT_EQ(hit != p + n ? static_cast<uint32_t>(hit - p) : 0u, at) << n;
  };
  const std::vector<uint16_t> own(magic, magic + 8);
  for_each_kernel_input(1, own, every_byte(), check);
  std::mt19937 rng(8);
  for (size_t n = 0; n <= 200; ++n) {
    for (size_t align = 0; align < 16; ++align) {
      for (size_t placed = 7; placed <= 8; ++placed) {
        for (size_t at = 0; at + placed <= n; at += 1 + at / 16) {
          std::vector<uint8_t> buffer(align + n);
          uint8_t* p = buffer.data() + align;
          for (size_t i = 0; i < n; ++i) p[i] = magic[rng() % 8];
          std::copy(magic, magic + placed, p + at);
          // Exactly n bytes from p: a read past them is the sanitizer's.
          const std::vector<uint8_t> exact(p, p + n);
          check(exact.data(), n);
        }
      }
    }
  }
}

}  // namespace
