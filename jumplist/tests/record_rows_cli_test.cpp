// The row forms through the built program: the CSV, log2timeline and body
// file of a written automatic jump list, and every row form over the real
// sample files read back by other tools (Python's csv reader, mactime).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "byte_builder.h"
#include "jumplist/record_report.h"
#include "report_fixture.h"
#include "vesk_run.h"

#ifdef VESK_BINARY

namespace {

using namespace vesk_test;

const std::string k_list = "d/5f7b5f1e01b83767.automaticDestinations-ms";

outcome vesk(const temp_tree& tree, const std::vector<std::string>& args,
             const std::string& input = "") {
  return run_program(VESK_BINARY, tree, args, input);
}

std::vector<std::string> report_lines(const outcome& o) {
  std::vector<std::string> out;
  std::istringstream in(after_header(o.out));
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::vector<std::string> cells(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == ',')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

TEST(RecordRowsCli, RowFormsOfAnAutomaticList) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  tree.file(k_list, std::string(list.begin(), list.end()));

  // The columns of an automatic list's run (every run shows the target's
  // MFT reference).
  vk::lnk::useropts run;
  run.m_show_target_mft = true;
  const std::string titles = registered_titles(run, {true, false});
  const auto title_cells = cells(titles);
  const size_t file_size = static_cast<size_t>(
      std::find(title_cells.begin(), title_cells.end(), "file size") - title_cells.begin());
  for (const bool base10 : {false, true}) {
    std::vector<std::string> args = {"-csv", "-quiet", k_list};
    if (base10) args.push_back("-base10");
    const outcome csv = vesk(tree, args);
    EXPECT_EQ(csv.status, 0) << csv.err;
    const auto lines = report_lines(csv);
    ASSERT_EQ(lines.size(), 4u) << csv.out;
    EXPECT_EQ(lines[0], titles);
    EXPECT_EQ(cells(titles).size(), 39u);
    // Highest DestList position first: entry 10 (position 1) last.
    const auto last = cells(lines[3]);
    ASSERT_EQ(last.size(), 39u);
    EXPECT_EQ(last[0], k_list);
    EXPECT_EQ(last[1], "VESKLIST (automatic)");
    EXPECT_EQ(last[2], "5f7b5f1e01b83767");
    EXPECT_EQ(last[3], "1");
    EXPECT_EQ(last[4], "10");
    EXPECT_EQ(last[5] + "|" + last[6], "2024-03-05| 07:08:09.123");
    EXPECT_EQ(last[7], "5");
    EXPECT_EQ(last.at(file_size), base10 ? "4096" : "0x00001000");
    EXPECT_EQ(cells(lines[1])[4], "1");
  }
  const outcome pair = vesk(tree, {"-csv", "-pair_datetime", "-quiet", k_list});
  EXPECT_NE(report_lines(pair)[0].find(", MRU date [UTC]"), std::string::npos) << pair.out;

  const outcome l2t = vesk(tree, {"-csvl2t", "-quiet", k_list});
  EXPECT_EQ(l2t.status, 0) << l2t.err;
  const auto events = report_lines(l2t);
  ASSERT_EQ(events.size(), 4u) << l2t.out;
  EXPECT_EQ(events[0],
            "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,"
            "filename,inode,notes,format,extra");
  for (size_t i = 1; i < events.size(); ++i) {
    const auto c = cells(events[i]);
    ASSERT_EQ(c.size(), 17u) << events[i];
    EXPECT_EQ(c[4], "VESKLIST");
    EXPECT_EQ(c[6], "MRU Time");
    EXPECT_EQ(c[16], "5f7b5f1e01b83767");
    const std::string tail = "; nebios-desktop-01; mac-00:1d:09:fa:5a:1c";
    EXPECT_EQ(c[10].substr(c[10].size() - tail.size()), tail);
    EXPECT_EQ(c[14],
              "VSN: 1234-abcd; target size: 4096; ObjID: 846ee3bb-7039-11de-9d20-001d09fa5a1c; "
              "ObjID time: 2009-07-14 05:45:20.500 [UTC]");
  }
  EXPECT_EQ(events[3].rfind("2024-03-05, 07:08:09.123,UTC,..C.,", 0), 0u);

  const outcome body = vesk(tree, {"-bodyfile", "-quiet", k_list});
  EXPECT_EQ(body.status, 0) << body.err;
  const auto entries = report_lines(body);
  ASSERT_EQ(entries.size(), 4u) << body.out;
  EXPECT_EQ(entries[0],
            "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|"
            "create time");
  EXPECT_EQ(entries[3], "0|C:\\Temp\\report.docx (LNK TARGET) <- " + k_list +
                            " #10|0||0|0|4096|0|0|1709622489|0");
}

std::vector<std::string> split_by(const std::string& line, char sep) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == sep)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

