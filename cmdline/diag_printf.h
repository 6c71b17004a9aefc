// printf-style writers of the "-diags" log. Every line is "->", the text and
// a line end, flushed; nothing is written while logging is off or there is no
// log stream. A message is cut to the format's length + 254 characters.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "cmdline/cmd_params.h"

namespace vk {

// "->", "<prefix> : " when a prefix is given, the message, ": <suffix>" when
// a suffix is given, a line end.
void diag_write_va(cmd_params& settings, const char* prefix, const char* suffix, const char* format,
                   va_list args);
void diag_printf_ex(cmd_params& settings, const char* prefix, const char* suffix,
                    const char* format, ...) __attribute__((format(printf, 4, 5)));
void diag_note(cmd_params& settings, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Only when the level is not above m_log_level.
void diag_note_level(cmd_params& settings, int32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// The same for an optional settings object.
void diag_printf(cmd_params* settings, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace vk
