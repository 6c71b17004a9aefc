// Entity escaping, attribute collection, the UTF-16 markup tokenizer, the
// XML-document test and element removal from files in a scratch folder.
#include "cmdline/text_utils/html_xml_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <utility>
#include <vector>

#include "fileio_test_support.h"

namespace vk {
namespace {

using strings = std::vector<std::string>;
using bytes_t = std::vector<uint8_t>;

const uint8_t* as_bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

bytes_t utf16le(const std::u16string& s, bool bom = false) {
  bytes_t out;
  if (bom) out = {0xFF, 0xFE};
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

TEST(HtmlXmlText, Escaping) {
  EXPECT_EQ(html_escape_text("a<b & 'c'"), "a&lt;b &amp; &#39;c&#39;");
  EXPECT_EQ(html_escape_text("\"x\">"), "&quot;x&quot;&gt;");
  EXPECT_EQ(html_escape_text("a\r\nb\nc\rd"), "a<br />b\nc\rd");
  EXPECT_EQ(html_escape_text("&amp;"), "&amp;amp;");
  EXPECT_EQ(html_escape_text(""), "");
  EXPECT_EQ(html_escape_w(L"&lt;"), L"&amp;lt;");
  EXPECT_EQ(html_escape_w(L"a<b>\r\n\x01\x2605'"), L"a&lt;b&gt;\r\n%01%05'");
  EXPECT_EQ(html_escape_w(L""), L"");
}

TEST(HtmlXmlText, AttributeCollectors) {
  const std::string page = R"(<a href="h1" src="s1"><img SRC='s2'><link href=h3 >text<p>)";
  strings links{"kept"};
  EXPECT_TRUE(collect_link_attributes(as_bytes(page), static_cast<uint32_t>(page.size()), links));
  EXPECT_EQ(links, (strings{"kept", "h1", "s2", "h3"}));
  strings src, href;
  EXPECT_TRUE(collect_src_attributes(as_bytes(page), static_cast<uint32_t>(page.size()), src));
  EXPECT_EQ(src, (strings{"s1", "s2"}));
  EXPECT_TRUE(collect_href_attributes(as_bytes(page), static_cast<uint32_t>(page.size()), href));
  EXPECT_EQ(href, (strings{"h1", "h3"}));
  strings none;
  EXPECT_FALSE(collect_link_attributes(as_bytes(page), 0, none));
  // A buffer with no tag is false even when the list held entries; a page
  // with tags counts what the list held before.
  using collector = bool (*)(const uint8_t*, uint32_t, strings&);
  const std::string untagged = "no tags here", tagged = "<p>";
  for (collector c : {collect_src_attributes, collect_href_attributes, collect_link_attributes}) {
    for (const auto& [bytes, length] : std::vector<std::pair<const uint8_t*, uint32_t>>{
             {nullptr, 10}, {as_bytes(untagged), 0}, {as_bytes(untagged), 12}}) {
      strings old{"x"};
      EXPECT_FALSE(c(bytes, length, old));
      EXPECT_EQ(old, strings{"x"});
    }
    strings old{"x"};
    EXPECT_TRUE(c(as_bytes(tagged), 3, old));
    EXPECT_EQ(old, strings{"x"});
  }
}

TEST(HtmlXmlText, MarkupTokenizer) {
  using wide = std::vector<std::wstring>;
  const std::pair<std::u16string, wide> rows[] = {
      {u"a<b>c</b>", {L"a", L"<b>", L"c", L"</b>"}},
      {u"<pre>x<y</pre>", {L"", L"<pre>", L"x<y", L"</pre>"}},
      {u"<?php a>b ?>t", {L"", L"<?php a>b ?>"}},
      {u"<SCRIPT a>if(a<b)</x>", {L"", L"<SCRIPT a>", L"if(a<b)", L"</x>"}},
      {u"<%x>%>y>z<", {L"", L"<%x>%>", L"y>z"}},
      {u"a>b<c", {L"a>b"}},
  };
  for (const auto& [text, want] : rows) {
    const bytes_t in = utf16le(text);
    wide out;
    EXPECT_TRUE(split_markup_w(in.data(), static_cast<uint32_t>(in.size()), out));
    EXPECT_EQ(out, want);
  }
  // An odd last byte is no unit; nothing complete gives false.
  bytes_t odd = utf16le(u"q<i>");
  odd.push_back('<');
  wide out;
  EXPECT_TRUE(split_markup_w(odd.data(), static_cast<uint32_t>(odd.size()), out));
  EXPECT_EQ(out, (wide{L"q", L"<i>"}));
  wide none;
  const bytes_t text = utf16le(u"text only");
  EXPECT_FALSE(split_markup_w(text.data(), static_cast<uint32_t>(text.size()), none));
}

TEST(HtmlXmlText, XmlDocumentTest) {
  const std::pair<std::string, bool> rows[] = {
      {"<?xml version='1.0'?>", true},
      {"<?xml ve12345678", true},
      {"<?xml ve1234567", false},  // 15 bytes
      {"<!-- c -->\n<?xml version", true},
      {"<!--a--><!-- b -->\n\n<?xml version", true},
      {"<!-- c --> <?xml version", true},
      {"<!-- <?xml ve --> and more text", false},
      {"<!-- never closed <?xml version", false},
      {"<!-- c -->\n<root/>.....", false},
      {" <?xml version='1.0'?>", false},
      {"<!-- c -->\n<?xml v", false},
  };
  for (const auto& [text, want] : rows)
    EXPECT_EQ(looks_like_xml(as_bytes(text), text.size()), want) << text;
  EXPECT_FALSE(looks_like_xml(nullptr, 20));
}

TEST(HtmlXmlText, ElementRemovalFromFiles) {
  vesk_test::scratch_dir dir;
  // UTF-16LE with a byte-order mark, stripped in place through the wide routine.
  const std::string wide_path = dir.file("wide.xml");
  bytes_t wide = utf16le(u"<a><x>\u00e9</x><b/></a>", true);
  vesk_test::write_file(wide_path, std::string(wide.begin(), wide.end()));
  EXPECT_TRUE(strip_xml_element_in_file(wide_path.c_str(), nullptr, "x"));
  const bytes_t want = utf16le(u"<a><b/></a>", true);
  EXPECT_EQ(vesk_test::read_file(wide_path), std::string(want.begin(), want.end()));

  // Bytes, to another file; the input stays as it was.
  const std::string in = dir.file("in.xml"), out = dir.file("out.xml");
  vesk_test::write_file(in, "<r><secret k='1'>s</secret>t</r>");
  EXPECT_TRUE(strip_xml_element_in_file(in.c_str(), out.c_str(), "secret"));
  EXPECT_EQ(vesk_test::read_file(out), "<r>t</r>");
  EXPECT_EQ(vesk_test::read_file(in), "<r><secret k='1'>s</secret>t</r>");

  // Without the element nothing is written: same bytes and times, false.
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(in.c_str(), &before), 0);
  const std::string untouched = dir.file("untouched.xml");
  EXPECT_FALSE(strip_xml_element_in_file(in.c_str(), untouched.c_str(), "missing"));
  EXPECT_FALSE(std::filesystem::exists(untouched));
  EXPECT_FALSE(strip_xml_element_in_file(in.c_str(), nullptr, "missing"));
  ASSERT_EQ(::stat(in.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(vesk_test::read_file(in), "<r><secret k='1'>s</secret>t</r>");

  // A byte-order mark alone, an odd trailing byte, missing files and names.
  bytes_t odd = utf16le(u"<x>1</x>2", true);
  odd.push_back(0x7A);
  EXPECT_TRUE(strip_xml_element_bytes(odd, "x"));
  bytes_t odd_want = utf16le(u"2", true);
  odd_want.push_back(0x7A);
  EXPECT_EQ(odd, odd_want);
  bytes_t bom{0xFF, 0xFE};
  EXPECT_FALSE(strip_xml_element_bytes(bom, "x"));
  EXPECT_FALSE(strip_xml_element_in_file(dir.file("absent").c_str(), nullptr, "x"));
  EXPECT_FALSE(strip_xml_element_in_file(nullptr, nullptr, "x"));
  EXPECT_FALSE(strip_xml_element_in_file(in.c_str(), nullptr, nullptr));
}

}  // namespace
}  // namespace vk
