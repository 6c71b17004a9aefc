#include "foundation/uni_file_utils.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

#include "foundation/uni_fileio.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_path.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace vk {
namespace {

constexpr uint32_t k_no_limit = 0xFFFFFFFFu;

}  // namespace

// ---- small text helpers -------------------------------------------------

bool strip_trailing_slashes(std::string& path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return !path.empty();
}

namespace {

// Adds one line of `size` bytes as the line splitters give it: CRs at its
// start skipped, one CR at its end dropped, trimmed when asked, and left out
// when it is empty and empty lines are skipped.
void add_split_line(std::vector<std::string>& out, const char* text, size_t size, bool trim,
                    bool skip_empty) {
  size_t b = 0;
  while (b < size && text[b] == '\r') ++b;
  size_t e = size;
  if (e > b && text[e - 1] == '\r') --e;
  std::string line(text + b, e - b);
  if (trim) vk::trim_ws(line);
  if (!(skip_empty && line.empty())) out.push_back(std::move(line));
}

}  // namespace

bool split_buffer_lines_consumed(uint32_t& consumed, std::vector<std::string>& out,
                                 const uint8_t* buffer, uint32_t length, bool trim,
                                 bool skip_empty) {
  if (length == 0 || buffer == nullptr) return false;
  out.clear();
  consumed = 0;
  const char* text = reinterpret_cast<const char*>(buffer);
  if (!vk::guarded([&] {
        uint32_t start = 0;
        for (uint32_t i = 0; i < length; ++i) {
          if (buffer[i] != '\n') continue;
          add_split_line(out, text + start, i - start, trim, skip_empty);
          start = i + 1;
          consumed = start;
        }
        return true;
      }))
    return false;
  return !out.empty();
}

// ---- whole-file reads ---------------------------------------------------

namespace {

template <class Container>
bool read_capped(Container& out, const std::string& path, uint32_t max) {
  out.clear();
  if (path.empty() || max == 0) return false;
  uni::fileio file(path, false, true);
  if (!file.usable()) return false;
  uint64_t size = file.fileio_size();
  if (size == 0) return false;
  uint64_t count = max == k_no_limit ? size : std::min<uint64_t>(size, max);
  bool ok;
  if constexpr (std::is_same_v<Container, std::string>) {
    ok = file.read_text_at(out, count, 0);
  } else {
    ok = file.read_bytes_at(out, count, 0);
  }
  return ok && !out.empty();
}

}  // namespace

bool read_file_capped(std::vector<uint8_t>& out, const std::string& path, uint32_t max) {
  return read_capped(out, path, max);
}

bool read_file_capped_text(std::string& out, const std::string& path, uint32_t max) {
  return read_capped(out, path, max);
}

// ---- zero-filling -------------------------------------------------------

namespace {

bool open_existing_for_write(uni::fileio& file, const std::wstring& path) {
  if (file.open(path, true, false, false)) return true;
  file.reset();
  return file.open(path, true, false, false);
}

bool zero_fill_blocks(const std::wstring& path, const std::vector<uint8_t>* marker) {
  if (path.empty()) return false;
  uni::fileio file;
  if (!open_existing_for_write(file, path)) return false;
  uint64_t size = file.stored_size();
  if (size == 0) return false;
  const std::vector<uint8_t> zeros(512, 0);
  std::vector<uint8_t> mark;
  uint32_t counter = 0;
  for (uint64_t offset = 0; offset < size; offset += 512) {
    if (!file.write_bytes_at(zeros, offset)) return false;
    if (marker != nullptr && offset % 4096 == 0) {
      if (!vk::guarded([&] {
            mark = *marker;
            for (int i = 0; i < 4; ++i) mark.push_back(static_cast<uint8_t>(counter >> (8 * i)));
            return true;
          }))
        return false;
      if (!file.write_bytes_at(mark, offset)) return false;
      ++counter;
    }
  }
  return true;
}

}  // namespace

bool zero_fill_file(const std::wstring& path) {
  return zero_fill_blocks(path, nullptr);
}

