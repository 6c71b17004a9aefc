// The built program from the outside: usage, run header, refused inputs,
// the AppID modes and a written automatic jump list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "example_jumplist.h"
#include "foundation/vk_text.h"
#include "report_fixture.h"
#include "temp_tree.h"
#include "vesk_run.h"

#ifdef VESK_BINARY

namespace {

using namespace vesk_test;

outcome vesk(const temp_tree& tree, const std::vector<std::string>& args,
             const std::string& input = "") {
  return run_program(VESK_BINARY, tree, args, input);
}

std::string usage() {
  temp_tree tree;
  return vesk(tree, {}).err;
}

TEST(VeskCli, UsageAndHeader) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string text = usage();
  EXPECT_EQ(text.rfind(std::string(77, '-') + "\n\nvesk ver: 0.64\n\nUsage\n", 0), 0u);
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-HELP", "x"}, {"x", "/?"}}) {
    const outcome o = vesk(tree, args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, text);
  }
  // Options alone: the usage, and what is missing.
  const outcome csv = vesk(tree, {"-csv"});
  EXPECT_EQ(csv.status, 255);
  EXPECT_EQ(csv.err, text +
                         "no input given: name a file, give names on standard input with -pipe, "
                         "or a folder with -enumdir\n");
  EXPECT_EQ(csv.out.rfind("vesk ver: 0.64\nrun time: ", 0), 0u) << csv.out;

  const outcome piped = vesk(tree, {"-pipe", "-quiet", "-dateformat", "yyyy-mm-dd", "a b"});
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string& h = piped.out;
  EXPECT_NE(h.find("; host: " + std::string(host) + "; os: Linux;"), std::string::npos) << h;
  EXPECT_NE(h.find(";64\n\"command: <filelist> ... | " + std::string(VESK_BINARY) +
                   " -pipe -quiet -dateformat yyyy-mm-dd 'a b'\"\n\n"),
            std::string::npos)
      << h;
  EXPECT_EQ(h.substr(29, 1), "-");  // run time: yyyy-mm-dd
  const outcome plain = vesk(tree, {"/no/such"});
  EXPECT_EQ(plain.out.substr(27, 1), "/");  // run time: mm/dd/yyyy
}

TEST(VeskCli, RefusedInputsAndAppIds) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const outcome missing = vesk(tree, {"/no/such"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.err,
            "can't read specified file: /no/such (No such file or directory), aborting\n");

  // Every line of the run goes to the report file.
  const outcome appid = vesk(tree, {"-appid", "D:\\tools\\a.exe", "-out", "r.txt"});
  EXPECT_EQ(appid.status, 0);
  EXPECT_EQ(appid.out, "");
  const std::string report = slurp(tree.path("r.txt"));
  EXPECT_EQ(report.rfind("vesk ver: 0.64\n", 0), 0u);
  EXPECT_EQ(after_header(report), "hash: e20c5311135f2dc5 : D:\\TOOLS\\A.EXE\n");

  tree.file("mz.exe", "MZ rest");
  tree.file("other.bin", "PE");
  const outcome listing = vesk(tree, {"-pipe", "-appid"}, "mz.exe\nother.bin\n");
  EXPECT_EQ(listing.status, 0);
  EXPECT_NE(listing.err.find("mz.exe\n"), std::string::npos);
  EXPECT_EQ(listing.err.find("other.bin"), std::string::npos);
  EXPECT_EQ(after_header(listing.out),
            "                hash|path/pefile\n    6b8bd95882493902|MZ.EXE\n");

  // X=%X% must not expand forever.
  setenv("X", "%X%", 1);
  EXPECT_EQ(vesk(tree, {"%X%"}).status, 255);
}

// Known folders give their identifier forms first, then the path itself.
TEST(VeskCli, AppIdOfKnownFolders) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const struct {
    const char* path;
    const char* out;
  } cases[] = {
      {"E:\\Windows\\System32\\notepad.exe",
       "hash: 9b9cdc69c1c24e2b : {1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\NOTEPAD.EXE\n"
       "hash: 48369e257cab8920 : E:\\WINDOWS\\SYSTEM32\\NOTEPAD.EXE\n"},
      {"C:\\Windows\\explorer.exe",
       "hash: 1b4dd67f29cb1962 : {F38BF404-1D43-42F2-9305-67DE0B28FC23}\\EXPLORER.EXE\n"
       "hash: 668a1f52fb5a99d6 : C:\\WINDOWS\\EXPLORER.EXE\n"},
  };
  for (const auto& c : cases) {
    const outcome o = vesk(tree, {"-appid", c.path});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(after_header(o.out), c.out);
  }
  const outcome paint = vesk(tree, {"-appid", "C:\\Windows\\System32\\mspaint.exe"});
  EXPECT_EQ(after_header(paint.out).rfind("hash: 12dc1ea8e34b5a6 : {1AC14E77-", 0), 0u);
  // A path that is not UTF-8 has no UTF-16 form to hash: said, not skipped.
  const outcome bad = vesk(tree, {"-appid", "C:\\\xFF.exe"});
  EXPECT_EQ(bad.status, 255);
  EXPECT_EQ(after_header(bad.out), "");
  EXPECT_EQ(bad.err, "no AppID text for path: C:\\\\xFF.exe\n");  // the byte as \xNN
}

// Every line with the label, its value (after the 26-column label field).
std::vector<std::string> values(const std::string& text, const std::string& label) {
  std::vector<std::string> found;
  for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
    if (at == 0 || text[at - 1] == '\n')
      found.push_back(text.substr(at + 26, text.find('\n', at) - at - 26));
  return found;
}

// Command lines that go wrong, and files that give no record, say so on
// standard error with the status they end with.
TEST(VeskCli, CommandLineFaultsAndFailureReasons) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string name = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(list.begin(), list.end()));
  const auto link = fixture_link();
  tree.file("-weird.lnk", std::string(link.begin(), link.end()));
  tree.file("pct%PATH%x.lnk", std::string(link.begin(), link.end()));
  tree.file("junk.bin", std::string(100, 'j'));
  tree.dir("folder");
  ASSERT_EQ(::mkfifo(tree.path("fifo").c_str(), 0600), 0);
  // No DestList, and no stream named by a number: no jump list.
  cfb_writer no_destlist;
  no_destlist.stream(u"x", link);
  const auto nodl = no_destlist.build();
  tree.file("nodl.bin", std::string(nodl.begin(), nodl.end()));
  std::vector<uint8_t> empty_destlist(32, 0);
  empty_destlist[0] = 3;
  cfb_writer empty;
  empty.stream(u"x", link).stream(u"DestList", empty_destlist);
  const auto none = empty.build();
  tree.file("none.bin", std::string(none.begin(), none.end()));

  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;
  } rows[] = {
      {{"-bogus"}, "", 255, "unknown option: -bogus\n"},
      {{name, "-bogus", "/other"},
       "",
       255,
       "unknown option: -bogus\nunexpected argument: /other (to read several files, give their "
       "names on standard input with -pipe, or a folder with -enumdir)\n"},
      {{"-pipe", "-quiet", "extra"}, "", 255, "unexpected argument: extra\n"},
      // The file after an unknown option is the one file, not a second.
      {{"-bogus", name}, "", 255, "unknown option: -bogus\n"},
      {{"-quiet", "-weird.lnk"}, "", 0, ""},
      {{"-quiet", "pct%PATH%x.lnk"}, "", 0, ""},
      {{"junk.bin"}, "", 255, "not a jump list or link file: junk.bin\n"},
      {{"folder"}, "", 255, "can't read specified file: folder (Is a directory), aborting\n"},
      {{"fifo"}, "", 255, "can't read specified file: fifo (not a regular file), aborting\n"},
      {{"nodl.bin"}, "", 255, "no destlist stream in file: nodl.bin\n"},
      {{"none.bin"}, "", 0, "no entries in file: none.bin\n"},
      // In a list only what cannot be read is said.
      {{"-pipe", "-quiet"},
       "junk.bin\nfolder\nnone.bin\n",
       1,
       "can't read file: folder (Is a directory)\n"},
      {{"-dateformat", "dd.mm.yyyy", "-csv", name},
       "",
       0,
       "invalid dd.mm.yyyy, using default format\n"},
      {{"-dateformat", "dd/mm/yyyy", "-csv", name}, "", 0, ""},
  };
  // A name that is not UTF-8 is shown escaped, in the header and the report.
  tree.file("bad\xFF.lnk", std::string(link.begin(), link.end()));
  const outcome bad = vesk(tree, {"-quiet", "bad\xFF.lnk"});
  EXPECT_EQ(bad.status, 0);
  EXPECT_NE(bad.out.find(" bad\\xFF.lnk\"\n"), std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find("source path/filename:     bad\\xFF.lnk\n"), std::string::npos);
  EXPECT_EQ(bad.out.find('\xFF'), std::string::npos);
  for (const auto& r : rows) {
    const outcome o = vesk(tree, r.args, r.input);
    EXPECT_EQ(o.status, r.status) << r.args[0] << " " << o.err;
    EXPECT_EQ(o.err, r.err) << r.args[0];
  }
  const outcome dots = vesk(tree, {"-dateformat", "dd.mm.yyyy", "-csv", "-quiet", name});
  EXPECT_NE(after_header(dots.out).find(",2024-03-05,"), std::string::npos) << dots.out;
  const outcome slashes = vesk(tree, {"-dateformat", "dd/mm/yyyy", "-csv", "-quiet", name});
  EXPECT_NE(after_header(slashes.out).find(",05/03/2024,"), std::string::npos) << slashes.out;
}

