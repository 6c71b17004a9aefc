// The labelled text block of one record: the full block of a written link,
// and the conditions under which each optional line appears.
#include "jumplist/record_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sstream>
#include <streambuf>
#include <string>

#include "alloc_hook.h"
#include "cmdline/record_writer.h"
#include "default_params.h"
#include "foundation/uni_stream.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/record_rows.h"
#include "report_fixture.h"

namespace vk {
namespace {

using namespace vesk_test;

constexpr uint64_t k_2024_03_05_070809 = 133540960890000000ull;

// The labelled form, as the tool chooses it when no row form is asked for.
std::string report(lnk_record& r, lnk::useropts& o) {
  o.m_multiline = 1;
  std::ostringstream out;
  report_record(out, r, o);
  return out.str();
}

lnk_record fixture_record(const lnk::useropts& o) {
  const auto bytes = fixture_link();
  lnk_record r;
  EXPECT_TRUE(parse_lnk(r, bytes.data(), bytes.size(), o, vesk_test::test_scratch(), false, 0));
  return r;
}

TEST(RecordReport, FullBlockOfAnAutomaticListEntry) {
  lnk::useropts o;
  o.m_source_path = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  o.m_automatic_list = true;
  o.m_appid_text = "5f7b5f1e01b83767";
  o.m_appid = 0x5f7b5f1e01b83767;
  o.m_source_modify_time = k_2024_03_05_070809;
  lnk_record r = fixture_record(o);
  r.m_mru_position = 1;
  r.m_entry_num = 10;
  r.m_mru_time = 133540960891234567ull;
  r.m_has_access_count = 1;
  r.m_access_count = 5;
  const std::string size = "0x" + [&] {
    char b[48];
    std::snprintf(b, sizeof b, "%08x [%u bytes]", r.m_lnk_size, r.m_lnk_size);
    return std::string(b);
  }();
  EXPECT_EQ(report(r, o),
            "source path/filename:     d/5f7b5f1e01b83767.automaticDestinations-ms\n"
            "AppID:                    5f7b5f1e01b83767\n"
            "MRU/MFU index:            1\n"
            "stream #:                 10\n"
            "MRU time:                 2024-03-05 07:08:09.123 [UTC]\n"
            "Interaction count:        5\n"
            "file modified:            2024-03-05 07:08:09.000 [UTC]\n"
            "file accessed:            \n"
            "file stats changed:       \n"
            "Target flags:             HasLinkInfo, HasName, IsUnicode\n"
            "Target attributes:        FILE_ATTRIBUTE_ARCHIVE\n"
            "Target modified:          not available\n"
            "Target accessed:          not available\n"
            "Target created:           not available\n"
            "Target ObjID time:        2009-07-14 05:45:20.500 [UTC]\n"
            "Parsed size:              " +
                size +
                "\n"
                "Target file size:         0x00001000 [4096 bytes]\n"
                "Show cmd:                 [SW_SHOWNORMAL]\n"
                "Volume Type:              fixed\n"
                "Volume serial num:        1234-abcd\n"
                "Local base path:          C:\\Temp\\report.docx\n"
                "Description:              Отчёт 2024\n"
                "NETBIOS name:             desktop-01\n"
                "Object ID:                846ee3bb-7039-11de-9d20-001d09fa5a1c\n"
                "MAC address:              00:1d:09:fa:5a:1c\n"
                "\n");
  // The AppID file's name follows the AppID.
  o.m_appids[0x5f7b5f1e01b83767] = "Pinned";
  EXPECT_NE(report(r, o).find("AppID:                    5f7b5f1e01b83767 [Pinned]\n"),
            std::string::npos);
}

TEST(RecordReport, OptionalLinesFollowRecordAndSettings) {
  struct row {
    const char* name;
    void (*setup)(lnk_record&, lnk::useropts&);
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::vector<row> rows = {
      {"empty record, no list",
       [](lnk_record&, lnk::useropts&) {},
       {"Target attributes:        not specified\n", "Target modified:          not available\n",
        "Parsed size:              0x00000000 [0 bytes]\n"},
       {"AppID:", "MRU/MFU", "stream #:", "file offset:", "File offset:", "username:"}},
      {"header time 0 takes the ID list's valid time",
       [](lnk_record& r, lnk::useropts&) {
         r.m_idlist_times = {k_2024_03_05_070809, 1, 0};
       },
       {"Target modified:          2024-03-05 07:08:09.000 [UTC]\n",
        "Target accessed:          not available\n", "Target created:           not available\n"},
       {}},
      {"mru position 99998 shown",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = true;
         r.m_mru_position = 99998;
       },
       {"MRU/MFU index:            99998\n", "MRU time:                 \n", "AppID:"},
       {"Interaction count:"}},
      {"mru position 99999 not available",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = true;
         r.m_mru_position = 99999;
       },
       {"MRU/MFU index:            not available for this record\n"},
       {}},
      {"negative position not available",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = true;
         r.m_mru_position = -1;
       },
       {"MRU/MFU index:            not available for this record\n"},
       {}},
      {"slack record",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = true;
         r.m_from_free_space = 1;
       },
       {"MRU/MFU/Stream# data:     not avail - parsed from slack space\n"},
       {"MRU/MFU index:", "stream #:", "MRU time:"}},
      {"custom list: AppID only",
       [](lnk_record&, lnk::useropts& o) {
         o.m_custom_list = true;
         o.m_appid_text = "abc";
       },
       {"AppID:                    abc\n"},
       {"MRU/MFU", "stream #:"}},
      {"offsets and MFT, hex",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_show_offset = true;
         o.m_show_target_mft = true;
         r.m_file_offset = 0x200;
         r.m_target_mft_entry = 77;
         r.m_target_mft_seq = 3;
       },
       {"file offset:              0x00000200\n", "File offset:              0x00000200 [512]\n",
        "MFT Entry:                0x0000004d\n", "MFT Sequence#:            0x0003\n"},
       {}},
      {"offsets and MFT, decimal",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_carve_mode = true;
         o.m_show_target_mft = true;
         o.m_hex_numbers = 0;
         r.m_file_offset = 0x200;
         r.m_target_mft_entry = 77;
         r.m_target_mft_seq = 3;
       },
       {"file offset:              512\n", "File offset:              0x00000200 [512]\n",
        "MFT Entry:                77\n", "MFT Sequence#:            3\n"},
       {}},
      {"offset past 4 GiB, entries past nine",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_show_offset = true;
         r.m_file_offset = 0x123456789ull;
         r.m_vista_idlist_details.assign(11, "e");
         r.m_property_keys.assign(10, "k");
         r.m_property_values.assign(10, "v");
       },
       {"File offset:              0x123456789 [4886718345]\n", " [9] e\n [10] e\n [11] e\n",
        " [10] k" + std::string(48, ' ') + " [v]\n"},
       {}},
      {"property counts differ",
       [](lnk_record& r, lnk::useropts&) {
         r.m_property_keys = {"a", "b", "c"};
         r.m_property_values = {"1", "2"};
       },
       {},
       {"PropertyStoreDataBlk", " [1] "}},
      {"property lines",
       [](lnk_record& r, lnk::useropts&) {
         r.m_property_keys = {"k", std::string(60, 'x')};
         r.m_property_values = {"1", "2"};
       },
       {"PropertyStoreDataBlk:    format guid/id [value] \n",
        " [1] k" + std::string(48, ' ') + " [1]\n", " [2] " + std::string(60, 'x') + " [2]\n"},
       {}},
      {"numbered details",
       [](lnk_record& r, lnk::useropts&) {
         r.m_idlist_details = {"one"};
         r.m_vista_idlist_details = {"a", "b"};
       },
       {"Embedded ID List info:    one\n", "VistaAndAboveIDList-info: \n [1] a\n [2] b\n"},
       {}},
      {"orig values differ",
       [](lnk_record& r, lnk::useropts&) {
         r.m_volume_droid = "v";
         r.m_birth_volume_droid = "w";
         r.m_mac_address = "m";
         r.m_birth_mac_address = "m";
         r.m_object_droid_time = k_2024_03_05_070809;
         r.m_birth_object_droid_time = k_2024_03_05_070809 + 10000000;
       },
       {"Volume ID:                v [orig: w]\n", "MAC address:              m\n",
        "Target ObjID time [orig]: 2024-03-05 07:08:10.000 [UTC]\n"},
       {}},
      {"beside a tracker block, DestList netbios name only for automatic lists",
       [](lnk_record& r, lnk::useropts&) {
         r.m_tracker_offset = 0x4c;
         r.m_netbios_name = "pc";
       },
       {},
       {"NETBIOS name:"}},
      {"values no name covers, as they stand",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = true;
         r.m_header.m_show_cmd = 0x00040001;
         r.m_header.m_file_attributes = 0x100020;
         r.m_mru_time = UINT64_MAX;
       },
       {"Show cmd:                 [0x00040001]\n",
        "Target attributes:        FILE_ATTRIBUTE_ARCHIVE; 0x00100000\n",
        "MRU time:                 0xffffffffffffffff\n"},
       {}},
      {"no tracker block: the DestList entry's name and droids",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = true;
         r.m_netbios_name = "pc-7";
         take_destlist_droids(r, fixture_destlist_guids());
       },
       {"NETBIOS name:             pc-7\n",
        "Volume ID:                523e1c6a-0b91-474f-8d35-2c610e7a49d2\n",
        "Object ID:                846ee3bb-7039-11de-9d20-080027123456 [orig: "
        "846ee3bb-7039-41de-9d20-080027abcdef]\n",
        // The version-4 birth droid holds no address.
        "MAC address:              08:00:27:12:34:56\n",
        "Target ObjID time:        2009-07-14 05:45:20.500 [UTC]\n"},
       {}},
      {"a tracker block read: the DestList entry's droids stay unshown",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = true;
         r.m_tracker_offset = 0x4c;
         take_destlist_droids(r, fixture_destlist_guids());
       },
       {},
       {"Volume ID:", "Object ID:", "MAC address:", "ObjID time"}},
      {"hostname without username",
       [](lnk_record&, lnk::useropts& o) { o.m_host_name = "h"; },
       {"username:                 \nhostname:                 h\n"},
       {}},
      {"username alone",
       [](lnk_record&, lnk::useropts& o) { o.m_user_name = "u"; },
       {},
       {"username:"}},
      {"long values and every flag",
       [](lnk_record& r, lnk::useropts&) {
         r.m_header.m_lnk_flags = ~0u;
         r.m_header.m_file_attributes = ~0u;
         r.m_arguments = std::string(5000, 'a');
         r.m_property_keys = {std::string(3000, 'k')};
         r.m_property_values = {std::string(3000, 'v')};
       },
       {"Cmdline args:             " + std::string(5000, 'a') + "\n",
        ", KeepLocalIDListForUNCTarget\n", "; FILE_ATTRIBUTE_VIRTUAL; 0xfffe0000\n",
        " [1] " + std::string(3000, 'k') + " [" + std::string(3000, 'v') + "]\n"},
       {}},
      {"first character NUL hides LinkInfo text",
       [](lnk_record& r, lnk::useropts&) {
         r.m_drive_type = std::string(1, '\0');
         r.m_relative_path = std::string(1, '\0');
       },
       {"Relative path:            "},
       {"Volume Type:"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    lnk::useropts o;
    lnk_record r;
    row.setup(r, o);
    const std::string text = report(r, o);
    for (const auto& s : row.present) EXPECT_NE(text.find(s), std::string::npos) << s;
    for (const auto& s : row.absent) EXPECT_EQ(text.find(s), std::string::npos) << s;
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
  }
}