bool zero_fill_file_utf8(const std::string& path) {
  return zero_fill_blocks(vk::path_to_wide(path), nullptr);
}

bool zero_fill_file_marked(const std::wstring& path, const std::vector<uint8_t>& marker) {
  return zero_fill_blocks(path, &marker);
}

bool zero_fill_utf8(const std::string& path) {
  if (path.empty()) return false;
  uni::fileio file;
  if (!file.open_utf8(path, true, false, false)) return false;
  uint64_t size = file.stored_size();
  if (size == 0) return false;
  // Zeros go out in pieces so a large file needs no buffer of its own size.
  constexpr uint64_t k_piece = 1u << 24;
  std::vector<uint8_t> zeros;
  if (!vk::guarded([&] {
        zeros.assign(static_cast<size_t>(std::min(size, k_piece)), 0);
        return true;
      }))
    return false;
  for (uint64_t offset = 0; offset < size; offset += k_piece) {
    uint32_t n = static_cast<uint32_t>(std::min(size - offset, k_piece));
    if (!file.write_at(zeros.data(), n, offset)) return false;
  }
  return true;
}

// ---- status queries -----------------------------------------------------

int stat_path(const char* path, struct stat& st) {
  return posix_stat(path, st) ? 0 : -1;
}

bool stat_path_wide(const std::wstring& path, struct stat& st) {
  std::memset(&st, 0, sizeof st);
  if (path.empty()) return false;
  // A text that does not encode completely must not name another file.
  std::string narrow;
  if (!path_to_bytes(path, narrow)) return false;
  return stat_path(narrow.c_str(), st) == 0;
}

bool stat_path_utf8(const std::string& path, struct stat& st) {
  std::memset(&st, 0, sizeof st);
  std::wstring wide = vk::path_to_wide(path);
  if (wide.empty()) return false;
  // A path made only of separators names the root, not nothing.
  if (!vk::strip_trailing_slashes_wide(wide)) wide = L"/";
  return stat_path_wide(wide, st);
}

bool stat_path_copy(std::wstring path, struct stat& st) {
  return stat_path_wide(path, st);
}

int fstat_fd(int fd, struct stat& st) {
  return posix_fstat(fd, st) ? 0 : -1;
}

// Only the file type decides: block devices and sockets share the 0x4000 bit.
bool is_directory_utf8(const std::string& path) {
  struct stat st;
  return stat_path_utf8(path, st) && S_ISDIR(st.st_mode);
}

bool is_directory_wide(const std::wstring& path) {
  struct stat st;
  return stat_path_wide(path, st) && S_ISDIR(st.st_mode);
}

uint64_t file_size_wide(const std::wstring& path) {
  struct stat st;
  return stat_path_wide(path, st) ? static_cast<uint64_t>(st.st_size) : 0;
}

uint64_t file_size_utf8(const std::string& path) {
  struct stat st;
  return stat_path_utf8(path, st) ? static_cast<uint64_t>(st.st_size) : 0;
}

// ---- file descriptions and directory-entry fillers ------------------------

namespace {

void reset_dir_entry(dir_entry_info& entry) {
  clear_file_stat_info(entry);
  entry.attribute_bits = 0;
  entry.list_word = 0;
  entry.first_list.clear();
  entry.second_list.clear();
}

}  // namespace

bool get_file_stat_info(file_stat_info& info, const std::wstring& path) {
  clear_file_stat_info(info);
  struct stat st;
  if (path.empty() || !stat_path_wide(path, st)) return false;
  info.mode = static_cast<uint32_t>(st.st_mode);
  info.inode = static_cast<uint64_t>(st.st_ino);
  info.size = static_cast<int64_t>(st.st_size);
  info.mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
  info.atime = static_cast<int64_t>(st.st_atim.tv_sec);
  info.ctime = static_cast<int64_t>(st.st_ctim.tv_sec);
  // Only the file type decides: block devices and sockets share the 0x4000 bit.
  info.is_dir = S_ISDIR(st.st_mode) ? 1 : 0;
  info.time_kind = info.mtime < 0 ? file_times_unix_negative : file_times_unix;
  info.reserved32a = 0;
  info.reserved32b = 0;
  return true;
}

