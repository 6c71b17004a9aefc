// The run context that brackets one run of a tool (status-line erase,
// "-profile" time, the "-diags" time line, the "-signal" callback), the
// console error printer, the capture-or-scratch stream accessor and the
// host-to-big-endian byte-order routines.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "cmdline/cmd_params.h"
#include "foundation/vk_ntp.h"

namespace vk {

// Called once at the end of a run with the "-signal" text; its result is
// ignored.
using exit_callback_fn = int (*)(std::string& text);

class cmdline_ctx {
 public:
  cmdline_ctx() { reset(); }
  // The end of the run: erases the status line, reports the elapsed time
  // ("-profile" on standard error, "-diags" appended to the log) and runs
  // the exit callback. Never fails outward.
  virtual ~cmdline_ctx();
  cmdline_ctx(const cmdline_ctx&) = delete;
  cmdline_ctx& operator=(const cmdline_ctx&) = delete;

  void reset();
  // Writes the elapsed-time text into the settings' open "-diags" log now,
  // and leaves the end of the run nothing to append: a log that is put in
  // place of its target at the end gets it before.
  void log_elapsed(cmd_params& settings);

  bool m_erase_status_at_exit;
  ntp_stamp m_start_stamp;  // all zero: the run is not timed
  bool m_print_elapsed;
  std::string m_log_path;  // "-diags" log that receives the elapsed time
  std::string m_exit_text;
  exit_callback_fn m_exit_callback;
};

// Fills the context from the parsed settings. The clock is read only when
// the run is timed ("-profile" or an open "-diags" log).
void setup_run_context(cmdline_ctx& ctx, const cmd_params& settings, exit_callback_fn callback);

// A message as standard error gets it: its text as shown_name writes a
// name (foundation/vk_text.h), its closing line feed kept.
std::string shown_message(std::string_view text);

// Erases the status line, then writes the formatted message (shown_message),
// whole at any length, to standard error. Returns the length written; 0
// (nothing written after the erase) for a null format or a formatting
// failure.
uint32_t error_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The settings' output capture, or the process-wide scratch stream emptied
// for this caller. The caller never owns the result.
std::ostream& output_or_scratch(cmd_params& settings);

// The value in big-endian byte order (reversed on a little-endian host).
uint16_t host_to_big_endian_16(uint16_t value);
uint32_t host_to_big_endian_32(uint32_t value);
uint64_t host_to_big_endian_64(uint64_t value);

// The three routines above, in the order 16, 32, 64 bits.
struct big_endian_routines {
  uint16_t (*to16)(uint16_t);
  uint32_t (*to32)(uint32_t);
  uint64_t (*to64)(uint64_t);
};
extern const big_endian_routines host_to_big_endian_table;

}  // namespace vk
