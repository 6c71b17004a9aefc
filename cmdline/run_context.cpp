#include "cmdline/run_context.h"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <sstream>
#include <vector>

#include "foundation/uni_fileio.h"
#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_text.h"

namespace vk {

void cmdline_ctx::reset() {
  m_erase_status_at_exit = false;
  m_start_stamp = ntp_stamp{};
  m_print_elapsed = false;
  m_log_path.clear();
  m_exit_text.clear();
  m_exit_callback = nullptr;
}

cmdline_ctx::~cmdline_ctx() {
  guarded([&] {
    if (m_erase_status_at_exit) erase_status_line();
    if (!m_start_stamp.is_zero()) {
      const double secs = elapsed_seconds(m_start_stamp, ntp_now());
      std::ostringstream text;
      text << "->" << secs << " secs";
      if (m_print_elapsed) console_write(console_stderr, text.str() + "\n", true);
      if (!m_log_path.empty()) {
        // The log was created by "-diags": never create or empty it here.
        uni::fileio log;
        if (log.open_utf8(m_log_path, true, true, false)) {
          log.append_stream_text(text);
          log.close();
        }
      }
    }
    if (m_exit_callback && !m_exit_text.empty()) m_exit_callback(m_exit_text);
  });
}

void cmdline_ctx::log_elapsed(cmd_params& settings) {
  if (m_log_path.empty()) return;
  m_log_path.clear();
  if (m_start_stamp.is_zero() || !settings.m_log_on || settings.m_log == nullptr) return;
  guarded([&] {
    *settings.m_log << "->" << elapsed_seconds(m_start_stamp, ntp_now()) << " secs";
    settings.m_log->flush();
  });
}

void setup_run_context(cmdline_ctx& ctx, const cmd_params& settings, exit_callback_fn callback) {
  guarded([&] {
    if (settings.m_status_messages) ctx.m_erase_status_at_exit = true;
    if (settings.m_log_on && settings.m_log && settings.m_log->good())
      ctx.m_log_path = settings.m_log_path;
    ctx.m_print_elapsed = settings.m_profile != 0;
    if (ctx.m_print_elapsed || !ctx.m_log_path.empty()) start_clock(ctx.m_start_stamp);
    if (callback && !settings.m_signal.empty()) {
      ctx.m_exit_callback = callback;
      ctx.m_exit_text = settings.m_signal;
    }
  });
}

std::string shown_message(std::string_view text) {
  // The names a message holds come from the trees read: each keeps to the
  // message's one line, and no terminal code in one reaches the terminal.
  const bool line_end = !text.empty() && text.back() == '\n';
  std::string shown;
  append_shown_name(shown, text.substr(0, text.size() - (line_end ? 1 : 0)));
  if (line_end) shown += '\n';
  return shown;
}

uint32_t error_printf(const char* format, ...) {
  erase_status_line();
  if (!format) return 0;
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  uint32_t written = 0;
  const int length = std::vsnprintf(nullptr, 0, format, ap);
  // Written whole at any length: a failure said only in part, or not at
  // all, would pass for no failure.
  if (length >= 0) {
    guarded([&] {
      std::vector<char> buf(static_cast<size_t>(length) + 1, 0);
      if (std::vsnprintf(buf.data(), buf.size(), format, again) == length) {
        const std::string text =
            shown_message(std::string_view(buf.data(), static_cast<size_t>(length)));
        console_write(console_stderr, text, true);
        written = static_cast<uint32_t>(text.size());
      }
    });
  }
  va_end(again);
  va_end(ap);
  return written;
}

std::ostream& output_or_scratch(cmd_params& settings) {
  if (settings.m_capture) return *settings.m_capture;
  scratch_stream.clear();
  scratch_stream.str(std::string());
  return scratch_stream;
}

namespace {
constexpr bool k_little_endian = std::endian::native == std::endian::little;
}  // namespace

uint16_t host_to_big_endian_16(uint16_t value) {
  return k_little_endian ? swap_bytes16(value) : value;
}
uint32_t host_to_big_endian_32(uint32_t value) {
  return k_little_endian ? swap_bytes32(value) : value;
}
uint64_t host_to_big_endian_64(uint64_t value) {
  if (!k_little_endian) return value;
  return (static_cast<uint64_t>(swap_bytes32(static_cast<uint32_t>(value))) << 32) |
         swap_bytes32(static_cast<uint32_t>(value >> 32));
}

const big_endian_routines host_to_big_endian_table = {host_to_big_endian_16, host_to_big_endian_32,
                                                      host_to_big_endian_64};

}  // namespace vk