bool stat_file_info(dir_entry_info& entry, const std::wstring& path, const std::string& path_text) {
  if (!get_file_stat_info(entry, path)) return false;
  if (!vk::guarded([&] {
        entry.name = vk::path_from_wide(path);
        if (!path_text.empty()) entry.path = path_text;
        return true;
      }))
    return false;
  if (entry.is_dir) entry.attribute_bits |= dir_entry_directory;
  if (entry.reserved32b == 0) {
    if (entry.time_kind == file_times_filetime) entry.attribute_bits |= dir_entry_filetime_times;
    if (entry.time_kind == file_times_unix || entry.time_kind == file_times_unix_negative)
      entry.attribute_bits |= dir_entry_unix_times;
  }
  return true;
}

bool fill_file_info(dir_entry_info& entry, const std::wstring& path, const struct stat* st,
                    const std::string& path_text) {
  reset_dir_entry(entry);
  if (path.empty()) return false;
  if (st == nullptr) return stat_file_info(entry, path, path_text);
  if (!vk::guarded([&] {
        entry.name = vk::path_from_wide(path);
        entry.path = path_text;
        return true;
      }))
    return false;
  entry.inode = static_cast<uint64_t>(st->st_ino);
  entry.size = static_cast<int64_t>(st->st_size);
  entry.mtime = static_cast<int64_t>(st->st_mtim.tv_sec);
  entry.ctime = static_cast<int64_t>(st->st_ctim.tv_sec);
  entry.atime = static_cast<int64_t>(st->st_atim.tv_sec);
  entry.mode = static_cast<uint32_t>(st->st_mode);
  entry.reserved32a = 0;
  entry.attribute_bits = dir_entry_unix_times;
  if (S_ISDIR(st->st_mode)) {
    entry.is_dir = 1;
    entry.attribute_bits |= dir_entry_directory;
  }
  return true;
}

bool fill_file_info_utf8(dir_entry_info& entry, const std::string& path, const struct stat* st,
                         const std::string& path_text) {
  return fill_file_info(entry, vk::path_to_wide(path), st, path_text);
}

bool stat_file_info_utf8(dir_entry_info& entry, const std::string& path,
                         const std::string& path_text) {
  return stat_file_info(entry, vk::path_to_wide(path), path_text);
}

bool set_entry_lists(dir_entry_info& entry, const std::string& name,
                     const std::vector<std::string>& first,
                     const std::vector<std::string>& second) {
  if (first.empty() || first.size() != second.size()) return false;
  if (!vk::guarded([&] {
        std::string n = name;
        std::vector<std::string> a = first;
        std::vector<std::string> b = second;
        entry.name.swap(n);
        entry.first_list.swap(a);
        entry.second_list.swap(b);
        return true;
      }))
    return false;
  entry.list_word = (entry.list_word & ~0xFFu) | 1u;
  // Callers read the entry, not the result: it is false whether or not the
  // lists were taken.
  return false;
}

// ---- side stream and paths ----------------------------------------------

bool zone_identifier_of(const std::string& path, std::vector<std::string>& out) {
  out.clear();
  uni::fileio file(path, false);
  return file.zone_identifier_stream(out);
}

std::string current_dir() {
  // Deep directories need more than any fixed buffer: grow until it fits.
  std::vector<char> buf;
  for (size_t size = 512; size <= (size_t{1} << 24); size *= 2) {
    if (!vk::guarded([&] {
          buf.resize(size);
          return true;
        }))
      return std::string();
    if (::getcwd(buf.data(), buf.size()) != nullptr) {
      return vk::guarded([&] { return std::string(buf.data()); });
    }
    if (errno != ERANGE) break;
  }
  return std::string();
}

std::wstring current_dir_wide() {
  return vk::path_to_wide(current_dir());
}

