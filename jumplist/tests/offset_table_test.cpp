// The claims' table against a map: whatever the order values come in, it
// finds, keeps, lets go and passes what a map would.
#include "jumplist/offset_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <random>
#include <vector>

using namespace vk;

namespace {

struct value_gone {
  static bool gone(const int64_t& v) { return v == -1; }
  static void let_go(int64_t& v) { v = -1; }
};
using table = offset_table<int64_t, value_gone>;

// Every value of the table, by offset, as a map holds them.
std::map<uint64_t, int64_t> contents(table& t, const std::vector<uint64_t>& offsets) {
  std::map<uint64_t, int64_t> out;
  for (uint64_t o : offsets)
    if (const int64_t* v = t.find(o)) out[o] = *v;
  return out;
}

}  // namespace

TEST(OffsetTable, KeepsWhatAMapKeepsInAnyOrder) {
  const size_t n = 5000;
  std::vector<uint64_t> up(n);
  std::iota(up.begin(), up.end(), uint64_t{1});
  for (uint64_t& o : up) o *= 512;
  std::vector<uint64_t> down(up.rbegin(), up.rend()), shuffled = up, saw = up;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  // Ascending with every 100th late, as a list whose streams mostly follow
  // one another.
  for (size_t i = 100; i < n; i += 100) std::swap(saw[i], saw[i - 50]);
  for (const auto& [what, order] : {std::pair{"ascending", &up},
                                    {"descending", &down},
                                    {"shuffled", &shuffled},
                                    {"mostly ascending", &saw}}) {
    SCOPED_TRACE(what);
    table t;
    std::map<uint64_t, int64_t> want;
    t.will_add(n / 2);
    for (size_t i = 0; i < order->size(); ++i) {
      const uint64_t o = (*order)[i];
      const auto [at, added] = t.try_emplace(o, static_cast<int64_t>(i));
      ASSERT_TRUE(added);
      ASSERT_EQ(*at, static_cast<int64_t>(i));
      want[o] = static_cast<int64_t>(i);
      // The one kept first stands.
      const auto [again, added_again] = t.try_emplace(o, -5);
      ASSERT_FALSE(added_again);
      ASSERT_EQ(*again, static_cast<int64_t>(i));
    }
    // Past a few merges, more than the least count of late ones stays.
    EXPECT_LE(t.late_count(), std::max(table::k_least_late, n / 8));
    EXPECT_EQ(contents(t, up), want);
    EXPECT_EQ(t.find(3), nullptr);
    // Let go (a third), kept again (one in six), then the rest dropped by
    // a test of their values.
    for (size_t i = 0; i < n; i += 3) {
      t.erase(up[i]);
      want.erase(up[i]);
    }
    for (size_t i = 0; i < n; i += 6) {
      ASSERT_TRUE(t.try_emplace(up[i], 7).second);
      want[up[i]] = 7;
    }
    EXPECT_EQ(contents(t, up), want);
    t.erase_if([](const int64_t& v) { return v % 2 == 1; });
    std::erase_if(want, [](const auto& x) { return x.second % 2 == 1; });
    EXPECT_EQ(contents(t, up), want);
    size_t seen = 0;
    t.each([&](int64_t&) { ++seen; });
    EXPECT_EQ(seen, want.size());
    // Passed: nothing before the offset stays.
    t.erase_before(up[n / 2]);
    want.erase(want.begin(), want.lower_bound(up[n / 2]));
    EXPECT_EQ(contents(t, up), want);
    // Passed a little at a time, values met late between, a pass costing
    // only what it passes.
    for (size_t k = 1; k <= 20; ++k) {
      const uint64_t at = up[n / 2 + 100 * k];
      t.erase_before(at);
      want.erase(want.begin(), want.lower_bound(at));
      for (size_t j = n; j > n - 60; --j) {
        const uint64_t late = up[j - 1] - 256 * k;
        if (!want.count(late) && late >= at) {
          ASSERT_TRUE(t.try_emplace(late, static_cast<int64_t>(k)).second);
          want[late] = static_cast<int64_t>(k);
        }
      }
      std::vector<uint64_t> all;
      for (uint64_t o = up[0]; o <= up[n - 1]; o += 256) all.push_back(o);
      ASSERT_EQ(contents(t, all), want) << k;
    }
    seen = 0;
    t.each([&](int64_t&) { ++seen; });
    EXPECT_EQ(seen, want.size());
    // What was passed stays passed when the table is swept.
    t.erase_if([](const int64_t&) { return false; });
    std::vector<uint64_t> all;
    for (uint64_t o = up[0]; o <= up[n - 1]; o += 256) all.push_back(o);
    EXPECT_EQ(contents(t, all), want);
  }
}
