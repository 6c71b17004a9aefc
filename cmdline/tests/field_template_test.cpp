// Output field templates: labels, flag bits, number suffixes and the
// parenthesised arguments, malformed codes included.
#include "cmdline/field_template.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct template_case {
  std::string text;
  std::string label;
  uint32_t flags;
  uint32_t flags2;
  uint32_t width;
};

TEST(FieldTemplate, LabelsBitsAndNumberSuffixes) {
  const template_case cases[] = {
      {"plain label", "plain label", 0, 0, 0},
      {"(all dates)", "(all dates)", 0x100000, 0, 0},
      {"(other fields)", "(other fields)", 0, 0x1000, 0},
      {"(unnamed) x", "(unnamed) x", 0, 0x8, 0},
      {"x!R!AN", "x!R", 0, 0x1000000, 0},  // "!AN" stops parsing
      {"a!AFb!AF", "ab", 0, 0x4000000, 0},
      {"Time!TS212", "Time", 0x100, 0, 12},
      {"t!TF15x", "tx", 0x8, 0, 5},
      {"t!TU0x", "tx", 0x10, 0, 0},
      {"t!TOq", "tq", 0x20, 0, 0},  // any other character: 0, code only
      {"x!TS", "x", 0x100, 0, 0},   // nothing after the code
      {"x!TS2", "x", 0x100, 0, 0},  // digits missing: no number
      {"x!TS21", "x", 0x100, 0, 0},
      {"x!SP", "x", 0, 0x8000, 0},
      {"x!SP7y", "xy", 0, 0x8000, 7},
      {"!R!WP!Z!DM!DA!DC!DB a", "a", 0x1 | 0x4 | 0x200000 | 0x4000 | 0x8000 | 0x10000 | 0x20000, 0,
       0},
      {"!JC!NR!SS!B64!L2TS!DE b", "b", 0,
       0x10000000 | 0x800 | 0x20000 | 0x8000000 | 0x200000 | 0x20000000, 0},
      {"!SKV!SK c", "c", 0, 0x800000 | 0x100000, 0},
      {"!TAH!TAH d", "!TAH d", 0x80000, 0, 0},  // only the first occurrence
      {"!!RR e", "e", 0x1, 0, 0},               // an occurrence formed by an erase
      {"!BP11!TMZ13 f", "f", 0x1000, 0x2000, 3},
      {"g!CT0", "g", 0, 0x80000, 0},
      {"  a\\nb\\nc ", "ab\\nc", 0, 0, 0},
  };
  for (const auto& c : cases) {
    vk::field_template t;
    std::string text = c.text;
    EXPECT_TRUE(vk::parse_field_template(t, text));
    EXPECT_EQ(t.m_label, c.label) << c.text;
    EXPECT_EQ(t.m_flags, c.flags) << c.text;
    EXPECT_EQ(t.m_flags2, c.flags2) << c.text;
    EXPECT_EQ(t.m_width, c.width) << c.text;
    EXPECT_EQ(t.m_parsed, 1) << c.text;
  }
}

TEST(FieldTemplate, ArgumentsPairsListsAndMalformedCodes) {
  vk::field_template t;
  std::string text = "a!SC(bc";
  vk::parse_field_template(t, text);
  EXPECT_EQ(t.m_label, "a");
  EXPECT_EQ(t.m_flags2 & 0x10000, 0u);
  EXPECT_TRUE(t.m_text.empty());

  text = "a!SC(bc!Rd";  // "!R" goes first, so the argument runs to the end
  vk::parse_field_template(t, text);
  EXPECT_EQ(t.m_label, "a");
  text = "z!SC(one)";
  vk::parse_field_template(t, text);
  EXPECT_EQ(t.m_text, "one");
  EXPECT_EQ(t.m_flags2, 0x10000u);

  text = "!S(a:b)!S(c:d)x";
  vk::parse_field_template(t, text);
  EXPECT_EQ(t.m_pairs, (std::map<std::string, std::string>{{"a", "b"}, {"c", "d"}}));
  EXPECT_EQ(t.m_flags2, 0x4u);
  EXPECT_EQ(t.m_label, "x");

  text = "!SR(p)!SR(q)";
  vk::parse_field_template(t, text);
  EXPECT_EQ(t.m_list, (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(t.m_flags2, 0x4000u);

  text = "!CT(n:t)";
  vk::parse_field_template(t, text);
  EXPECT_EQ(t.m_name, "n");
  EXPECT_EQ(t.m_text, "t");
  EXPECT_EQ(t.m_flags2, 0x80000u);

  text = "!AFN(file)!CFN(col) k";
  vk::parse_field_template(t, text);
  EXPECT_EQ(t.m_name, "col");
  EXPECT_EQ(t.m_flags2, 0x1u | 0x40000u);
  EXPECT_EQ(t.m_label, "k");

  // Malformed codes handled at every occurrence are removed, bit clear.
  const struct {
    const char* text;
    const char* label;
    uint32_t flags2;
  } malformed[] = {
      {"!S(ab)", "", 0},     {"!S(ab", "", 0},          {"!S(", "", 0},
      {"!S(a:b!S(c", "", 0}, {"!S(x)!S(k:v)", "", 0x4}, {"!SR(p", "", 0},
      {"!CT(n)y", "", 0},    {"!CT(nt", "", 0},         {"w!S(ab)!TS1", "w", 0},
  };
  for (const auto& c : malformed) {
    text = c.text;
    vk::parse_field_template(t, text);
    EXPECT_EQ(t.m_label, c.label) << c.text;
    EXPECT_EQ(t.m_flags2, c.flags2) << c.text;
  }

  text = "lbl!AFN(nm)!SC(tx)!SR(l)!S(k:v)!TS15";
  vk::parse_field_template(t, text);
  t.m_index = 7;
  t.m_spare = 3;
  t.reset();
  EXPECT_EQ(t.m_index, -1);
  EXPECT_EQ(t.m_flags | t.m_flags2 | t.m_width | t.m_spare | t.m_parsed, 0u);
  EXPECT_TRUE(t.m_label.empty() && t.m_name.empty() && t.m_text.empty() && t.m_pairs.empty() &&
              t.m_list.empty());
}

}  // namespace
