// The files the built program writes ("-out", "-diags") from the outside:
// never an input, never a cut or empty report over an earlier one, pipes
// and devices written as they are, a report in a folder the user may not
// write, and nothing left behind when the run is ended by a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "report_fixture.h"
#include "temp_tree.h"
#include "vesk_run.h"

#ifdef VESK_BINARY

extern char** environ;

namespace {

using namespace vesk_test;

const std::string k_list = "5f7b5f1e01b83767.automaticDestinations-ms";

outcome vesk(const temp_tree& tree, const std::vector<std::string>& args,
             const std::string& input = "") {
  return run_program(VESK_BINARY, tree, args, input);
}

std::string list_bytes() {
  const auto list = fixture_jumplist();
  return {list.begin(), list.end()};
}

bool is_report(const std::string& text) {
  return text.rfind("vesk ver: 0.64\n", 0) == 0 && text.find("MRU/MFU index:") != text.npos;
}

bool is_log(const std::string& text) {
  return text.rfind("->", 0) == 0 && text.find(" secs") != text.npos;
}

// The unfinished files of the program's runs left in a folder.
size_t temps_in(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename().string().rfind(".vesk-report-", 0) == 0) ++n;
  return n;
}

bool running_as_root() {
  return ::geteuid() == 0;
}

}  // namespace

