// Standard input read line by line, raw writes to standard output, and file
// streams opened from UTF-8, UTF-16 or wide path texts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace uni {

// Reads standard input (or another C stream) one line at a time.
class stdin_stream {
 public:
  explicit stdin_stream(bool mode = false);
  // Reads from `source` instead of standard input; the stream stays owned by
  // the caller.
  stdin_stream(bool mode, std::FILE* source);
  virtual ~stdin_stream();
  stdin_stream(const stdin_stream&) = delete;
  stdin_stream& operator=(const stdin_stream&) = delete;

  // Next line into `out` (cleared first). With `strip`, the trailing CR and
  // LF characters go. A line is returned whole, whatever its length, NUL
  // bytes and all. The first NUL or line feed of the input decides how its
  // lines end: at a NUL (the list of `find -print0`; each text is then
  // taken as it stands, line feeds and all, its NUL dropped) or at a line
  // feed. False at the end of input, `out` empty.
  virtual bool getline(std::string& out, bool strip);
  // The same, the line converted from UTF-8; true once a line was read, even
  // when the conversion gave nothing.
  virtual bool getline_wide(std::wstring& out, bool strip);
  // The same, the line's bytes appended to the cleared `out`.
  bool getline_bytes(std::vector<char>& out, bool strip);

  // One fgets into the caller's buffer of `len` bytes; `len` becomes the
  // length read. False when not open or at the end of input.
  bool read_into(char* buf, uint32_t& len);
  // Sleeps 100 ms; then whether the input still has a position.
  bool wait_input();
  void release();

  bool is_open() const { return opened; }
  // The input's lines end at a NUL (known once the first line was read).
  bool nul_separated() const { return line_end == '\0' && line_end_known; }
  static bool available() { return true; }

 protected:
  // Fills `line` with the next whole line, its end included; its length in
  // `len`.
  bool read_line(size_t& len);

  char* line = nullptr;  // line buffer (malloc'd, grows for long lines)
  std::FILE* file = nullptr;
  bool opened = false;
  bool mode = false;
  uint32_t line_size = 0;  // capacity of `line`
  char line_end = '\n';
  bool line_end_known = false;
};

// Raw bytes to standard output.
class stdout_stream {
 public:
  explicit stdout_stream(bool mode = false);
  virtual ~stdout_stream();
  stdout_stream(const stdout_stream&) = delete;
  stdout_stream& operator=(const stdout_stream&) = delete;

  // Writes all `len` bytes; false when not open, `buf` is null, `len` is 0
  // or the system refuses the write.
  bool write(const void* buf, uint32_t len);
  bool write_bytes(const std::vector<uint8_t>& bytes);
  bool write_text(const std::string& text);

 protected:
  // Writes to another descriptor (tests).
  stdout_stream(bool mode, int descriptor);

  int fd = -1;
  std::FILE* file = nullptr;
  bool opened = false;
  bool mode = false;
  uint32_t reserved = 0;
};

// std::ofstream opened from a path in any of the library's text forms.
class ofstream : public std::basic_ofstream<char> {
 public:
  ofstream() = default;
  ofstream(const char* path, std::ios_base::openmode m = std::ios_base::out);
  ofstream(const std::vector<char>& utf8_path, std::ios_base::openmode m = std::ios_base::out);
  ofstream(const std::vector<uint16_t>& utf16_path, std::ios_base::openmode m = std::ios_base::out);
  ofstream(const std::wstring& path, std::ios_base::openmode m = std::ios_base::out);
  ~ofstream() override = default;

  using std::basic_ofstream<char>::open;

  void open(const char* path, std::ios_base::openmode m);
  void open(const std::vector<char>& utf8_path, std::ios_base::openmode m);
  void open(const std::vector<uint16_t>& utf16_path);  // out | trunc
  void open(const std::wstring& path);                 // out | trunc
};

// std::ifstream opened from a path in any of the library's text forms.
class ifstream : public std::basic_ifstream<char> {
 public:
  ifstream() = default;
  ifstream(const std::vector<char>& utf8_path, std::ios_base::openmode m = std::ios_base::in);
  ifstream(const std::vector<uint16_t>& utf16_path, std::ios_base::openmode m = std::ios_base::in);
  ifstream(const std::wstring& path, std::ios_base::openmode m = std::ios_base::in);
  ~ifstream() override = default;

  using std::basic_ifstream<char>::open;

  void open(const std::vector<char>& utf8_path, std::ios_base::openmode m);
  void open(const std::vector<uint16_t>& utf16_path, std::ios_base::openmode m);
};

// Marker type: text in the library's streams is UTF-8.
class utf8_locale {
 public:
  utf8_locale() = default;
  virtual ~utf8_locale() = default;

 private:
  [[maybe_unused]] uint32_t m_reserved[2] = {0, 0};
};

extern utf8_locale utf8_locale_instance;

}  // namespace uni