// A report path that reaches the input, by any name, never truncates it.
TEST(VeskCli, OutputFileThatIsTheInput) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string bytes(list.begin(), list.end());
  const std::string name = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, bytes);
  tree.symlink(tree.path(name), "soft.ms");
  ASSERT_EQ(::link(tree.path(name).c_str(), tree.path("hard.ms").c_str()), 0);
  for (const char* out : {name.c_str(), "soft.ms", "hard.ms", "./d/../hard.ms"}) {
    const outcome o = vesk(tree, {name, "-out", out});
    EXPECT_EQ(o.status, 255) << out;
    EXPECT_EQ(o.err, "output file is the input file: " + std::string(out) + "\n");
    EXPECT_EQ(slurp(tree.path(name)), bytes) << out;
  }
  tree.file("ids.txt", "5f7b5f1e01b83767|Pinned\n");
  const outcome ids = vesk(tree, {"-appid_ref", "ids.txt", "-out", "ids.txt", name});
  EXPECT_EQ(ids.status, 255);
  EXPECT_EQ(ids.err, "output file is the input file: ids.txt\n");
  EXPECT_EQ(slurp(tree.path("ids.txt")), "5f7b5f1e01b83767|Pinned\n");
}

// In a list run the report is written beside its target and moved over it at
// the end: a listed input that the report would replace is read by nothing
// and left whole, and the report is said to be beside it; a report that is
// no input is replaced, through a link too, keeping its permissions; a new
// report in the walked folder is not taken for an input.
TEST(VeskCli, ListRunsNeverHarmAnInput) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string bytes(list.begin(), list.end());
  tree.file("x.ms", bytes);
  tree.file("w/x.lnk", bytes);
  tree.file("w/5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  tree.file("l/5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  tree.symlink(tree.path("l/5f7b5f1e01b83767.automaticDestinations-ms"), "soft.ms");
  tree.file("mz.exe", "MZ rest");
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string target;  // the input the report names
    std::string kept;    // the file that must stay whole
    size_t records;      // records in the report
  } rows[] = {
      {{"-pipe", "-out", "x.ms"}, "x.ms\nw/x.lnk\n", "x.ms", "x.ms", 3},
      {{"-enumdir", "w", "-out", "w/x.lnk"}, "", "w/x.lnk", "w/x.lnk", 3},
      {{"-pipe", "-out", "soft.ms"},
       "l/5f7b5f1e01b83767.automaticDestinations-ms\n",
       "l/5f7b5f1e01b83767.automaticDestinations-ms",
       "l/5f7b5f1e01b83767.automaticDestinations-ms",
       0},
      {{"-pipe", "-appid", "-out", "mz.exe"}, "mz.exe\n", "mz.exe", "mz.exe", 0},
  };
  for (const auto& r : rows) {
    const std::string before = slurp(tree.path(r.kept));
    std::vector<std::string> args = r.args;
    args.insert(args.begin(), "-quiet");
    const outcome o = vesk(tree, args, r.input);
    EXPECT_EQ(o.status, r.records != 0 ? 1 : 255) << r.args[1] << o.err;
    EXPECT_EQ(slurp(tree.path(r.kept)), before) << r.args[1];
    const std::string skipped = "output file is the input file: " + r.target + ", skipped\n";
    ASSERT_EQ(o.err.rfind(skipped, 0), 0u) << o.err;
    if (r.records == 0) {
      // A run that read nothing keeps no report, beside the input or elsewhere.
      EXPECT_EQ(o.err.find("report written to "), std::string::npos) << o.err;
      for (const auto& e : std::filesystem::recursive_directory_iterator(tree.root()))
        EXPECT_EQ(e.path().filename().string().rfind(".vesk-report-", 0), std::string::npos);
      continue;
    }
    const std::string said = "report written to ";
    const size_t at = o.err.rfind(said), end = o.err.find(": the output file ", at);
    ASSERT_NE(end, std::string::npos) << o.err;
    std::string beside = o.err.substr(at + said.size(), end - at - said.size());
    // Beside the file a link leads to, named by its whole path.
    if (beside[0] != '/') beside = tree.path(beside);
    EXPECT_EQ(o.err.substr(end), ": the output file " + r.args.back() +
                                     " is an input of the run and was left as it was\n");
    const std::string report = slurp(beside);
    EXPECT_EQ(report.rfind("vesk ver: 0.64\n", 0), 0u) << beside;
    EXPECT_EQ(values(report, "MRU/MFU index:").size(), r.records) << beside;
    std::filesystem::remove(beside);
  }

  tree.file("r.txt", "old");
  ::chmod(tree.path("r.txt").c_str(), 0604);
  tree.file("r2.txt", "old");
  tree.symlink(tree.path("r2.txt"), "link.txt");
  for (const char* report : {"r.txt", "link.txt", "l/new.txt"}) {
    const outcome o = vesk(tree, {"-quiet", "-enumdir", "l", "-out", report});
    EXPECT_EQ(o.status, 0) << report;
    EXPECT_EQ(o.err, "") << report;
    EXPECT_EQ(values(slurp(tree.path(report)), "MRU/MFU index:").size(), 3u) << report;
  }
  struct stat st;
  ASSERT_EQ(::stat(tree.path("r.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  ASSERT_EQ(::lstat(tree.path("link.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(values(slurp(tree.path("r2.txt")), "MRU/MFU index:").size(), 3u);
  size_t in_walked = 0;
  for (const auto& e : std::filesystem::directory_iterator(tree.path("l"))) {
    (void)e;
    ++in_walked;
  }
  EXPECT_EQ(in_walked, 2u);  // the list and the new report, nothing left beside them
}

TEST(VeskCli, OutputFileAndAppIdFiles) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string name = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(list.begin(), list.end()));

  const outcome nodir = vesk(tree, {"-out", "no/such/r.txt", name});
  EXPECT_EQ(nodir.status, 255);
  EXPECT_EQ(nodir.err,
            "prob opening file no/such/r.txt for output (No such file or directory), aborting\n");
  EXPECT_EQ(nodir.out.rfind("vesk ver: 0.64\nrun time: ", 0), 0u);
  EXPECT_EQ(after_header(nodir.out), "");

  const outcome written = vesk(tree, {"-out", "r.txt", name});
  EXPECT_EQ(written.status, 0);
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(values(slurp(tree.path("r.txt")), "MRU/MFU index:"),
            (std::vector<std::string>{"3", "2", "1"}));

  // A report that cannot be written is no success.
  if (access("/dev/full", W_OK) == 0) {
    const std::string full = "cd " + quoted(tree.root()) + " && " + quoted(VESK_BINARY) + " " +
                             name + " >/dev/full 2>stderr.txt";
    EXPECT_EQ(WEXITSTATUS(std::system(full.c_str())), 255);
    EXPECT_EQ(without_status(slurp(tree.path("stderr.txt"))),
              "prob writing results to standard output (No space left on device)\n");
  }

  tree.file("empty.txt", "");
  for (const char* bad : {"missing.txt", "empty.txt"}) {
    const outcome o = vesk(tree, {"-appid_ref", bad, name});
    EXPECT_EQ(o.status, 255) << bad;
    EXPECT_EQ(o.err, "Probs reading AppID file " + std::string(bad) + ", aborting \n");
    EXPECT_EQ(after_header(o.out), "");
  }
  tree.file("ids.txt",
            "// 5f7b5f1e01b83767|Comment\nx\n15f7b5f1e01b83767|Long\n"
            "5f7b5f1e01b83767 | Pinned\n5f7b5f1e01b83767|Other\n");
  const outcome named = vesk(tree, {"-appid_ref", "ids.txt", name});
  EXPECT_EQ(named.status, 0);
  EXPECT_EQ(values(named.out, "AppID:"), std::vector<std::string>(3, "5f7b5f1e01b83767 [Pinned]"));

  // "-translate_appid" reads appids.txt beside the program.
  std::filesystem::create_directories(tree.path("bin"));
  std::filesystem::copy_file(VESK_BINARY, tree.path("bin/vesk"));
  tree.file("bin/appids.txt", "5f7b5f1e01b83767|Beside\n");
  const std::string cmd = "cd " + quoted(tree.root()) + " && bin/vesk -translate_appid " + name +
                          " >stdout.txt 2>stderr.txt";
  EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);
  EXPECT_EQ(values(slurp(tree.path("stdout.txt")), "AppID:"),
            std::vector<std::string>(3, "5f7b5f1e01b83767 [Beside]"));
}

