// Console progress and status output beside the status line: a throttled
// "percent done" line, a status printer that sends one message to the
// console line, the window title and the "-diags" log at once, the opening
// of the "-diags" log, and the write position of a stream.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include "cmdline/cmd_params.h"

namespace vk {

// Prints "percent done: N" as a status line on standard error each time
// `done` passes the next step of `total` (step in percent). The thresholds
// are process-wide and never reset. Returns the characters of the text
// printed (cut to width), 0 when nothing was printed; nothing for a total
// of 0.
uint32_t show_percent_done(uint32_t width, uint64_t done, uint64_t total, uint32_t step);

// Where one status message goes.
enum status_sink_flag : uint32_t {
  status_to_title = 0x1,
  status_to_console = 0x2,
  status_to_log = 0x4,
  status_console_stderr = 0x10,
  status_console_stdout = 0x20,  // used only without status_console_stderr
};

struct status_sink {
  uint32_t m_width = 0;  // longest line, the console prefix included
  uint32_t m_flags = 0;
  cmd_params* m_settings = nullptr;  // whose "-diags" log gets the message
};

void status_sink_printf(const status_sink& sink, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void status_sink_print_stream(const status_sink& sink, const std::ostringstream& text);
void status_sink_print_text(const status_sink& sink, const std::string& text);

// Closes any log the settings hold, then opens `path` as the "-diags" log
// (a report_file: written beside it, put in its place at the end) and writes
// the command line into it. False, with logging off, no path and no stream
// and the system's reason in errno (and, with why, its whole text), when it
// cannot be opened.
bool open_diags_log(cmd_params& settings, const std::string& path, std::string* why = nullptr);

// Writes the lines held for a log written straight to a pipe or a device,
// once the run has found that the log is none of its inputs; later lines
// go straight in.
void release_diags_log(cmd_params& settings);

// Ends the "-diags" log: put in place of its target (keep), or removed with
// the target left as it was. Logging is off afterwards; the settings'
// m_log_file still tells where the log went. False, with the system's reason
// in errno, when a kept log could not be written whole or put in place.
bool finish_diags_log(cmd_params& settings, bool keep);

// The write position (low 32 bits); 0 for a failed stream or none.
uint32_t stream_write_position(std::ostream& stream);

}  // namespace vk
