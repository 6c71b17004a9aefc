// Progress output beside the status line: a throttled "Percent done" line
// (console, window title, "-diags" log), the window title as a percentage or
// a text, short status lines and a position line, all through the console
// writer. The window title and the standard-output forms put escape
// sequences on standard output, where the report goes: a tool that writes
// its report there must not call them.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "cmdline/cmd_params.h"

namespace vk {

enum progress_flag : uint32_t {
  progress_to_title = 0x1,
  progress_to_console = 0x2,
  progress_to_log = 0x4,
  progress_enabled = 0x8,
  progress_console_stderr = 0x10,
  progress_console_stdout = 0x20,
};

struct progress_state {
  uint32_t m_spare = 0;
  uint32_t m_width = 0;  // longest text, the console prefix included
  uint32_t m_flags = 0;
  uint32_t m_spare2 = 0;
  uint64_t m_total = 0;
  uint32_t m_last_percent = 0;       // 100 once complete
  uint32_t m_step = 0;               // smallest change worth showing
  cmd_params* m_settings = nullptr;  // whose "-diags" log gets the line
};

// floor(done * 100 / total) without overflow; 100 for a total of 0 and
// saturated at the u32 range.
uint32_t percent_of(uint64_t done, uint64_t total);

// "Percent done: N%" each time N grows by the step; "100%" once when done
// reaches the total (at once for a total of 0), then nothing more.
void progress_update(progress_state& state, uint64_t done);
// Window title "percent complete: N".
void progress_title_percent(uint64_t done, uint64_t total);
// Window title, the text cut to width; returns the length written.
uint32_t progress_title_text(uint32_t width, const std::string& text);
uint32_t progress_title_stream(uint32_t width, const std::ostringstream& text);
// The stream's text as a 60-column status line on standard output.
void progress_status_stream(const std::ostringstream& text);
// Standard error: the status prefix, the text without line feeds cut to
// width, CR. Returns the characters of text written; 0 for an empty text.
uint32_t progress_line(uint32_t width, const std::string& text);
// Standard error: the status prefix, the text and a line feed.
void progress_line_end(const std::string& text);
// Standard error: ESC "[2K" CR, then " --> 0x<position> of 0x<end>" CR
// while position < end, else 45 blanks.
void progress_position(uint64_t position, uint64_t end);

}  // namespace vk