// "-diags" follows the rule "-out" follows: a log named after an input, by
// any name, is refused before anything is read or is left beside a listed
// input; in a run refused for "-out" it writes nothing either.
TEST(OutputFiles, DiagsLogNeverReplacesAnInput) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string bytes = list_bytes();
  const std::string name = "d/" + k_list;
  tree.file(name, bytes);
  tree.file("w/" + k_list, bytes);
  tree.file("w/x.lnk", bytes);
  tree.symlink(tree.path(name), "soft.ms");
  ASSERT_EQ(::link(tree.path(name).c_str(), tree.path("hard.ms").c_str()), 0);
  for (const char* log : {name.c_str(), "soft.ms", "hard.ms"}) {
    for (const bool out_too : {false, true}) {
      std::vector<std::string> args = {name, "-diags", log};
      if (out_too) args.insert(args.end(), {"-out", log});
      const outcome o = vesk(tree, args);
      EXPECT_EQ(o.status, 255) << log;
      EXPECT_EQ(o.err, "output file is the input file: " + std::string(log) + "\n");
      EXPECT_EQ(slurp(tree.path(name)), bytes) << log;
    }
  }
  const outcome both = vesk(tree, {name, "-out", "hard.ms", "-diags", "new.log"});
  EXPECT_EQ(both.status, 255);
  EXPECT_FALSE(std::filesystem::exists(tree.path("new.log")));
  // The report and the log in one file: one would be lost.
  for (const char* second : {"new.txt", "./new.txt"}) {
    const outcome same = vesk(tree, {name, "-out", "new.txt", "-diags", second});
    EXPECT_EQ(same.status, 255);
    EXPECT_EQ(same.err, "-out and -diags name the same file: new.txt\n");
    EXPECT_FALSE(std::filesystem::exists(tree.path("new.txt")));
  }

  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string target;
  } listed[] = {
      {{"-enumdir", "w", "-diags", "w/x.lnk"}, "", "w/x.lnk"},
      {{"-pipe", "-diags", "w/x.lnk"}, "w/x.lnk\nw/" + k_list + "\n", "w/x.lnk"},
      {{"-pipe", "-diags", "soft.ms", "-out", "w/x.lnk"},
       name + "\nw/x.lnk\nw/" + k_list + "\n",
       name},
  };
  for (const auto& r : listed) {
    std::vector<std::string> args = r.args;
    args.insert(args.begin(), "-quiet");
    const outcome o = vesk(tree, args, r.input);
    EXPECT_EQ(o.status, 1) << r.target << o.err;
    EXPECT_EQ(slurp(tree.path(r.target)), bytes) << r.target;
    EXPECT_EQ(o.err.rfind("output file is the input file: " + r.target + ", skipped\n", 0), 0u)
        << o.err;
    for (const std::string said : {"diagnostics log written to ", "report written to "}) {
      const size_t at = o.err.find(said), end = o.err.find(": the output file ", at);
      if (said[0] == 'r' && at == std::string::npos) continue;
      ASSERT_NE(end, std::string::npos) << o.err;
      std::string beside = o.err.substr(at + said.size(), end - at - said.size());
      if (beside[0] != '/') beside = tree.path(beside);
      EXPECT_TRUE(said[0] == 'r' ? is_report(slurp(beside)) : is_log(slurp(beside))) << beside;
      std::filesystem::remove(beside);
    }
    for (const char* folder : {"w", "d", "."}) EXPECT_EQ(temps_in(tree.path(folder)), 0u);
  }
  // A log that is no input replaces an earlier one, through a link too.
  tree.file("earlier.log", "earlier");
  tree.symlink(tree.path("earlier.log"), "link.log");
  const outcome o = vesk(tree, {"-quiet", name, "-diags", "link.log"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(is_log(slurp(tree.path("earlier.log"))));
  EXPECT_TRUE(std::filesystem::is_symlink(tree.path("link.log")));
}

// Only a whole report replaces an earlier one: on a full disk the earlier
// report stays, nothing is left beside it, and the system's reason is said.
// Needs a small file system of its own (root, and mount allowed).
TEST(OutputFiles, AFullDiskKeepsTheEarlierReport) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file(k_list, list_bytes());
  tree.dir("full");
  if (!running_as_root() ||
      ::mount("tmpfs", tree.path("full").c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "no small file system to fill (needs root and mount)";
  tree.file("full/r.txt", "earlier report");
  tree.file("full/d.log", "earlier log");
  tree.file("full/fill", std::string(40000, 'f'));
  std::string names;
  for (int i = 0; i < 30; ++i) names += k_list + "\n";
  const outcome o = vesk(tree, {"-quiet", "-pipe", "-out", "full/r.txt"}, names);
  EXPECT_EQ(o.status, 255);
  EXPECT_EQ(o.err,
            "prob writing results to full/r.txt (No space left on device): full/r.txt was left as "
            "it was\n");
  EXPECT_EQ(slurp(tree.path("full/r.txt")), "earlier report");
  // The log is small: it finds room once the report's space is given back.
  tree.file("full/fill2", std::string(20000, 'f'));
  const outcome log = vesk(tree, {"-quiet", "-pipe", "-diags", "full/d.log"}, names);
  EXPECT_EQ(log.status, 0);
  EXPECT_EQ(log.err,
            "can't write diagnostics log: full/d.log (No space left on device): full/d.log was "
            "left as it was\n");
  EXPECT_EQ(slurp(tree.path("full/d.log")), "earlier log");
  EXPECT_EQ(temps_in(tree.path("full")), 0u);
  ::umount(tree.path("full").c_str());
}

// A run that reads nothing (status 255) leaves an earlier report and log as
// they were, and no file beside them.
TEST(OutputFiles, ARunThatReadsNothingKeepsTheEarlierFiles) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("no-link.txt", "plain text");
  tree.dir("empty");
  const std::vector<std::vector<std::string>> runs = {
      {"mistyped.ms"}, {"-enumdir", "empty"}, {"no-link.txt"}, {"-pipe"}};
  for (const auto& run : runs) {
    tree.file("r.txt", "earlier report");
    tree.file("d.log", "earlier log");
    std::vector<std::string> args = run;
    args.insert(args.end(), {"-quiet", "-out", "r.txt", "-diags", "d.log"});
    const outcome o = vesk(tree, args, "no-link.txt\n");
    EXPECT_EQ(o.status, 255) << run[0];
    EXPECT_NE(o.err, "") << run[0];
    EXPECT_EQ(slurp(tree.path("r.txt")), "earlier report") << run[0];
    EXPECT_EQ(slurp(tree.path("d.log")), "earlier log") << run[0];
    EXPECT_EQ(temps_in(tree.root()), 0u) << run[0];
  }
  // No earlier file: none is made.
  const outcome o = vesk(tree, {"mistyped.ms", "-out", "new.txt", "-diags", "new.log"});
  EXPECT_EQ(o.status, 255);
  EXPECT_FALSE(std::filesystem::exists(tree.path("new.txt")));
  EXPECT_FALSE(std::filesystem::exists(tree.path("new.log")));
}

// A target that is no regular file gets the report as it is written.
TEST(OutputFiles, PipesAndDevicesAreWrittenDirectly) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file(k_list, list_bytes());
  ASSERT_EQ(::mkfifo(tree.path("fifo").c_str(), 0600), 0);
  const std::string cd = "cd " + quoted(tree.root()) + " && ";
  const std::string run = quoted(VESK_BINARY) + " -quiet " + k_list;
  const struct {
    const char* name;
    std::string command;
  } rows[] = {
      {"fifo", cd + "(cat fifo >got.txt &) && " + run + " -out fifo -diags fifo2 2>err.txt"},
      {"/dev/stdout on a pipe", cd + run + " -out /dev/stdout 2>err.txt | cat >got.txt"},
      {"process substitution",
       cd + "bash -c " + quoted(run + " -out >(cat >got.txt) 2>err.txt; wait $!")},
      {"/dev/null", cd + run + " -out /dev/null -diags /dev/null 2>err.txt && echo x >got.txt"},
  };
  for (const auto& r : rows) {
    if (r.command.find("bash -c") != std::string::npos && !have_command("bash")) continue;
    std::filesystem::remove(tree.path("got.txt"));
    EXPECT_EQ(exit_status(std::system(r.command.c_str())), 0) << r.name;
    // The reader of a pipe may still be writing when the program ends.
    for (int i = 0;
         i < 200 && slurp(tree.path("got.txt")).find("MRU/MFU index:") == std::string::npos &&
         std::string(r.name) != "/dev/null";
         ++i)
      ::usleep(10000);
    EXPECT_EQ(slurp(tree.path("err.txt")), "") << r.name;
    if (std::string(r.name) != "/dev/null") {
      EXPECT_TRUE(is_report(slurp(tree.path("got.txt")))) << r.name;
    }
  }
  EXPECT_EQ(temps_in(tree.root()), 0u);
}