bool holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Line ends and other control characters inside a link's texts: every text
// kept whole, each such character a mark, each record on its own lines in
// every form (a tab stays where it separates nothing).
TEST(RecordRowsCli, ControlCharactersInTextsAreMarkedInEveryForm) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  lnk_spec s;
  s.write_time = 133540960890000000ull;  // 2024-03-05 07:08:09
  s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                     file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, "a\nb.txt")});
  lnk_link_info li;
  li.label = "VOL\nX";
  li.local_base_path = "C:\\dir\\";
  li.network = lnk_network_link{"\\\\srv\\sh\nare", "Z\n:"};
  li.suffix = "f\x1b.txt";
  s.link_info = li;
  s.strings[lnk_name] = u"desc\rmore";
  s.strings[lnk_relative_path] = u"..\\r\x7f";
  s.strings[lnk_working_dir] = u"C:\\w\r\nx";
  s.strings[lnk_arguments] = u"/c\n\n\ncalc.exe";
  s.strings[lnk_icon_location] =
      u"i\x01"
      u"con\tx";
  const auto link = write_lnk(s);
  tree.file("t.lnk", std::string(link.begin(), link.end()));

  struct row {
    const char* form;
    size_t lines;  // with the header
    char separator;
    std::vector<std::string> parts;
  };
  const std::vector<row> rows = {
      {"",
       0,
       0,
       {"\nID List:                  {CLSID_MyComputer}\\a[LF]b.txt\n",
        "\nVolume label:             VOL[LF]X\n",
        "\nNetwork name:             \\\\srv\\sh[LF]are\n", "\nDevice name:              Z[LF]:\n",
        "\nCommon path:              f[0x1b].txt\n", "\nDescription:              desc[CR]more\n",
        "\nRelative path:            ..\\r[0x7f]\n", "\nWorking directory:        C:\\w[CRLF]x\n",
        "\nCmdline args:             /c[LF][LF][LF]calc.exe\n",
        "\nIcon filename:            i[0x01]con\tx\n"}},
      {"-csv",
       2,
       ',',
       {",{CLSID_MyComputer}\\a[LF]b.txt,", ",VOL[LF]X,C:\\dir\\,f[0x1b].txt,",
        ",[NetworkName]: \\\\srv\\sh[LF]are; [DeviceName]: Z[LF]:,",
        ",[Description]: desc[CR]more; [RelPath]: ..\\r[0x7f]; [WorkDir]: C:\\w[CRLF]x; "
        "[CmdArgs]: /c[LF][LF][LF]calc.exe; [IconName]: i[0x01]con\tx,"}},
      {"-csvl2t",
       2,
       ',',
       {",{CLSID_MyComputer}\\a[LF]b.txt,{CLSID_MyComputer}\\a[LF]b.txt <- t.lnk; vol "
        "label-VOL[LF]X; local "
        "path-C:\\dir\\; cmdargs-/c[LF][LF][LF]calc.exe,"}},
      {"-bodyfile",
       2,
       '|',
       {"\n0|{CLSID_MyComputer}\\a[LF]b.txt (LNK TARGET) <- t.lnk @0x00000000; "
        "cmdargs-/c[LF][LF][LF]calc.exe (rawscan)|"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.form);
    std::vector<std::string> args = {"-quiet", "t.lnk"};
    if (*r.form) args.insert(args.begin(), r.form);
    const outcome o = vesk(tree, args);
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string text = after_header(o.out);
    for (const char c : text)
      EXPECT_TRUE(c == '\n' || c == '\t' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F))
          << static_cast<int>(c);
    for (const std::string& part : r.parts) EXPECT_TRUE(holds("\n" + text, part)) << part << text;
    if (!r.separator) continue;
    const auto lines = report_lines(o);
    EXPECT_EQ(lines.size(), r.lines) << text;
    for (const auto& line : lines)
      EXPECT_EQ(split_by(line, r.separator).size(), split_by(lines[0], r.separator).size());
  }
}