TEST(VeskCli, FileListsAndNames) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string bytes(list.begin(), list.end());
  tree.file("d/5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  tree.file("5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  tree.file("e/1111111111111111.automaticDestinations-ms", bytes);
  tree.file("p/x%5f7b5f1e01b83767.automaticDestinations-ms-copy", bytes);

  // A bare name takes its AppID as a path with a folder does; "-pipe" wins
  // over "-enumdir".
  const outcome piped = vesk(tree, {"-pipe", "-quiet", "-enumdir", "e"},
                             "d/5f7b5f1e01b83767.automaticDestinations-ms\n"
                             "5f7b5f1e01b83767.automaticDestinations-ms\n");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(values(piped.out, "AppID:"), std::vector<std::string>(6, "5f7b5f1e01b83767"));

  // The directory walk when there is no "-pipe".
  const outcome walked = vesk(tree, {"-quiet", "-enumdir", "e", "-num_subdirs", "1"});
  EXPECT_EQ(walked.status, 0);
  EXPECT_EQ(values(walked.out, "AppID:"), std::vector<std::string>(3, "1111111111111111"));
}

// Names on standard input end at a NUL when the input's first name does
// (find -print0), line feeds and all; else at line feeds, and a line that
// holds a NUL is said and not read: no list is read in part unsaid.
TEST(VeskCli, NulSeparatedNamesOnStandardInput) {
  using namespace std::string_literals;
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();
  const std::string bytes(link.begin(), link.end());
  tree.file("a.lnk", bytes);
  tree.file("new\nline.lnk", bytes);
  tree.file("b.lnk", bytes);
  const std::string nul =
      " (a NUL byte in the name: the names on standard input are one a line, "
      "as the first ends at a line feed)\n";
  const struct {
    std::string input;
    int status;
    std::vector<std::string> read;
    std::string err;
  } rows[] = {
      {"a.lnk\0new\nline.lnk\0b.lnk\0"s, 0, {"a.lnk", "new[LF]line.lnk", "b.lnk"}, ""},
      {"b.lnk\0\0new\nline.lnk"s, 0, {"b.lnk", "new[LF]line.lnk"}, ""},
      {"b.lnk\0a.lnk\r\n\0"s,
       1,
       {"b.lnk"},
       "can't open file: a.lnk[CRLF] (No such file or directory)\n"},
      {"a.lnk\nb.lnk\0a.lnk\nb.lnk\n"s,
       1,
       {"a.lnk", "b.lnk"},
       "can't open file: b.lnk[0x00]a.lnk" + nul},
      {"new\nline.lnk\0b.lnk\0"s,
       255,
       {},
       "can't open file: new (No such file or directory)\ncan't open file: "
       "line.lnk[0x00]b.lnk[0x00]" +
           nul + "nothing read: 2 names on standard input: 2 could not be read\n"},
      {"\0\0"s, 255, {}, "nothing read: no file names on standard input\n"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(vk::shown_name(r.input));
    const outcome o = vesk(tree, {"-pipe", "-quiet"}, r.input);
    EXPECT_EQ(o.status, r.status);
    EXPECT_EQ(values(o.out, "source path/filename:"), r.read);
    EXPECT_EQ(o.err, r.err);
  }
}

TEST(VeskCli, SampleTreeThroughThePipe) {
  const auto dir = samples_dir();
  if (dir.empty()) GTEST_SKIP() << "sample folder absent";
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::string names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) names += e.path().string() + "\n";
  const outcome o = vesk(tree, {"-pipe", "-quiet"}, names);
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(only_partly_read(o.err, k_sample_cut_links)) << o.err.substr(0, 2000);
  EXPECT_GE(values(o.out, "source path/filename:").size(), 165u);
}

TEST(VeskCli, CommittedExample) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const outcome o = vesk(tree, {std::string(VESK_EXAMPLES_DIR) + "/" + k_example_jumplist_name});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(values(o.out, "stream #:"), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(values(o.out, "Description:"),
            (std::vector<std::string>{"Evidence list", "Meeting notes", "Отчёт 2024"}));
}

// The report with the values that reading the file moves masked.
std::string masked_times(std::string text) {
  for (const char* label : {"file accessed:            ", "file stats changed:       "})
    for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1)) {
      const size_t from = at + std::strlen(label);
      text.replace(from, text.find('\n', from) - from, "<not compared>");
    }
  return text;
}

// CSV rows with the file's access date and time blanked: each run reads the
// file, and the clock may pass a second between one run and the next.
std::string masked_access_columns(const std::string& rows) {
  std::string out;
  size_t line = 0;
  while (line < rows.size()) {
    size_t end = rows.find('\n', line);
    if (end == std::string::npos) end = rows.size();
    std::string row = rows.substr(line, end - line);
    size_t from = 0;
    for (int field = 0; field < 10 && from != std::string::npos; ++field) {
      from = row.find(',', from);
      if (from != std::string::npos) ++from;
    }
    const size_t date_end = from == std::string::npos ? from : row.find(',', from);
    const size_t time_end = date_end == std::string::npos ? date_end : row.find(',', date_end + 1);
    if (time_end != std::string::npos) row.replace(from, time_end - from, "-,-");
    out += row;
    out += '\n';
    line = end + 1;
  }
  return out;
}

