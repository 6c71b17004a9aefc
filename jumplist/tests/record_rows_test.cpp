// The row forms of one record: which columns a run registers, what each
// record puts under each title (also when a later record is of another
// kind), the log2timeline and body-file lines, and odd record values.
#include "jumplist/record_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <sstream>

#include "default_params.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/record_report.h"
#include "report_fixture.h"

namespace vk {
namespace {

using namespace vesk_test;

constexpr uint64_t k_2024_03_05_070809 = 133540960890000000ull;
constexpr uint64_t k_mru = 133540960891234567ull;  // 2024-03-05 07:08:09.123

// The settings of "-csv" (or of "-csvl2t" / "-bodyfile" with form set).
void use_form(lnk::useropts& o, char form) {
  o.m_csv = form == 'c';
  o.m_csvl2t = form == 'l';
  o.m_bodyfile = form == 'b';
  o.m_header_pending = 1;
  o.m_no_padding = form == 'c' ? 1 : 0;
  o.m_separator.assign(1, form == 'b' ? '|' : ',');
  o.m_replace_char = form == 'b' ? '|' : ',';
  o.m_replacement_char = form == 'b' ? ';' : ' ';
  o.m_show_target_mft = true;
  build_time_format_settings(o.m_time_settings, o.m_date_format, o.m_time_format,
                             o.m_pair_datetime != 0);
}

void automatic_file(lnk::useropts& o) {
  o.m_source_path = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  o.m_automatic_list = true;
  o.m_custom_list = o.m_carve_mode = false;
  o.m_appid_text = "5f7b5f1e01b83767";
  o.m_source_modify_time = k_mru;
}

void carved_file(lnk::useropts& o) {
  o.m_source_path = "x.lnk";
  o.m_automatic_list = o.m_custom_list = false;
  o.m_carve_mode = true;
}

lnk_record entry_10(const lnk::useropts& o) {
  const auto bytes = fixture_link();
  lnk_record r;
  EXPECT_TRUE(parse_lnk(r, bytes.data(), bytes.size(), o, vesk_test::test_scratch(), false, 0));
  r.m_source_type = "VESKLIST (automatic)";
  r.m_mru_position = 1;
  r.m_entry_num = 10;
  r.m_mru_time = k_mru;
  r.m_has_access_count = 1;
  r.m_access_count = 5;
  return r;
}

// Entry 10 of a list whose link stream is missing: its DestList values alone.
lnk_record destlist_only_entry() {
  lnk_record r;
  r.m_source_type = "VESKLIST (automatic)";
  r.m_mru_position = 1;
  r.m_entry_num = 10;
  r.m_mru_time = k_mru;
  r.m_netbios_name = "pc-7";
  take_destlist_droids(r, fixture_destlist_guids());
  return r;
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == sep)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// A CSV report read back: titles and rows of cells, cells without the
// writer's leading blank.
struct table {
  std::vector<std::string> titles;
  std::vector<std::vector<std::string>> rows;