// A body-file name is its record's own: mactime, which folds lines of one
// name together, lists each record with its own size.
TEST(RecordRowsCli, BodyFileNamesAreTheirRecordsOwn) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // Links without an ID list, each target from another part (the LinkInfo
  // paths as liblnk joins them).
  lnk_spec local, network, relative, named;
  local.file_size = 81920;
  lnk_link_info li;
  li.local_base_path = "C:\\Temp\\";
  li.suffix = "big.bin";
  local.link_info = li;
  network.file_size = 1200;
  lnk_link_info net;
  net.has_volume = false;
  net.network = lnk_network_link{"\\\\srv\\share", ""};
  net.suffix = "doc.txt";
  network.link_info = net;
  network.strings[lnk_working_dir] = u"C:\\w";  // a network path alone keeps no record
  relative.file_size = 24576;
  relative.strings[lnk_relative_path] = u"..\\rel.txt";
  relative.strings[lnk_name] = u"a name";
  named.strings[lnk_name] = u"only a name";
  std::vector<destlist_test_entry> entries(3);
  cfb_writer w;
  const lnk_spec* specs[] = {&local, &network, &relative};
  for (uint64_t i = 0; i < 3; ++i) {
    entries[i].entry_num = 3 - i;
    entries[i].mru_time = 133540960891234567ull;  // one time for all three
    w.stream(std::u16string(1, static_cast<char16_t>(u'3' - i)), write_lnk(*specs[i]));
  }
  w.stream(u"DestList", build_destlist(4, entries));
  const auto list = w.build();
  tree.file(k_list, std::string(list.begin(), list.end()));
  // Two links of one carved file, at 0x100 and 0x400.
  std::string carve;
  for (const auto& [at, spec] : {std::pair{0x100, &named}, {0x400, &relative}}) {
    const auto bytes = write_lnk(*spec);
    carve.resize(at, '\0');
    carve.append(bytes.begin(), bytes.end());
  }
  tree.file("c.bin", carve);

  const std::string list_name = " <- " + k_list;
  const outcome body = vesk(tree, {"-bodyfile", "-quiet", "-pipe"}, k_list + "\nc.bin\n");
  EXPECT_EQ(body.status, 0) << body.err;
  auto lines = report_lines(body);
  ASSERT_EQ(lines.size(), 6u) << body.out;
  std::sort(lines.begin() + 1, lines.end());
  const std::vector<std::string> want = {
      "0|..\\rel.txt (LNK TARGET) <- c.bin @0x00000400 (rawscan)|0||0|0|24576|0|0|0|0",
      "0|..\\rel.txt (LNK TARGET)" + list_name + " #1|0||0|0|24576|0|0|1709622489|0",
      "0|C:\\Temp\\big.bin (LNK TARGET)" + list_name + " #3|0||0|0|81920|0|0|1709622489|0",
      "0|\\\\srv\\share\\doc.txt (LNK TARGET)" + list_name + " #2|0||0|0|1200|0|0|1709622489|0",
      "0|only a name (LNK TARGET) <- c.bin @0x00000100 (rawscan)|0||0|0|0|0|0|0|0",
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), want);

  if (!have_command("mactime")) {
    std::cout << "mactime is not installed: body file not fed to it\n";
    return;
  }
  std::string listed;
  for (size_t i = 1; i < lines.size(); ++i) listed += lines[i] + "\n";
  tree.file("list.body", listed);
  const std::string cmd = "mactime -b " + quoted(tree.path("list.body")) + " -d -z UTC >" +
                          quoted(tree.path("mactime.out")) + " 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << slurp(tree.path("mactime.out"));
  const std::string timeline = slurp(tree.path("mactime.out"));
  for (const char* size : {",81920,", ",1200,", ",24576,"})
    EXPECT_TRUE(holds(timeline, size)) << size << "\n" << timeline;
}

