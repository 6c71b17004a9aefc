// The report lines' appender writes a text's control characters as the text
// toolkit marks them, on its fast paths (short texts, whole words, sixteen
// bytes at a time, marks close together) and off them, copied or a piece at
// a time.
#include "cmdline/line_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
}  // namespace vk