// The run's own standard streams named as outputs: written through the
// descriptor the shell opened (appending where it appends), so that what a
// file held and the messages both stay; the file of names on standard input
// is an input, never an output.
TEST(OutputFiles, TheRunsOwnStreamsNamedAsOutputs) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string list = list_bytes();
  tree.file(k_list, list);
  tree.file("cut.ms", list.substr(0, 3000));
  const std::string cd = "cd " + quoted(tree.root()) + " && ";
  const std::string vesk = quoted(VESK_BINARY) + " -quiet ";
  // The command run with f.txt made a named pipe holding the list, as its
  // standard input; f.txt then holds what the pipe still held.
  auto on_the_pipe = [](const std::string& command) {
    return "rm f.txt && mkfifo f.txt && exec 3<>f.txt && printf '%s\\n' " + k_list + " >&3 && " +
           command +
           " <f.txt 2>err.txt; s=$?; echo END >&3; rm f.txt; while read -r l <&3 && [ \"$l\" != "
           "END ]; do echo \"$l\"; done >f.txt; exit $s";
  };
  const struct {
    const char* name;
    std::string command;
    int status;
    const char* file;  // what the case looks at
    bool earlier;      // it begins with what it held before
    bool report;       // it holds the report
    bool messages;     // it holds the messages of the cut file
    bool log;          // it holds the log
  } rows[] = {
      {"-out /dev/stdout >>", vesk + k_list + " -out /dev/stdout >>f.txt", 0, "f.txt", true, true,
       false, false},
      {"-out /dev/fd/1 >>", vesk + k_list + " -out /dev/fd/1 >>f.txt", 0, "f.txt", true, true,
       false, false},
      {"-out /proc/self/fd/1 >>", vesk + k_list + " -out /proc/self/fd/1 >>f.txt", 0, "f.txt", true,
       true, false, false},
      {"-diags /dev/stderr 2>", vesk + "cut.ms -diags /dev/stderr 2>f.txt", 2, "f.txt", false,
       false, true, true},
      {"-out /dev/stdout 2>&1", vesk + "cut.ms -out /dev/stdout >f.txt 2>&1", 2, "f.txt", false,
       true, true, false},
      {"-pipe -out, the list", vesk + "-pipe -out f.txt <f.txt 2>err.txt", 255, "f.txt", true,
       false, false, false},
      {"-pipe -diags, the list", vesk + "-pipe -diags f.txt <f.txt 2>err.txt", 255, "f.txt", true,
       false, false, false},
      // The list on a named pipe, held open: what is left in it after the run.
      {"-pipe -out, the list's pipe", on_the_pipe(vesk + "-pipe -out f.txt"), 255, "f.txt", true,
       false, false, false},
      {"-pipe -diags, the list's pipe", on_the_pipe(vesk + "-pipe -diags f.txt"), 255, "f.txt",
       true, false, false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string earlier = k_list + "\n";
    tree.file("f.txt", earlier);
    EXPECT_EQ(exit_status(std::system((cd + r.command).c_str())), r.status);
    const std::string got = slurp(tree.path(r.file));
    EXPECT_EQ(got.rfind(earlier, 0) == 0, r.earlier) << got;
    EXPECT_EQ(got.find("MRU/MFU index:") != std::string::npos, r.report);
    EXPECT_EQ(got.find("not read in full: cut.ms") != std::string::npos, r.messages) << got;
    EXPECT_EQ(got.find("->") != std::string::npos, r.log);
    if (r.status == 255) {
      EXPECT_EQ(slurp(tree.path("err.txt")), "output file is the input file: f.txt\n");
    }
  }
  EXPECT_EQ(temps_in(tree.root()), 0u);
}

