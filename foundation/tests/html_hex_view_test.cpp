#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "foundation/vk_hex_view.h"
#include "foundation/vk_html.h"

namespace vk {
namespace {

const uint8_t* bytes(const char* s) {
  return reinterpret_cast<const uint8_t*>(s);
}

TEST(HtmlText, EscapingAndSubstitution) {
  EXPECT_EQ(html_escape("a<b&c"), "a&lt;b&amp;c");
  EXPECT_EQ(html_escape("x\ty"), "x%09y");
  EXPECT_EQ(html_escape("\xE9"), "%e9");
  EXPECT_EQ(html_escape("l1\r\nl2>"), "l1\r\nl2&gt;");

  // An empty search entry is skipped instead of matching forever.
  std::string out;
  ASSERT_TRUE(escape_text(bytes("aa"), 2, {"", "a"}, {"X", "b"}, out, false, false));
  EXPECT_EQ(out, "bb");
  std::wstring wout;
  ASSERT_TRUE(escape_text_w(L"aAa", 3, {L"", L"a"}, {L"X", L"b"}, wout, true, false));
  EXPECT_EQ(wout, L"bbb");
  EXPECT_FALSE(escape_text(bytes("a"), 1, {"a"}, {}, out, false, false));
  EXPECT_TRUE(out.empty());
}

TEST(HtmlText, AttributesStayInsideTheirLength) {
  std::string v;
  const char tag[] = "<p id=\"x\">";
  EXPECT_TRUE(get_quoted_attribute(tag, 10, "id", v));
  EXPECT_EQ(v, "x");
  EXPECT_FALSE(get_quoted_attribute(tag, 5, "id", v));
  char cut[8];
  std::memcpy(cut, "<p id=\"x", 8);  // no terminator anywhere
  EXPECT_FALSE(get_quoted_attribute(cut, 8, "id", v));

  const char img[] = "<IMG Src='a\r\nb'>";
  EXPECT_TRUE(get_html_attribute(bytes(img), sizeof(img) - 1, "src", v));
  EXPECT_EQ(v, "ab");
  EXPECT_FALSE(get_html_attribute(bytes(img), sizeof(img) - 1, std::string(257, 's').c_str(), v));
  html_attribute found;
  ASSERT_TRUE(find_html_attribute("<a href=x y>", 12, "HREF", found));
  EXPECT_EQ(found.m_value, "x");
  EXPECT_EQ(found.m_offset, 8u);

  std::string name;
  EXPECT_TRUE(get_tag_attribute("<a b=\"1\" c=\"2\">", 15, 2, name, v));
  EXPECT_EQ(name, "c");
  EXPECT_EQ(v, "2");
}

TEST(HtmlText, TokensAndNormalisedTags) {
  std::vector<std::string> tokens;
  // The text after the last tag is a token; an unfinished tag is not.
  const struct {
    const char* page;
    bool trim;
    std::vector<std::string> want;
  } pages[] = {
      {"a<b>b</b>c", true, {"a", "<b>", "b", "</b>", "c"}},
      {"<p>x <br/> more ", true, {"<p>", "x", "<br/>", "more"}},
      {"<p>x <br/> more ", false, {"", "<p>", "x ", "<br/>", " more "}},
      {"<p> \n", true, {"<p>"}},
      {"text", false, {"text"}},
      {"a<b", false, {"a"}},
  };
  for (const auto& p : pages) {
    tokens.clear();
    EXPECT_TRUE(
        split_html_tokens(bytes(p.page), static_cast<int32_t>(std::strlen(p.page)), tokens, p.trim))
        << p.page;
    EXPECT_EQ(tokens, p.want) << p.page;
  }

  tokens.clear();
  const char raw[] = "<script>if(a<b)x;</script><?x a>b ?>";
  ASSERT_TRUE(split_html_tokens(bytes(raw), sizeof(raw) - 1, tokens, true));
  EXPECT_EQ(tokens,
            (std::vector<std::string>{"<script>", "if(a<b)x;", "</script>", "", "<?x a>b ?>"}));

  std::vector<std::string> tags = {"<A HREF=x>", "<?X ?>", "text", "<IMG ALT = 'Q'>"};
  ASSERT_TRUE(normalize_html_tags(tags));
  EXPECT_EQ(tags, (std::vector<std::string>{"<a href=\"x\">", "<?X ?>", "text", "<img alt= 'Q'>"}));
}

TEST(HexView, LinesAndLimit) {
  std::vector<uint8_t> data;
  for (uint8_t b = 0x41; b <= 0x50; ++b) data.push_back(b);
  data.insert(data.end(), {0x00, 0x41, 0x7F});
  std::string text;
  hexdump_text(text, data.data(), 0, data.size(), 0x10, true);
  EXPECT_EQ(text,
            "0000 0010:  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP\n"
            "0000 0020:  00 41 7f" +
                std::string(42, ' ') + ".A.\n");
  hexdump_text(text, data.data() + 16, 0, 3, 0x100000020ull, true);
  EXPECT_EQ(text.substr(0, 12), "1 0000 0020:");

  std::ostringstream os;
  hexdump_limited_to(os, data.data(), k_hexdump_limit + 1, 0);
  EXPECT_EQ(os.str(), "size to big to output: size 0x1000001\n");
}

}  // namespace
}  // namespace vk
