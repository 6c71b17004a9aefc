#include "foundation/vk_console.h"

#include <cstdio>
#include <iostream>
#include <vector>

#include "foundation/vk_guard.h"

namespace vk {

namespace {

std::ostream* g_out = nullptr;
std::ostream* g_err = nullptr;

const char k_erase_prefix[] = "\x1b[2K\r    \r";

bool g_status_shown = true;

}  // namespace

void set_status_line_shown(bool shown) {
  g_status_shown = shown;
}

bool status_line_shown() {
  return g_status_shown;
}

std::ostream& console_stream(int target) {
  if (target == console_stdout) return g_out ? *g_out : std::cout;
  return g_err ? *g_err : std::cerr;
}

void console_write(int target, std::string_view text, bool flush) {
  vk::guarded([&] {
    std::ostream& os = console_stream(target);
    os.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (flush) os.flush();
  });
}

console_capture::console_capture() : m_prev_out(g_out), m_prev_err(g_err) {
  g_out = &m_out;
  g_err = &m_err;
}

console_capture::~console_capture() {
  g_out = m_prev_out;
  g_err = m_prev_err;
}

int32_t status_line(bool to_stderr, int32_t width, const char* format, va_list args, bool title) {
  if (!format) return 0;
  return vk::guarded([&] {
    if (width < 0) width = 0;
    const size_t size = width > 256 ? static_cast<size_t>(width) + 1 : 256;
    std::vector<char> buf(size, 0);
    // At most size - 1 characters, then the terminating NUL.
    if (std::vsnprintf(buf.data(), size, format, args) < 0) return 0;
    std::string msg(buf.data());
    if (msg.size() > static_cast<size_t>(width)) msg.resize(static_cast<size_t>(width));
    const int32_t kept = static_cast<int32_t>(msg.size());
    std::string text = title ? msg : std::string(k_erase_prefix) + msg + "\r";
    std::erase(text, '\n');
    if (to_stderr) {
      if (g_status_shown) console_write(console_stderr, text, true);
    } else if (title) {
      set_console_title(text.c_str());
    } else {
      console_write(console_stdout, text, true);
    }
    return kept;
  });
}

int32_t status_printf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int32_t n = status_line(true, 60, format, ap, false);
  va_end(ap);
  return n;
}

int32_t status_printf_width(int32_t width, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int32_t n = status_line(true, width > 70 ? 70 : width, format, ap, false);
  va_end(ap);
  return n;
}

int32_t status_printf_stdout(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int32_t n = status_line(false, 60, format, ap, false);
  va_end(ap);
  return n;
}

void erase_status_line() {
  if (!g_status_shown) return;
  console_write(console_stderr, "\x1b[2K\r" + std::string(27, ' ') + "\r", true);
}

void erase_status_line_short() {
  if (!g_status_shown) return;
  console_write(console_stderr, k_erase_prefix, true);
}

bool set_console_title(const char* text) {
  if (!text) return false;
  vk::guarded([&] { console_write(console_stdout, std::string("\x1b]0;") + text + "\x07", true); });
  return true;
}

uint32_t console_title_printf(const char* format, ...) {
  if (!format) return 0;
  char buf[256] = {};
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n < 0) return 0;
  set_console_title(buf);
  return static_cast<uint32_t>(n);
}

int print_coloured(uint32_t foreground, uint32_t background, int32_t stream, const char* format,
                   ...) {
  if (!format) return 0;
  const int target = stream == 2 ? console_stderr : console_stdout;
  char seq[64];
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  vk::guarded([&] {
    std::snprintf(seq, sizeof seq, "%c[%d;%d;%dm", 0x1b, 1, static_cast<int>(30 + foreground),
                  static_cast<int>(40 + background));
    std::string text = seq;
    if (n > 0) {
      std::vector<char> msg(static_cast<size_t>(n) + 1, 0);
      std::vsnprintf(msg.data(), msg.size(), format, ap2);
      text += msg.data();
    }
    std::snprintf(seq, sizeof seq, "%c[%d;%d;%dm", 0x1b, 0, 37, 40);
    text += seq;
    console_write(target, text, true);
  });
  va_end(ap2);
  return 0;
}

}  // namespace vk