TEST(RecordReport, TargetNameIsTheFirstNonEmptyPath) {
  lnk_record r;
  EXPECT_EQ(record_target_name(r), "");
  r.m_icon_location = "icon";
  r.m_relative_path = "rel";
  EXPECT_EQ(record_target_name(r), "rel");
  r.m_idlist_path = "id";
  EXPECT_EQ(record_target_name(r), "id");
}

// File names may hold any bytes: what is not UTF-8 is shown as \xNN.
TEST(RecordReport, NamesThatAreNotUtf8AreEscaped) {
  const struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"plain/x.lnk", "plain/x.lnk"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"bad\xFF.lnk", "bad\\xFF.lnk"},
      {"cut\xC3", "cut\\xC3"},
      {"\xC0\xAF", "\\xC0\\xAF"},                    // overlong
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
      {"\xE2\x82x", "\\xE2\\x82x"},
      // Runs longer than a word on both sides of what is kept or escaped.
      {"0123456789abcdef\xFF"
       "0123456789abcdef",
       "0123456789abcdef\\xFF0123456789abcdef"},
      {"01234567\xC3\xA9"
       "89abcdefgh\x80ijklmnop",
       "01234567\xC3\xA9"
       "89abcdefgh\\x80ijklmnop"},
  };
  for (const auto& r : rows) EXPECT_EQ(utf8_or_escaped(r.in), r.out) << r.in;
}

}  // namespace
}  // namespace vk

