// Hostile input for the markup, command-file and small-parser routines:
// every truncation and zeroed copy of a set of seeds and 100,000 seeded
// mutations each, with their outputs held to bounds set by the input. The
// file routines also run on mutated files in a scratch folder. Last, no
// source outside this folder includes these routines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cmdline/text_utils/command_files.h"
#include "cmdline/text_utils/html_xml_text.h"
#include "cmdline/text_utils/markup_text.h"
#include "cmdline/text_utils/small_parsers.h"
#include "fileio_test_support.h"
#include "foundation/vk_console.h"
#include "foundation/vk_html.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"

namespace vk {
namespace {

constexpr int k_mutations = 100'000;

using namespace std::string_view_literals;

const std::string_view k_pieces[] = {"<",        ">",
                                     "</",       "<!arg=",
                                     "</!arg>",  "<!cmd>",
                                     "</!cmd>",  "%",
                                     "?",        "&",
                                     "=",        "\"",
                                     "'",        " ",
                                     "\n",       "\r\n",
                                     "<?xml ve", "<!--",
                                     "-->",      "*",
                                     "??",       "(",
                                     ")",        "\0"sv,
                                     "<h",       "<h2000000000>",
                                     "<script",  "</script>",
                                     "<pre>",    "<?",
                                     "%>",       "<li>",
                                     "<ol>",     "<img src=\"",
                                     "href=",    "[",
                                     "]",        "{",
                                     "}",        ":",
                                     "%4",       "ZoneId",
                                     "-",        ",",
                                     "0x",       "\xff\xfe",
                                     "<!arg=a>", "1e400"};

// Byte flips, inserted markup pieces, cut and doubled ranges.
std::string mutate_text(const std::string& seed, std::mt19937& rng) {
  std::string s = seed;
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 4) {
      case 0:
        if (!s.empty()) s[rng() % s.size()] = static_cast<char>(rng() & 0xFF);
        break;
      case 1:
        s.insert(at, k_pieces[rng() % std::size(k_pieces)]);
        break;
      case 2:
        if (at < s.size()) s.erase(at, 1 + rng() % 8);
        break;
      default:
        if (at < s.size() && s.size() < 4096)
          s.insert(rng() % (s.size() + 1), s.substr(at, 1 + rng() % 16));
    }
  }
  return s;
}

// Runs every truncation and the zeroed copy of each seed, then the mutations.
template <class Run>
size_t drive(const std::vector<std::string>& seeds, uint32_t seed, Run run) {
  size_t runs = 0;
  for (const std::string& s : seeds) {
    for (size_t n = 0; n <= s.size(); ++n, ++runs) run(s.substr(0, n));
    run(std::string(s.size(), '\0'));
    ++runs;
  }
  std::mt19937 rng(seed);
  for (int i = 0; i < k_mutations; ++i, ++runs) run(mutate_text(seeds[i % seeds.size()], rng));
  return runs;
}

const uint8_t* bytes_of(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}
uint32_t size_of(const std::string& s) {
  return static_cast<uint32_t>(s.size());
}
std::wstring widened(const std::string& s) {
  std::wstring w;
  for (char c : s) w += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return w;
}

const std::vector<std::string> k_markup_seeds = {
    "<html><h2>Title</h2><p>Text<br/>more</p><ol><li>a<li>b</ol><ul><li>c</ul></html>",
    "<img src=\"a.png\" alt=\"x\"><a HREF = Page.HTM>l</a><pre>x<y</pre><script>s</script>",
    "<blockquote>q</blockquote><b>b</b><i>i</i><sup>1</sup><sub>2</sub><code>c</code><hr>",
    "<?php a>b ?><%x%><A Href='one' src=two><link href=three >",
    "a<b x='1'>t</b>c<body><b>x</b></body>",
};

