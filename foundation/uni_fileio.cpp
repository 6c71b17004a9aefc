#include "foundation/uni_fileio.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <type_traits>

#include "foundation/uni_file_utils.h"
#include "foundation/uni_stream.h"
#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_hexdump.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_path.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace uni {
namespace {

// Files the tool creates get read and write for everyone the umask allows,
// as with any standard tool.
constexpr mode_t k_create_mode = 0666;

bool starts_with_proc(const std::wstring& path) {
  return path.compare(0, 5, L"/proc") == 0;
}

}  // namespace

int open_file_fd(const std::string& path, int flags, mode_t mode) {
  struct stat st;
  return open_file_fd(path, flags, mode, st);
}

int open_file_fd(const std::string& path, int flags, mode_t mode, struct stat& st) {
  if (path.empty()) return -1;
  int fd = -1;
  if ((flags & O_ACCMODE) == O_RDONLY) {
    // Evidence keeps its access time where the system allows it (the file's
    // owner, a privileged user); elsewhere it is read as any tool reads it.
    fd = vk::posix_open(path.c_str(), flags | O_NONBLOCK | O_NOATIME, mode);
    if (fd == -1 && errno == EPERM) fd = vk::posix_open(path.c_str(), flags | O_NONBLOCK, mode);
  } else {
    fd = vk::posix_open(path.c_str(), flags | O_NONBLOCK, mode);
  }
  if (fd == -1) return -1;
  if (!vk::posix_fstat(fd, st) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    int saved = errno;
    vk::posix_close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

int open_file_fd_wide(const std::wstring& path, int flags, mode_t mode) {
  struct stat st;
  return open_file_fd_wide(path, flags, mode, st);
}

int open_file_fd_wide(const std::wstring& path, int flags, mode_t mode, struct stat& st) {
  // A text that does not encode completely must not open another file.
  std::string narrow;
  if (!vk::path_to_bytes(path, narrow)) return -1;
  return open_file_fd(narrow, flags, mode, st);
}

// ---------------------------------------------------------------------------

fileio::fileio() = default;

fileio::fileio(const std::string& path, bool write, bool crlf, short share) {
  m_crlf = crlf;
  m_opened = open_utf8(path, write, crlf, true, share);
  if (!m_opened) clear_state();
}

fileio::fileio(const std::wstring& path, bool write, bool crlf, short) {
  m_crlf = crlf;
  m_opened = open(path, write, crlf, true);
  if (!m_opened) clear_state();
}

fileio::fileio(const std::vector<uint8_t>& bytes, bool write, bool crlf) {
  attach_memory(bytes, write, crlf);
}

fileio::~fileio() {
  close();
}

void fileio::clear_state() {
  m_fd = -1;
  m_size = 0;
  m_writable = false;
  m_opened = false;
  m_crlf = false;
  m_path.clear();
  m_path_bytes.clear();
  m_path_pending = false;
  m_has_status = false;
  m_data.clear();
  m_memory = false;
  m_position = 0;
  m_output = nullptr;
}

void fileio::reset() {
  close();
}

bool fileio::is_open() const {
  return m_memory || (m_fd != -1 && m_opened);
}

bool fileio::enter_memory(std::vector<uint8_t>& data, bool write, bool crlf, uint64_t position) {
  close();
  m_data.swap(data);
  m_memory = true;
  m_opened = true;
  m_writable = write;
  m_crlf = crlf;
  m_size = m_data.size();
  m_position = position;
  return true;
}

bool fileio::adopt_memory(std::vector<uint8_t>& bytes, bool write, bool crlf) {
  std::vector<uint8_t> taken;
  taken.swap(bytes);
  return enter_memory(taken, write, crlf, taken.size());
}

bool fileio::attach_memory(const std::vector<uint8_t>& bytes, bool write, bool crlf) {
  // Copied before closing: `bytes` may be this object's own content.
  std::vector<uint8_t> copy;
  if (!vk::guarded(
          [&] {
            copy = bytes;
            return true;
          },
          [&] { close(); }))
    return false;
  return enter_memory(copy, write, crlf, copy.size());
}

bool fileio::open_memory(uint32_t count, bool write, bool crlf) {
  std::vector<uint8_t> zeros;
  if (!vk::guarded(
          [&] {
            zeros.assign(count, 0);
            return true;
          },
          [&] { close(); }))
    return false;
  return enter_memory(zeros, write, crlf, 0);
}

void fileio::release_output() {
  if (m_output == nullptr) return;
  fileio_output* out = m_output;
  // The stream's destructor drains the put area through append(), which
  // needs this object still open; forget the pointer only afterwards.
  out->flush();
  delete out;
  m_output = nullptr;
}

void fileio::close() {
  release_output();
  if (!m_memory && m_fd != -1) vk::posix_close(m_fd);
  clear_state();
}

// ---------------------------------------------------------------------------

namespace {

constexpr int k_append_flags = O_RDWR | O_CREAT | O_APPEND;

// The path as an opener records it: a copy without trailing '/' and '\'.
// False for an empty path or when the copy cannot be made.
template <class Text>
bool stripped_copy(const Text& path, Text& out) {
  if (path.empty()) return false;
  if (!vk::guarded([&] {
        out = path;
        return true;
      }))
    return false;
  if constexpr (std::is_same_v<Text, std::string>) {
    vk::strip_trailing_slashes(out);
  } else {
    vk::strip_trailing_slashes_wide(out);
  }
  return true;
}

}  // namespace

void fileio::begin_open(std::wstring& path, bool write, bool crlf) {
  close();
  m_crlf = crlf;
  m_writable = write;
  m_path.swap(path);
}

const std::wstring& fileio::path() const {
  if (m_path_pending) {
    m_path = vk::path_to_wide(m_path_bytes);
    m_path_pending = false;
  }
  return m_path;
}

bool fileio::opened_status(struct stat& st) const {
  if (!m_has_status || !usable()) return false;
  st = m_status;
  return true;
}

bool fileio::attach_descriptor(int fd) {
  m_fd = fd;
  if (m_fd == -1) return false;
  m_opened = true;
  m_has_status = true;
  // A regular file's size comes with the status of the open; devices and
  // pseudo files (which show 0) are measured.
  if (S_ISREG(m_status.st_mode) && m_status.st_size > 0)
    m_size = static_cast<uint64_t>(m_status.st_size);
  else
    m_size = fileio_size();
  return true;
}

bool fileio::open(const std::wstring& path, bool write, bool crlf, bool truncate) {
  std::wstring p;
  if (m_memory || !stripped_copy(path, p)) return false;
  begin_open(p, write, crlf);
  int flags = O_RDONLY;
  if (write) flags = truncate ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDWR;
  return attach_descriptor(open_file_fd_wide(m_path, flags, write ? k_create_mode : 0, m_status));
}

bool fileio::open_utf8(const std::string& path, bool write, bool crlf, bool truncate, short) {
  // The name's bytes go to the system as they are; the wide path form (which
  // keeps every byte, UTF-8 or not) is made only when asked for.
  if (m_memory || path.empty()) return false;
  std::wstring none;
  begin_open(none, write, crlf);
  // Into the object's own buffer, whose room stays from one opening to the
  // next; an object that cannot hold the name is left closed.
  if (!stripped_copy(path, m_path_bytes)) return false;
  m_path_pending = true;
  int flags = O_RDONLY;
  if (write) flags = truncate ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDWR;
  return attach_descriptor(open_file_fd(m_path_bytes, flags, write ? k_create_mode : 0, m_status));
}

bool fileio::open_append(const std::wstring& path, bool crlf) {
  std::wstring p;
  if (m_memory || !stripped_copy(path, p)) return false;
  begin_open(p, true, crlf);
  return attach_descriptor(open_file_fd_wide(m_path, k_append_flags, k_create_mode, m_status));
}

bool fileio::open_append(const std::string& path, bool crlf) {
  std::string p;
  if (m_memory || !stripped_copy(path, p)) return false;
  // The recorded path is the path form of the same bytes.
  std::wstring wide = vk::path_to_wide(p);
  if (wide.empty()) return false;
  begin_open(wide, true, crlf);
  if (!attach_descriptor(open_file_fd(p, k_append_flags, k_create_mode, m_status))) return false;
  seek_from_end(0);
  return true;
}

// ---------------------------------------------------------------------------

uint64_t fileio::fileio_size() {
  if (m_memory) return m_data.size();
  if (!usable()) return 0;
  int64_t saved = vk::posix_lseek(m_fd, 0, SEEK_CUR);
  errno = 0;
  int64_t end = vk::posix_lseek(m_fd, 0, SEEK_END);
  uint64_t result = 0;
  if (end > 0) {
    result = static_cast<uint64_t>(end);
  } else if (end == -1 && errno == EINVAL && starts_with_proc(path())) {
    // Pseudo files cannot tell their length; read them up to this much.
    result = 0x40000;
  }
  if (saved >= 0) vk::posix_lseek(m_fd, saved, SEEK_SET);
  return result;
}

uint64_t fileio::refresh_size() {
  if (!usable()) return 0;
  m_size = fileio_size();
  return m_size;
}

uint64_t fileio::tell() {
  if (!usable()) return 0;
  if (m_memory) return m_position;
  return static_cast<uint64_t>(vk::posix_lseek(m_fd, 0, SEEK_CUR));
}

uint64_t fileio::seek_to(uint64_t offset) {
  if (!usable()) return k_bad_position;
  if (m_memory) {
    if (offset > m_data.size()) return k_bad_position;
    m_position = offset;
    return offset;
  }
  if (offset > static_cast<uint64_t>(INT64_MAX)) return k_bad_position;
  return static_cast<uint64_t>(vk::posix_lseek(m_fd, static_cast<int64_t>(offset), SEEK_SET));
}

uint64_t fileio::seek_from_end(uint64_t count) {
  if (!usable()) return k_bad_position;
  if (m_memory) {
    m_position = count >= m_size ? 0 : m_size - count;
    return m_position;
  }
  if (count > static_cast<uint64_t>(INT64_MAX)) return k_bad_position;
  return static_cast<uint64_t>(vk::posix_lseek(m_fd, -static_cast<int64_t>(count), SEEK_END));
}

bool fileio::set_length(uint64_t length) {
  if (!usable()) return false;
  if (m_memory) {
    if (!vk::guarded([&] {
          m_data.resize(length);
          return true;
        }))
      return false;
    m_size = length;
    m_position = 0;
    return true;
  }
  if (!vk::posix_ftruncate(m_fd, length)) return false;
  // Later reads are bounded by the recorded size: keep it true.
  m_size = fileio_size();
  return true;
}

// ---------------------------------------------------------------------------

namespace {

// Count of a read that failed before any byte arrived: all ones, as a plain
// read() would have reported it.
constexpr uint32_t k_failed_read = 0xFFFFFFFFu;

// The count a reading loop hands back: the bytes that arrived, or all ones
// when an error came first. An error after some bytes still hands those
// bytes over; the short count says how many there are.
bool read_outcome(const vk::io_result& r, uint32_t& len) {
  if (r.failed() && r.count == 0) {
    len = k_failed_read;
    return false;
  }
  len = static_cast<uint32_t>(r.count);
  return true;
}

}  // namespace

bool fileio::read_at(void* buf, uint32_t& len, uint64_t offset) {
  if (!usable() || offset >= m_size) return false;
  uint32_t want = len;
  if (want > 0 && buf == nullptr) return false;
  if (m_memory) {
    uint64_t left = m_size - offset;
    if (want > left) want = static_cast<uint32_t>(left);
    if (want > 0) std::memcpy(buf, m_data.data() + offset, want);
    len = want;
    return true;
  }
  // A positioned read: the descriptor's own position is left alone.
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  if (want == 0) return true;
  uint64_t left = m_size - offset;
  if (want > left) want = static_cast<uint32_t>(left);
  return read_outcome(vk::posix_pread_full(m_fd, buf, want, offset), len);
}

bool fileio::read(void* buf, uint32_t& len) {
  if (!usable()) return false;
  if (len == 0) return true;
  if (buf == nullptr) return false;
  if (m_memory) {
    uint64_t left = m_position < m_size ? m_size - m_position : 0;
    uint32_t n = len > left ? static_cast<uint32_t>(left) : len;
    if (n > 0) std::memcpy(buf, m_data.data() + m_position, n);
    m_position += n;
    len = n;
    return true;
  }
  uint32_t want = len;
  if (want > m_size) want = static_cast<uint32_t>(m_size);
  return read_outcome(vk::posix_read_full(m_fd, buf, want), len);
}

bool fileio::read_at64(void* buf, uint64_t& len, uint64_t offset) {
  if (len >> 32) {
    len = 0;
    return false;
  }
  uint32_t n = static_cast<uint32_t>(len);
  bool ok = read_at(buf, n, offset);
  len = ok ? n : 0;
  return ok;
}

namespace {

// Shared body of read_bytes_at and read_text_at over any byte container.
template <class Container>
bool read_into(fileio& file, int fd, bool memory, const std::vector<uint8_t>& data, uint64_t size,
               uint64_t& position, Container& out, uint64_t count, uint64_t offset) {
  if (!file.usable() || offset >= size) return false;
  if (count == 0) return true;
  uint64_t n = std::min(count, size - offset);
  if (n > static_cast<uint64_t>(SIZE_MAX / 2)) return false;
  if (!memory && offset > static_cast<uint64_t>(INT64_MAX)) return false;
  if (!vk::guarded([&] {
        if (out.size() != n) out.resize(static_cast<size_t>(n));
        return true;
      }))
    return false;
  if (memory) {
    std::memcpy(out.data(), data.data() + offset, static_cast<size_t>(n));
    position = offset + n;
    return true;
  }
  vk::io_result r = vk::posix_pread_full(fd, out.data(), static_cast<size_t>(n), offset);
  if (r.count < n) out.resize(r.count);
  // A device error before the first byte is a failure, not an empty file.
  return !(r.failed() && r.count == 0);
}

}  // namespace

bool fileio::read_bytes_at(std::vector<uint8_t>& out, uint64_t count, uint64_t offset) {
  return read_into(*this, m_fd, m_memory, m_data, m_size, m_position, out, count, offset);
}

bool fileio::read_text_at(std::string& out, uint64_t count, uint64_t offset) {
  return read_into(*this, m_fd, m_memory, m_data, m_size, m_position, out, count, offset);
}

// ---------------------------------------------------------------------------

bool fileio::append_raw(const uint8_t* buf, size_t len, size_t& written) {
  written = 0;
  if (!usable() || buf == nullptr) return false;
  if (len == 0) return true;
  if (m_memory) {
    if (!vk::guarded([&] {
          m_data.insert(m_data.end(), buf, buf + len);
          return true;
        }))
      return false;
    m_size = m_position = m_data.size();
    written = len;
    return true;
  }
  if (vk::posix_lseek(m_fd, 0, SEEK_END) == -1) return false;
  vk::io_result r = vk::posix_write_full(m_fd, buf, len);
  written = r.count;
  int64_t end = vk::posix_lseek(m_fd, 0, SEEK_END);
  if (end >= 0) m_size = static_cast<uint64_t>(end);
  return !r.failed() && r.count == len;
}

bool fileio::append_raw(const uint8_t* buf, size_t len) {
  size_t written;
  return append_raw(buf, len, written);
}

bool fileio::append(const uint8_t* buf, uint32_t len) {
  return append_raw(buf, len);
}

bool fileio::append_counted(const uint8_t* buf, size_t len, size_t& written) {
  return append_raw(buf, len, written);
}

bool fileio::append_bytes(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return false;
  return append_raw(bytes.data(), bytes.size());
}

bool fileio::append_stream_text(const std::ostringstream& text) {
  if (!usable()) return false;
  std::string s;
  if (!vk::guarded([&] {
        s = text.str();
        return true;
      }))
    return false;
  if (s.empty()) return true;
  return append_raw(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

bool fileio::write_at(const uint8_t* buf, uint32_t len, uint64_t offset) {
  if (!usable() || buf == nullptr) return false;
  if (len == 0) return true;
  if (m_memory) {
    uint64_t size = m_data.size();
    if (offset < size && len < size - offset) {
      std::memcpy(m_data.data() + offset, buf, len);
      m_position = offset + len;
      return true;
    }
    const size_t head = offset < size ? static_cast<size_t>(size - offset) : 0;
    if (!vk::guarded([&] {
          m_data.insert(m_data.end(), buf + head, buf + len);
          return true;
        }))
      return false;
    // The overwritten head only once the tail has its room.
    if (head > 0) std::memcpy(m_data.data() + offset, buf, head);
    m_size = m_position = m_data.size();
    return true;
  }
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      vk::posix_lseek(m_fd, static_cast<int64_t>(offset), SEEK_SET) == -1)
    return false;
  vk::io_result r = vk::posix_write_full(m_fd, buf, len);
  int64_t end = vk::posix_lseek(m_fd, 0, SEEK_END);
  if (end >= 0) m_size = static_cast<uint64_t>(end);
  return !r.failed() && r.count == len;
}

bool fileio::write_bytes_at(const std::vector<uint8_t>& bytes, uint64_t offset) {
  if (bytes.empty() || bytes.size() > 0xFFFFFFFFu) return false;
  return write_at(bytes.data(), static_cast<uint32_t>(bytes.size()), offset);
}

bool fileio::append_fill(uint8_t value, uint32_t count) {
  if (count == 1) return append(&value, 1);
  std::vector<uint8_t> bytes;
  if (!vk::guarded([&] {
        bytes.assign(count, value);
        return true;
      }))
    return false;
  return append_bytes(bytes);
}

bool fileio::append_printf(const char* format, ...) {
  if (!usable() || format == nullptr) return false;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int len = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (len < 0) {
    va_end(again);
    return false;
  }
  std::vector<char> text;
  if (!vk::guarded(
          [&] {
            text.resize(static_cast<size_t>(len) + 1);
            return true;
          },
          [&] { va_end(again); }))
    return false;
  int written = std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  if (written != len) return false;
  if (len == 0) return true;
  return append_raw(reinterpret_cast<const uint8_t*>(text.data()), static_cast<size_t>(len));
}

bool fileio::append_lines(const std::vector<std::string>& lines) {
  if (lines.empty()) return false;
  bool any = false;
  std::string line;
  for (const auto& text : lines) {
    const bool made = vk::guarded([&] {
      line.assign(text);
      line.append("\r\n");
      return true;
    });
    if (!made || !append_raw(reinterpret_cast<const uint8_t*>(line.data()), line.size())) break;
    any = true;
  }
  return any;
}

bool fileio::append_hex_dump(const uint8_t* buf, uint32_t len, uint64_t first_offset) {
  if (len == 0) return true;
  if (buf == nullptr || !usable()) return false;
  vk::hexdump_style style;
  style.offset_width = 6;
  style.eol = m_crlf ? "\r\n" : "\n";
  style.column_gap = "";
  style.short_line_column = false;
  std::string text;
  if (!vk::hexdump_append(text, buf, len, first_offset, style)) return false;
  return append_raw(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool fileio::append_hex_dump(const std::vector<uint8_t>& bytes, uint64_t first_offset) {
  if (bytes.empty()) return true;
  if (bytes.size() > 0xFFFFFFFFu) return false;
  return append_hex_dump(bytes.data(), static_cast<uint32_t>(bytes.size()), first_offset);
}

bool fileio::set_mode_octal(const std::string& mode) {
  if (m_memory) return true;
  if (!usable()) return false;
  uint32_t value = 0;
  // A leading "o" makes the number reader take the digits as octal.
  if (!vk::guarded([&] { return vk::parse_uint("O" + mode, value); })) return false;
  return vk::posix_fchmod(m_fd, static_cast<mode_t>(value));
}

bool fileio::stat_of(struct stat& st) {
  if (m_memory) {
    std::memset(&st, 0, sizeof st);
    st.st_size = static_cast<off_t>(m_size);
    return true;
  }
  if (!usable()) {
    std::memset(&st, 0, sizeof st);
    return false;
  }
  return vk::posix_fstat(m_fd, st);
}

// ---------------------------------------------------------------------------

void fileio::flush_output() {
  if (m_output != nullptr) m_output->flush();
}

fileio_output* fileio::output_stream() {
  if (m_output == nullptr && usable()) m_output = new_attached_output<fileio_output>(this);
  return m_output;
}

// ---------------------------------------------------------------------------
// Whole-file utilities: lines, copies, ranges and scans.

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
  if (!usable() || path().empty()) return false;
  vk::guarded(
      [&] {
        std::string name = vk::path_from_wide(path()) + ":" + "Zone.Identifier";
        struct stat st;
        if (vk::stat_path_utf8(name, st)) out.push_back(name);
      },
      [&] { out.clear(); });
  return !out.empty();
}

}  // namespace uni