TEST(VeskCli, FixtureReportAgainstItsGoldenText) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string name = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(list.begin(), list.end()));
  const struct timespec times[2] = {{1709622489, 0}, {1709622489, 0}};  // 2024-03-05 07:08:09
  ASSERT_EQ(utimensat(AT_FDCWD, tree.path(name).c_str(), times, 0), 0);
  const outcome o = vesk(tree, {name});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  const std::string block_tail =
      "file modified:            2024-03-05 07:08:09.000 [UTC]\n"
      "file accessed:            <not compared>\n"
      "file stats changed:       <not compared>\n"
      "Target flags:             HasLinkInfo, HasName, IsUnicode\n"
      "Target attributes:        FILE_ATTRIBUTE_ARCHIVE\n"
      "Target modified:          not available\n"
      "Target accessed:          not available\n"
      "Target created:           not available\n"
      "Target ObjID time:        2009-07-14 05:45:20.500 [UTC]\n"
      "Parsed size:              0x00000107 [263 bytes]\n"
      "Target file size:         0x00001000 [4096 bytes]\n"
      "Show cmd:                 [SW_SHOWNORMAL]\n"
      "Volume Type:              fixed\n"
      "Volume serial num:        1234-abcd\n"
      "Local base path:          C:\\Temp\\report.docx\n"
      "Description:              Отчёт 2024\n"
      "NETBIOS name:             desktop-01\n"
      "Object ID:                846ee3bb-7039-11de-9d20-001d09fa5a1c\n"
      "MAC address:              00:1d:09:fa:5a:1c\n"
      "\n";
  const std::string head =
      "source path/filename:     d/5f7b5f1e01b83767.automaticDestinations-ms\n"
      "AppID:                    5f7b5f1e01b83767\n";
  const std::string older =
      "MRU time:                 2019-11-23 04:02:03.905 [UTC]\n"
      "Interaction count:        3\n";
  EXPECT_EQ(masked_times(after_header(o.out)),
            head + "MRU/MFU index:            3\nstream #:                 1\n" + older +
                block_tail + head + "MRU/MFU index:            2\nstream #:                 2\n" +
                older + block_tail + head +
                "MRU/MFU index:            1\nstream #:                 10\n"
                "MRU time:                 2024-03-05 07:08:09.123 [UTC]\n"
                "Interaction count:        5\n" +
                block_tail);

  // "-show_offset" adds both offset lines to every block.
  const outcome shown = vesk(tree, {"-show_offset", name});
  EXPECT_EQ(values(shown.out, "file offset:").size(), 3u);
  EXPECT_EQ(values(shown.out, "File offset:").size(), 3u);
}

TEST(VeskCli, AutomaticListFromTheCommandLine) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  tree.file("d/5f7b5f1e01b83767.automaticDestinations-ms", std::string(list.begin(), list.end()));
  const outcome one = vesk(tree, {"d/5f7b5f1e01b83767.automaticDestinations-ms"});
  EXPECT_EQ(one.status, 0) << one.err;
  const std::string body = after_header(one.out);
  EXPECT_EQ(body.rfind("source path/filename:     d/5f7b5f1e01b83767.automaticDestinations-ms\n"
                       "AppID:                    5f7b5f1e01b83767\n"
                       "MRU/MFU index:            3\n",
                       0),
            0u)
      << body;
  EXPECT_NE(body.find("MRU/MFU index:            1\nstream #:                 10\n"),
            std::string::npos);

  tree.file("junk.bin", "no links here");
  const outcome list_run =
      vesk(tree, {"-pipe"}, "junk.bin\nd/5f7b5f1e01b83767.automaticDestinations-ms\n");
  EXPECT_EQ(list_run.status, 0);
  EXPECT_EQ(vesk(tree, {"-pipe", "-quiet"}, "junk.bin\n").status, 255);
  EXPECT_EQ(vesk(tree, {"-pipe", "-quiet"}, "junk.bin\n").err,
            "nothing read: 1 name on standard input: 1 no jump list or link file\n");
}

// The README's first command configures the tool alone: GoogleTest absent,
// with the tests switched off or not, the "vesk" target is there and no test
// program is.
TEST(VeskCli, ReadmeFirstCommandNeedsNoGoogleTest) {
  if (std::system("command -v cmake >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "cmake is not installed";
  const std::string source = std::string(VESK_EXAMPLES_DIR) + "/..";
  const std::string readme = slurp(source + "/README.md");
  const size_t block = readme.find("```sh\n");
  ASSERT_NE(block, std::string::npos);
  const std::string lines = readme.substr(block + 6, readme.find("```", block + 6) - block - 6);
  // Continued lines joined; built char by char, as GCC 12 misreads an
  // in-place replace as an overlapping copy (-Wrestrict).
  std::string command;
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool continued = lines[i] == '\\' && i + 1 < lines.size() && lines[i + 1] == '\n';
    command += continued ? ' ' : lines[i];
    if (continued) ++i;
  }
  const std::string configure = command.substr(0, command.find("&&"));
  ASSERT_EQ(configure.rfind("cmake -S . -B build ", 0), 0u) << configure;
  EXPECT_NE(command.find("cmake --build build"), std::string::npos) << command;
  EXPECT_NE(command.find("build/jumplist/vesk examples/"), std::string::npos) << command;
  EXPECT_EQ(std::string(VESK_BINARY).substr(std::strlen(VESK_BINARY) - 14), "/jumplist/vesk");

  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string options = configure.substr(std::strlen("cmake -S . -B build "));
  for (const std::string& extra : {options, std::string("-DCMAKE_BUILD_TYPE=Release")}) {
    const std::string dir = tree.path("b" + std::to_string(extra.size()));
    std::string cmd = "cmake -S ";
    cmd += quoted(source);
    cmd += " -B ";
    cmd += quoted(dir);
    cmd += " ";
    cmd += extra;
    cmd += " -DCMAKE_DISABLE_FIND_PACKAGE_GTest=TRUE >";
    cmd += quoted(tree.path("cmake.txt"));
    cmd += " 2>&1 && cmake --build ";
    cmd += quoted(dir);
    cmd += " --target help >";
    cmd += quoted(tree.path("targets.txt"));
    ASSERT_EQ(std::system(cmd.c_str()), 0) << extra << "\n" << slurp(tree.path("cmake.txt"));
    const std::string targets = slurp(tree.path("targets.txt"));
    EXPECT_NE(targets.find("... vesk\n"), std::string::npos) << targets;
    EXPECT_EQ(targets.find("_tests"), std::string::npos) << targets;
  }
}

// The status tells a script what became of the inputs (0 all read, 1 some
// not opened, 2 some refused or cut, 255 nothing read or a wrong command
// line), and every input that was not read says why, with the system's
// reason; a list is quiet only about files that are no jump list and lists
// without entries.
TEST(VeskCli, RunStatusAndWhatIsSaid) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string name = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(list.begin(), list.end()));
  tree.file("e/sub/5f7b5f1e01b83767.automaticDestinations-ms",
            std::string(list.begin(), list.end()));
  tree.dir("empty");
  tree.file("junk.bin", std::string(100, 'j'));
  tree.file("mz.exe", "MZ rest");
  const auto link = fixture_link();
  std::vector<uint8_t> empty_destlist(32, 0);
  empty_destlist[0] = 3;
  const auto none = cfb_writer().stream(u"x", link).stream(u"DestList", empty_destlist).build();
  tree.file("none.bin", std::string(none.begin(), none.end()));
  tree.file("dmg.bin", std::string(list.begin(), list.begin() + 300));
  // The second DestList entry runs past the stream: the first entry's record,
  // then the two streams no entry read names, then one note.
  std::vector<destlist_test_entry> entries(3);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].entry_num = i + 1;
  entries[1].length_override = 0xFFFF;
  const auto part = cfb_writer()
                        .stream(u"1", link)
                        .stream(u"2", link)
                        .stream(u"3", link)
                        .stream(u"DestList", build_destlist(4, entries))
                        .build();
  tree.file("part.bin", std::string(part.begin(), part.end()));
  const std::string partly =
      "not read in full: part.bin (DestList header at offset 0x4 of stream DestList: says 3 "
      "entries, 1 were read)\nnot read in full: part.bin (DestList at offset 0xcc of stream "
      "DestList: entry 2 runs past the stream; 2 of 2 link streams that no entry names reported "
      "without DestList data)\n";
  const std::string too_long(300, 'n');
  // A missing file whose name is far longer than one message used to be.
  std::string deep;
  for (int i = 0; i < 2500; ++i) deep += "a/";
  deep += "x.lnk";

  const std::string several =
      " (to read several files, give their names on standard input with -pipe, or a folder "
      "with -enumdir)\n";
  const std::string damaged = "damaged file: dmg.bin (cut short inside its compound-file header)\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;
  } rows[] = {
      {{name}, "", 0, ""},
      {{"none.bin"}, "", 0, "no entries in file: none.bin\n"},
      {{"dmg.bin"}, "", 255, damaged},
      {{"junk.bin"}, "", 255, "not a jump list or link file: junk.bin\n"},
      {{"missing"},
       "",
       255,
       "can't read specified file: missing (No such file or directory), aborting\n"},
      {{too_long},
       "",
       255,
       "can't read specified file: " + too_long + " (File name too long), aborting\n"},
      {{name, "b"}, "", 255, "unexpected argument: b" + several},
      {{"-pipe"}, name + "\nnone.bin\njunk.bin\n", 0, ""},
      {{"-pipe"},
       "junk.bin\nempty\n",
       255,
       "can't read file: empty (Is a directory)\nnothing read: 2 names on standard input: 1 no "
       "jump list or link file, 1 could not be read\n"},
      {{"-pipe"},
       name + "\nmissing\n" + too_long + "\n" + deep + "\n",
       1,
       "can't open file: missing (No such file or directory)\ncan't open file: " + too_long +
           " (File name too long)\ncan't open file: " + deep + " (No such file or directory)\n"},
      {{"-pipe"}, name + "\ndmg.bin\n", 2, damaged},
      {{"part.bin"}, "", 2, partly},
      {{"-pipe"}, name + "\npart.bin\n", 2, partly},
      {{"-pipe"},
       "part.bin\nmissing\n",
       1,
       partly + "can't open file: missing (No such file or directory)\n"},
      {{"-pipe"},
       "dmg.bin\nmissing\n" + name + "\n",
       1,
       damaged + "can't open file: missing (No such file or directory)\n"},
      {{"-pipe"}, "", 255, "nothing read: no file names on standard input\n"},
      // The modification-time window selects listed files, with or without filters.
      {{"-pipe", "-cmd_start_time", "2999/01/01"},
       name + "\n",
       255,
       "nothing read: 1 name on standard input: 1 modified outside the "
       "-cmd_start_time/-cmd_stop_time window\n"},
      {{"-pipe", "-cmd_stop_time", "2999-01-01"}, name + "\n", 0, ""},
      {{"-enumdir", "nodir"}, "", 255, "can't read folder: nodir (No such file or directory)\n"},
      {{"-enumdir", "junk.bin"}, "", 255, "can't read folder: junk.bin (Not a directory)\n"},
      {{"-enumdir", "e"},
       "",
       255,
       "nothing read: no files in e at depth 0; 1 folder deeper than depth 0 not read "
       "(-num_subdirs sets the depth)\n"},
      {{"-enumdir", "e", "-num_subdirs", "1"}, "", 0, ""},
      {{"-pipe", "-appid"},
       "mz.exe\nmissing\n",
       1,
       "mz.exe\ncan't open file: missing (No such file or directory)\n"},
      {{"-pipe", "-appid"},
       "junk.bin\n",
       255,
       "nothing read: 1 name on standard input: 1 no program file\n"},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = r.args;
    args.insert(args.begin(), "-quiet");
    const outcome o = vesk(tree, args, r.input);
    EXPECT_EQ(o.status, r.status) << r.args[0] << " " << r.input.substr(0, 60) << "\n" << o.err;
    EXPECT_EQ(o.err, r.err) << r.args[0] << " " << r.input.substr(0, 60);
  }
  // What was not read in full is said after the file's records.
  const std::string both =
      program_command(VESK_BINARY, tree, {"-quiet", "part.bin"}, ">both.txt 2>&1");
  EXPECT_EQ(exit_status(std::system(both.c_str())), 2);
  const std::string text = slurp(tree.path("both.txt"));
  const size_t last_record = text.rfind("stream #:"), note = text.find("not read in full:");
  ASSERT_NE(last_record, std::string::npos);
  EXPECT_LT(last_record, note);
  // A folder of the walk that cannot be listed is an input not read.
  if (geteuid() != 0) {
    tree.dir("e/locked");
    ::chmod(tree.path("e/locked").c_str(), 0);
    const outcome o = vesk(tree, {"-quiet", "-enumdir", "e", "-num_subdirs", "1"});
    ::chmod(tree.path("e/locked").c_str(), 0700);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "can't read folder: e/locked/ (Permission denied)\n");
  }
}