std::string make_absolute_path(const std::string& path_in, char separator) {
  return vk::guarded([&] {
    std::string path = path_in;
    std::replace(path.begin(), path.end(), '"', ' ');
    if (std::count(path.begin(), path.end(), '\'') == 2)
      std::replace(path.begin(), path.end(), '\'', ' ');
    vk::trim_ws(path);
    if (path.empty()) return path;

    char sep = separator;
    if (path.find('/') != std::string::npos) {
      sep = '/';
    } else if (path.find('\\') != std::string::npos) {
      sep = '\\';
    }
    if (path[0] == sep) return path;

    const bool drive = path.size() >= 2 && path[1] == ':';
    std::string full;
    if (drive) {
      full = path;
    } else {
      std::string cwd = current_dir();
      if (cwd.empty()) return std::string();
      if (path.size() >= 2 && path[0] == '.' && path[1] == sep) {
        full = cwd + sep + path.substr(2);
      } else if (path == ".") {
        full = cwd;
      } else {
        full = cwd + sep + path;
      }
    }

    // Resolve each ".." component against the components before it.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= full.size()) {
      size_t end = full.find(sep, start);
      if (end == std::string::npos) end = full.size();
      std::string part = full.substr(start, end - start);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty()) {
        parts.push_back(std::move(part));
      }
      start = end + 1;
    }
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i > 0 || !drive) out += sep;
      out += parts[i];
    }
    if (out.empty()) {
      out.assign(1, sep);
    } else if (full.back() == sep) {
      out += sep;  // a path that names a folder by its final separator keeps it
    }
    return out;
  });
}

std::wstring make_absolute_path_wide(const std::wstring& path, wchar_t separator) {
  char sep = separator < 0x80 ? static_cast<char>(separator) : '/';
  return vk::path_to_wide(make_absolute_path(vk::path_from_wide(path), sep));
}

// ---- byte-order marks ---------------------------------------------------

namespace {

bool starts_with_bytes(const uint8_t* buf, size_t len, std::initializer_list<uint8_t> mark) {
  return buf != nullptr && byte_view(buf, len).starts_with(0, mark.begin(), mark.size());
}

void append_bytes(std::vector<char>& out, std::initializer_list<uint8_t> mark) {
  vk::guarded([&] {
    for (uint8_t b : mark) out.push_back(static_cast<char>(b));
  });
}

}  // namespace

bool bom_test_utf8(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0xEF, 0xBB, 0xBF});
}
bool bom_test_utf16le(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0xFF, 0xFE});
}
bool bom_test_utf16be(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0xFE, 0xFF});
}
bool bom_test_utf32be(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0x00, 0x00, 0xFE, 0xFF});
}
bool bom_test_0000fffe(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0x00, 0x00, 0xFF, 0xFE});
}
bool bom_test_utf7(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0x2B, 0x2F, 0x76});
}
bool bom_test_utf_ebcdic(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0xDD, 0x73, 0x66, 0x73});
}
bool bom_test_bocu1(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0xFB, 0xEE, 0x28});
}
bool bom_test_scsu(const uint8_t* b, size_t n) {
  return starts_with_bytes(b, n, {0x0E, 0xFE, 0xFF});
}

void bom_append_utf8(std::vector<char>& out) {
  append_bytes(out, {0xEF, 0xBB, 0xBF});
}
void bom_append_utf16le(std::vector<char>& out) {
  append_bytes(out, {0xFF, 0xFE});
}
void bom_append_utf16be(std::vector<char>& out) {
  append_bytes(out, {0xFE, 0xFF});
}
void bom_append_utf32be(std::vector<char>& out) {
  append_bytes(out, {0x00, 0x00, 0xFE, 0xFF});
}
void bom_append_0000fffe(std::vector<char>& out) {
  append_bytes(out, {0x00, 0x00, 0xFF, 0xFE});
}
void bom_append_utf7(std::vector<char>& out) {
  append_bytes(out, {0x2B, 0x2F, 0x76});
}
void bom_append_utf_ebcdic(std::vector<char>& out) {
  append_bytes(out, {0xDD, 0x73, 0x66, 0x73});
}
void bom_append_bocu1(std::vector<char>& out) {
  append_bytes(out, {0xFB, 0xEE, 0x28});
}
void bom_append_scsu(std::vector<char>& out) {
  append_bytes(out, {0x0E, 0xFE, 0xFF});
}

}  // namespace vk