// A value holding the run's separator keeps its row whole: ';' inside a
// value becomes ',' when ';' separates, a tab a blank when a tab does.
TEST(RecordRowsCli, ValuesHoldingTheSeparator) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  lnk_spec s;
  s.attributes = 0x21;  // read-only and archive: "; " between the names
  s.write_time = s.access_time = 133540960890000000ull;
  s.strings[lnk_arguments] = u"a;b\tc,d";
  const auto link = write_lnk(s);
  tree.file("s.lnk", std::string(link.begin(), link.end()));
  const size_t csv_titles =
      split_by(report_lines(vesk(tree, {"-csv", "-quiet", "s.lnk"}))[0], ',').size();

  struct row {
    const char* form;
    const char* separator;
    char sep;
    size_t titles;
    std::vector<std::string> parts;
  };
  const std::vector<row> rows = {
      {"-csv",
       ";",
       ';',
       csv_titles,
       {";FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_ARCHIVE;", ";[CmdArgs]: a,b\tc,d;"}},
      {"-csv",
       "tab",
       '\t',
       csv_titles,
       {"\tFILE_ATTRIBUTE_READONLY; FILE_ATTRIBUTE_ARCHIVE\t", "\t[CmdArgs]: a;b c,d\t"}},
      {"-csvl2t", ";", ';', 17, {";Last Modified, Last Access;", ", cmdargs-a,b\tc,d;"}},
      {"-csvl2t", "tab", '\t', 17, {"\tLast Modified; Last Access\t", "; cmdargs-a;b c,d\t"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.form) + " " + r.separator);
    const outcome o = vesk(tree, {r.form, "-csv_separator", r.separator, "-quiet", "s.lnk"});
    EXPECT_EQ(o.status, 0) << o.err;
    const auto lines = report_lines(o);
    ASSERT_EQ(lines.size(), 2u) << o.out;
    for (const auto& line : lines) EXPECT_EQ(split_by(line, r.sep).size(), r.titles) << line;
    for (const std::string& part : r.parts)
      EXPECT_TRUE(holds(o.out, part)) << part << "\n" << o.out;
  }
}

// One line as an RFC 4180 reader splits it at sep: a cell that begins with
// a quote runs to its closing quote, a doubled quote inside standing for
// one; a quote inside a bare cell is the cell's own. Nothing for a line no
// such reader takes (an unclosed quote, text after a closing one).
std::optional<std::vector<std::string>> csv_cells(const std::string& line, char sep) {
  std::vector<std::string> out(1);
  for (size_t i = 0;; ++i) {
    std::string& cell = out.back();
    if (i < line.size() && line[i] == '"') {
      for (++i;; ++i) {
        if (i >= line.size()) return std::nullopt;
        if (line[i] == '"' && (i + 1 == line.size() || line[i + 1] != '"')) break;
        if (line[i] == '"') ++i;  // a doubled quote
        cell += line[i];
      }
      if (++i < line.size() && line[i] != sep) return std::nullopt;
    } else {
      for (; i < line.size() && line[i] != sep; ++i) cell += line[i];
    }
    if (i >= line.size()) return out;
    out.emplace_back();
  }
}

// Every row of -csv and -csvl2t reads back whole under each separator, with
// and without quoting, from a file whose name holds every separator and a
// quote: quoted, each text reads back as it is; bare, with its stand-ins.
// Any other separator is refused before anything is read.
TEST(RecordRowsCli, EveryRowReadsWholeUnderEachSeparator) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string name = "n,a;m|e\"q.lnk";
  lnk_spec s;
  s.write_time = s.access_time = 133540960890000000ull;
  s.strings[lnk_arguments] = u"a;b\tc,d";
  const auto link = write_lnk(s);
  tree.file(name, std::string(link.begin(), link.end()));

  struct separator_row {
    const char* value;
    char sep;
    const char* bare_name;  // the name without quoting
    const char* bare_args;
  };
  const separator_row separators[] = {
      {",", ',', "n a;m|e\"q.lnk", "a;b\tc d"},
      {"|", '|', "n,a;m;e\"q.lnk", "a;b\tc,d"},
      {";", ';', "n,a,m|e\"q.lnk", "a,b\tc,d"},
      {"tab", '\t', "n,a;m|e\"q.lnk", "a;b c,d"},
  };
  struct form_row {
    const char* form;
    size_t cells;
    size_t name_cell;
    size_t args_cell;
    const char* args_label;
    size_t user_cell;
  };
  const form_row forms[] = {{"-csv", 40, 0, 34, "[CmdArgs]: ", 39},
                            {"-csvl2t", 17, 12, 10, "cmdargs-", 7}};
  for (const form_row& f : forms) {
    std::vector<std::vector<std::string>> first_quoted;
    for (const separator_row& sep : separators) {
      for (const bool quoted : {false, true}) {
        SCOPED_TRACE(std::string(f.form) + " " + sep.value + (quoted ? " quoted" : ""));
        // The user name (a column of its own) holds the same text as the file name.
        std::vector<std::string> args = {f.form, "-csv_separator", sep.value, "-username",
                                         name,   "-quiet",         name};
        if (quoted) args.push_back("-enable_quoted_csv_fields");
        const outcome o = vesk(tree, args);
        EXPECT_EQ(o.status, 0) << o.err;
        const auto lines = report_lines(o);
        ASSERT_EQ(lines.size(), 2u) << o.out;
        std::vector<std::vector<std::string>> rows;
        for (const auto& line : lines) {
          const auto c = csv_cells(line, sep.sep);
          EXPECT_EQ(c ? c->size() : 0u, f.cells) << line;
          if (c && c->size() == f.cells) rows.push_back(*c);
        }
        if (rows.size() != lines.size()) continue;
        for (size_t i = 1; i < rows.size(); ++i) {
          EXPECT_EQ(rows[i][f.name_cell], quoted ? name : sep.bare_name);
          EXPECT_EQ(rows[i][f.user_cell], quoted ? name : sep.bare_name);
          EXPECT_TRUE(holds(rows[i][f.args_cell],
                            f.args_label + std::string(quoted ? "a;b\tc,d" : sep.bare_args)))
              << rows[i][f.args_cell];
        }
        if (!quoted) continue;
        if (first_quoted.empty()) first_quoted = rows;
        EXPECT_EQ(rows, first_quoted);
      }
    }
  }

  const std::string what = "\" (one of ',', '|', ';' or tab), aborting\n";
  const struct {
    const char* value;
    std::string err;  // empty: accepted
  } values[] = {
      {"TAB", ""},
      {"\\t", ""},
      {"\t", ""},
      {" ; ", ""},
      {":", "invalid -csv_separator value \":" + what},
      {"", "invalid -csv_separator value \"" + what},
      {" ", "invalid -csv_separator value \" " + what},
      {",;", "invalid -csv_separator value \",;" + what},
      {"\"", "invalid -csv_separator value \"\"" + what},
      {"\r", "invalid -csv_separator value \"[CR]" + what},
      {" \t", "invalid -csv_separator value \" \t" + what},
  };
  for (const auto& v : values) {
    for (const char* form : {"-csv", "-csvl2t"}) {
      const outcome o = vesk(tree, {form, "-csv_separator", v.value, "-quiet", name});
      EXPECT_EQ(o.status, v.err.empty() ? 0 : 255) << v.value;
      EXPECT_EQ(o.err, v.err) << v.value;
      EXPECT_EQ(report_lines(o).size(), v.err.empty() ? 2u : 0u) << o.out;
    }
  }
}

