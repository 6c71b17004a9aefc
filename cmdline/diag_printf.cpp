#include "cmdline/diag_printf.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/vk_guard.h"

namespace vk {

namespace {

// The message in a buffer of the format's length + 256 bytes (256 when that
// cannot be had); a longer message is cut.
std::string format_message(const char* format, va_list args) {
  std::vector<char> buf;
  const bool sized = guarded([&] {
    buf.assign(std::strlen(format) + 256, 0);
    return true;
  });
  char fallback[256] = {};
  char* text = sized ? buf.data() : fallback;
  const size_t size = sized ? buf.size() : sizeof fallback;
  if (std::vsnprintf(text, size - 1, format, args) < 0) text[size - 1] = 0;
  return std::string(text);
}

}  // namespace

void diag_write_va(cmd_params& settings, const char* prefix, const char* suffix, const char* format,
                   va_list args) {
  if (!settings.m_log_on || !settings.m_log || !format) return;
  guarded([&] {
    std::string text;
    if (prefix) text.append(prefix).append(" : ");
    text += format_message(format, args);
    if (suffix) text.append(": ").append(suffix);
    diags_log(settings, text);
  });
}

void diag_printf_ex(cmd_params& settings, const char* prefix, const char* suffix,
                    const char* format, ...) {
  if (!settings.m_log_on) return;
  va_list args;
  va_start(args, format);
  diag_write_va(settings, prefix, suffix, format, args);
  va_end(args);
}

void diag_note(cmd_params& settings, const char* format, ...) {
  if (!settings.m_log_on) return;
  va_list args;
  va_start(args, format);
  diag_write_va(settings, nullptr, nullptr, format, args);
  va_end(args);
}

void diag_note_level(cmd_params& settings, int32_t level, const char* format, ...) {
  if (!settings.m_log_on || level > settings.m_log_level) return;
  va_list args;
  va_start(args, format);
  diag_write_va(settings, nullptr, nullptr, format, args);
  va_end(args);
}

void diag_printf(cmd_params* settings, const char* format, ...) {
  if (!settings) return;
  va_list args;
  va_start(args, format);
  diag_write_va(*settings, nullptr, nullptr, format, args);
  va_end(args);
}

}  // namespace vk
