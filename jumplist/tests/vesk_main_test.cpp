// The program's usage text, run header and the AppID of a jump list's name.
#include "jumplist/vesk_main.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vk {
namespace {

TEST(VeskMain, UsageTextFramesBannerAndOptions) {
  std::ostringstream out;
  write_vesk_usage(out);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind(std::string(77, '-') + "\n\nvesk ver: 0.64\n\nUsage\n\n", 0), 0u);
  EXPECT_NE(text.find("\n  -csv_separator \"|\"         = use a pipe char for separator\n"),
            std::string::npos);
  // The options the lines above leave unexplained follow them.
  const std::string last =
      "  -idltimes                  = incl the IDList times (only [default|-csv])\n\n"
      " More options\n"
      "  -out <file>                = write the report to this file (default: standard output)\n";
  EXPECT_NE(text.find(last), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

TEST(VeskMain, RunHeaderLines) {
  const time start(uint64_t{133540960891234567ull}, type_time::filetime);  // 2024-03-05 07:08:09
  const std::vector<std::string> args = {"./vesk", "-pipe", "a b", "-quiet"};
  EXPECT_EQ(vesk_run_header(args, start, "", "box", "Linux;6.1;x;64", false, false),
            "vesk ver: 0.64\n"
            "run time: 03/05/2024 07:08:09 [UTC]; host: box; os: Linux;6.1;x;64\n"
            "\"command: <filelist> ... | ./vesk -pipe 'a b' -quiet\"\n");
  EXPECT_EQ(vesk_run_header({"vesk", "f"}, start, "yyyy-mm-dd", "h", "s", true, true),
            "vesk ver: 0.64\n"
            "run time: 2024-03-05 07:08:09 [UTC]; host: h; os: s; <~>:=\n"
            "\"command: vesk f\"\n");
  const std::string system = vesk_system_text("/proc/self/exe");
  EXPECT_EQ(system.rfind("Linux;", 0), 0u) << system;
  EXPECT_EQ(system.substr(system.size() - 3), ";64") << system;
}

TEST(VeskMain, AppIdFromPath) {
  struct row {
    const char* path;
    const char* text;
    uint64_t value;
    const char* extension;
  };
  const row rows[] = {
      {"d/5f7b5f1e01b83767.automaticDestinations-ms", "5f7b5f1e01b83767", 0x5f7b5f1e01b83767,
       "automaticDestinations-ms"},
      {"c:\\x\\ABCD12345f7b5f1e01b83767.customDestinations-ms", "5f7b5f1e01b83767",
       0x5f7b5f1e01b83767, "customDestinations-ms"},
      // 16 digits or more before the '.' give their last 16; fewer only
      // as the whole name of a jump list (a CRC without leading zeros).
      {"d/zz1a.bin", "", 0, "bin"},
      {"d/desc_pipe.lnk", "", 0, "lnk"},
      {"network_share.lnk", "", 0, "lnk"},
      {"d/name.txt", "", 0, "txt"},
      {"d/x_5f7b5f1e01b8376.lnk", "", 0, "lnk"},
      {"d/a.5f7b5f1e01b8376.lnk", "", 0, "lnk"},
      {"d/faef7def55a1d4b.automaticDestinations-ms", "faef7def55a1d4b", 0xfaef7def55a1d4b,
       "automaticDestinations-ms"},
      {"d\\e.customDestinations-MS", "e", 0xe, "customDestinations-MS"},
      {"d/067.lnk", "", 0, "lnk"},
      {"d/x_5f7b5f1e01b83767.lnk", "5f7b5f1e01b83767", 0x5f7b5f1e01b83767, "lnk"},
      {"d/9abc5f7b5f1e01b83767.lnk", "5f7b5f1e01b83767", 0x5f7b5f1e01b83767, "lnk"},
      {"d/manual.lnk", "", 0, "lnk"},
      // A bare name (read from the current folder) has its AppID too.
      {"1b4dd67f29cb1962.automaticDestinations-ms", "1b4dd67f29cb1962", 0x1b4dd67f29cb1962,
       "automaticDestinations-ms"},
      {"d/x.y/noextension", "", 0, ""},
      {"a.b/c.d\\noextension-longer-than-a-group", "", 0, ""},
      {"d/.bin", "", 0, "bin"},
      {"d/1b4dd67f29cb1962.", "1b4dd67f29cb1962", 0x1b4dd67f29cb1962, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    const source_appid id = appid_from_path(r.path);
    EXPECT_EQ(id.text, r.text);
    EXPECT_EQ(id.value, r.value);
    EXPECT_EQ(id.extension, r.extension);
  }
  // The last separator, of either kind, wherever it falls in the path.
  for (size_t lead = 0; lead < 20; ++lead)
    for (const char* tail : {"/1a.lnk", "\\1a.lnk", "/b\\1a.lnk", "\\b/1a.lnk", "1a.lnk"}) {
      const std::string path = std::string(lead, 'x') + "/y.z.q" + std::string(lead, 'c') + tail;
      SCOPED_TRACE(path);
      // Without a separator in the tail the name takes in the 'c's before it,
      // which make 16 digits from 14 of them on.
      std::string text = tail[0] == '1' && lead >= 14 ? std::string(lead, 'c') + "1a" : "";
      if (text.size() > 16) text.erase(0, text.size() - 16);
      const source_appid id = appid_from_path(path);
      EXPECT_EQ(id.text, text);
      EXPECT_EQ(id.extension, "lnk");
    }
}

}  // namespace
}  // namespace vk