// Texts that begin with a double quote, in the cells of a first column, of
// a later one and of a joined one, read back as they are by an RFC 4180
// reader (and by Python's csv and sqlite3 where installed) in every
// separated form and under every separator: such a cell is quoted, its
// quotes doubled, the others stay bare. After a separator that ends in a
// blank a cell opens with the blank and stays bare. A row whose texts hold
// a line end (written by the general table writer) reads back the same.
TEST(RecordRowsCli, CellsThatOpenWithAQuoteReadBackAsTheyAre) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string name = "\"q,u;o|t\te\" x.lnk";
  const std::string lines_name = "\"l\".lnk";
  lnk_spec s;
  s.write_time = s.access_time = 133540960890000000ull;
  s.strings[lnk_name] = u"\"desc\"";
  s.strings[lnk_relative_path] = u"\"quoted rel\".exe";
  const auto link = write_lnk(s);
  tree.file(name, std::string(link.begin(), link.end()));
  s.strings[lnk_arguments] = u"a\r\nb";
  const auto with_lines = write_lnk(s);
  tree.file(lines_name, std::string(with_lines.begin(), with_lines.end()));

  struct separator_row {
    const char* value;
    char sep;
    const char* name;  // the file name as its cell reads, stand-ins and all
  };
  const separator_row separators[] = {
      {",", ',', "\"q u;o|t\te\" x.lnk"},
      {"|", '|', "\"q,u;o;t\te\" x.lnk"},
      {";", ';', "\"q,u,o|t\te\" x.lnk"},
      {"tab", '\t', "\"q,u;o|t e\" x.lnk"},
  };
  struct form_row {
    const char* form;
    size_t cells;  // unpaired
    const char* name_title;
    const char* target_title;
    const char* user_title;
  };
  const form_row forms[] = {{"-csv", 40, "source path/filename", "target name", "user acct"},
                            {"-csvl2t", 17, "filename", "short", "user"}};
  std::string csv_check;  // separator, then the report, for Python's csv
  for (const form_row& f : forms) {
    for (const separator_row& sep : separators) {
      for (const std::string& file : {name, lines_name}) {
        for (const bool paired : {false, true}) {
          SCOPED_TRACE(std::string(f.form) + " " + sep.value + " " + file +
                       (paired ? " paired" : ""));
          std::vector<std::string> args = {f.form, "-csv_separator", sep.value, "-username",
                                           "\"u",  "-quiet",         file};
          if (paired) args.insert(args.end(), {"-no_whitespace", "-pair_datetime"});
          const outcome o = vesk(tree, args);
          EXPECT_EQ(o.status, 0) << o.err;
          const auto lines = report_lines(o);
          ASSERT_EQ(lines.size(), 2u) << o.out;
          const auto titles = csv_cells(lines[0], sep.sep);
          const auto c = csv_cells(lines[1], sep.sep);
          ASSERT_TRUE(titles.has_value() && c.has_value()) << lines[1];
          // Pairing joins each date and its time: 8 cells of -csv, 1 of -csvl2t.
          ASSERT_EQ(c->size(), f.cells - (paired ? (f.cells == 17 ? 1 : 8) : 0)) << lines[1];
          ASSERT_EQ(c->size(), titles->size());
          auto cell = [&](const char* title) {
            const auto at = std::find(titles->begin(), titles->end(), title);
            return at == titles->end() ? std::string("<none>") : (*c)[at - titles->begin()];
          };
          EXPECT_EQ(cell(f.name_title), file == name ? sep.name : lines_name);
          EXPECT_EQ(cell(f.target_title), "\"quoted rel\".exe");
          EXPECT_EQ(cell(f.user_title), "\"u");
          // A quote further in a cell stays as it is.
          if (f.cells == 40) {
            EXPECT_NE(lines[1].find("[Description]: \"desc\""), std::string::npos);
          }
          if (file == name && !paired) csv_check += std::string(1, sep.sep) + "\n" + o.out + "\f";
        }
      }
    }
    // The blank after the separator opens each cell: nothing is quoted but
    // the first cell.
    const outcome o =
        vesk(tree, {f.form, "-csv_separator", ", ", "-username", "\"u", "-quiet", name});
    const auto lines = report_lines(o);
    ASSERT_EQ(lines.size(), 2u) << o.out;
    EXPECT_EQ(lines[1].find("\"\"\"quoted"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(", \"quoted rel\".exe,"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].rfind(f.cells == 40 ? "\"\"\"q u;o|t\te\"\" x.lnk\"," : "", 0), 0u);
  }

  if (!have_command("python3")) {
    std::cout << "python3 is not installed: rows not read back by Python's csv\n";
    return;
  }
  // Each report after its four header lines: the rows Python's csv reads,
  // as many cells as titles, the quoted texts as they are.
  tree.file("reports.txt", csv_check);
  tree.file("read.py", R"PY(import csv, io, sys
bad = 0
for part in open(sys.argv[1], encoding='utf-8', newline='').read().split('\f')[:-1]:
    sep, text = part[0], part[2:]
    rows = list(csv.reader(io.StringIO(text.split('\n', 4)[4], newline=''), delimiter=sep))
    if len(rows) != 2 or len(rows[1]) != len(rows[0]) or '"quoted rel".exe' not in rows[1] or '"u' not in rows[1]:
        bad += 1
        print(repr(sep), rows)
sys.exit(1 if bad else 0)
)PY");
  const int status = std::system(("python3 " + quoted(tree.path("read.py")) + " " +
                                  quoted(tree.path("reports.txt")) + " >" +
                                  quoted(tree.path("read.out")) + " 2>&1")
                                     .c_str());
  EXPECT_EQ(status, 0) << slurp(tree.path("read.out"));
}

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, s.find_last_not_of(' ') + 1 - a);
}