TEST(MarkupHostile, MarkupTextRoutines) {
  const size_t runs = drive(k_markup_seeds, 2061, [](const std::string& in) {
    std::string text = in, out;
    if (extract_xml_element(out, text, "b")) {
      ASSERT_EQ(out.size() + text.size(), in.size());
    } else {
      ASSERT_EQ(text, in);
    }
    std::wstring wtext = widened(in), wout;
    extract_xml_element_w(wout, wtext, L"b");

    std::vector<std::string> tokens;
    split_html_tokens(bytes_of(in), static_cast<int32_t>(in.size()), tokens, false);
    std::vector<std::wstring> wide;
    for (const auto& t : tokens) wide.push_back(widened(t));
    size_t before = 0, after = 0;
    for (const auto& w : wide) before += w.size();
    normalize_wide_tags(wide);
    for (const auto& w : wide) after += w.size();
    ASSERT_LE(after, 2 * before);  // at most a quote pair per character

    std::string markup;
    html_to_markup_text(bytes_of(in), in.size(), markup);
    ASSERT_LE(markup.size(), 8 * in.size() + 64);

    link_map links;
    if (collect_links(bytes_of(in), size_of(in), links)) {
      for (const auto& [value, where] : links)
        ASSERT_LE(uint64_t{where.first} + where.second, in.size());
    }
    // The in-memory steps of the script and text removers.
    std::string buffer = in;
    uint32_t length = size_of(buffer);
    if (!buffer.empty()) {
      strip_xml_element(reinterpret_cast<uint8_t*>(buffer.data()), length, "script");
      ASSERT_LE(length, in.size());
    }
    if (!in.empty()) {
      auto* raw = new uint8_t[in.size()];
      std::copy(in.begin(), in.end(), raw);
      size_t n = in.size();
      remove_all_occurrences(&raw, &n, "<p", true);
      ASSERT_LE(n, in.size());
      delete[] raw;
    }
  });
  EXPECT_GT(runs, size_t{k_mutations});
}

TEST(MarkupHostile, HtmlXmlRoutines) {
  std::vector<std::string> seeds = {"a<b & 'c'\r\n\"d\">",
                                    "<!-- c -->\n<?xml version='1.0'?><r><x>1</x></r>",
                                    "<a href=\"h\" src=\"s\"><img SRC='t'><link href=u >"};
  std::string wide;
  for (char c : std::string("a<b>c</b><pre>x<y</pre><?php a>b ?>t<script>q</script>"))
    wide += {c, '\0'};
  seeds.push_back(wide);
  seeds.push_back("\xff\xfe" + wide);
  const size_t runs = drive(seeds, 2101, [](const std::string& in) {
    const std::string escaped = html_escape_text(in);
    ASSERT_LE(escaped.size(), 6 * in.size());
    const std::wstring wescaped = html_escape_w(widened(in));
    ASSERT_LE(wescaped.size(), 5 * in.size());

    std::vector<std::string> src, href, links;
    collect_src_attributes(bytes_of(in), size_of(in), src);
    collect_href_attributes(bytes_of(in), size_of(in), href);
    collect_link_attributes(bytes_of(in), size_of(in), links);
    ASSERT_LE(links.size(), in.size() / 2);

    std::vector<std::wstring> parts;
    split_markup_w(bytes_of(in), size_of(in), parts);
    size_t chars = 0;
    for (const auto& p : parts) chars += p.size();
    ASSERT_LE(chars, in.size() / 2);

    looks_like_xml(bytes_of(in), in.size());
    std::vector<uint8_t> bytes(in.begin(), in.end());
    if (strip_xml_element_bytes(bytes, "x")) {
      ASSERT_LT(bytes.size(), in.size());
    } else {
      ASSERT_EQ(bytes, std::vector<uint8_t>(in.begin(), in.end()));
    }
  });
  EXPECT_GT(runs, size_t{k_mutations});
}

