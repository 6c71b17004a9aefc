// Element extraction, wide tag normalising, the HTML-to-markup conversion,
// script and text removal from files, and link collection.
#include "cmdline/text_utils/markup_text.h"

#include <gtest/gtest.h>

#include "fileio_test_support.h"
#include "foundation/vk_console.h"

namespace vk {
namespace {

using vesk_test::read_file;
using vesk_test::write_file;

const uint8_t* as_bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(MarkupText, ExtractElement) {
  struct row {
    std::string text, tag;
    bool found;
    std::string element, rest;
  };
  const row rows[] = {
      {"a<b x='1'>t</b>c", "b", true, "<b x='1'>t</b>", "ac"},
      {"<body><b>x</b></body>", "b", true, "<body><b>x</b>", "</body>"},
      {"<b>open only", "b", false, "", "<b>open only"},
      {"</b><b>", "b", false, "", "</b><b>"},
      {"", "b", false, "", ""},
      {"<b></b>", "", false, "", "<b></b>"},
  };
  for (const row& r : rows) {
    std::string text = r.text, out = "junk";
    EXPECT_EQ(extract_xml_element(out, text, r.tag), r.found) << r.text;
    EXPECT_EQ(out, r.element) << r.text;
    EXPECT_EQ(text, r.rest) << r.text;
    std::wstring wtext(r.text.begin(), r.text.end()), wout;
    EXPECT_EQ(extract_xml_element_w(wout, wtext, std::wstring(r.tag.begin(), r.tag.end())),
              r.found);
    EXPECT_EQ(wtext, std::wstring(r.rest.begin(), r.rest.end()));
  }
}

TEST(MarkupText, NormalizeWideTags) {
  std::vector<std::wstring> tokens = {L"<A HREF = Page.HTM>",
                                      L"<?PHP X = Y?>",
                                      L"<%A B%>",
                                      L"Text Run",
                                      L"",
                                      L"<IMG SRC=A.GIF ALT=\"Keep Case\">",
                                      L"<P CLASS='X Y'>",
                                      L"<TD\tWIDTH=5 NOWRAP>",
                                      L"<X a=B"};
  EXPECT_EQ(normalize_wide_tags(tokens), 1);
  const std::vector<std::wstring> want = {L"<a href=\"Page.htm\">",
                                          L"<?PHP X = Y?>",
                                          L"<%A B%>",
                                          L"Text Run",
                                          L"",
                                          L"<img src=\"A.gif\" alt=\"Keep Case\">",
                                          L"<p class='X Y'>",
                                          L"<td\twidth=\"5\" nowrap>",
                                          L"<x a=\"B"};
  EXPECT_EQ(tokens, want);
  std::vector<std::wstring> none;
  EXPECT_EQ(normalize_wide_tags(none), 0);
}

TEST(MarkupText, HtmlToMarkupText) {
  const std::pair<std::string, std::string> rows[] = {
      {"<h2>Title</h2><p>Text<br/>more</p>",
       "==Title==\nText// more<h2>Title</h2><p>Text<br/>more</p>"},
      // The text after the last tag is converted and kept.
      {"<h2>Title</h2><p>Text<br/>more", "==Title==\nText// more<h2>Title</h2><p>Text<br/>more"},
      {"plain", "plainplain"},
      {"<b>x</b>tail <i", "_x_tail <b>x</b>tail "},
      {"<ol><li>a<li>b</ol>", "1. a2. b<ol><li>a<li>b</ol>"},
      {"<ul><li>a</ul>", "*a<ul><li>a</ul>"},
      {"<img alt=\"x\">", ", x]<img alt=\"x\">"},
      {"<img src=\"s.png\" alt=\"x\"><img src=\"t\">",
       "[s.png, x][t]<img src=\"s.png\" alt=\"x\"><img src=\"t\">"},
      {"<h2000000000>", "<h2000000000>"},
      {"<h7>a</h0><h-1><h 3><hr><html>", "a===<h7>a</h0><h-1><h 3><hr><html>"},
      {"<pre>x</pre><blockquote>q</blockquote>",
       "\nx%][\"q\"]<pre>x</pre><blockquote>q</blockquote>"},
      {"<b>B</b><i>I</i><sup>1</sup><sub>2</sub><code>c</code><strong>s</strong>",
       "_B_*I*^1^~2~%c%*s*<b>B</b><i>I</i><sup>1</sup><sub>2</sub><code>c</code><strong>s</"
       "strong>"},
      {"<OL><LI>x</OL>", "1. x<ol><li>x</ol>"},  // tags are normalised first
  };
  for (const auto& [html, want] : rows) {
    std::string out;
    EXPECT_TRUE(html_to_markup_text(as_bytes(html), html.size(), out)) << html;
    EXPECT_EQ(out, want) << html;
  }
  std::string out = "junk";
  EXPECT_FALSE(html_to_markup_text(as_bytes(std::string("x")), 0, out));
  EXPECT_EQ(out, "");
}

TEST(MarkupText, HtmlToMarkupFile) {
  vesk_test::scratch_dir dir;
  const std::string page = "<h2>Title</h2><p>Text<br/>more</p>";
  const std::string want = "==Title==\nText// more<h2>Title</h2><p>Text<br/>more</p>";
  const std::string in = dir.file("in.html"), out = dir.file("out.txt"), same = dir.file("same");
  write_file(in, page);
  write_file(same, page);
  EXPECT_EQ(html_to_markup_file(in, out), 0);
  EXPECT_EQ(read_file(out), want);
  // One file as input and output: read before it is rewritten.
  EXPECT_EQ(html_to_markup_file(same, same), 0);
  EXPECT_EQ(read_file(same), want);
  // Unreadable input: an empty output.
  EXPECT_EQ(html_to_markup_file(dir.file("absent"), out), 0);
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(read_file(out), "");
  EXPECT_EQ(html_to_markup_file(in, dir.file("no/such/dir/out")), 0);
}

TEST(MarkupText, StripScriptAndRemoveText) {
  vesk_test::scratch_dir dir;
  const std::string only = dir.file("only.html"), out = dir.file("out.html");
  write_file(only, "<script>alert(1)</script>");
  EXPECT_TRUE(strip_script_file(only.c_str(), out.c_str(), false));
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(read_file(out), "");

  const std::string page = dir.file("page.html");
  write_file(page, "<p>a<SCRIPT src=x>b</script>c</p>");
  EXPECT_TRUE(strip_script_file(page.c_str(), nullptr, true));
  EXPECT_EQ(read_file(page), "<p>ac</p>");
  {
    console_capture capture;
    write_file(page, "x<script>y</script>z");
    EXPECT_TRUE(strip_script_file(page.c_str(), nullptr, false));
    EXPECT_TRUE(strip_script_file(page.c_str(), dir.file("no/dir").c_str(), false));
    EXPECT_EQ(capture.out(), "xzxz");
  }
  const std::string empty = dir.file("empty.html");
  write_file(empty, "");
  EXPECT_TRUE(strip_script_file(empty.c_str(), out.c_str(), false));
  EXPECT_FALSE(strip_script_file(dir.file("absent").c_str(), out.c_str(), false));
  EXPECT_FALSE(strip_script_file(nullptr, out.c_str(), false));

  const std::string text = dir.file("text");
  write_file(text, "keep DROP this drop, Drop");
  EXPECT_TRUE(remove_text_from_file(text.c_str(), "drop", false));
  EXPECT_EQ(read_file(text), "keep DROP this , Drop");
  EXPECT_TRUE(remove_text_from_file(text.c_str(), "drop", true));
  EXPECT_EQ(read_file(text), "keep  this , ");
  EXPECT_FALSE(remove_text_from_file(text.c_str(), "", false));
  EXPECT_FALSE(remove_text_from_file(text.c_str(), nullptr, false));
  EXPECT_FALSE(remove_text_from_file(empty.c_str(), "x", false));
  EXPECT_FALSE(remove_text_from_file(dir.file("absent").c_str(), "x", false));
  EXPECT_EQ(read_file(text), "keep  this , ");
}

TEST(MarkupText, CollectLinks) {
  const std::string page = R"(<a HREF="one" src="no"><img src='two'><a href=one>x<b>)";
  link_map links{{"zzz", {7, 7}}};
  EXPECT_TRUE(collect_links(as_bytes(page), static_cast<uint32_t>(page.size()), links));
  const link_map want = {{"one", {9, 3}}, {"two", {10, 3}}, {"zzz", {7, 7}}};
  EXPECT_EQ(links, want);
  link_map none;
  EXPECT_FALSE(collect_links(as_bytes(page), 0, none));
  EXPECT_FALSE(collect_links(as_bytes(std::string("<b>")), 3, none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace vk