// File names are hostile input (a tree from a seized machine): every control
// character a name holds (line ends, an escape sequence, other C0
// characters, DEL, C1 controls) is written as a mark and every byte that is
// not UTF-8 as \xNN, in every report form, the run header and every message;
// each message keeps to one line. A no-break space and a tab stay.
TEST(VeskCli, ControlCharactersInFileNamesAreMarkedEverywhere) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const struct {
    std::string raw, shown;
  } kinds[] = {
      {"\n", "[LF]"},
      {"\r", "[CR]"},
      {"\r\n", "[CRLF]"},
      {"\x1b[2J", "[0x1b][2J"},
      {"\x01\x08", "[0x01][0x08]"},
      {"\x7f", "[0x7f]"},
      {"\xC2\x9b"
       "1m",
       "[0x9b]1m"},
      {"\xC2\x85", "[0x85]"},
      {"\xFF\x9B", "\\xFF\\x9B"},
      {"\xC2\xA0\t", "\xC2\xA0\t"},
  };
  // One name holding them all; the names of standard input lines hold no
  // line end.
  std::string raw, shown, raw_line, shown_line;
  for (const auto& k : kinds) {
    raw += k.raw + "_";
    shown += k.shown + "_";
    if (k.raw.find_first_of("\r\n") != std::string::npos) continue;
    raw_line += k.raw + "_";
    shown_line += k.shown + "_";
  }
  // A link with a time, so that the log2timeline form has a line for it.
  lnk_spec dated;
  dated.write_time = 133540960890000000ull;  // 2024-03-05 07:08:09
  lnk_link_info target;
  target.local_base_path = "C:\\Temp\\report.docx";
  dated.link_info = target;
  const auto link = write_lnk(dated);
  const auto list = fixture_jumplist();
  std::vector<destlist_test_entry> entries(3);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].entry_num = i + 1;
  entries[1].length_override = 0xFFFF;
  const auto part = cfb_writer()
                        .stream(u"1", fixture_link())
                        .stream(u"2", fixture_link())
                        .stream(u"3", fixture_link())
                        .stream(u"DestList", build_destlist(4, entries))
                        .build();
  for (const auto& k : kinds)
    tree.file("h/n" + k.raw + ".lnk", std::string(link.begin(), link.end()));
  tree.file("h/cut" + raw + ".bin", std::string(part.begin(), part.end()));
  tree.file("h/dmg" + raw + ".bin", std::string(list.begin(), list.begin() + 300));
  tree.file("s" + raw + ".lnk", std::string(link.begin(), link.end()));
  tree.file("s" + raw_line + ".lnk", std::string(link.begin(), link.end()));
  tree.file("j" + raw + ".bin", std::string(100, 'j'));
  tree.file("e" + raw + "/j.bin", std::string(100, 'j'));
  tree.file("o/r" + raw + ".lnk", std::string(link.begin(), link.end()));
  tree.file("o/other.lnk", std::string(link.begin(), link.end()));
  tree.dir("d" + raw_line);
  tree.file("mz" + raw_line + ".exe", "MZ rest");
  tree.file("mz\x1b[2J\xC2\x9b.exe", "MZ rest");

  const std::string cut = "h/cut" + shown + ".bin", dmg = "h/dmg" + shown + ".bin";
  const std::string walk_err =
      "damaged file: " + dmg + " (cut short inside its compound-file header)\n" +
      "not read in full: " + cut +
      " (DestList header at offset 0x4 of stream DestList: says 3 entries, 1 were read)\n" +
      "not read in full: " + cut +
      " (DestList at offset 0xcc of stream DestList: entry 2 runs past the stream; 2 of 2 link "
      "streams that no entry names reported without DestList data)\n";
  // The walk's order is the folder's.
  const auto sorted_lines = [](const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(text.substr(at, end + 1 - at));
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  // Every form of a walk over the names: each record on its own lines, its
  // source marked; each message one line.
  const struct {
    const char* form;
    char separator;     // of a row form, whose lines all have the title's cells
    std::string shows;  // before each source path
  } forms[] = {
      {"", 0, "source path/filename:     "},
      {"-csv", ',', "\n"},
      {"-csvl2t", ',', " <- "},
      {"-bodyfile", '|', " (LNK TARGET) <- "},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.form);
    std::vector<std::string> args = {"-quiet", "-enumdir", "h"};
    if (*f.form) args.push_back(f.form);
    const outcome o = vesk(tree, args);
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_TRUE(plain_lines(o.out) && plain_lines(o.err)) << o.out << o.err;
    EXPECT_EQ(sorted_lines(o.err), sorted_lines(walk_err));
    const std::string text = after_header(o.out);
    for (const auto& k : kinds)
      EXPECT_NE(text.find(f.shows + "h/n" + k.shown + ".lnk"), std::string::npos) << k.shown;
    EXPECT_NE(text.find(f.shows + cut), std::string::npos);
    const size_t records = std::size(kinds) + 3;  // a link each, and the cut list's three
    if (!f.separator) {
      size_t sources = 0;
      for (size_t at = text.find(f.shows); at != std::string::npos; at = text.find(f.shows, at + 1))
        ++sources;
      EXPECT_EQ(sources, records);
      continue;
    }
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_GT(lines.size(), std::size(kinds));
    const auto cells = [&](const std::string& line) {
      return std::count(line.begin(), line.end(), f.separator);
    };
    for (const auto& l : lines) {
      EXPECT_EQ(cells(l), cells(lines[0])) << l;
      if (&l != &lines[0]) {
        EXPECT_NE(l.find("h/"), std::string::npos) << l;
      }
    }
  }

  // Runs of one name, and the names of the command line and of standard input.
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;
  } rows[] = {
      {{"j" + raw + ".bin"}, "", 255, "not a jump list or link file: j" + shown + ".bin\n"},
      {{"m" + raw},
       "",
       255,
       "can't read specified file: m" + shown + " (No such file or directory), aborting\n"},
      {{"h/dmg" + raw + ".bin"},
       "",
       255,
       "damaged file: " + dmg + " (cut short inside its compound-file header)\n"},
      {{"h/cut" + raw + ".bin"}, "", 2, walk_err.substr(walk_err.find("not read"))},
      {{"-x" + raw}, "", 255, "unknown option: -x" + shown + "\n"},
      {{"s" + raw + ".lnk", "b" + raw},
       "",
       255,
       "unexpected argument: b" + shown +
           " (to read several files, give their names on standard input with -pipe, or a folder "
           "with -enumdir)\n"},
      {{"-enumdir", "m" + raw},
       "",
       255,
       "can't read folder: m" + shown + " (No such file or directory)\n"},
      {{"-enumdir", "e" + raw},
       "",
       255,
       "nothing read: 1 file in e" + shown + " at depth 0: 1 no jump list or link file\n"},
      {{"-out", "m" + raw + "/r.txt", "s" + raw + ".lnk"},
       "",
       255,
       "prob opening file m" + shown + "/r.txt for output (No such file or directory), aborting\n"},
      {{"-diags", "m" + raw + "/log", "s" + raw + ".lnk"},
       "",
       0,
       "can't write diagnostics log: m" + shown + "/log (No such file or directory)\n"},
      {{"-appid_ref", "m" + raw, "s" + raw + ".lnk"},
       "",
       255,
       "Probs reading AppID file m" + shown + ", aborting \n"},
      {{"-pipe"},
       "s" + raw_line + ".lnk\nd" + raw_line + "\nm" + raw_line + "\n",
       1,
       "can't read file: d" + shown_line + " (Is a directory)\ncan't open file: m" + shown_line +
           " (No such file or directory)\n"},
      {{"-pipe", "-appid"},
       "mz" + raw_line + ".exe\n",
       255,
       "mz" + shown_line + ".exe\nno AppID text for path: mz" + shown_line +
           ".exe\nnothing read: 1 name on standard input: 1 refused as damaged\n"},
      {{"-pipe", "-appid"}, "mz\x1b[2J\xC2\x9b.exe\n", 0, "mz[0x1b][2J[0x9b].exe\n"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args[0] + " " + r.input);
    std::vector<std::string> args = r.args;
    args.insert(args.begin(), "-quiet");
    const outcome o = vesk(tree, args, r.input);
    EXPECT_EQ(o.status, r.status) << o.err;
    EXPECT_EQ(o.err, r.err);
    EXPECT_TRUE(plain_lines(o.out) && plain_lines(o.err)) << o.out << o.err;
  }
  // The run header's command line and the report of a single file.
  const outcome single = vesk(tree, {"-quiet", "s" + raw + ".lnk"});
  EXPECT_EQ(single.status, 0) << single.err;
  EXPECT_TRUE(plain_lines(single.out)) << single.out;
  std::istringstream head(single.out);
  std::string header[4];
  for (auto& l : header) std::getline(head, l);
  EXPECT_EQ(header[2].rfind("\"command: ", 0), 0u) << header[2];
  EXPECT_NE(header[2].find("s" + shown + ".lnk"), std::string::npos) << header[2];
  EXPECT_EQ(header[3], "");
  EXPECT_EQ(after_header(single.out).rfind("source path/filename:     s" + shown + ".lnk\n", 0),
            0u);

  // The report's target met as an input of the walk: skipped, and said.
  const outcome own = vesk(tree, {"-quiet", "-enumdir", "o", "-out", "o/r" + raw + ".lnk"});
  EXPECT_TRUE(plain_lines(own.err)) << own.err;
  EXPECT_EQ(own.err.rfind("output file is the input file: o/r" + shown + ".lnk, skipped\n", 0), 0u)
      << own.err;
  EXPECT_NE(own.err.find(": the output file o/r" + shown + ".lnk is an input of the run"),
            std::string::npos)
      << own.err;

  // The status line on a terminal: its own codes only.
  const outcome shown_on_terminal = run_on_terminal(VESK_BINARY, tree, {"-enumdir", "h"});
  if (shown_on_terminal.status != -1) {
    std::string err = shown_on_terminal.err;
    for (size_t at; (at = err.find("\x1B[2K")) != std::string::npos;) err.erase(at, 4);
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    EXPECT_TRUE(plain_lines(err + "\n")) << err;
    EXPECT_NE(err.find("analyzing: n[0x1b][2J.lnk"), std::string::npos) << err;
  }
}

