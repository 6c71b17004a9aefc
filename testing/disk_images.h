// Disk and volume images made at test time with the standard Debian tools
// (mkntfs, mkfs.fat, mkfs.exfat, mkfs.ext4, sfdisk, sgdisk, sleuthkit), as
// sparse files inside a temporary folder. A test whose tool is missing skips
// with a message; nothing here ever touches a real device.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vesk_test {

// Full path of an installed program, looked for in PATH and the system
// program folders (mkfs tools live in /sbin, which a user's PATH may lack).
inline std::string find_tool(const std::string& name) {
  std::string dirs = getenv("PATH") ? getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= dirs.size()) {
    size_t colon = dirs.find(':', pos);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string dir = dirs.substr(pos, colon - pos);
    pos = colon + 1;
    if (dir.empty()) continue;
    const std::string full = dir + "/" + name;
    if (::access(full.c_str(), X_OK) == 0) return full;
  }
  return std::string();
}

// Single-quoted for the shell.
inline std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a command line; its output is captured and returned, and ok tells
// whether it ended with status 0.
inline std::string run_command(const std::string& command, bool& ok) {
  std::string out;
  ok = false;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) out.append(buf, n);
  const int status = ::pclose(pipe);
  ok = status == 0;
  return out;
}

// A sparse file of size bytes (its holes read as zeros).
inline bool make_sparse_file(const std::string& path, uint64_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).close();
  return ::truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

inline std::vector<uint8_t> read_file_range(const std::string& path, uint64_t offset,
                                            size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> out(count);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
  out.resize(static_cast<size_t>(in.gcount()));
  return out;
}

// Makes a volume image: a sparse file of size bytes, then the tool with its
// arguments and the image path last. Empty result (and a skip message in
// *why) when the tool is absent; a failure of the tool fails the test.
inline std::string make_volume(const std::string& path, uint64_t size, const std::string& tool,
                               const std::string& args, std::string* why) {
  const std::string full = find_tool(tool);
  if (full.empty()) {
    if (why) *why = tool + " is not installed";
    return std::string();
  }
  if (!make_sparse_file(path, size)) {
    ADD_FAILURE() << "cannot make " << path;
    return std::string();
  }
  bool ok = false;
  const std::string out = run_command(full + " " + args + " " + shell_quote(path), ok);
  if (!ok) {
    ADD_FAILURE() << tool << " " << args << " failed: " << out;
    return std::string();
  }
  return path;
}

// The first "label: value" line of a tool's output whose label matches.
inline std::string labelled_value(const std::string& text, const std::string& label) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.compare(0, label.size(), label) == 0) {
      std::string v = line.substr(label.size());
      while (!v.empty() && (v.front() == ' ' || v.front() == ':')) v.erase(v.begin());
      return v;
    }
  }
  return std::string();
}

}  // namespace vesk_test