// Rows of one CSV report as title -> cell maps (cells trimmed).
std::vector<std::map<std::string, std::string>> titled_rows(const outcome& o) {
  const auto lines = report_lines(o);
  std::vector<std::map<std::string, std::string>> rows;
  if (lines.empty()) return rows;
  const auto titles = cells(lines[0]);
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto c = cells(lines[i]);
    std::map<std::string, std::string> row;
    std::string date_title;
    for (size_t k = 0; k < titles.size() && k < c.size(); ++k) {
      std::string title = trimmed(titles[k]);
      // A time column is known by the date column before it.
      if (title.ends_with("-UTC"))
        title = date_title + " " + title;
      else
        date_title = title;
      row[title] = trimmed(c[k]);
    }
    row["#cells"] = std::to_string(c.size());
    rows.push_back(row);
  }
  return rows;
}

// Whatever kind of file comes first in a list run, every record's cells stand
// under the titles they have when the file is run alone.
TEST(RecordRowsCli, ListRunColumnsDoNotDependOnTheFirstFile) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  tree.file(k_list, std::string(list.begin(), list.end()));
  std::string carve(600, '\0');
  const auto link = fixture_link();
  carve.append(link.begin(), link.end());
  tree.file("carve.bin", carve);
  // The first read of a file just written moves its access time, which the
  // rows show: compare runs after it.
  for (const std::string& file : {k_list, std::string("carve.bin")})
    vesk(tree, {"-csv", "-quiet", file});

  for (const bool pair : {false, true}) {
    std::vector<std::string> args = {"-csv", "-quiet"};
    if (pair) args.push_back("-pair_datetime");
    auto alone = [&](const std::string& file) {
      auto a = args;
      a.push_back(file);
      return titled_rows(vesk(tree, a));
    };
    auto listed = args;
    listed.push_back("-pipe");
    const auto list_alone = alone(k_list), carve_alone = alone("carve.bin");
    ASSERT_EQ(list_alone.size(), 3u);
    ASSERT_EQ(carve_alone.size(), 1u);
    for (const bool carve_first : {true, false}) {
      const std::string input =
          carve_first ? "carve.bin\n" + k_list + "\n" : k_list + "\ncarve.bin\n";
      const auto rows = titled_rows(vesk(tree, listed, input));
      ASSERT_EQ(rows.size(), 4u) << input;
      for (size_t i = 0; i < rows.size(); ++i) {
        const bool is_carve = rows[i].at("source path/filename") == "carve.bin";
        const auto& want = is_carve ? carve_alone[0] : list_alone[carve_first ? i - 1 : i];
        EXPECT_EQ(rows[i].at("#cells"), rows[0].at("#cells"));
        for (const auto& [title, cell] : want) {
          if (title != "#cells") {
            EXPECT_EQ(rows[i].count(title) ? rows[i].at(title) : "<none>", cell)
                << title << " row " << i << " pair " << pair;
          }
        }
        // Columns the record's kind does not fill stay empty.
        for (const auto& [title, cell] : rows[i]) {
          if (!want.count(title)) {
            EXPECT_EQ(cell, "") << title << " row " << i;
          }
        }
      }
    }
  }
}