// ===========================================================================
// Whole-file members of the file object.

namespace uni {
namespace {

constexpr uint32_t k_line_window = 65536;

}  // namespace

bool fileio::read_lines_at(std::vector<std::string>& lines, uint32_t& len, uint64_t offset) {
  if (!usable() || offset >= m_size || len == 0) return false;
  bool last = false;
  if (len >= m_size - offset) {
    len = static_cast<uint32_t>(m_size - offset);
    last = true;
  }
  std::vector<uint8_t> window;
  if (!read_bytes_at(window, len, offset)) return false;
  if (window.size() < len) {
    // The file ended early (a pseudo file, or one that shrank).
    len = static_cast<uint32_t>(window.size());
    last = true;
  }
  if (!vk::guarded([&] {
        size_t start = 0;
        for (size_t i = 0; i < window.size(); ++i) {
          if (window[i] != '\r' && window[i] != '\n') continue;
          std::string line(reinterpret_cast<const char*>(window.data()) + start, i - start);
          if (vk::trim_ws(line)) lines.push_back(std::move(line));
          start = i + 1;
        }
        size_t tail = window.size() - start;
        if (tail > 0) {
          if (last) {
            std::string line(reinterpret_cast<const char*>(window.data()) + start, tail);
            if (vk::trim_ws(line)) lines.push_back(std::move(line));
          } else {
            len -= static_cast<uint32_t>(tail);
          }
        }
        return true;
      }))
    return false;
  return true;
}

bool fileio::read_all_lines(std::vector<std::string>& lines) {
  lines.clear();
  if (!usable()) return false;
  uint64_t offset = 0;
  uint32_t window = k_line_window;
  while (offset < m_size) {
    uint32_t len = window;
    if (!read_lines_at(lines, len, offset)) break;
    if (len == 0) {
      // No line end inside the window: widen it until the line fits.
      if (window == 0xFFFFFFFFu) break;
      window = window > 0x7FFFFFFFu ? 0xFFFFFFFFu : window * 2;
      continue;
    }
    offset += len;
    window = k_line_window;
  }
  return !lines.empty();
}

bool fileio::copy_to(const std::wstring& path, bool append_mode, bool allow_empty) {
  if (!usable()) return false;
  fileio target;
  auto open_target = [&]() {
    return append_mode ? target.open_append(path, m_crlf) : target.open(path, true, m_crlf, true);
  };
  if (m_memory) {
    if (m_size > 0x7FFFFFF) return false;
    if (m_data.empty()) {
      if (!allow_empty) return false;
      return target.open(path, true, m_crlf, true);
    }
    if (!open_target()) return false;
    return target.append_bytes(m_data);
  }
  uint64_t position = tell();
  uint64_t remaining = position < m_size ? m_size - position : 0;
  if (remaining == 0) {
    if (!allow_empty) return false;
    return target.open(path, true, m_crlf, true);
  }
  if (!open_target()) return false;
  std::vector<uint8_t> buf;
  if (!vk::guarded([&] {
        buf.resize(static_cast<size_t>(std::min<uint64_t>(remaining, 0x1000000)));
        return true;
      }))
    return false;
  for (;;) {
    uint32_t n = static_cast<uint32_t>(buf.size());
    if (!read(buf.data(), n)) return false;
    if (n == 0) break;
    if (!target.append(buf.data(), n)) return false;
  }
  return true;
}

bool fileio::copy_to_utf8(const std::string& path, bool append_mode, bool allow_empty) {
  std::wstring wide = vk::path_to_wide(path);
  if (wide.empty()) return false;
  return copy_to(wide, append_mode, allow_empty);
}

bool fileio::save_memory_to(const std::string& path) {
  if (!m_memory || m_data.empty()) return false;
  fileio target(path, true);
  if (!target.usable()) return false;
  return target.append_bytes(m_data);
}

namespace {

// Positions `file` at `offset` and returns how many of `count` bytes it can
// deliver from there; 0 when it cannot.
uint64_t prepare_range(fileio& file, uint64_t offset, uint64_t count) {
  uint64_t size = file.stored_size();
  if (offset >= size) return 0;
  if (file.seek_to(offset) != offset) return 0;
  return std::min(count, size - offset);
}

}  // namespace

namespace {

// Reads `file` from `offset` in pieces of at most `chunk` bytes and hands
// each to `sink`(bytes, count, offset within the range), which answers false
// to stop. With `progress`, the first piece and every `every`-th after it
// report how far the copy is on the status line. False when nothing can be
// read from `offset`, when a read fails or yields nothing before the range
// is done, or when the sink stops.
template <class Sink>
bool copy_range_chunks(fileio& file, uint64_t offset, uint64_t count, uint32_t chunk, bool progress,
                       uint64_t every, Sink sink) {
  const uint64_t total = prepare_range(file, offset, count);
  if (total == 0) return false;
  std::vector<uint8_t> buf;
  if (!vk::guarded([&] {
        buf.resize(static_cast<size_t>(std::min<uint64_t>(chunk, total)));
        return true;
      }))
    return false;
  uint64_t done = 0;
  uint64_t chunks = 0;
  bool ok = true;
  while (done < total) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(buf.size(), total - done));
    if (!file.read(buf.data(), n) || n == 0 || !sink(buf.data(), n, done)) {
      ok = false;
      break;
    }
    done += n;
    if (progress && chunks % every == 0)
      vk::status_printf("percent done %4.2f", static_cast<double>(done) / total * 100.0);
    ++chunks;
  }
  if (progress) vk::erase_status_line();
  return ok;
}

}  // namespace

