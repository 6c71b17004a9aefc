// The record writer: row set-up and setters, the printed form of every cell
// type, the separated, quoted and labelled layouts read back by a CSV
// reader, log2timeline lines and body-file lines.
#include "cmdline/record_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_text.h"

using vk::cmd_params;
using vk::table_row;

namespace {

constexpr uint64_t k_ticks = 133540960891234567ULL;  // 2024-03-05 07:08:09.1234567

// Settings as "-csv" leaves them, or as "-csv -enable_quoted_csv_fields".
void as_csv(cmd_params& s, bool quoted) {
  s.m_csv = 1;
  s.m_no_padding = 1;
  s.m_quoted_csv = quoted ? 1 : 0;
  if (quoted) s.m_cell_blank = 0;
  std::string separator = ",";
  vk::set_field_separator(s, separator, false);
  vk::build_time_format_settings(s.m_time_settings, s.m_date_format, s.m_time_format, false);
}

void add_column(cmd_params& s, const std::string& title, uint16_t type, uint64_t width = 0) {
  vk::vk_variant_lite col;
  vk::init_typed_column(col, title, width, type, 0);
  s.m_columns.push_back(col);
}

std::string write_row(table_row& row, cmd_params& s) {
  std::ostringstream os;
  vk::output_table_row(os, row, s);
  return os.str();
}

// One cell, no header, no line end: the cell's printed form alone.
std::string cell_text(cmd_params& s, const vk::vk_variant_lite& cell) {
  table_row row(1, false);
  row.m_cells[0] = cell;
  s.m_header_pending = 0;
  s.m_row_line_break = 0;
  return write_row(row, s);
}

vk::vk_variant_lite number_cell(uint64_t v, uint16_t type, uint32_t flags = 0) {
  vk::vk_variant_lite c(v, type);
  c.m_flags = flags;
  return c;
}

// RFC 4180 fields of one line. strict: a quote inside an unquoted field or
// text after a closing quote is an error (nullopt-like: returns false).
bool read_csv_line(const std::string& line, std::vector<std::string>& fields, bool strict) {
  fields.clear();
  size_t i = 0;
  while (true) {
    std::string f;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (true) {
        if (i >= line.size()) return false;
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            f += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        f += line[i++];
      }
      if (i < line.size() && line[i] != ',') return false;
    } else {
      while (i < line.size() && line[i] != ',') {
        if (strict && line[i] == '"') return false;
        f += line[i++];
      }
    }
    fields.push_back(f);
    if (i >= line.size()) return true;
    ++i;  // the comma
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream is(text);
  for (std::string l; std::getline(is, l);) lines.push_back(l);
  return lines;
}

const std::vector<std::string> k_hard_texts = {
    "a,b", "say \"hi\"", "x\ny", "{\"k\":1,\"j\":2}", "  lead", "trail  ", "{\"", "a\r\nb", ""};

}  // namespace

TEST(RecordWriter, RowSetupAndSetterGuards) {
  for (int32_t count : {0, -1, 256}) {
    table_row row(count, true);
    EXPECT_EQ(row.m_valid, 0u) << count;
    EXPECT_TRUE(row.m_cells.empty());
  }
  table_row big(255, true, 0x8000);
  EXPECT_EQ(big.m_valid, 1u);
  EXPECT_EQ(big.m_cells.size(), 255u);
  EXPECT_EQ(big.m_cells[254].m_type, vk::vt_text);

  table_row row(3, false);
  EXPECT_EQ(vk::set_row_number(row, -1, 5, vk::vt_u32, 0), 1);
  EXPECT_EQ(vk::set_row_number(row, 3, 5, vk::vt_u32, 0), 1);
  EXPECT_EQ(vk::set_row_text(row, 0, "x", 32, 0), 1);
  for (const auto& c : row.m_cells) EXPECT_EQ(c.m_type, vk::vt_empty);
  table_row invalid(0, false);
  EXPECT_EQ(vk::set_row_number(invalid, 0, 5, vk::vt_u32, 0), 1);

  vk::set_row_text(row, 1, "old", vk::vt_text, 0x8000);
  EXPECT_EQ(vk::set_row_number(row, 0, k_ticks, vk::vt_filetime, 0), 2);
  EXPECT_EQ(row.m_cells[1].m_type, vk::vt_empty);
  EXPECT_EQ(row.m_cells[1].m_flags, 0u);
  EXPECT_EQ(vk::set_row_number(row, 2, k_ticks, vk::vt_filetime, 0), 1);
  cmd_params s;
  as_csv(s, false);
  s.m_header_pending = 0;
  table_row last(1, false);
  vk::set_row_number(last, 0, k_ticks, vk::vt_filetime, 0);
  EXPECT_EQ(write_row(last, s), "2024-03-05,\n");

  std::ostringstream stream;
  stream << "0x10";
  EXPECT_EQ(vk::set_row_from_stream(row, 0, stream, vk::vt_u32, 0), 1);
  EXPECT_EQ(row.m_cells[0].m_number, 16u);
  EXPECT_EQ(vk::set_row_from_stream(row, 0, stream, vk::vt_guid, 0), 0);
  EXPECT_EQ(row.m_cells[0].m_type, vk::vt_empty);
  for (double bad : {-1.0, std::nan(""), 1e30, 18446744073709551616.0}) {
    vk::set_row_double(row, 0, bad, vk::vt_u64, 0);
    EXPECT_EQ(row.m_cells[0].m_number, 0u) << bad;
  }
  vk::set_row_double(row, 0, 12.9, vk::vt_u64, 0);
  EXPECT_EQ(row.m_cells[0].m_number, 12u);
  EXPECT_EQ(vk::set_row_double(row, 0, 1.5, vk::vt_safari, 0), 2);
  EXPECT_EQ(row.m_cells[0].m_type, vk::vt_filetime);
  EXPECT_EQ(row.m_cells[0].m_number, 126227808015000000ULL);  // 2001-01-01 00:00:01.5
}