// Options the tool does nothing with are said once and change nothing; the
// usage text explains every option that does something, and what the quoted
// CSV form keeps.
TEST(VeskCli, OptionsSayWhatTheyDo) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  lnk_spec spec;
  spec.strings[lnk_name] = u"left, right";
  const auto link = write_lnk(spec);
  tree.file("comma.lnk", std::string(link.begin(), link.end()));
  const std::string csv = after_header(vesk(tree, {"-quiet", "-csv", "comma.lnk"}).out);
  EXPECT_NE(csv.find(",[Description]: left  right,"), std::string::npos) << csv;
  EXPECT_NE(masked_access_columns(csv).find(",-,-,"), std::string::npos) << csv;
  const std::string quoted_csv =
      after_header(vesk(tree, {"-quiet", "-csv", "-enable_quoted_csv_fields", "comma.lnk"}).out);
  EXPECT_NE(quoted_csv.find(",\"[Description]: left, right\","), std::string::npos) << quoted_csv;

  const struct {
    std::vector<std::string> options;
    std::string err;
  } inert[] = {
      {{"-xml"}, "option -xml has no effect in vesk\n"},
      {{"-gzip", "-GZIP", "-zlib"},
       "option -gzip has no effect in vesk\noption -zlib has no effect in vesk\n"},
      {{"-threads", "4", "-l2"},
       "option -threads has no effect in vesk\noption -l2 has no effect in vesk\n"},
      {{"-cmd_start_time", "bad"}, "invalid start time, ignoring\n"},
      {{"-csvgen", "-outdir", "x", "-filter_skip", "*.lnk"},
       "option -csvgen has no effect in vesk\noption -outdir has no effect in vesk\n"
       "option -filter_skip has no effect in vesk\n"},
  };
  for (const auto& r : inert) {
    std::vector<std::string> args = {"-quiet", "-csv"};
    args.insert(args.end(), r.options.begin(), r.options.end());
    args.push_back("comma.lnk");
    const outcome o = vesk(tree, args);
    EXPECT_EQ(o.status, 0) << r.options[0];
    EXPECT_EQ(o.err, r.err);
    EXPECT_EQ(masked_access_columns(after_header(o.out)), masked_access_columns(csv))
        << r.options[0];
  }

  // -translate_appid names the file it looked for.
  std::filesystem::create_directories(tree.path("bin"));
  std::filesystem::copy_file(VESK_BINARY, tree.path("bin/vesk"));
  const outcome missing =
      run_program(tree.path("bin/vesk"), tree, {"-translate_appid", "comma.lnk"});
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.err, "can't read AppID file: " + tree.path("bin") +
                             "/appids.txt (No such file or directory), AppIDs are shown without "
                             "names\n");

  const std::string text = usage();
  const std::string more = text.substr(text.find(" More options\n"));
  for (const char* option :
       {"-out <file>", "-outfile <file>", "-enumdir <folder>", "-num_subdirs <#>",
        "-enable_quoted_csv_fields", "-filter_sig", "-cmd_start_time", "-cmd_stop_time", "-alias ",
        "-aliaspath", "-base16", "-multiline", "-profile", "-diags <file>", "-bom"}) {
    const size_t at = more.find("\n  " + std::string(option));
    ASSERT_NE(at, std::string::npos) << option;
    const std::string line = more.substr(at + 1, more.find('\n', at + 1) - at - 1);
    EXPECT_NE(line.find(" = "), std::string::npos) << line;
    EXPECT_TRUE(line.find("default") != std::string::npos ||
                line.find("the same as") != std::string::npos)
        << line;
  }
  EXPECT_NE(more.find("a comma in a value becomes a blank, unless -csv_separator"),
            std::string::npos);
}