// Real files: every row keeps the header's column count when read back, the
// values stand under their titles, body-file lines are whole and mactime
// reads them.
const char k_check_script[] = R"PY(
import csv, os, re, sys
bad = []
def fail(where, what):
    bad.append(where + ": " + what)
date = re.compile(r'^(\d{4}-\d\d-\d\d)?$')
clock = re.compile(r'^(\d\d:\d\d:\d\d(\.\d+)?)?$')
count = re.compile(r'^(\d+|na)?$')
hexnum = re.compile(r'^(0x[0-9a-f]+)?$')
for name in sys.argv[2:]:
    kind, path = name.split(':', 1)
    with open(path, newline='', encoding='utf-8', errors='replace') as f:
        text = f.read().split('\n')
    body = [l for l in text[4:] if l]
    if kind == 'csv':
        rows = list(csv.reader(body, quoting=csv.QUOTE_NONE))
        if not rows:
            continue
        head = rows[0]
        for n, row in enumerate(rows[1:], 1):
            where = path + ' row ' + str(n)
            if len(row) != len(head):
                fail(where, 'cells %d, titles %d' % (len(row), len(head)))
                continue
            for title, cell in zip(head, row):
                v = cell.strip()
                if v == 'na':
                    continue
                ok = True
                if title.endswith('date') :
                    ok = date.match(v)
                elif title.endswith('-UTC'):
                    ok = clock.match(v)
                elif title in ('MRU/MFU', 'stream#', 'interaction'):
                    ok = count.match(v)
                elif title in ('file size', 'target inode', 'LNK offset'):
                    ok = hexnum.match(v)
                elif title == 'source path/filename':
                    ok = os.path.exists(v)
                elif title == 'source type':
                    ok = v != '' and not date.match(v)
                elif title == 'tgt attrib':
                    ok = re.match(r'^((FILE_ATTRIBUTE_\w+)(; )?)*$', v)
                if not ok:
                    fail(where, title + ' = ' + repr(v))
    else:
        for n, line in enumerate(body[1:], 1):
            f = line.split('|')
            if len(f) != 11:
                fail(path + ' line ' + str(n), 'fields %d' % len(f))
            elif not all(re.match(r'^\d+$', f[i]) for i in (2, 4, 5, 6, 7, 8, 9, 10)):
                fail(path + ' line ' + str(n), 'numbers ' + line)
        if sys.argv[1] == 'mactime':
            import subprocess
            with open(path + '.body', 'w', encoding='utf-8') as out:
                out.write('\n'.join(body[1:]) + '\n')
            r = subprocess.run(['mactime', '-b', path + '.body', '-d'], capture_output=True)
            if r.returncode != 0:
                fail(path, 'mactime status %d' % r.returncode)
            # mactime quotes and re-encodes names its own way: compare the plain
            # ASCII text before the first quote or other character.
            listed = r.stdout.decode('utf-8', 'replace')
            for line in body[1:]:
                f = line.split('|')
                if len(f) == 11 and any(x != '0' for x in f[7:]) and re.match(r'[ !#-~]*', f[1]).group(0) not in listed:
                    fail(path, 'mactime lists no ' + f[1])
