// MACB grouping: which times share an entry, the MACB text and the label
// text of each, extra times, and the unix-seconds form of a set.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/vk_timestamp_set.h"
#include "time_reference.h"

using vesk_test::ticks_of;
using vk::type_time;

namespace {

// (MACB text, label text) of every entry, in map order.
std::vector<std::pair<std::string, std::string>> summary(vk::timestamp_set& set) {
  vk::macb_map out;
  vk::macb_summary(out, set, static_cast<type_time>(set.m_kind));
  std::vector<std::pair<std::string, std::string>> rows;
  for (const auto& [raw, e] : out) {
    EXPECT_EQ(raw, e.m_raw);
    rows.emplace_back(e.m_macb, e.m_label);
  }
  return rows;
}

using rows = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST(TimestampSet, MacbGroupsAndLabels) {
  const uint64_t t1 = ticks_of(2024, 3, 5, 7, 8, 9);
  const uint64_t t2 = ticks_of(2024, 3, 6);
  const uint64_t t3 = ticks_of(2024, 3, 7);
  const uint64_t old = ticks_of(1800, 1, 1);  // before 1900: not a valid time
  struct group_case {
    uint64_t m, a, c, b;
    rows want;
  };
  const group_case cases[] = {
      {t1, t1, t1, t1, {{"MACB", "Last Modified; Last Access; Metadata Changed; Created"}}},
      {t1, 0, 0, 0, {{"M...", "Last Modified"}}},
      {t1,
       t2,
       t3,
       t2,
       {{"M...", "Last Modified"}, {".A.B", "Last Access; Created"}, {"..C.", "Metadata Changed"}}},
      {t2,
       t1,
       t2,
       t1,
       {{".A.B", "Last Access; Created"}, {"M.C.", "Last Modified; Metadata Changed"}}},
      {old, t1, old, 0, {{".A..", "Last Access"}}},
      {0, 0, 0, 0, {}},
  };
  vk::timestamp_set set;
  for (const auto& c : cases) {
    set.timestamp_set_clear();
    set.timestamp_set_default_labels();
    set.timestamp_set_values(c.m, c.a, c.c, c.b, type_time::filetime);
    EXPECT_EQ(summary(set), c.want) << c.m << " " << c.a;
  }

  set.timestamp_set_clear();
  set.m_description = "file";
  set.timestamp_set_values(t1, 0, 0, 0, type_time::filetime);
  EXPECT_EQ(summary(set), (rows{{"M...", "file [M...]"}}));
  set.timestamp_set_values(t1, 0, t1, t2, type_time::filetime);
  EXPECT_EQ(summary(set), (rows{{"M.C.", "file [M.C.]"}, {"...B", "file [...B]"}}));

  // Extra times: one at the anchor's instant marks C, one elsewhere stands alone.
  set.timestamp_set_clear();
  set.timestamp_set_default_labels();
  set.timestamp_set_values(t1, 0, 0, t3, type_time::filetime);
  set.timestamp_set_add_extra_time(t1, "Renamed", "x", "");
  set.timestamp_set_add_extra_time(t1, "Moved", "y", "z");
  set.timestamp_set_add_extra_time(t2, "Linked", "", "");
  vk::macb_map out;
  vk::macb_summary(out, set, type_time::filetime);
  ASSERT_EQ(out.size(), 3u);
  auto it = out.begin();
  EXPECT_EQ(it->second.m_macb, "M.C.");
  EXPECT_EQ(it->second.m_label, "Last Modified; Renamed; Moved");
  EXPECT_EQ(it->second.m_texts1, "x; y");
  EXPECT_EQ(it->second.m_texts2, "z");
  ++it;
  EXPECT_EQ(it->second.m_macb, "..C.");
  EXPECT_EQ(it->second.m_label, "Linked");
  ++it;
  EXPECT_EQ(it->second.m_macb, "...B");
  EXPECT_EQ(set.m_extra_used, (std::vector<uint8_t>{1, 1}));
}

TEST(TimestampSet, UnixSecondsForm) {
  vk::timestamp_set set;
  set.timestamp_set_values_unix(116444736010000000ULL, 0, ticks_of(1960, 1, 1), 1ULL << 63,
                                type_time::filetime);
  EXPECT_EQ(set.m_times[0], 1u);
  EXPECT_EQ(set.m_times[1], 0u);
  EXPECT_EQ(set.m_times[2], 0u);  // before 1970: no unsigned form
  EXPECT_EQ(set.m_times[3], 0u);
  EXPECT_EQ(set.m_kind, 8u);

  set.timestamp_set_values_unix(0x10, 0, 0, 0, type_time::safari_time);
  EXPECT_EQ(set.m_times[0], 978307216u);
  set.timestamp_set_values_unix(1000000, 0, 0, 0, type_time::chrome);
  EXPECT_EQ(set.m_times[0], 0u);  // 1601-01-01 00:00:01
  set.timestamp_set_values_unix(2000000, 0, 0, 0, type_time::firefox3);
  EXPECT_EQ(set.m_times[0], 2u);

  set.timestamp_set_clear();
  set.timestamp_set_values(5, 6, 7, 8, type_time::filetime);
  set.timestamp_set_values_unix(1, 2, 3, 4, type_time::ole);
  EXPECT_EQ(set.m_times[0], 5u);
  EXPECT_EQ(set.m_kind, 1u);
  set.timestamp_set_values_unix(1, 2, 3, 4, type_time::unix_time);
  EXPECT_EQ(set.m_times[3], 4u);
  EXPECT_EQ(set.m_kind, 8u);
}