namespace vk {
namespace {

// Reporting a parsed record costs next to no allocations, not one per line
// or per cell: each form writes into buffers that keep their room, and only
// the stream grows (the labelled block at most 1, the other forms 2).
TEST(RecordReport, AllocationsPerReportedRecord) {
  const struct {
    char form;  // 'q': CSV with every cell quoted
    size_t most;
  } forms[] = {{'t', 1}, {'c', 2}, {'l', 2}, {'b', 2}, {'q', 2}};
  // Texts of a megabyte, of every place a large one takes: a path, a
  // property value and a network name in a joined cell, a text of quotes.
  const std::string large(size_t{1} << 20, 'p'), quotes(size_t{1} << 20, '"');
  const struct {
    const char* what;
    void (*set)(lnk_record&, const std::string&);
    const std::string& text;
  } texts[] = {
      {"path", [](lnk_record& r, const std::string& t) { r.m_idlist_path = t; }, large},
      {"path of quotes", [](lnk_record& r, const std::string& t) { r.m_idlist_path = t; }, quotes},
      {"property value",
       [](lnk_record& r, const std::string& t) {
         r.m_property_keys = {"key"};
         r.m_property_values = {t};
       },
       large},
      {"property value of quotes",
       [](lnk_record& r, const std::string& t) {
         r.m_property_keys = {"key"};
         r.m_property_values = {t};
       },
       quotes},
      {"network name", [](lnk_record& r, const std::string& t) { r.m_net_name = t; }, large},
  };
  for (const auto& f : forms) {
    lnk::useropts o;
    o.m_source_path = "d/5f7b5f1e01b83767.automaticDestinations-ms";
    o.m_automatic_list = true;
    o.m_appid_text = "5f7b5f1e01b83767";
    o.m_source_modify_time = k_2024_03_05_070809;
    o.m_multiline = f.form == 't';
    o.m_csv = f.form == 'c' || f.form == 'q';
    o.m_quoted_csv = f.form == 'q';
    o.m_csvl2t = f.form == 'l';
    o.m_bodyfile = f.form == 'b';
    lnk_record r = fixture_record(o);
    std::ostringstream out;
    report_record(out, r, o);  // the header and the buffers' first growth
    constexpr size_t k_records = 50;
    vesk_test::heap::scope counted;
    for (size_t i = 0; i < k_records; ++i) report_record(out, r, o);
    const int64_t made = counted.allocations();
    EXPECT_LE(made, static_cast<int64_t>(f.most * k_records)) << f.form << ": " << made;
    // A text of a megabyte is written from where it stands: no form's
    // buffers take a copy of it (the log2timeline line shows it twice).
    for (const auto& t : texts) {
      lnk_record big = fixture_record(o);
      t.set(big, t.text);
      std::FILE* null = std::fopen("/dev/null", "w");
      ASSERT_NE(null, nullptr);
      {
        uni::descriptor_output sink(fileno(null), uni::k_output_buffer_size);
        vesk_test::heap::scope held;
        report_record(sink, big, o);
        EXPECT_LT(held.peak_above_start(), int64_t{1} << 18) << f.form << ": " << t.what;
      }
      std::fclose(null);
    }
  }
}

// Memory that runs out anywhere under a record's report, from the report's
// scratch to a row writer's cells, is said in the report's sink or thrown
// to the caller: a record written short is never taken for a whole one.
// The text goes into room kept before, so that only the writers'
// allocations fail. The first record of a row form writes the titles, and
// the row shows the target's attribute names: both cut short are said.
TEST(RecordReport, MemoryThatCutsAReportIsSaidInItsSink) {
  struct kept_room : std::streambuf {
    std::string text;
    kept_room() { text.reserve(1 << 16); }
    int_type overflow(int_type c) override {
      if (c != traits_type::eof() && text.size() < text.capacity())
        text.push_back(static_cast<char>(c));
      return c;
    }
    std::streamsize xsputn(const char* p, std::streamsize n) override {
      text.append(p, std::min(static_cast<size_t>(n), text.capacity() - text.size()));
      return n;
    }
  };
  // t labelled, c CSV, m CSV cells as labelled lines (the general table
  // writer), l log2timeline, b body file.
  for (const char form : {'t', 'c', 'm', 'l', 'b'}) {
    SCOPED_TRACE(form);
    auto set = [&](lnk::useropts& o) {
      o.m_source_path = "d/5f7b5f1e01b83767.automaticDestinations-ms";
      o.m_automatic_list = true;
      o.m_multiline = form == 't' || form == 'm';
      o.m_csv = form == 'c' || form == 'm';
      o.m_csvl2t = form == 'l';
      o.m_bodyfile = form == 'b';
    };
    lnk::useropts whole_settings;
    set(whole_settings);
    lnk_record r = fixture_record(whole_settings);
    r.m_header.m_file_attributes = 0x21;
    kept_room whole;
    std::ostream whole_out(&whole);
    report_record(whole_out, r, whole_settings);
    std::ostringstream titles;
    lnk::useropts titled;
    set(titled);
    if (form == 'c') register_record_columns(titles, titled);
    if (form == 'l')
      write_l2t_header(titles, titled.m_separator, false, titled.m_pair_datetime != 0);
    EXPECT_EQ(whole.text.rfind(titles.str(), 0), 0u);
    EXPECT_EQ(
        whole.text.find("FILE_ATTRIBUTE_READONLY; FILE_ATTRIBUTE_ARCHIVE") != std::string::npos,
        form != 'l' && form != 'b');
    ASSERT_TRUE(whole_settings.m_scratch.report_faults.empty());
    ASSERT_FALSE(whole_settings.m_scratch.report_faults.out_of_memory());
    size_t said = 0;
    for (int64_t n = 0;; ++n) {
      lnk::useropts o;
      set(o);
      kept_room room;
      std::ostream out(&room);
      bool thrown = false, failed = false;
      {
        vesk_test::heap::scope watched;
        vesk_test::heap::fail_nth(n);
        try {
          report_record(out, r, o);
        } catch (const std::bad_alloc&) {
          thrown = true;
        }
        failed = vesk_test::heap::state().fail_countdown == -1;
        vesk_test::heap::no_failure();
      }
      if (!failed) {
        EXPECT_EQ(room.text, whole.text);
        break;
      }
      const bool short_of_memory = o.m_scratch.report_faults.out_of_memory();
      if (!thrown && room.text != whole.text) {
        EXPECT_TRUE(short_of_memory) << n;
      }
      said += short_of_memory;
      ASSERT_LT(n, 1000);
    }
    EXPECT_GT(said, 0u);
  }
}

// A block written in place into a descriptor stream's put area reads as the
// block through a plain stream, whatever the area's size: lines longer than
// the area, blocks split over many drains, the ID-list breakout between, and
// texts sent to the stream from where they stand (held) or copied (a text
// with a mark, or all of them).
TEST(RecordReport, BlockInThePutAreaReadsAsThroughAStream) {
  for (const bool breakout : {false, true}) {
    for (const size_t held : {size_t{1}, SIZE_MAX}) {
      lnk::useropts o;
      o.m_source_path = "d/5f7b5f1e01b83767.automaticDestinations-ms";
      o.m_automatic_list = true;
      o.m_multiline = 1;
      o.m_idlist_times = breakout;
      lnk_record r = fixture_record(o);
      r.m_name.assign(300, 'n');
      r.m_arguments = "-a\t\x01b";
      r.m_property_keys = {"k"};
      r.m_property_values = {std::string(200, 'v')};
      std::ostringstream plain;
      for (int i = 0; i < 3; ++i) report_record(plain, r, o);
      held_texts_from from(held);
      for (const uint32_t area : {2u, 64u, 200u, 1000u, uni::k_output_buffer_size}) {
        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        {
          uni::descriptor_output out(fileno(file), area);
          for (int i = 0; i < 3; ++i) report_record(out, r, o);
          EXPECT_TRUE(out.good()) << area;
        }
        std::string got(plain.str().size() + 1, '\0');
        std::rewind(file);
        got.resize(std::fread(got.data(), 1, got.size(), file));
        std::fclose(file);
        EXPECT_EQ(got, plain.str()) << area << " " << breakout << " " << held;
      }
    }
  }
}

}  // namespace
}  // namespace vk
