// Scratch folders and file helpers for the file-object tests.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "temp_tree.h"

namespace vesk_test {

// A fresh folder under the system temporary folder, removed with everything
// in it when the object goes; file() only names a path inside it.
class scratch_dir {
 public:
  const std::string& path() const { return m_tree.root(); }
  std::string file(const std::string& name) const { return m_tree.path(name); }

 private:
  temp_tree m_tree;
};

// A Unix socket bound to a path for its lifetime; ok() tells whether it is.
class bound_socket {
 public:
  explicit bound_socket(const std::string& path) : m_fd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    if (m_fd < 0) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~bound_socket() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bound_socket(const bound_socket&) = delete;
  bound_socket& operator=(const bound_socket&) = delete;

  bool ok() const { return m_bound; }

 private:
  int m_fd;
  bool m_bound = false;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  write_file(path, std::string(bytes.begin(), bytes.end()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint64_t disk_size(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return ~uint64_t{0};
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace vesk_test