  explicit table(const std::string& text) {
    const auto lines = lines_of(text);
    for (size_t i = 0; i < lines.size(); ++i) {
      auto cells = split(lines[i], ',');
      for (auto& c : cells)
        if (!c.empty() && c[0] == ' ') c.erase(0, 1);
      (i == 0 ? titles : rows.emplace_back()) = cells;
    }
  }
  // The cell under the title (the time cell after it with next).
  std::string at(size_t row, const std::string& title, bool next = false) const {
    for (size_t i = 0; i < titles.size(); ++i)
      if (titles[i] == title) {
        const size_t k = i + (next ? 1 : 0);
        return row < rows.size() && k < rows[row].size() ? rows[row][k] : "<none>";
      }
    return "<no title>";
  }
};

// The report; a second one, with every text a line may hold held rather
// than copied, must read the same.
std::string report(const lnk_record& r, lnk::useropts& o) {
  const auto pending = o.m_header_pending;
  const auto written = o.m_records_written;
  std::ostringstream out, held;
  {
    held_texts_from all(1);
    report_record(held, r, o);
  }
  o.m_header_pending = pending;
  o.m_records_written = written;
  report_record(out, r, o);
  EXPECT_EQ(held.str(), out.str());
  return out.str();
}

TEST(RecordRows, CsvCellsStandUnderTheirTitles) {
  struct row {
    const char* name;
    void (*setup)(lnk_record&, lnk::useropts&);
    std::vector<std::array<std::string, 2>> cells;  // title, value ("title+" the time cell)
  };
  const std::vector<row> rows = {
      {"entry 10",
       [](lnk_record&, lnk::useropts&) {},
       {{"appid", "5f7b5f1e01b83767"},
        {"MRU/MFU", "1"},
        {"stream#", "10"},
        {"MRU date", "2024-03-05"},
        {"MRU date+", "07:08:09.123"},
        {"interaction", "5"},
        {"file mdate", "2024-03-05"},
        {"file mdate+", "07:08:09"},
        {"file adate", ""},
        {"tgt mdate", ""},
        {"ObjID date", "2009-07-14"},
        {"ObjID date+", "05:45:20.500"},
        {"tgt attrib", "FILE_ATTRIBUTE_ARCHIVE"},
        {"target inode", ""},
        {"file size", "0x00001000"},
        {"target name", ""},
        {"vol type", "fixed"},
        {"vol serial", "1234-abcd"},
        {"local path", "C:\\Temp\\report.docx"},
        {"network/device info", ""},
        {"extra info", "[Description]: Отчёт 2024"},
        {"netbios name", "desktop-01"},
        {"object id", "846ee3bb-7039-11de-9d20-001d09fa5a1c"},
        {"mac addr", "00:1d:09:fa:5a:1c"}}},
      {"base 10: counters decimal anyway, size follows",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_hex_numbers = 0;
         r.m_entry_num = 31;
         r.m_mru_position = 99998;
       },
       {{"MRU/MFU", "99998"}, {"stream#", "31"}, {"file size", "4096"}}},
      {"hex: counters decimal, MFT numbers hex",
       [](lnk_record& r, lnk::useropts&) {
         r.m_entry_num = 31;
         r.m_target_mft_entry = 77;
         r.m_target_mft_seq = 3;
       },
       {{"stream#", "31"}, {"target inode", "0x0000004d"}, {"target seq#", "0x0003"}}},
      {"positions out of range and no count",
       [](lnk_record& r, lnk::useropts&) {
         r.m_mru_position = 0;
         r.m_entry_num = 0;
         r.m_has_access_count = 0;
         r.m_mru_time = 0;
         r.m_header.m_file_size = 0;
       },
       {{"MRU/MFU", ""},
        {"stream#", ""},
        {"interaction", "na"},
        {"MRU date", ""},
        {"MRU date+", ""},
        {"file size", ""}}},
      {"from free space",
       [](lnk_record& r, lnk::useropts&) { r.m_from_free_space = 1; },
       {{"MRU/MFU", "na"},
        {"stream#", "na"},
        {"MRU date", "na"},
        {"MRU date+", "na"},
        {"interaction", "na"},
        {"file size", "0x00001000"}}},
      {"custom list",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_automatic_list = false;
         o.m_custom_list = o.m_carve_mode = true;
         o.m_appid = 7;
         o.m_appids[7] = "Tool";
         r.m_mru_position = 0;  // no DestList entry behind it
       },
       {{"appid", "5f7b5f1e01b83767 [Tool]"},
        {"MRU/MFU", "na"},
        {"stream#", "na"},
        {"MRU date", "na"},
        {"MRU date+", "na"},
        {"interaction", "na"}}},
      {"a list carved with a custom list: its entry's cells",
       [](lnk_record&, lnk::useropts& o) {
         o.m_automatic_list = false;
         o.m_custom_list = o.m_carve_mode = true;
       },
       {{"MRU/MFU", "1"},
        {"stream#", "10"},
        {"MRU date", "2024-03-05"},
        {"MRU date+", "07:08:09.123"},
        {"interaction", "5"}}},
      {"NTFS scan: creation and MFT times apart, the source's MFT reference",
       [](lnk_record&, lnk::useropts& o) {
         o.m_ntfs_scan = true;
         o.m_source_change_time = k_2024_03_05_070809;
         o.m_source_mft_time = k_mru;
         o.m_source_inode = 0x1234;
         o.m_source_seq = 2;
       },
       {{"file cdate", "2024-03-05"},
        {"file cdate+", "07:08:09"},
        {"file mftdate", "2024-03-05"},
        {"file mftdate+", "07:08:09.123"},
        {"src inode", "0x00001234"},
        {"src seq#", "0x0002"}}},
      {"NTFS scan of a file without an MFT reference",
       [](lnk_record&, lnk::useropts& o) { o.m_ntfs_scan = true; },
       {{"src inode", ""}, {"src seq#", ""}, {"file cdate", ""}}},
      {"an MRU time that is no date: as it stands",
       [](lnk_record& r, lnk::useropts&) { r.m_mru_time = UINT64_MAX; },
       {{"MRU date", "0xffffffffffffffff"}, {"MRU date+", ""}}},
      {"no link read: the DestList entry's name and droids",
       [](lnk_record& r, lnk::useropts&) { r = destlist_only_entry(); },
       {{"netbios name", "pc-7"},
        {"volume id", "523e1c6a-0b91-474f-8d35-2c610e7a49d2"},
        {"object id", "846ee3bb-7039-11de-9d20-080027123456"},
        {"mac addr", "08:00:27:12:34:56"},
        {"ObjID date", "2009-07-14"},
        {"ObjID date+", "05:45:20.500"}}},
      {"texts joined, separators replaced",
       [](lnk_record& r, lnk::useropts&) {
         r.m_header.m_file_attributes = 0x40000000;  // no named bit
         r.m_net_name = "\\\\srv\\share";
         r.m_device_name = "Z:";
         r.m_name.clear();
         r.m_relative_path = "..\\a,b";
         r.m_arguments = "-x";
         r.m_idlist_details = {"d1", "d2"};
         r.m_vista_idlist_extra = "v";
         r.m_property_keys = {"k1", "k2", "k3"};
         r.m_property_values = {"p1", "p2"};
         r.m_idlist_path = "My Computer\\C:\\a";
       },
       {{"tgt attrib", "0x40000000"},
        {"network/device info", "[NetworkName]: \\\\srv\\share; [DeviceName]: Z:"},
        {"extra info", "[RelPath]: ..\\a b; [CmdArgs]: -x"},
        {"IDList extra info", "d1; d2; v; k1 [p1]; k2 [p2]"},
        {"target name", "My Computer\\C:\\a"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    lnk::useropts o;
    use_form(o, 'c');
    automatic_file(o);
    lnk_record r = entry_10(o);
    row.setup(r, o);
    const table t(report(r, o));
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0].size(), t.titles.size());
    for (const auto& [title, value] : row.cells) {
      const bool next = title.back() == '+';
      EXPECT_EQ(t.at(0, next ? title.substr(0, title.size() - 1) : title, next), value) << title;
    }
  }
}

TEST(RecordRows, ColumnsAreFixedByTheFirstRecordOfARun) {
  lnk::useropts o;
  use_form(o, 'c');
  automatic_file(o);
  o.m_source_path = std::string(55, 'p');
  lnk_record r = entry_10(o);
  std::ostringstream out;
  report_record(out, r, o);
  EXPECT_EQ(lines_of(out.str())[0], registered_titles(o, {true, false}));
  EXPECT_EQ(o.m_columns.size(), 39u);
  EXPECT_EQ(o.m_columns[0].m_width, 0u);  // no alignment in CSV

  // A carved record after it: its cells under the same titles, none of the
  // list's cells filled.
  carved_file(o);
  lnk_record carved = entry_10(o);
  carved.m_source_type = "LNK signature (carve)";
  carved.m_file_offset = 0x1234;
  carved.m_mru_position = 0;  // a loose link: no place in a list
  report_record(out, carved, o);
  // A carved list's row keeps its DestList cells.
  lnk_record carved_row = entry_10(o);
  carved_row.m_source_type = "VESKLIST (carved allocated)";
  report_record(out, carved_row, o);
  table t(out.str());
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.at(2, "MRU/MFU"), "1");
  EXPECT_EQ(t.at(2, "stream#"), "10");
  EXPECT_EQ(t.at(2, "interaction"), "5");
  EXPECT_EQ(t.rows[1].size(), t.titles.size());
  EXPECT_EQ(t.at(1, "source type"), "LNK signature (carve)");
  for (const char* title : {"appid", "MRU/MFU", "stream#", "MRU date", "interaction", "file mdate"})
    EXPECT_EQ(t.at(1, title), "") << title;
  EXPECT_EQ(t.at(1, "tgt attrib"), "FILE_ATTRIBUTE_ARCHIVE");
  EXPECT_EQ(t.at(1, "file size"), "0x00001000");

