// The report lines' appender writes a text's control characters as the text
// toolkit marks them, on its fast paths (short texts, whole words, sixteen
// bytes at a time, marks close together) and off them, copied or a piece at
// a time.
#include "cmdline/line_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "foundation/vk_text.h"

namespace vk {
namespace {

TEST(LineSink, MarksAsTheTextToolkitDoes) {
  const std::string inserts[] = {"\n",       "\r\n",     "\x1b", "\x7f", "\xC2\x85",
                                 "\xC2\x9f", "\xC2\xA0", "\xC2", "\t",   "\xFF"};
  std::string room, spare;
  for (size_t n = 0; n <= 40; ++n)
    for (size_t at = 0; at <= n; ++at)
      for (const std::string& insert : inserts) {
        std::string text;
        for (size_t i = 0; i < n; ++i) text += "ab\xC3\xA9~"[i % 5];
        text.insert(at, insert);
        // Once, and again a few bytes on (marks close together and apart).
        for (const size_t gap : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}}) {
          if (gap != 0) text.insert(std::min(text.size(), at + insert.size() + gap), 1, '\x01');
          std::string want = text;
          mark_control_chars(want);
          line_sink line(room);
          line.put("<");
          line.put_marked(text);
          line.put(">");
          ASSERT_EQ(line.text(), "<" + want + ">") << n << " " << at << " " << insert.size();
          ASSERT_EQ(marked_text(text, spare), want) << n << " " << at << " " << gap;
          std::string pieces;
          each_marked_piece(text, [&](std::string_view p) { pieces.append(p); });
          ASSERT_EQ(pieces, want) << n << " " << at << " " << gap;
        }
      }
  // Marks that fill the pieces' buffer many times over (a pair across its
  // edge), and runs without a mark longer than it.
  for (const std::string& unit :
       {std::string("a\x01"), std::string("\r\n\r"), std::string(5000, 'b') + "\xC2\x85"}) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += unit;
    std::string want = text;
    mark_control_chars(want);
    std::string pieces;
    each_marked_piece(text, [&](std::string_view p) { pieces.append(p); });
    EXPECT_EQ(pieces, want) << unit.size();
  }
  // A held text is written as its copy would be: a replacement that would
  // make a quote or a mark after the quotes were doubled and the marks made
  // is left to the copy.
  line_sink line(room);
  const std::string text(line_sink::held_from, ',');
  EXPECT_FALSE(line.hold(text, ',', '"'));
  EXPECT_FALSE(line.hold(text, ',', '\n'));
  EXPECT_TRUE(line.hold(text, ',', ' '));
  EXPECT_EQ(line.size(), 1u);
}

// A held text is written as its copy would be: marked, its quotes doubled
// as often as its cell was quoted, then replaced (marks too), over pieces
// that fill the writer's buffer many times (a mark or a quote across its
// edge) and runs longer than it.
TEST(LineSink, AHeldTextIsWrittenAsItsCopy) {
  const std::string units[] = {"\"",
                               "a\x01\"",
                               "\r\n\r\"\"",
                               std::string(5000, 'b') + "\xC2\x85\"",
                               "x,\t\xC2\xA0\xC2",
                               std::string(20000, 'c')};
  const struct { char from, to; } replacements[] = {{0, 0}, {',', ';'}, {'x', '['}, {'"', '\''}};
  std::string room, held_room, spare;
  for (const std::string& unit : units) {
    std::string text;
    while (text.size() < line_sink::held_from + 40000) text += unit;
    for (int quoted = 0; quoted <= 2; ++quoted)
      for (const auto& r : replacements) {
        SCOPED_TRACE(testing::Message() << unit.size() << " quoted " << quoted << " " << r.from);
        auto replace = [&](line_sink& line, size_t start) {
          if (r.from != 0)
            std::replace(line.data() + start, line.data() + line.size(), r.from, r.to);
        };
        line_sink copy(room);
        copy.put("<");
        copy.put_marked(text);
        for (int q = 0; q < quoted; ++q) copy.quote_since(1, spare);
        replace(copy, 1);
        copy.put(">");
        line_sink held(held_room);
        held.put("<");
        ASSERT_TRUE(held.hold(text, r.from, r.to));
        for (int q = 0; q < quoted; ++q) held.quote_since(1, spare);
        replace(held, 1);
        held.put(">");
        EXPECT_EQ(held.held_extra_since(1) + held.size(), copy.size());
        // Where the two first differ, and a few bytes around (the texts
        // are too long to show whole).
        auto first_difference = [](std::string_view a, std::string_view b) {
          const auto d = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
          const size_t at = static_cast<size_t>(d.first - a.begin());
          if (at == a.size() && at == b.size()) return std::string();
          const size_t from = at < 20 ? 0 : at - 20;
          return std::to_string(at) + ": " + std::string(a.substr(from, 40)) + " | " +
                 std::string(b.substr(from, 40));
        };
        std::ostringstream written;
        held.write_to(written);
        ASSERT_EQ(first_difference(written.str(), copy.text()), "");
        held.take_in_held();
        ASSERT_EQ(first_difference(held.text(), copy.text()), "");
      }
  }
}

}  // namespace
}  // namespace vk