TEST(MarkupHostile, CommandFileRoutines) {
  const std::vector<std::string> seeds = {
      "<!cmd>copy <!arg=from>a.txt</!arg> \"b c\"</!cmd>\n<!cmd>  </!cmd><!cmd>a<!cmd>b</!cmd>",
      "<!cmd><!arg=abc</!arg></!cmd><!cmd><!ar<!arg=p>q</!arg>g=r>s</!arg></!cmd>",
      "[{\"name\":\"a\",\"size\":1},{\"size\":2}] http://h/p?x=1&y=&z&q=%41",
      "ZoneId=3 -verbose 1e300 0x1f -V",
  };
  const size_t runs = drive(seeds, 2111, [](const std::string& in) {
    command_list commands;
    parse_command_text(commands, in, false);
    size_t chars = 0;
    for (const auto& c : commands)
      for (const auto& t : c) chars += t.size();
    ASSERT_LE(chars, 4 * in.size());
    parse_command_text(commands, in, true);

    std::vector<json_record> records;
    split_json_records(records, {"name", "size"}, in);
    for (const auto& r : records) ASSERT_TRUE(r.m_values.empty() || r.m_values.size() == 2);

    std::vector<std::string> names, values;
    split_url_query(names, values, in);
    ASSERT_EQ(names.size(), values.size());

    std::ostringstream os;
    write_zone_info(os, {{"ZoneId", in}, {in, "4"}}, true);

    // The text as an argument array and list, split at blanks.
    std::vector<std::wstring> words;
    for (const auto& w : [&] {
           std::vector<std::string> v;
           split_string(in, ' ', v, false, true);
           return v;
         }())
      words.push_back(widened(w));
    std::vector<wchar_t*> argv;
    for (auto& w : words) argv.push_back(w.data());
    int argc = static_cast<int>(argv.size());
    std::wstring a, b, c, d;
    const wchar_t* name = words.empty() ? L"-v" : words.back().c_str();
    const std::wstring option = name;
    take_wide_values4(option.c_str(), a, b, c, d, argc, argv.data());
    take_wide_values3(option.c_str(), a, b, c, argc, argv.data());
    take_wide_values2(option.c_str(), a, b, argc, argv.data());
    take_wide_value(option.c_str(), a, argc, argv.data());
    take_wide_flag(option.c_str(), argc, argv.data());
    ASSERT_GE(argc, 0);
    std::vector<std::wstring> list = words;
    take_prefixed_arg_w(in.c_str(), a, list);
    take_packed_option_w(0x766572626F736500ULL, list, false);
    float f = 0;
    int32_t n = 0;
    const std::wstring wide = widened(in);
    wtext_to_float(wide.c_str(), f);
    wstring_to_int(wide, n);
  });
  EXPECT_GT(runs, size_t{k_mutations});
}

TEST(MarkupHostile, SmallParserRoutines) {
  const std::vector<std::string> seeds = {
      "%1:%s%10%0%%x%",
      "{\"Items\": [ {\"a\":1} ], \"other\": [ {\"b\":2} ]}",
      "a=1\r\nb=2=3\nc\n a=9 \n=e\n",
      "4D 5A ?? *10 00 ?? *05 ff",
      "1-3, 7, 0x10,, ,20-",
      std::string("a\0b\0\0c", 6),
      "a(b(c)d)e (x",
  };
  const size_t runs = drive(seeds, 2071, [](const std::string& in) {
    std::vector<std::string> pieces;
    std::map<int32_t, uint32_t> numbers;
    std::map<char, uint32_t> characters;
    split_percent_template(pieces, numbers, characters, in);
    size_t chars = 0;
    for (const auto& p : pieces) chars += p.size();
    ASSERT_LE(chars, in.size());
    for (const auto& [number, index] : numbers) ASSERT_LT(index, pieces.size());

    std::vector<std::string> arrays;
    extract_json_arrays(arrays, {"items", "other"}, in);
    for (const auto& a : arrays) ASSERT_LE(a.size(), in.size());

    std::map<std::string, std::string> map;
    parse_name_value_lines(map, std::vector<uint8_t>(in.begin(), in.end()));

    std::vector<uint16_t> pattern;
    if (parse_byte_pattern(in, pattern)) {
      ASSERT_FALSE(pattern.empty());
      ASSERT_LE(pattern.back(), 0xFF);
      ASSERT_LE(pattern.size(), in.size());
    }
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    parse_range_list(ranges, in, ',', '-');
    ASSERT_LE(ranges.size(), in.size());

    std::vector<std::string> strings;
    split_nul_strings(std::vector<uint8_t>(in.begin(), in.end()), strings);
    std::vector<uint16_t> units((in.size() + 1) / 2);
    for (size_t i = 0; i < in.size(); ++i)
      units[i / 2] |= static_cast<uint16_t>(static_cast<uint8_t>(in[i]) << (8 * (i % 2)));
    std::vector<std::wstring> wide;
    ASSERT_EQ(split_utf16_multi_string(units.data(), wide, size_of(in)), in.size() & ~size_t{1});

    std::string out;
    remove_parenthesised(in, out);
    ASSERT_LE(out.size(), in.size());
  });
  EXPECT_GT(runs, size_t{k_mutations});
}