bool fileio::copy_range_to(fileio& dest, uint64_t offset, uint64_t count, uint64_t dest_offset,
                           uint32_t chunk, bool progress) {
  if (count == 0 || !usable()) return false;
  if (chunk == 0) chunk = 0x400000;
  return copy_range_chunks(*this, offset, count, chunk, progress, 31,
                           [&](const uint8_t* bytes, uint32_t n, uint64_t at) {
                             return dest.write_at(bytes, n, dest_offset + at);
                           });
}

bool fileio::copy_range_to_stream(std::ostream& os, uint64_t offset, uint64_t count, uint32_t chunk,
                                  bool progress) {
  // A chunk of 0 could never move the copy forward.
  if (count == 0 || chunk == 0 || !usable()) return false;
  return copy_range_chunks(*this, offset, count, chunk, progress, 71,
                           [&](const uint8_t* bytes, uint32_t n, uint64_t) {
                             os.write(reinterpret_cast<const char*>(bytes), n);
                             return static_cast<bool>(os);
                           });
}

bool fileio::scan_with_callback(chunk_callback callback, void* context, uint32_t chunk,
                                uint32_t overlap, uint64_t start) {
  if (!usable() || callback == nullptr || chunk == 0) return false;
  std::vector<uint8_t> buf;
  if (!vk::guarded([&] {
        buf.resize(chunk);
        return true;
      }))
    return false;
  uint64_t offset = start;
  uint32_t in_effect = 0;
  while (offset < m_size) {
    uint32_t len = chunk;
    if (!read_at(buf.data(), len, offset) || len == 0) break;
    callback(*this, context, buf.data(), len, in_effect, offset);
    if (offset + len >= m_size) break;
    // Consecutive chunks share `overlap` bytes, as long as that still moves
    // the scan forward.
    in_effect = overlap < len ? overlap : 0;
    offset += len - in_effect;
  }
  return true;
}