for b in bad[:40]:
    print(b)
print('%d problems' % len(bad))
sys.exit(1 if bad else 0)
)PY";

TEST(RecordRowsCli, RealFilesInEveryRowForm) {
  const auto dir = samples_dir();
  if (dir.empty()) GTEST_SKIP() << "no sample folder at " << VESK_SAMPLES_DIR;
  if (!have_command("python3")) GTEST_SKIP() << "python3 is not installed";
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("check.py", k_check_script);

  std::vector<std::string> per_file;
  std::string all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    all += path + "\n";
    const std::string name = entry.path().filename().string();
    if (name != "MANIFEST.tsv" && name != "README.md") per_file.push_back(path);
  }
  ASSERT_FALSE(per_file.empty());

  std::vector<std::string> checks;
  for (size_t i = 0; i < per_file.size(); ++i) {
    // A list without DestList entries, or a file without a link, ends
    // with status -1 and no rows.
    const outcome o = vesk(tree, {"-csv", "-quiet", per_file[i]});
    EXPECT_TRUE(plain_lines(o.err)) << o.err;
    const std::string out = "csv" + std::to_string(i) + ".txt";
    tree.file(out, o.out);
    checks.push_back("csv:" + tree.path(out));
  }
  for (const char* form : {"", "-csv", "-csvl2t", "-bodyfile"}) {
    std::vector<std::string> args = {"-pipe", "-quiet", "-slack", "-idltimes"};
    if (*form) args.push_back(form);
    // Every line of every form is UTF-8, with and without the extra parts.
    for (const auto& plain : {std::vector<std::string>{"-pipe", "-quiet", form}, args}) {
      const outcome o = vesk(tree, plain, all);
      EXPECT_TRUE(plain_lines(o.err)) << form << "\n" << o.err.substr(0, 2000);
      std::istringstream in(o.out);
      size_t n = 0;
      for (std::string line; std::getline(in, line); ++n)
        ASSERT_EQ(vk::utf8_or_escaped(line), line) << form << " line " << n;
    }
    const outcome o = vesk(tree, args, all);
    EXPECT_EQ(o.status, 2) << form << "\n" << o.err.substr(0, 2000);
    EXPECT_TRUE(only_partly_read(o.err, k_sample_cut_links)) << o.err.substr(0, 2000);
    EXPECT_TRUE(plain_lines(o.err)) << form;
    EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << o.err.substr(0, 2000);
    const std::string out = std::string("all") + form + ".txt";
    tree.file(out, o.out);
    if (std::string(form) == "-csv") checks.push_back("csv:" + tree.path(out));
    if (std::string(form) == "-bodyfile") checks.push_back("body:" + tree.path(out));
  }
  // A LinkInfo path written in Windows-1252.
  const outcome code_page = vesk(tree, {"-csv", "-quiet",
                                        (dir / "alfaifi-jumplist/win10/AutomaticDestinations/"
                                               "5f7b5f1e01b83767.automaticDestinations-ms")
                                            .string()});
  EXPECT_NE(code_page.out.find("sample_640\xC3\x97"
                               "426.jpeg"),
            std::string::npos);
  EXPECT_EQ(code_page.out.find("sample_640\xD7"), std::string::npos);

  const outcome body = vesk(tree, {"-pipe", "-quiet", "-bodyfile"}, all);
  tree.file("body.txt", body.out);
  checks.push_back("body:" + tree.path("body.txt"));

  std::string cmd = "python3 " + quoted(tree.path("check.py")) + " " +
                    (have_command("mactime") ? "mactime" : "none");
  for (const auto& c : checks) cmd += " " + quoted(c);
  cmd += " >" + quoted(tree.path("check.out")) + " 2>&1";
  const int status = std::system(cmd.c_str());
  EXPECT_EQ(status, 0) << slurp(tree.path("check.out"));
  if (!have_command("mactime")) std::cout << "mactime is not installed: body files not fed to it\n";
}

}  // namespace

#endif
