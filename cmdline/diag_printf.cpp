#include "cmdline/diag_printf.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace vk {

namespace {

// The message in a buffer of the format's length + 256 bytes (256 when that
// cannot be had); a longer message is cut.
std::string format_message(const char* format, va_list args) {
  std::vector<char> buf;
  try {
    buf.assign(std::strlen(format) + 256, 0);
  } catch (const std::exception&) {
    buf.assign(256, 0);
  }
  if (std::vsnprintf(buf.data(), buf.size() - 1, format, args) < 0) buf.back() = 0;
  return std::string(buf.data());
}

}  // namespace

void diag_write_va(cmd_params& settings, const char* prefix, const char* suffix,
                   const char* format, va_list args) {
  if (!settings.m_log_on || !settings.m_log || !format) return;
  try {
    std::string text;
    if (prefix) text.append(prefix).append(" : ");
    text += format_message(format, args);
    if (suffix) text.append(": ").append(suffix);
    diags_log(settings, text);
  } catch (const std::exception&) {
  }
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