// Status lines and their codes go to a terminal only, and not with -quiet;
// a refused date layout leaves the header's date in its default form too.
TEST(VeskCli, StandardErrorAndDefaults) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string name = "p/x%5f7b5f1e01b83767.automaticDestinations-ms-copy";
  tree.file(name, std::string(list.begin(), list.end()));
  const std::string input = name + "\nmissing\n";
  const std::string missing = "can't open file: missing (No such file or directory)";

  const outcome redirected = vesk(tree, {"-pipe"}, input);
  EXPECT_EQ(redirected.status, 1);
  EXPECT_EQ(slurp(tree.path("stderr.txt")), missing + "\n");
  const outcome shown = run_on_terminal(VESK_BINARY, tree, {"-pipe"}, input);
  if (shown.status != -1) {
    EXPECT_EQ(shown.status, 1);
    // The name without '%', cut at 45 characters, rewritten in place.
    EXPECT_NE(
        shown.err.find("\x1b[2K\r    \ranalyzing: x5f7b5f1e01b83767.automaticDestinations-ms-co\r"),
        std::string::npos)
        << shown.err;
    EXPECT_NE(shown.err.find(missing + "\r\n"), std::string::npos) << shown.err;
    const outcome quiet = run_on_terminal(VESK_BINARY, tree, {"-pipe", "-quiet"}, input);
    EXPECT_EQ(quiet.err, missing + "\r\n");
  }

  const outcome dots = vesk(tree, {"-dateformat", "dd.mm.yyyy", "-csv", "-quiet", name});
  EXPECT_EQ(dots.err, "invalid dd.mm.yyyy, using default format\n");
  const std::string run_line = dots.out.substr(dots.out.find("run time: ") + 10, 11);
  EXPECT_EQ(run_line[2], '/') << run_line;
  EXPECT_EQ(run_line[5], '/') << run_line;
  EXPECT_EQ(run_line[10], ' ') << run_line;
  EXPECT_NE(after_header(dots.out).find(",2024-03-05,"), std::string::npos);
}

// Trees copied from other machines hold names longer than the system takes
// whole: the walk reaches every file, and a listed name is read.
TEST(VeskCli, NamesBeyondThePathLimit) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();
  const std::string bytes(link.begin(), link.end());
  // Built from the bottom up, so that no name handed to the system is long:
  // the chain so far is moved one level down at each step.
  tree.file("c/deepest.lnk", bytes);
  constexpr int levels = 2100;
  for (int i = 0; i < levels; ++i) {
    tree.dir("n");
    ASSERT_EQ(::rename(tree.path("c").c_str(), tree.path("n/d").c_str()), 0);
    ASSERT_EQ(::rename(tree.path("n").c_str(), tree.path("c").c_str()), 0);
  }
  tree.file("c/top.lnk", bytes);
  std::string deepest = "c/";
  for (int i = 0; i < levels; ++i) deepest += "d/";
  deepest += "deepest.lnk";
  ASSERT_GT(tree.path(deepest).size(), 4096u);

  const outcome walked = vesk(tree, {"-quiet", "-enumdir", "c", "-num_subdirs", "3000"});
  EXPECT_EQ(walked.status, 0) << walked.err.substr(0, 300);
  EXPECT_EQ(walked.err, "");
  const std::string out = walked.out;
  EXPECT_NE(out.find("source path/filename:     c/top.lnk\n"), std::string::npos);
  EXPECT_NE(out.find("source path/filename:     " + deepest + "\n"), std::string::npos);

  const outcome listed = vesk(tree, {"-quiet", "-pipe"}, tree.path(deepest) + "\n");
  EXPECT_EQ(listed.status, 0) << listed.err.substr(0, 300);
  EXPECT_NE(listed.out.find("source path/filename:     " + tree.path(deepest) + "\n"),
            std::string::npos);

  // Taken apart the same way, level by level, for the tree's own removal.
  for (int i = 0; i < levels; ++i) {
    ASSERT_EQ(::rename(tree.path("c/d").c_str(), tree.path("n").c_str()), 0);
    std::filesystem::remove_all(tree.path("c"));
    ASSERT_EQ(::rename(tree.path("n").c_str(), tree.path("c").c_str()), 0);
  }
}

// Mistakes on the command line are named: an option without its value, a
// depth that is no number; a repeated option is taken once (the last value
// wins, said when the values differ); report forms given together say which
// one is written; a log or report that cannot be made says why.
TEST(VeskCli, OptionMistakesAreNamed) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string name = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(list.begin(), list.end()));
  const std::string depth = " (a number of folder levels, 0 or more), aborting\n";
  const std::string forms = " name different report forms: writing ";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
    std::string report_starts;  // the first line after the header
  } rows[] = {
      {{name, "-out"}, 255, "option -out needs a value\n", ""},
      {{name, "-dateformat"}, 255, "option -dateformat needs a value\n", ""},
      {{name, "-csv_separator"}, 255, "option -csv_separator needs a value\n", ""},
      {{name, "-diags"}, 255, "option -diags needs a value\n", ""},
      {{name, "-enumdir"}, 255, "option -enumdir needs a value\n", ""},
      {{name, "-username"}, 255, "option -username needs a value\n", ""},
      {{"-appid"}, 255, "option -appid needs a value\n", ""},
      {{"-csv", "-csv", name}, 0, "", "source path/filename,source type,"},
      {{"-quiet", "-QUIET", name}, 0, "", "source path/filename:     " + name},
      {{"-username", "u", "-username", "u", name}, 0, "", "source path/filename:     " + name},
      {{"-out", "a.txt", "-outfile", "b.txt", name},
       0,
       "option -out given more than once: using b.txt\n",
       ""},
      {{"-enumdir", "d", "-num_subdirs", "abc"},
       255,
       "invalid -num_subdirs value: abc" + depth,
       ""},
      {{"-enumdir", "d", "-num_subdirs", "-1"}, 255, "invalid -num_subdirs value: -1" + depth, ""},
      {{"-csv", "-csvl2t", name},
       0,
       "options -csv and -csvl2t" + forms + "-csvl2t\n",
       "date,time,"},
      {{"-bodyfile", "-csv", name},
       0,
       "options -csv and -bodyfile" + forms + "-bodyfile\n",
       "md5|name|"},
      {{"-csv", "-multiline", "-csvl2t", name},
       0,
       "options -csv, -csvl2t and -multiline" + forms + "-multiline\n",
       "source path/filename:     "},
      {{"-diags", "no/such/log", name},
       0,
       "can't write diagnostics log: no/such/log (No such file or directory)\n",
       "source path/filename:     "},
      {{"-diags", "", name},
       255,
       "can't write diagnostics log:  (No such file or directory), aborting\n",
       ""},
      {{"-out", "no/such/r.txt", name},
       255,
       "prob opening file no/such/r.txt for output (No such file or directory), aborting\n",
       ""},
  };
  for (const auto& r : rows) {
    const outcome o = vesk(tree, r.args);
    EXPECT_EQ(o.status, r.status) << r.args[1];
    EXPECT_EQ(o.err, r.err) << r.args[1];
    EXPECT_EQ(after_header(o.out).rfind(r.report_starts, 0), 0u) << r.args[1] << o.out;
  }
  EXPECT_FALSE(std::filesystem::exists(tree.path("a.txt")));
  EXPECT_EQ(values(slurp(tree.path("b.txt")), "MRU/MFU index:").size(), 3u);
}

