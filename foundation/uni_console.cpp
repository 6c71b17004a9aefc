#include "foundation/uni_console.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace uni {

namespace {

// TEMPORARY private stand-ins until the shared string and UTF routines land.
int trim_line_end_local(std::string& s) {
  size_t n = s.size();
  while (n > 0 && (s[n - 1] == '\r' || s[n - 1] == '\n')) --n;
  int removed = static_cast<int>(s.size() - n);
  s.resize(n);
  return removed;
}

bool utf8_to_wide_local(const std::string& in, std::wstring& out) {
  out.clear();
  if (in.empty()) return false;
  size_t i = 0;
  while (i < in.size()) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    uint32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0 && i + extra >= in.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(in[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += 1 + extra;
  }
  return true;
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string to_utf8_local(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) append_utf8(out, static_cast<uint32_t>(c));
  return out;
}

std::string utf16_vector_to_utf8_local(const std::vector<uint16_t>& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    uint32_t cp = v[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < v.size() && v[i + 1] >= 0xDC00 &&
        v[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (v[i + 1] - 0xDC00);
      ++i;
    }
    append_utf8(out, cp);
  }
  return out;
}

std::string char_vector_local(const std::vector<char>& v) {
  return std::string(v.begin(), v.end());
}

constexpr uint32_t initial_line_size = 4096;

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
  // getline grows the buffer as needed, so a long line is never cut into
  // several names.
  ssize_t n = ::getline(&line, &cap, file);
  line_size = cap > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(cap);
  if (n < 0) return false;
  // The text ends at its first NUL, as a C string would.
  len = ::strnlen(line, static_cast<size_t>(n));
  return true;
}

bool stdin_stream::getline(std::string& out, bool strip) {
  out.clear();
  size_t len = 0;
  if (!read_line(len)) return false;
  try {
    out.assign(line, len);
  } catch (...) {
    out.clear();
    return false;
  }
  if (strip) trim_line_end_local(out);
  return true;
}

bool stdin_stream::getline_wide(std::wstring& out, bool strip) {
  out.clear();
  std::string narrow;
  if (!stdin_stream::getline(narrow, strip)) return false;
  try {
    utf8_to_wide_local(narrow, out);
  } catch (...) {
    out.clear();
  }
  return true;
}

bool stdin_stream::getline_bytes(std::vector<char>& out, bool strip) {
  out.clear();
  std::string narrow;
  if (!stdin_stream::getline(narrow, strip)) return false;
  try {
    out.assign(narrow.begin(), narrow.end());
  } catch (...) {
    out.clear();
    return false;
  }
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
  try {
    path = convert();
  } catch (...) {
    s.setstate(std::ios_base::failbit);
    return;
  }
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
      *this, [&] { return utf16_vector_to_utf8_local(p); }, m);
}
ofstream::ofstream(const std::wstring& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return to_utf8_local(p); }, m);
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
      *this, [&] { return char_vector_local(p); }, m);
}
void ofstream::open(const std::vector<uint16_t>& p) {
  open_converted(
      *this, [&] { return utf16_vector_to_utf8_local(p); },
      std::ios_base::out | std::ios_base::trunc);
}
void ofstream::open(const std::wstring& p) {
  open_converted(
      *this, [&] { return to_utf8_local(p); }, std::ios_base::out | std::ios_base::trunc);
}

ifstream::ifstream(const std::vector<char>& p, std::ios_base::openmode m) {
  open(p, m);
}
ifstream::ifstream(const std::vector<uint16_t>& p, std::ios_base::openmode m) {
  open(p, m);
}
ifstream::ifstream(const std::wstring& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return to_utf8_local(p); }, m);
}
void ifstream::open(const std::vector<char>& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return char_vector_local(p); }, m);
}
void ifstream::open(const std::vector<uint16_t>& p, std::ios_base::openmode m) {
  open_converted(
      *this, [&] { return utf16_vector_to_utf8_local(p); }, m);
}

utf8_locale utf8_locale_instance;

}  // namespace uni