TEST(RecordWriter, CellForms) {
  cmd_params s;
  s.m_no_padding = 1;
  s.m_hex_numbers = 1;
  s.m_separator = "|";
  vk::build_time_format_settings(s.m_time_settings, s.m_date_format, s.m_time_format, false);
  const struct {
    vk::vk_variant_lite cell;
    const char* want;
  } cases[] = {
      {number_cell(10, vk::vt_u8), "0x0a"},
      {number_cell(10, vk::vt_u16), "0x000a"},
      {number_cell(10, vk::vt_u32), "0x0000000a"},
      {number_cell(10, vk::vt_u64), "0x0000000a"},
      {number_cell(10, vk::vt_u32_hex), "0xa"},
      {number_cell(10, vk::vt_u32, vk::vf_decimal), "10"},
      {number_cell(10, vk::vt_u16, vk::vf_hex_and_decimal), "0x000a [10]"},
      {number_cell(10, vk::vt_u16, vk::vf_plain_hex | vk::vf_arrow_prefix), "->a"},
      {number_cell(0, vk::vt_u32, vk::vf_zero_blank), ""},
      {number_cell(0, vk::vt_filetime_1col), " "},
      {number_cell(1ULL << 63, vk::vt_filetime_1col), " "},
      {number_cell(10, vk::vt_number64), " 0x000000000000000a"},
      {number_cell(86400, vk::vt_unixtime_1col), "1970-01-02 00:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(cell_text(s, c.cell), c.want) << c.want;

  table_row zero(1, false);
  vk::set_row_number(zero, 0, 0, vk::vt_u32, vk::vf_zero_blank);
  s.m_header_pending = 0;
  write_row(zero, s);
  EXPECT_EQ(zero.m_cells[0].m_type, vk::vt_text);

  table_row pair(2, false);
  vk::set_row_number(pair, 0, 0, vk::vt_filetime, 0);
  EXPECT_EQ(write_row(pair, s), "| ");  // blank date, separator, blank before a blank time

  vk::vk_variant_lite bytes;
  bytes.m_type = vk::vt_guid;
  bytes.m_bytes.assign(15, 0x11);
  EXPECT_EQ(cell_text(s, bytes), "");
  bytes.m_bytes.push_back(0x11);
  EXPECT_EQ(cell_text(s, bytes), "11111111-1111-1111-1111-111111111111");
  bytes.m_type = vk::vt_bytes_spaced;
  bytes.m_bytes.clear();
  std::string seventeen;
  for (uint8_t b = 0; b < 17; ++b) {
    bytes.m_bytes.push_back(b);
    seventeen += (b ? " " : "") + std::string(b < 16 ? "0" : "1") + "0123456789abcdef"[b % 16];
  }
  EXPECT_EQ(cell_text(s, bytes), seventeen);
  bytes.m_bytes.push_back(0xFF);
  EXPECT_EQ(cell_text(s, bytes), seventeen + " ...");
  bytes.m_type = vk::vt_bytes_hex;
  bytes.m_bytes.assign({0xAB, 0x01});
  EXPECT_EQ(cell_text(s, bytes), "ab01");

  // Padding on: integers right-aligned, texts left, cut texts whole characters.
  s.m_no_padding = 0;
  s.m_hex_numbers = 0;
  add_column(s, "n", 0, 6);
  EXPECT_EQ(cell_text(s, number_cell(42, vk::vt_u32)), "    42");
  vk::vk_variant_lite text("h\xC3\xA9llo");
  text.m_flags = vk::vf_truncate;
  text.m_max_len = 2;
  EXPECT_EQ(cell_text(s, text), "h     ");
  table_row quoted(1, false, 0x8000);
  vk::set_row_text(quoted, 0, "ab\"cd", vk::vt_text, vk::vf_truncate);
  quoted.m_cells[0].m_max_len = 5;
  s.m_columns.clear();
  s.m_header_pending = 0;
  EXPECT_EQ(write_row(quoted, s), "\"ab\"");  // "ab" and the closing quote; never half a ""
}

TEST(RecordWriter, PlainAndQuotedCsvRowsReadBack) {
  for (bool quoted : {false, true}) {
    cmd_params s;
    as_csv(s, quoted);
    add_column(s, "MRU date", vk::vt_empty);
    add_column(s, "MRU-UTC", vk::vt_filetime_time);
    add_column(s, "x", vk::vt_empty);
    std::ostringstream os;
    table_row row(3, false, quoted ? uint32_t{vk::vf_quoted} : 0u);
    vk::set_row_number(row, 0, k_ticks, vk::vt_filetime, 0);
    vk::set_row_text(row, 2, "y", vk::vt_text, 0);
    vk::output_table_row(os, row, s);
    EXPECT_EQ(s.m_header_pending, 0);
    const std::vector<std::string> want =
        quoted ? std::vector<std::string>{"MRU date,MRU-UTC,x", "2024-03-05,07:08:09.123,\"y\""}
               : std::vector<std::string>{"MRU date, MRU-UTC,x", "2024-03-05, 07:08:09.123,y"};
    for (const std::string& text : k_hard_texts) {
      vk::set_row_number(row, 0, k_ticks, vk::vt_filetime, 0);
      vk::set_row_text(row, 2, text, vk::vt_text, 0);
      vk::output_table_row(os, row, s);
    }
    const std::vector<std::string> lines = lines_of(os.str());
    ASSERT_EQ(lines.size(), 2 + k_hard_texts.size());
    EXPECT_EQ(lines[0], want[0]);
    EXPECT_EQ(lines[1], want[1]);
    std::vector<std::string> fields;
    for (size_t i = 0; i < lines.size(); ++i) {
      ASSERT_TRUE(read_csv_line(lines[i], fields, quoted)) << lines[i];
      EXPECT_EQ(fields.size(), 3u) << lines[i];
      if (i < 2) continue;
      std::string expected = k_hard_texts[i - 2];
      vk::show_line_ends(expected);
      if (!quoted) vk::replace_char(expected, ',', ' ');
      EXPECT_EQ(fields[2], expected) << lines[i];
    }
    if (quoted) {
      EXPECT_EQ(lines[2 + 1], "2024-03-05,07:08:09.123,\"say \"\"hi\"\"\"");
      EXPECT_EQ(lines[2 + 0], "2024-03-05,07:08:09.123,\"a,b\"");
      EXPECT_EQ(lines[2 + 3], "2024-03-05,07:08:09.123,\"{\"\"k\"\":1,\"\"j\"\":2}\"");
    } else {
      EXPECT_EQ(lines[2 + 0], "2024-03-05, 07:08:09.123,a b");
      EXPECT_EQ(lines[2 + 2], "2024-03-05, 07:08:09.123,x[LF]y");
    }
  }
}

// Writes the plain and quoted CSV of the hard texts for the Python csv
// module check (run by CTest with VESK_CSV_DUMP_DIR set).
TEST(RecordWriterCsv, DumpForPython) {
  const char* dir = std::getenv("VESK_CSV_DUMP_DIR");
  if (!dir) GTEST_SKIP() << "VESK_CSV_DUMP_DIR not set: nothing to dump";
  for (bool quoted : {false, true}) {
    cmd_params s;
    as_csv(s, quoted);
    add_column(s, "date", vk::vt_empty);
    add_column(s, "time", vk::vt_filetime_time);
    for (const char* t : {"t1", "t2", "t3"}) add_column(s, t, vk::vt_empty);
    std::ofstream csv(std::string(dir) + (quoted ? "/quoted.csv" : "/plain.csv"), std::ios::binary);
    std::ofstream expected(std::string(dir) + (quoted ? "/quoted.txt" : "/plain.txt"));
    for (size_t i = 0; i < k_hard_texts.size(); ++i) {
      table_row row(5, false, quoted ? uint32_t{vk::vf_quoted} : 0u);
      vk::set_row_number(row, 0, k_ticks, vk::vt_filetime, 0);
      for (int c = 0; c < 3; ++c) {
        const std::string& text = k_hard_texts[(i + c) % k_hard_texts.size()];
        vk::set_row_text(row, 2 + c, text, vk::vt_text, 0);
        std::string want = text;
        vk::show_line_ends(want);
        if (!quoted) vk::replace_char(want, ',', ' ');
        for (unsigned char ch : want)
          expected << "0123456789abcdef"[ch >> 4] << "0123456789abcdef"[ch & 15];
        expected << (c < 2 ? ' ' : '\n');
      }
      vk::output_table_row(csv, row, s);
    }
  }
}

TEST(RecordWriter, LabelledLayoutAndShortColumnLists) {
  cmd_params s;
  add_column(s, "a", vk::vt_empty);
  add_column(s, "long", vk::vt_empty);
  table_row row(2, false);
  vk::set_row_text(row, 0, "1", vk::vt_text, 0);
  vk::set_row_text(row, 1, "2", vk::vt_text, 0);
  std::ostringstream os;
  vk::output_table_row_labelled(os, row, s);
  s.m_row_line_break = 1;
  vk::output_table_row(os, row, s);
  EXPECT_EQ(os.str(), "a:    1\nlong: 2\na:    1\nlong: 2\n\n");
  EXPECT_EQ(s.m_columns[1].m_width, 6u);

  cmd_params wide;
  add_column(wide, "only", vk::vt_empty, 8);
  table_row three(3, false);
  vk::set_row_text(three, 0, "a", vk::vt_text, 0);
  vk::set_row_number(three, 1, 7, vk::vt_u32, 0);
  vk::set_row_number(three, 2, 0, vk::vt_filetime, 0);
  wide.m_hex_numbers = 0;
  EXPECT_EQ(write_row(three, wide), "only    \na        | 7 |   | \n");
}

TEST(RecordWriter, Log2timelineLines) {
  std::ostringstream header;
  vk::write_l2t_header(header, ",", false, false);
  EXPECT_EQ(header.str(),
            "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,"
            "inode,notes,format,extra");
  header.str("");
  vk::write_l2t_header(header, ",", true, true);
  EXPECT_EQ(header.str().substr(0, 19), "date/time,timezone,");
  const std::string extended =
      ",extra,ref count,extension,size data,inode seqnum,parent inode,parent seqnum,clusters,"
      "header info";
  ASSERT_GT(header.str().size(), extended.size());
  EXPECT_EQ(header.str().substr(header.str().size() - extended.size()), extended);

  cmd_params s;
  s.m_csvl2t = 1;
  std::string separator = ",";
  vk::set_field_separator(s, separator, false);
  vk::build_time_format_settings(s.m_time_settings, s.m_date_format, s.m_time_format, false);
  s.m_program_name = "vesk";
  s.m_host_name = "h";
  vk::l2t_record r;
  vk::fill_l2t_from_options(r, &s);
  r.m_times.timestamp_set_values(k_ticks, k_ticks, k_ticks, k_ticks, vk::type_time::filetime);
  r.m_times.timestamp_set_default_labels();
  r.m_source = "LNK";
  r.m_sourcetype = "x";
  r.m_short = "s,1";
  r.m_desc = "d\n2";
  r.m_filename = "f";
  vk::set_l2t_inode(r, 5);
  std::ostringstream os;
  vk::write_l2t_lines(s.m_header_pending, os, r);
  const std::string line =
      "2024-03-05, 07:08:09.123,UTC,MACB,LNK,x,Last Modified; Last Access; Metadata Changed; "
      "Created,,h,s 1,d[LF]2,2,f,0x00000005,,vesk (velkor),\n";
  EXPECT_EQ(os.str().substr(os.str().find('\n') + 1), line);
  EXPECT_EQ(s.m_header_pending, 0);

  const uint64_t t[4] = {k_ticks + 30, k_ticks, k_ticks + 20, k_ticks + 10};
  r.m_times.timestamp_set_values(t[0], t[1], t[2], t[3], vk::type_time::filetime);
  os.str("");
  vk::write_l2t_lines(s.m_header_pending, os, r);
  std::vector<std::string> lines = lines_of(os.str());
  ASSERT_EQ(lines.size(), 4u);
  const char* macb[4] = {".A..", "...B", "..C.", "M..."};
  std::vector<std::string> fields;
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(read_csv_line(lines[i], fields, true));
    EXPECT_EQ(fields.size(), 17u);
    EXPECT_EQ(fields[3], macb[i]);
  }
  r.m_window_start = k_ticks + 5;
  r.m_window_stop = k_ticks + 25;
  os.str("");
  vk::write_l2t_lines(s.m_header_pending, os, r);
  EXPECT_EQ(lines_of(os.str()).size(), 2u);
  r.m_times.timestamp_set_values(94354848000000000ULL - 1, 0, 0, 0, vk::type_time::filetime);
  os.str("");
  vk::write_l2t_lines(s.m_header_pending, os, r);
  EXPECT_EQ(os.str(), "");
}

TEST(RecordWriter, BodyFileLines) {
  std::ostringstream os;
  uint8_t pending = 1;
  vk::bodyfile_record r;
  r.m_name = "a|b";
  r.m_size = 5;
  r.m_times.timestamp_set_values(1, 2, 3, 4, vk::type_time::unix_time);
  vk::write_bodyfile_line(pending, os, r);
  r.m_times.timestamp_set_values_unix(116444736010000000ULL, 0, 0, 0, vk::type_time::filetime);
  vk::write_bodyfile_line(pending, os, r);
  vk::reset_bodyfile_record(r);
  vk::write_bodyfile_line(pending, os, r);
  const std::vector<std::string> lines = lines_of(os.str());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(
      lines[0],
      "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time");
  EXPECT_EQ(lines[1], "0|a;b|0||0|0|5|2|1|3|4");
  EXPECT_EQ(lines[2], "0|a;b|0||0|0|5|0|1|0|0");
  EXPECT_EQ(lines[3], "0||0||0|0|0|0|0|0|0");
  for (const std::string& l : lines) {
    EXPECT_EQ(std::count(l.begin(), l.end(), '|'), 10) << l;
  }
}

TEST(RecordWriter, RandomCellsAndLayoutsStayInBounds) {
  std::mt19937 rng(42);
  for (int round = 0; round < 300; ++round) {
    cmd_params s;
    s.m_no_padding = rng() % 2;
    s.m_hex_numbers = rng() % 2;
    s.m_csv = rng() % 2;
    s.m_multiline = rng() % 3 == 0;
    s.m_separator = rng() % 2 ? "," : " | ";
    for (size_t c = rng() % 4; c > 0; --c)
      add_column(s, "c", static_cast<uint16_t>(rng() % 32), rng() % 40);
    const int32_t count = 1 + static_cast<int32_t>(rng() % 6);
    table_row row(count, rng() % 2 == 0, rng() % 2 ? uint32_t{vk::vf_quoted} : 0u);
    for (int32_t i = 0; i < count; ++i) {
      const uint16_t type = static_cast<uint16_t>(rng() % 33);
      const uint32_t flags = static_cast<uint32_t>(rng()) & 0xFF7FC000u;
      std::string text;
      for (size_t k = rng() % 12; k > 0; --k) text.push_back("a\"{,\n\r\xC3\xA9|"[rng() % 10]);
      switch (rng() % 4) {
        case 0:
          vk::set_row_text(row, i, text, type, flags);
          break;
        case 1:
          vk::set_row_double(row, i, static_cast<double>(rng()) - 1e9, type, flags);
          break;
        default:
          vk::set_row_number(row, i, (static_cast<uint64_t>(rng()) << 32) | rng(), type, flags);
          break;
      }
      row.m_cells[static_cast<size_t>(i)].m_max_len = static_cast<uint16_t>(rng() % 6);
      row.m_cells[static_cast<size_t>(i)].m_bytes.assign(rng() % 20, 0x5A);
      if (rng() % 4 == 0)
        row.m_cells[static_cast<size_t>(i)].m_list = {rng(), 0, 133540960891234567ULL};
    }
    std::ostringstream os;
    vk::output_table_row(os, row, s);
    EXPECT_LT(os.str().size(), 20000u);
  }
}
