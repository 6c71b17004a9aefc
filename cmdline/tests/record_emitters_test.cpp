// The NTFS time-flag record, the further row setters, column titles with
// explicit settings, the MFT-entry table writer and the log2timeline writer
// over given time groups.
#include "cmdline/record_emitters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/common_options.h"

namespace {

constexpr uint64_t k_ticks = 133540960891234567ULL;  // 2024-03-05 07:08:09.123456 UTC

std::string printed(const vk::macb_flags& f, bool line_end, bool fn83, bool fn) {
  std::ostringstream os;
  vk::print_macb_flags(f, os, line_end, fn83, fn);
  return os.str();
}

TEST(RecordEmitters, TimeFlagsPrintAndGroupByTime) {
  vk::macb_flags f;
  EXPECT_EQ(printed(f, true, true, true), "");
  vk::set_macb_m(f, vk::macb_si);
  vk::set_macb_b(f, vk::macb_fn);
  vk::set_macb_a(f, 4);  // no such string
  EXPECT_EQ(printed(f, false, false, true), "si:[m...]; fn:[...b]");
  EXPECT_EQ(printed(f, false, false, false), "si:[m...]");
  vk::set_macb_c_fn83(f);
  EXPECT_EQ(printed(f, true, true, false), "si:[m...]; fn8.3[..c.]\n");
  vk::reset_macb_flags(f);
  vk::set_macb_a_fn(f);
  EXPECT_EQ(printed(f, false, false, true), "fn:[.a..]");
  f.m_names.insert("x");
  vk::reset_macb_record(f);
  EXPECT_TRUE(f.m_names.empty());
  EXPECT_EQ(f.m_si + f.m_fn + f.m_fn83, "............");

  vk::macb_time_map times;
  const std::wstring name = L"n\u00e9";
  vk::add_macb_times(times, vk::macb_fn, 10, 10, 20, 0, &name, true);
  vk::add_macb_times(times, vk::macb_si, 0, 0, 0, 10, &name, false);
  ASSERT_EQ(times.size(), 2u);
  EXPECT_EQ(times[10].m_fn, "ma..");
  EXPECT_EQ(times[10].m_si, "...b");
  EXPECT_EQ(times[20].m_fn, "..c.");
  EXPECT_EQ(times[20].m_si_set, 0);
  EXPECT_EQ(times[10].m_names.count("n\xc3\xa9"), 1u);
  EXPECT_EQ(times[10].m_other_names.count("n\xc3\xa9"), 1u);
}

TEST(RecordEmitters, SettersKeepTheRowRules) {
  vk::table_row row(3, true, 0);
  EXPECT_EQ(vk::set_row_time_text(row, 0, k_ticks, vk::vt_filetime, 0, nullptr), -1);
  EXPECT_EQ(row.m_cells[0].m_type, vk::vt_empty);
  EXPECT_EQ(vk::set_row_time_text(row, 3, k_ticks, vk::vt_filetime_1col, 0, nullptr), -1);
  EXPECT_EQ(vk::set_row_time_text(row, 0, k_ticks, vk::vt_filetime_1col, 0, nullptr), 1);
  EXPECT_EQ(row.m_cells[0].m_type, vk::vt_text);
  EXPECT_EQ(row.m_cells[0].m_text, "2024-03-05 07:08:09.123");
  EXPECT_EQ(vk::set_row_time_text(row, 1, k_ticks, vk::vt_filetime_1col, vk::vf_quoted, nullptr),
            1);
  EXPECT_EQ(row.m_cells[1].m_text, "\"2024-03-05 07:08:09.123\"");
  EXPECT_EQ(vk::set_row_time_text(row, 1, 1709622489, vk::vt_unixtime_1col, 0, nullptr), 1);
  EXPECT_EQ(row.m_cells[1].m_text, "2024-03-05 07:08:09.000");
  EXPECT_EQ(vk::set_row_time_text(row, 1, 0, vk::vt_filetime_1col, 0, nullptr), 0);
  EXPECT_EQ(row.m_cells[1].m_type, vk::vt_empty);

  vk::set_row_string(row, 2, "kept", 0);
  EXPECT_EQ(vk::set_row_byte_range(row, 2, nullptr, 4, vk::vt_text, 0), 1);
  EXPECT_EQ(vk::set_row_byte_range(row, 2, reinterpret_cast<const uint8_t*>("x"), 0, 28, 0), 1);
  EXPECT_EQ(row.m_cells[2].m_text, "kept");
  vk::set_row_string(row, 2, "a\"b\r\n", vk::vf_show_line_ends | vk::vf_quoted);
  EXPECT_EQ(row.m_cells[2].m_text, "\"a\"\"b\r\n\"");  // quoted, line ends kept
  const vk::byte_array bytes = {'a', 0, 'b'};
  vk::set_row_bytes(row, 2, bytes, vk::vt_text, 0);
  EXPECT_EQ(row.m_cells[2].m_text, std::string("a\0b", 3));
  vk::set_row_bytes(row, 2, bytes, vk::vt_bytes_spaced, 0);
  EXPECT_EQ(row.m_cells[2].m_bytes, bytes);
  vk::set_row_bytes(row, 2, bytes, 32, 0);  // no such type: ignored
  EXPECT_EQ(row.m_cells[2].m_type, vk::vt_bytes_spaced);

  row.m_cells[1].m_type = vk::vt_text;
  EXPECT_EQ(vk::set_row_list(row, 0, {9, 5}, vk::vt_u64, 0), 2);
  EXPECT_EQ(row.m_cells[0].m_number, 5u);
  EXPECT_EQ(row.m_cells[0].m_list, (std::vector<uint64_t>{5, 9}));
  EXPECT_EQ(row.m_cells[1].m_type, vk::vt_empty);
  vk::set_row_list(row, 0, {9, 5}, vk::vt_u64, 0x2000);
  EXPECT_EQ(row.m_cells[0].m_number, 9u);
  EXPECT_EQ(vk::set_row_list(row, 2, {}, vk::vt_u64, 0), 1);
  EXPECT_EQ(row.m_cells[2].m_list, (std::vector<uint64_t>{0}));
}

TEST(RecordEmitters, CellsFromTextByColumn) {
  std::vector<vk::vk_variant_lite> columns(6);
  vk::init_typed_column(columns[0], "when", 20, vk::vt_filetime_1col, 0);
  vk::init_typed_column(columns[1], "bytes", 20, vk::vt_bytes_spaced, 0);
  vk::init_typed_column(columns[2], "guid", 36, vk::vt_guid, vk::vf_quoted);
  vk::init_typed_column(columns[3], "text", 10, vk::vt_text, 0x100);
  vk::init_typed_column(columns[4], "double", 10, vk::vt_filetime_1col, vk::vf_safari_double);
  vk::init_typed_column(columns[5], "safari", 10, vk::vt_safari_1col, vk::vf_safari_double);
  vk::table_row row(7, true, 0);
  const vk::cell_text_callback upper = [](std::string& t) {
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  };
  auto set = [&](int32_t i, const std::string& text) {
    return vk::set_row_from_text_by_column(row, i, text, columns, nullptr, &upper, nullptr);
  };
  EXPECT_EQ(set(-1, "x"), -1);
  EXPECT_EQ(set(6, "x"), -1);  // the row has the cell, the column list not
  EXPECT_EQ(set(1, "AB"), 1);
  EXPECT_EQ(row.m_cells[1].m_text, "41 42");
  EXPECT_EQ(row.m_cells[1].m_type, vk::vt_text);
  set(0, std::to_string(k_ticks));
  EXPECT_EQ(row.m_cells[0].m_text, std::to_string(k_ticks) + ": 2024-03-05 07:08:09.123");
  set(0, "zero");
  EXPECT_EQ(row.m_cells[0].m_text, "zero");
  set(2, "0123456789abcdef");
  EXPECT_EQ(row.m_cells[2].m_text, "\"33323130-3534-3736-3839-616263646566\"");
  set(3, "low");
  EXPECT_EQ(row.m_cells[3].m_text, "LOW");
  for (const char* bad : {"nan", "inf", "-inf", "1e300", "1.8446744073709552e19"}) {
    set(4, bad);
    EXPECT_EQ(row.m_cells[4].m_text, bad);
    set(5, bad);
    EXPECT_EQ(row.m_cells[5].m_text, bad);
  }
  set(4, "-1");
  EXPECT_EQ(row.m_cells[4].m_text, "-1");
  set(4, "133540960891234567.0");
  EXPECT_EQ(row.m_cells[4].m_text, "133540960891234567.0: 2024-03-05 07:08:09.123");
  set(5, "731315289.5");
  EXPECT_EQ(row.m_cells[5].m_text, "731315289.5: 2024-03-05 07:08:09.500");

  std::ostringstream os;
  vk::write_column_titles(os, {columns[3], columns[0]}, "|", true, false);
  EXPECT_EQ(os.str(), "text      | when" + std::string(16, ' ') + "\n");
}

TEST(RecordEmitters, MftEntryRowsAndGroupLines) {
  vk::cmd_params settings;
  std::vector<std::string> args = {"p", "-csv"};
  ASSERT_EQ(vk::parse_common_options(settings, args), 1);
  vk::l2t_record r;
  vk::fill_l2t_from_options(r, &settings);
  std::ostringstream os;
  EXPECT_EQ(vk::write_mft_entry_rows(settings.m_header_pending, os, r), 0);
  EXPECT_EQ(vk::write_mft_entry_rows(settings.m_header_pending, os, r), 0);
  EXPECT_EQ(os.str(),
            "mft entry,mft seqnum,parent mft,par seqnum,type,ext,ref,size data,date, time-utc,"
            "MACB,data type,other info,name,path,clusters/relevant data,various data types\n");

  os.str("");
  r.m_times.timestamp_set_values(k_ticks, k_ticks, k_ticks + 10000000, k_ticks,
                                 vk::type_time::filetime);
  set_l2t_extended(r, 2, 5, 1, 7, 1000, "txt", "c");
  r.m_inode = "42";
  r.m_type = "file";
  r.m_sourcetype = "ntfs";
  r.m_notes = "n";
  r.m_filename = "a.txt";
  r.m_desc = "\\dir";
  r.m_extra = "e";
  r.m_short = "A~1.TXT";
  EXPECT_EQ(vk::write_mft_entry_rows(settings.m_header_pending, os, r), 4);
  const std::string head = "42,7,0x00000005,1,file,txt,2,0x000003e8,";
  EXPECT_EQ(os.str(), head + "2024-03-05, 07:08:09.123,si:[ma.b],ntfs,n,a.txt,\\dir,c,e\n" + head +
                          "2024-03-05, 07:08:09.123,si:[ma.b],ntfs,n,A~1.TXT (FN 8.3),\\dir,c,e\n" +
                          head + "2024-03-05, 07:08:10.123,si:[..c.],ntfs,n,a.txt,\\dir,c,e\n" +
                          head +
                          "2024-03-05, 07:08:10.123,si:[..c.],ntfs,n,A~1.TXT (FN 8.3),\\dir,c,e\n");

  // The group writer: the record's own fields stay as they were.
  vk::l2t_record g;
  g.m_desc = "d,1";
  g.m_notes = "own";
  vk::macb_map groups;
  vk::macb_entry with_list;
  with_list.m_time = vk::time_from_u64(k_ticks, vk::type_time::filetime);
  with_list.m_macb = "M...";
  with_list.m_list = {"x,1", "y"};
  groups.emplace(k_ticks, with_list);
  vk::macb_entry invalid;
  groups.emplace(1, invalid);
  uint8_t header = 1;
  os.str("");
  EXPECT_EQ(vk::write_l2t_group_lines(header, os, g, groups), 1);
  EXPECT_EQ(header, 0);
  std::string text = os.str();
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(text.substr(0, 10), "date,time,");
  EXPECT_NE(text.find(",M...,"), std::string::npos);
  EXPECT_NE(text.find(",d 1,2,,,x 1; y,-csvl2t,"), std::string::npos);
  EXPECT_EQ(g.m_desc, "d,1");
}

}  // namespace
