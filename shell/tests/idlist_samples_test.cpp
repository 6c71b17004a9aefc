// The target ID lists of the sample shell links.
#include <gtest/gtest.h>

#include "jumplist_samples.h"
#include "shell/idlist.h"

namespace vk {
namespace {

TEST(IdListSamples, TargetIdListsOfSampleLinks) {
  auto samples = vesk_test::samples_of_kind("lnk");
  if (samples.empty()) GTEST_SKIP() << "sample folder absent: no link files to walk";
  const cmd_params opts;
  size_t with_list = 0, walked = 0, items = 0, parsed = 0;
  for (const auto& s : samples) {
    const auto& b = s.bytes;
    if (b.size() < 80 || !(b[20] & 1)) continue;
    ++with_list;
    int64_t list_size = b[76] | (b[77] << 8);
    list_size = std::min<int64_t>(list_size, static_cast<int64_t>(b.size()) - 78);
    // An exactly sized copy, so that the sanitizers see any read past it.
    std::vector<uint8_t> list(b.begin() + 78, b.begin() + 78 + std::max<int64_t>(list_size - 2, 0));
    parse_ctx ctx;
    ctx.offset = 78;
    shell_item_list out;
    if (parse_idlist(out, list.data(), static_cast<int64_t>(list.size()), false, false, ctx, opts))
      ++walked;
    items += out.size();
    for (const auto& r : out) parsed += r.not_parsed == 0;
  }
  ASSERT_GT(with_list, 0u);
  EXPECT_GE(walked * 10, with_list * 9) << walked << " of " << with_list;
  EXPECT_GE(parsed * 10, items * 9) << parsed << " of " << items;
}

}  // namespace
}  // namespace vk
