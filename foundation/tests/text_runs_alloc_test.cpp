// The printable-run extractors when memory runs out at any allocation:
// a failure result with aligned lists, never an ended process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc_hook.h"
#include "foundation/vk_guid.h"

namespace vk {
namespace {

std::vector<uint8_t> utf16(const std::string& s) {
  std::vector<uint8_t> out;
  for (char c : s) out.insert(out.end(), {static_cast<uint8_t>(c), 0});
  return out;
}

TEST(TextRunsAllocation, FailureAtEveryAllocationIsReported) {
  // Runs long enough to leave the small-string buffer, between other bytes.
  std::vector<uint8_t> wide = utf16("first run of text here");
  wide.push_back(1);
  auto more = utf16("second run, longer than the first one");
  wide.insert(wide.end(), more.begin(), more.end());
  const std::string narrow = "alpha run of printable text\x01omega run of printable text";
  const std::vector<uint8_t> ascii(narrow.begin(), narrow.end());

  using extractor = bool (*)(const uint8_t*, size_t, size_t, std::vector<std::string>&,
                             std::vector<uint64_t>&, bool, bool);
  struct row {
    extractor run;
    const std::vector<uint8_t>* in;
  } rows[] = {{extract_utf16_strings, &wide}, {extract_ascii_strings, &ascii}};
  for (const row& r : rows) {
    std::vector<std::string> texts;
    std::vector<uint64_t> offsets;
    ASSERT_TRUE(r.run(r.in->data(), r.in->size(), 3, texts, offsets, false, false));
    ASSERT_EQ(texts.size(), 2u);
    int failures = 0;
    for (int64_t n = 0; n < 64; ++n) {
      texts.clear();
      offsets.clear();
      texts.shrink_to_fit();
      offsets.shrink_to_fit();
      vesk_test::heap::fail_nth(n);
      const bool ok = r.run(r.in->data(), r.in->size(), 3, texts, offsets, false, false);
      const bool failed = vesk_test::heap::state().fail_countdown == -1;
      vesk_test::heap::no_failure();
      EXPECT_EQ(texts.size(), offsets.size()) << n;
      if (failed && !ok) {
        ++failures;
        EXPECT_LT(texts.size(), 2u) << n;
      } else {
        EXPECT_TRUE(ok) << n;
        EXPECT_EQ(texts.size(), 2u) << n;
      }
    }
    EXPECT_GE(failures, 4);
  }
}

}  // namespace
}  // namespace vk