  // A list changed elsewhere (its stamp reset, its size kept): the cells
  // follow the new titles, not the plan made for the registered list.
  std::swap(o.m_columns[1], o.m_columns[2]);
  o.m_columns_stamp = 0;
  automatic_file(o);
  o.m_source_path = std::string(55, 'p');
  std::ostringstream swapped;
  report_record(swapped, r, o);
  const std::string front = std::string(55, 'p') + ",5f7b5f1e01b83767,VESKLIST (automatic),1,10,";
  EXPECT_EQ(swapped.str().rfind(front, 0), 0u) << swapped.str();

  // The other way round: a carved first record fixes a shorter list with
  // the offset; an automatic record has no offset and its list cells drop.
  lnk::useropts c;
  use_form(c, 'c');
  carved_file(c);
  c.m_pair_datetime = 1;
  c.m_no_padding = 0;
  c.m_idlist_times = true;
  c.m_user_name = "u";
  c.m_host_name = "h";
  build_time_format_settings(c.m_time_settings, c.m_date_format, c.m_time_format, true);
  carved.m_idlist_items.emplace_back();
  carved.m_idlist_items.back().long_name = "Users";
  std::ostringstream out2;
  report_record(out2, carved, c);
  automatic_file(c);
  report_record(out2, r, c);
  const auto lines = lines_of(out2.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].find("appid"), std::string::npos);
  EXPECT_EQ(lines[0].find("file modify"), std::string::npos);
  EXPECT_EQ(lines[0].rfind("source path/filename" + std::string(20, ' ') + ",", 0), 0u);
  EXPECT_NE(lines[0].find(", tgt modify date [UTC]  ,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(",LNK offset,"), std::string::npos);
  EXPECT_NE(lines[0].find(",user acct,host name,IDList segments"), std::string::npos);
  for (const auto& l : lines) EXPECT_EQ(split(l, ',').size(), split(lines[0], ',').size()) << l;
  EXPECT_NE(lines[1].find(",0x00001234,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find(", 2009-07-14 05:45:20.500,"), std::string::npos) << lines[1];
  // The breakout's cell last; a record without ID-list items leaves it empty.
  EXPECT_TRUE(lines[1].ends_with(
      ",!*<[name;modify [UTC];access [UTC];create [UTC];mft;mftseq]>*<Users;0;0;0;0;0>"))
      << lines[1];
  EXPECT_TRUE(lines[2].ends_with(",h        ," + std::string(20, ' '))) << lines[2];
  EXPECT_EQ(lines[2].find("0x00001234"), std::string::npos);
  EXPECT_NE(lines[2].find(",u        ,h        ,"), std::string::npos) << lines[2];
}

TEST(RecordRows, Log2timelineLines) {
  struct row {
    const char* name;
    void (*setup)(lnk_record&, lnk::useropts&);
    std::vector<std::string> lines;  // after the header
  };
  const std::string head =
      "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,"
      "inode,notes,format,extra";
  const std::string path = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  const std::vector<row> rows = {
      {"entry 10",
       [](lnk_record&, lnk::useropts&) {},
       {"2024-03-05, 07:08:09.123,UTC,..C.,VESKLIST,VESKLIST (automatic),MRU Time,,,, <- " + path +
        "; local path-C:\\Temp\\report.docx; nebios-desktop-01; mac-00:1d:09:fa:5a:1c,2," + path +
        ",0,VSN: 1234-abcd; target size: 4096; ObjID: 846ee3bb-7039-11de-9d20-001d09fa5a1c; "
        "ObjID time: 2009-07-14 05:45:20.500 [UTC], (velkor),5f7b5f1e01b83767"}},
      {"carved, times grouped, volume id, nothing else",
       [](lnk_record& r, lnk::useropts& o) {
         carved_file(o);
         r = lnk_record();
         r.m_source_type = "t";
         r.m_header.m_write_time = k_2024_03_05_070809;
         r.m_idlist_times = {0, k_2024_03_05_070809, k_mru};  // access from the ID list
         r.m_idlist_path = "C:\\a";
         r.m_volume_droid = "vol";
         r.m_object_droid = "obj";
         r.m_object_droid_time = 1;  // no valid time: no time text
         o.m_source_inode = 4660;    // as an NTFS scan sets it
       },
       {"2024-03-05, 07:08:09.000,UTC,MA..,LNK,t,Last Modified; Last Access,,,C:\\a,C:\\a <- "
        "x.lnk,2,x.lnk,4660,VolID: vol; ObjID: obj; (rawscan), (velkor),",
        "2024-03-05, 07:08:09.123,UTC,...B,LNK,t,Created,,,C:\\a,C:\\a <- "
        "x.lnk,2,x.lnk,4660,VolID: "
        "vol; ObjID: obj; (rawscan), (velkor),"}},
      {"paired date and time, no padding: separators replaced, line ends shown",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_pair_datetime = 1;
         o.m_no_padding = 1;
         r.m_idlist_path = "a,b\nc";
         r.m_arguments = "-x\r\n";
       },
       {"2024-03-05 07:08:09.123,UTC,..C.,VESKLIST,VESKLIST (automatic),MRU Time,,,a b[LF]c,a "
        "b[LF]c <- " +
        path +
        "; local path-C:\\Temp\\report.docx; nebios-desktop-01; "
        "mac-00:1d:09:fa:5a:1c; cmdargs--x[CRLF],2," +
        path +
        ",0,VSN: 1234-abcd; target size: 4096; ObjID: 846ee3bb-7039-11de-9d20-001d09fa5a1c; "
        "ObjID time: 2009-07-14 05:45:20.500 [UTC], (velkor),5f7b5f1e01b83767"}},
      {"an MRU time that is no date: its value among the notes",
       [](lnk_record& r, lnk::useropts&) {
         r.m_mru_time = UINT64_MAX;
         r.m_header.m_write_time = k_2024_03_05_070809;
       },
       {"2024-03-05, 07:08:09.000,UTC,M...,VESKLIST,VESKLIST (automatic),Last Modified,,,, <- " +
        path + "; local path-C:\\Temp\\report.docx; nebios-desktop-01; mac-00:1d:09:fa:5a:1c,2," +
        path +
        ",0,VSN: 1234-abcd; target size: 4096; MRU time: 0xffffffffffffffff; ObjID: "
        "846ee3bb-7039-11de-9d20-001d09fa5a1c; ObjID time: 2009-07-14 05:45:20.500 [UTC], "
        "(velkor),5f7b5f1e01b83767"}},
      {"no link read: the DestList entry's name and droids",
       [](lnk_record& r, lnk::useropts&) { r = destlist_only_entry(); },
       {"2024-03-05, 07:08:09.123,UTC,..C.,VESKLIST,VESKLIST (automatic),MRU Time,,,, <- " + path +
        "; nebios-pc-7; mac-08:00:27:12:34:56,2," + path +
        ",0,VolID: 523e1c6a-0b91-474f-8d35-2c610e7a49d2; ObjID: "
        "846ee3bb-7039-11de-9d20-080027123456; ObjID time: 2009-07-14 05:45:20.500 [UTC], "
        "(velkor),5f7b5f1e01b83767"}},
      {"no valid time: no line", [](lnk_record& r, lnk::useropts&) { r.m_mru_time = 0; }, {}},
      {"quoted, MACB of two times, a path with quotes",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_quoted_csv = 1;
         r.m_idlist_path = "C:\\a \"b\"";
         r.m_header.m_access_time = k_mru;
       },
       {"2024-03-05, 07:08:09.123,\"UTC\",\".AC.\",\"VESKLIST\",\"VESKLIST (automatic)\","
        "\"Last Access; MRU Time\",\"\",\"\",\"C:\\a \"\"b\"\"\",\"C:\\a \"\"b\"\" <- " +
        path +
        "; local path-C:\\Temp\\report.docx; nebios-desktop-01; mac-00:1d:09:fa:5a:1c\",2,\"" +
        path +
        "\",0,\"VSN: 1234-abcd; target size: 4096; ObjID: 846ee3bb-7039-11de-9d20-001d09fa5a1c; "
        "ObjID time: 2009-07-14 05:45:20.500 [UTC]\",\" (velkor)\",\"5f7b5f1e01b83767\""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    lnk::useropts o;
    use_form(o, 'l');
    automatic_file(o);
    lnk_record r = entry_10(o);
    row.setup(r, o);
    const auto lines = lines_of(report(r, o));
    ASSERT_EQ(lines.size(), row.lines.size() + 1);
    EXPECT_EQ(lines[0], o.m_pair_datetime ? "date/time" + head.substr(9) : head);
    for (size_t i = 0; i < row.lines.size(); ++i) EXPECT_EQ(lines[i + 1], row.lines[i]);
    EXPECT_EQ(o.m_header_pending, 0);
    EXPECT_EQ(lines_of(report(r, o)).size(), row.lines.size());  // header once
  }
}

TEST(RecordRows, BodyFileLines) {
  struct row {
    const char* name;
    void (*setup)(lnk_record&, lnk::useropts&);
    std::string line;
  };
  const std::vector<row> rows = {
      {"entry 10", [](lnk_record&, lnk::useropts&) {},
       "0|C:\\Temp\\report.docx (LNK TARGET) <- d/5f7b5f1e01b83767.automaticDestinations-ms "
       "#10|0||0|0|4096|0|0|1709622489|0"},
      {"ID-list path, arguments, MFT entry",
       [](lnk_record& r, lnk::useropts&) {
         r.m_idlist_path = "C:\\a|b";
         r.m_arguments = "-x";
         r.m_target_mft_entry = 77;
         r.m_header.m_create_time = k_2024_03_05_070809;
       },
       "0|C:\\a;b (LNK TARGET) <- d/5f7b5f1e01b83767.automaticDestinations-ms #10; cmdargs--x"
       "|77||0|0|4096|0|0|1709622489|1709622489"},
      {"carved, no MFT column",
       [](lnk_record& r, lnk::useropts& o) {
         carved_file(o);
         o.m_show_target_mft = false;
         r.m_local_base_path.clear();
         r.m_relative_path = "..\\r";
         r.m_file_offset = 0x12345678a;
         r.m_target_mft_entry = 77;
         r.m_mru_time = 0;
         r.m_header.m_access_time = UINT64_MAX;
       },
       "0|..\\r (LNK TARGET) <- x.lnk @0x12345678a (rawscan)|0||0|0|4096|0|0|0|0"},
      // Times the other forms show as not available (mactime would list the
      // years 30828, 9999 and 3001) are 0, as is one before 1970; the last
      // instant of 3000 is a time.
      {"times out of range",
       [](lnk_record& r, lnk::useropts&) {
         r.m_header.m_access_time = 0x7FFFFFFFFFFFFFFFull;
         r.m_header.m_write_time = 2650467743990000000ull;  // 9999-12-31 23:59:59
         r.m_mru_time = 441796896000000000ull;              // 3001-01-01
         r.m_header.m_create_time = 116444735990000000ull;  // 1969-12-31 23:59:59
       },
       "0|C:\\Temp\\report.docx (LNK TARGET) <- d/5f7b5f1e01b83767.automaticDestinations-ms "
       "#10|0||0|0|4096|0|0|0|0"},
      {"last instant of 3000",
       [](lnk_record& r, lnk::useropts&) {
         r.m_header.m_access_time = 441796895999999999ull;  // 3000-12-31 23:59:59.9999999
         r.m_mru_time = 116444736010000000ull;              // 1970-01-01 00:00:01
       },
       "0|C:\\Temp\\report.docx (LNK TARGET) <- d/5f7b5f1e01b83767.automaticDestinations-ms "
       "#10|0||0|0|4096|32535215999|0|1|0"},
      {"a source name with a line end, the line kept whole",
       [](lnk_record& r, lnk::useropts& o) {
         o.m_source_path = "d/a\nb";
         r.m_idlist_path = "C:\\a|b";
       },
       "0|C:\\a;b (LNK TARGET) <- d/a[LF]b #10|0||0|0|4096|0|0|1709622489|0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    lnk::useropts o;
    use_form(o, 'b');
    automatic_file(o);
    lnk_record r = entry_10(o);
    row.setup(r, o);
    EXPECT_EQ(report(r, o),
              "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|"
              "create time\n" +
                  row.line + "\n");
  }
}

// The row written straight into its line equals the general table writer's
// layout of the same cells, under every layout setting.
TEST(RecordRows, DirectRowEqualsTheGeneralTableWriter) {
  using setup = void (*)(lnk::useropts&);
  const std::vector<std::pair<const char*, setup>> settings = {
      {"csv", [](lnk::useropts&) {}},
      {"padded, hex, no blank cells",
       [](lnk::useropts& o) {
         o.m_no_padding = 0;
         o.m_hex_numbers = 1;
         o.m_cell_blank = 0;
       }},
      {"pair, quoted, tab",
       [](lnk::useropts& o) {
         o.m_pair_datetime = 1;
         o.m_quoted_csv = 1;
         o.m_separator = "\t";
         o.m_replace_char = 0;
       }},
      {"other layouts, bar replaced, no line break",
       [](lnk::useropts& o) {
         o.m_date_format = "dd/mmm/yy";
         o.m_time_format = "hh:mm:ss.xxxxxxx";
         o.m_separator = "|";
         o.m_replace_char = '|';
         o.m_replacement_char = ';';
         o.m_row_line_break = 0;
         o.m_no_padding = 0;
       }},
      {"zero layout, NTFS scan, breakout, carved",
       [](lnk::useropts& o) {
         o.m_ntfs_scan = o.m_idlist_times = o.m_show_offset = true;
         o.m_source_inode = 77;
         o.m_user_name = "u\"1\"";
         carved_file(o);
       }},
  };
  lnk_record odd;
  odd.m_mru_time = odd.m_header.m_write_time = UINT64_MAX;
  odd.m_header.m_create_time = 1;
  odd.m_header.m_file_attributes = UINT32_MAX;
  odd.m_idlist_path = "a,b|c\r\nd\"e\"";
  odd.m_arguments = "\"q\"\n\r";
  odd.m_idlist_details = {"", ",", "|\n"};
  odd.m_mru_position = 99999;
  // Cells that open with a quote: quoted where bare.
  lnk_record quotes;
  quotes.m_idlist_path = "\"a\",b";
  quotes.m_idlist_details = {"\"d\""};
  quotes.m_drive_type = "\"";
  // Texts without marks, which a line may hold rather than copy: with and
  // without the separator a setting replaces.
  lnk_record clean;
  clean.m_idlist_path = "C:\\a,b|c";
  clean.m_arguments = "-x 1";
  clean.m_idlist_details = {"d,1", "d|2"};
  for (const auto& [name, apply] : settings) {
    for (int record = 0; record < 5; ++record) {
      SCOPED_TRACE(std::string(name) + " record " + std::to_string(record));
      lnk::useropts o;
      use_form(o, 'c');
      automatic_file(o);
      apply(o);
      build_time_format_settings(o.m_time_settings, o.m_date_format, o.m_time_format,
                                 o.m_pair_datetime != 0);
      if (std::string(name).starts_with("zero")) o.m_time_settings = time_format_settings{};
      lnk_record r = record == 0   ? entry_10(o)
                     : record == 1 ? odd
                     : record == 2 ? quotes
                     : record == 3 ? clean
                                   : lnk_record();
      if (record == 2) o.m_source_path = "\"s\".lnk";
      const std::string target = record_target_name(r);
      record_values v;
      v.m_target_times = record_target_times(r);
      v.m_appid_text = record_appid_text(o);
      v.m_target_name = target;
      std::ostringstream header, direct, held, general;
      register_record_columns(header, o);
      write_record_row(direct, r, o, v);
      {
        held_texts_from all(1);
        write_record_row(held, r, o, v);
      }
      write_record_row_as_table(general, r, o, v);
      EXPECT_EQ(direct.str(), general.str());
      EXPECT_EQ(held.str(), general.str());
    }
  }
}

// Time texts are remembered from record to record, by instant and by day:
// every form still writes each time as the layout lays it out, also on the
// edges of validity and after a layout change.
TEST(RecordRows, TimeTextsFollowTheLayoutFromRecordToRecord) {
  constexpr uint64_t day = 86400 * k_ticks_per_second;
  constexpr uint64_t y1900 = k_unix_epoch_ticks - 2208988800ull * k_ticks_per_second;
  constexpr uint64_t y3001 = k_unix_epoch_ticks + 32535216000ull * k_ticks_per_second;
  const uint64_t ticks[] = {k_mru,
                            k_mru + 1,
                            k_mru + 36012345,
                            k_mru + day,
                            k_mru,
                            k_mru - 1,
                            k_unix_epoch_ticks + 5,
                            k_unix_epoch_ticks + k_ticks_per_second,
                            k_unix_epoch_ticks - 1,
                            y1900 - 1,
                            y1900,
                            y1900 + 1,
                            y3001 - 1,
                            y3001 - day / 2,
                            y3001,
                            y3001 + 1,
                            0,
                            UINT64_MAX / 2,
                            UINT64_MAX};
  const char* const layouts[][2] = {{"yyyy-mm-dd", "hh:mm:ss.xxx"},
                                    {"dd/mmm/yy", "hh:mm:ss.xxxxxxx"},
                                    {"mm/dd/yyyy", "hh:mm:ss"},
                                    {"", ""}};  // the zero layout
  for (const auto& [date_format, time_format] : layouts) {
    for (const uint64_t tick : ticks) {
      SCOPED_TRACE(std::string(date_format) + " " + std::to_string(tick));
      lnk::useropts c, l;
      for (lnk::useropts* o : {&c, &l}) {
        use_form(*o, o == &c ? 'c' : 'l');
        automatic_file(*o);
        o->m_date_format = date_format;
        o->m_time_format = time_format;
        if (*date_format)
          build_time_format_settings(o->m_time_settings, date_format, time_format, false);
        else
          o->m_time_settings = time_format_settings{};
      }
      const time_format_descriptor& layout = c.m_time_settings.m_descriptor;
      filetime_texts want;
      const bool valid = filetime_date_clock(want, tick, layout);
      std::string objid;
      const bool objid_valid = append_filetime_text(objid, tick, layout);
      lnk_record r;
      r.m_source_type = std::string(1, 't');
      r.m_header.m_write_time = tick;
      r.m_mru_time = k_2024_03_05_070809;  // a line whatever the tick
      r.m_object_droid = "o";
      r.m_object_droid_time = tick;

      const table t(report(r, c));
      EXPECT_EQ(t.at(0, "tgt mdate"), std::string(want.date()));
      EXPECT_EQ(t.at(0, "tgt mdate", true), std::string(want.clock()));

      std::string modified;
      for (const auto& line : lines_of(report(r, l)))
        if (line.find("Last Modified") != std::string::npos) modified = line;
      EXPECT_EQ(
          modified.rfind(std::string(want.date()) + ", " + std::string(want.clock()) + ",UTC,M...",
                         0) == 0,
          valid)
          << modified;
      if (valid) {
        EXPECT_EQ(modified.find("ObjID time: " + objid + " [UTC]") != std::string::npos,
                  objid_valid)
            << modified;
      }

      // The body file has a time where the other forms do, as unix seconds
      // from 1970 on (mactime reads no earlier one); else 0.
      lnk::useropts b;
      use_form(b, 'b');
      automatic_file(b);
      const auto body = lines_of(report(r, b));
      ASSERT_EQ(body.size(), 2u);
      const uint64_t seconds = valid && tick >= k_unix_epoch_ticks
                                   ? (tick - k_unix_epoch_ticks) / k_ticks_per_second
                                   : 0;
      EXPECT_EQ(split(body[1], '|').at(8), std::to_string(seconds)) << body[1];
    }
  }
}

// What a report keeps from record to record belongs to its settings: two
// settings objects (other forms, paths, layouts and record values) used in
// turn write what each writes alone, and a record parsed under settings that
// are gone reports as any other.
TEST(RecordRows, SettingsUsedInTurnWriteWhatEachWritesAlone) {
  lnk_record first, second;
  {
    lnk::useropts gone;
    first = entry_10(gone);
  }
  second = first;
  second.m_header.m_lnk_flags ^= 0x80;  // another flags text
  second.m_header.m_file_attributes = 0x21;
  second.m_header.m_write_time += 86400 * k_ticks_per_second;
  auto set_up = [](lnk::useropts& o, char form, bool a) {
    o.m_multiline = form == 't';
    if (a) {
      automatic_file(o);
      o.m_source_path = "d/Отчёт.automaticDestinations-ms";
      o.m_date_format = "dd/mmm/yy";
      o.m_time_format = "hh:mm:ss.xxxxxxx";
    } else {
      carved_file(o);
      o.m_source_path = "e/\xff-Дом.lnk";
      o.m_source_modify_time = k_2024_03_05_070809;
    }
    use_form(o, form);
  };
  auto alone = [&](const lnk_record& r, char form, bool a) {
    lnk::useropts o;
    set_up(o, form, a);
    std::string text = report(r, o);
    return text + report(r, o);
  };
  for (char fa : {'t', 'c', 'l', 'b'}) {
    for (char fb : {'t', 'c', 'l', 'b'}) {
      SCOPED_TRACE(std::string(1, fa) + fb);
      const std::string alone_a = alone(first, fa, true), alone_b = alone(second, fb, false);
      std::string a_text, b_text;
      lnk::useropts a, b;
      set_up(a, fa, true);
      set_up(b, fb, false);
      for (int i = 0; i < 2; ++i) {
        a_text += report(first, a);
        b_text += report(second, b);
      }
      EXPECT_EQ(a_text, alone_a);
      EXPECT_EQ(b_text, alone_b);
      EXPECT_NE(a_text, b_text);
    }
  }
}

// Extreme values in every field: no form reads past anything, loops or
// splits a row.
TEST(RecordRows, OddRecordValuesKeepEveryFormWhole) {
  lnk_record odd;
  odd.m_mru_position = INT32_MIN;
  odd.m_entry_num = UINT64_MAX;
  odd.m_mru_time = UINT64_MAX;
  odd.m_has_access_count = 1;
  odd.m_access_count = UINT32_MAX;
  odd.m_header.m_file_size = UINT32_MAX;
  odd.m_header.m_file_attributes = UINT32_MAX;
  odd.m_header.m_create_time = odd.m_header.m_write_time = UINT64_MAX;
  odd.m_idlist_times = {UINT64_MAX, UINT64_MAX, 1};
  odd.m_object_droid_time = UINT64_MAX;
  odd.m_target_mft_entry = UINT64_MAX;
  odd.m_target_mft_seq = UINT16_MAX;
  odd.m_file_offset = UINT64_MAX;
  odd.m_idlist_path = std::string("a,b|c\r\nd\0e", 11) + std::string(100000, 'x');
  odd.m_name = std::string(1, '\0');
  odd.m_arguments = "\"q\"\n";
  odd.m_property_keys = {"k"};
  odd.m_idlist_details = {"", ",", "|"};
  for (char form : {'c', 'l', 'b'}) {
    for (bool pair : {false, true}) {
      for (const lnk_record& r : {odd, lnk_record()}) {
        SCOPED_TRACE(std::string(1, form) + (pair ? " pair" : ""));
        lnk::useropts o;
        o.m_pair_datetime = pair;
        use_form(o, form);
        o.m_quoted_csv = pair;
        o.m_show_offset = o.m_idlist_times = true;
        automatic_file(o);
        const auto lines = lines_of(report(r, o));
        ASSERT_GE(lines.size(), form == 'l' ? 1u : 2u);
        const char sep = form == 'b' ? '|' : ',';
        for (const auto& l : lines) {
          if (form == 'c' && pair) continue;  // quoted cells may hold the separator
          EXPECT_EQ(split(l, sep).size(), split(lines[0], sep).size()) << l.substr(0, 200);
        }
      }
    }
  }
}

// Every text of a record that some form writes holds a control character,
// a line end and both separators: each form writes it with its marks and
// the separator replaced as the form replaces it, keeps each record on its
// lines, and leaves the record as it was.
TEST(RecordRows, EveryTextIsMarkedAsWrittenAndTheRecordStaysAsItWas) {
  using T = lnk_record_texts;
  const std::pair<const char*, std::string T::*> texts[] = {
      {"idl", &T::m_idlist_path},
      {"vpath", &T::m_vista_idlist_path},
      {"vextra", &T::m_vista_idlist_extra},
      {"dtype", &T::m_drive_type},
      {"serial", &T::m_volume_serial},
      {"label", &T::m_volume_label},
      {"net", &T::m_net_name},
      {"dev", &T::m_device_name},
      {"local", &T::m_local_base_path},
      {"common", &T::m_common_path_suffix},
      {"desc", &T::m_name},
      {"rel", &T::m_relative_path},
      {"work", &T::m_working_dir},
      {"args", &T::m_arguments},
      {"icon", &T::m_icon_location},
      {"ienv", &T::m_icon_environment},
      {"env", &T::m_environment_target},
      {"machine", &T::m_machine_id},
  };
  const std::pair<const char*, std::vector<std::string> T::*> lists[] = {
      {"detail", &T::m_idlist_details},
      {"vdetail", &T::m_vista_idlist_details},
      {"key", &T::m_property_keys},
      {"value", &T::m_property_values},
  };
  // Every kind of mark, past the texts' short-text test; a C1 control beside
  // a no-break space (0xC2 too, but no control).
  const std::string tail =
      std::string("\x01,|\r\n\n\r\r\x7f\t\0.\xC2\x9b\xC2\xA0", 17) + std::string(40, 'x') + "\n";
  lnk_record r;
  r.m_source_type = "t";
  r.m_header.m_write_time = k_2024_03_05_070809;
  for (const auto& [name, text] : texts) r.*text = name + tail;
  for (const auto& [name, list] : lists) r.*list = {name + tail};
  const lnk_record original = r;

  struct form {
    char kind;  // labelled, CSV, padded table, quoted CSV, log2timeline, body file
    size_t lines;
    std::vector<std::string> shown;
  };
  const std::vector<std::string> all = {"idl",     "vpath", "dtype",  "serial", "label",   "net",
                                        "dev",     "local", "common", "desc",   "rel",     "work",
                                        "args",    "icon",  "ienv",   "env",    "machine", "detail",
                                        "vdetail", "key",   "value"};
  const std::vector<std::string> row = {"idl",  "vextra", "dtype",   "serial", "label", "net",
                                        "dev",  "local",  "common",  "desc",   "rel",   "work",
                                        "args", "icon",   "machine", "detail", "key",   "value"};
  const std::vector<form> forms = {
      {'t', 0, all},
      {'c', 2, row},
      {'p', 2, row},
      {'q', 2, row},
      {'l', 2, {"idl", "label", "local", "machine", "args", "serial"}},
      {'b', 2, {"idl", "args"}},
  };
  for (const form& f : forms) {
    SCOPED_TRACE(std::string(1, f.kind));
    lnk::useropts o;
    automatic_file(o);
    use_form(o, f.kind == 'p' || f.kind == 'q' ? 'c' : f.kind);
    if (f.kind == 'p') o.m_no_padding = 0;
    if (f.kind == 'q') {
      o.m_quoted_csv = 1;
      o.m_cell_blank = 0;
    }
    const std::string text = report(r, o);
    for (const char c : text)
      EXPECT_TRUE(c == '\n' || c == '\t' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F))
          << static_cast<int>(c);
    EXPECT_EQ(text.find("\xC2\x9b"), std::string::npos);
    EXPECT_NE(text.find("[0x9b]\xC2\xA0[0x00]x"), std::string::npos);
    const char from = o.m_replacement_char ? o.m_replace_char : 0;
    for (const std::string& name : f.shown) {
      std::string want = name + tail;
      mark_control_chars(want);
      if (f.kind != 't' && from) std::replace(want.begin(), want.end(), from, o.m_replacement_char);
      EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    }
    if (f.lines) {
      EXPECT_EQ(lines_of(text).size(), f.lines) << text;
    }
    for (const auto& [name, member] : texts) EXPECT_EQ(r.*member, original.*member) << name;
    for (const auto& [name, member] : lists) EXPECT_EQ(r.*member, original.*member) << name;
  }
}

}  // namespace
}  // namespace vk
