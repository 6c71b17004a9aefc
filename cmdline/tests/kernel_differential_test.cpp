// The report side's word-at-a-time and vector kernels against plain loops,
// over every length to 100 at every alignment and each deciding value at
// each position (testing/kernel_inputs.h).
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "cmdline/line_sink.h"
#include "cmdline/text_utils/number_hex.h"
#include "foundation/vk_text.h"
#include "kernel_inputs.h"

using namespace vk;
using vk::testing::byte_range;
using vk::testing::every_byte;
using vk::testing::for_each_kernel_input;

namespace {

// The line sink's control search: a text that holds no byte below 0x20 (the
// tab too), no DEL and no 0xC2 is copied as it stands, and one that holds a
// mark never is (a tab or a 0xC2 that leads no C1 control may go either
// way: the vector kernel leaves them to the exact search, the word loop
// decides them itself).
TEST(CmdlineKernelDifferential, LineSinkControlSearchMatchesAPlainLoop) {
  for_each_kernel_input(1, byte_range(0x20, 0x7E), every_byte(), [](const uint8_t* p, size_t n) {
    const std::string_view t(reinterpret_cast<const char*>(p), n);
    bool plain = true;
    for (uint8_t c : std::vector<uint8_t>(p, p + n))
      plain = plain && c >= 0x20 && c != 0x7F && c != 0xC2;
    std::vector<char> out(n + 1, '#');
    const bool copied = copy_unmarked(out.data(), t);
    ASSERT_TRUE(!plain || copied) << n;
    ASSERT_TRUE(!copied || find_control_char(t) == std::string_view::npos) << n;
    ASSERT_TRUE(!copied || t == std::string_view(out.data(), n)) << n;
    ASSERT_EQ('#', out[n]) << "written past the text";
  });
}

// The zero test and the strided value scans of the hex helpers.
TEST(CmdlineKernelDifferential, ZeroTestAndValueScansMatchPlainLoops) {
  for_each_kernel_input(1, {0}, {1, 0x80, 0xFF}, [](const uint8_t* p, size_t n) {
    const std::vector<uint8_t> bytes(p, p + n);
    bool zero = true;
    for (uint8_t c : bytes) zero = zero && c == 0;
    ASSERT_EQ(zero, is_all_zero(bytes)) << n;

    auto le = [&](size_t at, size_t width) {
      uint64_t v = 0;
      for (size_t i = width; i-- > 0;) v = (v << 8) | p[at + i];
      return v;
    };
    // A stride that is no multiple of the width steps by the multiple below it.
    const std::vector<uint64_t> values = {0, n >= 8 ? le(n - 8, 8) : 1};
    for (size_t width : {size_t{4}, size_t{8}}) {
      for (size_t stride : {width, 2 * width, 2 * width + 1}) {
        for (bool first : {false, true}) {
          const size_t step = stride / width * width;
          std::vector<std::vector<uint64_t>> want(2), got;
          bool done = false;
          for (size_t at = 0; at + width <= n && !done; at += step)
            for (size_t k = 0; k < 2 && !done; ++k)
              if (le(at, width) == (width == 8 ? values[k] : static_cast<uint32_t>(values[k]))) {
                want[k].push_back(at);
                done = first;
              }
          if (n < width) want.clear();  // too short: no list at all
          if (width == 8)
            scan_u64_values(got, p, n, values, stride, first);
          else
            scan_u32_values(got, p, n,
                            {static_cast<uint32_t>(values[0]), static_cast<uint32_t>(values[1])},
                            stride, first);
          ASSERT_EQ(want, got) << n << " width " << width << " stride " << stride;
        }
      }
    }
  });
}

}  // namespace
