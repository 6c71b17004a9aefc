// The one writer of console text (status line, window title, coloured and
// plain messages). Everything goes through console_write, whose two targets
// default to standard output and standard error and can be captured.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

namespace vk {

enum console_target : int { console_stdout = 1, console_stderr = 2 };

// The stream behind a target (console_stdout, else standard error).
std::ostream& console_stream(int target);
// Writes text to the target and, when asked, flushes it.
void console_write(int target, std::string_view text, bool flush = true);

// Redirects both console targets into string streams for its lifetime.
class console_capture {
 public:
  console_capture();
  ~console_capture();
  console_capture(const console_capture&) = delete;
  console_capture& operator=(const console_capture&) = delete;

  std::string out() const { return m_out.str(); }
  std::string err() const { return m_err.str(); }
  void clear() {
    m_out.str("");
    m_err.str("");
  }

 private:
  std::ostringstream m_out;
  std::ostringstream m_err;
  std::ostream* m_prev_out;
  std::ostream* m_prev_err;
};

// Whether status lines and the erase codes reach standard error; on by
// default. A program turns it off when standard error is no terminal, or the
// run is to be quiet, so that a redirected standard error holds plain lines.
void set_status_line_shown(bool shown);
bool status_line_shown();

// Formats one message, keeps at most width characters, wraps it in the
// erase-line prefix and a carriage return (unless it is a window title),
// drops every line feed and writes it. Returns the characters kept.
int32_t status_line(bool to_stderr, int32_t width, const char* format, va_list args, bool title);
// Status line on standard error, 60 columns.
int32_t status_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Status line on standard error, at most 70 columns.
int32_t status_printf_width(int32_t width, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Status line on standard output, 60 columns.
int32_t status_printf_stdout(const char* format, ...) __attribute__((format(printf, 1, 2)));
// ESC "[2K" CR, 27 blanks, CR on standard error.
void erase_status_line();
// ESC "[2K" CR, four blanks, CR on standard error.
void erase_status_line_short();
// ESC "]0;" text BEL on standard output; false for a null text.
bool set_console_title(const char* text);
// Window title from a format (at most 255 characters); returns the length.
uint32_t console_title_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The message in the given colours (30 + foreground, 40 + background) on
// standard error when stream is 2, else standard output, then the reset.
int print_coloured(uint32_t foreground, uint32_t background, int32_t stream, const char* format,
                   ...) __attribute__((format(printf, 4, 5)));

}  // namespace vk