TEST(MarkupHostile, FileRoutinesOnFiles) {
  vesk_test::scratch_dir dir;
  const std::string in = dir.file("in"), out = dir.file("out"), cmd = dir.file("cmd");
  std::vector<std::string> seeds = k_markup_seeds;
  seeds.push_back("<!cmd>copy <!arg=from>a.txt</!arg> \"b c\"</!cmd>");
  std::string wide = "\xff\xfe";
  for (char c : std::string("<r><x>1</x><script>q</script></r>")) wide += {c, '\0'};
  seeds.push_back(wide);
  std::mt19937 rng(2206);
  console_capture quiet;  // strip_script_file may print to standard output
  for (int i = 0; i < 1000; ++i) {
    const std::string& seed = seeds[i % seeds.size()];
    const std::string bytes =
        i < 150 ? seed.substr(0, rng() % (seed.size() + 1)) : mutate_text(seed, rng);
    vesk_test::write_file(in, bytes);
    vesk_test::write_file(cmd, bytes);
    html_to_markup_file(in, out);
    std::string markup;
    html_to_markup_text(bytes_of(bytes), bytes.size(), markup);
    ASSERT_EQ(vesk_test::read_file(out), markup);
    html_to_markup_file(out, out);
    strip_script_file(in.c_str(), out.c_str(), false);
    strip_script_file(out.c_str(), nullptr, true);
    strip_script_file(in.c_str(), nullptr, false);
    std::vector<uint8_t> stripped(bytes.begin(), bytes.end());
    const bool changed = strip_xml_element_bytes(stripped, "x");
    ASSERT_EQ(strip_xml_element_in_file(in.c_str(), out.c_str(), "x"), changed);
    if (changed) {
      ASSERT_EQ(vesk_test::read_file(out), std::string(stripped.begin(), stripped.end()));
    }
    remove_text_from_file(in.c_str(), "<", true);
    ASSERT_EQ(vesk_test::read_file(in).find('<'), std::string::npos);
    command_list from_file, from_text;
    read_command_file(from_file, cmd, false);
    parse_command_text(from_text, bytes, false);
    ASSERT_EQ(from_file, from_text);
    quiet.clear();
  }
}

// No source outside this folder includes these routines, so no command of
// the tool can reach them.
TEST(MarkupHostile, NoOtherSourceIncludesTheseRoutines) {
  const std::filesystem::path here(__FILE__);
  const std::filesystem::path folder = here.parent_path().parent_path();
  const std::filesystem::path root = folder.parent_path().parent_path();
  std::error_code ec;
  if (!here.is_absolute() || !std::filesystem::is_directory(root / "jumplist", ec))
    GTEST_SKIP() << "source tree not found beside " << here;
  const char* headers[] = {"text_utils/markup_text.h", "text_utils/html_xml_text.h",
                           "text_utils/command_files.h", "text_utils/small_parsers.h",
                           "text_utils/markup_file_io.h"};
  size_t scanned = 0;
  for (const char* sub : {"foundation", "cmdline", "shell", "jumplist", "disk", "tools"}) {
    if (!std::filesystem::is_directory(root / sub, ec)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / sub, ec)) {
      const auto& p = entry.path();
      if (p.string().starts_with(folder.string())) continue;
      if (p.extension() != ".cpp" && p.extension() != ".h") continue;
      std::ifstream f(p, std::ios::binary);
      std::stringstream text;
      text << f.rdbuf();
      for (const char* h : headers)
        EXPECT_EQ(text.str().find(h), std::string::npos) << p << " " << h;
      ++scanned;
    }
  }
  EXPECT_GT(scanned, 50u);
}

}  // namespace
}  // namespace vk