bool fileio::scan_text_lines(lines_callback callback, void* context, bool trim, bool skip_empty,
                             bool progress, uint64_t max_lines, bool bom) {
  if (!m_crlf || !usable() || callback == nullptr) return false;
  const uint64_t size = m_size;
  const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(size, 0x100000));
  if (chunk == 0) return true;
  const bool unlimited = max_lines == ~uint64_t{0};
  std::vector<uint8_t> raw;
  std::string text;   // carried incomplete line + this chunk's text
  std::string units;  // UTF-16 bytes held back between chunks
  std::vector<std::string> lines;
  bool utf16 = false;
  uint64_t total_lines = 0;
  uint64_t offset = 0;
  bool ok = true;
  vk::guarded(
      [&] {
        while (offset < size) {
          if (!read_bytes_at(raw, chunk, offset) || raw.empty()) {
            ok = false;
            break;
          }
          const uint64_t chunk_offset = offset;
          offset += raw.size();
          const bool final_chunk = offset >= size || raw.size() < chunk;
          size_t skip = 0;
          if (chunk_offset == 0 && bom) {
            if (vk::bom_test_utf16le(raw.data(), raw.size())) {
              utf16 = true;
              skip = 2;
            } else if (vk::bom_test_utf8(raw.data(), raw.size())) {
              skip = 3;
            }
          }
          if (utf16) {
            units.append(reinterpret_cast<const char*>(raw.data()) + skip, raw.size() - skip);
            size_t usable_len = units.size() & ~size_t{1};
            // A high surrogate at the end waits for its partner in the next chunk.
            if (!final_chunk && usable_len >= 2) {
              uint16_t last =
                  static_cast<uint16_t>(static_cast<uint8_t>(units[usable_len - 2]) |
                                        (static_cast<uint8_t>(units[usable_len - 1]) << 8));
              if (last >= 0xD800 && last <= 0xDBFF) usable_len -= 2;
            }
            std::string decoded;
            if (usable_len > 0 &&
                !vk::utf16le_bytes_to_utf8(reinterpret_cast<const uint8_t*>(units.data()),
                                           usable_len, decoded)) {
              ok = false;
              break;
            }
            units.erase(0, usable_len);
            text += decoded;
          } else {
            text.append(reinterpret_cast<const char*>(raw.data()) + skip, raw.size() - skip);
          }

          uint32_t consumed = 0;
          lines.clear();
          if (!text.empty() && text.size() <= 0xFFFFFFFFu) {
            vk::split_buffer_lines_consumed(consumed, lines,
                                            reinterpret_cast<const uint8_t*>(text.data()),
                                            static_cast<uint32_t>(text.size()), trim, skip_empty);
          }
          text.erase(0, consumed);
          if (final_chunk && !text.empty()) {
            vk::add_split_line(lines, text.data(), text.size(), trim, skip_empty);
            text.clear();
          }
          uint64_t count = lines.size();
          bool stop = false;
          if (!unlimited && total_lines + count > max_lines) {
            count = max_lines - total_lines;
            stop = true;
          }
          total_lines += count;
          callback(*this, context, lines, count, chunk_offset);
          if (progress) {
            double pct =
                unlimited
                    ? static_cast<double>(offset) / size * 100.0
                    : (max_lines ? static_cast<double>(total_lines) / max_lines * 100.0 : 100.0);
            vk::status_printf("percent done %d\n", static_cast<int>(pct));
          }
          if (stop || final_chunk) break;
        }
      },
      [&] { ok = false; });
  if (progress) vk::erase_status_line();
  return ok;
}

bool fileio::zone_identifier_stream(std::vector<std::string>& out) {
  out.clear();
  if (!usable() || m_path.empty()) return false;
  vk::guarded(
      [&] {
        std::string name = vk::path_from_wide(m_path) + ":" + "Zone.Identifier";
        struct stat st;
        if (vk::stat_path_utf8(name, st)) out.push_back(name);
      },
      [&] { out.clear(); });
  return !out.empty();
}

}  // namespace uni
