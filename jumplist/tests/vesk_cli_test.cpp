// The built program from the outside: usage, run header, refused inputs,
// the AppID modes and a written automatic jump list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

#include "report_fixture.h"
#include "temp_tree.h"

#ifdef VESK_BINARY

namespace {

using namespace vesk_test;

struct outcome {
  int status;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Standard error without the status line's erase sequences.
std::string without_status(std::string err) {
  for (size_t at = err.find("\x1B[2K\r"); at != std::string::npos; at = err.find("\x1B[2K\r")) {
    const size_t end = err.find('\r', at + 5);
    err.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  return err;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the program with the arguments (each quoted) and the given stdin text.
outcome vesk(const temp_tree& tree, const std::vector<std::string>& args,
             const std::string& input = "") {
  tree.file("stdin.txt", input);
  std::string cmd = "cd " + quoted(tree.root()) + " && " + quoted(VESK_BINARY);
  for (const auto& a : args) cmd += " " + quoted(a);
  cmd += " <stdin.txt >stdout.txt 2>stderr.txt";
  const int raw = std::system(cmd.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(tree.path("stdout.txt")),
          without_status(slurp(tree.path("stderr.txt")))};
}

std::string usage() {
  temp_tree tree;
  return vesk(tree, {}).err;
}

// The header's three lines and its empty line.
std::string after_header(const std::string& out) {
  size_t at = 0;
  for (int i = 0; i < 4 && at != std::string::npos; ++i) at = out.find('\n', at) + 1;
  return at == std::string::npos ? std::string() : out.substr(at);
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
  const outcome csv = vesk(tree, {"-csv"});
  EXPECT_EQ(csv.status, 255);
  EXPECT_EQ(csv.err, text);
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
  EXPECT_EQ(missing.err, "can't read specified file: /no/such, aborting\n");

  const outcome appid = vesk(tree, {"-appid", "D:\\tools\\a.exe", "-out", "r.txt"});
  EXPECT_EQ(appid.status, 0);
  EXPECT_EQ(appid.out, "hash: e20c5311135f2dc5 : D:\\TOOLS\\A.EXE\n");
  EXPECT_EQ(slurp(tree.path("r.txt")).rfind("vesk ver: 0.64\n", 0), 0u);

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
  EXPECT_EQ(bad.err, "no AppID text for path: C:\\\xFF.exe\n");
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
  EXPECT_NE(list_run.err.find("analyzing: 5f7b5f1e01b83767.automaticDestinations-ms"),
            std::string::npos);
  EXPECT_EQ(vesk(tree, {"-pipe", "-quiet"}, "junk.bin\n").status, 255);
  EXPECT_EQ(vesk(tree, {"-pipe", "-quiet"}, "junk.bin\n").err, "");
}

}  // namespace

#endif