// A stream of the run that is an input is never written: in a list run the
// report or log bound for it is held in the temporary folder until every
// input is met, the input that is its file skipped and said, and the held
// report named; plain standard output is looked at the same way, and a run
// whose standard error is its one input or list of names is refused without
// a word there. A name for
// a standard stream closed at the start is refused, "-out" and "-diags" are
// compared by the file they reach, and a stream is known by what its name
// reaches, however it is spelt.
TEST(OutputFiles, AStreamOfTheRunThatIsAnInputIsNeverWritten) {
  temp_tree tree, tmp;
  ASSERT_TRUE(tree.ok() && tmp.ok());
  const std::string list = list_bytes();
  tree.file("w/ev.ms", list);
  tree.file("w/other.ms", list);
  tree.file("solo/ev.ms", list);
  tree.file("a.ms", list);
  tree.file("cut.ms", list.substr(0, 3000));
  tree.file("names.txt", "cut.ms\n");
  tree.symlink("/dev/stdout", "to-stdout");
  const std::string cd =
      "cd " + quoted(tree.root()) + " && export TMPDIR=" + quoted(tmp.root()) + " && ";
  const std::string vesk = quoted(VESK_BINARY) + " -quiet ";
  const std::string names = "printf 'w/other.ms\\nw/ev.ms\\n' | ";
  const std::string skipped = "output file is the input file: w/ev.ms, skipped\n";
  const std::string kept = " is an input of the run and was left as it was\n";
  const std::string stdout_is = "standard output is the input file: ";
  const std::string wrote = ": the output file ";
  const std::string closed = "for output (Bad file descriptor), aborting\n";
  const std::string same = "-out and -diags name the same file: ";
  const struct {
    const char* name;
    std::string command;
    int status;
    std::string err;         // standard error, up to "T" (the held file's name) when it holds one
    const char* file;        // the file that must be as it was, or hold the report ("r.txt")
    std::string after = "";  // what then follows T, "" none
  } rows[] = {
      {"-enumdir -out /dev/stdout 1<>", vesk + "-enumdir w -csv -out /dev/stdout 1<>w/ev.ms", 1,
       skipped + "report written to ", "w/ev.ms", wrote + "/dev/stdout" + kept},
      {"-pipe -out /dev/fd/1 1<>", names + vesk + "-pipe -csv -out /dev/fd/1 1<>w/ev.ms", 1,
       skipped + "report written to ", "w/ev.ms", wrote + "/dev/fd/1" + kept},
      {"-pipe -out /dev/fd/1 >>", names + vesk + "-pipe -out /dev/fd/1 >>w/ev.ms", 1,
       skipped + "report written to ", "w/ev.ms", wrote + "/dev/fd/1" + kept},
      {"-pipe -out /dev/fd/3 3>>", names + vesk + "-pipe -out /dev/fd/3 3>>w/ev.ms >/dev/null", 1,
       skipped + "report written to ", "w/ev.ms", wrote + "/dev/fd/3" + kept},
      {"-pipe -diags /dev/fd/3 3<>", names + vesk + "-pipe -diags /dev/fd/3 3<>w/ev.ms >/dev/null",
       1, skipped + "diagnostics log written to ", "w/ev.ms", wrote + "/dev/fd/3" + kept},
      {"-enumdir >>", vesk + "-enumdir w >>w/ev.ms", 1, skipped + "report written to ", "w/ev.ms",
       ": standard output" + kept},
      {"the only input, -out /dev/stdout 1<>",
       vesk + "-enumdir solo -out /dev/stdout 1<>solo/ev.ms", 255,
       "output file is the input file: solo/ev.ms, skipped\nnothing read: 1 file in solo at depth "
       "0: 1 the output file\n",
       "solo/ev.ms"},
      {"one file >>", vesk + "w/ev.ms >>w/ev.ms", 255, stdout_is + "w/ev.ms\n", "w/ev.ms"},
      {"one file 1<>", vesk + "w/ev.ms 1<>w/ev.ms", 255, stdout_is + "w/ev.ms\n", "w/ev.ms"},
      // Standard error that is an input: refused, nothing said there, and
      // the cause said on standard output (brought to the test's stderr).
      {"one file 2>>", "{ { " + vesk + "cut.ms 2>>cut.ms; } >&2; }", 255,
       "standard error is the input file: cut.ms\n", "cut.ms"},
      {"the names 2>>", "{ { " + vesk + "-pipe <names.txt 2>>names.txt; } >&2; }", 255,
       "standard error is the list of names on standard input\n", "names.txt"},
      // ... before an option or an argument is refused there, or usage written.
      {"a refused option 2>>", "{ { " + vesk + "cut.ms -bogus 2>>cut.ms; } >&2; }", 255,
       "standard error is the input file: cut.ms\n", "cut.ms"},
      {"an argument too many 2>>", "{ { " + vesk + "cut.ms extra 2>>cut.ms; } >&2; }", 255,
       "standard error is the input file: cut.ms\n", "cut.ms"},
      {"-h 2>>", "{ { " + vesk + "cut.ms -h 2>>cut.ms; } >&2; }", 255,
       "standard error is the input file: cut.ms\n", "cut.ms"},
      {"the names, a refused option 2>>",
       "{ { " + vesk + "-pipe -bogus <names.txt 2>>names.txt; } >&2; }", 255,
       "standard error is the list of names on standard input\n", "names.txt"},
      {"one file >> 2>&1", "{ " + vesk + "cut.ms -out cut.ms >>cut.ms 2>&1; }", 255, "", "cut.ms"},
      {"-pipe -out /dev/stdout >> no input", names + vesk + "-pipe -out /dev/stdout >>r.txt", 0, "",
       "r.txt"},
      {"-enumdir >> no input", vesk + "-enumdir w >>r.txt", 0, "", "r.txt"},
      // Refused options: the header goes nowhere an input is.
      {"a refused option >>", vesk + "w/ev.ms -bogus >>w/ev.ms", 255, "unknown option: -bogus\n",
       "w/ev.ms"},
      {"an argument too many 1<>", vesk + "w/ev.ms extra 1<>w/ev.ms", 255,
       "unexpected argument: extra (to read several files, give their names on standard input "
       "with -pipe, or a folder with -enumdir)\n",
       "w/ev.ms"},
      {"a refused option >> no input", vesk + "w/ev.ms -bogus >>r.txt", 255,
       "unknown option: -bogus\n", "r.txt"},
      // Closed when the run began: refused before anything is read.
      {"-out /dev/stdout >&-", vesk + "a.ms -out /dev/stdout >&-", 255,
       "prob opening file /dev/stdout " + closed, "a.ms"},
      {"-out /proc/self/fd/1 >&-", vesk + "a.ms -out /proc/self/fd/1 >&-", 255,
       "prob opening file /proc/self/fd/1 " + closed, "a.ms"},
      {"-diags /dev/stdout >&-", vesk + "a.ms -out r.txt -diags /dev/stdout >&-", 0,
       "can't write diagnostics log: /dev/stdout (Bad file descriptor)\n", "a.ms"},
      // Two names of one file.
      {"-out f -diags /dev/stdout >>f", vesk + "cut.ms -out r.txt -diags /dev/stdout >>r.txt", 255,
       same + "r.txt\n", "r.txt"},
      {"-out f -diags /proc/self/fd/3 3>>f",
       vesk + "cut.ms -out r.txt -diags /proc/self/fd/3 3>>r.txt", 255, same + "r.txt\n", "r.txt"},
      {"-out /dev/stdout -diags /dev/fd/1 >f",
       vesk + "-csv a.ms -out /dev/stdout -diags /dev/fd/1 >>r.txt", 255, same + "/dev/stdout\n",
       "r.txt"},
      // Other names of standard output (each spelling is the descriptor
      // reader's): written through it, appending.
      {"a link to /dev/stdout", vesk + "a.ms -out to-stdout >>r.txt", 0, "", "r.txt"},
      {"/proc/PID/fd/1",
       "sh -c 'exec \"$0\" -quiet a.ms -out /proc/$$/fd/1' " + quoted(VESK_BINARY) + " >>r.txt", 0,
       "", "r.txt"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string earlier = "earlier line\n";
    tree.file("r.txt", earlier);
    const std::string before = slurp(tree.path(r.file));
    const int status = exit_status(std::system((cd + r.command + " 2>err.txt").c_str()));
    EXPECT_EQ(status, r.status);
    const std::string err = slurp(tree.path("err.txt"));
    const std::string got = slurp(tree.path(r.file));
    if (std::string(r.file) == "r.txt") {
      // An earlier report and its lines stay; the new one follows.
      EXPECT_EQ(got.rfind(earlier, 0), 0u) << got;
      EXPECT_EQ(got.find("MRU/MFU index:") != std::string::npos, r.status == 0) << got;
      EXPECT_EQ(got.find("->"), std::string::npos);
    } else {
      EXPECT_EQ(got, before);
    }
    if (r.after.empty()) {
      EXPECT_EQ(err, r.err);
      continue;
    }
    // The held report, named: whole, in the temporary folder.
    ASSERT_EQ(err.rfind(r.err, 0), 0u) << err;
    const size_t end = err.find(r.after, r.err.size());
    ASSERT_NE(end, std::string::npos) << err;
    EXPECT_EQ(end + r.after.size(), err.size()) << err;
    const std::string held = err.substr(r.err.size(), end - r.err.size());
    EXPECT_EQ(held.rfind(tmp.root() + "/.vesk-report-", 0), 0u) << held;
    const std::string text = slurp(held);
    EXPECT_TRUE(r.err.find("diagnostics") != std::string::npos ? is_log(text)
                                                               : text.rfind("vesk ver: ", 0) == 0)
        << text;
    std::filesystem::remove(held);
  }
  EXPECT_EQ(temps_in(tree.root()) + temps_in(tree.path("w")) + temps_in(tmp.root()), 0u);
}

namespace {

// A loop device over a file, detached at the end; empty name when there is
// none to be had (needs root and losetup).
class loop_device {
 public:
  explicit loop_device(const std::string& file) {
    if (!running_as_root() || !have_command("losetup")) return;
    FILE* p =
        ::popen(("losetup -f --show " + vesk_test::quoted(file) + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) return;
    char buf[256] = {};
    if (std::fgets(buf, sizeof buf, p) != nullptr) m_name = buf;
    if (::pclose(p) != 0) m_name.clear();
    while (!m_name.empty() && m_name.back() == '\n') m_name.pop_back();
  }
  ~loop_device() {
    if (!m_name.empty()) std::system(("losetup -d " + vesk_test::quoted(m_name)).c_str());
  }
  loop_device(const loop_device&) = delete;
  loop_device& operator=(const loop_device&) = delete;
  const std::string& name() const { return m_name; }

 private:
  std::string m_name;
};

// The report without its run-time line, which two runs never share.
std::string without_run_time(const std::string& report) {
  const size_t at = report.find("\nrun time: ");
  if (at == std::string::npos) return report;
  return report.substr(0, at) + report.substr(report.find('\n', at + 1));
}

}  // namespace

// A disk gets the whole report, once whole, the bytes "-out FILE" writes,
// and nothing of one it cannot hold; a loop device over an input, or over the
// file another input device reads, is never written. Needs root and losetup.
TEST(OutputFiles, ADiskGetsTheWholeReportOrNothing) {
  temp_tree tree, tmp;
  ASSERT_TRUE(tree.ok() && tmp.ok());
  const std::string list = list_bytes();
  tree.file("a.ms", list);
  tree.file("disk.img", std::string(1 << 20, '\0'));
  tree.file("small.img", std::string(2048, 's'));
  tree.file("ev.img", list);
  const loop_device disk(tree.path("disk.img")), small(tree.path("small.img")),
      first(tree.path("ev.img")), second(tree.path("ev.img"));
  if (disk.name().empty() || small.name().empty() || first.name().empty() || second.name().empty())
    GTEST_SKIP() << "no loop device to write (needs root and losetup)";
  const std::string cd =
      "cd " + quoted(tree.root()) + " && export TMPDIR=" + quoted(tmp.root()) + " && ";
  const std::string vesk = quoted(VESK_BINARY) + " -quiet ";
  // The report a file gets.
  ASSERT_EQ(exit_status(std::system((cd + vesk + "a.ms -out r.txt").c_str())), 0);
  const std::string report = slurp(tree.path("r.txt"));
  ASSERT_TRUE(is_report(report));
  const auto device_bytes = [](const std::string& device, size_t size) {
    std::string bytes = slurp(device);
    bytes.resize(std::min(bytes.size(), size));
    return bytes;
  };
  for (const char* option : {"-out", "-diags"}) {
    SCOPED_TRACE(option);
    const std::string run = cd + vesk + "a.ms " + option + " " + disk.name() +
                            (option[1] == 'd' ? " -out r2.txt" : "") + " 2>err.txt";
    EXPECT_EQ(exit_status(std::system(run.c_str())), 0);
    EXPECT_EQ(slurp(tree.path("err.txt")), "");
    const std::string got = slurp(disk.name());
    if (option[1] == 'd') {
      EXPECT_EQ(got.rfind("->", 0), 0u) << got.substr(0, 200);
      EXPECT_NE(got.find(" secs"), std::string::npos);
      continue;
    }
    // The bytes -out FILE gets, the command line naming the disk.
    std::string want = report;
    const size_t named = want.find(" -out r.txt");
    ASSERT_NE(named, std::string::npos);
    want.replace(named, 11, " -out " + disk.name());
    EXPECT_EQ(without_run_time(got.substr(0, want.size())), without_run_time(want));
    EXPECT_EQ(got.find_first_not_of('\0', want.size()), std::string::npos);
    // One too small: untouched, the whole report kept and named.
    const std::string small_before = slurp(small.name());
    const std::string big_run = cd + "printf 'a.ms\\na.ms\\na.ms\\n' | " + vesk + "-pipe -out " +
                                small.name() + " 2>err.txt";
    EXPECT_EQ(exit_status(std::system(big_run.c_str())), 255);
    const std::string err = slurp(tree.path("err.txt"));
    EXPECT_EQ(slurp(small.name()), small_before);
    const std::string said = "prob writing results to " + small.name() +
                             " (No space left on device): the whole report is in ";
    ASSERT_EQ(err.rfind(said, 0), 0u) << err;
    const std::string held = err.substr(said.size(), err.size() - said.size() - 1);
    EXPECT_TRUE(is_report(slurp(held)));
    std::filesystem::remove(held);
  }
  // Loop devices over an input: never written, by any road.
  const std::string a = first.name(), b = second.name();
  // A loop device over the input's loop device reads the input too.
  const loop_device stacked(a);
  ASSERT_FALSE(stacked.name().empty());
  const std::string c = stacked.name();
  const std::string one = " are one file through a loop device)\n";
  const auto refused = [](const std::string& output) {
    return "output file is the input file: " + output + " (it and ";
  };
  const auto skipped = [](const std::string& input) {
    return "output file is the input file: " + input + ", skipped (it and the output file ";
  };
  const struct {
    const char* name;
    std::string command;
    int status;
    std::string err;  // its start
  } rows[] = {
      {"the input's device", vesk + "ev.img -out " + a, 255, refused(a) + "ev.img" + one},
      {"two devices over one file", vesk + a + " -out " + b, 255, refused(b) + a + one},
      {"a device listed", "printf '%s\\n' " + a + " | " + vesk + "-pipe -out " + b, 255,
       skipped(a) + b + one + "nothing read: "},
      {"the file listed", "printf 'ev.img\\na.ms\\n' | " + vesk + "-pipe -out " + a, 1,
       skipped("ev.img") + a + one + "report written to " + tmp.root() + "/.vesk-report-"},
      {"the file listed, log", "printf 'ev.img\\na.ms\\n' | " + vesk + "-pipe -diags " + a, 1,
       skipped("ev.img") + a + one + "diagnostics log written to " + tmp.root() + "/.vesk-report-"},
      {"a device over the input's device", vesk + "ev.img -out " + c, 255,
       refused(c) + "ev.img" + one},
      {"a device over the input's device, a descriptor", vesk + "ev.img -out /dev/fd/3 3<>" + c,
       255, refused("/dev/fd/3") + "ev.img" + one},
      {"a device over a device listed", "printf 'ev.img\\na.ms\\n' | " + vesk + "-pipe -out " + c,
       1, skipped("ev.img") + c + one + "report written to " + tmp.root() + "/.vesk-report-"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(exit_status(std::system((cd + r.command + " >/dev/null 2>err.txt").c_str())),
              r.status);
    const std::string err = slurp(tree.path("err.txt"));
    EXPECT_EQ(err.rfind(r.err, 0), 0u) << err;
    EXPECT_EQ(slurp(tree.path("ev.img")), list);
    EXPECT_EQ(device_bytes(a, list.size()), list);
    for (const auto& e : std::filesystem::directory_iterator(tmp.root()))
      std::filesystem::remove(e.path());
  }
}

// A plain user's report in a folder the user may not write: the new report
// is written in the temporary folder and copied into the report once whole.
TEST(OutputFiles, AReportInAFolderTheUserMayNotWrite) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  if (!running_as_root() || !have_command("setpriv"))
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  tree.file(k_list, list_bytes());
  tree.file("shared/r.txt", "earlier report");
  tree.dir("tmp");
  ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(tree.path("shared").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(tree.path("tmp").c_str(), 01777), 0);
  ASSERT_EQ(::chmod(tree.path(k_list).c_str(), 0644), 0);
  ASSERT_EQ(::chown(tree.path("shared/r.txt").c_str(), 65534, 65534), 0);
  const std::string cmd = "cd " + quoted(tree.root()) + " && TMPDIR=" + quoted(tree.path("tmp")) +
                          " setpriv --reuid=65534 --regid=65534 --clear-groups " +
                          quoted(VESK_BINARY) + " -quiet " + k_list +
                          " -out shared/r.txt >out.txt 2>err.txt";
  const int status = exit_status(std::system(cmd.c_str()));
  if (status == 126 || status == 127) GTEST_SKIP() << "setpriv could not run the program";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp(tree.path("err.txt")), "");
  EXPECT_TRUE(is_report(slurp(tree.path("shared/r.txt"))));
  struct stat st;
  ASSERT_EQ(::stat(tree.path("shared/r.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(temps_in(tree.path("shared")) + temps_in(tree.path("tmp")), 0u);
  // A report the user may not write either is refused, naming it.
  ASSERT_EQ(::chown(tree.path("shared/r.txt").c_str(), 0, 0), 0);
  EXPECT_EQ(exit_status(std::system(cmd.c_str())), 255);
  EXPECT_EQ(slurp(tree.path("err.txt")),
            "prob opening file shared/r.txt for output (Permission denied), aborting\n");
}

// Ended by a signal whose default ends a process while it waits for names,
// the program removes its unfinished files and ends by the signal (status
// 128 + N in a shell); the earlier report and log stay.
TEST(OutputFiles, ASignalLeavesNothingBehind) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const int signals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGPIPE,  SIGQUIT,
                         SIGUSR1, SIGALRM, SIGXCPU, SIGRTMIN, SIGRTMAX};
  // SIGQUIT and SIGXCPU would leave a core file.
  struct rlimit core {};
  ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
  const struct rlimit no_core = {0, core.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_CORE, &no_core), 0);
  for (const int sig : signals) {
    tree.file("r.txt", "earlier report");
    tree.file("d.log", "earlier log");
    int names[2];
    ASSERT_EQ(::pipe(names), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, names[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, names[1]);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int s : signals) sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    const std::string out = tree.path("r.txt"), log = tree.path("d.log");
    std::vector<char*> argv;
    std::vector<std::string> args = {VESK_BINARY, "-quiet", "-pipe", "-out", out, "-diags", log};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, VESK_BINARY, &actions, &attr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(names[0]);
    // Both files are made before the first name is read.
    for (int i = 0; i < 3000 && temps_in(tree.root()) < 2; ++i) ::usleep(10000);
    EXPECT_EQ(temps_in(tree.root()), 2u);
    ASSERT_EQ(::kill(child, sig), 0);
    int raw = 0;
    ASSERT_EQ(::waitpid(child, &raw, 0), child);
    ::close(names[1]);
    EXPECT_TRUE(WIFSIGNALED(raw)) << sig;
    if (WIFSIGNALED(raw)) {
      EXPECT_EQ(WTERMSIG(raw), sig);
    }
    EXPECT_EQ(temps_in(tree.root()), 0u) << sig;
    EXPECT_EQ(slurp(out), "earlier report");
    EXPECT_EQ(slurp(log), "earlier log");
  }
  ::setrlimit(RLIMIT_CORE, &core);
}

#endif
