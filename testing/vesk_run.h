// Test-only: runs the built program in a temporary tree with given
// arguments and standard input, and reads back its status and output.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "temp_tree.h"

namespace vesk_test {

struct outcome {
  int status;
  std::string out;
  std::string err;
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Standard error without the status line's erase sequences.
inline std::string without_status(std::string err) {
  for (size_t at = err.find("\x1B[2K\r"); at != std::string::npos; at = err.find("\x1B[2K\r")) {
    const size_t end = err.find('\r', at + 5);
    err.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  return err;
}

// The sample folder holds one link cut inside its last extra-data block and
// one header whose flags announce what is not there; a run over the folder
// says them, and only them, as not read in full (status 2).
inline const std::vector<std::string> k_sample_cut_links = {
    "UpdateCheck.lnk.448476763_PartialConsoleBlock", "file_header.1"};

// Every line of err is a "not read in full" line naming one of names, and
// each is named.
inline bool only_partly_read(const std::string& err, const std::vector<std::string>& names) {
  std::vector<bool> named(names.size(), false);
  for (size_t at = 0; at < err.size();) {
    const size_t end = err.find('\n', at);
    const std::string line = err.substr(at, end == std::string::npos ? end : end - at);
    if (line.rfind("not read in full: ", 0) != 0) return false;
    bool any = false;
    for (size_t i = 0; i < names.size(); ++i)
      if (line.find(names[i]) != std::string::npos) any = named[i] = true;
    if (!any) return false;
    at = end == std::string::npos ? err.size() : end + 1;
  }
  return std::find(named.begin(), named.end(), false) == named.end();
}

// True when err is whole lines of plain text: no control character but the
// tab, no C1 control (U+0080 to U+009F), so that each message keeps to its
// line and none sends codes to a terminal.
inline bool plain_lines(const std::string& err) {
  if (!err.empty() && err.back() != '\n') return false;
  for (size_t i = 0; i < err.size(); ++i) {
    const auto c = static_cast<unsigned char>(err[i]);
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return false;
    if (c == 0xC2 && i + 1 < err.size() && (static_cast<unsigned char>(err[i + 1]) & 0xE0) == 0x80)
      return false;
  }
  return true;
}

inline std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The shell command that runs the program (path given) with the arguments
// (each quoted) in the tree's root, then the redirections.
inline std::string program_command(const std::string& program, const temp_tree& tree,
                                   const std::vector<std::string>& args,
                                   const std::string& redirections) {
  std::string cmd = "cd ";
  cmd += quoted(tree.root());
  cmd += " && ";
  cmd += quoted(program);
  for (const auto& a : args) {
    cmd += ' ';
    cmd += quoted(a);
  }
  return cmd + ' ' + redirections;
}

// The exit status of a command std::system ran; -1 when it did not exit.
inline int exit_status(int raw) {
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Runs the program with the arguments and the given stdin text, in the
// tree's root.
inline outcome run_program(const std::string& program, const temp_tree& tree,
                           const std::vector<std::string>& args, const std::string& input = "") {
  tree.file("stdin.txt", input);
  const int raw = std::system(
      program_command(program, tree, args, "<stdin.txt >stdout.txt 2>stderr.txt").c_str());
  return {exit_status(raw), slurp(tree.path("stdout.txt")),
          without_status(slurp(tree.path("stderr.txt")))};
}

// The same with standard error on a terminal (a pseudo-terminal the test
// reads back): err holds the bytes as written, status-line codes and all
// (the terminal writes each line feed as CR LF). Status -1 when no
// pseudo-terminal is to be had.
inline outcome run_on_terminal(const std::string& program, const temp_tree& tree,
                               const std::vector<std::string>& args,
                               const std::string& input = "") {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master == -1 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    if (master != -1) ::close(master);
    return {-1, "", ""};
  }
  const char* name = ::ptsname(master);
  if (name == nullptr) {
    ::close(master);
    return {-1, "", ""};
  }
  const std::string terminal = name;
  // Held open here so that what the program wrote stays readable after it ends.
  const int held = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
  tree.file("stdin.txt", input);
  const int raw = std::system(
      program_command(program, tree, args, "<stdin.txt >stdout.txt 2>" + quoted(terminal)).c_str());
  std::string err;
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  char buf[4096];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
    err.append(buf, static_cast<size_t>(n));
  if (held != -1) ::close(held);
  ::close(master);
  return {exit_status(raw), slurp(tree.path("stdout.txt")), err};
}

// The run header's three lines and its empty line removed.
inline std::string after_header(const std::string& out) {
  size_t at = 0;
  for (int i = 0; i < 4 && at != std::string::npos; ++i) {
    at = out.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  return at == std::string::npos ? std::string() : out.substr(at);
}

// True when the shell finds the command.
inline bool have_command(const std::string& name) {
  return std::system(("command -v " + quoted(name) + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace vesk_test
