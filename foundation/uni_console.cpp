#include "foundation/uni_console.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/vk_guard.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace uni {

namespace {

constexpr uint32_t initial_line_size = 4096;

// Reads up to the first NUL or line feed (included) into the malloc'd
// buffer, which grows as needed; -1 at the end of input with nothing read.
ssize_t read_to_first_end(char*& buffer, size_t& capacity, std::FILE* file) {
  size_t used = 0;
  for (;;) {
    const int c = std::getc(file);
    if (c == EOF) return used == 0 ? -1 : static_cast<ssize_t>(used);
    if (used + 1 >= capacity) {
      const size_t grown = capacity < 128 ? 128 : capacity * 2;
      auto* more = static_cast<char*>(std::realloc(buffer, grown));
      if (more == nullptr) return -1;
      buffer = more;
      capacity = grown;
    }
    buffer[used++] = static_cast<char>(c);
    if (c == '\0' || c == '\n') return static_cast<ssize_t>(used);
  }
}

}  // namespace

// ---- stdin_stream ----

stdin_stream::stdin_stream(bool m) : stdin_stream(m, stdin) {}

stdin_stream::stdin_stream(bool m, std::FILE* source) {
  file = source;
  line_size = initial_line_size;
  if (!file) return;
  line = static_cast<char*>(std::malloc(line_size));
  if (!line) {
    line_size = 0;
    return;
  }
  opened = true;
  mode = m;
}

stdin_stream::~stdin_stream() {
  release();
}

void stdin_stream::release() {
  std::free(line);
  line = nullptr;
  line_size = 0;
  file = nullptr;
  opened = false;
  mode = false;
}

bool stdin_stream::read_line(size_t& len) {
  len = 0;
  if (!opened || !file) return false;
  size_t cap = line_size;
  // The buffer grows as needed, so a long line is never cut into several
  // names. The first line's end decides the end of every line: names
  // written by find -print0 may hold line feeds, and a NUL can end no name.
  ssize_t n = 0;
  if (!line_end_known) {
    n = read_to_first_end(line, cap, file);
    if (n > 0) {
      line_end = line[n - 1] == '\0' ? '\0' : '\n';
      line_end_known = true;
    }
  } else {
    n = ::getdelim(&line, &cap, line_end, file);
  }
  line_size = cap > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(cap);
  if (n < 0) return false;
  len = static_cast<size_t>(n);
  return true;
}

bool stdin_stream::getline(std::string& out, bool strip) {
  out.clear();
  size_t len = 0;
  if (!read_line(len)) return false;
  // The line's end goes before the copy, not after it.
  if (nul_separated()) {
    if (len != 0 && line[len - 1] == '\0') --len;
  } else if (strip) {
    while (len != 0 && (line[len - 1] == '\r' || line[len - 1] == '\n')) --len;
  }
  return vk::guarded(
      [&] {
        out.assign(line, len);
        return true;
      },
      [&] { out.clear(); });
}

bool stdin_stream::getline_wide(std::wstring& out, bool strip) {
  out.clear();
  std::string narrow;
  if (!stdin_stream::getline(narrow, strip)) return false;
  vk::guarded([&] { vk::utf8_to_wide(narrow, out); }, [&] { out.clear(); });
  return true;
}

bool stdin_stream::getline_bytes(std::vector<char>& out, bool strip) {
  out.clear();
  std::string narrow;
  if (!stdin_stream::getline(narrow, strip)) return false;
  if (!vk::guarded(
          [&] {
            out.assign(narrow.begin(), narrow.end());
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return true;
}

bool stdin_stream::read_into(char* buf, uint32_t& len) {
  if (!opened || !file || !buf || len == 0) return false;
  int cap = len > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(len);
  if (!std::fgets(buf, cap, file)) return false;
  len = static_cast<uint32_t>(std::strlen(buf));
  return true;
}

bool stdin_stream::wait_input() {
  if (!opened || !file) return false;
  ::usleep(100000);
  return std::ftell(file) != -1;
}

// ---- stdout_stream ----

stdout_stream::stdout_stream(bool m) {
  file = stdout;
  if (!file) return;
  fd = ::fileno(stdout);
  opened = fd >= 0;
  mode = m;
}

stdout_stream::stdout_stream(bool m, int descriptor) {
  fd = descriptor;
  opened = descriptor >= 0;
  mode = m;
}

stdout_stream::~stdout_stream() {
  file = nullptr;
  opened = false;
}

bool stdout_stream::write(const void* buf, uint32_t len) {
  if (!opened || !buf || len == 0) return false;
  const char* p = static_cast<const char*>(buf);
  size_t left = len;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // no progress: give up rather than spin
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

bool stdout_stream::write_bytes(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return false;
  if (bytes.size() > UINT32_MAX) return false;
  return write(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool stdout_stream::write_text(const std::string& text) {
  if (text.size() > UINT32_MAX) return false;
  return write(text.data(), static_cast<uint32_t>(text.size()));
}

// ---- file streams ----

namespace {

template <class Stream, class Convert>
void open_converted(Stream& s, Convert&& convert, std::ios_base::openmode m) {
  std::string path;
  if (!vk::guarded(
          [&] {
            path = convert();
            return true;
          },
          [&] { s.setstate(std::ios_base::failbit); }))
    return;
  s.open(path, m);
}

}  // namespace

ofstream::ofstream(const char* path, std::ios_base::openmode m) {
  open(path, m);
}
ofstream::ofstream(const std::vector<char>& p, std::ios_base::openmode m) {
  open(p, m);
}
ofstream::ofstream(const std::vector<uint16_t>& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return vk::utf16_vector_to_utf8_string(p); }, m);
}
ofstream::ofstream(const std::wstring& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return vk::to_utf8(p); }, m);
}

void ofstream::open(const char* path, std::ios_base::openmode m) {
  if (!path) {
    setstate(std::ios_base::failbit);
    return;
  }
  std::basic_ofstream<char>::open(path, m);
}
void ofstream::open(const std::vector<char>& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return vk::char_vector_to_string(p); }, m);
}
void ofstream::open(const std::vector<uint16_t>& p) {
  open_converted(
      *this, [&] { return vk::utf16_vector_to_utf8_string(p); },
      std::ios_base::out | std::ios_base::trunc);
}
void ofstream::open(const std::wstring& p) {
  open_converted(
      *this, [&] { return vk::to_utf8(p); }, std::ios_base::out | std::ios_base::trunc);
}

ifstream::ifstream(const std::vector<char>& p, std::ios_base::openmode m) {
  open(p, m);
}
ifstream::ifstream(const std::vector<uint16_t>& p, std::ios_base::openmode m) {
  open(p, m);
}
ifstream::ifstream(const std::wstring& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return vk::to_utf8(p); }, m);
}
void ifstream::open(const std::vector<char>& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return vk::char_vector_to_string(p); }, m);
}
void ifstream::open(const std::vector<uint16_t>& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return vk::utf16_vector_to_utf8_string(p); }, m);
}

utf8_locale utf8_locale_instance;

}  // namespace uni
