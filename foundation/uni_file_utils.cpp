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

bool add_split_line(std::vector<std::string>& out, const char* text, size_t size, bool trim,
                    bool skip_empty) {
  size_t b = 0;
  while (b < size && text[b] == '\r') ++b;
  size_t e = size;
  if (e > b && text[e - 1] == '\r') --e;
  return guarded([&] {
    std::string line(text + b, e - b);
    if (trim) vk::trim_ws(line);
    if (!(skip_empty && line.empty())) out.push_back(std::move(line));
    return true;
  });
}

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
