// Command files, JSON records, URL queries, zone information and the wide
// option look-ups.
#include "cmdline/text_utils/command_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "fileio_test_support.h"

namespace vk {
namespace {

using strings = std::vector<std::string>;

TEST(CommandFiles, CommandBlocks) {
  const std::pair<std::string, command_list> rows[] = {
      {"<!cmd>copy <!arg=from>a.txt</!arg> \"b c\"</!cmd>",
       {{"copy <!arg=from>a.txt</!arg> \"b c\"", "from", "a.txt", "copy", "b c"}}},
      {"x<!cmd>   </!cmd>y", {{}}},
      {"<!cmd>a<!cmd>b</!cmd>", {{"a<!cmd>b", "a<!cmd>b"}, {"b", "b"}}},
      {"<!cmd><!arg=abc</!arg></!cmd>", {{}}},
      // An element without its end drops the last text gathered ("1").
      {"<!cmd>run <!arg=x>1</!arg> <!arg=y>2</!cmd>",
       {{"run <!arg=x>1</!arg> <!arg=y>2", "x", "run", "<!arg=y>2"}}},
      {"<!cmd><!arg=\"n'>v</!arg><!arg=m>w</!arg>t</!cmd>",
       {{"<!arg=\"n'>v</!arg><!arg=m>w</!arg>t", "n", "v", "m", "w", "t"}}},
      // Erasing an element may join a new one across the gap.
      {"<!cmd><!ar<!arg=p>q</!arg>g=r>s</!arg></!cmd>",
       {{"<!ar<!arg=p>q</!arg>g=r>s</!arg>", "p", "q", "r", "s"}}},
      {"<!cmd>a\r\n\tb\nc</!cmd>", {{"a b c", "a", "b", "c"}}},
  };
  for (const auto& [text, want] : rows) {
    command_list commands{{"old"}};
    EXPECT_TRUE(parse_command_text(commands, text, false)) << text;
    EXPECT_EQ(commands, want) << text;
  }
  command_list commands;
  EXPECT_TRUE(parse_command_text(commands, "<!cmd>a\nb</!cmd>", true));
  EXPECT_EQ(commands, (command_list{{"a\nb", "a\nb"}}));
  EXPECT_FALSE(parse_command_text(commands, "<!cmd>no end", false));
  EXPECT_TRUE(commands.empty());

  // Blocks nested without ends: each is found inside the one before, and the
  // texts gathered would grow with the square of the file.
  std::string nested;
  for (int i = 0; i < 2000; ++i) nested += "<!cmd>x";
  nested += "</!cmd>";
  EXPECT_FALSE(parse_command_text(commands, nested, false));
  EXPECT_TRUE(commands.empty());

  vesk_test::scratch_dir dir;
  const std::string path = dir.file("commands.txt");
  vesk_test::write_file(path, "<!cmd>copy <!arg=from>a.txt</!arg> \"b c\"</!cmd>");
  EXPECT_TRUE(read_command_file(commands, path, false));
  EXPECT_EQ(commands, rows[0].second);
  EXPECT_FALSE(read_command_file(commands, dir.file("absent"), false));
  EXPECT_FALSE(read_command_file(commands, "", false));
  EXPECT_TRUE(commands.empty());
}

TEST(CommandFiles, JsonRecordsUrlQueriesAndZones) {
  std::vector<json_record> records;
  EXPECT_TRUE(split_json_records(records, {"Name", "size", "NAME"},
                                 R"([{"name":"a","size":1},{"size":2}])"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].m_values, (strings{"a", "1", "a"}));
  EXPECT_EQ(records[0].m_names, (strings{"Name", "size", "NAME"}));
  EXPECT_EQ(records[0].m_index, (std::map<std::string, uint32_t>{{"name", 0}, {"size", 1}}));
  EXPECT_EQ(records[1].m_values, (strings{"", "2", ""}));
  EXPECT_TRUE(split_json_records(records, {}, R"([{"a":1}])"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].m_names.empty());
  EXPECT_FALSE(split_json_records(records, {"a"}, "[ ]"));

  struct query {
    std::string url;
    bool found;
    strings names, values;
  };
  const query queries[] = {
      {"a?x=1&y=&z", true, {"x", "y", "z"}, {"1", "", ""}},
      {"a?q=%41", true, {"q"}, {"A"}},
      // Escaped separators are data: split first, then decode.
      {"s?text=a%26b%3Dc", true, {"text"}, {"a&b=c"}},
      {"s?a%3Db=1&c%26d", true, {"a=b", "c&d"}, {"1", ""}},
      {"p%3Fq?x=%3F", true, {"x"}, {"?"}},
      {"p%3Fq", false, {}, {}},
      {"a?n%20m=v%2", true, {"n m"}, {"v%2"}},
      {"a?k=v=w& t = u &", true, {"k", "t ", ""}, {"v=w", " u", ""}},
      {"a?k=v=", true, {"k=v"}, {""}},
      {"a?", false, {}, {}},
      {"abc", false, {}, {}},
      {"", false, {}, {}},
  };
  for (const query& q : queries) {
    strings names{"old"}, values{"old"};
    EXPECT_EQ(split_url_query(names, values, q.url), q.found) << q.url;
    EXPECT_EQ(names, q.names) << q.url;
    EXPECT_EQ(values, q.values) << q.url;
  }

  const std::map<std::string, std::string> zone = {{"A", "x"}, {"ZoneId", "3"}};
  std::ostringstream with, without, other, empty;
  write_zone_info(with, zone, true);
  write_zone_info(without, zone, false);
  write_zone_info(other, {{"ZoneIdX", "0x4"}, {"zoneid", "1"}, {"ZoneId2", "?"}}, true);
  write_zone_info(empty, {}, true);
  EXPECT_EQ(with.str(), R"(zone_info={"A":"x";"ZoneId":"3 [internet]"})");
  EXPECT_EQ(without.str(), R"(zone_info={"A":"x";"ZoneId":"3"})");
  EXPECT_EQ(
      other.str(),
      R"(zone_info={"ZoneId2":"? [local machine]";"ZoneIdX":"0x4 [untrusted]";"zoneid":"1"})");
  EXPECT_EQ(empty.str(), "");
}

TEST(CommandFiles, WideOptions) {
  std::wstring p = L"prog", a = L"-V", b = L"1", c = L"-Out", d = L"f", e = L"-v";
  auto fresh = [&](std::vector<wchar_t*>& argv) {
    argv = {p.data(), a.data(), b.data(), c.data(), d.data(), e.data()};
  };
  std::vector<wchar_t*> argv;
  fresh(argv);
  int argc = 6;
  std::wstring value = L"old";
  // "-v" at the end has no value: only the first match counts, none is taken.
  EXPECT_TRUE(take_wide_value(L"-out", value, argc, argv.data()));
  EXPECT_EQ(value, L"f");
  EXPECT_EQ(argc, 4);
  EXPECT_EQ(std::wstring(argv[3]), L"-v");
  EXPECT_TRUE(take_wide_flag(L"-V", argc, argv.data()));
  EXPECT_EQ(argc, 3);
  EXPECT_EQ(std::wstring(argv[1]), L"1");
  EXPECT_FALSE(take_wide_value(L"-v", value, argc, argv.data()));  // last: not taken
  EXPECT_EQ(value, L"");
  EXPECT_EQ(argc, 3);
  EXPECT_FALSE(take_wide_flag(L"prog", argc, argv.data()));  // argv[0] is never matched

  fresh(argv);
  argc = 6;
  std::wstring v1, v2, v3, v4 = L"keep";
  EXPECT_TRUE(take_wide_values2(L"-v", v1, v2, argc, argv.data()));
  EXPECT_EQ(v1 + L"|" + v2, L"1|-Out");
  EXPECT_EQ(argc, 3);
  fresh(argv);
  argc = 6;
  EXPECT_TRUE(take_wide_values3(L"-v", v1, v2, v3, argc, argv.data()));
  EXPECT_EQ(v3, L"f");
  EXPECT_EQ(argc, 2);
  fresh(argv);
  argc = 6;
  EXPECT_FALSE(take_wide_values4(L"-OUT", v1, v2, v3, v4, argc, argv.data()));
  EXPECT_EQ(v4, L"keep");
  EXPECT_EQ(argc, 6);
  EXPECT_FALSE(take_wide_flag(L"-x", argc, nullptr));

  std::vector<std::wstring> list = {L"-a", L"-VERBOSE", L"--prefix=1", L"-verbose"};
  EXPECT_TRUE(take_packed_option_w(0x766572626F736500ULL, list, true));
  EXPECT_EQ(list.size(), 4u);
  EXPECT_TRUE(take_packed_option_w(0x766572626F736500ULL, list, false));
  EXPECT_EQ(list, (std::vector<std::wstring>{L"-a", L"--prefix=1", L"-verbose"}));
  EXPECT_TRUE(take_packed_option_w(0x0061, list, false));  // "-a"
  EXPECT_FALSE(take_packed_option_w(0x7A7A, list, false));
  std::wstring taken;
  EXPECT_TRUE(take_prefixed_arg_w("--PREFIX", taken, list));
  EXPECT_EQ(taken, L"--prefix=1");
  EXPECT_FALSE(take_prefixed_arg_w("verbose", taken, list));  // not at the start
  EXPECT_EQ(list, std::vector<std::wstring>{L"-verbose"});
  EXPECT_FALSE(vmdk_option_given(list));

  float f = 0;
  EXPECT_TRUE(wtext_to_float(L"1e300", f));
  EXPECT_TRUE(std::isinf(f) && f > 0);
  EXPECT_TRUE(wtext_to_float(L"-1e39", f));
  EXPECT_TRUE(std::isinf(f) && f < 0);
  EXPECT_TRUE(wtext_to_float(L" 2.5x", f));
  EXPECT_EQ(f, 2.5f);
  EXPECT_TRUE(wtext_to_float(L"junk", f));
  EXPECT_EQ(f, 0.0f);
  EXPECT_FALSE(wtext_to_float(nullptr, f));
  int32_t n = 7;
  EXPECT_TRUE(wstring_to_int(L"0x1F", n));
  EXPECT_EQ(n, 31);
  EXPECT_TRUE(wstring_to_int(L"-12", n));
  EXPECT_EQ(n, -12);
  EXPECT_FALSE(wstring_to_int(L"abc", n));
  EXPECT_EQ(n, -12);
}

}  // namespace
}  // namespace vk