// A list run that reads nothing says what it saw and what became of it:
// files of other kinds, lists in folders deeper than the depth, names the
// filters, the signature or the time window left out, an empty list.
TEST(VeskCli, RunsThatReadNothingSayWhy) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string bytes(list.begin(), list.end());
  tree.file("other/a.txt", "text");
  tree.file("other/b.bin", std::string(100, 'j'));
  tree.file("samples/README.md", "read me");
  tree.file("samples/x/5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  tree.file("samples/y/z/5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  tree.file("l/5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  const auto link = fixture_link();
  // No DestList, and no stream named by a number: no jump list.
  const auto nodl = cfb_writer().stream(u"x", link).build();
  tree.file("n/nodl.bin", std::string(nodl.begin(), nodl.end()));
  const std::string l_list = "l/5f7b5f1e01b83767.automaticDestinations-ms\n";
  const std::string one = "nothing read: 1 file in l at depth 0: 1 ";
  const std::string window = "modified outside the -cmd_start_time/-cmd_stop_time window\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string err;
  } rows[] = {
      {{"-enumdir", "other"},
       "",
       "nothing read: 2 files in other at depth 0: 2 no jump list or link file\n"},
      {{"-enumdir", "samples"},
       "",
       "nothing read: 1 file in samples at depth 0: 1 no jump list or link file; 2 folders "
       "deeper than depth 0 not read (-num_subdirs sets the depth)\n"},
      {{"-enumdir", "n", "-num_subdirs", "3"},
       "",
       "nothing read: 1 file in n down to depth 3: 1 compound file without a DestList stream\n"},
      {{"-enumdir", "l", "-filter", "*.lnk"}, "", one + "not selected by -filter\n"},
      {{"-enumdir", "l", "-filter_sig", "ff ff|0"}, "", one + "not selected by -filter_sig\n"},
      {{"-enumdir", "l", "-cmd_start_time", "2999/01/01"}, "", one + window},
      {{"-pipe"}, "", "nothing read: no file names on standard input\n"},
      {{"-pipe"}, "\n\n", "nothing read: no file names on standard input\n"},
      {{"-pipe", "-filter", "*.lnk|*.txt"},
       l_list + "other/a.txt\n",
       "nothing read: 2 names on standard input: 1 not selected by -filter, 1 no jump list or "
       "link file\n"},
      {{"-pipe", "-cmd_stop_time", "2000/01/01"},
       l_list,
       "nothing read: 1 name on standard input: 1 " + window},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = r.args;
    args.insert(args.begin(), "-quiet");
    const outcome o = vesk(tree, args, r.input);
    EXPECT_EQ(o.status, 255) << r.args[1];
    EXPECT_EQ(o.err, r.err) << r.args[1];
  }
}

// Links to folders (how ntfs-3g shows junctions such as "Recent") are walked
// as folders, each real folder once: a junction into the tree and a loop add
// nothing, a link out of it adds its lists; the status says every file was
// read.
TEST(VeskCli, LinksToFoldersAreWalkedOnce) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  const std::string bytes(list.begin(), list.end());
  tree.file("p/AppData/Recent/5f7b5f1e01b83767.automaticDestinations-ms", bytes);
  tree.file("elsewhere/1111111111111111.automaticDestinations-ms", bytes);
  tree.symlink(tree.path("p/AppData/Recent"), "p/Recent");
  tree.symlink(tree.path("p/AppData"), "p/AppData/Application Data");
  tree.symlink(tree.path("elsewhere"), "p/Other");
  const outcome o = vesk(tree, {"-quiet", "-enumdir", "p", "-num_subdirs", "9"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  std::vector<std::string> read = values(o.out, "source path/filename:");
  std::sort(read.begin(), read.end());
  read.erase(std::unique(read.begin(), read.end()), read.end());
  EXPECT_EQ(read,
            (std::vector<std::string>{"p/AppData/Recent/5f7b5f1e01b83767.automaticDestinations-ms",
                                      "p/Other/1111111111111111.automaticDestinations-ms"}));
  EXPECT_EQ(values(o.out, "MRU/MFU index:").size(), 6u);
}

// What the README tells a newcomer holds: the CSV forms begin with four lines
// before their heading (the numbers its commands use), the paired form has no
// cell starting with a blank, sqlite3 takes the file as the README says, and
// the fuzz targets are counted and named right.
TEST(VeskCli, ReadmeNumbersHold) {
  const std::string source = std::string(VESK_EXAMPLES_DIR) + "/..";
  const std::string readme = slurp(source + "/README.md");
  for (const char* said :
       {"tail -n +5", "skiprows=4", "--skip 4", "-no_whitespace", "VESK_SAMPLES_DIR"})
    EXPECT_NE(readme.find(said), std::string::npos) << said;
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string example = std::string(VESK_EXAMPLES_DIR) + "/" + k_example_jumplist_name;
  for (const std::vector<std::string>& form : {std::vector<std::string>{"-csv"},
                                               {"-csv", "-no_whitespace", "-pair_datetime"},
                                               {"-csvl2t"},
                                               {"-bodyfile"},
                                               {"-csv", "-bom"}}) {
    std::vector<std::string> args = form;
    args.insert(args.end(), {"-quiet", "-out", "r.csv", example});
    ASSERT_EQ(vesk(tree, args).status, 0) << form.back();
    const std::string text = slurp(tree.path("r.csv"));
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find('\n', at);
      lines.push_back(text.substr(at, end - at));
      at = end == std::string::npos ? text.size() : end + 1;
    }
    ASSERT_GE(lines.size(), 8u) << form[0];  // header, empty line, heading, rows
    EXPECT_EQ(lines[3], "");
    EXPECT_NE(lines[4].find(form[0] == "-bodyfile" ? "md5|name|" : ","), std::string::npos);
    for (size_t i = 4; form.size() == 3 && i < lines.size(); ++i)
      EXPECT_EQ(lines[i].find(", "), std::string::npos) << lines[i];
  }
  if (have_command("sqlite3")) {
    vesk(tree, {"-csv", "-no_whitespace", "-pair_datetime", "-quiet", "-out", "r.csv", example});
    const std::string cmd = program_command(
        "sqlite3", tree,
        {"l.db", ".import --csv --skip 4 r.csv lists", "select count(*), min(appid) from lists"},
        ">sql.txt 2>&1");
    EXPECT_EQ(exit_status(std::system(cmd.c_str())), 0);
    EXPECT_EQ(slurp(tree.path("sql.txt")), "3|5f7b5f1e01b83767\n");
  }

  const std::string fuzz = slurp(source + "/fuzz/CMakeLists.txt");
  std::vector<std::string> targets;
  for (const auto& e : std::filesystem::directory_iterator(source + "/fuzz/targets"))
    targets.push_back(e.path().stem().string());
  const char* words[] = {"",         "",         "",         "",        "",        "",
                         "",         "",         "",         "",        "ten",     "eleven",
                         "twelve",   "thirteen", "fourteen", "fifteen", "sixteen", "seventeen",
                         "eighteen", "nineteen", "twenty"};
  ASSERT_LT(targets.size(), std::size(words));
  const size_t section = readme.find("## Fuzzing");
  ASSERT_NE(section, std::string::npos);
  const std::string fuzzing = readme.substr(section);
  EXPECT_NE(fuzzing.find(std::string(words[targets.size()]) + " in all"), std::string::npos);
  EXPECT_NE(fuzzing.find(std::string("runs the ") + words[targets.size()] + " targets"),
            std::string::npos);
  for (const std::string& t : targets) {
    EXPECT_NE(fuzz.find(t), std::string::npos) << t;
    EXPECT_NE(fuzzing.find("`" + t + "`"), std::string::npos) << t;
  }
}

}  // namespace

#endif
