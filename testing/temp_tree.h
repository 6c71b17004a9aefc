// A scratch directory tree for listing, walk and filter tests; removed with
// everything in it when the object goes away.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vesk_test {

class temp_tree {
 public:
  temp_tree() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vesk-tree-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (::mkdtemp(buf.data())) m_root = buf.data();
  }
  ~temp_tree() {
    std::error_code ec;
    if (!m_root.empty()) std::filesystem::remove_all(m_root, ec);
  }
  temp_tree(const temp_tree&) = delete;
  temp_tree& operator=(const temp_tree&) = delete;

  bool ok() const { return !m_root.empty(); }
  // The root without a trailing '/'.
  const std::string& root() const { return m_root; }
  std::string path(const std::string& rel) const { return m_root + "/" + rel; }

  // Creates a file (and its parent folders) holding `content`.
  void file(const std::string& rel, const std::string& content = "x") const {
    std::filesystem::path p(path(rel));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  void dir(const std::string& rel) const { std::filesystem::create_directories(path(rel)); }
  void symlink(const std::string& target, const std::string& rel) const {
    std::filesystem::create_symlink(target, path(rel));
  }

 private:
  std::string m_root;
};

// Runs the enclosing scope in another working directory.
class scoped_cwd {
 public:
  explicit scoped_cwd(const std::string& dir) : m_old(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~scoped_cwd() {
    std::error_code ec;
    std::filesystem::current_path(m_old, ec);
  }

 private:
  std::filesystem::path m_old;
};

}  // namespace vesk_test
